// The platform operations under way while a search runs, for the sampler of scale_bench: every
// operation the extension calls goes through a wrapper (the linker's --wrap, see bench/CMakeLists.txt)
// that counts the operations under way; the extension's methods and actions go behind trampolines
// that mark the callbacks.
#include <ae/dataset.h>
#include <base_utils/Mem.h>
#include <bom/bom.h>
#include <bom/bom_attr.h>
#include <ict/ict_userservice.h>
#include <tc/emh.h>
#include <tc/preferences.h>
#include <tccore/aom_prop.h>
#include <tccore/grm.h>
#include <tccore/method.h>
#include <tccore/tctype.h>

#include <array>
#include <csignal>
#include <cstdio>
#include <type_traits>
#include <utility>

#include "scale_bench.h"

namespace scale_bench {

PlatformTrack& track() {
    static PlatformTrack t;
    return t;
}

int op_index(const char* name) {
    PlatformTrack& t = track();
    t.names[t.op_count] = name;
    return t.op_count++;
}

void on_profiling_tick(int) {
    PlatformTrack& t = track();
    if (t.sampling == 0) {
        return;
    }
    if (t.depth > 0) {
        ++t.platform_samples;
        ++t.per_op[t.op];
    } else {
        ++t.extension_samples;
    }
}

}  // namespace scale_bench

namespace {

using scale_bench::kMaxOps;
using scale_bench::PlatformTrack;
using scale_bench::track;

int op_index(const char* name) {
    PlatformTrack& t = track();
    t.names[t.op_count] = name;
    return t.op_count++;
}

// Brackets one platform operation called by the extension.
class PlatformScope {
public:
    explicit PlatformScope(int op) : counted_(track().on != 0) {
        if (counted_) {
            PlatformTrack& t = track();
            if (t.depth == 0) {
                t.op = op;
            }
            t.depth = t.depth + 1;
        }
    }
    ~PlatformScope() {
        if (counted_) {
            track().depth = track().depth - 1;
        }
    }
    PlatformScope(const PlatformScope&) = delete;
    PlatformScope& operator=(const PlatformScope&) = delete;

private:
    bool counted_;
};

// Brackets a callback from the platform into the extension: no platform operation is under way
// until it returns, except those it makes itself.
class ExtensionScope {
public:
    ExtensionScope() : saved_depth_(track().depth), saved_op_(track().op) { track().depth = 0; }
    ~ExtensionScope() {
        track().op = saved_op_;
        track().depth = saved_depth_;
    }
    ExtensionScope(const ExtensionScope&) = delete;
    ExtensionScope& operator=(const ExtensionScope&) = delete;

private:
    sig_atomic_t saved_depth_;
    sig_atomic_t saved_op_;
};

// The extension's methods and actions, each behind a trampoline of its own.
constexpr int kMaxCallbacks = 16;
std::array<METHOD_function_t, kMaxCallbacks> g_callbacks{};
int g_callback_count = 0;

template <int K>
int callback_trampoline(METHOD_message_t* message, va_list args) {
    ExtensionScope scope;
    return g_callbacks[K](message, args);
}

template <int... K>
constexpr std::array<METHOD_function_t, sizeof...(K)> make_trampolines(std::integer_sequence<int, K...>) {
    return {{&callback_trampoline<K>...}};
}
const std::array<METHOD_function_t, kMaxCallbacks> g_trampolines =
    make_trampolines(std::make_integer_sequence<int, kMaxCallbacks>());

METHOD_function_t behind_trampoline(METHOD_function_t fn) {
    if (fn == nullptr || g_callback_count == kMaxCallbacks) {
        if (fn != nullptr) {
            std::fprintf(stderr,
                         "scale_bench: more than %d callbacks; the extra ones count as platform time\n",
                         kMaxCallbacks);
        }
        return fn;
    }
    g_callbacks[static_cast<size_t>(g_callback_count)] = fn;
    return g_trampolines[static_cast<size_t>(g_callback_count++)];
}

}  // namespace

// The wrapped operations: __wrap_X is what the extension's reference to X reaches, __real_X the
// stand-in's X. The static_assert keeps each wrapper's signature equal to the declaration.
#define KEP_TRACKED(ret, name, params, args)                                              \
    extern "C" ret __real_##name params;                                                  \
    extern "C" ret __wrap_##name params;                                                  \
    static_assert(std::is_same<decltype(&__wrap_##name), decltype(&name)>::value, #name); \
    namespace {                                                                           \
    const int kOp_##name = op_index(#name);                                               \
    }                                                                                     \
    extern "C" ret __wrap_##name params {                                                 \
        PlatformScope scope(kOp_##name);                                                  \
        return __real_##name args;                                                        \
    }

KEP_TRACKED(int, AE_ask_all_dataset_named_refs,
            (tag_t d, const char n[AE_reference_size_c + 1], int* c, tag_t** r), (d, n, c, r))
KEP_TRACKED(int, AE_ask_dataset, (tag_t d, tag_t* v), (d, v))
KEP_TRACKED(int, AOM_ask_value_double, (tag_t o, const char* p, double* v), (o, p, v))
KEP_TRACKED(int, AOM_ask_value_string, (tag_t o, const char* p, char** v), (o, p, v))
KEP_TRACKED(int, AOM_ask_value_strings, (tag_t o, const char* p, int* n, char*** v), (o, p, n, v))
KEP_TRACKED(int, BOM_ask_window_top_line, (tag_t w, tag_t* t), (w, t))
KEP_TRACKED(int, BOM_line_ask_attribute_string, (tag_t l, int a, char** v), (l, a, v))
KEP_TRACKED(int, BOM_line_ask_attribute_tag, (tag_t l, int a, tag_t* v), (l, a, v))
KEP_TRACKED(int, BOM_line_ask_child_lines, (tag_t l, int* n, tag_t** c), (l, n, c))
KEP_TRACKED(int, BOM_line_ask_packed_lines, (tag_t l, int* n, tag_t** c), (l, n, c))
KEP_TRACKED(int, BOM_line_look_up_attribute, (const char* n, int* a), (n, a))
KEP_TRACKED(int, EMH_clear_errors, (void), ())
KEP_TRACKED(int, EMH_ask_errors, (int* n, const int** s, const int** f, const char*** t), (n, s, f, t))
KEP_TRACKED(int, GRM_find_relation_type, (const char* n, tag_t* t), (n, t))
KEP_TRACKED(int, GRM_list_secondary_objects_only, (tag_t p, tag_t r, int* n, tag_t** s), (p, r, n, s))
KEP_TRACKED(void*, MEM_alloc, (int n), (n))
KEP_TRACKED(void, MEM_free, (void* p), (p))
KEP_TRACKED(int, PREF_ask_char_value, (const char* n, int i, char** v), (n, i, v))
KEP_TRACKED(int, PREF_ask_char_values, (const char* n, int* c, char*** v), (n, c, v))
KEP_TRACKED(int, PREF_ask_search_scope, (TC_preference_search_scope_t * s), (s))
KEP_TRACKED(int, PREF_ask_value_count, (const char* n, int* c), (n, c))
KEP_TRACKED(int, PREF_set_search_scope, (TC_preference_search_scope_t s), (s))
KEP_TRACKED(int, TCTYPE_ask_name, (tag_t t, char n[TCTYPE_name_size_c + 1]), (t, n))
KEP_TRACKED(int, TCTYPE_ask_object_type, (tag_t o, tag_t* t), (o, t))
KEP_TRACKED(int, USERARG_get_double_argument, (double* v), (v))
KEP_TRACKED(int, USERARG_get_double_array_argument, (int* n, double** v), (n, v))
KEP_TRACKED(int, USERARG_get_tag_argument, (tag_t * v), (v))
KEP_TRACKED(int, USERARG_get_tag_array_argument, (int* n, tag_t** v), (n, v))
KEP_TRACKED(int, USERSERVICE_return_tag_array, (const tag_t* a, int n, USERSERVICE_array_t* r), (a, n, r))

// Registrations: the extension's functions go behind trampolines that mark the callbacks.
extern "C" int __real_METHOD_register_prop_method(const char* type_name, const char* property_name,
                                                  const char* msg_name, METHOD_function_t base_action,
                                                  TC_argument_list_t* user_args, METHOD_id_t* method_id);
extern "C" int __wrap_METHOD_register_prop_method(const char* type_name, const char* property_name,
                                                  const char* msg_name, METHOD_function_t base_action,
                                                  TC_argument_list_t* user_args, METHOD_id_t* method_id) {
    return __real_METHOD_register_prop_method(type_name, property_name, msg_name,
                                              behind_trampoline(base_action), user_args, method_id);
}
extern "C" int __real_METHOD_add_action(METHOD_id_t method_id, METHOD_action_type_t action_type,
                                        METHOD_function_t action_handler, TC_argument_list_t* user_args);
extern "C" int __wrap_METHOD_add_action(METHOD_id_t method_id, METHOD_action_type_t action_type,
                                        METHOD_function_t action_handler, TC_argument_list_t* user_args) {
    return __real_METHOD_add_action(method_id, action_type, behind_trampoline(action_handler), user_args);
}
static_assert(std::is_same<decltype(&__wrap_METHOD_register_prop_method),
                           decltype(&METHOD_register_prop_method)>::value,
              "METHOD_register_prop_method");
static_assert(std::is_same<decltype(&__wrap_METHOD_add_action), decltype(&METHOD_add_action)>::value,
              "METHOD_add_action");
