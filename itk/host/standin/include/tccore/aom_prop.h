/* Object attributes and properties. */
#ifndef STANDIN_TCCORE_AOM_PROP_H
#define STANDIN_TCCORE_AOM_PROP_H
#include <tc/tc.h>
TC_EXTERN_C_BEGIN
TC_API int AOM_ask_value_string(tag_t object, const char* prop_name, char** value);
TC_API int AOM_ask_value_strings(tag_t object, const char* prop_name, int* num, char*** values);
TC_API int AOM_ask_value_double(tag_t object, const char* prop_name, double* value);
TC_API int AOM_ask_value_logical(tag_t object, const char* prop_name, logical* value);
TC_API int AOM_ask_value_tag(tag_t object, const char* prop_name, tag_t* value);
TC_API int AOM_ask_prop_names(tag_t object, int* prop_count, char*** prop_names);
TC_API int AOM_UIF_ask_name(tag_t object, const char* prop_name, char** disp_name);
TC_API int AOM_UIF_ask_value(tag_t object, const char* prop_name, char** d_value);
TC_EXTERN_C_END
#endif
