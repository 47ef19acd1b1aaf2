/*
 * Extension entry and registration: the library's entry point, the three custom exits, the line
 * property overrides, the Dataset run-time property `var2_is_v0` and the spatial search services.
 *
 * The platform calls kep_register_callbacks once after loading the library; it registers the
 * three exits under the custom library name "kep" and stops at the first failure. Each exit sets
 * the platform's decision value to 2 (ALL_CUSTOMIZATIONS) whatever its work gave. Every function
 * here writes its entry and exit lines, traces each platform call and each call of another
 * registration function, makes no traced call after the first failure and returns that first
 * status unchanged (0 on success). Nothing here keeps state between calls, hands out memory or
 * unregisters anything.
 *
 * May call modon/, geometry/ and lookup/; nothing else in the extension calls into this folder.
 * The functions the platform calls are thin shells: no exception leaves them.
 */
#ifndef KEP_REGISTRATION_H
#define KEP_REGISTRATION_H

#include <stdarg.h>

#include "kep_export.h"
#include "kep_platform.h"

/* Platform version from which "Dataset" already defines var2_is_v0: below it, the property is
 * created at registration; at or above it, only the getter is attached. */
#define KEP_RUNTIME_PROPERTY_VERSION_THRESHOLD 80000300
/* Name of the run-time logical property on "Dataset". */
#define KEP_PROP_IS_V0 "var2_is_v0"
/* Custom library name under which the exits are registered. */
#define KEP_CUSTOM_LIBRARY_NAME "kep"

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Entry point and exits ---------------------------------------------------------------- */
/* The entry point the platform calls (the other export is the explanation entry, kep_explain.h).
 * Registers "USER_init_module", "USER_register_properties" and
 * "USERSERVICE_register_methods", in this order; status of the first failed registration. */
KEP_ENTRY_EXPORT int kep_register_callbacks(void);
/* The exits, in the platform's exit form: decision is the platform's decision integer (set to 2);
 * further arguments are not read. */
int kep_custom_user_init_module(int* decision, va_list args);
int kep_custom_user_register_properties(int* decision, va_list args);
int kep_custom_userservice_register_methods(int* decision, va_list args);

/* ---- Dataset run-time property -------------------------------------------------------------- */
/* Hands the platform the type registration table ("Dataset" -> the function below). */
int kep_register_runtime_properties(void);
/* Type registration function: args holds the tag_t of the type being set up. Creates
 * var2_is_v0 below the version threshold, then registers its getter. */
int kep_register_runtime_property_is_v0(METHOD_message_t* message, va_list args);
/* Getter for PROP_ask_value_logical: args holds (tag_t prop_tag, logical* value). The value is
 * true when the owning dataset is its own version-0 dataset, else false. */
int kep_runtime_property_ask_is_v0(METHOD_message_t* message, va_list args);

/* ---- Line property overrides and user services ------------------------------------------- */
/* Takes over the three BOM line properties. */
int kep_register_object_methods(void);
/* Registers the two spatial search user services. */
int kep_register_userservice_methods(void);

#ifdef __cplusplus
}
#endif

#endif
