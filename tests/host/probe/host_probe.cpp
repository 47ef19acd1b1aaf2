// A small extension library that kep-host's tests load in place of kep: it uses every hook that
// kep-host drives (entry point, the three exits, a type registration function, a property method,
// a post-action, two user services, the system log), with answers simple enough to check by eye.
//
//   var2_is_v0 on Dataset       true when AE_ask_dataset answers the dataset itself
//   bl_plmxml_occ_xform         post-action that appends "+probe" to the platform's value
//   volume search               the window's top line, when the box has six values
//   neighbourhood search        the selected lines in reverse order; nothing for an empty selection
#include <ae/dataset.h>
#include <base_utils/Mem.h>
#include <bom/bom.h>
#include <ict/ict_userservice.h>
#include <property/prop.h>
#include <tc/tc_startup.h>
#include <tccore/custom.h>
#include <tccore/method.h>
#include <tccore/tctype.h>

#include <cstring>

#if defined(_WIN32)
#define PROBE_EXPORT __declspec(dllexport)
#else
#define PROBE_EXPORT __attribute__((visibility("default")))
#endif

namespace {

int ask_is_v0(METHOD_message_t*, va_list args) {
    tag_t prop = va_arg(args, tag_t);
    logical* value = va_arg(args, logical*);
    *value = false;
    tag_t object = NULLTAG;
    int status = PROP_ask_owning_object(prop, &object);
    tag_t version0 = NULLTAG;
    if (status == ITK_ok) {
        status = AE_ask_dataset(object, &version0);
    }
    if (status == ITK_ok) {
        *value = version0 != NULLTAG && version0 == object;
    }
    return status;
}

int register_is_v0(METHOD_message_t*, va_list) {
    METHOD_id_t method;
    return METHOD_register_prop_method("Dataset", "var2_is_v0", PROP_ask_value_logical_msg, ask_is_v0,
                                       nullptr, &method);
}

int occ_xform_pm(METHOD_message_t*, va_list args) {
    (void)va_arg(args, tag_t);
    char** value = va_arg(args, char**);
    const char* old = *value != nullptr ? *value : "";
    size_t n = std::strlen(old);
    char* text = static_cast<char*>(MEM_alloc(static_cast<int>(n + sizeof("+probe"))));
    std::memcpy(text, old, n);
    std::memcpy(text + n, "+probe", sizeof("+probe"));
    MEM_free(*value);
    *value = text;
    return ITK_ok;
}

// The arguments of a search: the window, the distance (not used here) and the array that follows.
template <class T>
int search_arguments(tag_t* window, int (*ask_array)(int*, T**), int* count, T** values) {
    double delta = 0.0;
    int status = USERARG_get_tag_argument(window);
    if (status == ITK_ok) {
        status = USERARG_get_double_argument(&delta);
    }
    return status == ITK_ok ? ask_array(count, values) : status;
}

int volume_search(void* return_data) {
    tag_t window = NULLTAG;
    int count = 0;
    double* box = nullptr;
    int status = search_arguments(&window, USERARG_get_double_array_argument, &count, &box);
    tag_t top = NULLTAG;
    if (status == ITK_ok && count == 6) {
        status = BOM_ask_window_top_line(window, &top);
    }
    if (status == ITK_ok && top != NULLTAG) {
        status = USERSERVICE_return_tag_array(&top, 1, static_cast<USERSERVICE_array_t*>(return_data));
    }
    return status;
}

int neighbourhood_search(void* return_data) {
    tag_t window = NULLTAG;
    int count = 0;
    tag_t* lines = nullptr;
    int status = search_arguments(&window, USERARG_get_tag_array_argument, &count, &lines);
    if (status != ITK_ok || count < 1) {
        return status;
    }
    tag_t* reversed = static_cast<tag_t*>(MEM_alloc(static_cast<int>(sizeof(tag_t)) * count));
    for (int i = 0; i < count; ++i) {
        reversed[i] = lines[count - 1 - i];
    }
    status = USERSERVICE_return_tag_array(reversed, count, static_cast<USERSERVICE_array_t*>(return_data));
    MEM_free(reversed);
    return status;
}

int init_module(int* decision, va_list) {
    *decision = ALL_CUSTOMIZATIONS;
    // A "%" in the text shows whether the system log keeps texts as they are handed over.
    TC_write_syslog("%s", "probe: init 100%\n");
    return ITK_ok;
}

int register_properties(int* decision, va_list) {
    *decision = ALL_CUSTOMIZATIONS;
    static char dataset[] = "Dataset";
    static char none[] = "";
    USER_prop_init_entry_t entries[] = {{dataset, register_is_v0, nullptr}, {none, nullptr, nullptr}};
    return TCTYPE_register_properties(entries, 2);
}

int register_methods(int* decision, va_list) {
    *decision = ALL_CUSTOMIZATIONS;
    METHOD_id_t method;
    method.id = nullptr;
    int status =
        METHOD_find_prop_method("BOMLine", "bl_plmxml_occ_xform", PROP_ask_value_string_msg, &method);
    if (status == ITK_ok && method.id != nullptr) {
        status = METHOD_add_action(method, METHOD_post_action_type, occ_xform_pm, nullptr);
    } else if (status == ITK_ok) {
        status = METHOD_register_prop_method("BOMLine", "bl_plmxml_occ_xform", PROP_ask_value_string_msg,
                                             occ_xform_pm, nullptr, &method);
    }
    static char volume[] = "kep_userservice_volume_search";
    static char neighbourhood[] = "kep_userservice_neighbourhood_search";
    int volume_args[] = {USERARG_TAG_TYPE, USERARG_DOUBLE_TYPE, USERARG_ARRAY_TYPE + USERARG_DOUBLE_TYPE};
    int neighbourhood_args[] = {USERARG_TAG_TYPE, USERARG_DOUBLE_TYPE, USERARG_ARRAY_TYPE + USERARG_TAG_TYPE};
    if (status == ITK_ok) {
        status = USERSERVICE_register_method(volume, volume_search, 3, volume_args,
                                             USERARG_ARRAY_TYPE + USERARG_TAG_TYPE);
    }
    if (status == ITK_ok) {
        status = USERSERVICE_register_method(neighbourhood, neighbourhood_search, 3, neighbourhood_args,
                                             USERARG_ARRAY_TYPE + USERARG_TAG_TYPE);
    }
    return status;
}

}  // namespace

extern "C" PROBE_EXPORT int host_probe_register_callbacks(void) {
    int status = CUSTOM_register_exit("host_probe", "USER_init_module", init_module);
    if (status == ITK_ok) {
        status = CUSTOM_register_exit("host_probe", "USER_register_properties", register_properties);
    }
    if (status == ITK_ok) {
        status = CUSTOM_register_exit("host_probe", "USERSERVICE_register_methods", register_methods);
    }
    return status;
}

// A library that loads but has no entry point of its name (libhost_noentry.so).
extern "C" PROBE_EXPORT int host_probe_not_an_entry(void) { return 0; }
