// kep-host's entry: the command line, the order of the run and the exit statuses (kep_host.h).
#include <base_utils/Mem.h>
#include <fcntl.h>
#include <standin/batch.h>
#include <standin/control.h>
#include <standin/library.h>
#include <sys/stat.h>
#include <tc/emh.h>
#include <tc/preferences.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <iostream>
#include <memory>
#include <new>

#include "kep_host.h"
#include "kep_version.h"
#include "setup.h"

namespace kep_host {

namespace {

struct HostOptions {
    std::string site;
    std::string extension;
    std::string syslog;
    std::vector<std::string> faults;
    bool stats = false;
};

// The system log is written at the end of every run that got as far as loading the site.
class SyslogWriter {
public:
    // Checks up front that the file can be written, so that a bad path is a usage error before
    // anything is printed. The check appends nothing and truncates nothing: a file named by mistake
    // is only replaced at the end of a run that went through.
    SyslogWriter(const std::string& path, const std::string& site, const std::string& extension)
        : path_(path) {
        if (path_.empty()) {
            return;
        }
        if (standin::same_file(path_, site) || standin::same_file(path_, extension)) {
            throw UsageError("--syslog '" + path_ + "' names the site file or the extension library");
        }
        struct stat st;
        if (stat(path_.c_str(), &st) == 0 && (st.st_mode & S_IFMT) == S_IFDIR) {
            // Said alike on every system (Windows would say "Permission denied").
            throw UsageError("--syslog: cannot write '" + path_ + "': " + std::strerror(EISDIR));
        }
        const int fd = ::open(path_.c_str(), O_WRONLY | O_APPEND | O_CREAT, 0666);
        if (fd < 0) {
            throw UsageError("--syslog: cannot write '" + path_ + "': " + std::strerror(errno));
        }
        ::close(fd);
    }
    ~SyslogWriter() {
        if (armed_) {
            std::ofstream out(path_, std::ios::binary | std::ios::trunc);
            out << standin::syslog();
        }
    }
    SyslogWriter(const SyslogWriter&) = delete;
    SyslogWriter& operator=(const SyslogWriter&) = delete;
    void arm() { armed_ = !path_.empty(); }

private:
    std::string path_;
    bool armed_ = false;
};

// Edit distance between two option names (insertions, deletions, substitutions and swaps of two
// neighbours each count one).
size_t distance(const std::string& a, const std::string& b) {
    std::vector<std::vector<size_t>> d(a.size() + 1, std::vector<size_t>(b.size() + 1, 0));
    for (size_t i = 0; i <= a.size(); ++i) {
        d[i][0] = i;
    }
    for (size_t j = 0; j <= b.size(); ++j) {
        d[0][j] = j;
    }
    for (size_t i = 1; i <= a.size(); ++i) {
        for (size_t j = 1; j <= b.size(); ++j) {
            d[i][j] = std::min(
                {d[i - 1][j] + 1, d[i][j - 1] + 1, d[i - 1][j - 1] + (a[i - 1] == b[j - 1] ? 0 : 1)});
            if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1]) {
                d[i][j] = std::min(d[i][j], d[i - 2][j - 2] + 1);
            }
        }
    }
    return d[a.size()][b.size()];
}

// The first word of the command line that looks like a long option ("--name" or "--name=value")
// and is none of kep-host's, with the option it most resembles ("" when none is close); false
// when every such word is an option.
bool unknown_option(CLI::App& app, int argc, char** argv, std::string* word, std::string* nearest) {
    std::vector<std::string> names;
    auto collect = [&names](const CLI::App* from) {
        for (const CLI::Option* option : from->get_options()) {
            for (const std::string& name : option->get_lnames()) {
                names.push_back("--" + name);
            }
        }
    };
    collect(&app);
    for (const CLI::App* sub : app.get_subcommands({})) {
        collect(sub);
    }
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--") {
            break;
        }
        if (arg.size() < 3 || arg.compare(0, 2, "--") != 0) {
            continue;
        }
        const std::string name = arg.substr(0, arg.find('='));
        if (std::find(names.begin(), names.end(), name) != names.end()) {
            continue;
        }
        *word = name;
        nearest->clear();
        size_t best = 3;  // at most two edits away, or a name it begins
        for (const std::string& candidate : names) {
            const size_t d = candidate.compare(0, name.size(), name) == 0 ? 1 : distance(name, candidate);
            if (d < best) {
                best = d;
                *nearest = candidate;
            }
        }
        return true;
    }
    return false;
}

// Warns when the site does not name the extension in TC_customization_libraries: a server would
// not load it. Read through the platform once the command is done.
void warn_if_unnamed(const Host& host, const std::string& extension_path) {
    const std::string name = extension_name(extension_path);
    int count = 0;
    char** values = nullptr;
    bool named = false;
    if (PREF_ask_char_values("TC_customization_libraries", &count, &values) == ITK_ok) {
        for (int i = 0; i < count && values != nullptr; ++i) {
            named = named || (values[i] != nullptr && name == values[i]);
        }
        if (!named) {
            warn("site '" + host.site_source + "': TC_customization_libraries does not name " + name +
                 ", so a server would not load the extension (kep-host loads it all the same)");
        }
    } else {
        EMH_clear_errors();
    }
    MEM_free(values);
}

int run(int argc, char** argv) {
    CLI::App app{
        "Loads a site into the stand-in platform, loads an extension library and serves one command.",
        "kep-host"};
    HostOptions options;
    app.add_option("--site", options.site, "site file (JSON); default: the built-in sample site");
    app.add_option("--extension", options.extension,
                   "extension library; default: " + standin::library_file_name("kep") + " beside kep-host");
    app.add_option("--syslog", options.syslog, "write the platform's system log to FILE at the end");
    app.add_option("--fail", options.faults,
                   "make the N-th call of OP fail with CODE (every call without @N)")
        ->type_name("OP[@N][=CODE]")
        ->allow_extra_args(false);
    app.add_flag("--stats", options.stats, "add the stand-in's call counts and block counts to the result");
    app.set_version_flag("--version", "kep-host " KEP_VERSION, "show the version and exit");
    app.require_subcommand(1);
    // The host's options may also follow the command: `kep-host ask l1 bl_revision --stats`.
    app.fallthrough();

    std::vector<std::pair<CLI::App*, Command>> commands;
    auto add = [&](Command (*factory)(CLI::App&)) {
        Command command = factory(app);
        commands.emplace_back(app.get_subcommands({}).back(), std::move(command));
    };
    add(add_demo_command);
    add(add_volume_search_command);
    add(add_neighbourhood_search_command);
    add(add_ask_command);
    add(add_tags_command);
    add(add_generate_command);
    add(add_check_command);
    add(add_explain_command);

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        if (e.get_exit_code() == 0) {
            return app.exit(e);  // --help, --version
        }
        std::string what = e.what();
        std::string word;
        std::string nearest;
        if (unknown_option(app, argc, argv, &word, &nearest)) {
            throw UsageError("usage: unknown option '" + word + "'" +
                             (nearest.empty() ? "" : " (did you mean '" + nearest + "'?)") +
                             " (see kep-host --help)");
        }
        // CLI11 reports a missing command before a word it did not know: name the word instead.
        std::vector<std::string> rest = app.remaining();
        if (app.get_subcommands().empty() && !rest.empty()) {
            what = "unknown command '" + rest.front() + "'";
        } else if (app.get_subcommands().empty() && dynamic_cast<const CLI::RequiredError*>(&e) != nullptr) {
            what = "no command given";
        }
        std::replace(what.begin(), what.end(), '\n', ' ');
        throw UsageError("usage: " + what + " (see kep-host --help)");
    }

    auto chosen = std::find_if(commands.begin(), commands.end(),
                               [](const std::pair<CLI::App*, Command>& c) { return c.first->parsed(); });
    Command& command = chosen->second;

    std::vector<FaultSpec> faults;
    for (const std::string& text : options.faults) {
        faults.push_back(parse_fault_spec(text));
    }

    Host host;
    host.stats = options.stats;
    if (!command.needs_platform) {
        return command.run(host);
    }

    const std::string extension_path =
        options.extension.empty() ? default_extension_path() : options.extension;
    SyslogWriter syslog(options.syslog, options.site, extension_path);
    load_site(host, options.site);
    syslog.arm();
    if (!options.syslog.empty()) {
        warn_if_syslog_off(options.syslog);
    }
    if (command.prepare) {
        command.prepare(host);
    }
    for (const FaultSpec& fault : faults) {
        arm_fault(fault);
    }
    if (command.logs_in) {
        standin::set_library_folder(standin::folder_of(extension_path));
        return command.run(host);
    }
    Extension extension = load_extension(extension_path);
    host.extension_path = extension.path;
    host.extension_library = extension.library;

    // The platform goes on after a failed registration or exit; so does the host, and the command
    // shows what the extension then does. The failure is noted on standard error and makes the
    // exit status 1 even where the command itself went through.
    host.start_status = start_extension(extension);
    const bool started = host.start_status == 0;
    const int exit_status = command.run(host);
    // After the result, so that neither the counts of --stats nor the faults of --fail see the read.
    standin::clear_faults();
    warn_if_unnamed(host, extension_path);
    return started || exit_status != kExitOk ? exit_status : kExitStatus;
}

}  // namespace

}  // namespace kep_host

int main(int argc, char** argv) {
    try {
        return kep_host::run(argc, argv);
    } catch (const kep_host::UsageError& e) {
        std::cerr << "kep-host: " << e.what() << '\n';
        return kep_host::kExitUsage;
    } catch (const std::bad_alloc&) {
        std::cerr << "kep-host: out of memory\n";
        return kep_host::kExitInternal;
    } catch (const std::exception& e) {
        std::cerr << "kep-host: internal error: " << e.what() << '\n';
        return kep_host::kExitInternal;
    }
}
