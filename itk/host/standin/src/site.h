// The stand-in's model of a loaded site: the string store, the records of objects, windows,
// lines, types and relations in dense tables indexed by tag, and the Site that holds them.
#ifndef STANDIN_SITE_H
#define STANDIN_SITE_H

#include <standin/control.h>
#include <tc/tc.h>

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace standin::detail {

constexpr uint32_t kNone = 0xFFFFFFFFu;  // "no string" / "no index"

// Strings of the site, stored once. Ids are dense and stable; texts stay where they are for the
// life of the interner. A site of a million lines holds millions of strings, so each costs little
// beyond its text: the texts sit end to end (each ending in a NUL) in large blocks, and the index
// is an open-addressing table of (hash, id) pairs that finds a text with one probe as a rule.
class Interner {
public:
    uint32_t intern(std::string_view text);
    // Keeps a text that is only ever read back by its id, never found by its text (a value, not
    // a name): it costs no place in the index, and the same text added twice gets two ids.
    uint32_t add(std::string_view text);
    uint32_t find(std::string_view text) const;  // kNone when absent
    std::string_view str(uint32_t id) const { return {texts_[id], lengths_[id]}; }
    const char* c_str(uint32_t id) const { return texts_[id]; }
    size_t size() const { return texts_.size(); }

private:
    static uint32_t hash(std::string_view text);
    size_t probe(std::string_view text, uint32_t h) const;  // its slot, or the free slot it would take
    void grow(size_t slots);
    const char* store(std::string_view text);

    static constexpr size_t kFirstBlock = size_t{1} << 12;
    static constexpr size_t kBlock = size_t{1} << 22;  // the largest block short texts share
    std::vector<std::unique_ptr<char[]>> blocks_;
    char* filling_ = nullptr;  // the block short texts go to
    size_t block_size_ = 0;
    size_t block_used_ = 0;
    std::vector<const char*> texts_;
    std::vector<uint32_t> lengths_;
    std::vector<uint64_t> slots_;  // hash << 32 | (id + 1); 0 is a free slot
    size_t indexed_ = 0;           // texts in the index (values added with add() are not)
};

// What a tag names.
enum class Kind : uint8_t {
    None,
    Object,
    Window,
    Line,
    Type,
    RelationType,
    Property,
    PropertyDescriptor,
    Rule
};

struct TagRec {
    Kind kind = Kind::None;
    uint32_t index = 0;  // into the table of that kind
};

// The platform classes, in the order of their type records (index 0 to 4).
enum PlatformClass : uint8_t { kItemRevision = 0, kDataset, kForm, kBOMLine, kBOMWindow, kClassCount };
extern const char* const kClassNames[kClassCount];

// The read messages, one per AOM_ask_value_<T>.
enum class Msg : uint8_t { String = 0, Strings, Double, Tag, Logical };
constexpr int kMsgCount = 5;
extern const char* const kMsgNames[kMsgCount];
const char* value_kind_name(Msg msg);  // "a string", "a double", ...

// A stored attribute value. Strings are interned ids; kNone stands for a null string. A string
// list is `count` ids from `text` on in Site::text_lists.
struct Value {
    double number = 0.0;
    uint32_t text = kNone;
    uint32_t count = 0;
    Msg kind = Msg::String;
    bool flag = false;
};

struct Attribute {
    uint32_t name;
    Value value;
};

struct RuntimeProperty {
    uint32_t name;
    int value_type;  // PROP_value_type_t, or -1 when the site declared it without a type
};

struct Type {
    uint32_t name = kNone;
    int parent = -1;  // index of the parent type, -1 for a platform class
    uint8_t cls = kItemRevision;
    tag_t tag = NULLTAG;
    std::unordered_set<uint32_t> attributes;  // attribute names its own objects carry
    std::vector<RuntimeProperty> runtime;     // run-time properties defined on this very type
};

struct NamedRefs {
    uint32_t name;
    uint32_t offset;  // into Site::ref_targets (during loading interned ids, then tags)
    uint32_t count;
};

// Objects keep their attributes and named references in the site's shared tables: a million
// objects, no allocation each.
struct Object {
    uint32_t id = kNone;
    uint32_t type_name = kNone;  // during loading
    uint32_t type = 0;           // index into types
    tag_t tag = NULLTAG;
    uint32_t attribute_offset = 0;  // into Site::attributes: object_name first, then item_id
    uint32_t attribute_count = 0;   // (revisions), then the site's
    uint32_t refs_offset = 0;       // into Site::named_refs
    uint32_t refs_count = 0;
    uint32_t version0_id = kNone;  // during loading
    tag_t version0 = NULLTAG;
    uint32_t relation_offset = 0;  // into Site::relations (sorted by primary)
    uint32_t relation_count = 0;
};

struct Window {
    uint32_t id = kNone;
    uint32_t top_line = kNone;  // index into lines
    tag_t tag = NULLTAG;
    tag_t top = NULLTAG;
};

struct Line {
    uint32_t id = kNone;
    uint32_t revision_id = kNone;  // during loading
    uint32_t jt_id = kNone;        // during loading
    uint32_t occurrence_name = kNone;
    uint32_t transform = kNone;  // kNone: no stored transform
    tag_t tag = NULLTAG;
    tag_t revision = NULLTAG;
    tag_t parent = NULLTAG;
    tag_t jt = NULLTAG;
    uint32_t child_offset = 0;  // into Site::line_pool
    uint32_t child_count = 0;
    uint32_t packed_offset = 0;
    uint32_t packed_count = 0;
};

struct Relation {
    tag_t primary;
    tag_t type;
    tag_t secondary;
};

// A piece of one of the site's shared tables.
template <class T>
struct Range {
    const T* first;
    const T* last;
    const T* begin() const { return first; }
    const T* end() const { return last; }
    size_t size() const { return static_cast<size_t>(last - first); }
    bool empty() const { return first == last; }
    const T& operator[](size_t i) const { return first[i]; }
};

struct RelationType {
    uint32_t name;
    tag_t tag;
};

// The three line properties the platform may have its own method for.
enum LineMethod : uint8_t { kOccXform = 0, kAbsXform, kJtTag, kLineMethodCount };

// A loaded site. Tag order: objects (file order), then each window followed by its lines in
// depth-first pre-order (a line, its children's subtrees, then its packed lines' subtrees), then
// the types (the five platform classes, then the site's types in file order), then the relation
// types (in order of first use in the relations, then the further names of relation_types).
struct Site {
    Interner strings;
    std::vector<TagRec> tags{1};  // tags[0] is the null tag
    std::vector<Object> objects;
    std::vector<Window> windows;
    std::vector<Line> lines;
    std::vector<tag_t> line_pool;  // child and packed lists
    std::vector<Type> types;
    std::unordered_map<uint32_t, int> type_index;  // interned name -> index into types
    std::vector<RelationType> relation_types;
    std::vector<Relation> relations;    // file order within each primary (stable sort)
    std::vector<Attribute> attributes;  // every object's, object by object
    std::vector<uint32_t> text_lists;   // the texts of string-list values, list by list
    std::vector<NamedRefs> named_refs;  // every dataset's named references, dataset by dataset
    std::vector<tag_t> ref_targets;     // their targets, reference by reference
    std::vector<tag_t> id_tags;         // interned id -> tag (0 when the string is no id)

    int version = 80000300;
    int search_scope = 4;
    std::map<std::string, std::string> env;  // overrides
    std::set<std::string> env_hidden;        // names that read as unset
    std::set<std::string> env_forced;        // names set_env/hide_env set: these beat the process
    std::map<std::string, std::vector<std::string>> preferences;
    std::array<bool, kLineMethodCount> line_methods{{true, true, true}};
    std::vector<std::string> rules;  // revision rules found by name (CFM_find), in order of finding

    // Property names the stand-in itself knows, interned up front.
    uint32_t p_object_name = kNone, p_object_type = kNone, p_item_id = kNone;
    std::array<uint32_t, 7> p_line{};  // bl_revision, bl_parent, bl_item_item_id, bl_occurrence_name,
                                       // bl_plmxml_occ_xform, bl_plmxml_abs_xform, bl_jt_dataset_tag
    uint32_t identity_text = kNone;

    Site();  // the five platform classes and the known names, nothing else

    const TagRec& rec(tag_t tag) const {
        static const TagRec none;
        return tag < tags.size() ? tags[tag] : none;
    }
    tag_t tag_of_id(uint32_t id) const { return id < id_tags.size() ? id_tags[id] : NULLTAG; }
    int find_type(std::string_view name) const;  // index or -1
    void add_type(Type type);                    // and makes it found by its name
    Range<Attribute> attributes_of(const Object& o) const {
        return {attributes.data() + o.attribute_offset,
                attributes.data() + o.attribute_offset + o.attribute_count};
    }
    Range<NamedRefs> refs_of(const Object& o) const {
        return {named_refs.data() + o.refs_offset, named_refs.data() + o.refs_offset + o.refs_count};
    }
    Range<tag_t> targets_of(const NamedRefs& r) const {
        return {ref_targets.data() + r.offset, ref_targets.data() + r.offset + r.count};
    }
    Range<uint32_t> texts_of(const Value& v) const {
        return {text_lists.data() + v.text, text_lists.data() + v.text + v.count};
    }
};

// Names of the line attributes in the order of Site::p_line, and their attribute ids.
extern const char* const kLineAttributeNames[7];
constexpr int kLineAttributeIdBase = 101;  // bl_revision is 101, bl_parent 102, ...

}  // namespace standin::detail

#endif  // STANDIN_SITE_H
