// kep-host: the command-line harness that plays the platform's part for an extension library.
//
// A run goes: parse the command line, load a site into the stand-in (a file or the built-in sample
// site), let the command check its arguments against the site, arm the requested faults, load the
// extension library with the dynamic loader, call its `<name>_register_callbacks`, run the three
// custom exits, serve the command and print one JSON object on standard output (`demo`, `check`
// and `generate` write text or a site instead).
//
// Exit statuses: 0 when the extension answered with status 0, 1 when it answered with another
// status or its registration or an exit failed (the JSON is printed all the same; `check`: something
// is missing), 2 for a usage error, a bad site file or a library that cannot be loaded (one line on
// standard error, nothing on standard output), 3 when the host itself fails (out of memory and the
// like).
//
// Each command lives in its own file (cmd_*.cpp) and adds itself to the command line through one
// factory function declared below.
#ifndef KEP_HOST_KEP_HOST_H
#define KEP_HOST_KEP_HOST_H

#include <tc/tc.h>

#include <CLI/CLI.hpp>
#include <functional>
#include <nlohmann/json.hpp>
#include <stdexcept>
#include <string>
#include <vector>

namespace kep_host {

constexpr int kExitOk = 0;
constexpr int kExitStatus = 1;
constexpr int kExitUsage = 2;
constexpr int kExitInternal = 3;

// A usage error, a bad site or an unloadable library: main() prints "kep-host: <what>" as the one
// line on standard error and exits with kExitUsage. The text must say what is wrong and where.
class UsageError : public std::runtime_error {
public:
    explicit UsageError(const std::string& what) : std::runtime_error(what) {}
};

// State of one run that the commands share.
struct Host {
    std::string site_source;            // the site file's name, or the name of the built-in sample site
    bool stats = false;                 // --stats: add the stand-in's counters to the result
    std::string extension_path;         // the extension library, once it is loaded
    void* extension_library = nullptr;  // its handle, once it is loaded
    int start_status = 0;               // the first failed status of its registration and exits
};

// One subcommand. `prepare` runs after the site is loaded and before the extension is, so a bad
// argument (an unknown id) is reported before the extension writes anything; it throws
// UsageError. `run` serves the command and returns the exit status.
struct Command {
    bool needs_platform = true;  // false: neither site nor extension is loaded (generate)
    // true: the host loads the site but not the extension; the command logs in as a batch program
    // does, which loads the libraries that TC_customization_libraries names from the folder of
    // the extension library (check)
    bool logs_in = false;
    std::function<void(Host&)> prepare;
    std::function<int(Host&)> run;
};

// The command factories: each adds its subcommand (with its options) to `app`.
Command add_ask_command(CLI::App& app);
Command add_tags_command(CLI::App& app);
Command add_volume_search_command(CLI::App& app);
Command add_neighbourhood_search_command(CLI::App& app);
Command add_generate_command(CLI::App& app);
Command add_demo_command(CLI::App& app);
Command add_check_command(CLI::App& app);
Command add_explain_command(CLI::App& app);

// Text of the built-in sample site and the name it goes by in messages.
extern const char kSampleSiteJson[];
extern const char kSampleSiteName[];

// Prints `result` as one line of JSON on standard output, with the stand-in's counters under
// "stats" when asked for, and returns the exit status that goes with the extension's `status`.
// After a failed registration or exit a `status` of 0 becomes that failure's status, in the result's
// "status" too, as the exit status is then 1.
// Call it after the command has released everything it holds.
int finish(const Host& host, nlohmann::ordered_json result, int status);

// The site id of a tag as results show it: the id, null for the null tag, the bare number for a
// tag that has no id (a type, a relation type).
nlohmann::ordered_json tag_to_json(tag_t tag);

// Tag of a site id; throws UsageError naming the command, the id and the site when it is unknown.
tag_t require_tag(const Host& host, const std::string& command, const std::string& id);

// A number given on the command line as `text` (the whole text, "." as the decimal point). Throws
// UsageError naming the command, the option, the value and what the option takes (`takes`, such
// as "a number of millimetres") when the text is not a number or not a finite one.
double parse_number(const std::string& command, const std::string& option, const std::string& text,
                    const std::string& takes);

// One line "kep-host: warning: <text>" on standard error; the run goes on as it would without it.
void warn(const std::string& text);

// The warnings about a query box (X1 Y1 Z1 X2 Y2 Z2, metres) as the volume search takes it: its
// corners are not reordered (an inverted axis), and it is in metres (a span over 1000 m).
void warn_about_box(const std::string& command, const std::vector<double>& box);

}  // namespace kep_host

#endif
