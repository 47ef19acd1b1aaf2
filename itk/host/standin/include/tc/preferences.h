/* Preferences and their search scope. */
#ifndef STANDIN_TC_PREFERENCES_H
#define STANDIN_TC_PREFERENCES_H
#include <tc/tc.h>
typedef enum TC_preference_search_scope_e {
    TC_preference_all = 0,
    TC_preference_user = 1,
    TC_preference_role = 2,
    TC_preference_group = 3,
    TC_preference_site = 4
} TC_preference_search_scope_t;
TC_EXTERN_C_BEGIN
TC_API int PREF_ask_search_scope(TC_preference_search_scope_t* scope);
TC_API int PREF_set_search_scope(TC_preference_search_scope_t scope);
TC_API int PREF_ask_value_count(const char* preference_name, int* value_count);
TC_API int PREF_ask_char_value(const char* preference_name, int index, char** value);
TC_API int PREF_ask_char_values(const char* preference_name, int* count, char*** value);
TC_EXTERN_C_END
#endif
