// Benchmark of the explanation of one line against the search it explains, with the logging
// switches off: on a deep chain (the deepest line of chains of 1,000 to 5,000 levels) and on a
// wide generated site (lines at several depths of a site of 10^5 lines). The search is the volume
// search over all of space, which walks the whole window as every search does; the explanation is
// kep_explain_line of the line with a query box, in the JSON form. Prints a Markdown table with
// the processor times of one run each and their ratio, for docs/performance.md.
//
// Usage: explain_bench [--depths 1000,2000,5000] [--lines 100000]
#include <sys/resource.h>
#include <time.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <stdexcept>
#include <string>
#include <vector>

#include "kep_deep_site.h"
#include "kep_explain.h"
#include "registration/kep_registration.h"
#include "standin/control.h"

namespace {

// Processor time of this thread, in seconds.
double cpu_seconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

void start(const std::string& text, const char* name) {
    std::string error;
    if (!standin::load_site(text, name, &error)) {
        throw std::runtime_error(error);
    }
    for (const char* env : {"ZODORE_DEBUG", "ZODORE_SYSLOG", "ZODORE_ITKLOG"}) {
        standin::hide_env(env);
    }
    // The chain defines no type that the run-time property's registration needs: its exit fails
    // there, after the line methods and the services are registered, which is all that counts here.
    (void)kep_register_callbacks();
    (void)standin::run_all_exits();
}

// The volume search over all of space: its processor time.
double search_seconds(tag_t window) {
    standin::UserArg w;
    w.kind = standin::UserArg::Tag;
    w.tag = window;
    standin::UserArg delta;
    delta.kind = standin::UserArg::Double;
    delta.value = 0.0;
    standin::UserArg box;
    box.kind = standin::UserArg::DoubleArray;
    box.doubles = {-1e6, -1e6, -1e6, 1e6, 1e6, 1e6};
    std::vector<tag_t> found;
    bool handed_back = false;
    const double t0 = cpu_seconds();
    const int status =
        standin::call_service("kep_userservice_volume_search", {w, delta, box}, &found, &handed_back);
    const double t = cpu_seconds() - t0;
    if (status != 0) {
        throw std::runtime_error("the search failed");
    }
    return t;
}

// The explanation of `line` against the same query: its processor time.
double explain_seconds(tag_t line) {
    kep_explain_query_t query{};
    query.kind = KEP_EXPLAIN_QUERY_BOX;
    const double box[6] = {-1e6, -1e6, -1e6, 1e6, 1e6, 1e6};
    std::memcpy(query.box, box, sizeof box);
    char* text = nullptr;
    const double t0 = cpu_seconds();
    const int status = kep_explain_line(line, &query, KEP_EXPLAIN_JSON, &text);
    const double t = cpu_seconds() - t0;
    MEM_free(text);
    if (status != 0) {
        throw std::runtime_error("the explanation failed");
    }
    return t;
}

void row(const std::string& what, double search, double explain) {
    char text[256];
    std::snprintf(text, sizeof text, "| %s | %.3f | %.3f | %.1f |", what.c_str(), search, explain,
                  search > 0 ? explain / search : 0.0);
    std::cout << text << '\n';
}

std::vector<int> numbers(const char* text) {
    std::vector<int> out;
    for (const char* p = text; *p != '\0';) {
        char* end = nullptr;
        out.push_back(static_cast<int>(std::strtol(p, &end, 10)));
        p = *end == ',' ? end + 1 : end;
    }
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<int> depths = {1000, 2000, 5000};
    int lines = 100000;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--depths") == 0) {
            depths = numbers(argv[i + 1]);
        } else if (std::strcmp(argv[i], "--lines") == 0) {
            lines = std::atoi(argv[i + 1]);
        }
    }
    // The walk recurses once per level: room for the deepest chain.
    rlimit stack{};
    if (getrlimit(RLIMIT_STACK, &stack) == 0 && stack.rlim_cur != RLIM_INFINITY &&
        stack.rlim_cur < (512u << 20)) {
        std::cerr << "explain_bench: run with a larger stack (ulimit -s unlimited) for chains of thousands\n";
    }
    try {
        std::cout << "| Line | Search (s) | Explanation (s) | Ratio |\n|---|---|---|---|\n";
        for (const int depth : depths) {
            start(kep_test::deep_chain_site(depth), "deep chain");
            const double search = search_seconds(standin::tag_of("w1"));
            const double explain = explain_seconds(standin::tag_of("l" + std::to_string(depth)));
            row("deepest line of a chain of " + std::to_string(depth) + " levels", search, explain);
        }
        const std::string file = "explain_bench_site.json";
        const std::string command = std::string(KEP_HOST_PATH) + " generate --lines " +
                                    std::to_string(lines) + " --seed 1 --depth 5 --fanout 10 > " + file;
        if (std::system(command.c_str()) != 0) {
            throw std::runtime_error("kep-host generate failed");
        }
        std::string text;
        if (FILE* f = std::fopen(file.c_str(), "rb")) {
            char chunk[65536];
            size_t n;
            while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0) {
                text.append(chunk, n);
            }
            std::fclose(f);
        }
        std::remove(file.c_str());
        start(text, "generated site");
        const double search = search_seconds(standin::tag_of("w1"));
        // Lines at each depth: the first, a middle and the last line of the site in id order.
        std::vector<std::pair<std::string, tag_t>> picked;
        const auto ids = standin::all_ids();
        std::vector<std::pair<std::string, tag_t>> site_lines;
        for (const auto& entry : ids) {
            if (standin::kind_of(entry.second) == "BOMLine") {
                site_lines.push_back(entry);
            }
        }
        for (const size_t at : {size_t{0}, site_lines.size() / 2, site_lines.size() - 1}) {
            if (at < site_lines.size()) {
                picked.push_back(site_lines[at]);
            }
        }
        for (const auto& line : picked) {
            row("line " + line.first + " of a site of " + std::to_string(lines) + " lines", search,
                explain_seconds(line.second));
        }
    } catch (const std::exception& e) {
        std::cerr << "explain_bench: " << e.what() << '\n';
        return 1;
    }
    return 0;
}
