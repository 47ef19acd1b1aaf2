// The interactive page of a search (page.h).
#include "page.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <set>

namespace kep_host {

namespace {

// Six significant digits: a micrometre at the scale of a car, and a short page (whole numbers
// are written without a decimal point).
nlohmann::ordered_json rounded(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.6g", value);
    const double v = std::strtod(text, nullptr);
    if (std::isfinite(v) && std::fabs(v) < 1e15 && v == std::floor(v)) {
        return static_cast<long long>(v);
    }
    return v;
}

nlohmann::ordered_json triple(const Vec3& v) {
    return nlohmann::ordered_json::array({rounded(v[0]), rounded(v[1]), rounded(v[2])});
}

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
        axes.push_back(triple({line.axes[3 * k], line.axes[3 * k + 1], line.axes[3 * k + 2]}));
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
    std::vector<std::string> paths;
    paths.reserve(scene.lines.size());
    nlohmann::ordered_json lines = nlohmann::ordered_json::array();
    for (const SceneLine& line : scene.lines) {
        paths.push_back(line.parent >= 0 ? paths[static_cast<size_t>(line.parent)] + "/" + line.id : line.id);
        nlohmann::ordered_json l;
        l["id"] = line.id;
        l["name"] = line.name;
        l["path"] = paths.back();
        l["found"] = scene.has_query ? line.found : found.count(line.id) != 0;
        l["search_box"] = line.has_box ? line_box(line) : nlohmann::ordered_json();
        l["reason"] = line.has_box ? nlohmann::ordered_json() : nlohmann::ordered_json(line.reason);
        l["box_dataset"] = line.box_datasets.empty() ? nlohmann::ordered_json()
                                                     : nlohmann::ordered_json(line.box_datasets[0]);
        if (line.has_box) {
            l["source"] = line.box_from;
        }
        if (!line.placed_by.empty()) {
            l["placed_by"] = line.placed_by;
        }
        if (scene.has_query) {
            l["tests"] = line.why.empty() ? nlohmann::ordered_json(line.tests)
                                          : nlohmann::ordered_json::array({line.why});
        }
        lines.push_back(std::move(l));
    }
    nlohmann::ordered_json out;
    out["title"] = panel.title;
    if (!panel.focus.empty()) {
        out["focus"] = panel.focus;
    }
    out["query"] = std::move(query);
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
