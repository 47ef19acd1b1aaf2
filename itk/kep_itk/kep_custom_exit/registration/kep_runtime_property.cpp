/*
 * The run-time logical property var2_is_v0 on "Dataset": its registration table, the type
 * registration function and the getter that the platform calls on every read.
 */
#include <cstring>

#include "kep_mem.h"
#include "kep_trace.h"
#include "registration/kep_registration.h"

extern "C" {

int kep_register_runtime_properties(void) {
    kep::FunctionTrace trace("kep_register_runtime_properties");
    // The table lives in static storage: the platform may keep the pointer and call the
    // registration function after this function has returned. It is never written.
    static char dataset_type[] = "Dataset";
    static char end_of_table[] = "";
    static USER_prop_init_entry_t user_types_methods[] = {
        {dataset_type, kep_register_runtime_property_is_v0, nullptr},
        {end_of_table, nullptr, nullptr},
    };
    const int n_types = 2;

    kep_log(
        "registering runtime properties registration method [kep_register_runtime_property_is_v0] to "
        "[Dataset]...\n");
    kep::Step step;
    step.call("TCTYPE_register_properties (user_types_methods, n_types)",
              [&] { return TCTYPE_register_properties(user_types_methods, n_types); });
    return step.status();
}

int kep_register_runtime_property_is_v0(METHOD_message_t* /*message*/, va_list args) {
    kep::FunctionTrace trace("kep_register_runtime_property_is_v0");
    const tag_t type = va_arg(args, tag_t);
    const char* const property_name = KEP_PROP_IS_V0;
    char type_name[TCTYPE_name_size_c + 1] = "";
    int versionNumber = 0;
    kep::Step step;

    step.call("TCTYPE_ask_name(type, type_name)", [&] { return TCTYPE_ask_name(type, type_name); });
    if (step.ok()) {
        type_name[TCTYPE_name_size_c] = '\0';
    } else {
        type_name[0] = '\0';  // whatever a failed call left is not a name
    }
    step.call("ITK_ask_version(&versionNumber)", [&] {
        int version = 0;
        const int status = ITK_ask_version(&version);
        if (status == 0) {
            versionNumber = version;
        }
        return status;
    });
    kep_log("Version: [%d]\n", versionNumber);

    // Newer platforms define the property in their data model; creating it again would fail.
    if (versionNumber < KEP_RUNTIME_PROPERTY_VERSION_THRESHOLD) {
        kep_log("creating runtime property [%s.var2_is_v0] as PROP_logical ...\n", type_name);
        tag_t property_descriptor = NULLTAG;
        step.call("TCTYPE_add_runtime_property (type, property_name, PROP_logical, 1, &property_descriptor)",
                  [&] {
                      return TCTYPE_add_runtime_property(type, property_name, PROP_logical, 1,
                                                         &property_descriptor);
                  });
    }

    kep_log(
        "registering [%s.var2_is_v0][PROP_ask_value_logical_msg] method to "
        "[kep_runtime_property_ask_is_v0]...\n",
        type_name);
    METHOD_id_t method = {0, nullptr};
    step.call(
        "METHOD_register_prop_method (type_name, property_name, PROP_ask_value_logical_msg, "
        "kep_runtime_property_ask_is_v0, NULL, &method)",
        [&] {
            return METHOD_register_prop_method(type_name, property_name, PROP_ask_value_logical_msg,
                                               kep_runtime_property_ask_is_v0, nullptr, &method);
        });
    return step.status();
}

int kep_runtime_property_ask_is_v0(METHOD_message_t* /*message*/, va_list args) {
    kep::FunctionTrace trace("kep_runtime_property_ask_is_v0");
    const tag_t prop_tag = va_arg(args, tag_t);
    logical* const value = va_arg(args, logical*);
    bool is_v0 = false;
    if (value != nullptr) {
        *value = false;
    }
    tag_t object_tag = NULLTAG;
    kep::Step step;

    step.call("PROP_ask_owning_object(prop_tag, &object_tag)",
              [&] { return PROP_ask_owning_object(prop_tag, &object_tag); });
    if (step.ok() && object_tag != NULLTAG) {
        tag_t version0 = NULLTAG;
        step.call("AE_ask_dataset(object_tag, &version0)",
                  [&] { return AE_ask_dataset(object_tag, &version0); });
        if (step.ok() && version0 != NULLTAG && version0 == object_tag) {
            is_v0 = true;
            if (value != nullptr) {
                *value = true;
            }
        }
    }

    // The name is fetched only for the log. A property without an owning object has no name to
    // ask for: asking anyway would turn a plain "false" into a failure whenever logging is on.
    if (object_tag != NULLTAG && kep_logging_on() == 1 && step.ok()) {
        kep::MemPtr<char> dataset_name;
        step.call("AOM_ask_value_string(object_tag, \"object_name\", &dataset_name)",
                  [&] { return AOM_ask_value_string(object_tag, "object_name", dataset_name.out()); });
        if (step.ok() && dataset_name) {
            kep_log("Working on [%s]", dataset_name.get());
        }
    }

    trace.ended();
    kep_end("%s  value=[%d], retcode=[%d]\n", "kep_runtime_property_ask_is_v0", is_v0 ? 1 : 0, step.status());
    return step.status();
}

}  // extern "C"
