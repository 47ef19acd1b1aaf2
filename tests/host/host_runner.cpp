// Subprocess runner of the kep-host tests (host_runner.h).
#include "host_runner.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>

extern char** environ;

namespace host_test {

namespace {

std::string temp_path(const char* what) {
    std::string pattern = std::string("/tmp/kep_host_test_") + what + "_XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    int fd = mkstemp(buffer.data());
    if (fd < 0) {
        throw std::runtime_error("mkstemp failed");
    }
    close(fd);
    return buffer.data();
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
    std::vector<std::string> argv_text = {exe};
    argv_text.insert(argv_text.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : argv_text) {
        argv.push_back(&a[0]);
    }
    argv.push_back(nullptr);

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
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, out_path.c_str(), O_WRONLY | O_TRUNC, 0);
    posix_spawn_file_actions_addopen(&actions, 2, err_path.c_str(), O_WRONLY | O_TRUNC, 0);
    pid_t pid = 0;
    int spawned = posix_spawn(&pid, exe.c_str(), &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);

    HostRun run;
    if (spawned == 0) {
        int wstatus = 0;
        while (waitpid(pid, &wstatus, 0) < 0 && errno == EINTR) {
        }
        run.exit_code = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : -1;
    }
    run.out = read_text(out_path);
    run.err = read_text(err_path);
    std::remove(out_path.c_str());
    std::remove(err_path.c_str());
    return run;
}

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
    std::vector<std::string> all = {"--site", site_file(site), "--extension", bin_file("libhost_probe.so")};
    all.insert(all.end(), args.begin(), args.end());
    return all;
}

}  // namespace host_test
