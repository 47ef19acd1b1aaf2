/*
 * The observer of one explanation: the lookups, the box choice, the placement and the walk tell it
 * each decision as they make it, so that an explanation of a line is made of the very decisions
 * the search makes, not of a second account of them.
 *
 * Each decision is one value of `Decision` with a record of its own (`decision::*`), told by one
 * hook of its own (`observe_*`). A listener switches over `Decision`; without a `default:` the
 * compiler names every decision it forgets.
 *
 * Nobody observes by default: kep::observer() is null, and each hook is one load of the count of
 * observers set in the process; only while some thread has one does a hook look at its own
 * thread's. A hook never calls the platform, never writes to the log and never changes what the
 * function it sits in does; with or without an observer the traces, results, statuses and call
 * counts are the same. Everything a record points to is borrowed for the length of the call of
 * Observer::note.
 */
#ifndef KEP_OBSERVER_H
#define KEP_OBSERVER_H

#include <atomic>

#include "kep_platform.h"
#include "kep_trace.h"

namespace kep {

// The geometry dataset sets of a line (lookup/kep_lookup.h).
enum class GeometrySet {
    ThreeD,     // kep_get_3dgeo_for_bomline
    Auxiliary,  // kep_get_auxgeo_for_bomline
    Structure,  // kep_get_structure_for_bomline
};

// How a line's box is found: from the one representation chosen among its 3D geometry datasets,
// or as the union of the boxes of its auxiliary and product structure datasets.
enum class BoxPath { Representation, Collection };

// Why the representation filter chose what it chose, or nothing.
enum class FilterReason {
    SuffixWanted,   // the dataset's suffix is the wanted alternative representation
    MasterWanted,   // a master dataset, and the master representation is wanted
    LoneCandidate,  // the only candidate, taken because KEPAltRepList is empty
    NoActualList,   // the filter is on but KEPActualAltRepList names no representation
    NoCandidates,   // nothing to choose from
    NoneWanted,     // no candidate is of a wanted representation
};

// Where the value of a line's bl_plmxml_occ_xform comes from.
enum class OccurrenceSource {
    Stored,          // the platform's own placement
    Representation,  // the entry of the parent's mod-on representation
    Kept,            // a representation that does not list the line: the platform's placement stands
};

enum class Decision {
    BoxBegin,              // the box lookup of a line starts
    BoxEnd,                // ... and ends, with or without a box
    NoRevision,            // a geometry set's line has no item revision
    Related,               // the objects related to a revision, before filtering by type
    UnknownRelation,       // a relation name the platform does not know
    Preference,            // a preference value read by a lookup (null: not set)
    PreferenceList,        // a list preference read by the representation filter
    FilterSwitch,          // the value of KEPUseAltRepFilter
    GeometrySetFound,      // the datasets of a geometry set
    BoxPathTaken,          // which way a line's box is found
    ModOnHost,             // the mod-on host of a line and its datasets
    FilterChoice,          // what the representation filter chose, and why
    RepresentationChosen,  // the dataset whose box is a line's (null: none)
    Forms,                 // the forms behind a named reference of a dataset
    UnreadableForm,        // a form value that cannot be read
    NotFinite,             // a dataset box with a value that is not a finite number
    DatasetBox,            // the box of one dataset
    Visualisation,         // a visualisation dataset left out
    Placed,                // the walk placed a line
    Occurrence,            // where a line's occurrence transform came from
    OccurrenceMethod,      // the extension's method of bl_plmxml_occ_xform answers for a line
    UnreadableTransform,   // a transform text that is not 16 numbers
    CallFailed,            // a traced call failed (told through kep::failed_call_listener)
};

namespace decision {

struct BoxBegin {
    tag_t line;
};
struct BoxEnd {
    tag_t line;
    const double* box;  // x1 y1 z1 x2 y2 z2, or null when the line has no box
};
struct NoRevision {
    tag_t line;
    GeometrySet set;
};
struct Related {
    tag_t revision;
    GeometrySet set;
    const tag_t* objects;
    int count;
};
struct UnknownRelation {
    tag_t object;
    const char* relation;
};
struct Preference {
    const char* key;
    const char* value;
};
struct PreferenceList {
    const char* key;
    const char* const* values;
    int count;
};
struct GeometrySetFound {
    tag_t line;
    GeometrySet set;
    const tag_t* datasets;
    int count;
};
struct BoxPathTaken {
    tag_t line;
    BoxPath path;
};
struct ModOnHost {
    tag_t host;  // null when no line above has one
    const tag_t* datasets;
    int count;
};
struct FilterChoice {
    tag_t dataset;       // null when nothing was chosen
    const char* wanted;  // the representation name it was chosen for, or null
    FilterReason reason;
};
struct RepresentationChosen {
    tag_t line;
    tag_t dataset;
};
struct Forms {
    tag_t dataset;
    const char* reference;
    const tag_t* forms;
    int count;
};
struct UnreadableForm {
    tag_t dataset;
    const char* attribute;
};
struct DatasetBox {  // also NotFinite
    tag_t dataset;
    const double* values;  // x1 y1 z1 x2 y2 z2
};
struct Visualisation {
    tag_t dataset;
};
struct Placed {
    tag_t line;
    bool packed;             // a packed line, placed as its first sibling
    const char* text;        // the bl_plmxml_occ_xform value read, or null
    const double* absolute;  // the 16 values of the line's absolute transform
};
struct Occurrence {
    tag_t line;
    OccurrenceSource source;
    tag_t dataset;  // the mod-on representation asked, or null
};
struct OccurrenceMethod {
    tag_t line;
    bool own;  // its own method, the platform having none; else a post-action behind the platform's
};
struct UnreadableTransform {
    const char* text;  // or null
};
struct CallFailed {
    const char* statement;  // the traced statement text
    int status;
};

}  // namespace decision

// One decision and its record: the member named after the decision is the one that is set.
struct Note {
    Decision what;
    union {
        decision::BoxBegin box_begin;
        decision::BoxEnd box_end;
        decision::NoRevision no_revision;
        decision::Related related;
        decision::UnknownRelation unknown_relation;
        decision::Preference preference;
        decision::PreferenceList preference_list;
        decision::Preference filter_switch;
        decision::GeometrySetFound geometry_set;
        decision::BoxPathTaken box_path;
        decision::ModOnHost mod_on_host;
        decision::FilterChoice filter_choice;
        decision::RepresentationChosen representation;
        decision::Forms forms;
        decision::UnreadableForm unreadable_form;
        decision::DatasetBox not_finite;
        decision::DatasetBox dataset_box;
        decision::Visualisation visualisation;
        decision::Placed placed;
        decision::Occurrence occurrence;
        decision::OccurrenceMethod occurrence_method;
        decision::UnreadableTransform unreadable_transform;
        decision::CallFailed call_failed;
    };
};

class Observer {
public:
    virtual ~Observer() = default;
    virtual void note(const Note& note) noexcept = 0;
};

// The calling thread's observer, or null; and the number of Observing scopes open in the process.
Observer*& observer_slot() noexcept;
extern std::atomic<int> g_observing;
// An observer that takes every note and keeps none.
Observer& deaf_observer() noexcept;

// Tells the calling thread's observer of a failed traced call (the kep::failed_call_listener that
// Observing installs).
void tell_failed_call(const char* statement, int status) noexcept;

inline Observer* observer() noexcept {
    return g_observing.load(std::memory_order_relaxed) == 0 ? nullptr : observer_slot();
}

// Installs an observer for its lifetime and puts the one before back.
class Observing {
public:
    explicit Observing(Observer* o) noexcept : before_(observer_slot()) {
        g_observing.fetch_add(1, std::memory_order_relaxed);
        observer_slot() = o;
        failed_call_listener().store(&tell_failed_call, std::memory_order_relaxed);
    }
    ~Observing() {
        observer_slot() = before_;
        g_observing.fetch_sub(1, std::memory_order_relaxed);
    }
    Observing(const Observing&) = delete;
    Observing& operator=(const Observing&) = delete;

private:
    Observer* before_;
};

// Within its lifetime the calling thread's observer, if any, hears nothing: for the questions a
// lookup asks only on its economical way, whose decisions the literal way never makes.
class Unheard {
public:
    Unheard() noexcept : before_(observer()) {
        if (before_ != nullptr) {
            observer_slot() = &deaf_observer();
        }
    }
    ~Unheard() {
        if (before_ != nullptr) {
            observer_slot() = before_;
        }
    }
    Unheard(const Unheard&) = delete;
    Unheard& operator=(const Unheard&) = delete;

private:
    Observer* before_;
};

// The hooks, one per decision: each tells the observer, if there is one.
#define KEP_OBSERVER_HOOK(hook, decision_name, member, Record, params, ...) \
    inline void hook params noexcept {                                      \
        if (Observer* o = observer()) {                                     \
            Note n;                                                         \
            n.what = Decision::decision_name;                               \
            n.member = decision::Record{__VA_ARGS__};                       \
            o->note(n);                                                     \
        }                                                                   \
    }

KEP_OBSERVER_HOOK(observe_box_begin, BoxBegin, box_begin, BoxBegin, (tag_t line), line)
KEP_OBSERVER_HOOK(observe_box_end, BoxEnd, box_end, BoxEnd, (tag_t line, const double* box), line, box)
KEP_OBSERVER_HOOK(observe_no_revision, NoRevision, no_revision, NoRevision, (tag_t line, GeometrySet set),
                  line, set)
KEP_OBSERVER_HOOK(observe_related, Related, related, Related,
                  (tag_t revision, GeometrySet set, const tag_t* objects, int count), revision, set, objects,
                  count)
KEP_OBSERVER_HOOK(observe_unknown_relation, UnknownRelation, unknown_relation, UnknownRelation,
                  (tag_t object, const char* relation), object, relation)
KEP_OBSERVER_HOOK(observe_preference, Preference, preference, Preference,
                  (const char* key, const char* value), key, value)
KEP_OBSERVER_HOOK(observe_preference_list, PreferenceList, preference_list, PreferenceList,
                  (const char* key, const char* const* values, int count), key, values, count)
KEP_OBSERVER_HOOK(observe_filter_switch, FilterSwitch, filter_switch, Preference,
                  (const char* key, const char* value), key, value)
KEP_OBSERVER_HOOK(observe_geometry_set, GeometrySetFound, geometry_set, GeometrySetFound,
                  (tag_t line, GeometrySet set, const tag_t* datasets, int count), line, set, datasets, count)
KEP_OBSERVER_HOOK(observe_box_path, BoxPathTaken, box_path, BoxPathTaken, (tag_t line, BoxPath path), line,
                  path)
KEP_OBSERVER_HOOK(observe_mod_on_host, ModOnHost, mod_on_host, ModOnHost,
                  (tag_t host, const tag_t* datasets, int count), host, datasets, count)
KEP_OBSERVER_HOOK(observe_filter_choice, FilterChoice, filter_choice, FilterChoice,
                  (tag_t dataset, const char* wanted, FilterReason reason), dataset, wanted, reason)
KEP_OBSERVER_HOOK(observe_representation, RepresentationChosen, representation, RepresentationChosen,
                  (tag_t line, tag_t dataset), line, dataset)
KEP_OBSERVER_HOOK(observe_forms, Forms, forms, Forms,
                  (tag_t dataset, const char* reference, const tag_t* forms, int count), dataset, reference,
                  forms, count)
KEP_OBSERVER_HOOK(observe_unreadable_form, UnreadableForm, unreadable_form, UnreadableForm,
                  (tag_t dataset, const char* attribute), dataset, attribute)
KEP_OBSERVER_HOOK(observe_not_finite, NotFinite, not_finite, DatasetBox,
                  (tag_t dataset, const double* values), dataset, values)
KEP_OBSERVER_HOOK(observe_dataset_box, DatasetBox, dataset_box, DatasetBox,
                  (tag_t dataset, const double* values), dataset, values)
KEP_OBSERVER_HOOK(observe_visualisation, Visualisation, visualisation, Visualisation, (tag_t dataset),
                  dataset)
KEP_OBSERVER_HOOK(observe_placed, Placed, placed, Placed,
                  (tag_t line, bool packed, const char* text, const double* absolute), line, packed, text,
                  absolute)
KEP_OBSERVER_HOOK(observe_occurrence, Occurrence, occurrence, Occurrence,
                  (tag_t line, OccurrenceSource source, tag_t dataset), line, source, dataset)
KEP_OBSERVER_HOOK(observe_occurrence_method, OccurrenceMethod, occurrence_method, OccurrenceMethod,
                  (tag_t line, bool own), line, own)
KEP_OBSERVER_HOOK(observe_unreadable_transform, UnreadableTransform, unreadable_transform,
                  UnreadableTransform, (const char* text), text)
KEP_OBSERVER_HOOK(observe_call_failed, CallFailed, call_failed, CallFailed,
                  (const char* statement, int status), statement, status)

#undef KEP_OBSERVER_HOOK

}  // namespace kep

#endif
