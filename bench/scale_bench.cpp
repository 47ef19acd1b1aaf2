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
#include "standin/control.h"

using nlohmann::ordered_json;

namespace {

// --- the platform operations under way ----------------------------------------------------------

constexpr int kMaxOps = 64;

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

PlatformTrack& track() {
    static PlatformTrack t;
    return t;
}

int op_index(const char* name) {
    PlatformTrack& t = track();
    t.names[t.op_count] = name;
    return t.op_count++;
}

void on_profiling_tick(int) {
    PlatformTrack& t = track();
    if (t.sampling == 0) {
        return;
    }
    if (t.depth > 0) {
        ++t.platform_samples;
        ++t.per_op[t.op];
    } else {
        ++t.extension_samples;
    }
}

// Brackets one platform operation called by the extension.
class PlatformScope {
public:
    explicit PlatformScope(int op) : counted_(track().on != 0) {
        if (counted_) {
            PlatformTrack& t = track();
            if (t.depth == 0) {
                t.op = op;
            }
            t.depth = t.depth + 1;
        }
    }
    ~PlatformScope() {
        if (counted_) {
            track().depth = track().depth - 1;
        }
    }
    PlatformScope(const PlatformScope&) = delete;
    PlatformScope& operator=(const PlatformScope&) = delete;

private:
    bool counted_;
};

// Brackets a callback from the platform into the extension: no platform operation is under way
// until it returns, except those it makes itself.
class ExtensionScope {
public:
    ExtensionScope() : saved_depth_(track().depth), saved_op_(track().op) { track().depth = 0; }
    ~ExtensionScope() {
        track().op = saved_op_;
        track().depth = saved_depth_;
    }
    ExtensionScope(const ExtensionScope&) = delete;
    ExtensionScope& operator=(const ExtensionScope&) = delete;

private:
    sig_atomic_t saved_depth_;
    sig_atomic_t saved_op_;
};

// The extension's methods and actions, each behind a trampoline of its own.
constexpr int kMaxCallbacks = 16;
std::array<METHOD_function_t, kMaxCallbacks> g_callbacks{};
int g_callback_count = 0;

template <int K>
int callback_trampoline(METHOD_message_t* message, va_list args) {
    ExtensionScope scope;
    return g_callbacks[K](message, args);
}

template <int... K>
constexpr std::array<METHOD_function_t, sizeof...(K)> make_trampolines(std::integer_sequence<int, K...>) {
    return {{&callback_trampoline<K>...}};
}
const std::array<METHOD_function_t, kMaxCallbacks> g_trampolines =
    make_trampolines(std::make_integer_sequence<int, kMaxCallbacks>());

METHOD_function_t behind_trampoline(METHOD_function_t fn) {
    if (fn == nullptr || g_callback_count == kMaxCallbacks) {
        if (fn != nullptr) {
            std::fprintf(stderr,
                         "scale_bench: more than %d callbacks; the extra ones count as platform time\n",
                         kMaxCallbacks);
        }
        return fn;
    }
    g_callbacks[static_cast<size_t>(g_callback_count)] = fn;
    return g_trampolines[static_cast<size_t>(g_callback_count++)];
}

}  // namespace

// The wrapped operations: __wrap_X is what the extension's reference to X reaches, __real_X the
// stand-in's X. The static_assert keeps each wrapper's signature equal to the declaration.
#define KEP_TRACKED(ret, name, params, args)                                              \
    extern "C" ret __real_##name params;                                                  \
    extern "C" ret __wrap_##name params;                                                  \
    static_assert(std::is_same<decltype(&__wrap_##name), decltype(&name)>::value, #name); \
    namespace {                                                                           \
    const int kOp_##name = op_index(#name);                                               \
    }                                                                                     \
    extern "C" ret __wrap_##name params {                                                 \
        PlatformScope scope(kOp_##name);                                                  \
        return __real_##name args;                                                        \
    }

KEP_TRACKED(int, AE_ask_all_dataset_named_refs,
            (tag_t d, const char n[AE_reference_size_c + 1], int* c, tag_t** r), (d, n, c, r))
KEP_TRACKED(int, AE_ask_dataset, (tag_t d, tag_t* v), (d, v))
KEP_TRACKED(int, AOM_ask_value_double, (tag_t o, const char* p, double* v), (o, p, v))
KEP_TRACKED(int, AOM_ask_value_string, (tag_t o, const char* p, char** v), (o, p, v))
KEP_TRACKED(int, AOM_ask_value_strings, (tag_t o, const char* p, int* n, char*** v), (o, p, n, v))
KEP_TRACKED(int, BOM_ask_window_top_line, (tag_t w, tag_t* t), (w, t))
KEP_TRACKED(int, BOM_line_ask_attribute_string, (tag_t l, int a, char** v), (l, a, v))
KEP_TRACKED(int, BOM_line_ask_attribute_tag, (tag_t l, int a, tag_t* v), (l, a, v))
KEP_TRACKED(int, BOM_line_ask_child_lines, (tag_t l, int* n, tag_t** c), (l, n, c))
KEP_TRACKED(int, BOM_line_ask_packed_lines, (tag_t l, int* n, tag_t** c), (l, n, c))
KEP_TRACKED(int, BOM_line_look_up_attribute, (const char* n, int* a), (n, a))
KEP_TRACKED(int, EMH_clear_errors, (void), ())
KEP_TRACKED(int, EMH_ask_errors, (int* n, const int** s, const int** f, const char*** t), (n, s, f, t))
KEP_TRACKED(int, GRM_find_relation_type, (const char* n, tag_t* t), (n, t))
KEP_TRACKED(int, GRM_list_secondary_objects_only, (tag_t p, tag_t r, int* n, tag_t** s), (p, r, n, s))
KEP_TRACKED(void*, MEM_alloc, (int n), (n))
KEP_TRACKED(void, MEM_free, (void* p), (p))
KEP_TRACKED(int, PREF_ask_char_value, (const char* n, int i, char** v), (n, i, v))
KEP_TRACKED(int, PREF_ask_char_values, (const char* n, int* c, char*** v), (n, c, v))
KEP_TRACKED(int, PREF_ask_search_scope, (TC_preference_search_scope_t * s), (s))
KEP_TRACKED(int, PREF_ask_value_count, (const char* n, int* c), (n, c))
KEP_TRACKED(int, PREF_set_search_scope, (TC_preference_search_scope_t s), (s))
KEP_TRACKED(int, TCTYPE_ask_name, (tag_t t, char n[TCTYPE_name_size_c + 1]), (t, n))
KEP_TRACKED(int, TCTYPE_ask_object_type, (tag_t o, tag_t* t), (o, t))
KEP_TRACKED(int, USERARG_get_double_argument, (double* v), (v))
KEP_TRACKED(int, USERARG_get_double_array_argument, (int* n, double** v), (n, v))
KEP_TRACKED(int, USERARG_get_tag_argument, (tag_t * v), (v))
KEP_TRACKED(int, USERARG_get_tag_array_argument, (int* n, tag_t** v), (n, v))
KEP_TRACKED(int, USERSERVICE_return_tag_array, (const tag_t* a, int n, USERSERVICE_array_t* r), (a, n, r))

// Registrations: the extension's functions go behind trampolines that mark the callbacks.
extern "C" int __real_METHOD_register_prop_method(const char* type_name, const char* property_name,
                                                  const char* msg_name, METHOD_function_t base_action,
                                                  TC_argument_list_t* user_args, METHOD_id_t* method_id);
extern "C" int __wrap_METHOD_register_prop_method(const char* type_name, const char* property_name,
                                                  const char* msg_name, METHOD_function_t base_action,
                                                  TC_argument_list_t* user_args, METHOD_id_t* method_id) {
    return __real_METHOD_register_prop_method(type_name, property_name, msg_name,
                                              behind_trampoline(base_action), user_args, method_id);
}
extern "C" int __real_METHOD_add_action(METHOD_id_t method_id, METHOD_action_type_t action_type,
                                        METHOD_function_t action_handler, TC_argument_list_t* user_args);
extern "C" int __wrap_METHOD_add_action(METHOD_id_t method_id, METHOD_action_type_t action_type,
                                        METHOD_function_t action_handler, TC_argument_list_t* user_args) {
    return __real_METHOD_add_action(method_id, action_type, behind_trampoline(action_handler), user_args);
}
static_assert(std::is_same<decltype(&__wrap_METHOD_register_prop_method),
                           decltype(&METHOD_register_prop_method)>::value,
              "METHOD_register_prop_method");
static_assert(std::is_same<decltype(&__wrap_METHOD_add_action), decltype(&METHOD_add_action)>::value,
              "METHOD_add_action");

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

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0.0 : v.size() % 2 ? v[v.size() / 2] : 0.5 * (v[v.size() / 2 - 1] + v[v.size() / 2]);
}

// --- one size -------------------------------------------------------------------------------------

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

std::string fixed(double v, int digits);

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
    char site_path[] = "/tmp/scale_bench_site_XXXXXX";
    const int site_fd = mkstemp(site_path);
    if (site_fd < 0 || write(site_fd, text.data(), text.size()) != static_cast<ssize_t>(text.size()) ||
        close(site_fd) != 0) {
        throw std::runtime_error(std::string("cannot write the site to ") + site_path);
    }
    struct RemoveFile {
        const char* path;
        ~RemoveFile() { unlink(path); }
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

// --- all sizes ------------------------------------------------------------------------------------

std::string self_path() {
    std::vector<char> buf(4096);
    const ssize_t n = readlink("/proc/self/exe", buf.data(), buf.size() - 1);
    return n > 0 ? std::string(buf.data(), static_cast<size_t>(n)) : std::string("scale_bench");
}

std::string fixed(double v, int digits) {
    std::ostringstream out;
    out.setf(std::ios::fixed);
    out.precision(digits);
    out << v;
    return out.str();
}

std::string thousands(long v) {
    std::string digits = std::to_string(v), out;
    for (size_t k = 0; k < digits.size(); ++k) {
        if (k > 0 && (digits.size() - k) % 3 == 0) {
            out += ',';
        }
        out += digits[k];
    }
    return out;
}

std::string mb(long kb) { return thousands((kb + 512) / 1024); }

double ratio_of(const std::vector<ordered_json>& records, size_t from, size_t to, size_t search,
                const char* field) {
    return records[to]["searches"][search][field].get<double>() /
           records[from]["searches"][search][field].get<double>();
}

std::string report(const std::vector<ordered_json>& records) {
    std::ostringstream out;
    const int repetitions = records.front()["repetitions"].get<int>();
    out << "Sites from `kep-host generate --lines N --seed " << records.front()["seed"].get<unsigned>() << " "
        << records.front()["shape"].get<std::string>() << "`. Medians of " << repetitions
        << " runs per search";
    for (const ordered_json& r : records) {
        if (r["repetitions"].get<int>() != repetitions) {
            out << " (" << r["repetitions"].get<int>() << " at " << thousands(r["lines"].get<long>())
                << " lines)";
        }
    }
    out << ", each after a first search of the process.\n\n";
    out << "| lines | search | path | found | wall (s) | processor (s) | platform calls per line "
           "| of them MEM_alloc, MEM_free | extension's share | peak memory added (MB) |\n"
        << "|---:|---|---|---:|---:|---:|---:|---:|---:|---:|\n";
    for (const ordered_json& r : records) {
        const long lines = r["lines"].get<long>();
        for (const ordered_json& s : r["searches"]) {
            const double wall = s["wall_s"].get<double>(), cpu = s["cpu_s"].get<double>();
            out << "| " << thousands(lines) << " | " << s["search"].get<std::string>() << " | "
                << s["path"].get<std::string>() << " | " << s["found"].get<long>() << " | "
                << fixed(wall, wall < 1 ? 3 : 1) << " | " << fixed(cpu, cpu < 1 ? 3 : 1) << " | "
                << fixed(static_cast<double>(s["calls"].get<long>()) / static_cast<double>(lines), 1) << " | "
                << fixed(static_cast<double>(s["memory_calls"].get<long>()) / static_cast<double>(lines), 1)
                << " | " << fixed(100 * s["extension_share"].get<double>(), 1) << " ± "
                << fixed(100 * s["extension_share_error"].get<double>(), 1) << " % | "
                << mb(s["peak_extra_kb"].get<long>()) << " |\n";
        }
    }
    out << "\nThe two paths side by side (economical: each platform question once per search; literal: "
           "forced, as with a switch on). Calls per line without `MEM_alloc` and `MEM_free` in brackets. "
           "The modelled server time is a model, not a measurement: the search's platform calls weighted "
           "by the cost table above.\n\n"
        << "| lines | search | calls per line: literal | economical | processor (s): literal | economical "
           "| economical / literal | modelled server time (s): literal | economical |\n"
        << "|---:|---|---:|---:|---:|---:|---:|---:|---:|\n";
    for (const ordered_json& r : records) {
        const ordered_json& list = r["searches"];
        const size_t half = list.size() / 2;
        const double lines = r["lines"].get<double>();
        const auto per_line = [&](const ordered_json& x) {
            const double calls = x["calls"].get<double>(), memory = x["memory_calls"].get<double>();
            return fixed(calls / lines, 1) + " (" + fixed((calls - memory) / lines, 1) + ")";
        };
        for (size_t k = 0; k < half; ++k) {
            const ordered_json& e = list[k];
            const ordered_json& l = list[k + half];
            const double cpu_e = e["cpu_s"].get<double>(), cpu_l = l["cpu_s"].get<double>();
            out << "| " << thousands(r["lines"].get<long>()) << " | " << e["search"].get<std::string>()
                << " | " << per_line(l) << " | " << per_line(e) << " | " << fixed(cpu_l, cpu_l < 1 ? 3 : 2)
                << " | " << fixed(cpu_e, cpu_e < 1 ? 3 : 2) << " | " << fixed(cpu_e / cpu_l, 2) << " | "
                << fixed(l["modelled_server_s"].get<double>(), 1) << " | "
                << fixed(e["modelled_server_s"].get<double>(), 1) << " |\n";
        }
    }
    if (records.back().contains("whole_host")) {
        out << "\nThe whole `kep-host --site FILE volume-search ...` (load and one volume search, switches "
               "off, "
               "in a process of its own): processor time (user and system) and peak resident size.\n\n"
            << "| lines | processor (s) | peak memory (MB) |\n|---:|---:|---:|\n";
        for (const ordered_json& r : records) {
            out << "| " << thousands(r["lines"].get<long>()) << " | "
                << fixed(r["whole_host"]["cpu_s"].get<double>(), 2) << " | "
                << mb(r["whole_host"]["peak_kb"].get<long>()) << " |\n";
        }
    }
    out << "\n| lines | site file (MB) | generate (s) | generator peak (MB) | load (s) "
           "| load peak, site text included (MB) | resident after load (MB) | first search: processor (s) "
           "| first search: peak added (MB) |\n"
        << "|---:|---:|---:|---:|---:|---:|---:|---:|---:|\n";
    for (const ordered_json& r : records) {
        out << "| " << thousands(r["lines"].get<long>()) << " | "
            << thousands(r["site_bytes"].get<long>() >> 20) << " | "
            << fixed(r["generate_s"].get<double>(), 2) << " | " << mb(r["generate_peak_kb"].get<long>())
            << " | " << fixed(r["load_s"].get<double>(), 2) << " | " << mb(r["load_peak_kb"].get<long>())
            << " | " << mb(r["site_rss_kb"].get<long>()) << " | "
            << fixed(r["first_search"]["cpu_s"].get<double>(), 2) << " | "
            << mb(r["first_search"]["peak_extra_kb"].get<long>()) << " |\n";
    }
    // Growth of the whole search and of its two parts: the extension's own processor time (its
    // share of the processor time) and the time inside the platform's operations.
    if (records.size() > 1) {
        out << "\n| search | lines | growth: processor time | wall time | extension's own time "
               "| platform operations' time |\n|---|---|---:|---:|---:|---:|\n";
    }
    for (size_t s = 0; records.size() > 1 && s < records[0]["searches"].size(); ++s) {
        for (size_t k = 1; k < records.size(); ++k) {
            const ordered_json& before = records[k - 1]["searches"][s];
            const ordered_json& after = records[k]["searches"][s];
            const double own_before = before["cpu_s"].get<double>() * before["extension_share"].get<double>();
            const double own_after = after["cpu_s"].get<double>() * after["extension_share"].get<double>();
            const double platform_before = before["cpu_s"].get<double>() - own_before;
            const double platform_after = after["cpu_s"].get<double>() - own_after;
            out << "| " << before["search"].get<std::string>() << " (" << before["path"].get<std::string>()
                << ") | " << thousands(records[k - 1]["lines"].get<long>()) << " → "
                << thousands(records[k]["lines"].get<long>()) << " | "
                << fixed(ratio_of(records, k - 1, k, s, "cpu_s"), 1) << "× | "
                << fixed(ratio_of(records, k - 1, k, s, "wall_s"), 1) << "× | "
                << fixed(own_after / own_before, 1) << "× | " << fixed(platform_after / platform_before, 1)
                << "× |\n";
        }
    }
    if (records.back().contains("interleaved_growth")) {
        const ordered_json& g = records.back()["interleaved_growth"];
        out << "\nThe same growth measured with both sites loaded at once, in a process each: each search of "
               "the "
            << thousands(g["to"].get<long>()) << "-line site runs between two of the "
            << thousands(g["from"].get<long>())
            << "-line site, and its processor time is divided by the mean of theirs, so that the "
               "machine's drift over minutes cancels. "
            << g["rounds"].get<int>() << " rounds.\n\n"
            << "| search | growth " << thousands(g["from"].get<long>()) << " → "
            << thousands(g["to"].get<long>()) << ", median | least | most |\n|---|---:|---:|---:|\n";
        for (size_t s = 0; s < g["searches"].size(); ++s) {
            const ordered_json& r = g["searches"][s];
            out << "| " << records.back()["searches"][s]["search"].get<std::string>() << " (economical) | "
                << fixed(r["median"].get<double>(), 1) << "× | " << fixed(r["least"].get<double>(), 1)
                << "× | " << fixed(r["most"].get<double>(), 1) << "× |\n";
        }
    }
    if (records.back().contains("abs_transform")) {
        const ordered_json& rows = records.back()["abs_transform"];
        out << "\nPlatform calls of one read of `bl_plmxml_abs_xform` at the bottom of a chain of lines "
               "whose top "
               "line hosts a representation (without `MEM_alloc` and `MEM_free` in brackets):\n\n"
            << "| depth | literal | economical |\n|---:|---:|---:|\n";
        for (const ordered_json& row : rows) {
            out << "| " << row["depth"].get<int>() << " | ";
            for (const char* path : {"literal", "economical"}) {
                out << thousands(row[path]["calls"].get<long>()) << " ("
                    << thousands(row[path]["without_memory"].get<long>()) << ") | ";
            }
            out << "\n";
        }
        if (rows.size() == 4) {
            for (const char* path : {"literal", "economical"}) {
                out << (path[0] == 'l' ? "\nFrom depth 10 to 40: " : ", ") << path << " "
                    << fixed(rows[3][path]["calls"].get<double>() / rows[1][path]["calls"].get<double>(), 1)
                    << "×";
            }
            out << ".\n";
        }
    }
    const ordered_json& largest = records.back()["searches"][0];
    out << "\nPlatform operations with the largest shares of the volume search's processor time (economical "
           "path) at "
        << thousands(records.back()["lines"].get<long>()) << " lines: ";
    bool first = true;
    for (const ordered_json& op : largest["top_ops"]) {
        out << (first ? "" : ", ") << "`" << op[0].get<std::string>() << "` "
            << fixed(100 * op[1].get<double>(), 1) << " %";
        first = false;
    }
    out << ".\n";
    return out.str();
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

}  // namespace

int main(int argc, char** argv) {
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
            const ordered_json record = run_size(options);
            if (!options.serve) {
                std::cout << record.dump() << '\n';
            }
            return 0;
        }
        return run_all(options);
    } catch (const std::exception& e) {
        std::cerr << "scale_bench: " << e.what() << '\n';
        return 1;
    }
}
