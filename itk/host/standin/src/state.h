// Internal model of the stand-in platform: the loaded site (dense tables indexed by tag), the
// registrations the extension makes, tracked memory, the error stack, the call counters and the
// fault injector. Everything lives in one State instance reached through state().
#ifndef STANDIN_STATE_H
#define STANDIN_STATE_H

#include <base_utils/Mem.h>
#include <ict/ict_userservice.h>
#include <standin/control.h>
#include <tc/tc.h>
#include <tccore/custom.h>
#include <tccore/method.h>

#include <array>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <tuple>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "block_pool.h"
#include "block_set.h"
#include "key_table.h"

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

// Every platform operation, for counting, logging and fault injection.
enum class Op : uint16_t {
    MEM_alloc,
    MEM_free,
    EMH_ask_errors,
    EMH_clear_errors,
    AOM_ask_value_string,
    AOM_ask_value_strings,
    AOM_ask_value_double,
    AOM_ask_value_logical,
    AOM_ask_value_tag,
    AOM_ask_prop_names,
    AOM_UIF_ask_name,
    AOM_UIF_ask_value,
    POM_tag_to_string,
    AE_ask_all_dataset_named_refs,
    AE_ask_dataset,
    BOM_ask_window_top_line,
    BOM_line_ask_child_lines,
    BOM_line_ask_packed_lines,
    BOM_line_look_up_attribute,
    BOM_line_ask_attribute_tag,
    BOM_line_ask_attribute_string,
    GRM_find_relation_type,
    GRM_list_secondary_objects_only,
    PREF_ask_search_scope,
    PREF_set_search_scope,
    PREF_ask_value_count,
    PREF_ask_char_value,
    PREF_ask_char_values,
    TCTYPE_ask_object_type,
    TCTYPE_ask_name,
    TCTYPE_register_properties,
    TCTYPE_add_runtime_property,
    PROP_ask_owning_object,
    METHOD_find_prop_method,
    METHOD_register_prop_method,
    METHOD_add_action,
    CUSTOM_register_exit,
    USERSERVICE_register_method,
    USERARG_get_tag_argument,
    USERARG_get_double_argument,
    USERARG_get_double_array_argument,
    USERARG_get_tag_array_argument,
    USERSERVICE_return_tag_array,
    ITK_ask_version,
    TC_getenv,
    TC_write_syslog,
    ITK_initialize_text_services,
    ITK_init_module,
    ITK_auto_login,
    ITK_exit_module,
    ITK_ask_cli_argument,
    ITEM_find_rev,
    CFM_find,
    BOM_create_window,
    BOM_set_window_config_rule,
    BOM_set_window_top_line,
    BOM_close_window,
    Count
};
constexpr size_t kOpCount = static_cast<size_t>(Op::Count);
const char* op_name(Op op);
bool op_failable(Op op);
int op_by_name(const std::string& name);  // -1 when unknown

struct Fault {
    enum Kind { NthOfOp, EveryOfOp, NthAny, Object } kind;
    int op = -1;  // -1: any operation
    long target = 0;
    tag_t object = NULLTAG;
    int code = kErrInjected;
};

struct Action {
    METHOD_function_t fn;
    TC_argument_list_t* args;
};

// A method chain for (type, property, message): the registered base method if any, else the
// platform's own, with pre- and post-actions.
struct MethodRecord {
    tag_t type;
    uint32_t prop;
    Msg msg;
    bool own = false;
    METHOD_function_t base = nullptr;
    TC_argument_list_t* base_args = nullptr;
    std::vector<Action> pre;
    std::vector<Action> post;
};

struct ExitRecord {
    std::string context;
    std::string name;
    CUSTOM_EXIT_ftn_t fn;
};

struct TypeRegistration {
    std::string type_name;
    METHOD_function_t fn;
    TC_argument_list_t* args;
};

struct ServiceRecord {
    std::string name;
    USER_function_t fn;
    int argument_count;
    std::vector<int> argument_types;
    int return_type;
};

// One running service call: its queued arguments and what it handed back.
struct ServiceCall {
    std::vector<UserArg> args;
    size_t next = 0;
    std::vector<tag_t> returned;
    bool handed_back = false;
};

struct State {
    std::unique_ptr<Site> site = std::make_unique<Site>();

    // Tracked memory.
    BlockSet blocks;  // live blocks from the C library's allocator
#if defined(STANDIN_POOLED_MEMORY)
    BlockPool pool;  // live blocks of up to BlockPool::kLargest bytes
#endif
    long misuse = 0;

    // Error stack and the arrays EMH_ask_errors hands out.
    std::vector<ErrorEntry> errors;
    std::vector<int> ask_severities, ask_codes;
    std::vector<const char*> ask_texts;

    // Counters. counts/failable/log restart with reset_counters(); the absolute ones only with a
    // reset, so that faults armed earlier keep their meaning. The log of every call is kept only
    // while logging is on (set_call_log): it grows by an entry per call, without bound.
    std::array<long, kOpCount> counts{};
    std::array<long, kOpCount> abs_counts{};
    long failable = 0;
    long abs_failable = 0;
    bool logging = false;  // outlives sites and resets: a setting of the observer
    std::vector<uint16_t> log;
    std::vector<std::string> log_names;  // log as names, filled on demand
    std::vector<Fault> faults;

    std::string syslog;
    std::set<std::string> env_values;  // storage TC_getenv hands out; never shrinks

    // Registrations.
    std::vector<MethodRecord> methods;
    std::map<std::tuple<tag_t, uint32_t, int>, uint32_t> method_index;
    std::vector<std::pair<tag_t, uint32_t>> property_owners;  // property tag -> (object, name)
    KeyTable property_tags;                               // (object << 32 | property name) -> property tag
    std::vector<std::pair<tag_t, uint32_t>> descriptors;  // descriptor tag -> (type, name)
    std::vector<ExitRecord> exits;
    std::vector<TypeRegistration> pending_registrations;
    int exit_depth = 0;
    std::vector<ServiceRecord> services;
    std::vector<std::unique_ptr<ServiceCall>> service_stack;
    std::vector<tag_t> loose_return;  // USERSERVICE_return_tag_array outside a service call
};

State& state();
Site& site();
// The value TC_getenv answers for `name` (null: unset), without counting a call.
const char* env_value(const Site& st, const char* name);

// Replaces the site and forgets every registration, counter, fault, block and error.
void install(std::unique_ptr<Site> site);

// --- memory -------------------------------------------------------------------------------------
void* alloc_block(size_t n);  // a tracked block, not counted as a call
bool free_block(void* p);     // false (and misuse counted) when p is not a live block
char* copy_text(std::string_view text);
char* copy_text(const char* text);  // null stays null

// --- errors -------------------------------------------------------------------------------------
void push_error(int severity, int code, const std::string& text);
// Pushes (3, code, "<op>: <text>") and returns code.
int fail(Op op, int code, const std::string& text);
std::string describe(tag_t tag);  // "tag 12 (ds1)" for messages

// --- calls --------------------------------------------------------------------------------------
// Counts a call (and logs it while logging is on); for a failable operation consults the fault injector and,
// when a fault applies, pushes its error and returns its code (0 otherwise). `about`/`about2` are the tags
// the call is about, for faults armed on one object.
int begin_op(Op op, tag_t about = NULLTAG, tag_t about2 = NULLTAG);

// Runs an operation body with counting, fault injection and an exception barrier: no exception
// leaves a C operation.
template <class Body>
int run_op(Op op, tag_t about, tag_t about2, Body&& body) noexcept {
    try {
        if (int injected = begin_op(op, about, about2)) {
            return injected;
        }
        return body();
    } catch (...) {
        try {
            return fail(op, kErrInternal, "internal failure of the stand-in");
        } catch (...) {
            return kErrInternal;
        }
    }
}

// --- properties (dispatch.cpp) --------------------------------------------------------------------
// The value slot of one property read.
struct Slot {
    char* text = nullptr;
    int count = 0;
    char** texts = nullptr;
    double number = 0.0;
    tag_t tag = NULLTAG;
    logical flag = false;
};
// Reads a property through its method chain (or the stored attribute). On failure the slot holds
// nothing (any block a method left in it is released).
int read_property(Op op, tag_t object, const char* prop_name, Msg msg, Slot* slot);
// The value type a property naturally has (for display); fails like a read when it is unknown.
int natural_msg(Op op, tag_t object, uint32_t prop, Msg* msg);
int type_index_of(tag_t object);  // -1 for tags that are no object, line or window
bool type_defines(int type, uint32_t prop);
const RuntimeProperty* find_runtime(int type, uint32_t prop);
void install_own_methods();
tag_t property_tag(tag_t object, uint32_t prop);
void release_slot(Msg msg, Slot* slot);

// Calls f(message, va_list of the extra arguments).
int call_method(METHOD_function_t f, METHOD_message_t* message, ...);

// Runs the type registrations handed to TCTYPE_register_properties and not yet run.
int run_pending_registrations();

// The platform's own transform of a line as text, and matrix helpers.
std::string abs_transform_text(const Line& line);

}  // namespace standin::detail

#endif
