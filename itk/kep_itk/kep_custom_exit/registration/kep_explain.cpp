// Explaining one line (kep_explain.h): the observer that turns the decisions of the box lookup,
// the placement and the walk into an account, and the query run through the search's own overlap
// test. The renderings are in kep_explain_render.cpp.
#include "kep_explain.h"

#include <string.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <new>
#include <utility>

#include "base/kep_observer.h"
#include "base/kep_status.h"
#include "kep_mem.h"
#include "kep_trace.h"
#include "lookup/kep_lookup.h"
#include "lookup/kep_memo.h"
#include "registration/kep_explain_account.h"

KEP_EXPLAIN_NAMESPACE_BEGIN

namespace {

class Recorder : public kep::Observer {
public:
    explicit Recorder(tag_t target) : target_(target) {}

    BoxAccount box;
    Map<tag_t, Placement> placements;
    bool recording_walk = true;
    // Set for the account of a whole window: every line's box lookup is recorded into boxes, and
    // every placement into window_placements rather than placements.
    bool every_line = false;
    bool lean = false;  // every_line without the placements' absolute transforms
    BoxRecords boxes;
    PlacementRecords window_placements;
    // The traced calls that failed during the walk, in order: statement text and status.
    Vec<std::pair<const char*, int>> failed_calls;

    void note(const kep::Note& n) noexcept override {
        try {
            take(n);
        } catch (...) {
            failed_ = true;
        }
    }
    bool failed() const { return failed_; }

private:
    using Decision = kep::Decision;

    // A step of the account of one line, which the account of a whole window leaves out.
    template <class Text>
    void step(const Text& text) {
        if (!every_line) {
            box.steps.push_back(text());
        }
    }
    void step(const char* text) {
        if (!every_line) {
            box.steps.push_back(text);
        }
    }
    void reason(const Str& text) {
        if (box.reason.empty()) {
            box.reason = text;
        }
        if (std::find(box.reasons.begin(), box.reasons.end(), text) == box.reasons.end()) {
            box.reasons.push_back(text);
        }
    }
    static Str lead(kep::Reason r) { return kep::reason_lead(r); }
    static Str str(const char* s) { return s != nullptr ? s : ""; }
    void want(const tag_t* tags, int count) {
        box.names_wanted.insert(box.names_wanted.end(), tags, tags + count);
    }
    static Str tag_list(const tag_t* tags, int count) {
        Str text;
        for (int i = 0; i < count; ++i) {
            text += (i == 0 ? "" : ", ") + Str("@") + tag_text(tags[i]);
        }
        return text.empty() ? "none" : text;
    }
    // The walk's decisions about every line, and the bounds of the box lookup of the target.
    void take(const kep::Note& n) {
        switch (n.what) {
            case Decision::Placed:
                if (recording_walk) {
                    const kep::decision::Placed& d = n.placed;
                    if (every_line) {
                        window_placements.placed(d.line, d.packed, d.text != nullptr, pending_unreadable_,
                                                 lean ? nullptr : d.absolute);
                        pending_unreadable_ = false;
                        return;
                    }
                    Placement& p = placement(d.line);
                    p.met = true;
                    p.packed = d.packed;
                    p.has_text = d.text != nullptr;
                    p.text = str(d.text);  // shown by the account of one line only
                    p.unreadable = pending_unreadable_;
                    pending_unreadable_ = false;
                    for (int i = 0; i < 16; ++i) {
                        p.absolute[i] = d.absolute[i];
                    }
                }
                return;
            case Decision::Occurrence:
                if (recording_walk && every_line) {
                    window_placements.occurrence(n.occurrence.line, n.occurrence.source,
                                                 n.occurrence.dataset);
                } else if (recording_walk) {
                    Placement& p = placement(n.occurrence.line);
                    p.source = source_word(n.occurrence.source);
                    p.dataset = n.occurrence.dataset;
                }
                return;
            case Decision::OccurrenceMethod:
                if (recording_walk && every_line) {
                    window_placements.method(n.occurrence_method.line, n.occurrence_method.own);
                } else if (recording_walk) {
                    Placement& p = placement(n.occurrence_method.line);
                    p.method_told = true;
                    p.own_method = n.occurrence_method.own;
                }
                return;
            case Decision::UnreadableTransform:
                if (recording_walk) {
                    pending_unreadable_ = true;
                }
                return;
            case Decision::CallFailed:
                failed_calls.emplace_back(n.call_failed.statement, n.call_failed.status);
                return;
            case Decision::BoxBegin:
                if (every_line) {
                    box.reset();
                    target_ = n.box_begin.line;
                    box.open = true;
                    preferences_read_ = 0;
                } else if (n.box_begin.line == target_ && !box.done) {
                    box.open = true;
                }
                return;
            case Decision::BoxEnd:
                if (box.open && n.box_end.line == target_) {
                    box.open = false;
                    box.done = true;
                    if (every_line) {
                        if (!box.has_box) {
                            box.preferences.assign(
                                preferences_.begin(),
                                preferences_.begin() + static_cast<std::ptrdiff_t>(preferences_read_));
                        }
                        boxes.add(target_, box);
                        box.reset();
                    }
                }
                return;
            case Decision::NoRevision:
            case Decision::Related:
            case Decision::UnknownRelation:
            case Decision::Preference:
            case Decision::PreferenceList:
            case Decision::FilterSwitch:
            case Decision::GeometrySetFound:
            case Decision::BoxPathTaken:
            case Decision::ModOnHost:
            case Decision::FilterChoice:
            case Decision::RepresentationChosen:
            case Decision::Forms:
            case Decision::UnreadableForm:
            case Decision::NotFinite:
            case Decision::DatasetBox:
            case Decision::Visualisation:
                if (box.open) {
                    take_box_step(n);
                }
                return;
        }
    }

    // A decision of the target's box lookup.
    void take_box_step(const kep::Note& n) {
        switch (n.what) {
            case Decision::NoRevision:
                step(
                    [&] { return set_name(n.no_revision.set) + " datasets: the line has no item revision"; });
                reason(lead(kep::Reason::NoRevision) + ", so it has no datasets");
                return;
            case Decision::Related: {
                const kep::decision::Related& d = n.related;
                step([&] {
                    return set_name(d.set) + " datasets: " + to_text(d.count) +
                           " object(s) related to revision @" + tag_text(d.revision) +
                           (d.set == kep::GeometrySet::Structure ? " under that relation" : "");
                });
                if (d.set == kep::GeometrySet::Structure) {
                    box.structure_listed.assign(d.objects, d.objects + (d.objects != nullptr ? d.count : 0));
                } else if (!box.related_seen) {
                    box.related_seen = true;
                    box.related.assign(d.objects, d.objects + (d.objects != nullptr ? d.count : 0));
                    box.names_wanted.insert(box.names_wanted.end(), box.related.begin(), box.related.end());
                }
                return;
            }
            case Decision::Preference: {
                const char* key = n.preference.key != nullptr ? n.preference.key : "";
                const char* value = n.preference.value != nullptr ? n.preference.value : "";
                step([&] {
                    return "  preference " + Str(key) + " = " + (*value == '\0' ? "(not set)" : value);
                });
                if (every_line) {
                    // Into texts kept from line to line; taken into the account at the box's end.
                    if (preferences_read_ == preferences_.size()) {
                        preferences_.emplace_back();
                    }
                    std::pair<Str, Str>& kept = preferences_[preferences_read_++];
                    kept.first.assign(key);
                    kept.second.assign(value);
                } else {
                    box.preferences.emplace_back(key, value);
                }
                if (*value == '\0') {
                    reason(lead(kep::Reason::MissingPreference) + key);
                }
                return;
            }
            case Decision::PreferenceList: {
                const kep::decision::PreferenceList& d = n.preference_list;
                step([&] {
                    Str values;
                    for (int i = 0; i < d.count; ++i) {
                        values += (i == 0 ? "" : ", ") + str(d.values[i]);
                    }
                    return "  preference " + str(d.key) + " = " + (values.empty() ? "(not set)" : values);
                });
                return;
            }
            case Decision::FilterSwitch: {
                step([&] {
                    const Str value = str(n.filter_switch.value);
                    return "  preference " + str(n.filter_switch.key) + " = " +
                           (value.empty() ? "(not set)" : value) +
                           (value == "1" ? ": the representation filter is on"
                                         : ": the representation filter is off");
                });
                return;
            }
            case Decision::UnknownRelation:
                step([&] {
                    return "  the platform knows no relation named " + str(n.unknown_relation.relation) +
                           ": nothing is listed under it";
                });
                box.unknown_relation = true;
                reason(lead(kep::Reason::UnknownRelation) + str(n.unknown_relation.relation));
                return;
            case Decision::GeometrySetFound:
                want(n.geometry_set.datasets, n.geometry_set.count);
                step([&] {
                    return "  " + set_name(n.geometry_set.set) +
                           " set: " + tag_list(n.geometry_set.datasets, n.geometry_set.count);
                });
                return;
            case Decision::BoxPathTaken:
                if (n.box_path.path == kep::BoxPath::Representation) {
                    box.path = "representation";
                    step(
                        "the line has 3D geometry datasets: its box is that of the one representation the "
                        "mod-on lookup and the representation filter choose");
                } else {
                    box.path = "collection";
                    step(
                        "the line has no 3D geometry datasets: its box is the union of the boxes of its "
                        "auxiliary geometry and product structure datasets");
                }
                return;
            case Decision::ModOnHost:
                box.mod_on_host = n.mod_on_host.host;
                if (n.mod_on_host.host == NULLTAG) {
                    step(
                        "  mod-on host: none among the lines above; the filter chooses among the 3D geometry "
                        "set");
                } else {
                    want(n.mod_on_host.datasets, n.mod_on_host.count);
                    step([&] {
                        return "  mod-on host: line @" + tag_text(n.mod_on_host.host) + ", mod-on datasets " +
                               tag_list(n.mod_on_host.datasets, n.mod_on_host.count) + "; only these count";
                    });
                }
                return;
            case Decision::FilterChoice: {
                const kep::decision::FilterChoice& d = n.filter_choice;
                box.choice = d.reason == kep::FilterReason::SuffixWanted    ? str(d.wanted)
                             : d.reason == kep::FilterReason::MasterWanted  ? "master"
                             : d.reason == kep::FilterReason::LoneCandidate ? "lone"
                                                                            : "";
                if (d.dataset != NULLTAG) {
                    box.names_wanted.push_back(d.dataset);
                    step([&] {
                        return "  the filter chose @" + tag_text(d.dataset) + ": " + filter_words(d);
                    });
                } else {
                    step([&] { return "  the filter chose nothing: " + filter_words(d); });
                    if (box.path == "representation") {
                        reason(lead(kep::Reason::FilterChoseNothing) + filter_words(d));
                    }
                }
                return;
            }
            case Decision::RepresentationChosen:
                if (n.representation.dataset == NULLTAG) {
                    reason("no representation dataset was chosen");
                }
                return;
            case Decision::Forms: {
                const kep::decision::Forms& d = n.forms;
                if (d.reference == nullptr || strcmp(d.reference, "VAR2BBInfo") != 0) {
                    return;
                }
                if (box.path == "collection") {
                    box.box_forms_asked.push_back(d.dataset);
                }
                if (d.count != 1 || d.forms == nullptr || d.forms[0] == NULLTAG) {
                    step([&] {
                        const Str why = d.count == 0 ? "has no VAR2BBInfo form"
                                        : d.count > 1
                                            ? "has " + to_text(d.count) + " VAR2BBInfo forms, not one"
                                            : "has a null VAR2BBInfo reference";
                        return "  dataset @" + tag_text(d.dataset) + " " + why;
                    });
                    box.names_wanted.push_back(d.dataset);
                    reason(no_form_reason(d.dataset, d.count));
                }
                return;
            }
            case Decision::UnreadableForm: {
                const kep::decision::UnreadableForm& d = n.unreadable_form;
                step([&] {
                    return "  the VAR2BBInfo form of dataset @" + tag_text(d.dataset) + " cannot be read (" +
                           str(d.attribute) + ")";
                });
                box.names_wanted.push_back(d.dataset);
                reason("unreadable form: the VAR2BBInfo form of dataset @" + tag_text(d.dataset) +
                       " cannot be read (" + str(d.attribute) + ")");
                return;
            }
            case Decision::NotFinite: {
                const kep::decision::DatasetBox& d = n.not_finite;
                step([&] {
                    return "  the VAR2BBInfo values of dataset @" + tag_text(d.dataset) +
                           " are not all finite: " + numbers(d.values, 6);
                });
                box.names_wanted.push_back(d.dataset);
                reason(lead(kep::Reason::NotFinite) + "the box of dataset @" + tag_text(d.dataset) +
                       " holds " + numbers(d.values, 6));
                return;
            }
            case Decision::Visualisation:
                step([&] {
                    return "  dataset @" + tag_text(n.visualisation.dataset) +
                           " is a visualisation dataset and is left out";
                });
                box.names_wanted.push_back(n.visualisation.dataset);
                box.ignored.push_back(n.visualisation.dataset);
                reason(lead(kep::Reason::OnlyVisualisation) +
                       (": @" + tag_text(n.visualisation.dataset) + " is one"));
                return;
            case Decision::DatasetBox: {
                const kep::decision::DatasetBox& d = n.dataset_box;
                step([&] {
                    return "  dataset @" + tag_text(d.dataset) + " gives the box " + numbers(d.values, 6);
                });
                box.names_wanted.push_back(d.dataset);
                box.datasets.push_back(d.dataset);
                if (!box.has_box) {
                    box.dataset = d.dataset;
                    for (int i = 0; i < 6; ++i) {
                        box.box[i] = d.values[i];
                    }
                } else {
                    for (int i = 0; i < 3; ++i) {
                        box.box[i] = std::fmin(box.box[i], d.values[i]);
                        box.box[3 + i] = std::fmax(box.box[3 + i], d.values[3 + i]);
                    }
                }
                box.has_box = true;
                return;
            }
            case Decision::Placed:
            case Decision::Occurrence:
            case Decision::OccurrenceMethod:
            case Decision::UnreadableTransform:
            case Decision::CallFailed:
            case Decision::BoxBegin:
            case Decision::BoxEnd:
                return;  // taken by take()
        }
    }

    // map[key], the walk meeting lines mostly in the order of their tags: a key past the last is
    // put at the end without a search.
    template <class V>
    static V& at(Map<tag_t, V>& map, tag_t key) {
        if (map.empty() || map.rbegin()->first < key) {
            return map.emplace_hint(map.end(), key, V())->second;
        }
        return map[key];
    }

    // The placement of `line`; the walk tells a line's placement in notes one after another.
    Placement& placement(tag_t line) {
        if (last_placement_ == nullptr || last_line_ != line) {
            last_placement_ = &at(placements, line);
            last_line_ = line;
        }
        return *last_placement_;
    }

    tag_t target_;
    tag_t last_line_ = NULLTAG;
    Placement* last_placement_ = nullptr;
    // For a whole window: the preferences the current box lookup read, the first preferences_read_
    // of preferences_. A line's account keeps them only when the line has no box, the one case
    // whose reasons look at them.
    Vec<std::pair<Str, Str>> preferences_;
    size_t preferences_read_ = 0;
    bool pending_unreadable_ = false;
    bool failed_ = false;
};

// A whole window's records, moved out of its recorder.
void move_records(Recorder& recorder, WindowRecord* out) {
    out->boxes = std::move(recorder.boxes);
    out->boxes.settle();
    out->placements = std::move(recorder.window_placements);
    out->placements.settle();
    out->lean = recorder.lean;
}

}  // namespace

int record_window(tag_t top, WindowRecord* out) {
    Recorder recorder(top);
    recorder.every_line = true;
    {
        kep::Observing observing(&recorder);
        kep_matrix_t identity;
        kep_matrix_identity(&identity);
        out->walk_status = kep_get_child_lines(top, &identity, &out->nodes.head);
    }
    if (recorder.failed()) {
        return kNoMemory;
    }
    move_records(recorder, out);
    return 0;
}

kep::Observer* new_window_recorder(bool lean) {
    Recorder* recorder = new Recorder(NULLTAG);
    recorder->every_line = true;
    recorder->lean = lean;
    return recorder;
}

bool take_window_record(kep::Observer* observer, WindowRecord* out) {
    Recorder* recorder = static_cast<Recorder*>(observer);
    if (recorder->failed() || !recorder->failed_calls.empty()) {
        return false;
    }
    move_records(*recorder, out);
    return true;
}

void delete_window_recorder(kep::Observer* recorder) { delete static_cast<Recorder*>(recorder); }

int explain_line(tag_t line, const kep_explain_query_t* query, int format, char** text) {
    Explanation e;
    e.line = line;
    e.query = query;
    e.has_query = query != nullptr && query->kind != KEP_EXPLAIN_QUERY_NONE;

    // The line and the lines above it, read as a client reads them.
    Vec<tag_t> chain;
    for (tag_t l = line; l != NULLTAG;) {
        Level level;
        level.line = l;
        level.item_id = ask_text(l, bomAttr_itemId);
        level.occurrence_name = ask_text(l, bomAttr_occName, true);
        e.path.push_back(level);
        chain.push_back(l);
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
    e.path = Vec<Level>(e.path.rbegin(), e.path.rend());  // top line first
    // The walk forgets its answers about each line it is done with; those about the path are
    // asked again by the read of bl_plmxml_abs_xform below.
    kep::keep_lines(chain.data(), static_cast<int>(chain.size()));
    if (AOM_ask_value_tag(line, bomAttr_lineItemRevTag, &e.revision) != 0) {
        EMH_clear_errors();
        e.revision = NULLTAG;
    }
    e.revision_id = ask_text(e.revision, "item_revision_id");

    // The walk the searches make, from the top line, with the decisions recorded: the window's top
    // line, asked as the searches ask it, or the line that ends the parent chain.
    Recorder recorder(line);
    Nodes nodes;
    tag_t top = e.path.front().line;
    {
        kep::Observing observing(&recorder);
        if (query != nullptr && query->window != NULLTAG) {
            kep::Step step;
            step.call("BOM_ask_window_top_line(bom_window_tag,&top_line)",
                      [&] { return BOM_ask_window_top_line(query->window, &top); });
            e.walk_status = step.status();
        }
        if (e.walk_status == 0 && top != NULLTAG) {
            kep_matrix_t identity;
            kep_matrix_identity(&identity);
            e.walk_status = kep_get_child_lines(top, &identity, &nodes.head);
        }
    }
    if (recorder.failed()) {
        return kNoMemory;
    }
    e.box = recorder.box;
    e.placements = std::move(recorder.placements);
    if (e.walk_status != 0) {
        // The search fails as the walk did: a failure, never a verdict or a configuration reason.
        e.status = e.walk_status;
        e.failed = failed_operation(recorder.failed_calls, e.walk_status);
        e.box.reason = kep::reason_lead(kep::Reason::SearchCallFailed) + e.failed + " failed with status " +
                       to_text(e.status);
    }
    auto self = e.placements.find(line);
    e.packed = self != e.placements.end() && self->second.packed;
    e.object = object_in_list(&nodes, line);
    e.top_transform = ask_text(top, bomAttr_StandardOccTransform);  // the search leaves it out
    tell_not_walked(e, top);
    settle_box(e);

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
        run_query(e, object_in_list, &nodes);
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
            e.names[t] = ask_name(t);
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
    return e.status;
}

KEP_EXPLAIN_NAMESPACE_END
