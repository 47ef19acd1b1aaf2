// The stand-in platform's state beside the site: the registrations the extension makes, tracked
// memory, the error stack, the call counters and the fault injector. Everything lives in one State
// instance reached through state(); the site it holds is described in site.h.
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
#include <map>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <tuple>
#include <utility>
#include <vector>

#include "block_pool.h"
#include "block_set.h"
#include "key_table.h"
#include "site.h"

namespace standin::detail {

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

// The method registry (registry.cpp). A METHOD_id_t names record `index` as index + 1.
int msg_by_name(const char* name);  // -1 when no read message has that name
void* encode_method(uint32_t index);
long decode_method(const METHOD_id_t& id);  // the record it names, or -1
long find_record(tag_t type_tag, uint32_t prop, Msg msg);
long find_chain(int type, uint32_t prop, Msg msg);  // the nearest on the type or an ancestor, or -1
uint32_t add_record(tag_t type_tag, uint32_t prop, Msg msg);

// Calls f(message, va_list of the extra arguments).
int call_method(METHOD_function_t f, METHOD_message_t* message, ...);

// Runs the type registrations handed to TCTYPE_register_properties and not yet run.
int run_pending_registrations();

// The platform's own transform of a line as text, and matrix helpers.
std::string abs_transform_text(const Line& line);

}  // namespace standin::detail

#endif
