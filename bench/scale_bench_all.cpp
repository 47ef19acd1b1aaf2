// All sizes of scale_bench: one process per size, each run by this program itself, the records
// written and the report printed; and the measurements that span sizes (the interleaved growth, the
// absolute transform's calls by depth).
#include <fcntl.h>
#include <malloc.h>
#include <sys/resource.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <map>
#include <nlohmann/json.hpp>
#include <random>
#include <sstream>
#include <string>
#include <type_traits>
#include <vector>

#include "geometry/kep_geometry.h"
#include "kep_deep_site.h"
#include "lookup/kep_memo.h"
#include "registration/kep_registration.h"
#include "scale_bench.h"
#include "standin/control.h"

using nlohmann::ordered_json;
using scale_bench::thousands;

namespace scale_bench {

namespace {

// --- all sizes ------------------------------------------------------------------------------------

std::string self_path() {
    std::vector<char> buf(4096);
    const ssize_t n = readlink("/proc/self/exe", buf.data(), buf.size() - 1);
    return n > 0 ? std::string(buf.data(), static_cast<size_t>(n)) : std::string("scale_bench");
}

// A size's process in serve mode, driven through two pipes.
class Server {
public:
    Server(const Options& options, long lines) {
        int to_child[2], from_child[2];
        if (pipe(to_child) != 0 || pipe(from_child) != 0) {
            throw std::runtime_error("no pipe for the interleaved runs");
        }
        const std::string self = self_path(), count = std::to_string(lines),
                          seed = std::to_string(options.seed);
        pid_ = fork();
        if (pid_ == 0) {
            dup2(to_child[0], 0);
            dup2(from_child[1], 1);
            close(to_child[1]);
            close(from_child[0]);
            execl(self.c_str(), self.c_str(), "--lines", count.c_str(), "--seed", seed.c_str(), "--kep-host",
                  options.kep_host.c_str(), "--shape", options.shape.c_str(), "--serve",
                  static_cast<char*>(nullptr));
            _exit(127);
        }
        close(to_child[0]);
        close(from_child[1]);
        to_ = fdopen(to_child[1], "w");
        from_ = fdopen(from_child[0], "r");
        if (pid_ < 0 || to_ == nullptr || from_ == nullptr || answer() != "ready") {
            throw std::runtime_error("the serving process for " + count + " lines did not start");
        }
    }
    ~Server() {
        if (to_ != nullptr) {
            std::fputs("quit\n", to_);
            std::fclose(to_);
        }
        if (from_ != nullptr) {
            std::fclose(from_);
        }
        if (pid_ > 0) {
            waitpid(pid_, nullptr, 0);
        }
    }
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;

    // Runs search k of the plan once; its processor time.
    double run(size_t k) {
        std::fprintf(to_, "%zu\n", k);
        std::fflush(to_);
        const std::string text = answer();
        if (text.empty()) {
            throw std::runtime_error("the serving process stopped");
        }
        return std::atof(text.c_str());
    }

private:
    std::string answer() {
        char line[256];
        if (std::fgets(line, sizeof line, from_) == nullptr) {
            return "";
        }
        std::string text(line);
        while (!text.empty() && text.back() == '\n') {
            text.pop_back();
        }
        return text;
    }

    pid_t pid_ = -1;
    FILE* to_ = nullptr;
    FILE* from_ = nullptr;
};

// The growth from `small` to `large` lines measured so that the machine's drift cancels: both
// sites stay loaded in processes of their own, and each search of the large site runs between two
// of the small one; the ratio is the large time over the mean of the two around it. Medians and
// extremes over the rounds.
ordered_json interleaved_growth(const Options& options, long small, long large) {
    std::cerr << "scale_bench: interleaved runs, " << thousands(small) << " and " << thousands(large)
              << " lines\n";
    Server a(options, small);
    Server b(options, large);
    ordered_json result = {{"from", small}, {"to", large}, {"rounds", options.rounds}};
    ordered_json searches = ordered_json::array();
    for (size_t k = 0; k < 4; ++k) {
        std::vector<double> ratios;
        for (int r = 0; r < options.rounds; ++r) {
            const double before = a.run(k);
            const double big = b.run(k);
            const double after = a.run(k);
            ratios.push_back(big / ((before + after) / 2));
        }
        searches.push_back({{"ratios", ratios},
                            {"median", median(ratios)},
                            {"least", *std::min_element(ratios.begin(), ratios.end())},
                            {"most", *std::max_element(ratios.begin(), ratios.end())}});
    }
    result["searches"] = searches;
    return result;
}

// Platform calls of one read of bl_plmxml_abs_xform at the bottom of chains of 5 to 40 levels, on
// both paths.
ordered_json abs_transform_calls() {
    for (const char* name : {"ZODORE_DEBUG", "ZODORE_SYSLOG", "ZODORE_ITKLOG"}) {
        standin::hide_env(name);
    }
    ordered_json rows = ordered_json::array();
    for (int depth : {5, 10, 20, 40}) {
        std::string error;
        if (!standin::load_site(kep_test::deep_chain_site(depth), "deep chain", &error)) {
            throw std::runtime_error(error);
        }
        // The chain has no datasets of the run-time property's type; only the line methods count.
        (void)kep_register_callbacks();
        (void)standin::run_all_exits();
        ordered_json row = {{"depth", depth}};
        for (bool literal : {true, false}) {
            kep::force_literal_path(literal);
            standin::reset_counters();
            char* value = nullptr;
            const int status = standin::ask_string(standin::tag_of("l" + std::to_string(depth)),
                                                   "bl_plmxml_abs_xform", &value);
            MEM_free(value);
            kep::force_literal_path(false);
            if (status != 0) {
                throw std::runtime_error("the absolute transform of the chain failed");
            }
            long calls = 0, memory = 0;
            for (const auto& entry : standin::call_counts()) {
                calls += entry.second;
                memory += entry.first == "MEM_alloc" || entry.first == "MEM_free" ? entry.second : 0;
            }
            row[literal ? "literal" : "economical"] = {{"calls", calls}, {"without_memory", calls - memory}};
        }
        rows.push_back(row);
    }
    standin::reset();
    return rows;
}

}  // namespace

int run_all(const Options& options) {
    std::vector<ordered_json> records;
    for (long lines : options.sizes) {
        std::string command = self_path() + " --lines " + std::to_string(lines) + " --seed " +
                              std::to_string(options.seed) + " --kep-host '" + options.kep_host +
                              "' --shape '" + options.shape + "'";
        if (options.repetitions > 0) {
            command += " --repetitions " + std::to_string(options.repetitions);
        }
        std::cerr << "scale_bench: " << thousands(lines) << " lines\n";
        FILE* pipe = popen(command.c_str(), "r");
        std::string text;
        char chunk[4096];
        size_t n;
        while (pipe != nullptr && (n = std::fread(chunk, 1, sizeof chunk, pipe)) > 0) {
            text.append(chunk, n);
        }
        if (pipe == nullptr || pclose(pipe) != 0) {
            std::cerr << "scale_bench: the run for " << lines << " lines failed\n";
            return 1;
        }
        records.push_back(ordered_json::parse(text));
    }
    ordered_json interleaved;
    if (options.sizes.size() > 1 && options.rounds > 0) {
        try {
            interleaved =
                interleaved_growth(options, options.sizes[options.sizes.size() - 2], options.sizes.back());
            records.back()["interleaved_growth"] = interleaved;
        } catch (const std::exception& e) {
            std::cerr << "scale_bench: " << e.what() << '\n';
            return 1;
        }
    }
    try {
        records.back()["abs_transform"] = abs_transform_calls();
    } catch (const std::exception& e) {
        std::cerr << "scale_bench: " << e.what() << '\n';
        return 1;
    }
    if (!options.records.empty()) {
        std::ofstream out(options.records);
        out << ordered_json(records).dump(2) << '\n';
    }
    std::cout << report(records);
    return 0;
}

}  // namespace scale_bench
