// The report of all sizes: the tables and sentences of the scale section of docs/performance.md,
// made from the records of every size.
#include <sstream>
#include <string>
#include <vector>

#include "scale_bench.h"

using nlohmann::ordered_json;

namespace scale_bench {

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

}  // namespace scale_bench
