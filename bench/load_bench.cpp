// Scale benchmark of the site loader and of `kep-host tags`: each section of a site at 10^4 and
// 10^5 entries, loaded from a file into the stand-in, and `tags` over a generated site of 10^4
// and 10^5 lines. A load that grows with the square of its section takes 100 times as long at
// ten times the size; a linear one some 10 times. Prints a Markdown table (the medians of three
// runs) for docs/performance.md: processor time (user and system), which a shared machine leaves
// alone, and wall time.
//
// Usage: load_bench [--runs N]
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <iostream>
#include <string>
#include <vector>

#include "kep_temp_dir.h"
#include "standin/control.h"

namespace {

using Clock = std::chrono::steady_clock;

std::string named(const char* stem, int i) { return std::string(stem) + std::to_string(i); }

// A chain of n types, each under the one before it, the first under Form.
std::string type_chain(int n) {
    std::string s = R"({"types": {)";
    for (int i = 0; i < n; ++i) {
        s += (i == 0 ? "" : ", ") + ("\"" + named("T", i) + "\": \"") +
             (i == 0 ? "Form" : named("T", i - 1)) + "\"";
    }
    return s + "}}";
}

// n types side by side under Form.
std::string types_under_form(int n) {
    std::string s = R"({"types": {)";
    for (int i = 0; i < n; ++i) {
        s += (i == 0 ? "" : ", ") + ("\"" + named("T", i) + "\": \"Form\"");
    }
    return s + "}}";
}

// n relations between two objects, each of its own relation type.
std::string relations_of_distinct_types(int n) {
    std::string s = R"({"objects": {"a": {"type": "Form"}, "b": {"type": "Form"}}, "relations": [)";
    for (int i = 0; i < n; ++i) {
        s += (i == 0 ? "" : ", ") + ("[\"a\", \"" + named("R", i) + "\", \"b\"]");
    }
    return s + "]}";
}

// n run-time properties on one type.
std::string properties_on_one_type(int n) {
    std::string s = R"({"properties": {"Form": [)";
    for (int i = 0; i < n; ++i) {
        s += (i == 0 ? "" : ", ") + ("\"" + named("p", i) + "\"");
    }
    return s + "]}}";
}

// n objects with two attributes each.
std::string objects(int n) {
    std::string s = R"({"objects": {)";
    for (int i = 0; i < n; ++i) {
        s += (i == 0 ? "" : ", ") +
             ("\"" + named("f", i) + R"(": {"type": "Form", "attributes": {"x": 1, "y": "t"}})");
    }
    return s + "}}";
}

// n preferences.
std::string preferences(int n) {
    std::string s = R"({"preferences": {)";
    for (int i = 0; i < n; ++i) {
        s += (i == 0 ? "" : ", ") + ("\"" + named("P", i) + "\": [\"v\"]");
    }
    return s + "}}";
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

double seconds_since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// Processor seconds (user and system) of this process, or of its children that have ended.
double cpu_seconds(int who) {
    rusage u{};
    getrusage(who, &u);
    return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

struct Times {
    double cpu = 0;
    double wall = 0;
};

Times medians(const std::vector<Times>& runs) {
    std::vector<double> cpu, wall;
    for (const Times& t : runs) {
        cpu.push_back(t.cpu);
        wall.push_back(t.wall);
    }
    return {median(cpu), median(wall)};
}

// Runs a command line through the shell; false when it failed.
bool run_timed(const std::string& command, Times* t) {
    const double cpu = cpu_seconds(RUSAGE_CHILDREN);
    const auto start = Clock::now();
    const int status = std::system(command.c_str());
    t->wall = seconds_since(start);
    t->cpu = cpu_seconds(RUSAGE_CHILDREN) - cpu;
    return status == 0;
}

void row(const char* what, const Times (&at)[2]) {
    std::printf("| %s | %.3f s (%.3f s) | %.3f s (%.3f s) | %.1f |\n", what, at[0].cpu, at[0].wall, at[1].cpu,
                at[1].wall, at[1].cpu / at[0].cpu);
}

}  // namespace

int main(int argc, char** argv) {
    int runs = 3;
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], "--runs") == 0) {
            runs = std::max(1, std::atoi(argv[i + 1]));
        }
    }
    const std::string& dir = kep_test::temp_dir();
    const struct {
        const char* what;
        std::function<std::string(int)> make;
    } sections[] = {
        {"a chain of types", type_chain},
        {"types under Form", types_under_form},
        {"relations of distinct types", relations_of_distinct_types},
        {"properties on one type", properties_on_one_type},
        {"objects (two attributes each)", objects},
        {"preferences", preferences},
    };
    std::printf(
        "| Input | 10^4 entries: processor (wall) | 10^5 entries: processor (wall) | ratio of processor "
        "times "
        "|\n|---|---|---|---|\n");
    for (const auto& section : sections) {
        Times at[2];
        for (int k = 0; k < 2; ++k) {
            const int n = k == 0 ? 10000 : 100000;
            const std::string path = dir + "/site.json";
            std::ofstream(path, std::ios::binary) << section.make(n);
            std::vector<Times> times;
            for (int r = 0; r < runs; ++r) {
                const double cpu = cpu_seconds(RUSAGE_SELF);
                const auto start = Clock::now();
                std::string error;
                if (!standin::load_site_file(path, &error)) {
                    std::fprintf(stderr, "load_bench: %s\n", error.c_str());
                    return 1;
                }
                times.push_back({cpu_seconds(RUSAGE_SELF) - cpu, seconds_since(start)});
                standin::reset();
            }
            at[k] = medians(times);
        }
        row(section.what, at);
    }
    Times at[2];
    for (int k = 0; k < 2; ++k) {
        const std::string lines = k == 0 ? "10000" : "100000";
        const std::string site = dir + "/generated.json";
        if (std::system((std::string(KEP_HOST_PATH) + " generate --lines " + lines + " --seed 1 > " + site)
                            .c_str()) != 0) {
            return 1;
        }
        std::vector<Times> times;
        for (int r = 0; r < runs; ++r) {
            Times t;
            if (!run_timed(std::string(KEP_HOST_PATH) + " --site " + site + " tags > /dev/null", &t)) {
                return 1;
            }
            times.push_back(t);
        }
        at[k] = medians(times);
    }
    row("`kep-host tags` on a generated site (10^4, 10^5 lines)", at);
    return 0;
}
