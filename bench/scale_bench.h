// What the parts of scale_bench share: the record of platform operations under way that the
// sampler reads (scale_bench_track.cpp) and the report of all sizes (scale_bench_report.cpp).
#ifndef SCALE_BENCH_H
#define SCALE_BENCH_H

#include <csignal>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

namespace scale_bench {

constexpr int kMaxOps = 64;

struct Options {
    long lines = 0;
    std::vector<long> sizes{1000, 10000, 100000, 1000000};
    int repetitions = 0;  // 0: by size
    unsigned seed = 1;
    std::string kep_host = KEP_HOST_PATH;
    // The same make-up below the top line at every size: five levels, ten children per assembly,
    // as many modules under the top line as the lines need.
    std::string shape = "--depth 5 --fanout 10";
    std::string records;
    bool profile = false;  // only the volume search, for a profiler attached to the process
    bool serve = false;    // after the first search, run the searches that standard input names
    int rounds = 3;        // rounds of the interleaved growth measurement (0: none)
};

// One size in this process (scale_bench.cpp): the record of its searches.
nlohmann::ordered_json run_size(const Options& options);
double median(std::vector<double> v);

// All sizes, each in a process of its own (scale_bench_all.cpp): writes the records and prints the
// report; the exit status of the program.
int run_all(const Options& options);

// What the sampler reads. Written by the search and read by the signal handler on the same
// thread: volatile is all the synchronisation needed.
struct PlatformTrack {
    volatile sig_atomic_t on = 0;        // the wrappers count
    volatile sig_atomic_t sampling = 0;  // a sampled search is under way
    volatile sig_atomic_t depth = 0;     // platform operations under way (0 in the extension's own code)
    volatile sig_atomic_t op = -1;       // the outermost of them
    volatile long platform_samples = 0;
    volatile long extension_samples = 0;
    volatile long per_op[kMaxOps] = {};
    const char* names[kMaxOps] = {};
    int op_count = 0;

    void reset() {
        platform_samples = extension_samples = 0;
        for (volatile long& n : per_op) {
            n = 0;
        }
    }
};

PlatformTrack& track();

// The profiling timer's handler: counts the sample as the platform's or the extension's.
void on_profiling_tick(int);

std::string fixed(double v, int digits);
std::string thousands(long v);

// The section of docs/performance.md made from the records of all sizes.
std::string report(const std::vector<nlohmann::ordered_json>& records);

}  // namespace scale_bench

#endif  // SCALE_BENCH_H
