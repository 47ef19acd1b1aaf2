// Explaining one line (kep_explain.h): the observer that turns the decisions of the box lookup,
// the placement and the walk into an account, the query run through the search's own overlap
// test, and the two renderings (text and JSON).
#include "registration/kep_explain.h"

#include <stdio.h>
#include <string.h>

#include <cmath>
#include <cstdlib>
#include <map>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "geometry/kep_geometry.h"
#include "geometry/kep_overlap_internal.h"
#include "kep_mem.h"
#include "lookup/kep_lookup.h"
#include "lookup/kep_observer.h"

namespace {

// Everything this file instantiates of the standard library carries a type of this file, so that
// none of it leaves the library: the standard headers give their templates default visibility,
// which the library's hidden default does not reach.
template <class T>
struct Local : std::allocator<T> {
    template <class U>
    struct rebind {
        using other = Local<U>;
    };
    Local() = default;
    template <class U>
    Local(const Local<U>&) noexcept {}
};
using Str = std::basic_string<char, std::char_traits<char>, Local<char>>;
template <class T>
using Vec = std::vector<T, Local<T>>;
template <class K, class V>
using Map = std::map<K, V, std::less<K>, Local<std::pair<const K, V>>>;

template <class N>
Str to_text(N value) {
    char text[32];
    snprintf(text, sizeof text, "%lld", static_cast<long long>(value));
    return text;
}

const int kNoMemory = 1;
const double kMillimetresToBoxUnits = 0.001;

Str number(double value) {
    char text[40];
    snprintf(text, sizeof text, "%.9g", std::fabs(value) < 5e-13 ? 0.0 : value);
    return text;
}

Str numbers(const double* values, int count, const char* separator = " ") {
    Str text;
    for (int i = 0; i < count; ++i) {
        text += (i == 0 ? "" : separator) + number(values[i]);
    }
    return text;
}

Str quoted(const Str& s) {
    Str out = "\"";
    for (const char c : s) {
        const unsigned char u = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (u < 0x20) {
            char esc[8];
            snprintf(esc, sizeof esc, "\\u%04x", static_cast<unsigned>(u));
            out += esc;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

Str tag_text(tag_t tag) { return to_text(static_cast<unsigned long long>(tag)); }

// A text property of an object; "" when it has none or the read fails (the failure is cleared).
Str ask_text(tag_t object, const char* property) {
    kep::MemPtr<char> value;
    if (object == NULLTAG || AOM_ask_value_string(object, property, value.out()) != 0) {
        EMH_clear_errors();
        return "";
    }
    return value ? value.get() : "";
}

// One level of the placement, as the walk met it.
struct Placement {
    bool met = false;
    bool packed = false;
    bool has_text = false;
    Str text;                 // the bl_plmxml_occ_xform value the walk read
    Str source = "stored";    // stored, representation, kept
    tag_t dataset = NULLTAG;  // the representation that decided
    bool unreadable = false;
    double absolute[16] = {};
};

// The account of the box lookup of one line.
struct BoxAccount {
    Vec<Str> steps;
    Str reason;  // the first reason that counts when there is no box
    Str path;    // representation or collection
    tag_t dataset = NULLTAG;
    bool has_box = false;
    double box[6] = {};
    Vec<tag_t> names_wanted;  // tags whose names the rendering shows
    Str filter_why;
    bool open = false;
    bool done = false;
};

class Recorder : public kep::Observer {
public:
    explicit Recorder(tag_t target) : target_(target) {}

    BoxAccount box;
    Map<tag_t, Placement> placements;
    bool recording_walk = true;

    void note(const kep::Note& n) noexcept override {
        try {
            take(n);
        } catch (...) {
            failed_ = true;
        }
    }
    bool failed() const { return failed_; }

private:
    void step(const Str& text) { box.steps.push_back(text); }
    void reason(const Str& text) {
        if (box.reason.empty()) {
            box.reason = text;
        }
    }
    static Str str(const char* s) { return s != nullptr ? s : ""; }
    Str tag_list(const tag_t* tags, int count) {
        Str text;
        for (int i = 0; i < count; ++i) {
            text += (i == 0 ? "" : ", ") + Str("@") + tag_text(tags[i]);
            box.names_wanted.push_back(tags[i]);
        }
        return text.empty() ? "none" : text;
    }
    static Str set_name(const char* function) {
        const Str f = str(function);
        if (f == "kep_get_3dgeo_for_bomline") {
            return "3D geometry";
        }
        if (f == "kep_get_auxgeo_for_bomline") {
            return "auxiliary geometry";
        }
        return "product structure";
    }

    void take(const kep::Note& n) {
        const Str what = n.what;
        if (recording_walk && what == "placed") {
            Placement& p = placements[n.object];
            p.met = true;
            p.packed = str(n.key) == "packed";
            p.has_text = n.text != nullptr;
            p.text = str(n.text);
            p.unreadable = pending_unreadable_;
            pending_unreadable_ = false;
            for (int i = 0; i < 16 && i < n.number_count; ++i) {
                p.absolute[i] = n.numbers[i];
            }
            return;
        }
        if (recording_walk && what == "occurrence") {
            Placement& p = placements[n.object];
            p.source = str(n.key);
            p.dataset = n.tag_count > 0 ? n.tags[0] : NULLTAG;
            return;
        }
        if (recording_walk && what == "unreadable transform") {
            pending_unreadable_ = true;
            return;
        }
        if (what == "box begin" && n.object == target_ && !box.done) {
            box.open = true;
            return;
        }
        if (!box.open) {
            return;
        }
        if (what == "box end" && n.object == target_) {
            box.open = false;
            box.done = true;
            return;
        }
        if (what == "no revision") {
            step(set_name(n.key) + " datasets: the line has no item revision");
            reason("the line has no item revision, so it has no datasets");
        } else if (what == "related") {
            step(set_name(n.key) + " datasets: " + to_text(n.tag_count) + " object(s) related to revision @" +
                 tag_text(n.object) +
                 (str(n.key) == "kep_get_structure_for_bomline" ? " under that relation" : ""));
        } else if (what == "preference") {
            const Str value = str(n.text);
            step("  preference " + str(n.key) + " = " + (value.empty() ? "(not set)" : value));
            if (value.empty()) {
                reason("missing preference " + str(n.key));
            }
        } else if (what == "preference list") {
            Str values;
            for (int i = 0; i < n.text_count; ++i) {
                values += (i == 0 ? "" : ", ") + str(n.texts[i]);
            }
            step("  preference " + str(n.key) + " = " + (values.empty() ? "(not set)" : values));
        } else if (what == "filter switch") {
            const Str value = str(n.text);
            step("  preference " + str(n.key) + " = " + (value.empty() ? "(not set)" : value) +
                 (value == "1" ? ": the representation filter is on" : ": the representation filter is off"));
        } else if (what == "unknown relation") {
            step("  the platform knows no relation named " + str(n.key) + ": nothing is listed under it");
            reason("unknown relation " + str(n.key));
        } else if (what == "set") {
            step("  " + set_name(n.key) + " set: " + tag_list(n.tags, n.tag_count));
        } else if (what == "path") {
            box.path = str(n.text);
            if (box.path == "representation") {
                step(
                    "the line has 3D geometry datasets: its box is that of the one representation the mod-on "
                    "lookup and the representation filter choose");
            } else {
                step(
                    "the line has no 3D geometry datasets: its box is the union of the boxes of its "
                    "auxiliary "
                    "geometry and product structure datasets");
            }
        } else if (what == "mod-on host") {
            if (n.object == NULLTAG) {
                step(
                    "  mod-on host: none among the lines above; the filter chooses among the 3D geometry "
                    "set");
            } else {
                step("  mod-on host: line @" + tag_text(n.object) + ", mod-on datasets " +
                     tag_list(n.tags, n.tag_count) + "; only these count");
            }
        } else if (what == "filter why") {
            box.filter_why = str(n.text) + " (" + str(n.key) + ")";
        } else if (what == "filter") {
            if (n.object != NULLTAG) {
                box.names_wanted.push_back(n.object);
                step("  the filter chose @" + tag_text(n.object) + ": " +
                     (box.filter_why.empty() ? str(n.text) : box.filter_why));
            } else {
                step("  the filter chose nothing: " + str(n.text));
                if (box.path == "representation") {
                    reason("the representation filter chose no dataset: " + str(n.text));
                }
            }
            box.filter_why.clear();
        } else if (what == "chosen") {
            if (n.object == NULLTAG) {
                reason("no representation dataset was chosen");
            }
        } else if (what == "forms") {
            if (str(n.key) != "VAR2BBInfo") {
                return;
            }
            if (n.tag_count != 1 || n.tags == nullptr || n.tags[0] == NULLTAG) {
                const Str why = n.tag_count == 0 ? "has no VAR2BBInfo form"
                                : n.tag_count > 1
                                    ? "has " + to_text(n.tag_count) + " VAR2BBInfo forms, not one"
                                    : "has a null VAR2BBInfo reference";
                step("  dataset @" + tag_text(n.object) + " " + why);
                box.names_wanted.push_back(n.object);
                reason("no form: dataset @" + tag_text(n.object) + " " + why);
            }
        } else if (what == "unreadable form") {
            step("  the VAR2BBInfo form of dataset @" + tag_text(n.object) + " cannot be read (" +
                 str(n.key) + ")");
            box.names_wanted.push_back(n.object);
            reason("unreadable form: the VAR2BBInfo form of dataset @" + tag_text(n.object) +
                   " cannot be read (" + str(n.key) + ")");
        } else if (what == "not finite") {
            step("  the VAR2BBInfo values of dataset @" + tag_text(n.object) +
                 " are not all finite: " + numbers(n.numbers, n.number_count));
            box.names_wanted.push_back(n.object);
            reason("values not finite: the box of dataset @" + tag_text(n.object) + " holds " +
                   numbers(n.numbers, n.number_count));
        } else if (what == "visualisation") {
            step("  dataset @" + tag_text(n.object) + " is a visualisation dataset and is left out");
            box.names_wanted.push_back(n.object);
            reason("only visualisation datasets: @" + tag_text(n.object) + " is one");
        } else if (what == "box") {
            step("  dataset @" + tag_text(n.object) + " gives the box " + numbers(n.numbers, 6));
            box.names_wanted.push_back(n.object);
            if (!box.has_box) {
                box.dataset = n.object;
                for (int i = 0; i < 6; ++i) {
                    box.box[i] = n.numbers[i];
                }
            } else {
                for (int i = 0; i < 3; ++i) {
                    box.box[i] = std::fmin(box.box[i], n.numbers[i]);
                    box.box[3 + i] = std::fmax(box.box[3 + i], n.numbers[3 + i]);
                }
            }
            box.has_box = true;
        }
    }

    tag_t target_;
    bool pending_unreadable_ = false;
    bool failed_ = false;
};

// The node list of one walk, released with it.
struct Nodes {
    kep_node_t* head = nullptr;
    ~Nodes() { kep_node_list_release(head); }
};

const kep_object3d_t* object_of(const Nodes& nodes, tag_t line) {
    for (const kep_node_t* n = nodes.head; n != nullptr; n = n->next) {
        if (n->tag == line) {
            return n->object;
        }
    }
    return nullptr;
}

struct Level {
    tag_t line;
    Str item_id;
    Str occurrence_name;
};

struct Verdict {
    Str against;  // "query box" or "@tag"
    bool tested = false;
    Str note;  // why it was not tested
    kep::OverlapReport report;
};

struct Explanation {
    tag_t line = NULLTAG;
    Vec<Level> path;  // top line first
    tag_t revision = NULLTAG;
    Str revision_id;
    bool packed = false;
    int walk_status = 0;
    BoxAccount box;
    Map<tag_t, Placement> placements;
    Map<tag_t, Str> names;
    Str abs_xform;
    bool abs_xform_null = true;
    int abs_status = 0;
    const kep_object3d_t* object = nullptr;
    bool has_query = false;
    const kep_explain_query_t* query = nullptr;
    Vec<Verdict> verdicts;
    bool found = false;
    Str not_found_why;
};

// Replaces every "@<tag>" in text by the object's name and tag.
Str named(const Explanation& e, const Str& text) {
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
            out += text[i++];
        }
    }
    return out;
}

Str source_text(const Explanation& e, const Placement& p) {
    Str text;
    if (p.source == "representation") {
        text = named(e, "representation @" + tag_text(p.dataset) + "'s entry for this child");
    } else if (p.source == "kept") {
        text = named(e, "the stored value, kept because representation @" + tag_text(p.dataset) +
                            " does not list this child");
    } else {
        text = "the stored value";
    }
    if (p.unreadable) {
        text += "; identity, because the text is unreadable: [" + (p.has_text ? p.text : Str("(null)")) + "]";
    }
    return text;
}

Str level_name(const Level& l) {
    return l.item_id + (l.occurrence_name.empty() ? "" : " (" + l.occurrence_name + ")");
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

Str verdict_text(const Verdict& v) {
    if (!v.tested) {
        return v.note;
    }
    const kep::OverlapReport& r = v.report;
    if (!r.finite) {
        return "not found: a value of one of the boxes is not a finite number";
    }
    char text[200];
    if (r.overlap) {
        snprintf(text, sizeof text,
                 "found: the boxes overlap; the smallest overlap is %s mm along %s (axis %d of 15)",
                 number(r.distance / kMillimetresToBoxUnits).c_str(), kep::overlap_axis_name(r.axis), r.axis);
    } else {
        snprintf(text, sizeof text, "not found: %s (axis %d of 15) separates them by a gap of %s mm",
                 kep::overlap_axis_name(r.axis), r.axis, number(r.distance / kMillimetresToBoxUnits).c_str());
    }
    return text;
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
        out +=
            "  box: " + numbers(e.box.box, 6) + named(e, ", from dataset @" + tag_text(e.box.dataset)) + "\n";
    } else {
        out += "  no box: " + named(e, e.box.reason) + "\n";
    }

    out += "\nIts placement, from the top line down\n";
    for (size_t i = 0; i < e.path.size(); ++i) {
        const Level& l = e.path[i];
        if (i == 0) {
            out += "  " + level_name(l) + ": the top line, placed at the identity\n";
            continue;
        }
        auto it = e.placements.find(l.line);
        if (it == e.placements.end() || !it->second.met) {
            out += "  " + level_name(l) + ": not reached by the walk\n";
            continue;
        }
        const Placement& p = it->second;
        out += "  " + level_name(l) + (p.packed ? " (packed)" : "") + ": " + source_text(e, p) + "\n";
        out += "    occurrence transform: " + (p.has_text ? "[" + p.text + "]" : Str("(none)")) + "\n";
        out += "    absolute transform:   [" + numbers(p.absolute, 16) + "] (row by row)\n";
    }
    out += "  bl_plmxml_abs_xform: " + (e.abs_xform_null ? Str("(null)") : "[" + e.abs_xform + "]") +
           (e.abs_status != 0 ? " (read failed with status " + to_text(e.abs_status) + ")" : "") + "\n";
    if (e.walk_status != 0) {
        out += "  the walk failed with status " + to_text(e.walk_status) + "; a search hands nothing back\n";
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
        out += Str("  ") + (e.found ? "FOUND" : "NOT FOUND") +
               (e.not_found_why.empty() ? "" : ": " + named(e, e.not_found_why)) + "\n";
        for (const Verdict& v : e.verdicts) {
            out += "  against " + named(e, v.against) +
                   " (A, enlarged by delta): " + named(e, verdict_text(v)) + "\n";
        }
    }
    return out;
}

Str json_tag(tag_t tag) { return tag == NULLTAG ? "null" : tag_text(tag); }

Str json_numbers(const double* values, int count) {
    Str out = "[";
    for (int i = 0; i < count; ++i) {
        out += (i == 0 ? "" : ", ") + (std::isfinite(values[i]) ? number(values[i]) : Str("null"));
    }
    return out + "]";
}

Str render_json(const Explanation& e) {
    Str out = "{\"line\": " + json_tag(e.line);
    out += ", \"path\": [";
    for (size_t i = 0; i < e.path.size(); ++i) {
        out += (i == 0 ? "" : ", ") + Str("{\"line\": ") + json_tag(e.path[i].line) +
               ", \"item_id\": " + quoted(e.path[i].item_id) +
               ", \"occurrence_name\": " + quoted(e.path[i].occurrence_name) + "}";
    }
    out += "], \"revision\": " + json_tag(e.revision);
    out += ", \"packed\": " + Str(e.packed ? "true" : "false");
    out += ", \"box_path\": " + (e.box.path.empty() ? Str("null") : quoted(e.box.path));
    out += ", \"box_steps\": [";
    for (size_t i = 0; i < e.box.steps.size(); ++i) {
        out += (i == 0 ? "" : ", ") + quoted(named(e, e.box.steps[i]));
    }
    out += "], \"box_dataset\": " + (e.box.has_box ? json_tag(e.box.dataset) : Str("null"));
    out += ", \"box\": " + (e.box.has_box ? json_numbers(e.box.box, 6) : Str("null"));
    out += ", \"reason\": " + (e.box.has_box ? Str("null") : quoted(named(e, e.box.reason)));
    out += ", \"chain\": [";
    for (size_t i = 0; i < e.path.size(); ++i) {
        const Level& l = e.path[i];
        out += i == 0 ? "" : ", ";
        out += "{\"line\": " + json_tag(l.line);
        if (i == 0) {
            out += ", \"source\": \"top line\", \"transform\": null, \"absolute\": " +
                   json_numbers(Vec<double>{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1}.data(), 16) + "}";
            continue;
        }
        auto it = e.placements.find(l.line);
        if (it == e.placements.end() || !it->second.met) {
            out += ", \"source\": \"not reached by the walk\", \"transform\": null, \"absolute\": null}";
            continue;
        }
        const Placement& p = it->second;
        out += ", \"source\": " + quoted(source_text(e, p));
        out += ", \"source_kind\": " + quoted(p.unreadable ? "identity" : p.source);
        out += ", \"representation\": " + json_tag(p.dataset);
        out += ", \"packed\": " + Str(p.packed ? "true" : "false");
        out += ", \"transform\": " + (p.has_text ? quoted(p.text) : Str("null"));
        out += ", \"absolute\": " + json_numbers(p.absolute, 16) + "}";
    }
    out += "], \"abs_xform\": " + (e.abs_xform_null ? Str("null") : quoted(e.abs_xform));
    out += ", \"walk_status\": " + to_text(e.walk_status);
    if (e.object == nullptr) {
        out += ", \"search_box\": null";
    } else {
        const SearchBox s = search_box(*e.object);
        out += ", \"search_box\": {\"centre\": " + json_numbers(s.centre, 3) + ", \"axes\": [" +
               json_numbers(s.axes[0], 3) + ", " + json_numbers(s.axes[1], 3) + ", " +
               json_numbers(s.axes[2], 3) + "], \"half_extents\": " + json_numbers(s.half, 3) +
               ", \"hull\": " + json_numbers(s.hull, 6) +
               ", \"matrix\": " + json_numbers(e.object->matrix, 12) + "}";
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
        out += ", \"delta_mm\": " + number(q.delta_mm) + "}";
        out += ", \"found\": " + Str(e.found ? "true" : "false");
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
            out += Str(", \"") + (v.tested && v.report.overlap ? "depth_mm" : "gap_mm") +
                   "\": " + (v.tested && v.report.finite && v.report.axis != 0 ? number(mm) : Str("null"));
            out += ", \"text\": " + quoted(named(e, verdict_text(v))) + "}";
        }
        out += "]";
    }
    out += "}";
    return out;
}

// The query, run as the service runs it on the lines the walk collected.
void run_query(Explanation& e, const Nodes& nodes) {
    const kep_explain_query_t& q = *e.query;
    const double delta = q.delta_mm * kMillimetresToBoxUnits;
    if (e.walk_status != 0) {
        e.not_found_why =
            "the walk failed with status " + to_text(e.walk_status) + ", so nothing is handed back";
        return;
    }
    if (!std::isfinite(delta)) {
        e.not_found_why = "the distance is not a finite number: the service makes no search";
        return;
    }
    if (e.object == nullptr) {
        e.not_found_why = "the line has no box, so no search can find it";
        return;
    }
    if (q.kind == KEP_EXPLAIN_QUERY_BOX) {
        bool finite = true;
        for (int i = 0; i < 6; ++i) {
            finite = finite && std::isfinite(q.box[i]);
        }
        if (!finite) {
            e.not_found_why = "a value of the query box is not a finite number: the service makes no search";
            return;
        }
        kep_object3d_t query_object;
        memset(&query_object, 0, sizeof query_object);
        query_object.bbox.x1 = q.box[0];
        query_object.bbox.y1 = q.box[1];
        query_object.bbox.z1 = q.box[2];
        query_object.bbox.x2 = q.box[3];
        query_object.bbox.y2 = q.box[4];
        query_object.bbox.z2 = q.box[5];
        query_object.matrix[0] = 1.0;
        query_object.matrix[5] = 1.0;
        query_object.matrix[10] = 1.0;
        query_object.BB = 1;
        Verdict v;
        v.against = "query box";
        v.tested = true;
        e.found = kep::overlap_report(query_object, delta, *e.object, &v.report);
        e.verdicts.push_back(v);
        return;
    }
    if (q.near_count < 1 || q.near_lines == nullptr) {
        e.not_found_why = "no line is selected: the service makes no search";
        return;
    }
    for (int s = 0; s < q.near_count; ++s) {
        Verdict v;
        v.against = "@" + tag_text(q.near_lines[s]);
        const kep_object3d_t* a = object_of(nodes, q.near_lines[s]);
        if (a == nullptr) {
            v.note = "not tested: that line has no box in this structure, so it finds nothing";
        } else if (q.near_lines[s] == e.line) {
            v.note = "not tested: a selected line is never its own neighbour";
        } else {
            v.tested = true;
            e.found = kep::overlap_report(*a, delta, *e.object, &v.report) || e.found;
        }
        e.verdicts.push_back(v);
    }
}

int explain(tag_t line, const kep_explain_query_t* query, int format, char** text) {
    Explanation e;
    e.line = line;
    e.query = query;
    e.has_query = query != nullptr && query->kind != KEP_EXPLAIN_QUERY_NONE;

    // The line and the lines above it, read as a client reads them.
    for (tag_t l = line; l != NULLTAG;) {
        Level level;
        level.line = l;
        level.item_id = ask_text(l, bomAttr_itemId);
        level.occurrence_name = ask_text(l, bomAttr_occName);
        e.path.insert(e.path.begin(), level);
        tag_t parent = NULLTAG;
        const int status = kep_get_parent(l, &parent);
        if (status != 0) {
            return status;
        }
        l = parent;
        if (e.path.size() > 100000) {
            break;  // a cycle would never end
        }
    }
    if (AOM_ask_value_tag(line, bomAttr_lineItemRevTag, &e.revision) != 0) {
        EMH_clear_errors();
        e.revision = NULLTAG;
    }
    e.revision_id = ask_text(e.revision, "item_revision_id");

    // The walk the searches make, from the top line, with the decisions recorded.
    Recorder recorder(line);
    Nodes nodes;
    {
        kep::Observing observing(&recorder);
        kep_matrix_t identity;
        kep_matrix_identity(&identity);
        e.walk_status = kep_get_child_lines(e.path.front().line, &identity, &nodes.head);
    }
    if (recorder.failed()) {
        return kNoMemory;
    }
    e.box = recorder.box;
    e.placements = recorder.placements;
    auto self = e.placements.find(line);
    e.packed = self != e.placements.end() && self->second.packed;
    e.object = object_of(nodes, line);
    if (!e.box.done && e.box.reason.empty()) {
        e.box.reason = e.walk_status != 0 ? "the walk failed with status " + to_text(e.walk_status) +
                                                " before it asked for this line's box"
                                          : "the walk did not reach this line";
    } else if (e.box.has_box && e.object == nullptr) {
        e.box.has_box = false;
        e.box.reason = "the box lookup failed (status " + to_text(e.walk_status) + ")";
    } else if (!e.box.has_box && e.box.reason.empty()) {
        e.box.reason = "no dataset of the configured types";
    }

    // What a client reads as the line's absolute transform.
    {
        kep::MemPtr<char> value;
        e.abs_status = AOM_ask_value_string(line, bomAttr_StandardAbsTransform, value.out());
        if (e.abs_status != 0) {
            EMH_clear_errors();
        }
        e.abs_xform_null = !value;
        e.abs_xform = value ? value.get() : "";
    }

    if (e.has_query) {
        run_query(e, nodes);
    }

    // Names for every object the account mentions.
    Vec<tag_t> wanted = recorder.box.names_wanted;
    wanted.push_back(e.revision);
    for (const auto& p : e.placements) {
        wanted.push_back(p.second.dataset);
    }
    if (e.has_query && query->kind == KEP_EXPLAIN_QUERY_NEAR) {
        for (int i = 0; i < query->near_count; ++i) {
            wanted.push_back(query->near_lines[i]);
        }
    }
    for (const Level& l : e.path) {
        e.names[l.line] = level_name(l);
    }
    for (const tag_t t : wanted) {
        if (t != NULLTAG && e.names.find(t) == e.names.end()) {
            Str name = ask_text(t, "object_name");
            if (name.empty()) {
                name = ask_text(t, bomAttr_itemId);
            }
            e.names[t] = name;
        }
    }

    const Str rendered = format == KEP_EXPLAIN_JSON ? render_json(e) : render_text(e);
    char* out = kep::mem_alloc_array<char>(static_cast<int>(rendered.size() + 1));
    if (out == nullptr) {
        return kNoMemory;
    }
    memcpy(out, rendered.c_str(), rendered.size() + 1);
    *text = out;
    EMH_clear_errors();
    return 0;
}

}  // namespace

extern "C" int kep_explain_line(tag_t line, const kep_explain_query_t* query, int format, char** text) {
    if (text == nullptr) {
        return 0;
    }
    *text = nullptr;
    if (line == NULLTAG) {
        return 0;  // nothing to explain
    }
    try {
        return explain(line, query, format, text);
    } catch (...) {
        return kNoMemory;
    }
}
