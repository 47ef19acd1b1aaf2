/* Types and run-time properties. */
#ifndef STANDIN_TCCORE_TCTYPE_H
#define STANDIN_TCCORE_TCTYPE_H
#include <property/prop.h>
#include <tc/tc.h>
#include <tccore/method.h>

#define TCTYPE_name_size_c 32

typedef struct USER_prop_init_entry_s {
    char* type_name;
    METHOD_function_t user_method;
    TC_argument_list_t* user_args;
} USER_prop_init_entry_t;

TC_EXTERN_C_BEGIN
TC_API int TCTYPE_ask_object_type(tag_t object, tag_t* type);
TC_API int TCTYPE_ask_name(tag_t type, char type_name[TCTYPE_name_size_c + 1]);
TC_API int TCTYPE_register_properties(USER_prop_init_entry_t* entries, int n_entries);
TC_API int TCTYPE_add_runtime_property(tag_t type_tag, const char* prop_name, PROP_value_type_t value_type,
                                       int max_string_length, tag_t* prop_desc);
TC_EXTERN_C_END
#endif
