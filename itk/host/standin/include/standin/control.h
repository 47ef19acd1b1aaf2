// Control interface of the stand-in platform, for tests, benchmarks and kep-host.
//
// The stand-in keeps one in-memory site per process (one instance, see standin.cpp). Everything a
// test needs to set up a situation or to look at what the extension did goes through here; the
// extension itself never includes this header, it reaches the stand-in only through the platform's
// C operations.
#ifndef STANDIN_CONTROL_H
#define STANDIN_CONTROL_H

#include <tc/tc.h>

#include <cstdarg>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

namespace standin {

// Error codes pushed on the error stack and returned by failing operations, one per cause.
enum ErrorCode : int {
    kErrInjected = 900001,         // default code of an injected failure
    kErrUnknownTag = 900002,       // a tag that names nothing
    kErrWrongKind = 900003,        // a tag of the wrong kind of object for the operation
    kErrNoSuchProperty = 900004,   // a property or attribute the object does not have
    kErrWrongValueType = 900005,   // a property read as the wrong value type
    kErrNullArgument = 900006,     // a required pointer argument is null
    kErrIndexRange = 900007,       // a preference value index beyond the values
    kErrNoSuchType = 900008,       // a type name that names no type
    kErrDuplicate = 900009,        // something registered or created twice
    kErrNoSuchAttribute = 900010,  // BOM_line_look_up_attribute of an unknown name
    kErrUserArg = 900011,          // USERARG_get_*: none left or of another type
    kErrNoMethod = 900012,         // METHOD_add_action on an identifier without a method
    kErrBadArgument = 900013,      // any other argument out of range
    kErrInternal = 900014,         // the stand-in itself failed (out of memory); never expected
};

// --- site -----------------------------------------------------------------------------------

// Loads a site from JSON text, replacing the current one (and resetting every counter, fault,
// registration and block). `source` names the text in error messages (a file name). Returns true
// on success; on failure the previous site is gone, an empty site is installed and *error holds
// one line naming the source, the JSON path and what was expected.
bool load_site(const std::string& json_text, const std::string& source, std::string* error);
// The same for a file, read in pieces as it is parsed (the whole text is never held); `path` is
// the source. A file that cannot be opened or read gives "<path>: cannot open the file" or
// "<path>: cannot read the file".
bool load_site_file(const std::string& path, std::string* error);
// The same for a file opened by the caller (a named pipe can be opened once only), read from
// where it stands to its end and left open; `source` names it in error messages.
bool load_site_stream(std::FILE* file, const std::string& source, std::string* error);

// Resets everything: empty site, no registrations, counters, faults, blocks, syslog, errors.
void reset();

// Tag of a site id (object, window or line id), NULLTAG when unknown; and the way back.
tag_t tag_of(const std::string& id);
std::string id_of(tag_t tag);  // "" for NULLTAG or an unknown tag
// Every id of the site with its tag, in tag order.
std::vector<std::pair<std::string, tag_t>> all_ids();

// Kind of object a tag names: "ItemRevision", "Dataset", "Form", "BOMLine", "BOMWindow", "Type",
// "RelationType", "Property", "PropertyDescriptor" or "" for none. The platform class, not the
// site type name.
std::string kind_of(tag_t tag);

// What the site stores, for a harness that shows it next to what the platform answers:
// - the kind of value an object's attribute holds as the site gave it: "double", "logical",
//   "strings" (a list of texts) or "string" (a text or null); "" when `object` is no object or
//   has no stored attribute of that name;
std::string attribute_kind(tag_t object, const std::string& name);
// - a line's stored occurrence transform (has_transform false: none stored) and JT dataset.
//   False when `line` is no line.
struct StoredLine {
    bool has_transform = false;
    std::string transform;
    tag_t jt = NULLTAG;
};
bool stored_line(tag_t line, StoredLine* stored);
// The window a line belongs to (packed lines included), NULLTAG for a tag that names no line.
tag_t window_of_line(tag_t line);

// Sets or changes a preference (replaces the values), an environment override or the search scope.
void set_preference(const std::string& key, const std::vector<std::string>& values);
void set_env(const std::string& name, const char* value);  // null value: unset override
// Makes TC_getenv answer null for `name` whatever the process environment holds (as a site's
// "env" entry with the value null does); set_env of the name lifts it.
void hide_env(const std::string& name);
// What TC_getenv answers for `name`, without counting a call; false when it answers null.
bool env_value(const std::string& name, std::string* value);
int search_scope();
void set_version(int version);
// Replaces the value of an object's number attribute (one the site gave as a number). For values
// a site file cannot hold (NaN, infinities). False when the object has no such attribute.
bool set_number(tag_t object, const std::string& attribute, double value);

// --- running the platform's side --------------------------------------------------------------

// Calls `<name>_register_callbacks` of an already loaded library handle (dlopen) ... kept in
// kep-host; the stand-in offers the exit points and the dispatch:
// Runs every custom exit registered for `exit_name` (in registration order), passing a decision
// integer; then, after "USER_register_properties", runs the type registration functions handed
// to TCTYPE_register_properties. Returns the first non-zero status (all exits still run).
int run_exit(const std::string& exit_name, int* decision);
// The three exits in the platform's order, as kep-host runs them.
int run_all_exits();

// Reads a property as a client would, through the method chain. The string result is a MEM_alloc
// block handed to the caller (free it with MEM_free), or null.
int ask_string(tag_t object, const std::string& property, char** value);
int ask_tag(tag_t object, const std::string& property, tag_t* value);
int ask_logical(tag_t object, const std::string& property, bool* value);

// A service argument queue entry.
struct UserArg {
    enum Kind { Tag, Double, DoubleArray, TagArray } kind;
    tag_t tag = 0;
    double value = 0.0;
    std::vector<double> doubles = {};
    std::vector<tag_t> tags = {};
};
// Calls a registered user service with the given arguments queued. `returned` receives the
// tags handed back with USERSERVICE_return_tag_array (empty if none), `handed_back` whether that
// call was made. Unknown service: returns kErrBadArgument.
int call_service(const std::string& name, const std::vector<UserArg>& args, std::vector<tag_t>* returned,
                 bool* handed_back);

// Registered custom exits (context, exit name), in order; registered services; methods.
std::vector<std::pair<std::string, std::string>> registered_exits();
std::vector<std::string> registered_services();
struct ServiceInfo {
    std::string name;
    int argument_count = 0;
    std::vector<int> argument_types;
    int return_type = 0;
};
std::vector<ServiceInfo> service_infos();

// --- observation ------------------------------------------------------------------------------

// Calls of each platform operation by name, since the last reset_counters(). Always counted.
std::map<std::string, long> call_counts();
long call_count(const std::string& op);
// The call log: every counted call in order, by operation name (MEM_alloc and MEM_free
// included). It is kept only while logging is on, which it is not unless asked for: a search
// over a million lines makes hundreds of millions of calls. set_call_log(true) starts logging
// (keeping what is logged), false stops it and forgets the log. The setting outlives load_site
// and reset; reset_counters() empties the log.
void set_call_log(bool on);
const std::vector<std::string>& call_log();
void reset_counters();  // counters and the call log only

int live_blocks();     // MEM_alloc blocks not yet freed
long misuse_count();   // frees of pointers that are not live blocks
std::string syslog();  // everything handed to TC_write_syslog, concatenated
void clear_syslog();
// The error stack as it stands (oldest first).
struct ErrorEntry {
    int severity;
    int code;
    std::string text;
};
std::vector<ErrorEntry> errors();
// Pushes an error as a failing operation would (for tests of error-stack printing).
void push_error(int severity, int code, const std::string& text);

// --- fault injection --------------------------------------------------------------------------
// Operations that can fail are those that return a status, and MEM_alloc (MEM_free, TC_getenv and
// TC_write_syslog cannot). An injected failure pushes (3, code, "<OP>: injected failure") and
// returns code, without any other effect; a failed MEM_alloc answers null and pushes nothing, as
// the platform's allocator reports no error.

// The n-th call (1-based, counted from now) of `op` fails; n = 0: every call of op fails.
void fail_call(const std::string& op, int n, int code = kErrInjected);
// The k-th failable call of any operation that returns a status (counted from now) fails;
// MEM_alloc is not counted (fail it with fail_call).
void fail_nth_any(long k, int code = kErrInjected);
// Every call of `op` about `object` fails ("" for op: every operation about it; MEM_alloc is about
// no object).
void fail_object(const std::string& op, tag_t object, int code = kErrInjected);
void clear_faults();
// The armed faults, each with how far it lies ahead of the calls made so far. Armed again with
// rearm_faults, they replace the faults then armed and lie as far ahead of the calls from then
// on: running the same thing after a save and after a rearm meets the same failures.
struct ArmedFault {
    int kind = 0;
    int op = -1;
    long ahead = 0;
    tag_t object = NULLTAG;
    int code = kErrInjected;
};
std::vector<ArmedFault> armed_faults();
void rearm_faults(const std::vector<ArmedFault>& faults);
// Whether `op` names a platform operation, and whether a fault can make it fail.
bool is_operation(const std::string& op);
bool is_failable(const std::string& op);
// Calls of operations that return a status made since the last reset_counters() (what
// fail_nth_any counts).
long failable_calls();

}  // namespace standin

#endif
