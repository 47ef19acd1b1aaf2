/* Property methods and their actions. */
#ifndef STANDIN_TCCORE_METHOD_H
#define STANDIN_TCCORE_METHOD_H
#include <stdarg.h>
#include <tc/tc.h>

typedef struct TC_argument_s {
    int type;
    int array_size;
    void* val_union;
} TC_argument_t;

typedef struct {
    int i;
    int number_of_arguments;
    TC_argument_t* arguments;
} TC_argument_list_t;

typedef struct METHOD_id_s {
    int reserved;
    void* id;
} METHOD_id_t;

typedef struct METHOD_message_s {
    tag_t object;
    METHOD_id_t method;
    void* system_data;
    TC_argument_list_t* user_args;
    tag_t object_tag;
    const char* prop_name;
    void* imanProp;
    void* propDesc;
} METHOD_message_t;

typedef int (*METHOD_function_t)(METHOD_message_t*, va_list);

typedef enum METHOD_action_type_e {
    METHOD_pre_action_type = 0,
    METHOD_post_action_type = 1
} METHOD_action_type_t;

#define PROP_ask_value_string_msg "PROP_ask_value_string"
#define PROP_ask_value_tag_msg "PROP_ask_value_tag"
#define PROP_ask_value_logical_msg "PROP_ask_value_logical"

TC_EXTERN_C_BEGIN
TC_API int METHOD_find_prop_method(const char* type_name, const char* property_name, const char* msg_name,
                                   METHOD_id_t* method_id);
TC_API int METHOD_register_prop_method(const char* type_name, const char* property_name, const char* msg_name,
                                       METHOD_function_t base_action, TC_argument_list_t* user_args,
                                       METHOD_id_t* method_id);
TC_API int METHOD_add_action(METHOD_id_t method_id, METHOD_action_type_t action_type,
                             METHOD_function_t action_handler, TC_argument_list_t* user_args);
TC_EXTERN_C_END
#endif
