/*
 * The platform's C operations, as the extension and its diagnostics library see them.
 *
 * This is the only way into the platform: every source of kep and kep_support includes this
 * header and nothing else of the platform. Built against an installation (KEP_REAL_PLATFORM), it
 * pulls in the installation's ITK headers; otherwise the stand-in's headers, which declare the same
 * operations under the same header names.
 *
 * Later platform releases dropped six of the operations the extension calls from their public
 * headers (the libraries still carry them). The build checks the installed headers and defines
 * KEP_PLATFORM_LACKS_<operation> for each one they do not declare; this header then declares it
 * in the form the older releases have (docs/building.md).
 */
#ifndef KEP_PLATFORM_H
#define KEP_PLATFORM_H

#if defined(KEP_REAL_PLATFORM) && !defined(IPLIB)
#define IPLIB none
#endif

#include <ae/dataset.h>
#include <base_utils/Mem.h>
#include <bom/bom.h>
#include <bom/bom_attr.h>
#include <ict/ict_userservice.h>
#include <pom/pom/pom.h>
#include <property/prop.h>
#include <tc/emh.h>
#include <tc/preferences.h>
#include <tc/tc_startup.h>
#include <tc/tc_util.h>
#include <tccore/aom_prop.h>
#include <tccore/custom.h>
#include <tccore/grm.h>
#include <tccore/method.h>
#include <tccore/tctype.h>

#ifdef __cplusplus
extern "C" {
#endif
#ifdef KEP_PLATFORM_LACKS_PREF_ask_search_scope
int PREF_ask_search_scope(TC_preference_search_scope_t* scope);
#endif
#ifdef KEP_PLATFORM_LACKS_PREF_set_search_scope
int PREF_set_search_scope(TC_preference_search_scope_t scope);
#endif
#ifdef KEP_PLATFORM_LACKS_TCTYPE_ask_name
int TCTYPE_ask_name(tag_t type, char type_name[TCTYPE_name_size_c + 1]);
#endif
#ifdef KEP_PLATFORM_LACKS_TCTYPE_register_properties
int TCTYPE_register_properties(USER_prop_init_entry_t* entries, int n_entries);
#endif
#ifdef KEP_PLATFORM_LACKS_TCTYPE_add_runtime_property
int TCTYPE_add_runtime_property(tag_t type_tag, const char* prop_name, PROP_value_type_t value_type,
                                int max_string_length, tag_t* prop_desc);
#endif
#ifdef KEP_PLATFORM_LACKS_PROP_ask_owning_object
int PROP_ask_owning_object(tag_t prop_tag, tag_t* object);
#endif
#ifdef __cplusplus
}
#endif

#endif
