// The site loader: JSON text (a string or a file read in pieces) to a Site, refusing the whole
// text on the first fault with one line that names the source, the JSON path and what was
// expected.
#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <nlohmann/json.hpp>
#include <stdexcept>
#include <type_traits>

#include "state.h"

namespace standin::detail {
namespace {

using ojson = nlohmann::ordered_json;

struct LoadError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Refusal lines stay short whatever the file holds: a text echoed in one (an id, a key, the
// token the parser stopped at) keeps its first and last kEchoEnd bytes and says how many it
// left out; a JSON path keeps its first and last kPathEnds levels.
constexpr size_t kEchoEnd = 48;
constexpr size_t kPathEnds = 4;

// The first `n` bytes of `text`, or fewer so as not to split a UTF-8 sequence.
size_t head_bytes(std::string_view text, size_t n) {
    while (n > 0 && n < text.size() && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80) {
        --n;
    }
    return n;
}

// Where the last `n` bytes of `text` begin, moved on so as not to split a UTF-8 sequence.
size_t tail_start(std::string_view text, size_t n) {
    size_t at = text.size() - n;
    while (at < text.size() && (static_cast<unsigned char>(text[at]) & 0xC0) == 0x80) {
        ++at;
    }
    return at;
}

// `text` cut to its two ends when it is long; *cut tells how many bytes were left out.
std::string cut_text(std::string_view text, size_t* cut) {
    *cut = 0;
    if (text.size() <= 2 * kEchoEnd + 32) {
        return std::string(text);
    }
    const size_t head = head_bytes(text, kEchoEnd);
    const size_t tail = tail_start(text, kEchoEnd);
    *cut = tail - head;
    return std::string(text.substr(0, head)) + "..." + std::string(text.substr(tail));
}

std::string cut_note(size_t cut) {
    return cut == 0 ? std::string() : " (" + std::to_string(cut) + " bytes cut)";
}

// A text in double quotes with JSON escapes, cut when long.
std::string qtext(std::string_view text) {
    size_t cut = 0;
    const std::string kept = cut_text(text, &cut);
    return ojson(kept).dump(-1, ' ', false, ojson::error_handler_t::replace) + cut_note(cut);
}

// ".key" for plain keys, ["key"] for any other (and a long one, cut).
std::string key_segment(std::string_view key) {
    bool plain = !key.empty() && !(key[0] >= '0' && key[0] <= '9') && key.size() <= 2 * kEchoEnd;
    for (char c : key) {
        plain =
            plain && ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_');
    }
    return plain ? "." + std::string(key) : "[" + qtext(key) + "]";
}

std::string index_segment(long index) { return "[" + std::to_string(index) + "]"; }

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

    // --- containers -----------------------------------------------------------------------------------

    bool start(bool is_array) {
        if (depth_ >= kMaxDepth) {
            error(here(), "expected at most " + std::to_string(kMaxDepth) +
                              " nested arrays and objects (a line at most " +
                              std::to_string((kMaxDepth - 3) / 2) + " levels below its window's top line)");
        }
        const char* type = is_array ? "array" : "object";
        Role role = Role::Skip;
        ojson* dom = nullptr;
        if (depth_ == 0) {
            root_ = is_array ? ojson::array() : ojson::object();
            role = Role::Root;
            dom = &root_;
        } else {
            Frame& p = top();
            if (p.is_array) {
                ++p.index;
            }
            switch (p.role) {
                case Role::Root:
                    if (!p.is_array && !is_array && (p.key == "objects" || p.key == "windows")) {
                        role = p.key == "objects" ? Role::Objects : Role::Windows;
                        insert(p, ojson::object());  // stands for the section in the checks
                    } else if (!p.is_array && is_array && p.key == "relations") {
                        role = Role::Relations;
                        relations_streamed_ = true;
                        insert(p, ojson::array());
                    } else {
                        role = Role::Dom;
                        dom = &insert(p, is_array ? ojson::array() : ojson::object());
                    }
                    break;
                case Role::Dom:
                    role = Role::Dom;
                    dom = &insert(p, is_array ? ojson::array() : ojson::object());
                    break;
                case Role::Objects:
                    if (is_array) {
                        error(here(), "expected an object, found array");
                    }
                    role = Role::ObjectEntry;
                    begin_object(p);
                    break;
                case Role::ObjectEntry:
                    role = object_field_container(p.key, is_array);
                    break;
                case Role::Attributes:
                    if (is_array) {
                        role = Role::AttributeList;
                        list_ = Value{};
                        list_.kind = Msg::Strings;
                        list_.text = static_cast<uint32_t>(site_->text_lists.size());
                    } else {
                        note(&object_fault_,
                             "expected a number, a text, a list of texts, true, false or null" + found(type));
                    }
                    break;
                case Role::AttributeList:
                    note(&object_fault_, "expected a text or null" + found(type));
                    break;
                case Role::Refs:
                    if (is_array) {
                        role = Role::RefList;
                        refs_ = NamedRefs{intern(p.key), static_cast<uint32_t>(site_->ref_targets.size()), 0};
                    } else {
                        note(&object_fault_, "expected a list of ids" + found(type));
                    }
                    break;
                case Role::RefList:
                    note(&object_fault_, id_fault(type, nullptr));
                    break;
                case Role::Windows:
                    if (is_array) {
                        error(here(), "expected a line (an object) or null, found array");
                    }
                    role = Role::Line;
                    break;
                case Role::Line:
                    role = line_field_container(p, is_array);
                    break;
                case Role::LineList:
                    if (is_array) {
                        error(here(), "expected a line (an object), found array");
                    }
                    role = Role::Line;
                    break;
                case Role::Relations:
                    entry_ = RelationEntry{};
                    if (is_array) {
                        role = Role::RelationEntry;
                    } else {
                        relation_shape_fault(p.index);
                    }
                    break;
                case Role::RelationEntry:
                    if (entry_.size < 3) {
                        entry_.type[static_cast<size_t>(entry_.size)] = type;
                    }
                    ++entry_.size;
                    break;
                case Role::Skip:
                    break;
            }
        }
        if (depth_ == frames_.size()) {
            frames_.emplace_back();
        }
        frames_[depth_++].open(is_array, role, dom);
        return true;
    }

    bool end() {
        Frame& f = top();
        switch (f.role) {
            case Role::ObjectEntry:
                end_object_entry();
                break;
            case Role::AttributeList:
                list_.count = static_cast<uint32_t>(site_->text_lists.size()) - list_.text;
                attributes_.push_back({intern(below(1).key), list_});
                break;
            case Role::RefList:
                refs_.count = static_cast<uint32_t>(site_->ref_targets.size()) - refs_.offset;
                site_->named_refs.push_back(refs_);
                ++object_.refs_count;
                break;
            case Role::Line:
                end_line(f);
                break;
            case Role::RelationEntry:
                end_relation(below(1).index);
                break;
            default:
                break;
        }
        --depth_;
        return true;
    }

    void on_key(const std::string& key) {
        Frame& f = top();
        f.key = key;
        f.keyed = true;
        if (f.role == Role::Objects || f.role == Role::Windows) {
            // Ids are interned anyway; a flag per interned string finds a repeated key of a
            // million entries without a set of their texts.
            f.key_id = intern(key);
            const uint8_t bit = f.role == Role::Objects ? 1 : 2;
            if (seen_keys_.size() <= f.key_id) {
                seen_keys_.resize(std::max<size_t>(f.key_id + 1, seen_keys_.size() * 2), 0);
            }
            if ((seen_keys_[f.key_id] & bit) != 0) {
                error(here(), "duplicate id " + qtext(key));
            }
            seen_keys_[f.key_id] |= bit;
            if (f.role == Role::Windows && key.find('\0') != std::string::npos) {
                error(here(), text_id_fault(key));
            }
            return;
        }
        if (!f.keys.insert(key)) {
            error(here(), "duplicate field " + qtext(key));
        }
        if (f.role == Role::Attributes &&
            (key == "object_name" || key == "object_type" || key == "item_id")) {
            note(&object_fault_,
                 "expected an attribute name other than object_name, object_type and item_id (use the fields "
                 "name and item_id)");
        } else if (f.role == Role::Refs && (key.empty() || key.size() > 32)) {
            note(&object_fault_, "expected a reference name of 1 to 32 characters");
        }
    }

    // Adds a value to the JSON value a frame builds. Keys are unique (duplicates are refused
    // as they come), so a member is appended without the look-up of its key, which an ordered
    // object makes by walking its members.
    static ojson& insert(Frame& p, ojson&& value) {
        if (p.dom->is_array()) {
            p.dom->push_back(std::move(value));
            return p.dom->back();
        }
        ojson::object_t::Container& members = p.dom->get_ref<ojson::object_t&>();
        members.emplace_back(p.key, std::move(value));
        return members.back().second;
    }

    bool scalar(const Scalar& v) {
        if (depth_ == 0) {
            root_ = v.json();  // a scalar document; refused in finish()
            return true;
        }
        Frame& f = top();
        if (f.is_array) {
            ++f.index;
        }
        switch (f.role) {
            case Role::Root:
            case Role::Dom:
                insert(f, v.json());
                break;
            case Role::Objects:
                error(here(), "expected an object" + found(v.type_name()));
            case Role::ObjectEntry:
                object_field(f.key, v);
                break;
            case Role::Attributes:
                attributes_.push_back({intern(f.key), attribute_value(v)});
                break;
            case Role::AttributeList:
                if (v.is_text()) {
                    site_->text_lists.push_back(value_text(*v.text));
                } else if (v.kind == Scalar::Null) {
                    site_->text_lists.push_back(kNone);
                } else {
                    note(&object_fault_, "expected a text or null" + found(v.type_name()));
                }
                break;
            case Role::Refs:
                note(&object_fault_, "expected a list of ids" + found(v.type_name()));
                break;
            case Role::RefList:
                note(&object_fault_, id_fault(v.type_name(), v.is_text() ? v.text : nullptr));
                if (v.is_text()) {
                    site_->ref_targets.push_back(intern(*v.text));
                }
                break;
            case Role::Windows:
                if (v.kind != Scalar::Null) {
                    error(here(), "expected a line (an object) or null" + found(v.type_name()));
                }
                windows_.push_back({f.key_id, kNone});
                break;
            case Role::Line:
                line_field(f, v);
                break;
            case Role::LineList:
                error(here(), "expected a line (an object)" + found(v.type_name()));
            case Role::Relations:
                relation_shape_fault(f.index);
                break;
            case Role::RelationEntry:
                if (entry_.size < 3) {
                    const auto k = static_cast<size_t>(entry_.size);
                    entry_.type[k] = v.type_name();
                    if (v.is_text()) {
                        entry_.text[k] = intern(*v.text);
                        entry_.length[k] = v.text->size();
                    }
                }
                ++entry_.size;
                break;
            case Role::Skip:
                break;
        }
        return true;
    }

    // --- lines ------------------------------------------------------------------------------------------

    void line_field(Frame& f, const Scalar& v) {
        const std::string& k = f.key;
        const std::string* text = v.is_text() ? v.text : nullptr;
        if (k == "id" || k == "revision") {
            note(&f.fault, id_fault(v.type_name(), text));
            if (text != nullptr) {
                (k == "id" ? f.line.id : f.line.revision_id) = intern(*text);
                f.has_revision = f.has_revision || k == "revision";
            }
        } else if (k == "occurrence_name") {
            if (text != nullptr) {
                f.line.occurrence_name = value_text(*text);
            } else {
                note(&f.fault, "expected a text" + found(v.type_name()));
            }
        } else if (k == "transform") {
            f.has_transform = true;
            if (text != nullptr) {
                f.line.transform = value_text(*text);
            } else if (v.kind != Scalar::Null) {
                note(&f.fault, "expected a text or null" + found(v.type_name()));
            }
        } else if (k == "jt") {
            if (v.kind != Scalar::Null) {
                note(&f.fault, id_fault(v.type_name(), text));
                if (text != nullptr) {
                    f.line.jt_id = intern(*text);
                }
            }
        } else if (k == "children" || k == "packed") {
            note(&f.fault, "expected a list of lines" + found(v.type_name()));
        } else {
            note(&f.fault, kLineFields);
        }
    }

    Role line_field_container(Frame& f, bool is_array) {
        const std::string& k = f.key;
        const char* type = is_array ? "array" : "object";
        if (k == "children" || k == "packed") {
            if (is_array) {
                return Role::LineList;
            }
            note(&f.fault, "expected a list of lines" + found(type));
        } else if (k == "id" || k == "revision" || k == "jt") {
            note(&f.fault, id_fault(type, nullptr));
        } else if (k == "occurrence_name") {
            note(&f.fault, "expected a text" + found(type));
        } else if (k == "transform") {
            note(&f.fault, "expected a text or null" + found(type));
        } else {
            note(&f.fault, kLineFields);
        }
        return Role::Skip;
    }

    void end_line(Frame& f) {
        if (!f.fault.empty()) {
            throw LoadError(f.fault);
        }
        Site& st = *site_;
        Line& line = f.line;
        if (line.id == kNone) {
            error(at_top(), "missing required field \"id\" (expected a text)");
        }
        if (!f.has_revision) {
            error(at_top(), "missing required field \"revision\" (expected the id of an ItemRevision)");
        }
        if (line.occurrence_name == kNone) {
            line.occurrence_name = st.strings.intern("");
        }
        if (!f.has_transform) {
            line.transform = st.identity_text;
        }
        line.child_offset = static_cast<uint32_t>(st.line_pool.size());
        line.child_count = static_cast<uint32_t>(f.children.size());
        st.line_pool.insert(st.line_pool.end(), f.children.begin(), f.children.end());
        line.packed_offset = static_cast<uint32_t>(st.line_pool.size());
        line.packed_count = static_cast<uint32_t>(f.packed.size());
        st.line_pool.insert(st.line_pool.end(), f.packed.begin(), f.packed.end());

        const auto index = static_cast<uint32_t>(st.lines.size());
        st.lines.push_back(line);
        Frame& parent = below(1);
        if (parent.role == Role::Windows) {
            windows_.push_back({parent.key_id, index});
        } else {
            Frame& owner = below(2);  // the line whose children/packed list this is
            (owner.key == "children" ? owner.children : owner.packed).push_back(index);
        }
    }

    // --- objects ----------------------------------------------------------------------------------------

    void begin_object(const Frame& objects) {
        object_ = Object{};
        object_.id = objects.key_id;
        object_.refs_offset = static_cast<uint32_t>(site_->named_refs.size());
        fields_ = ObjectFields{};
        name_ = Value{};
        item_id_ = Value{};
        attributes_.clear();
        object_fault_.clear();
        note(&object_fault_, text_id_fault(objects.key));
    }

    void object_field(const std::string& k, const Scalar& v) {
        const std::string* text = v.is_text() ? v.text : nullptr;
        if (k == "type") {
            if (text != nullptr) {
                object_.type_name = intern(*text);
            } else {
                note(&object_fault_, "expected a type name" + found(v.type_name()));
            }
        } else if (k == "name") {
            if (text != nullptr) {
                name_.text = value_text(*text);
            } else if (v.kind != Scalar::Null) {
                note(&object_fault_, "expected a text or null" + found(v.type_name()));
            }
        } else if (k == "item_id") {
            fields_.item_id = true;
            if (text != nullptr) {
                item_id_.text = value_text(*text);
            } else {
                note(&object_fault_, "expected a text" + found(v.type_name()));
            }
        } else if (k == "attributes") {
            note(&object_fault_, "expected an object of attributes" + found(v.type_name()));
        } else if (k == "refs") {
            fields_.refs = true;
            note(&object_fault_, "expected an object of named references" + found(v.type_name()));
        } else if (k == "version0") {
            fields_.version0 = true;
            note(&object_fault_, id_fault(v.type_name(), text));
            if (text != nullptr) {
                object_.version0_id = intern(*text);
            }
        } else {
            note(&object_fault_, kObjectFields);
        }
    }

    Role object_field_container(const std::string& k, bool is_array) {
        const char* type = is_array ? "array" : "object";
        if (k == "attributes" && !is_array) {
            return Role::Attributes;
        }
        if (k == "refs") {
            fields_.refs = true;
            if (!is_array) {
                return Role::Refs;
            }
            note(&object_fault_, "expected an object of named references" + found(type));
        } else if (k == "type") {
            note(&object_fault_, "expected a type name" + found(type));
        } else if (k == "name") {
            note(&object_fault_, "expected a text or null" + found(type));
        } else if (k == "item_id") {
            note(&object_fault_, "expected a text" + found(type));
        } else if (k == "attributes") {
            note(&object_fault_, "expected an object of attributes" + found(type));
        } else if (k == "version0") {
            note(&object_fault_, id_fault(type, nullptr));
        } else {
            note(&object_fault_, kObjectFields);
        }
        return Role::Skip;
    }

    Value attribute_value(const Scalar& x) {
        Value value;
        if (x.is_number()) {
            value.kind = Msg::Double;
            value.number = x.as_double();
        } else if (x.is_text()) {
            value.kind = Msg::String;
            value.text = value_text(*x.text);
        } else if (x.kind == Scalar::Boolean) {
            value.kind = Msg::Logical;
            value.flag = x.flag;
        } else {
            value.kind = Msg::String;  // null
        }
        return value;
    }

    void end_object_entry() {
        if (!object_fault_.empty()) {
            throw LoadError(object_fault_);
        }
        Site& st = *site_;
        if (object_.type_name == kNone) {
            error(at_top(), "missing required field \"type\" (expected a type name)");
        }
        // object_name first, then item_id (revisions), then the site's attributes in file order.
        object_.attribute_offset = static_cast<uint32_t>(st.attributes.size());
        st.attributes.push_back({st.p_object_name, name_});
        if (fields_.item_id) {
            st.attributes.push_back({st.p_item_id, item_id_});
        }
        st.attributes.insert(st.attributes.end(), attributes_.begin(), attributes_.end());
        object_.attribute_count = static_cast<uint32_t>(st.attributes.size()) - object_.attribute_offset;
        st.objects.push_back(object_);
        object_fields_.push_back(fields_);
    }

    // --- relations ----------------------------------------------------------------------------------------

    // Relations are checked after the sections before them in the checks' order; the first fault
    // is kept until then.
    void relation_shape_fault(long index) {
        if (relation_fault_.empty()) {
            relation_fault_ = message("$.relations" + index_segment(index),
                                      "expected [primary id, relation type name, secondary id]");
        }
    }

    void end_relation(long index) {
        if (!relation_fault_.empty()) {
            return;
        }
        const std::string at = "$.relations" + index_segment(index);
        if (entry_.size != 3) {
            relation_shape_fault(index);
            return;
        }
        auto id_fault_at = [&](size_t k) {
            const bool text = std::strcmp(entry_.type[k], "string") == 0;
            const std::string what =
                text ? text_id_fault(site_->strings.str(entry_.text[k])) : kAnId + found(entry_.type[k]);
            if (!what.empty()) {
                relation_fault_ = message(at + index_segment(static_cast<long>(k)), what);
            }
            return !what.empty();
        };
        if (id_fault_at(0)) {
            return;
        }
        if (std::strcmp(entry_.type[1], "string") != 0) {
            relation_fault_ = message(at + "[1]", "expected a relation type name" + found(entry_.type[1]));
            return;
        }
        if (entry_.length[1] == 0 || entry_.length[1] > 32) {
            relation_fault_ = message(at + "[1]", "expected a relation type name of 1 to 32 characters");
            return;
        }
        if (id_fault_at(2)) {
            return;
        }
        relations_.push_back({entry_.text[0], entry_.text[1], entry_.text[2]});
    }

    // --- after the parse ------------------------------------------------------------------------------

    template <class At>
    void register_id(uint32_t id, tag_t tag, const At& at) {
        Site& st = *site_;
        if (st.id_tags.size() < st.strings.size()) {
            st.id_tags.resize(st.strings.size(), NULLTAG);
        }
        if (st.id_tags[id] != NULLTAG) {
            static const char* const holder[] = {"", "an object", "a window", "a line"};
            const Kind kind = st.tags[st.id_tags[id]].kind;
            error(at, "duplicate id " + qtext(st.strings.str(id)) + " (already the id of " +
                          holder[static_cast<int>(kind) <= 3 ? static_cast<int>(kind) : 0] + ")");
        }
        st.id_tags[id] = tag;
    }

    std::string object_path(const Object& o) const {
        return "$.objects" + key_segment(site_->strings.str(o.id));
    }
    std::string window_path(const PendingWindow& w) const {
        return "$.windows" + key_segment(site_->strings.str(w.id));
    }

    // The object an id names, which must be of class `cls` (or any object class when cls < 0).
    template <class At>
    tag_t resolve_object(uint32_t id, int cls, const At& at) const {
        const Site& st = *site_;
        const char* expected = cls < 0 ? "an object" : cls == kItemRevision ? "an ItemRevision" : "a Dataset";
        const tag_t tag = st.tag_of_id(id);
        if (tag == NULLTAG) {
            error(at, "unknown id " + qtext(st.strings.str(id)) + " (expected the id of " + expected + ")");
        }
        const TagRec& r = st.tags[tag];
        if (r.kind != Kind::Object) {
            error(at, "expected the id of " + std::string(expected) + ", " + qtext(st.strings.str(id)) +
                          " is " + (r.kind == Kind::Line ? "a line" : "a window"));
        }
        const Object& o = st.objects[r.index];
        if (cls >= 0 && st.types[o.type].cls != cls) {
            error(at, "expected the id of " + std::string(expected) + ", " + qtext(st.strings.str(id)) +
                          " is " + (st.types[o.type].cls == kItemRevision ? "an " : "a ") +
                          kClassNames[st.types[o.type].cls]);
        }
        return tag;
    }

    // Visits every line of every window in tag order (pre-order), with its parent's tag and a
    // way to name its path.
    template <class OnWindow, class Visit>
    void walk_lines(OnWindow&& on_window, Visit&& visit) {
        Site& st = *site_;
        std::vector<std::pair<uint32_t, uint32_t>> stack;  // (line, next child or packed position)
        std::vector<std::pair<bool, uint32_t>> segments;   // (packed, index) down to the line
        for (size_t w = 0; w < windows_.size(); ++w) {
            on_window(w);
            if (windows_[w].top_line == kNone) {
                continue;
            }
            const std::string base = window_path(windows_[w]);
            auto path = [&]() {
                std::string p = base;
                for (const auto& s : segments) {
                    p += (s.first ? ".packed" : ".children") + index_segment(s.second);
                }
                return p;
            };
            visit(w, windows_[w].top_line, NULLTAG, path);
            stack.assign(1, {windows_[w].top_line, 0});
            while (!stack.empty()) {
                const uint32_t li = stack.back().first;
                const uint32_t next = stack.back().second;
                const Line& line = st.lines[li];
                if (next < line.child_count + line.packed_count) {
                    ++stack.back().second;
                    const bool packed = next >= line.child_count;
                    const uint32_t k = packed ? next - line.child_count : next;
                    const uint32_t child =
                        st.line_pool[(packed ? line.packed_offset : line.child_offset) + k];
                    segments.emplace_back(packed, k);
                    visit(w, child, packed ? line.parent : line.tag, path);
                    stack.push_back({child, 0});
                } else {
                    stack.pop_back();
                    if (!segments.empty()) {
                        segments.pop_back();
                    }
                }
            }
        }
    }

    void finish(const ojson& root) {
        Site& st = *site_;
        if (!root.is_object()) {
            error("$", "expected an object" + found(root));
        }
        static const char* const allowed[] = {"platform",     "types",          "properties",
                                              "line_methods", "preferences",    "objects",
                                              "relations",    "relation_types", "windows"};
        for (auto it = root.begin(); it != root.end(); ++it) {
            if (std::find_if(std::begin(allowed), std::end(allowed),
                             [&](const char* a) { return it.key() == a; }) == std::end(allowed)) {
                error("$" + key_segment(it.key()),
                      "unexpected field (a site has platform, types, properties, line_methods, preferences, "
                      "objects, relations, relation_types and windows)");
            }
        }
        for (const char* container : {"objects", "windows"}) {
            if (root.contains(container) && !root[container].is_object()) {
                error("$" + key_segment(container), "expected an object" + found(root[container]));
            }
        }

        read_platform(root);
        read_types(root);
        read_properties(root);
        read_line_methods(root);
        read_preferences(root);
        const std::vector<RelationNames> relations = read_relations(root);

        // Tags: objects, windows with their lines, types, relation types.
        st.tags.assign(1, TagRec{});
        for (size_t i = 0; i < st.objects.size(); ++i) {
            const auto tag = static_cast<tag_t>(st.tags.size());
            st.tags.push_back({Kind::Object, static_cast<uint32_t>(i)});
            st.objects[i].tag = tag;
            register_id(st.objects[i].id, tag, [&] { return object_path(st.objects[i]); });
        }
        st.tags.reserve(st.tags.size() + windows_.size() + st.lines.size() + st.types.size() +
                        st.relation_types.size());
        walk_lines(
            [&](size_t w) {
                const auto tag = static_cast<tag_t>(st.tags.size());
                st.tags.push_back({Kind::Window, static_cast<uint32_t>(st.windows.size())});
                st.windows.push_back(Window{windows_[w].id, windows_[w].top_line, tag, NULLTAG});
                register_id(windows_[w].id, tag, [&] { return window_path(windows_[w]); });
            },
            [&](size_t, uint32_t li, tag_t parent, auto& path) {
                Line& line = st.lines[li];
                line.tag = static_cast<tag_t>(st.tags.size());
                line.parent = parent;
                st.tags.push_back({Kind::Line, li});
                register_id(line.id, line.tag, [&] { return path() + ".id"; });
            });
        for (size_t i = 0; i < st.types.size(); ++i) {
            st.types[i].tag = static_cast<tag_t>(st.tags.size());
            st.tags.push_back({Kind::Type, static_cast<uint32_t>(i)});
        }
        for (size_t i = 0; i < st.relation_types.size(); ++i) {
            st.relation_types[i].tag = static_cast<tag_t>(st.tags.size());
            st.tags.push_back({Kind::RelationType, static_cast<uint32_t>(i)});
        }

        resolve_objects();
        walk_lines([](size_t) {},
                   [&](size_t, uint32_t li, tag_t, auto& path) {
                       Line& line = st.lines[li];
                       line.revision = resolve_object(line.revision_id, kItemRevision,
                                                      [&] { return path() + ".revision"; });
                       if (line.jt_id != kNone) {
                           line.jt = resolve_object(line.jt_id, kDataset, [&] { return path() + ".jt"; });
                       }
                   });
        for (tag_t& entry : st.line_pool) {
            entry = st.lines[entry].tag;
        }
        for (Window& w : st.windows) {
            w.top = w.top_line == kNone ? NULLTAG : st.lines[w.top_line].tag;
        }
        resolve_relations(relations);
    }

    void read_platform(const ojson& root) {
        Site& st = *site_;
        if (!root.contains("platform")) {
            return;
        }
        const ojson& p = root["platform"];
        if (!p.is_object()) {
            error("$.platform", "expected an object" + found(p));
        }
        for (auto it = p.begin(); it != p.end(); ++it) {
            const std::string at = "$.platform" + key_segment(it.key());
            const ojson& x = it.value();
            if (it.key() == "version") {
                if (!x.is_number_integer() || x.get<long long>() < 0 || x.get<long long>() > 2147483647LL) {
                    error(at, "expected a version number (a non-negative integer)" + found(x));
                }
                st.version = x.get<int>();
            } else if (it.key() == "search_scope") {
                if (!x.is_number_integer() || x.get<long long>() < 0 || x.get<long long>() > 4) {
                    error(at, "expected a search scope from 0 to 4");
                }
                st.search_scope = x.get<int>();
            } else if (it.key() == "env") {
                if (!x.is_object()) {
                    error(at, "expected an object of environment variables" + found(x));
                }
                for (auto e = x.begin(); e != x.end(); ++e) {
                    if (e.value().is_null()) {
                        st.env_hidden.insert(e.key());
                    } else {
                        st.env[e.key()] = text_of(e.value(), at + key_segment(e.key()), "a text or null");
                    }
                }
            } else {
                error(at, "unexpected field (platform has version, search_scope and env)");
            }
        }
    }

    void read_types(const ojson& root) {
        Site& st = *site_;
        if (!root.contains("types")) {
            return;
        }
        const ojson& t = root["types"];
        if (!t.is_object()) {
            error("$.types", "expected an object of type names" + found(t));
        }
        const size_t first = st.types.size();
        std::vector<std::string> parents;
        for (auto it = t.begin(); it != t.end(); ++it) {
            const std::string at = "$.types" + key_segment(it.key());
            if (it.key().empty() || it.key().size() > 32) {
                error(at, "expected a type name of 1 to 32 characters");
            }
            if (st.find_type(it.key()) >= 0) {
                error(at, "duplicate type " + qtext(it.key()) + " (a platform class)");
            }
            parents.push_back(text_of(it.value(), at, "the name of the parent type"));
            Type type;
            type.name = st.strings.intern(it.key());
            st.add_type(std::move(type));
        }
        for (size_t i = first; i < st.types.size(); ++i) {
            const std::string at = "$.types" + key_segment(st.strings.str(st.types[i].name));
            const int parent = st.find_type(parents[i - first]);
            if (parent < 0) {
                error(
                    at,
                    "unknown type " + qtext(parents[i - first]) +
                        " (expected ItemRevision, Dataset, Form, BOMLine, BOMWindow or a type under types)");
            }
            st.types[i].parent = parent;
        }
        // Each type's class, from the first type in file order up: a walk stops at a platform
        // class or a type whose class is known, so every type is walked over once.
        enum : uint8_t { kNew, kOnWalk, kKnown };
        std::vector<uint8_t> state(st.types.size() - first, kNew);
        std::vector<size_t> walk;
        for (size_t i = first; i < st.types.size(); ++i) {
            if (state[i - first] == kKnown) {
                continue;
            }
            walk.clear();
            auto up = static_cast<int>(i);
            while (up >= static_cast<int>(first) && state[static_cast<size_t>(up) - first] == kNew) {
                state[static_cast<size_t>(up) - first] = kOnWalk;
                walk.push_back(static_cast<size_t>(up));
                up = st.types[static_cast<size_t>(up)].parent;
            }
            if (up >= static_cast<int>(first) && state[static_cast<size_t>(up) - first] == kOnWalk) {
                walk.push_back(static_cast<size_t>(up));  // the walk met itself: a cycle
                error("$.types" + key_segment(st.strings.str(st.types[i].name)),
                      "cycle in the type hierarchy (" + type_chain(walk) +
                          "); expected a chain ending at a platform class");
            }
            for (const size_t w : walk) {
                st.types[w].cls = st.types[static_cast<size_t>(up)].cls;
                state[w - first] = kKnown;
            }
        }
    }

    // "A -> B -> C" for types given by index, the middle of a long chain cut.
    std::string type_chain(const std::vector<size_t>& chain) const {
        std::string text;
        for (size_t k = 0; k < chain.size(); ++k) {
            if (chain.size() > 2 * kPathEnds + 1 && k == kPathEnds) {
                text += " -> ...(" + std::to_string(chain.size() - 2 * kPathEnds) + " types cut)...";
                k = chain.size() - kPathEnds - 1;
                continue;
            }
            text += (k == 0 ? "" : " -> ") + std::string(site_->strings.str(site_->types[chain[k]].name));
        }
        return text;
    }

    void read_properties(const ojson& root) {
        Site& st = *site_;
        if (!root.contains("properties")) {
            return;
        }
        const ojson& p = root["properties"];
        if (!p.is_object()) {
            error("$.properties", "expected an object of property lists" + found(p));
        }
        for (auto it = p.begin(); it != p.end(); ++it) {
            const std::string at = "$.properties" + key_segment(it.key());
            const int type = st.find_type(it.key());
            if (type < 0) {
                error(at, "unknown type " + qtext(it.key()) +
                              " (expected a platform class or a type under types)");
            }
            if (!it.value().is_array()) {
                error(at, "expected a list of property names" + found(it.value()));
            }
            for (size_t i = 0; i < it.value().size(); ++i) {
                const std::string name_at = at + index_segment(static_cast<long>(i));
                const std::string name = text_of(it.value()[i], name_at, "a property name");
                if (name.empty()) {
                    error(name_at, "expected a property name, found an empty text");
                }
                const uint32_t id = st.strings.intern(name);
                if (site_defines(type, id)) {
                    error(name_at, "duplicate property " + qtext(name) + " (already defined on the type)");
                }
                st.types[static_cast<size_t>(type)].runtime.push_back({id, -1});
                defined_.insert(type_property(type, id));
            }
        }
    }

    static uint64_t type_property(int type, uint32_t name) {
        return static_cast<uint64_t>(static_cast<uint32_t>(type)) << 32 | name;
    }

    bool site_defines(int type, uint32_t id) const {
        const Site& st = *site_;
        for (int t = type; t >= 0; t = st.types[static_cast<size_t>(t)].parent) {
            const Type& ty = st.types[static_cast<size_t>(t)];
            if (!ty.runtime.empty() && defined_.count(type_property(t, id)) != 0) {
                return true;
            }
            if (ty.parent < 0) {
                if (ty.cls == kBOMLine) {
                    return std::find(st.p_line.begin(), st.p_line.end(), id) != st.p_line.end();
                }
                if (ty.cls != kBOMWindow) {
                    return id == st.p_object_name || id == st.p_object_type ||
                           (ty.cls == kItemRevision && id == st.p_item_id);
                }
            }
        }
        return false;
    }

    void read_line_methods(const ojson& root) {
        Site& st = *site_;
        if (!root.contains("line_methods")) {
            return;
        }
        const ojson& m = root["line_methods"];
        if (!m.is_array()) {
            error("$.line_methods", "expected a list of line property names" + found(m));
        }
        st.line_methods.fill(false);
        for (size_t i = 0; i < m.size(); ++i) {
            const std::string at = "$.line_methods" + index_segment(static_cast<long>(i));
            const std::string name = text_of(m[i], at, "a line property name");
            if (name == "bl_plmxml_occ_xform") {
                st.line_methods[kOccXform] = true;
            } else if (name == "bl_plmxml_abs_xform") {
                st.line_methods[kAbsXform] = true;
            } else if (name == "bl_jt_dataset_tag") {
                st.line_methods[kJtTag] = true;
            } else {
                error(at, "expected bl_plmxml_occ_xform, bl_plmxml_abs_xform or bl_jt_dataset_tag, found " +
                              qtext(name));
            }
        }
    }

    void read_preferences(const ojson& root) {
        Site& st = *site_;
        if (!root.contains("preferences")) {
            return;
        }
        const ojson& p = root["preferences"];
        if (!p.is_object()) {
            error("$.preferences", "expected an object of preferences" + found(p));
        }
        for (auto it = p.begin(); it != p.end(); ++it) {
            const std::string at = "$.preferences" + key_segment(it.key());
            std::vector<std::string> values;
            if (it.value().is_string()) {
                values.push_back(it.value().get<std::string>());
            } else if (it.value().is_array()) {
                for (size_t i = 0; i < it.value().size(); ++i) {
                    values.push_back(text_of(it.value()[i], at + index_segment(static_cast<long>(i))));
                }
            } else {
                error(at, "expected a text or a list of texts" + found(it.value()));
            }
            st.preferences[it.key()] = std::move(values);
        }
    }

    // Creates the relation types (in order of first use, then the further names) and gives back
    // the relations' names, checked for their shape while they were read.
    std::vector<RelationNames> read_relations(const ojson& root) {
        Site& st = *site_;
        std::unordered_set<uint32_t> known;
        auto add_type = [&](uint32_t id) {
            if (known.insert(id).second) {
                st.relation_types.push_back({id, NULLTAG});
            }
        };
        std::vector<RelationNames> out;
        if (relations_streamed_) {
            if (!relation_fault_.empty()) {
                throw LoadError(relation_fault_);
            }
            for (const RelationNames& r : relations_) {
                add_type(r[1]);
            }
            out = std::move(relations_);
        } else if (root.contains("relations")) {
            error("$.relations",
                  "expected a list of relations" + found(root["relations"]));  // a list is read as it comes
        }
        if (root.contains("relation_types")) {
            const ojson& r = root["relation_types"];
            if (!r.is_array()) {
                error("$.relation_types", "expected a list of relation type names" + found(r));
            }
            for (size_t i = 0; i < r.size(); ++i) {
                const std::string at = "$.relation_types" + index_segment(static_cast<long>(i));
                const std::string type = text_of(r[i], at, "a relation type name");
                if (type.empty() || type.size() > 32) {
                    error(at, "expected a relation type name of 1 to 32 characters");
                }
                add_type(st.strings.intern(type));
            }
        }
        return out;
    }

    void resolve_objects() {
        Site& st = *site_;
        std::unordered_map<uint32_t, int> types;  // type name -> type, as found
        for (size_t i = 0; i < st.objects.size(); ++i) {
            Object& o = st.objects[i];
            auto known = types.find(o.type_name);
            const int type = known != types.end()
                                 ? known->second
                                 : types[o.type_name] = st.find_type(st.strings.str(o.type_name));
            const std::string_view type_name = st.strings.str(o.type_name);
            const std::string at = type < 0 ? object_path(o) : std::string();
            if (type < 0) {
                error(at + ".type", "unknown type " + qtext(type_name) +
                                        " (expected ItemRevision, Dataset, Form or a type under types)");
            }
            const uint8_t cls = st.types[static_cast<size_t>(type)].cls;
            if (cls == kBOMLine || cls == kBOMWindow) {
                error(object_path(o) + ".type",
                      "expected ItemRevision, Dataset, Form or a type under types, found " +
                          qtext(type_name) + " (lines and windows come from windows)");
            }
            o.type = static_cast<uint32_t>(type);
        }
        for (size_t i = 0; i < st.objects.size(); ++i) {
            Object& o = st.objects[i];
            auto at = [&] { return object_path(o); };
            const uint8_t cls = st.types[o.type].cls;
            const ObjectFields& f = object_fields_[i];
            if (f.item_id && cls != kItemRevision) {
                error(at() + ".item_id", "unexpected field (item_id belongs to an ItemRevision)");
            }
            if (f.refs && cls != kDataset) {
                error(at() + ".refs", "unexpected field (refs belong to a Dataset)");
            }
            if (f.version0 && cls != kDataset) {
                error(at() + ".version0", "unexpected field (version0 belongs to a Dataset)");
            }
            for (const NamedRefs& refs : st.refs_of(o)) {
                for (uint32_t k = 0; k < refs.count; ++k) {
                    tag_t& target = st.ref_targets[refs.offset + k];
                    target = resolve_object(target, -1, [&] {
                        return at() + ".refs" + key_segment(st.strings.str(refs.name)) +
                               index_segment(static_cast<long>(k));
                    });
                }
            }
            o.version0 = f.version0
                             ? resolve_object(o.version0_id, kDataset, [&] { return at() + ".version0"; })
                             : (cls == kDataset ? o.tag : NULLTAG);
            Type& t = st.types[o.type];
            for (const Attribute& a : st.attributes_of(o)) {
                t.attributes.insert(a.name);
            }
        }
    }

    void resolve_relations(const std::vector<RelationNames>& relations) {
        Site& st = *site_;
        std::unordered_map<uint32_t, tag_t> types;  // name -> tag
        for (const RelationType& t : st.relation_types) {
            types.emplace(t.name, t.tag);
        }
        std::vector<Relation> list;
        list.reserve(relations.size());
        for (size_t i = 0; i < relations.size(); ++i) {
            auto at = [&](const char* end) {
                return "$.relations" + index_segment(static_cast<long>(i)) + end;
            };
            Relation r{};
            r.primary = resolve_object(relations[i][0], -1, [&] { return at("[0]"); });
            r.secondary = resolve_object(relations[i][2], -1, [&] { return at("[2]"); });
            const auto type = types.find(relations[i][1]);  // every name used has its type
            r.type = type == types.end() ? NULLTAG : type->second;
            list.push_back(r);
        }
        std::stable_sort(list.begin(), list.end(),
                         [](const Relation& a, const Relation& b) { return a.primary < b.primary; });
        st.relations = std::move(list);
        for (size_t i = 0; i < st.relations.size(); ++i) {
            Object& o = st.objects[st.tags[st.relations[i].primary].index];
            if (o.relation_count == 0) {
                o.relation_offset = static_cast<uint32_t>(i);
            }
            ++o.relation_count;
        }
    }

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

// Where the text read so far stands: bytes, line ends and where the last line began.
struct TextPlace {
    size_t offset = 0;
    size_t lines = 0;
    size_t line_start = 0;

    void pass(const char* bytes, size_t size) {
        for (size_t i = 0; i < size; ++i) {
            if (bytes[i] == '\n') {
                ++lines;
                line_start = offset + i + 1;
            }
        }
        offset += size;
    }
};

// The next `size` bytes of the text, read from `place` on: how many of them the parser may
// have, which is all of them unless they hold a NUL byte (noted in *nul).
size_t bytes_before_nul(const char* bytes, size_t size, TextPlace place, Loader::NulByte* nul) {
    const void* found = size == 0 ? nullptr : std::memchr(bytes, '\0', size);
    if (found == nullptr) {
        return size;
    }
    const auto at = static_cast<size_t>(static_cast<const char*>(found) - bytes);
    place.pass(bytes, at);
    nul->offset = place.offset;
    nul->line = place.lines + 1;
    nul->column = place.offset - place.line_start + 1;
    return at;
}

// Hands a file to the parser in pieces: an input iterator over a buffer refilled as it runs out.
// A NUL byte ends what it hands over (and is noted for the loader).
class FileReader {
public:
    FileReader(std::FILE* file, Loader::NulByte* nul) : file_(file), nul_(nul), buffer_(kPiece) {}
    bool failed() const { return failed_; }

    class Iterator {
    public:
        using iterator_category = std::input_iterator_tag;
        using value_type = char;
        using difference_type = std::ptrdiff_t;
        using pointer = const char*;
        using reference = const char&;

        explicit Iterator(FileReader* reader) : reader_(reader) {}
        reference operator*() const { return reader_->buffer_[reader_->pos_]; }
        Iterator& operator++() {
            ++reader_->pos_;
            return *this;
        }
        // Only ever compared with the end, which it reaches when the file has no more bytes.
        bool operator!=(const Iterator&) const { return reader_->more(); }
        bool operator==(const Iterator& other) const { return !(*this != other); }

    private:
        FileReader* reader_;
    };
    Iterator begin() { return Iterator(this); }
    Iterator end() { return Iterator(this); }

private:
    static constexpr size_t kPiece = size_t{1} << 16;

    bool more() {
        if (pos_ < size_) {
            return true;
        }
        if (std::feof(file_) != 0 || failed_ || nul_->offset != Loader::kNoNul) {
            return false;
        }
        const size_t read = std::fread(buffer_.data(), 1, buffer_.size(), file_);
        failed_ = std::ferror(file_) != 0;
        size_ = bytes_before_nul(buffer_.data(), read, place_, nul_);
        pos_ = 0;
        if (size_ == read) {
            place_.pass(buffer_.data(), read);  // for the place of a NUL byte in a later piece
        }
        return size_ > 0;
    }

    std::FILE* file_;
    Loader::NulByte* nul_;
    std::vector<char> buffer_;
    size_t pos_ = 0;
    size_t size_ = 0;
    TextPlace place_;  // of the pieces before this one
    bool failed_ = false;
};

template <class Load>
std::unique_ptr<Site> load_or_refuse(const std::string& source, std::string* error, Load&& load) {
    try {
        Loader loader(source);
        return load(loader);
    } catch (const LoadError& e) {
        *error = e.what();
    } catch (const std::bad_alloc&) {
        *error = source + ": $: the site does not fit in memory";
    }
    return nullptr;
}

}  // namespace

std::unique_ptr<Site> load_site_text(const std::string& text, const std::string& source, std::string* error) {
    return load_or_refuse(source, error, [&](Loader& loader) {
        const size_t size = bytes_before_nul(text.data(), text.size(), TextPlace{}, &loader.nul);
        return loader.load([&](Loader* handler) {
            ojson::sax_parse(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(size), handler);
        });
    });
}

std::unique_ptr<Site> read_site_stream(std::FILE* file, const std::string& source, std::string* error) {
    bool failed = false;
    std::unique_ptr<Site> site = load_or_refuse(source, error, [&](Loader& loader) {
        FileReader reader(file, &loader.nul);
        std::unique_ptr<Site> loaded;
        try {
            loaded = loader.load(
                [&](Loader* handler) { ojson::sax_parse(reader.begin(), reader.end(), handler); });
        } catch (...) {
            failed = reader.failed();
            throw;
        }
        failed = reader.failed();
        return loaded;
    });
    if (failed) {
        *error = source + ": cannot read the file";
        return nullptr;
    }
    return site;
}

std::unique_ptr<Site> read_site_file(const std::string& path, std::string* error) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        // A folder opens on Unix and then reads nothing; Windows refuses to open it. Both say so alike.
        std::error_code no_kind;
        *error = path + (std::filesystem::is_directory(path, no_kind) ? ": cannot read the file"
                                                                      : ": cannot open the file");
        return nullptr;
    }
    std::unique_ptr<Site> site = read_site_stream(file, path, error);
    std::fclose(file);
    return site;
}

}  // namespace standin::detail
