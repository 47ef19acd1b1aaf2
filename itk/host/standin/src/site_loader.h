// The site loader's reader of JSON events: a Loader reads a site from the parser's events
// (site_loader_parse.cpp), then checks and links what it read (site_loader_finish.cpp);
// site_loader.cpp hands it the text and keeps the helpers of its refusal lines.
#ifndef STANDIN_SITE_LOADER_H
#define STANDIN_SITE_LOADER_H

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <nlohmann/json.hpp>
#include <stdexcept>
#include <string>
#include <string_view>
#include <type_traits>
#include <unordered_set>
#include <vector>

#include "state.h"

namespace standin::detail::site_loading {

using ojson = nlohmann::ordered_json;

struct LoadError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Refusal lines stay short whatever the file holds: a text echoed in one (an id, a key, the
// token the parser stopped at) keeps its first and last kEchoEnd bytes and says how many it
// left out; a JSON path keeps its first and last kPathEnds levels.
constexpr size_t kEchoEnd = 48;
constexpr size_t kPathEnds = 4;

// `text` cut to its two ends when it is long; *cut tells how many bytes were left out.
std::string cut_text(std::string_view text, size_t* cut);
std::string cut_note(size_t cut);
// A text in double quotes with JSON escapes, cut when long.
std::string qtext(std::string_view text);
// ".key" for plain keys, ["key"] for any other (and a long one, cut).
std::string key_segment(std::string_view key);
std::string index_segment(long index);

// Keys seen in one JSON object: a short list, or a hash set once it grows.
class KeySet {
public:
    bool insert(const std::string& key) {
        if (big_.empty() && small_.size() < 16) {
            if (std::find(small_.begin(), small_.end(), key) != small_.end()) {
                return false;
            }
            small_.push_back(key);
            return true;
        }
        if (big_.empty()) {
            big_.insert(small_.begin(), small_.end());
            small_.clear();
        }
        return big_.insert(key).second;
    }
    void clear() {
        small_.clear();
        if (!big_.empty()) {
            big_ = {};
        }
    }

private:
    std::vector<std::string> small_;
    std::unordered_set<std::string> big_;
};

// What a container is, for the loader: where it sits decides what its values become.
enum class Role : uint8_t {
    Root,           // the document; kept as a JSON value (lines, objects and relations aside)
    Dom,            // inside a small section (platform, types, ...), kept as a JSON value
    Skip,           // a value that is refused or never read: only its keys and positions matter
    Objects,        // $.objects
    ObjectEntry,    // $.objects.<id>
    Attributes,     // $.objects.<id>.attributes
    AttributeList,  // a list of texts in attributes
    Refs,           // $.objects.<id>.refs
    RefList,        // $.objects.<id>.refs.<name>
    Windows,        // $.windows
    Line,           // a line (a window's value or an entry of children or packed)
    LineList,       // children or packed of a line
    Relations,      // $.relations
    RelationEntry,  // $.relations[i]
};

// One open container. Frames are reused as the parse goes deeper and back (their lists keep
// their capacity), so a million lines cost no allocation each.
struct Frame {
    bool is_array = false;
    Role role = Role::Skip;
    std::string key;          // current key (objects)
    bool keyed = false;       // whether an object has had a key yet
    uint32_t key_id = kNone;  // the current key interned (Objects and Windows: an id)
    long index = -1;          // current index (arrays)
    KeySet keys;
    ojson* dom = nullptr;  // Root and Dom: the value being built
    // Lines: the line so far, its first fault (thrown when the line ends, so that faults are
    // reported in the order the whole-value checks would find them) and its finished sublines.
    Line line;
    bool has_revision = false;
    bool has_transform = false;
    std::string fault;
    std::vector<uint32_t> children, packed;

    void open(bool array, Role r, ojson* value) {
        is_array = array;
        role = r;
        key.clear();
        keyed = false;
        key_id = kNone;
        index = -1;
        keys.clear();
        dom = value;
        line = Line{};
        has_revision = has_transform = false;
        fault.clear();
        children.clear();
        packed.clear();
    }
};

// A scalar as the parser hands it over.
struct Scalar {
    enum Kind : uint8_t { Null, Boolean, Integer, Unsigned, Float, Text } kind = Null;
    bool flag = false;
    int64_t integer = 0;
    uint64_t unsigned_integer = 0;
    double number = 0.0;
    std::string* text = nullptr;

    bool is_text() const { return kind == Text; }
    bool is_number() const { return kind == Integer || kind == Unsigned || kind == Float; }
    double as_double() const {
        return kind == Integer    ? static_cast<double>(integer)
               : kind == Unsigned ? static_cast<double>(unsigned_integer)
                                  : number;
    }
    const char* type_name() const {
        static const char* const names[] = {"null", "boolean", "number", "number", "number", "string"};
        return names[kind];
    }
    ojson json() const {
        switch (kind) {
            case Boolean:
                return ojson(flag);
            case Integer:
                return ojson(integer);
            case Unsigned:
                return ojson(unsigned_integer);
            case Float:
                return ojson(number);
            case Text:
                return ojson(std::move(*text));
            case Null:
                break;
        }
        return ojson(nullptr);
    }
};

// What the loader notes about an object's fields until its type is known.
struct ObjectFields {
    bool item_id = false;
    bool refs = false;
    bool version0 = false;
};

struct PendingWindow {
    uint32_t id;
    uint32_t top_line;
};

// The interned names of one relation, resolved when every id is known.
using RelationNames = std::array<uint32_t, 3>;  // primary, relation type, secondary

// What an entry of relations held: its size and, for its first three values, their JSON kind
// and the interned text.
struct RelationEntry {
    long size = 0;
    std::array<const char*, 3> type{};
    std::array<uint32_t, 3> text{};
    std::array<size_t, 3> length{};
};

const char kLineFields[] =
    "unexpected field (a line has id, revision, occurrence_name, transform, jt, children and packed)";
const char kObjectFields[] =
    "unexpected field (an object has type, name, item_id, attributes, refs and version0)";
const char kAnId[] = "expected an id (a non-empty text)";

// How deep arrays and objects may nest. The site itself needs three levels down to a window's
// top line and two more for each level of the structure below it (a list of children and a
// line); every other section needs three at most. 100,000 takes a structure 49,998 levels deep
// (real ones have tens; the extension is tested at 10,000) and keeps a hostile text from taking
// memory and time without end.
constexpr size_t kMaxDepth = 100000;

// The parse is a stream of events (a SAX parser): lines, objects and relations become the site's
// records as they are read and no JSON value of them is ever made; only the small sections
// (platform, types, properties, line_methods, preferences, relation_types) are kept as a JSON
// value for the checks after the parse. References between ids are resolved after the parse,
// when every id is known. Faults inside a line or an object are noted and reported when it ends,
// faults of relations after the sections before them: the message is the one a check of the
// whole document in that order would give.
class Loader {
public:
    explicit Loader(std::string source) : source_(std::move(source)), site_(std::make_unique<Site>()) {}

    // Runs parse(this) and checks and links what it read. Every table grows with what has been
    // read, never with what the text's size promises.
    template <class Parse>
    std::unique_ptr<Site> load(Parse&& parse) {
        parse(this);
        if (nul.offset != kNoNul) {
            refuse_nul();  // after a whole document: the NUL byte ended the text early
        }
        finish(root_);
        return std::move(site_);
    }

    // --- the parser's events ---------------------------------------------------------------------

    bool null() { return scalar(Scalar{}); }
    bool boolean(bool value) {
        Scalar s;
        s.kind = Scalar::Boolean;
        s.flag = value;
        return scalar(s);
    }
    bool number_integer(int64_t value) {
        Scalar s;
        s.kind = Scalar::Integer;
        s.integer = value;
        return scalar(s);
    }
    bool number_unsigned(uint64_t value) {
        Scalar s;
        s.kind = Scalar::Unsigned;
        s.unsigned_integer = value;
        return scalar(s);
    }
    bool number_float(double value, const std::string&) {
        Scalar s;
        s.kind = Scalar::Float;
        s.number = value;
        return scalar(s);
    }
    bool string(std::string& value) {
        Scalar s;
        s.kind = Scalar::Text;
        s.text = &value;
        return scalar(s);
    }
    bool binary(ojson::binary_t&) { return true; }  // not produced by JSON text
    bool start_object(size_t) { return start(false); }
    bool start_array(size_t) { return start(true); }
    bool key(std::string& key) {
        on_key(key);
        return true;
    }
    bool end_object() { return end(); }
    bool end_array() { return end(); }
    [[noreturn]] bool parse_error(size_t position, const std::string& token,
                                  const nlohmann::detail::exception& e) {
        // The parser takes a NUL byte for the end of the text: the text was cut there.
        if (nul.offset != kNoNul && position > nul.offset) {
            refuse_nul();
        }
        std::string what = e.what();
        const size_t bracket = what.find("] ");
        if (what.rfind("[json.exception", 0) == 0 && bracket != std::string::npos) {
            what.erase(0, bracket + 2);
        }
        // The token it stopped in (a whole string that never ends, say) is echoed cut.
        static const char kLastRead[] = "; last read: '";
        const size_t echo = what.find(kLastRead);
        const size_t first = echo + std::strlen(kLastRead);
        if (echo != std::string::npos && what.compare(first, token.size(), token) == 0 &&
            what.compare(first + token.size(), 1, "'") == 0) {
            size_t cut = 0;
            const std::string kept = cut_text(token, &cut);
            what.replace(first, token.size() + 1, kept + "'" + cut_note(cut));
        }
        error(here(), "invalid JSON: " + what);
    }

    // Where the text holds its first NUL byte, which ends what the parser is given; set by the
    // one who hands the text over.
    static constexpr size_t kNoNul = static_cast<size_t>(-1);
    struct NulByte {
        size_t offset = kNoNul;
        size_t line = 0;
        size_t column = 0;
    } nul;

private:
    // --- paths and errors -------------------------------------------------------------------------

    // A path given as text, or as a callable that makes it (so that paths are only built for
    // an error message).
    template <class At>
    static std::string path_text(const At& at) {
        if constexpr (std::is_invocable_v<const At&>) {
            return at();
        } else {
            return std::string(at);
        }
    }

    template <class At>
    [[noreturn]] void error(const At& at, const std::string& what) const {
        throw LoadError(message(path_text(at), what));
    }
    std::string message(const std::string& at, const std::string& what) const {
        return source_ + ": " + at + ": " + what;
    }

    // The path made of the first n frames' current positions (a container not yet at its first
    // key or entry adds nothing). A deep one keeps its first and last levels.
    std::string path(size_t n) const {
        n = std::min(n, depth_);
        std::string p = "$";
        for (size_t i = 0; i < n; ++i) {
            if (n > 2 * kPathEnds + 1 && i == kPathEnds) {
                p += "...(" + std::to_string(n - 2 * kPathEnds) + " levels cut)...";
                i = n - kPathEnds - 1;
                continue;
            }
            const Frame& f = frames_[i];
            if (f.is_array ? f.index >= 0 : f.keyed) {
                p += f.is_array ? index_segment(f.index) : key_segment(f.key);
            }
        }
        return p;
    }
    std::string here() const { return path(depth_); }
    std::string at_top() const { return path(depth_ - 1); }  // the innermost container itself

    static std::string found(const char* type) { return std::string(", found ") + type; }
    static std::string found(const ojson& v) { return found(v.type_name()); }

    template <class At>
    const std::string& text_of(const ojson& v, const At& at, const char* what = "a text") const {
        if (!v.is_string()) {
            error(at, std::string("expected ") + what + found(v));
        }
        return v.get_ref<const std::string&>();
    }

    template <class At>
    const std::string& id_of(const ojson& v, const At& at) const {
        const std::string& id = text_of(v, at, "an id (a non-empty text)");
        if (id.empty()) {
            error(at, "expected an id (a non-empty text), found an empty text");
        }
        return id;
    }

    // The fault of a scalar or a container given where an id is expected; "" for a good id.
    static std::string id_fault(const char* type, const std::string* text) {
        if (text == nullptr) {
            return kAnId + found(type);
        }
        return text_id_fault(*text);
    }
    // An id is written as a C text wherever the platform gives it: a NUL would end it early.
    static std::string text_id_fault(std::string_view text) {
        return text.empty() ? std::string(kAnId) + ", found an empty text"
               : text.find('\0') != std::string_view::npos
                   ? std::string(kAnId) + ", found a text holding a NUL character (\\u0000)"
                   : std::string();
    }

    // Notes the first fault of a line or an object, with the path where the parse is.
    void note(std::string* fault, const std::string& what) const {
        if (fault->empty() && !what.empty()) {
            *fault = message(here(), what);
        }
    }

    [[noreturn]] void refuse_nul() const {
        error(here(), "invalid JSON: NUL byte at line " + std::to_string(nul.line) + ", column " +
                          std::to_string(nul.column) + " (byte offset " + std::to_string(nul.offset) +
                          "); a site is a JSON text without NUL bytes");
    }

    Frame& top() { return frames_[depth_ - 1]; }
    Frame& below(size_t n) { return frames_[depth_ - 1 - n]; }

    uint32_t intern(const std::string& text) { return site_->strings.intern(text); }
    // Texts that are values (transforms, names, attribute texts) are never looked up by text.
    uint32_t value_text(const std::string& text) { return site_->strings.add(text); }

    // --- containers, lines, objects, relations (site_loader_parse.cpp) -------------------------
    bool start(bool is_array);
    bool end();
    void on_key(const std::string& key);
    static ojson& insert(Frame& p, ojson&& value);
    bool scalar(const Scalar& v);
    void line_field(Frame& f, const Scalar& v);
    Role line_field_container(Frame& f, bool is_array);
    void end_line(Frame& f);
    void begin_object(const Frame& objects);
    void object_field(const std::string& k, const Scalar& v);
    Role object_field_container(const std::string& k, bool is_array);
    Value attribute_value(const Scalar& x);
    void end_object_entry();
    void relation_shape_fault(long index);
    void end_relation(long index);

    // --- after the parse (site_loader_finish.cpp) ----------------------------------------------
    template <class At>
    void register_id(uint32_t id, tag_t tag, const At& at);
    std::string object_path(const Object& o) const;
    std::string window_path(const PendingWindow& w) const;
    template <class At>
    tag_t resolve_object(uint32_t id, int cls, const At& at) const;
    template <class OnWindow, class Visit>
    void walk_lines(OnWindow&& on_window, Visit&& visit);
    void finish(const ojson& root);
    void read_platform(const ojson& root);
    void read_types(const ojson& root);
    std::string type_chain(const std::vector<size_t>& chain) const;
    void read_properties(const ojson& root);
    static uint64_t type_property(int type, uint32_t name);
    bool site_defines(int type, uint32_t id) const;
    void read_line_methods(const ojson& root);
    void read_preferences(const ojson& root);
    std::vector<RelationNames> read_relations(const ojson& root);
    void resolve_objects();
    void resolve_relations(const std::vector<RelationNames>& relations);

    std::string source_;
    std::unique_ptr<Site> site_;
    std::vector<Frame> frames_;  // frames_[0, depth_) are open
    size_t depth_ = 0;
    ojson root_;                      // the document without objects, windows and relations
    std::vector<uint8_t> seen_keys_;  // per interned string: 1 a key of objects, 2 of windows
    std::vector<PendingWindow> windows_;
    // The object being read, its first fault, and what every object read had.
    Object object_;
    ObjectFields fields_;
    Value name_, item_id_, list_;
    std::vector<Attribute> attributes_;
    NamedRefs refs_{kNone, 0, 0};
    std::string object_fault_;
    std::vector<ObjectFields> object_fields_;
    // Relations as read, the entry being read and the first fault among them.
    bool relations_streamed_ = false;
    std::vector<RelationNames> relations_;
    RelationEntry entry_;
    std::string relation_fault_;
    std::unordered_set<uint64_t> defined_;  // (type, property name) the site defined
};

}  // namespace standin::detail::site_loading

#endif  // STANDIN_SITE_LOADER_H
