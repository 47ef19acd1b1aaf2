// The interactive page of a search (page.h).
#include "page.h"

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <set>

namespace kep_host {

namespace {

// Six significant digits: a micrometre at the scale of a car, and a short page (whole numbers
// are written without a decimal point). Directions take four: a tenth of a millimetre over a
// box of a metre, more than the drawing needs.
nlohmann::ordered_json rounded(double value, int digits = 6) {
    char text[32];
    std::snprintf(text, sizeof text, "%.*g", digits, value);
    const double v = std::strtod(text, nullptr);
    if (std::isfinite(v) && std::fabs(v) < 1e15 && v == std::floor(v)) {
        return static_cast<long long>(v);
    }
    return v;
}

nlohmann::ordered_json triple(const Vec3& v, int digits = 6) {
    return nlohmann::ordered_json::array(
        {rounded(v[0], digits), rounded(v[1], digits), rounded(v[2], digits)});
}

// The directions of the three axes.
const int kAxisDigits = 4;

// The extension's texts shown on the page ("source", "tests"), each pattern kept once: a text is
// written as [pattern, part, ...], its pattern being the pieces around the parts that vary from
// line to line (each run of letters, digits and "._+-" of three characters or more that holds a
// digit: lengths such as "60.6" or "1540", ids such as "dp36759") and the parts, as written, the
// text's own. The page puts each text back together exactly: the pieces, whatever they hold, with
// the parts between them.
class Words {
public:
    nlohmann::ordered_json add(const std::string& text) {
        std::string pattern;  // the pieces, each ended by a NUL (which no text holds)
        nlohmann::ordered_json out = nlohmann::ordered_json::array({0});
        size_t piece = 0;
        for (size_t i = 0; i < text.size();) {
            if (!in_part(text[i])) {
                ++i;
                continue;
            }
            size_t end = i;
            bool digit = false;
            for (; end < text.size() && in_part(text[end]); ++end) {
                digit = digit || (text[end] >= '0' && text[end] <= '9');
            }
            if (digit && end - i >= 3) {
                pattern.append(text, piece, i - piece).push_back('\0');
                out.push_back(text.substr(i, end - i));
                piece = end;
            }
            i = end;
        }
        pattern.append(text, piece, std::string::npos).push_back('\0');
        auto at = index_.find(pattern);
        if (at == index_.end()) {
            nlohmann::ordered_json pieces = nlohmann::ordered_json::array();
            for (size_t from = 0; from < pattern.size();) {
                const size_t nul = pattern.find('\0', from);
                pieces.push_back(pattern.substr(from, nul - from));
                from = nul + 1;
            }
            list_.push_back(std::move(pieces));
            at = index_.emplace(pattern, list_.size() - 1).first;
        }
        out[0] = at->second;
        return out;
    }
    nlohmann::ordered_json take() { return std::move(list_); }

private:
    static bool in_part(char c) {
        return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '.' || c == '_' || c == '+' ||
               c == '-';
    }

    std::map<std::string, size_t> index_;
    nlohmann::ordered_json list_ = nlohmann::ordered_json::array();
};

// An oriented box as the search sees it: the box's centre placed, the placement's three axes and
// the half extents along them.
nlohmann::ordered_json search_box(const Box& box, const Transform& placement) {
    Vec3 centre;
    Vec3 half;
    for (int k = 0; k < 3; ++k) {
        centre[k] = (box.lo[k] + box.hi[k]) / 2;
        half[k] = (box.hi[k] - box.lo[k]) / 2;
    }
    nlohmann::ordered_json axes = nlohmann::ordered_json::array();
    for (int k = 0; k < 3; ++k) {
        axes.push_back(triple({placement.m[0][k], placement.m[1][k], placement.m[2][k]}));
    }
    nlohmann::ordered_json out;
    out["centre"] = triple(placement.apply(centre));
    out["axes"] = std::move(axes);
    out["half_extents"] = triple(half);
    return out;
}

// A line's box where the search sees it, as the extension's account gives it.
nlohmann::ordered_json line_box(const SceneLine& line) {
    nlohmann::ordered_json axes = nlohmann::ordered_json::array();
    for (size_t k = 0; k < 3; ++k) {
        axes.push_back(triple({line.axes[3 * k], line.axes[3 * k + 1], line.axes[3 * k + 2]}, kAxisDigits));
    }
    nlohmann::ordered_json out;
    out["centre"] = triple(line.centre);
    out["axes"] = std::move(axes);
    out["half_extents"] = triple(line.half);
    return out;
}

}  // namespace

nlohmann::ordered_json page_scene(const SearchPanel& panel) {
    const Scene& scene = *panel.scene;
    nlohmann::ordered_json query;
    query["kind"] = panel.query_kind;
    if (panel.query_kind == "box" && panel.query_box.size() == 6) {
        const std::vector<double>& b = panel.query_box;
        query["box"] = nlohmann::ordered_json::array();
        for (double v : b) {
            query["box"].push_back(rounded(v));
        }
        Box box;
        box.lo = {b[0], b[1], b[2]};
        box.hi = {b[3], b[4], b[5]};
        query["search_box"] = search_box(box, Transform());
    }
    if (panel.query_kind == "near") {
        query["near"] = panel.selected;
    }
    query["delta_mm"] = rounded(panel.delta_mm);

    const std::set<std::string> found(panel.found.begin(), panel.found.end());
    Words words;
    nlohmann::ordered_json lines = nlohmann::ordered_json::array();
    for (const SceneLine& line : scene.lines) {
        nlohmann::ordered_json l;
        l["id"] = line.id;
        l["name"] = line.name;
        l["parent"] = line.parent;
        l["found"] = scene.has_query ? line.found : found.count(line.id) != 0;
        l["search_box"] = line.has_box ? line_box(line) : nlohmann::ordered_json();
        l["reason"] = line.has_box ? nlohmann::ordered_json() : nlohmann::ordered_json(line.reason);
        if (!line.has_box) {
            l["reasons"] = line.reasons;
        }
        l["box_dataset"] = line.box_datasets.empty() ? nlohmann::ordered_json()
                                                     : nlohmann::ordered_json(line.box_datasets[0]);
        if (line.has_box) {
            l["source"] = words.add(line.box_from);
        }
        if (!line.placed_by.empty()) {
            l["placed_by"] = line.placed_by;
        }
        if (scene.has_query) {
            nlohmann::ordered_json tests = nlohmann::ordered_json::array();
            for (const std::string& t : line.why.empty() ? line.tests : std::vector<std::string>{line.why}) {
                tests.push_back(words.add(t));
            }
            l["tests"] = std::move(tests);
        }
        lines.push_back(std::move(l));
    }
    nlohmann::ordered_json out;
    out["title"] = panel.title;
    if (!panel.focus.empty()) {
        out["focus"] = panel.focus;
    }
    out["query"] = std::move(query);
    out["words"] = words.take();
    out["lines"] = std::move(lines);
    return out;
}

std::string json_for_script(const nlohmann::ordered_json& scene) {
    const std::string text = scene.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
    std::string out;
    out.reserve(text.size() + text.size() / 64);
    for (char c : text) {
        // Outside strings JSON has none of these; inside, the escape reads as the same character.
        switch (c) {
            case '<':
                out += "\\u003c";
                break;
            case '>':
                out += "\\u003e";
                break;
            case '&':
                out += "\\u0026";
                break;
            default:
                out += c;
        }
    }
    return out;
}

std::string page_text(const nlohmann::ordered_json& scene) {
    std::string out;
    for (const char* const* piece = kPageBefore; *piece != nullptr; ++piece) {
        out += *piece;
    }
    out += "<script type=\"application/json\" id=\"kep-scene\">";
    out += json_for_script(scene);
    out += "</script>";
    for (const char* const* piece = kPageAfter; *piece != nullptr; ++piece) {
        out += *piece;
    }
    return out;
}

void require_writable_html(const std::string& command, const std::string& path) {
    // Opened for appending, which neither truncates nor changes a file that is there.
    std::ofstream probe(path, std::ios::binary | std::ios::app);
    if (!probe) {
        throw UsageError(command + ": --html: cannot write '" + path + "': " + std::strerror(errno));
    }
}

bool write_page_file(const std::string& path, const SearchPanel& panel, std::string* error) {
    const std::string text = page_text(page_scene(panel));
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    out.close();
    if (!out) {
        *error = "cannot write '" + path + "'";
        return false;
    }
    return true;
}

}  // namespace kep_host
