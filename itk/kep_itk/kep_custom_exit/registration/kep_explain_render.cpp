// The two renderings of the account of one line (kep_explain_account.h): text for people and
// one JSON object for tools.
#include <stdio.h>

#include <cmath>
#include <cstdlib>
#include <cstring>

#include "base/kep_number_text.h"
#include "registration/kep_explain_account.h"

KEP_EXPLAIN_NAMESPACE_BEGIN
namespace {

Str number(double value) {
    Str text;
    append_number(text, value);
    return text;
}

// A number for JSON: one beyond the range of a double, or no number at all, is null.
Str json_number(double value) { return std::isfinite(value) ? number(value) : Str("null"); }

// A length in millimetres for people, also when it is beyond the range of a double.
Str length_text(double mm) {
    if (std::isnan(mm)) {
        return "a length that is not a number";
    }
    return std::isinf(mm) ? Str("more than 1.8e308 mm, beyond the range of a double") : number(mm) + " mm";
}

// A distance in millimetres for people, rounded up to nine digits: a search at the number shown
// finds what a search at the exact one finds.
Str length_up_text(double mm) {
    char text[kep::kNumberTextSize];
    kep::format_9g(mm, text);
    double shown = 0;
    if (!kep::short_decimal_value(text, &shown)) {
        // A text with an exponent, or a rounding mode other than to nearest: read back as printf
        // writes it in the process locale.
        char printed[kep::kNumberTextSize];
        snprintf(printed, sizeof printed, "%.9g", mm);
        shown = std::strtod(printed, nullptr);
    }
    if (shown < mm) {
        const double step = std::pow(10.0, std::floor(std::log10(std::fabs(mm))) - 8);
        kep::format_9g(shown + step, text);
    }
    return Str(text) + " mm";
}

// The exact value of a double for JSON, so that a search at it does what the explanation says.
Str json_exact(double value) {
    char text[40];
    snprintf(text, sizeof text, "%.17g", value);
    kep::c_decimal_point(text, static_cast<int>(strlen(text)));
    return std::isfinite(value) ? Str(text) : Str("null");
}

// The smallest distance of the tests that do not find the line, or none (not finite).
const Verdict* least_needed(const Explanation& e) {
    const Verdict* least = nullptr;
    for (const Verdict& v : e.verdicts) {
        if (v.tested && !v.report.overlap && v.needed.reachable &&
            (least == nullptr || v.needed.value < least->needed.value)) {
            least = &v;
        }
    }
    return least;
}

}  // namespace

Str numbers(const double* values, int count, const char* separator) {
    Str text;
    for (int i = 0; i < count; ++i) {
        if (i != 0) {
            text += separator;
        }
        append_number(text, values[i]);
    }
    return text;
}

Str level_name(const Level& l) {
    return l.item_id + (l.occurrence_name.empty() ? "" : " (" + l.occurrence_name + ")");
}

Str named(const Explanation& e, const Str& text) {
    if (text.find('@') == Str::npos) {
        return text;
    }
    Str out;
    size_t i = 0;
    while (i < text.size()) {
        if (text[i] == '@' && i + 1 < text.size() && text[i + 1] >= '0' && text[i + 1] <= '9') {
            size_t j = i + 1;
            while (j < text.size() && text[j] >= '0' && text[j] <= '9') {
                ++j;
            }
            const tag_t tag =
                static_cast<tag_t>(std::strtoul(text.substr(i + 1, j - i - 1).c_str(), nullptr, 10));
            auto it = e.names.find(tag);
            out += (it != e.names.end() && !it->second.empty() ? "'" + it->second + "' " : Str()) + "(tag " +
                   tag_text(tag) + ")";
            i = j;
        } else {
            // Up to the next mark, whole.
            size_t next = text.find('@', i + 1);
            if (next == Str::npos) {
                next = text.size();
            }
            out.append(text, i, next - i);
            i = next;
        }
    }
    return out;
}

Str reasons_json(const Explanation& e) {
    Str out = "[";
    for (size_t i = 0; !e.box.has_box && i < e.box.reasons.size(); ++i) {
        out += (i == 0 ? "" : ", ") + quoted(named(e, e.box.reasons[i]));
    }
    return out + "]";
}

namespace {

// Beside the reasons of a line without a box: the objects related to its revision with their
// types, and the preferences the lookup read, each quoted so that a blank at either end shows.
Str no_box_context(const Explanation& e) {
    if (!e.box.related_seen || e.related_types.size() != e.box.related.size()) {
        return "";
    }
    Str related;
    for (size_t i = 0; i < e.box.related.size(); ++i) {
        auto it = e.names.find(e.box.related[i]);
        related += (i == 0 ? "" : ", ") + Str("\"") + (it != e.names.end() ? it->second : Str()) +
                   "\" of type \"" + e.related_types[i] + "\"";
    }
    Str configured;
    for (const auto& p : e.box.preferences) {
        configured += (configured.empty() ? "" : ", ") + p.first + " " +
                      (p.second.empty() ? Str("(not set)") : "\"" + p.second + "\"");
    }
    return "  objects related to the revision: " + (related.empty() ? Str("none") : related) + "\n" +
           "  preferences read: " + (configured.empty() ? Str("none") : configured) + "\n";
}

// Where a level's occurrence transform comes from, as the walk read bl_plmxml_occ_xform.
Str source_text(const Explanation& e, const Placement& p) {
    // A value that is absent is no unreadable text: the level is placed at the identity all the same.
    const Str identity = !p.unreadable ? Str()
                         : p.has_text  ? "; identity, because the text is unreadable: [" + p.text + "]"
                                       : Str("; there is none, so the identity");
    if (!p.method_told) {
        // The search services are registered after the line methods: without this method there are
        // none, and the placement is the one a search would make.
        return "the platform's own value: the extension's bl_plmxml_occ_xform method is not registered (its "
               "registration failed, so the searches are not registered either), so no representation's "
               "entry replaces it; bl_plmxml_abs_xform may still apply one" +
               identity;
    }
    if (p.own_method && !p.has_text && p.source != "representation") {
        // The extension's own method starts from no value: a stored transform is never read.
        return "identity: the platform has no bl_plmxml_occ_xform method, and the extension's own method "
               "gives a value only for a child that its parent's representation lists" +
               (p.source == "kept" ? named(e, ", which representation @" + tag_text(p.dataset) + " does not")
                                   : Str()) +
               "; a transform stored on the line is not used";
    }
    Str text;
    if (p.source == "representation") {
        text = named(e, "representation @" + tag_text(p.dataset) + "'s entry for this child");
    } else if (p.source == "kept") {
        text = named(e, "the stored value, kept because representation @" + tag_text(p.dataset) +
                            " does not list this child");
    } else {
        text = "the stored value";
    }
    return text + identity;
}

// Where a box comes from: one dataset, or the union of the boxes of several, each named.
Str box_source(const BoxAccount& b) {
    if (b.datasets.size() < 2) {
        return "from dataset @" + tag_text(b.dataset);
    }
    Str text = "the union of the boxes of datasets ";
    for (size_t i = 0; i < b.datasets.size(); ++i) {
        text += (i == 0                       ? ""
                 : i + 1 == b.datasets.size() ? " and "
                                              : ", ") +
                Str("@") + tag_text(b.datasets[i]);
    }
    return text;
}

// Centre, axes and half extents of the line's box in the top line's coordinates, and its hull.
struct SearchBox {
    double centre[3];
    double axes[3][3];  // axes[k] is box axis k
    double half[3];
    double hull[6];
};

SearchBox search_box(const kep_object3d_t& o) {
    SearchBox s;
    const kep_bbox_t& b = o.bbox;
    const double c[3] = {(b.x1 + b.x2) / 2, (b.y1 + b.y2) / 2, (b.z1 + b.z2) / 2};
    s.half[0] = (b.x2 - b.x1) / 2;
    s.half[1] = (b.y2 - b.y1) / 2;
    s.half[2] = (b.z2 - b.z1) / 2;
    for (int r = 0; r < 3; ++r) {
        s.centre[r] = o.matrix[4 * r] * c[0] + o.matrix[4 * r + 1] * c[1] + o.matrix[4 * r + 2] * c[2] +
                      o.matrix[4 * r + 3];
        for (int k = 0; k < 3; ++k) {
            s.axes[k][r] = o.matrix[4 * r + k];
        }
    }
    for (int r = 0; r < 3; ++r) {
        double reach = 0;
        for (int k = 0; k < 3; ++k) {
            reach += std::fabs(s.axes[k][r] * s.half[k]);
        }
        s.hull[r] = s.centre[r] - reach;
        s.hull[3 + r] = s.centre[r] + reach;
    }
    return s;
}

}  // namespace

void append_verdict_text(Str& out, const Verdict& v) {
    if (!v.tested) {
        out += v.note;
        return;
    }
    const kep::OverlapReport& r = v.report;
    if (!r.finite) {
        out += "not found: a value of one of the boxes is not a finite number";
        return;
    }
    const auto axis = [&out](int a) {
        out += " (axis ";
        out += to_text(a);
        out += " of 15)";
    };
    if (r.overlap) {
        out += "found: the boxes overlap; the smallest overlap is ";
        out += length_text(r.distance / kMillimetresToBoxUnits);
        out += " along ";
        out += kep::overlap_axis_name(r.axis);
        axis(r.axis);
        return;
    }
    out += "not found: ";
    out += kep::overlap_axis_name(r.axis);
    axis(r.axis);
    out += " separates them by a gap of ";
    out += length_text(r.distance / kMillimetresToBoxUnits);
    if (!v.needed.reachable) {
        out += "; no distance within the range of a double finds it";
        return;
    }
    out += "; the search finds it from a distance of ";
    out += length_up_text(v.needed.value);
    out += " on, where the gap along ";
    out += kep::overlap_axis_name(v.needed.axis);
    axis(v.needed.axis);
    out += " closes last";
}

Str verdict_text(const Verdict& v) {
    Str text;
    append_verdict_text(text, v);
    return text;
}

void append_search_box(Str& out, const kep_object3d_t& object, bool whole) {
    const SearchBox s = search_box(object);
    out += "{\"centre\": ";
    append_json_numbers(out, s.centre, 3);
    out += ", \"axes\": [";
    for (int k = 0; k < 3; ++k) {
        if (k != 0) {
            out += ", ";
        }
        append_json_numbers(out, s.axes[k], 3);
    }
    out += "], \"half_extents\": ";
    append_json_numbers(out, s.half, 3);
    if (whole) {
        out += ", \"hull\": ";
        append_json_numbers(out, s.hull, 6);
        out += ", \"matrix\": ";
        append_json_numbers(out, object.matrix, 12);
    }
    out += '}';
}

Str search_box_json(const kep_object3d_t& object) {
    Str out;
    append_search_box(out, object, true);
    return out;
}

Str render_text(const Explanation& e) {
    Str out;
    const Level& self = e.path.back();
    out += "Line " + level_name(self) + ", tag " + tag_text(e.line) + "\n";
    Str path;
    for (const Level& l : e.path) {
        path += (path.empty() ? "" : " / ") + level_name(l);
    }
    out += "  path from the top line: " + path + "\n";
    out += "  revision: " + (e.revision == NULLTAG ? Str("none") : named(e, "@" + tag_text(e.revision))) +
           (e.revision_id.empty() ? "" : ", revision id " + e.revision_id) + "\n";
    out += Str("  packed line: ") + (e.packed ? "yes" : "no") + "\n";

    out += "\nIts box\n";
    for (const Str& s : e.box.steps) {
        out += "  " + named(e, s) + "\n";
    }
    if (e.box.has_box) {
        out += "  box: " + numbers(e.box.box, 6) + named(e, ", " + box_source(e.box)) + "\n";
    } else if (!e.not_walked.empty()) {
        out += "  not looked for: the search does not walk this line: " + named(e, e.not_walked) + "\n";
    } else {
        out += "  no box: " + named(e, e.box.reason) + "\n";
        for (size_t i = 1; i < e.box.reasons.size(); ++i) {
            out += "  and: " + named(e, e.box.reasons[i]) + "\n";
        }
        out += no_box_context(e);
    }

    out += "\nIts placement, from the top line down\n";
    for (size_t i = 0; i < e.path.size(); ++i) {
        const Level& l = e.path[i];
        if (i == 0) {
            out += "  " + level_name(l) + ": the top line, placed at the identity" +
                   (e.top_transform.empty() ? Str("")
                                            : "; the search leaves out its own transform [" +
                                                  e.top_transform + "], which bl_plmxml_abs_xform includes") +
                   "\n";
            continue;
        }
        auto it = e.placements.find(l.line);
        if (it == e.placements.end() || !it->second.met) {
            out += "  " + level_name(l) + ": " +
                   (e.not_walked.empty() ? Str("not reached by the walk")
                                         : "not walked: " + named(e, e.not_walked)) +
                   "\n";
            continue;
        }
        const Placement& p = it->second;
        out += "  " + level_name(l) + (p.packed ? " (packed)" : "") + ": " + source_text(e, p) + "\n";
        out += "    occurrence transform: " + (p.has_text ? "[" + p.text + "]" : Str("(none)")) + "\n";
        out += "    absolute transform:   [" + numbers(p.absolute, 16) + "] (row by row)\n";
    }
    out += "  bl_plmxml_abs_xform: " + (e.abs_xform_null ? Str("(null)") : "[" + e.abs_xform + "]") +
           (e.abs_status != 0 ? " (read failed with status " + to_text(e.abs_status) + ")" : "") + "\n";
    if (e.status != 0) {
        out += "  the search's call " + e.failed + " failed with status " + to_text(e.status) +
               "; a search hands nothing back\n";
    }

    out += "\nThe box where the search sees it (top line's coordinates)\n";
    if (e.object == nullptr) {
        out += "  none: the search does not see this line\n";
    } else {
        const SearchBox s = search_box(*e.object);
        out += "  centre (" + numbers(s.centre, 3, ", ") + "), half extents (" + numbers(s.half, 3, ", ") +
               ")\n";
        out += "  axes (" + numbers(s.axes[0], 3, ", ") + "), (" + numbers(s.axes[1], 3, ", ") + "), (" +
               numbers(s.axes[2], 3, ", ") + ")\n";
        out += "  axis-aligned hull (" + numbers(s.hull, 3, ", ") + ") - (" + numbers(s.hull + 3, 3, ", ") +
               ")\n";
    }

    if (e.has_query) {
        const kep_explain_query_t& q = *e.query;
        out += "\nQuery: ";
        if (q.kind == KEP_EXPLAIN_QUERY_BOX) {
            out += "volume search, box (" + numbers(q.box, 3, ", ") + ") - (" + numbers(q.box + 3, 3, ", ") +
                   "), delta " + number(q.delta_mm) + " mm\n";
        } else {
            out += "neighbourhood search, delta " + number(q.delta_mm) + " mm\n";
        }
        out += Str("  ") +
               (e.status != 0 ? "NO VERDICT"
                : e.found     ? "FOUND"
                              : "NOT FOUND") +
               (e.not_found_why.empty() ? "" : ": " + named(e, e.not_found_why)) + "\n";
        for (const Verdict& v : e.verdicts) {
            out += "  against " + named(e, v.against) +
                   " (A, enlarged by delta): " + named(e, verdict_text(v)) + "\n";
        }
        const Verdict* least = e.status == 0 && !e.found ? least_needed(e) : nullptr;
        if (least != nullptr) {
            out += "  needed: a distance of " + length_up_text(least->needed.value) + " finds it\n";
        }
    }
    return out;
}

Str render_json(const Explanation& e) {
    // Each level's pieces are appended one by one: the path and the chain are most of the text.
    Str out;
    out.reserve(1024 + e.path.size() * 512);
    out += "{\"line\": ";
    out += json_tag(e.line);
    out += ", \"path\": [";
    for (size_t i = 0; i < e.path.size(); ++i) {
        out += i == 0 ? "{\"line\": " : ", {\"line\": ";
        out += json_tag(e.path[i].line);
        out += ", \"item_id\": ";
        out += quoted(e.path[i].item_id);
        out += ", \"occurrence_name\": ";
        out += quoted(e.path[i].occurrence_name);
        out += "}";
    }
    out += "], \"revision\": " + json_tag(e.revision);
    out += ", \"packed\": " + Str(e.packed ? "true" : "false");
    out += ", \"box_path\": " + (e.box.path.empty() ? Str("null") : quoted(e.box.path));
    out += ", \"box_steps\": [";
    for (size_t i = 0; i < e.box.steps.size(); ++i) {
        out += (i == 0 ? "" : ", ") + quoted(named(e, e.box.steps[i]));
    }
    out += "], \"box_dataset\": " + (e.box.has_box ? json_tag(e.box.dataset) : Str("null"));
    out += ", \"box_datasets\": [";
    for (size_t i = 0; e.box.has_box && i < e.box.datasets.size(); ++i) {
        out += (i == 0 ? "" : ", ") + json_tag(e.box.datasets[i]);
    }
    out += "]";
    out += ", \"box\": " + (e.box.has_box ? json_numbers(e.box.box, 6) : Str("null"));
    out += ", \"reason\": " + (e.box.has_box ? Str("null") : quoted(named(e, e.box.reason)));
    out += ", \"reasons\": " + reasons_json(e);
    out += ", \"chain\": [";
    for (size_t i = 0; i < e.path.size(); ++i) {
        const Level& l = e.path[i];
        out += i == 0 ? "{\"line\": " : ", {\"line\": ";
        out += json_tag(l.line);
        if (i == 0) {
            out += ", \"source\": \"top line\", \"transform\": null, \"absolute\": " +
                   json_numbers(Vec<double>{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1}.data(), 16);
            out +=
                ", \"own_transform\": " + (e.top_transform.empty() ? Str("null") : quoted(e.top_transform));
            out += ", \"note\": " +
                   (e.top_transform.empty() ? Str("null")
                                            : Str("\"the search places the top line at the identity, "
                                                  "leaving out its own transform; "
                                                  "bl_plmxml_abs_xform includes it\"")) +
                   "}";
            continue;
        }
        auto it = e.placements.find(l.line);
        if (it == e.placements.end() || !it->second.met) {
            out += Str(", \"source\": ") +
                   (e.not_walked.empty() ? "\"not reached by the walk\"" : "\"not walked\"") +
                   ", \"transform\": null, \"absolute\": null}";
            continue;
        }
        const Placement& p = it->second;
        out += ", \"source\": ";
        out += quoted(source_text(e, p));
        out += ", \"source_kind\": ";
        out += quoted(p.unreadable ? Str("identity") : p.source);
        out += ", \"representation\": ";
        out += json_tag(p.dataset);
        out += p.packed ? ", \"packed\": true" : ", \"packed\": false";
        out += ", \"transform\": ";
        out += p.has_text ? quoted(p.text) : Str("null");
        out += ", \"absolute\": ";
        out += json_numbers(p.absolute, 16);
        out += "}";
    }
    out += "], \"abs_xform\": " + (e.abs_xform_null ? Str("null") : quoted(e.abs_xform));
    out += ", \"walk_status\": " + to_text(e.walk_status);
    if (e.object == nullptr) {
        out += ", \"search_box\": null";
    } else {
        out += ", \"search_box\": " + search_box_json(*e.object);
    }
    if (e.has_query) {
        const kep_explain_query_t& q = *e.query;
        out += ", \"query\": {\"kind\": " + quoted(q.kind == KEP_EXPLAIN_QUERY_BOX ? "box" : "near");
        if (q.kind == KEP_EXPLAIN_QUERY_BOX) {
            out += ", \"box\": " + json_numbers(q.box, 6);
        } else {
            out += ", \"near\": [";
            for (int i = 0; i < q.near_count; ++i) {
                out += (i == 0 ? "" : ", ") + json_tag(q.near_lines[i]);
            }
            out += "]";
        }
        out += ", \"delta_mm\": " + json_number(q.delta_mm) + "}";
        out += ", \"found\": " + Str(e.status != 0 ? "null" : e.found ? "true" : "false");
        out += ", \"why\": " + (e.not_found_why.empty() ? Str("null") : quoted(named(e, e.not_found_why)));
        out += ", \"tests\": [";
        for (size_t i = 0; i < e.verdicts.size(); ++i) {
            const Verdict& v = e.verdicts[i];
            out += (i == 0 ? "" : ", ") + Str("{\"against\": ") +
                   (v.against == "query box" ? Str("\"query box\"") : v.against.substr(1));
            out += ", \"tested\": " + Str(v.tested ? "true" : "false");
            out += ", \"overlap\": " + Str(v.tested && v.report.overlap ? "true" : "false");
            out += ", \"axis\": " + to_text(v.tested ? v.report.axis : 0);
            out += ", \"axis_name\": " + quoted(kep::overlap_axis_name(v.tested ? v.report.axis : 0));
            const double mm = v.tested ? v.report.distance / kMillimetresToBoxUnits : 0.0;
            out += Str(", \"") + (v.tested && v.report.overlap ? "depth_mm" : "gap_mm") + "\": " +
                   (v.tested && v.report.finite && v.report.axis != 0 ? json_number(mm) : Str("null"));
            const bool needs = v.tested && !v.report.overlap && v.needed.reachable;
            out += ", \"text\": " + quoted(named(e, verdict_text(v)));
            out += ", \"needed_delta_mm\": " + (needs ? json_exact(v.needed.value) : Str("null"));
            out += ", \"needed_axis\": " + to_text(needs ? v.needed.axis : 0);
            out +=
                ", \"needed_axis_name\": " + quoted(kep::overlap_axis_name(needs ? v.needed.axis : 0)) + "}";
        }
        out += "]";
        const Verdict* least = e.status == 0 && !e.found ? least_needed(e) : nullptr;
        out += ", \"needed_delta_mm\": " + (least != nullptr ? json_exact(least->needed.value) : Str("null"));
    }
    out += ", \"status\": " + to_text(e.status);
    out += ", \"failed\": " + (e.failed.empty() ? Str("null") : quoted(e.failed));
    out += "}";
    return out;
}

KEP_EXPLAIN_NAMESPACE_END
