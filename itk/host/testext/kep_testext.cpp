// A tiny extension for the stand-in's tests, loaded the way the platform loads a custom library
// (the entry point's name comes from the file name). Through the same C operations the real
// extension uses it registers:
//   - three exits under the library name "kep_testext";
//   - from "USER_register_properties": a type registration table whose "Dataset" function creates
//     the logical run-time property "testext_is_v0" and registers its getter;
//   - from "USERSERVICE_register_methods": for bl_plmxml_occ_xform and bl_jt_dataset_tag, two
//     post-actions where the platform has its own method, else a method of its own; and the
//     service "testext_echo" (tag, double, tag array -> tag array).
// Every call from the platform is recorded as one line of text (kep_testext_events).
#include <ae/dataset.h>
#include <base_utils/Mem.h>
#include <ict/ict_userservice.h>
#include <property/prop.h>
#include <tccore/aom_prop.h>
#include <tccore/custom.h>
#include <tccore/method.h>
#include <tccore/tctype.h>

#include <cstdio>
#include <cstring>
#include <string>

#if defined(_WIN32)
#define TESTEXT_EXPORT extern "C" __declspec(dllexport)
#else
#define TESTEXT_EXPORT extern "C" __attribute__((visibility("default")))
#endif

namespace {

std::string g_events;

void record(const std::string& line) { g_events += line + "\n"; }

std::string text_or_null(const char* s) { return s == nullptr ? "null" : "\"" + std::string(s) + "\""; }

char* copy(const std::string& s) {
    char* p = static_cast<char*>(MEM_alloc(static_cast<int>(s.size() + 1)));
    std::memcpy(p, s.c_str(), s.size() + 1);
    return p;
}

std::string occurrence_name(tag_t line) {
    char* name = nullptr;
    std::string out;
    if (AOM_ask_value_string(line, "bl_occurrence_name", &name) == ITK_ok && name != nullptr) {
        out = name;
    }
    MEM_free(name);
    return out;
}

int ask_is_v0(METHOD_message_t* m, va_list args) {
    const tag_t prop = va_arg(args, tag_t);
    logical* value = va_arg(args, logical*);
    *value = false;
    tag_t owner = NULLTAG;
    int status = PROP_ask_owning_object(prop, &owner);
    tag_t v0 = NULLTAG;
    if (status == ITK_ok) {
        status = AE_ask_dataset(owner, &v0);
    }
    if (status == ITK_ok) {
        *value = v0 == owner;
    }
    record("is_v0 object_tag=" + std::to_string(m->object_tag) + " owner=" + std::to_string(owner) +
           " value=" + std::to_string(*value ? 1 : 0) + " status=" + std::to_string(status));
    return status;
}

int register_dataset(METHOD_message_t* m, va_list args) {
    const tag_t type = va_arg(args, tag_t);
    char name[TCTYPE_name_size_c + 1] = "";
    int status = TCTYPE_ask_name(type, name);
    record("register_type " + std::string(name) + " type=" + std::to_string(type) +
           " object_tag=" + std::to_string(m->object_tag));
    tag_t descriptor = NULLTAG;
    if (status == ITK_ok) {
        status = TCTYPE_add_runtime_property(type, "testext_is_v0", PROP_logical, 1, &descriptor);
    }
    METHOD_id_t method{};
    if (status == ITK_ok) {
        status = METHOD_register_prop_method(name, "testext_is_v0", PROP_ask_value_logical_msg, ask_is_v0,
                                             nullptr, &method);
    }
    return status;
}

int occ_post_first(METHOD_message_t* m, va_list args) {
    const tag_t prop = va_arg(args, tag_t);
    char** value = va_arg(args, char**);
    const std::string name = occurrence_name(m->object_tag);
    record("occ_post_first line=" + std::to_string(m->object_tag) + " prop=" + std::to_string(prop) +
           " prop_name=" + text_or_null(m->prop_name) + " value=" + text_or_null(*value));
    if (name == "REPLACE") {
        MEM_free(*value);
        *value = copy("replaced");
    } else if (name == "NESTED") {
        // A method that reads another line's property: the dispatch must re-enter cleanly.
        tag_t parent = NULLTAG;
        char* parent_value = nullptr;
        int status = AOM_ask_value_tag(m->object_tag, "bl_parent", &parent);
        if (status == ITK_ok) {
            status = AOM_ask_value_string(parent, "bl_plmxml_occ_xform", &parent_value);
        }
        record("nested parent=" + std::to_string(parent) + " value=" + text_or_null(parent_value));
        MEM_free(parent_value);
        return status;
    } else if (name == "FAIL") {
        return 4242;
    }
    return ITK_ok;
}

int occ_post_second(METHOD_message_t* m, va_list args) {
    (void)va_arg(args, tag_t);
    char** value = va_arg(args, char**);
    record("occ_post_second line=" + std::to_string(m->object_tag) + " value=" + text_or_null(*value));
    return ITK_ok;
}

int occ_method(METHOD_message_t* m, va_list args) {
    (void)va_arg(args, tag_t);
    char** value = va_arg(args, char**);
    record("occ_method line=" + std::to_string(m->object_tag) + " value=" + text_or_null(*value));
    *value = copy("method:" + occurrence_name(m->object_tag));
    return ITK_ok;
}

int jt_post(METHOD_message_t* m, va_list args) {
    (void)va_arg(args, tag_t);
    tag_t* value = va_arg(args, tag_t*);
    record("jt_post line=" + std::to_string(m->object_tag) + " value=" + std::to_string(*value));
    return ITK_ok;
}

int jt_method(METHOD_message_t* m, va_list args) {
    (void)va_arg(args, tag_t);
    tag_t* value = va_arg(args, tag_t*);
    record("jt_method line=" + std::to_string(m->object_tag) + " value=" + std::to_string(*value));
    *value = NULLTAG;
    return ITK_ok;
}

int echo(void* return_data) {
    tag_t window = NULLTAG;
    double distance = 0.0;
    int n = 0;
    tag_t* lines = nullptr;
    int status = USERARG_get_tag_argument(&window);
    if (status == ITK_ok) {
        status = USERARG_get_double_argument(&distance);
    }
    if (status == ITK_ok) {
        status = USERARG_get_tag_array_argument(&n, &lines);
    }
    char distance_text[32];
    std::snprintf(distance_text, sizeof distance_text, "%g", distance);
    record("echo window=" + std::to_string(window) + " distance=" + distance_text +
           " n=" + std::to_string(n) + " status=" + std::to_string(status));
    if (status != ITK_ok) {
        return status;
    }
    // Hands back the lines in reverse order, then the window.
    auto* result = static_cast<tag_t*>(MEM_alloc(static_cast<int>(sizeof(tag_t)) * (n + 1)));
    for (int i = 0; i < n; ++i) {
        result[i] = lines[n - 1 - i];
    }
    result[n] = window;
    status = USERSERVICE_return_tag_array(result, n + 1, static_cast<USERSERVICE_array_t*>(return_data));
    MEM_free(result);
    return status;
}

int line_property(const char* property, const char* msg, METHOD_function_t post1, METHOD_function_t post2,
                  METHOD_function_t method) {
    METHOD_id_t id{};
    int status = METHOD_find_prop_method("BOMLine", property, msg, &id);
    if (status != ITK_ok) {
        return status;
    }
    if (id.id != nullptr) {
        record(std::string("post-actions on ") + property);
        status = METHOD_add_action(id, METHOD_post_action_type, post1, nullptr);
        if (status == ITK_ok && post2 != nullptr) {
            status = METHOD_add_action(id, METHOD_post_action_type, post2, nullptr);
        }
        return status;
    }
    record(std::string("method on ") + property);
    return METHOD_register_prop_method("BOMLine", property, msg, method, nullptr, &id);
}

int exit_init_module(int* decision, va_list) {
    *decision = ALL_CUSTOMIZATIONS;
    record("exit USER_init_module");
    return ITK_ok;
}

int exit_register_properties(int* decision, va_list) {
    *decision = ALL_CUSTOMIZATIONS;
    static char dataset[] = "Dataset";
    static char empty[] = "";
    static char form[] = "Form";
    USER_prop_init_entry_t table[] = {
        {dataset, register_dataset, nullptr}, {empty, register_dataset, nullptr}, {form, nullptr, nullptr}};
    record("exit USER_register_properties");
    const int status = TCTYPE_register_properties(table, 3);
    record("exit USER_register_properties returns");
    return status;
}

int exit_register_methods(int* decision, va_list) {
    *decision = ALL_CUSTOMIZATIONS;
    record("exit USERSERVICE_register_methods");
    int status = line_property("bl_plmxml_occ_xform", PROP_ask_value_string_msg, occ_post_first,
                               occ_post_second, occ_method);
    if (status == ITK_ok) {
        status = line_property("bl_jt_dataset_tag", PROP_ask_value_tag_msg, jt_post, nullptr, jt_method);
    }
    if (status == ITK_ok) {
        int types[] = {USERARG_TAG_TYPE, USERARG_DOUBLE_TYPE, USERARG_ARRAY_TYPE + USERARG_TAG_TYPE};
        char name[] = "testext_echo";
        status = USERSERVICE_register_method(name, echo, 3, types, USERARG_ARRAY_TYPE + USERARG_TAG_TYPE);
        types[0] = -1;  // the table is a temporary: the platform must have kept its own copy
    }
    return status;
}

}  // namespace

TESTEXT_EXPORT int kep_testext_register_callbacks(void) {
    record("register_callbacks");
    int status = CUSTOM_register_exit("kep_testext", "USER_init_module", exit_init_module);
    if (status == ITK_ok) {
        status = CUSTOM_register_exit("kep_testext", "USER_register_properties", exit_register_properties);
    }
    if (status == ITK_ok) {
        status = CUSTOM_register_exit("kep_testext", "USERSERVICE_register_methods", exit_register_methods);
    }
    return status;
}

TESTEXT_EXPORT const char* kep_testext_events(void) { return g_events.c_str(); }

TESTEXT_EXPORT void kep_testext_clear_events(void) { g_events.clear(); }
