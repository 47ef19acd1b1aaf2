// The site loader: JSON text to a Site, refusing the whole text on the first fault with one line
// that names the source, the JSON path and what was expected.
//
// Lines and objects are converted while the text is parsed and dropped from the document at once
// (a parser callback), so a site of a million lines never exists as a JSON tree; the remaining
// document (platform, types, preferences, relations, ...) is small. References between ids are
// resolved after the parse, when every id is known.
#include <algorithm>
#include <cstring>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <stdexcept>
#include <type_traits>

#include "state.h"

namespace standin::detail {
namespace {

using ojson = nlohmann::ordered_json;

struct LoadError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

std::string qtext(std::string_view text) { return ojson(std::string(text)).dump(); }

// ".key" for plain keys, ["key"] for any other.
std::string key_segment(std::string_view key) {
    bool plain = !key.empty() && !(key[0] >= '0' && key[0] <= '9');
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

private:
    std::vector<std::string> small_;
    std::unordered_set<std::string> big_;
};

enum class Role : uint8_t { Root, Objects, ObjectEntry, Windows, Line, LineList, Other };

struct Frame {
    bool is_array = false;
    Role role = Role::Other;
    std::string key;  // current key (objects)
    long index = -1;  // current index (arrays)
    KeySet keys;
    std::vector<uint32_t> children, packed;  // line frames: indices of finished child lines
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

class Loader {
public:
    explicit Loader(std::string source) : source_(std::move(source)), site_(std::make_unique<Site>()) {}

    std::unique_ptr<Site> load(const std::string& text) {
        // A line of a site takes some 60 bytes of text or more and holds up to three new strings.
        site_->strings.reserve(text.size() / 20);
        site_->lines.reserve(text.size() / 64);  // untouched capacity costs address space only
        ojson root;
        try {
            root = ojson::parse(text, [this](int, nlohmann::detail::parse_event_t event, ojson& parsed) {
                return on_event(event, parsed);
            });
        } catch (const nlohmann::json::exception& e) {
            std::string what = e.what();
            const size_t bracket = what.find("] ");
            if (what.rfind("[json.exception", 0) == 0 && bracket != std::string::npos) {
                what = what.substr(bracket + 2);
            }
            error(here(), "invalid JSON: " + what);
        }
        finish(root);
        return std::move(site_);
    }

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
        throw LoadError(source_ + ": " + path_text(at) + ": " + what);
    }

    // The path made of the first n frames' current positions.
    std::string path(size_t n) const {
        std::string p = "$";
        for (size_t i = 0; i < n && i < frames_.size(); ++i) {
            p += frames_[i].is_array ? index_segment(frames_[i].index) : key_segment(frames_[i].key);
        }
        return p;
    }
    std::string here() const { return path(frames_.size()); }
    std::string at_top() const { return path(frames_.size() - 1); }  // the innermost container itself

    static std::string found(const ojson& v) { return std::string(", found ") + v.type_name(); }

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

    // --- the parse: lines and objects as they end ---------------------------------------------------

    bool on_event(nlohmann::detail::parse_event_t event, ojson& parsed) {
        using E = nlohmann::detail::parse_event_t;
        switch (event) {
            case E::object_start:
                start_container(false);
                return true;
            case E::array_start:
                start_container(true);
                return true;
            case E::key: {
                Frame& f = frames_.back();
                f.key = parsed.get<std::string>();
                if (!f.keys.insert(f.key)) {
                    const bool id_map = f.role == Role::Objects || f.role == Role::Windows;
                    error(here(),
                          id_map ? "duplicate id " + qtext(f.key) : "duplicate field " + qtext(f.key));
                }
                return true;
            }
            case E::value:
                on_value(parsed);
                return true;
            case E::object_end: {
                const bool keep = end_object(parsed);
                frames_.pop_back();
                return keep;
            }
            case E::array_end:
                frames_.pop_back();
                return true;
        }
        return true;
    }

    void start_container(bool is_array) {
        Role role = Role::Other;
        if (frames_.empty()) {
            role = Role::Root;
        } else {
            Frame& p = frames_.back();
            if (p.is_array) {
                ++p.index;
            }
            if (p.role == Role::Root && !is_array && p.key == "objects") {
                role = Role::Objects;
            } else if (p.role == Role::Root && !is_array && p.key == "windows") {
                role = Role::Windows;
            } else if (p.role == Role::Objects) {
                if (is_array) {
                    error(here(), "expected an object, found array");
                }
                role = Role::ObjectEntry;
            } else if (p.role == Role::Windows) {
                if (is_array) {
                    error(here(), "expected a line (an object) or null, found array");
                }
                role = Role::Line;
            } else if (p.role == Role::LineList) {
                if (is_array) {
                    error(here(), "expected a line (an object), found array");
                }
                role = Role::Line;
            } else if (p.role == Role::Line && is_array && (p.key == "children" || p.key == "packed")) {
                role = Role::LineList;
            }
        }
        Frame f;
        f.is_array = is_array;
        f.role = role;
        frames_.push_back(std::move(f));
    }

    void on_value(const ojson& v) {
        if (frames_.empty()) {
            return;  // a scalar document; refused in finish()
        }
        Frame& f = frames_.back();
        if (f.is_array) {
            ++f.index;
        }
        switch (f.role) {
            case Role::Windows:
                if (!v.is_null()) {
                    error(here(), "expected a line (an object) or null" + found(v));
                }
                windows_.push_back({site_->strings.intern(f.key), kNone});
                break;
            case Role::LineList:
                error(here(), "expected a line (an object)" + found(v));
            case Role::Objects:
                error(here(), "expected an object" + found(v));
            default:
                break;
        }
    }

    // Returns false for lines and objects: they are converted and dropped from the document.
    bool end_object(const ojson& v) {
        Frame& f = frames_.back();
        if (f.role == Role::Line) {
            take_line(v, f);
            return false;
        }
        if (f.role == Role::ObjectEntry) {
            take_object(v, frames_[frames_.size() - 2].key);
            return false;
        }
        return true;
    }

    void take_line(const ojson& v, Frame& f) {
        Site& st = *site_;
        Line line;
        bool has_revision = false, has_transform = false;
        for (auto it = v.begin(); it != v.end(); ++it) {
            const std::string& k = it.key();
            const ojson& x = it.value();
            auto field_at = [&] { return at_top() + key_segment(k); };
            if (k == "id") {
                line.id = st.strings.intern(id_of(x, field_at));
            } else if (k == "revision") {
                line.revision_id = st.strings.intern(id_of(x, field_at));
                has_revision = true;
            } else if (k == "occurrence_name") {
                line.occurrence_name = st.strings.intern(text_of(x, field_at));
            } else if (k == "transform") {
                has_transform = true;
                line.transform =
                    x.is_null() ? kNone : st.strings.intern(text_of(x, field_at, "a text or null"));
            } else if (k == "jt") {
                line.jt_id = x.is_null() ? kNone : st.strings.intern(id_of(x, field_at));
            } else if (k == "children" || k == "packed") {
                if (!x.is_array()) {
                    error(field_at, "expected a list of lines" + found(x));
                }
            } else {
                error(field_at,
                      "unexpected field (a line has id, revision, occurrence_name, transform, jt, "
                      "children and packed)");
            }
        }
        if (line.id == kNone) {
            error(at_top(), "missing required field \"id\" (expected a text)");
        }
        if (!has_revision) {
            error(at_top(), "missing required field \"revision\" (expected the id of an ItemRevision)");
        }
        if (line.occurrence_name == kNone) {
            line.occurrence_name = st.strings.intern("");
        }
        if (!has_transform) {
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
        Frame& parent = frames_[frames_.size() - 2];
        if (parent.role == Role::Windows) {
            windows_.push_back({st.strings.intern(parent.key), index});
        } else {
            Frame& owner = frames_[frames_.size() - 3];  // the line whose children/packed list this is
            (owner.key == "children" ? owner.children : owner.packed).push_back(index);
        }
    }

    Value attribute_value(const ojson& x, const std::string& at) {
        Interner& strings = site_->strings;
        Value value;
        if (x.is_number()) {
            value.kind = Msg::Double;
            value.number = x.get<double>();
        } else if (x.is_string()) {
            value.kind = Msg::String;
            value.text = strings.intern(x.get<std::string>());
        } else if (x.is_boolean()) {
            value.kind = Msg::Logical;
            value.flag = x.get<bool>();
        } else if (x.is_null()) {
            value.kind = Msg::String;
        } else if (x.is_array()) {
            value.kind = Msg::Strings;
            for (size_t i = 0; i < x.size(); ++i) {
                const ojson& e = x[i];
                if (e.is_null()) {
                    value.texts.push_back(kNone);
                } else if (e.is_string()) {
                    value.texts.push_back(strings.intern(e.get<std::string>()));
                } else {
                    error(at + index_segment(static_cast<long>(i)), "expected a text or null" + found(e));
                }
            }
        } else {
            error(at, "expected a number, a text, a list of texts, true, false or null" + found(x));
        }
        return value;
    }

    void take_object(const ojson& v, const std::string& id) {
        Site& st = *site_;
        if (id.empty()) {
            error(at_top(), "expected an id (a non-empty text), found an empty text");
        }
        Object o;
        o.id = st.strings.intern(id);
        ObjectFields fields;
        Value name;  // null unless given
        Value item_id;
        std::vector<Attribute> attributes;
        for (auto it = v.begin(); it != v.end(); ++it) {
            const std::string& k = it.key();
            const ojson& x = it.value();
            auto field_at = [&] { return at_top() + key_segment(k); };
            if (k == "type") {
                o.type_name = st.strings.intern(text_of(x, field_at, "a type name"));
            } else if (k == "name") {
                if (!x.is_null()) {
                    name.text = st.strings.intern(text_of(x, field_at, "a text or null"));
                }
            } else if (k == "item_id") {
                item_id.text = st.strings.intern(text_of(x, field_at));
                fields.item_id = true;
            } else if (k == "attributes") {
                if (!x.is_object()) {
                    error(field_at(), "expected an object of attributes" + found(x));
                }
                for (auto a = x.begin(); a != x.end(); ++a) {
                    const std::string attribute_at = field_at() + key_segment(a.key());
                    if (a.key() == "object_name" || a.key() == "object_type" || a.key() == "item_id") {
                        error(attribute_at,
                              "expected an attribute name other than object_name, object_type and "
                              "item_id (use the fields name and item_id)");
                    }
                    attributes.push_back(
                        {st.strings.intern(a.key()), attribute_value(a.value(), attribute_at)});
                }
            } else if (k == "refs") {
                fields.refs = true;
                if (!x.is_object()) {
                    error(field_at(), "expected an object of named references" + found(x));
                }
                for (auto r = x.begin(); r != x.end(); ++r) {
                    const std::string ref_at = field_at() + key_segment(r.key());
                    if (r.key().empty() || r.key().size() > 32) {
                        error(ref_at, "expected a reference name of 1 to 32 characters");
                    }
                    if (!r.value().is_array()) {
                        error(ref_at, "expected a list of ids" + found(r.value()));
                    }
                    NamedRefs refs{st.strings.intern(r.key()), {}};
                    for (size_t i = 0; i < r.value().size(); ++i) {
                        refs.targets.push_back(st.strings.intern(
                            id_of(r.value()[i], ref_at + index_segment(static_cast<long>(i)))));
                    }
                    o.refs.push_back(std::move(refs));
                }
            } else if (k == "version0") {
                fields.version0 = true;
                o.version0_id = st.strings.intern(id_of(x, field_at));
            } else {
                error(field_at(),
                      "unexpected field (an object has type, name, item_id, attributes, refs and version0)");
            }
        }
        if (o.type_name == kNone) {
            error(at_top(), "missing required field \"type\" (expected a type name)");
        }
        o.attributes.push_back({st.p_object_name, name});
        if (fields.item_id) {
            o.attributes.push_back({st.p_item_id, item_id});
        }
        for (Attribute& a : attributes) {
            o.attributes.push_back(std::move(a));
        }
        st.objects.push_back(std::move(o));
        object_fields_.push_back(fields);
    }

    // --- after the parse ------------------------------------------------------------------------------

    void register_id(uint32_t id, tag_t tag, const std::string& at) {
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
    tag_t resolve_object(uint32_t id, int cls, const std::string& at) const {
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
        std::vector<std::string> segments;
        for (size_t w = 0; w < windows_.size(); ++w) {
            on_window(w);
            if (windows_[w].top_line == kNone) {
                continue;
            }
            const std::string base = window_path(windows_[w]);
            auto path = [&]() {
                std::string p = base;
                for (const std::string& s : segments) {
                    p += s;
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
                    segments.push_back((packed ? ".packed" : ".children") + index_segment(k));
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
        const std::vector<std::vector<uint32_t>> relations = read_relations(root);

        // Tags: objects, windows with their lines, types, relation types.
        st.tags.assign(1, TagRec{});
        for (size_t i = 0; i < st.objects.size(); ++i) {
            const auto tag = static_cast<tag_t>(st.tags.size());
            st.tags.push_back({Kind::Object, static_cast<uint32_t>(i)});
            st.objects[i].tag = tag;
            register_id(st.objects[i].id, tag, object_path(st.objects[i]));
        }
        st.tags.reserve(st.tags.size() + windows_.size() + st.lines.size() + st.types.size() +
                        st.relation_types.size());
        walk_lines(
            [&](size_t w) {
                const auto tag = static_cast<tag_t>(st.tags.size());
                st.tags.push_back({Kind::Window, static_cast<uint32_t>(st.windows.size())});
                st.windows.push_back(Window{windows_[w].id, windows_[w].top_line, tag, NULLTAG});
                register_id(windows_[w].id, tag, window_path(windows_[w]));
            },
            [&](size_t, uint32_t li, tag_t parent, auto& path) {
                Line& line = st.lines[li];
                line.tag = static_cast<tag_t>(st.tags.size());
                line.parent = parent;
                st.tags.push_back({Kind::Line, li});
                register_id(line.id, line.tag, path() + ".id");
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
                       line.revision = resolve_object(line.revision_id, kItemRevision, path() + ".revision");
                       if (line.jt_id != kNone) {
                           line.jt = resolve_object(line.jt_id, kDataset, path() + ".jt");
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
            st.types.push_back(std::move(type));
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
        for (size_t i = first; i < st.types.size(); ++i) {
            std::string chain = st.strings.str(st.types[i].name);
            int t_index = st.types[i].parent;
            for (size_t steps = 0; t_index >= static_cast<int>(first); ++steps) {
                chain += " -> " + st.strings.str(st.types[static_cast<size_t>(t_index)].name);
                if (t_index == static_cast<int>(i) || steps > st.types.size()) {
                    error("$.types" + key_segment(st.strings.str(st.types[i].name)),
                          "cycle in the type hierarchy (" + chain +
                              "); expected a chain ending at a platform class");
                }
                t_index = st.types[static_cast<size_t>(t_index)].parent;
            }
            st.types[i].cls = st.types[static_cast<size_t>(t_index)].cls;
        }
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
            }
        }
    }

    bool site_defines(int type, uint32_t id) const {
        const Site& st = *site_;
        for (int t = type; t >= 0; t = st.types[static_cast<size_t>(t)].parent) {
            const Type& ty = st.types[static_cast<size_t>(t)];
            for (const RuntimeProperty& r : ty.runtime) {
                if (r.name == id) {
                    return true;
                }
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

    // Checks the relations' shape and creates the relation types; gives back the (primary, type,
    // secondary) interned names per relation.
    std::vector<std::vector<uint32_t>> read_relations(const ojson& root) {
        Site& st = *site_;
        std::vector<std::vector<uint32_t>> out;
        auto add_type = [&](const std::string& name) {
            const uint32_t id = st.strings.intern(name);
            for (const RelationType& r : st.relation_types) {
                if (r.name == id) {
                    return;
                }
            }
            st.relation_types.push_back({id, NULLTAG});
        };
        if (root.contains("relations")) {
            const ojson& r = root["relations"];
            if (!r.is_array()) {
                error("$.relations", "expected a list of relations" + found(r));
            }
            for (size_t i = 0; i < r.size(); ++i) {
                const std::string at = "$.relations" + index_segment(static_cast<long>(i));
                const ojson& e = r[i];
                if (!e.is_array() || e.size() != 3) {
                    error(at, "expected [primary id, relation type name, secondary id]");
                }
                const std::string primary = id_of(e[0], at + "[0]");
                const std::string type = text_of(e[1], at + "[1]", "a relation type name");
                if (type.empty() || type.size() > 32) {
                    error(at + "[1]", "expected a relation type name of 1 to 32 characters");
                }
                const std::string secondary = id_of(e[2], at + "[2]");
                add_type(type);
                out.push_back(
                    {st.strings.intern(primary), st.strings.intern(type), st.strings.intern(secondary)});
            }
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
                add_type(type);
            }
        }
        return out;
    }

    void resolve_objects() {
        Site& st = *site_;
        for (size_t i = 0; i < st.objects.size(); ++i) {
            Object& o = st.objects[i];
            const std::string at = object_path(o);
            const std::string& type_name = st.strings.str(o.type_name);
            const int type = st.find_type(type_name);
            if (type < 0) {
                error(at + ".type", "unknown type " + qtext(type_name) +
                                        " (expected ItemRevision, Dataset, Form or a type under types)");
            }
            const uint8_t cls = st.types[static_cast<size_t>(type)].cls;
            if (cls == kBOMLine || cls == kBOMWindow) {
                error(at + ".type", "expected ItemRevision, Dataset, Form or a type under types, found " +
                                        qtext(type_name) + " (lines and windows come from windows)");
            }
            o.type = static_cast<uint32_t>(type);
        }
        for (size_t i = 0; i < st.objects.size(); ++i) {
            Object& o = st.objects[i];
            const std::string at = object_path(o);
            const uint8_t cls = st.types[o.type].cls;
            const ObjectFields& f = object_fields_[i];
            if (f.item_id && cls != kItemRevision) {
                error(at + ".item_id", "unexpected field (item_id belongs to an ItemRevision)");
            }
            if (f.refs && cls != kDataset) {
                error(at + ".refs", "unexpected field (refs belong to a Dataset)");
            }
            if (f.version0 && cls != kDataset) {
                error(at + ".version0", "unexpected field (version0 belongs to a Dataset)");
            }
            for (NamedRefs& refs : o.refs) {
                const std::string refs_at = at + ".refs" + key_segment(st.strings.str(refs.name));
                for (size_t k = 0; k < refs.targets.size(); ++k) {
                    refs.targets[k] =
                        resolve_object(refs.targets[k], -1, refs_at + index_segment(static_cast<long>(k)));
                }
            }
            o.version0 = f.version0 ? resolve_object(o.version0_id, kDataset, at + ".version0")
                                    : (cls == kDataset ? o.tag : NULLTAG);
            Type& t = st.types[o.type];
            for (const Attribute& a : o.attributes) {
                t.attributes.insert(a.name);
            }
        }
    }

    void resolve_relations(const std::vector<std::vector<uint32_t>>& relations) {
        Site& st = *site_;
        std::vector<Relation> list;
        list.reserve(relations.size());
        for (size_t i = 0; i < relations.size(); ++i) {
            const std::string at = "$.relations" + index_segment(static_cast<long>(i));
            Relation r{};
            r.primary = resolve_object(relations[i][0], -1, at + "[0]");
            r.secondary = resolve_object(relations[i][2], -1, at + "[2]");
            for (const RelationType& t : st.relation_types) {
                if (t.name == relations[i][1]) {
                    r.type = t.tag;
                }
            }
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
    std::vector<Frame> frames_;
    std::vector<PendingWindow> windows_;
    std::vector<ObjectFields> object_fields_;
};

}  // namespace

std::unique_ptr<Site> load_site_text(const std::string& text, const std::string& source, std::string* error) {
    try {
        Loader loader(source);
        return loader.load(text);
    } catch (const LoadError& e) {
        *error = e.what();
    } catch (const std::bad_alloc&) {
        *error = source + ": $: the site does not fit in memory";
    }
    return nullptr;
}

}  // namespace standin::detail
