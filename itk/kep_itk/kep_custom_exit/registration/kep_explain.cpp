// Explaining one line (kep_explain.h): the observer that turns the decisions of the box lookup,
// the placement and the walk into an account, and the query run through the search's own overlap
// test. The renderings are in kep_explain_render.cpp.
#include "kep_explain.h"

#include <string.h>

#include <cmath>
#include <new>

#include "base/kep_observer.h"
#include "kep_mem.h"
#include "lookup/kep_lookup.h"
#include "registration/kep_explain_account.h"

KEP_EXPLAIN_NAMESPACE_BEGIN
namespace {

const int kNoMemory = 1;

// A text property of an object; "" when it has none or the read fails (the failure is cleared).
Str ask_text(tag_t object, const char* property) {
    kep::MemPtr<char> value;
    if (object == NULLTAG || AOM_ask_value_string(object, property, value.out()) != 0) {
        EMH_clear_errors();
        return "";
    }
    return value ? value.get() : "";
}

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
KEP_EXPLAIN_NAMESPACE_END

extern "C" int kep_explain_line(tag_t line, const kep_explain_query_t* query, int format, char** text) {
    if (text == nullptr) {
        return 0;
    }
    *text = nullptr;
    if (line == NULLTAG) {
        return 0;  // nothing to explain
    }
    try {
        return kep::explain::explain(line, query, format, text);
    } catch (...) {
        return kep::explain::kNoMemory;
    }
}
