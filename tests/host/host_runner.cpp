// Subprocess runner of the kep-host tests (host_runner.h).
#include "host_runner.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <standin/library.h>
#include <sys/stat.h>

#if defined(_WIN32)
#include <io.h>
#include <process.h>
#else
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "kep_temp_dir.h"

#if !defined(_WIN32)
extern char** environ;  // Windows declares it in <stdlib.h>
#endif

namespace host_test {

namespace {

// An empty file of its own in the program's temporary directory.
std::string temp_path(const char* what) {
    const std::string path = kep_test::temp_path(what);
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) {
        throw std::runtime_error("cannot make " + path);
    }
    std::fclose(f);
    return path;
}

#if defined(_WIN32)

// One argument of a Windows command line, quoted so that the program's C library reads it back.
std::string quoted(const std::string& arg) {
    if (!arg.empty() && arg.find_first_of(" \t\"") == std::string::npos) {
        return arg;
    }
    std::string out = "\"";
    size_t backslashes = 0;
    for (char c : arg) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        out.append(c == '"' ? 2 * backslashes + 1 : backslashes, '\\');
        backslashes = 0;
        out += c;
    }
    out.append(2 * backslashes, '\\');
    return out + "\"";
}

#endif

// The programs of a cross build run under the build's emulator (qemu-sparc64), as ctest runs the
// tests themselves; Windows programs start their children themselves.
std::vector<std::string> emulator_words() {
    std::vector<std::string> words;
#if defined(KEP_TEST_EMULATOR)
    std::istringstream text(KEP_TEST_EMULATOR);
    std::string word;
    while (text >> word) {
        words.push_back(word);
    }
#endif
    return words;
}

}  // namespace

nlohmann::json HostRun::json() const {
    nlohmann::json parsed = nlohmann::json::parse(out, nullptr, false);
    return parsed.is_discarded() ? nlohmann::json() : parsed;
}

int HostRun::err_lines() const { return static_cast<int>(std::count(err.begin(), err.end(), '\n')); }

HostRun run_host(const std::vector<std::string>& args, const std::vector<std::string>& env) {
    return run_program("kep-host", args, env);
}

HostRun run_program(const std::string& name, const std::vector<std::string>& args,
                    const std::vector<std::string>& env) {
    std::string exe = bin_file(name);
    std::vector<std::string> argv_text = emulator_words();
    argv_text.push_back(exe);
    argv_text.insert(argv_text.end(), args.begin(), args.end());

    std::vector<std::string> env_text;
    for (char** e = environ; *e != nullptr; ++e) {
        if (std::strncmp(*e, "ZODORE_", 7) != 0) {
            env_text.emplace_back(*e);
        }
    }
    env_text.insert(env_text.end(), env.begin(), env.end());
    std::vector<char*> envp;
    for (std::string& e : env_text) {
        envp.push_back(&e[0]);
    }
    envp.push_back(nullptr);

    std::string out_path = temp_path("out");
    std::string err_path = temp_path("err");
    HostRun run;
#if defined(_WIN32)
    // The child's standard output and error are the two files: the test's own are pointed at them
    // while the child starts (it inherits them), then put back.
    std::vector<std::string> quoted_args;
    for (const std::string& a : argv_text) {
        quoted_args.push_back(quoted(a));
    }
    std::vector<const char*> argv;
    for (const std::string& a : quoted_args) {
        argv.push_back(a.c_str());
    }
    argv.push_back(nullptr);
    std::fflush(stdout);
    std::fflush(stderr);
    const int saved_out = _dup(1);
    const int saved_err = _dup(2);
    const int out_fd = _open(out_path.c_str(), _O_WRONLY | _O_TRUNC | _O_BINARY);
    const int err_fd = _open(err_path.c_str(), _O_WRONLY | _O_TRUNC | _O_BINARY);
    _dup2(out_fd, 1);
    _dup2(err_fd, 2);
    const intptr_t status = _spawnve(_P_WAIT, exe.c_str(), argv.data(), envp.data());
    _dup2(saved_out, 1);
    _dup2(saved_err, 2);
    _close(out_fd);
    _close(err_fd);
    _close(saved_out);
    _close(saved_err);
    run.exit_code = status < 0 ? -1 : static_cast<int>(status);
#else
    std::vector<char*> argv;
    for (std::string& a : argv_text) {
        argv.push_back(&a[0]);
    }
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, out_path.c_str(), O_WRONLY | O_TRUNC, 0);
    posix_spawn_file_actions_addopen(&actions, 2, err_path.c_str(), O_WRONLY | O_TRUNC, 0);
    pid_t pid = 0;
    int spawned = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (spawned == 0) {
        int wstatus = 0;
        while (waitpid(pid, &wstatus, 0) < 0 && errno == EINTR) {
        }
        run.exit_code = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1;
    }
#endif
    run.out = read_text(out_path);
    run.err = read_text(err_path);
#if defined(_WIN32)
    // Windows programs end their text lines with CR LF on standard output and error; the tests
    // read the text with plain line ends.
    for (std::string* text : {&run.out, &run.err}) {
        std::string plain;
        for (size_t i = 0; i < text->size(); ++i) {
            if (!((*text)[i] == '\r' && i + 1 < text->size() && (*text)[i + 1] == '\n')) {
                plain += (*text)[i];
            }
        }
        *text = plain;
    }
#endif
    std::remove(out_path.c_str());
    std::remove(err_path.c_str());
    return run;
}

std::string host_library(const std::string& name) { return bin_file(standin::library_file_name(name)); }

std::string bin_file(const std::string& name) { return std::string(KEP_BINARY_DIR) + "/bin/" + name; }

std::string source_path(const std::string& relative) { return std::string(KEP_SOURCE_DIR) + "/" + relative; }

std::string site_file(const std::string& name) { return source_path("tests/host/sites/" + name); }

std::string read_text(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

bool file_exists(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

std::vector<std::string> with_probe(const std::string& site, std::vector<std::string> args) {
    std::vector<std::string> all = {"--site", site_file(site), "--extension", host_library("host_probe")};
    all.insert(all.end(), args.begin(), args.end());
    return all;
}

std::vector<std::vector<std::string>> drawing_commands(const std::string& option, const std::string& file) {
    return {
        {"demo", option, file},
        {"volume-search", "--window", "w1", "--delta", "1", "--box", "0", "0", "0", "1", "1", "1", option,
         file},
        {"neighbourhood-search", "--window", "w1", "--delta", "1", "--lines", "fan_l", option, file},
    };
}

HostRun expect_drawing_refused(const std::vector<std::string>& args, const std::string& file) {
    HostRun run = run_host(args);
    EXPECT_EQ(run.exit_code, 2);
    EXPECT_EQ(run.out, "");
    EXPECT_NE(run.err.find(file), std::string::npos) << run.err;
    return run;
}

}  // namespace host_test
