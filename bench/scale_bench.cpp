// Scale benchmark of the two search services over generated sites, with the logging switches off.
//
// One size (scale_bench --lines N): generates a site with `kep-host generate`, loads it into the
// stand-in, registers the extension (linked in) and runs its exits, then times the volume search
// and the neighbourhood search with 1, 10 and 100 selected lines through standin::call_service,
// and prints one JSON record: wall times, platform calls per line, the share of the time spent
// in the extension's own code, peak memory.
//
// All sizes (scale_bench [--sizes 1000,10000,...]): runs itself once per size in a fresh process
// (so that one size's heap does not inflate the next one's memory figures), writes the records to
// --records FILE and prints the report section for docs/performance.md.
//
// The extension's share is measured by sampling the processor: a profiling timer (SIGPROF, every
// tick of processor time, user and system alike, 250 a second here) interrupts the search, and the
// handler notes whether a platform operation is under way. Every platform operation the extension
// calls goes through a wrapper (the linker's --wrap, see bench/CMakeLists.txt) that counts the
// operations under way; where an operation calls back into the extension (a property read that
// runs the extension's method or post-action), the wrapper that the extension's registration went
// through sets the count to zero for the length of the callback. A sample with operations under
// way is the platform's, any other sample the extension's. Sampling costs the search nothing but
// a counter per operation, is blind to other processes (it counts this process's processor time
// only) and is exact in expectation; its error is that of a proportion, reported with it. The
// wall and processor times are taken from separate runs without the sampler.
#include "scale_bench.h"

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
#include "kep_temp_dir.h"
#include "lookup/kep_memo.h"
#include "registration/kep_registration.h"
#include "standin/control.h"

using nlohmann::ordered_json;

namespace scale_bench {
namespace {

// --- process measurements -------------------------------------------------------------------------

long status_kb(const char* field) {  // a field of /proc/self/status, in kB
    std::ifstream in("/proc/self/status");
    std::string line;
    const size_t n = std::strlen(field);
    while (std::getline(in, line)) {
        if (line.compare(0, n, field) == 0 && line.size() > n && line[n] == ':') {
            return std::atol(line.c_str() + n + 1);
        }
    }
    return -1;
}

void reset_peak() {  // VmHWM starts again from the current resident size
    std::ofstream out("/proc/self/clear_refs");
    out << "5";
}

double thread_cpu_seconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

double seconds_since(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0.0 : v.size() % 2 ? v[v.size() / 2] : 0.5 * (v[v.size() / 2 - 1] + v[v.size() / 2]);
}

namespace {

// --- one size -------------------------------------------------------------------------------------

// The vehicle volume the generator fills (metres).
constexpr double kVehicleLo[3] = {-0.8, -0.9, -0.3};
constexpr double kVehicleHi[3] = {3.7, 0.9, 1.2};

std::string run_generator(const Options& options, double* seconds, long* peak_kb) {
    const std::string command = options.kep_host + " generate --lines " + std::to_string(options.lines) +
                                " --seed " + std::to_string(options.seed) + " " + options.shape;
    const auto start = std::chrono::steady_clock::now();
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) {
        throw std::runtime_error("cannot run " + command);
    }
    std::string text;
    std::vector<char> chunk(1 << 20);
    size_t n;
    while ((n = std::fread(chunk.data(), 1, chunk.size(), pipe)) > 0) {
        text.append(chunk.data(), n);
    }
    if (pclose(pipe) != 0) {
        throw std::runtime_error(command + " failed");
    }
    *seconds = seconds_since(start);
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    *peak_kb = usage.ru_maxrss;
    return text;
}

struct SearchRun {
    double wall = 0;
    double cpu = 0;  // the thread's processor time: what the machine's other work does not inflate
    std::vector<tag_t> found;
    std::map<std::string, long> calls;
};

SearchRun run_service(const std::string& service, const std::vector<standin::UserArg>& args) {
    standin::reset_counters();
    SearchRun run;
    bool handed_back = false;
    const double cpu_start = thread_cpu_seconds();
    const auto start = std::chrono::steady_clock::now();
    const int status = standin::call_service(service, args, &run.found, &handed_back);
    run.wall = seconds_since(start);
    run.cpu = thread_cpu_seconds() - cpu_start;
    if (status != 0) {
        throw std::runtime_error(service + " returned status " + std::to_string(status));
    }
    run.calls = standin::call_counts();
    return run;
}

// --- the modelled server time ---------------------------------------------------------------------
//
// A model, not a measurement: what the platform calls of a search would cost on a server, each
// operation weighted by an assumed cost in microseconds. In-process bookkeeping (memory, error
// stack, argument queue) costs a fraction of a microsecond; reads of objects the server holds in
// memory (attribute ids, types, line attributes, preferences) a few microseconds; reads that
// usually reach the database (related objects, named references, form values, the expansion of a
// line's children) hundreds of microseconds. docs/performance.md states and discusses the table.
struct OperationCost {
    const char* op;
    double microseconds;
};
const OperationCost kOperationCosts[] = {
    {"MEM_alloc", 0.05},
    {"MEM_free", 0.05},
    {"EMH_clear_errors", 0.2},
    {"EMH_ask_errors", 0.2},
    {"TC_getenv", 0.2},
    {"USERARG_get_tag_argument", 0.2},
    {"USERARG_get_double_argument", 0.2},
    {"USERARG_get_double_array_argument", 0.2},
    {"USERARG_get_tag_array_argument", 0.2},
    {"PREF_ask_search_scope", 0.5},
    {"PREF_set_search_scope", 0.5},
    {"PREF_ask_value_count", 2},
    {"PREF_ask_char_value", 2},
    {"PREF_ask_char_values", 2},
    {"BOM_line_look_up_attribute", 1},
    {"TCTYPE_ask_object_type", 1},
    {"TCTYPE_ask_name", 1},
    {"GRM_find_relation_type", 2},
    {"BOM_ask_window_top_line", 5},
    {"BOM_line_ask_attribute_tag", 5},
    {"BOM_line_ask_attribute_string", 5},
    {"AOM_ask_value_string", 20},
    {"AOM_ask_value_strings", 200},
    {"AOM_ask_value_double", 50},
    {"USERSERVICE_return_tag_array", 10},
    {"BOM_line_ask_child_lines", 200},
    {"BOM_line_ask_packed_lines", 100},
    {"AE_ask_all_dataset_named_refs", 300},
    {"GRM_list_secondary_objects_only", 500},
};
constexpr double kUnlistedOperationCost = 20;

double modelled_server_seconds(const std::map<std::string, long>& calls) {
    double microseconds = 0;
    for (const auto& entry : calls) {
        double cost = kUnlistedOperationCost;
        for (const OperationCost& c : kOperationCosts) {
            if (entry.first == c.op) {
                cost = c.microseconds;
            }
        }
        microseconds += cost * static_cast<double>(entry.second);
    }
    return microseconds * 1e-6;
}

// Measures one search in steady state (the process has searched before, so the stand-in's call
// log and the heap have their room):
// - memory: one run after the heap has handed back what it keeps (malloc_trim), the peak resident
//   size above the size before;
// - time: `repetitions` runs, the medians of their wall and processor times;
// - the extension's share: runs with the sampler until it has taken enough samples.
ordered_json measure_search(const std::string& label, const std::string& service,
                            const std::vector<standin::UserArg>& args, int repetitions, bool literal) {
    // The literal path is forced for the whole measurement and given back after it.
    struct Path {
        explicit Path(bool literal) { kep::force_literal_path(literal); }
        ~Path() { kep::force_literal_path(false); }
    } path(literal);
    malloc_trim(0);
    const long before = status_kb("VmRSS");
    reset_peak();
    SearchRun last = run_service(service, args);
    const long peak_kb = status_kb("VmHWM") - before;

    std::vector<double> wall, cpu;
    for (int r = 0; r < repetitions; ++r) {
        last = run_service(service, args);
        wall.push_back(last.wall);
        cpu.push_back(last.cpu);
    }

    constexpr long kWantedSamples = 2000;
    constexpr int kMostRuns = 1000;
    PlatformTrack& t = track();
    t.reset();
    t.on = 1;
    int sampled_runs = 0;
    while (sampled_runs < kMostRuns && t.platform_samples + t.extension_samples < kWantedSamples) {
        t.sampling = 1;
        run_service(service, args);
        t.sampling = 0;
        ++sampled_runs;
    }
    t.on = 0;
    const double samples = static_cast<double>(t.platform_samples + t.extension_samples);
    const double share = static_cast<double>(t.extension_samples) / std::max(samples, 1.0);

    long calls = 0, memory_calls = 0;
    for (const auto& entry : last.calls) {
        calls += entry.second;
        if (entry.first == "MEM_alloc" || entry.first == "MEM_free") {
            memory_calls += entry.second;
        }
    }
    std::vector<std::pair<long, std::string>> ops;
    for (int k = 0; k < t.op_count; ++k) {
        ops.emplace_back(t.per_op[k], t.names[k]);
    }
    std::sort(ops.rbegin(), ops.rend());
    ordered_json top = ordered_json::array();
    for (size_t k = 0; k < ops.size() && k < 6; ++k) {
        top.push_back({ops[k].second, static_cast<double>(ops[k].first) / std::max(samples, 1.0)});
    }
    std::map<std::string, long> sorted_calls(last.calls.begin(), last.calls.end());
    return {{"search", label},
            {"path", literal ? "literal" : "economical"},
            {"found", last.found.size()},
            {"wall_s", median(wall)},
            {"cpu_s", median(cpu)},
            {"extension_share", share},
            {"extension_share_error", std::sqrt(share * (1 - share) / std::max(samples, 1.0))},
            {"samples", static_cast<long>(samples)},
            {"sampled_runs", sampled_runs},
            {"calls", calls},
            {"memory_calls", memory_calls},
            {"modelled_server_s", modelled_server_seconds(last.calls)},
            {"peak_extra_kb", peak_kb},
            {"top_ops", top},
            {"calls_by_op", sorted_calls}};
}

// `kep-host --site FILE volume-search` with the query box, in a process of its own with the switches
// off: its processor time (user and system) and peak resident size.
ordered_json run_whole_host(const Options& options, const std::string& site,
                            const std::vector<double>& query) {
    std::vector<std::string> args = {options.kep_host, "--site", site,   "volume-search", "--window", "w1",
                                     "--delta",        "5",      "--box"};
    for (double v : query) {
        args.push_back(fixed(v, 9));
    }
    std::vector<char*> argv;
    for (std::string& a : args) {
        argv.push_back(&a[0]);
    }
    argv.push_back(nullptr);
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = fork();
    if (pid == 0) {
        const int null_fd = open("/dev/null", O_WRONLY);
        dup2(null_fd, 1);
        for (const char* name : {"ZODORE_DEBUG", "ZODORE_SYSLOG", "ZODORE_ITKLOG"}) {
            unsetenv(name);
        }
        execv(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    if (pid < 0 || wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        throw std::runtime_error("kep-host volume-search on the site failed");
    }
    const auto seconds = [](const timeval& t) {
        return static_cast<double>(t.tv_sec) + 1e-6 * static_cast<double>(t.tv_usec);
    };
    return {{"wall_s", seconds_since(start)},
            {"cpu_s", seconds(usage.ru_utime) + seconds(usage.ru_stime)},
            {"peak_kb", usage.ru_maxrss}};
}

}  // namespace

ordered_json run_size(const Options& options) {
    ordered_json record;
    record["lines"] = options.lines;
    record["seed"] = options.seed;
    record["shape"] = options.shape;
    struct sigaction action {};
    action.sa_handler = on_profiling_tick;
    action.sa_flags = SA_RESTART;
    sigaction(SIGPROF, &action, nullptr);
    const itimerval every_tick{{0, 1000}, {0, 1000}};  // the kernel rounds up to its tick
    setitimer(ITIMER_PROF, &every_tick, nullptr);

    double generate_s = 0;
    long generate_peak_kb = 0;
    std::string text = run_generator(options, &generate_s, &generate_peak_kb);
    record["site_bytes"] = text.size();
    // The site on disk as well, for the whole kep-host run at the end.
    const std::string site_path = kep_test::temp_path("site.json");
    {
        std::ofstream site_file(site_path, std::ios::binary);
        site_file << text;
        if (!site_file.flush()) {
            throw std::runtime_error("cannot write the site to " + site_path);
        }
    }
    struct RemoveFile {
        std::string path;
        ~RemoveFile() { std::remove(path.c_str()); }
    } remove_site{site_path};
    record["generate_s"] = generate_s;
    record["generate_peak_kb"] = generate_peak_kb;

    const long rss_before_load = status_kb("VmRSS");
    reset_peak();
    std::string error;
    auto start = std::chrono::steady_clock::now();
    if (!standin::load_site(text, "generated site", &error)) {
        throw std::runtime_error(error);
    }
    record["load_s"] = seconds_since(start);
    record["load_peak_kb"] = status_kb("VmHWM");
    record["load_peak_above_text_kb"] = status_kb("VmHWM") - rss_before_load;
    std::string().swap(text);
    malloc_trim(0);
    record["site_rss_kb"] = status_kb("VmRSS");

    for (const char* name : {"ZODORE_DEBUG", "ZODORE_SYSLOG", "ZODORE_ITKLOG"}) {
        standin::hide_env(name);
    }
    if (kep_register_callbacks() != 0 || standin::run_all_exits() != 0) {
        throw std::runtime_error("the extension's registration failed");
    }
    const tag_t window = standin::tag_of("w1");

    // Lines with a box to select, drawn at random; the same draw at every size of site.
    std::mt19937_64 rng(options.seed);
    std::vector<tag_t> lines;
    for (const auto& entry : standin::all_ids()) {
        if (standin::kind_of(entry.second) == "BOMLine") {
            lines.push_back(entry.second);
        }
    }
    record["site_lines"] = lines.size();
    std::vector<tag_t> selected;
    for (int tries = 0; selected.size() < 100 && tries < 100000; ++tries) {
        const tag_t line = lines[rng() % lines.size()];
        kep_bbox_t* box = nullptr;
        if (kep_get_bbox_for_bomline(line, &box) == 0 && box != nullptr &&
            std::find(selected.begin(), selected.end(), line) == selected.end()) {
            selected.push_back(line);
        }
        MEM_free(box);
    }
    std::vector<tag_t>().swap(lines);

    // The query box: a cube at a fixed point of the vehicle, a few region widths wide.
    const double volume =
        (kVehicleHi[0] - kVehicleLo[0]) * (kVehicleHi[1] - kVehicleLo[1]) * (kVehicleHi[2] - kVehicleLo[2]);
    const double edge = 2.7 * std::cbrt(volume / static_cast<double>(options.lines));
    std::uniform_real_distribution<double> unit(0.1, 0.9);
    std::vector<double> query(6);
    for (int a = 0; a < 3; ++a) {
        const double centre = kVehicleLo[a] + unit(rng) * (kVehicleHi[a] - kVehicleLo[a]);
        query[static_cast<size_t>(a)] = centre - edge / 2;
        query[static_cast<size_t>(a) + 3] = centre + edge / 2;
    }
    record["query_box"] = query;

    if (options.profile) {
        std::cerr << "scale_bench: pid " << getpid() << " searching" << std::endl;
        sleep(1);
        for (int r = 0; r < std::max(options.repetitions, 1); ++r) {
            const SearchRun run = run_service("kep_userservice_volume_search",
                                              {standin::UserArg{standin::UserArg::Tag, window},
                                               standin::UserArg{standin::UserArg::Double, 0, 5.0},
                                               standin::UserArg{standin::UserArg::DoubleArray, 0, 0, query}});
            std::cerr << "scale_bench: volume search " << run.wall << " s, " << run.cpu << " s processor\n";
        }
        return record;
    }
    const int repetitions = options.repetitions > 0 ? options.repetitions : options.lines >= 1000000 ? 1 : 5;
    record["repetitions"] = repetitions;
    using standin::UserArg;
    // The first search of the process, not measured but for the record: it also makes the room for
    // the stand-in's call log (two bytes per platform call, kept for the process's life) and
    // grows the heap.
    malloc_trim(0);
    const long before_first = status_kb("VmRSS");
    reset_peak();
    const SearchRun first = run_service("kep_userservice_volume_search",
                                        {UserArg{UserArg::Tag, window}, UserArg{UserArg::Double, 0, 5.0},
                                         UserArg{UserArg::DoubleArray, 0, 0, query}});
    record["first_search"] = {
        {"wall_s", first.wall}, {"cpu_s", first.cpu}, {"peak_extra_kb", status_kb("VmHWM") - before_first}};
    struct Search {
        std::string label, service;
        std::vector<UserArg> args;
    };
    std::vector<Search> plan;
    plan.push_back({"volume",
                    "kep_userservice_volume_search",
                    {UserArg{UserArg::Tag, window}, UserArg{UserArg::Double, 0, 5.0},
                     UserArg{UserArg::DoubleArray, 0, 0, query}}});
    for (size_t k : {size_t{1}, size_t{10}, size_t{100}}) {
        const std::vector<tag_t> some(selected.begin(),
                                      selected.begin() + static_cast<long>(std::min(k, selected.size())));
        plan.push_back({"neighbourhood " + std::to_string(k),
                        "kep_userservice_neighbourhood_search",
                        {UserArg{UserArg::Tag, window}, UserArg{UserArg::Double, 0, 5.0},
                         UserArg{UserArg::TagArray, 0, 0, {}, some}}});
    }
    if (options.serve) {
        // One line in: the number of a search in the plan; one line out: its processor time.
        std::cout << "ready" << std::endl;
        std::string line;
        while (std::getline(std::cin, line) && line != "quit") {
            const size_t k = static_cast<size_t>(std::atol(line.c_str()));
            const SearchRun run = run_service(plan.at(k).service, plan.at(k).args);
            std::cout << fixed(run.cpu, 6) << std::endl;
        }
        return record;
    }
    // Both paths in the same process: first every search on the economical path (the order that
    // the interleaved growth measurement's plan numbers), then every search on the literal one.
    ordered_json searches = ordered_json::array();
    for (bool literal : {false, true}) {
        for (const Search& search : plan) {
            searches.push_back(
                measure_search(search.label, search.service, search.args, repetitions, literal));
        }
    }
    record["searches"] = searches;
    record["process_peak_kb"] = status_kb("VmHWM");
    record["whole_host"] = run_whole_host(options, site_path, query);
    return record;
}

}  // namespace scale_bench

int main(int argc, char** argv) {
    using scale_bench::Options;
    Options options;
    for (int k = 1; k < argc; ++k) {
        const std::string arg = argv[k];
        const bool has_value = k + 1 < argc;
        if (arg == "--lines" && has_value) {
            options.lines = std::atol(argv[++k]);
        } else if (arg == "--sizes" && has_value) {
            options.sizes.clear();
            std::istringstream list(argv[++k]);
            std::string item;
            while (std::getline(list, item, ',')) {
                options.sizes.push_back(std::atol(item.c_str()));
            }
        } else if (arg == "--repetitions" && has_value) {
            options.repetitions = std::atoi(argv[++k]);
        } else if (arg == "--seed" && has_value) {
            options.seed = static_cast<unsigned>(std::atol(argv[++k]));
        } else if (arg == "--kep-host" && has_value) {
            options.kep_host = argv[++k];
        } else if (arg == "--shape" && has_value) {
            options.shape = argv[++k];
        } else if (arg == "--serve") {
            options.serve = true;
        } else if (arg == "--rounds" && has_value) {
            options.rounds = std::atoi(argv[++k]);
        } else if (arg == "--profile") {
            options.profile = true;
        } else if (arg == "--records" && has_value) {
            options.records = argv[++k];
        } else {
            std::cerr << "usage: scale_bench [--lines N | --sizes N,N,...] [--repetitions R] [--seed S]"
                         " [--kep-host PATH] [--shape 'GENERATE OPTIONS'] [--records FILE] [--rounds R] "
                         "[--profile]\n";
            return 2;
        }
    }
    try {
        if (options.lines > 0) {
            const ordered_json record = scale_bench::run_size(options);
            if (!options.serve) {
                std::cout << record.dump() << '\n';
            }
            return 0;
        }
        return scale_bench::run_all(options);
    } catch (const std::exception& e) {
        std::cerr << "scale_bench: " << e.what() << '\n';
        return 1;
    }
}
