// The account kep_explain.cpp gathers of one line and the renderings kep_explain_render.cpp makes
// of it, shared by the two files and nothing else.
#ifndef KEP_EXPLAIN_ACCOUNT_H
#define KEP_EXPLAIN_ACCOUNT_H

#include <limits.h>
#include <stdio.h>

#include <algorithm>
#include <deque>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "base/kep_local.h"
#include "base/kep_observer.h"
#include "geometry/kep_geometry.h"
#include "geometry/kep_overlap_internal.h"
#include "kep_explain.h"
#include "registration/kep_explain_reasons.h"

// The types and functions below are shared between the two files, so they cannot live in an
// anonymous namespace; their namespace, kep::explain, is hidden instead. The Windows build exports
// only what is marked dllexport, and mingw's GCC does not take the attribute.
#if defined(__GNUC__) && !defined(_WIN32)
#define KEP_EXPLAIN_NAMESPACE_BEGIN \
    namespace kep {                 \
    namespace explain __attribute__((visibility("hidden"))) {
#else
#define KEP_EXPLAIN_NAMESPACE_BEGIN \
    namespace kep {                 \
    namespace explain {
#endif
#define KEP_EXPLAIN_NAMESPACE_END \
    }                             \
    }

KEP_EXPLAIN_NAMESPACE_BEGIN

// Everything the explanation instantiates of the standard library has the library's own allocator,
// so that none of it leaves the library.
using Str = std::basic_string<char, std::char_traits<char>, LocalAllocator<char>>;
template <class T>
using Vec = std::vector<T, LocalAllocator<T>>;
template <class K, class V>
using Map = std::map<K, V, std::less<K>, LocalAllocator<std::pair<const K, V>>>;

// An integer in decimal, as printf's "%lld" writes it.
template <class N>
Str to_text(N value) {
    const long long v = static_cast<long long>(value);
    unsigned long long magnitude =
        v < 0 ? 0ULL - static_cast<unsigned long long>(v) : static_cast<unsigned long long>(v);
    char text[24];
    char* at = text + sizeof text;
    do {
        *--at = static_cast<char>('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0);
    if (v < 0) {
        *--at = '-';
    }
    return Str(at, static_cast<size_t>(text + sizeof text - at));
}

Str numbers(const double* values, int count, const char* separator = " ");
// A value as the explanation shows it: nine digits, and 0 for what is left of a rounding.
void append_number(Str& out, double value);
Str tag_text(tag_t tag);

// One level of the placement, as the walk met it.
struct Placement {
    bool met = false;
    bool packed = false;
    bool has_text = false;
    Str text;                 // the bl_plmxml_occ_xform value the walk read
    Str source = "stored";    // stored, representation, kept
    tag_t dataset = NULLTAG;  // the representation that decided
    bool unreadable = false;
    // Whether the extension's bl_plmxml_occ_xform method answered for the line (not when its
    // registration failed: the platform's value stands), and whether it is the extension's own
    // method, the platform having none (its value is then a representation's entry or none).
    bool method_told = false;
    bool own_method = false;
    double absolute[16] = {};
};

// The account of the box lookup of one line. (A field added here is one BoxRecords keeps too.)
struct BoxAccount {
    Vec<Str> steps;
    Str reason;        // the first reason that counts when there is no box
    Vec<Str> reasons;  // every reason, in the order the lookup met them; reason is the first
    Str path;          // representation or collection
    tag_t dataset = NULLTAG;
    bool has_box = false;
    double box[6] = {};
    Vec<tag_t> names_wanted;  // tags whose names the rendering shows
    Vec<tag_t> datasets;      // the datasets whose boxes make the box, in the order taken
    Vec<tag_t> ignored;       // visualisation datasets left out
    tag_t mod_on_host = NULLTAG;
    Str choice;  // why the filter chose: the wanted suffix, "master" or "lone"; "" when it did not
    bool open = false;
    bool done = false;
    // What the reasons past the first are gathered from: the objects related to the revision under
    // any relation, the preferences read (key and value, in order), the structure set as listed
    // under its relation (and whether that relation is known), and the datasets whose box form the
    // collection asked for (none of them a visualisation dataset).
    Vec<tag_t> related;
    bool related_seen = false;
    Vec<std::pair<Str, Str>> preferences;
    Vec<tag_t> structure_listed;
    bool unknown_relation = false;
    Vec<tag_t> box_forms_asked;

    // As a fresh account, keeping the room its lists and texts have taken.
    void reset() {
        steps.clear();
        reason.clear();
        reasons.clear();
        path.clear();
        dataset = NULLTAG;
        has_box = false;
        std::fill(box, box + 6, 0.0);
        names_wanted.clear();
        datasets.clear();
        ignored.clear();
        mod_on_host = NULLTAG;
        choice.clear();
        open = done = false;
        related.clear();
        related_seen = false;
        preferences.clear();
        structure_listed.clear();
        unknown_relation = false;
        box_forms_asked.clear();
    }
};

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
    kep::NeededDelta needed;  // when not found: the smallest distance (mm) at which it is
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
    Str top_transform;       // the top line's own bl_plmxml_occ_xform, which the search leaves out
    Str not_walked;          // why the search does not walk the line (a level of its path), or empty
    int status = 0;          // non-zero when a call the search also makes failed: no verdict then
    Str failed;              // that call's operation
    Vec<Str> related_types;  // the type of each of box.related, read for the text of "no box"
};

Str level_name(const Level& l);
Str render_text(const Explanation& e);
Str render_json(const Explanation& e);

// JSON pieces: a quoted text, a tag (null for the null tag), an array of numbers (null where not finite).
Str quoted(const Str& s);
void append_quoted(Str& out, const Str& s);
Str json_tag(tag_t tag);
Str json_numbers(const double* values, int count);
void append_json_numbers(Str& out, const double* values, int count);
// Every "@<tag>" of text replaced by the object's name (from e.names) and tag.
Str named(const Explanation& e, const Str& text);
// The reasons of a line without a box, as a JSON array (empty with a box).
Str reasons_json(const Explanation& e);
// The words of one overlap test.
Str verdict_text(const Verdict& v);
void append_verdict_text(Str& out, const Verdict& v);
// The line's box where the search sees it, as the JSON object "search_box".
Str search_box_json(const kep_object3d_t& object);
// The same, appended to out; without "hull" and "matrix" unless whole.
void append_search_box(Str& out, const kep_object3d_t& object, bool whole);
// Name of an object as the explanation shows it: its object_name, else its item id.
Str ask_name(tag_t object);
// A text property of an object; "" when it has none or the read fails (the failure is cleared).
// `kept`: through the call memo, for a text the call asks again.
Str ask_text(tag_t object, const char* property, bool kept = false);

// The node list of one walk, released with it.
struct Nodes {
    kep_node_t* head = nullptr;
    Nodes() = default;
    Nodes(const Nodes&) = delete;
    Nodes& operator=(const Nodes&) = delete;
    ~Nodes() { kep_node_list_release(head); }
};

// The reason of a line without a box, once the walk is over.
void settle_box(Explanation& e);
// Every reason of a line without a box that the walk has told (kep_explain_reasons.cpp): the
// reasons past the first that the lookup did not look at are read here, none through the search's
// own calls; with none, "no dataset of the configured types".
void gather_reasons(Explanation& e);
// The words of a geometry set, of where an occurrence transform came from, and of why the
// representation filter chose as it did (kep_explain_reasons.cpp).
Str set_name(kep::GeometrySet set);
Str source_word(kep::OccurrenceSource source);
Str filter_words(const kep::decision::FilterChoice& c);
// The reason of a dataset whose VAR2BBInfo reference holds `count` forms, or one null form.
Str no_form_reason(tag_t dataset, int count);

// The query run as the service runs it, on e.object; object_of finds the box of a selected line.
using ObjectOf = const kep_object3d_t* (*)(const void* objects, tag_t line);
void run_query(Explanation& e, ObjectOf object_of, const void* objects);
// The ObjectOf of a node list (a Nodes): the box of `line`, or null.
const kep_object3d_t* object_in_list(const void* nodes, tag_t line);
// Why the search does not walk e.line, when a level of its path is one the walk from `top` went
// through without meeting it (kep_explain_query.cpp).
void tell_not_walked(Explanation& e, tag_t top);
// The operation of the traced call that made the walk fail with `status`, from the failed calls
// told during the walk (statement text and status, in order).
Str failed_operation(const Vec<std::pair<const char*, int>>& failed_calls, int status);

// The box lookups of a whole window, by line. Most lines' accounts hold no more than the box, the
// datasets that gave it, the names to show, the objects related to the revision, the preferences
// read and why the filter chose: each of those is kept in a record of a fixed size with its tags in
// one shared list, and only the others whole, so that a window of many lines costs a few blocks
// rather than several for each line.
class BoxRecords {
public:
    // The account of the box lookup of `line`; it stands in for any taken before for that line.
    // A whole account is moved from, a plain one copied. Throws std::bad_alloc.
    void add(tag_t line, BoxAccount& account);
    // Once every account is in: orders them by line, the last of a line standing.
    void settle();
    // The account of `line` (settled records), whole, into *out: a whole one moved, a plain one
    // written over *out, which keeps the room its lists had; false, *out as it was, when none was
    // taken.
    bool take(tag_t line, BoxAccount* out);
    bool has(tag_t line) const { return index_of(line) != kNone; }
    // The lines with an account, by tag (settled records).
    size_t size() const { return order_.size(); }
    tag_t line(size_t i) const { return order_[i].line; }

private:
    static constexpr size_t kNone = static_cast<size_t>(-1);
    static constexpr size_t kMostPreferences = 64;  // distinct preferences kept by their place
    struct Plain {
        tag_t dataset;
        tag_t mod_on_host;
        unsigned tags_at;  // the datasets, the names wanted, then the related objects, in tags_
        unsigned datasets;
        unsigned names;
        unsigned related;
        unsigned preferences_at;  // the preferences read, by their place in preferences_
        unsigned preferences;
        unsigned char path;    // 0 none, 1 representation, 2 collection
        unsigned char choice;  // 0 none, else choices_[choice - 1]
        bool has_box;
        bool related_seen;
        double box[6];
    };
    // A line's account: plain_[at], or whole_[at] when `whole`; `taken` orders those of a line.
    struct Entry {
        tag_t line;
        unsigned taken;
        unsigned at;
        bool whole;
    };
    // The place of `line`'s settled account, or kNone; the lines are mostly asked in order.
    size_t index_of(tag_t line) const;
    bool keep_plain(const BoxAccount& account, Plain* plain);

    // Appended to as the walk goes, in blocks that are not moved as they grow.
    template <class T>
    using Blocks = std::deque<T, LocalAllocator<T>>;
    Blocks<Plain> plain_;
    Blocks<tag_t> tags_;
    Blocks<unsigned> preference_refs_;
    Blocks<BoxAccount> whole_;
    Blocks<Entry> taken_;
    Vec<Str> choices_;
    Vec<std::pair<Str, Str>> preferences_;
    Vec<Entry> order_;         // the accounts that stand, by line (settled records)
    mutable size_t next_ = 0;  // where the next line asked for is looked for first
};

// The placements of a whole window's lines, by line, each in a record of a fixed size: what the walk
// told of a line, in the order it told it, as a Placement it would have made (less the text).
class PlacementRecords {
public:
    // What the walk tells of a line's placement (Decision::Placed, Occurrence, OccurrenceMethod);
    // a null `absolute` is not kept, and the placement found has all zeros for it. Throws
    // std::bad_alloc.
    void placed(tag_t line, bool packed, bool has_text, bool unreadable, const double* absolute);
    void occurrence(tag_t line, kep::OccurrenceSource source, tag_t dataset);
    void method(tag_t line, bool own);
    // Once the walk is over: orders the records by line, each line's told in one.
    void settle();
    // The placement of `line` (settled records); false when the walk told none.
    bool find(tag_t line, Placement* out) const;
    bool has(tag_t line) const { return index_of(line) != kNone; }
    // The lines with a placement, by tag (settled records).
    size_t size() const { return records_.size(); }
    tag_t line(size_t i) const { return records_[i].line; }

private:
    enum : unsigned char { kPlaced = 1, kOccurrence = 2, kMethod = 4 };  // what a record tells
    struct Record {
        tag_t line;
        unsigned taken;  // orders the records of a line before they are settled into one
        tag_t dataset;
        unsigned absolute_at;  // the place of its absolute transform in absolutes_, or kNoAbsolute
        unsigned char told;
        bool packed, has_text, unreadable, own;
        unsigned char source;  // a kep::OccurrenceSource
    };
    struct Absolute {
        double m[16];
    };
    static constexpr size_t kNone = static_cast<size_t>(-1);
    static constexpr unsigned kNoAbsolute = UINT_MAX;
    // The record of `line`: the last one when the walk still tells of the same line.
    Record& at(tag_t line);
    // The place of `line`'s settled record, or kNone; the lines are mostly asked in order.
    size_t index_of(tag_t line) const;
    std::deque<Record, LocalAllocator<Record>> records_;
    std::deque<Absolute, LocalAllocator<Absolute>> absolutes_;
    mutable size_t next_ = 0;  // where the next line asked for is looked for first
};

// One walk from `top` as the searches make it, with every line's box lookup and placement recorded.
// The lines with a box are those of its node list, or, for the walk a search kept
// (kep_explain_keep.h), kept_tags with copies of their records, in the order of that list.
struct WindowRecord {
    BoxRecords boxes;
    PlacementRecords placements;
    Nodes nodes;
    Vec<tag_t> kept_tags;
    Vec<kep_object3d_t> kept_objects;
    int walk_status = 0;
    bool lean = false;  // recorded without the lines' absolute transforms
};
int record_window(tag_t top, WindowRecord* out);  // 0, or kNoMemory
// The observer record_window sets, for a walk made elsewhere (kep_explain_keep.cpp): made (throws
// std::bad_alloc), its record taken into `out` once the walk is over (false when it could not
// record, or heard a traced call fail), and deleted (null is ignored). A `lean` one keeps no line's
// absolute transform, which only the whole account shows.
kep::Observer* new_window_recorder(bool lean);
bool take_window_record(kep::Observer* observer, WindowRecord* out);
void delete_window_recorder(kep::Observer* recorder);

// The explanation of `line` alone, as text or JSON (kep_explain.cpp).
int explain_line(tag_t line, const kep_explain_query_t* query, int format, char** text);
// The account of the whole window of `line` (KEP_EXPLAIN_WINDOW), without each line's absolute
// placement unless `placements` (KEP_EXPLAIN_WINDOW_LEAN).
int explain_window(tag_t line, const kep_explain_query_t* query, bool placements, char** text);

KEP_EXPLAIN_NAMESPACE_END

#endif
