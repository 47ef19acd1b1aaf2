/*
 * The entry point of the extension library and its three custom exits.
 */
#include "kep_trace.h"
#include "registration/kep_registration.h"

namespace {

const int kDecisionAllCustomizations = 2;  // ALL_CUSTOMIZATIONS; the same for every exit

void set_decision(int* decision) noexcept {
    if (decision != nullptr) {
        *decision = kDecisionAllCustomizations;
    }
}

}  // namespace

extern "C" {

int kep_register_callbacks(void) {
    kep::FunctionTrace trace("kep_register_callbacks");
    const char* const custom_library_name = KEP_CUSTOM_LIBRARY_NAME;
    kep::Step step;

    // The announcements are written even when the registration they announce is then skipped.
    kep_log("registering [USER_init_module] to [kep_user_init_module]\n");
    step.call(
        "CUSTOM_register_exit(custom_library_name, \"USER_init_module\", kep_custom_user_init_module )", [&] {
            return CUSTOM_register_exit(custom_library_name, "USER_init_module", kep_custom_user_init_module);
        });

    kep_log("registering [USER_register_properties] to [kep_user_register_properties]\n");
    step.call(
        "CUSTOM_register_exit(custom_library_name, \"USER_register_properties\", "
        "kep_custom_user_register_properties )",
        [&] {
            return CUSTOM_register_exit(custom_library_name, "USER_register_properties",
                                        kep_custom_user_register_properties);
        });

    kep_log("registering [USERSERVICE_register_methods] to [kep_userservice_register_methods]\n");
    step.call(
        "CUSTOM_register_exit(custom_library_name, \"USERSERVICE_register_methods\", "
        "kep_custom_userservice_register_methods )",
        [&] {
            return CUSTOM_register_exit(custom_library_name, "USERSERVICE_register_methods",
                                        kep_custom_userservice_register_methods);
        });

    return step.status();
}

int kep_custom_user_init_module(int* decision, va_list /*args*/) {
    kep::FunctionTrace trace("kep_custom_user_init_module");
    set_decision(decision);
    return 0;
}

int kep_custom_user_register_properties(int* decision, va_list /*args*/) {
    kep::FunctionTrace trace("kep_custom_user_register_properties");
    kep::Step step;
    step.call("kep_register_runtime_properties()", [] { return kep_register_runtime_properties(); });
    set_decision(decision);
    return step.status();
}

int kep_custom_userservice_register_methods(int* decision, va_list /*args*/) {
    kep::FunctionTrace trace("kep_custom_userservice_register_methods");
    kep::Step step;
    // The services are registered only once the line properties are bound.
    step.call("kep_register_object_methods()", [] { return kep_register_object_methods(); });
    step.call("kep_register_userservice_methods()", [] { return kep_register_userservice_methods(); });
    set_decision(decision);
    return step.status();
}

}  // extern "C"
