// Runs kep-host as a subprocess, the way a user or a script does, and captures what it writes.
#ifndef KEP_TESTS_HOST_RUNNER_H
#define KEP_TESTS_HOST_RUNNER_H

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

namespace host_test {

struct HostRun {
    int exit_code = -1;  // the exit status, or -1 when kep-host did not exit normally
    std::string out;
    std::string err;
    nlohmann::json json() const;  // stdout parsed; null when it is not one JSON text
    int err_lines() const;        // number of lines on stderr
};

// Runs `bin/kep-host args...`. The trace switches (ZODORE_*) of the test's own environment are
// removed; `env` adds NAME=VALUE entries.
HostRun run_host(const std::vector<std::string>& args, const std::vector<std::string>& env = {});
// The same for any program of the build's bin folder (`name` is its file name).
HostRun run_program(const std::string& name, const std::vector<std::string>& args,
                    const std::vector<std::string>& env = {});

std::string bin_file(const std::string& name);      // a file in the build's bin folder
std::string host_library(const std::string& name);  // library `name` in the bin folder (libNAME.so, NAME.dll)
std::string site_file(const std::string& name);     // a site under tests/host/sites
std::string source_path(const std::string& relative);
std::string read_text(const std::string& path);  // "" when it cannot be read
bool file_exists(const std::string& path);

// The probe extension built for these tests, and the options that load it with a site.
std::vector<std::string> with_probe(const std::string& site, std::vector<std::string> args);

// The three commands that draw the built-in sample site (the tour and both searches) into `file`
// with `option` ("--svg", "--html").
std::vector<std::vector<std::string>> drawing_commands(const std::string& option, const std::string& file);
// Runs kep-host with args whose drawing goes to `file`, which cannot be written, and expects it
// refused before anything runs: exit status 2, nothing on standard output, the file named on
// standard error.
HostRun expect_drawing_refused(const std::vector<std::string>& args, const std::string& file);

}  // namespace host_test

#endif
