// kep-host's entry: the command line, the order of the run and the exit statuses (kep_host.h).
#include <fcntl.h>
#include <standin/control.h>
#include <standin/library.h>
#include <sys/stat.h>
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
    Extension extension = load_extension(extension_path);
    host.extension_path = extension.path;

    // The platform goes on after a failed registration or exit; so does the host, and the command
    // shows what the extension then does. The failure is noted on standard error and makes the
    // exit status 1 even where the command itself went through.
    const bool started = start_extension(extension);
    const int exit_status = command.run(host);
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
