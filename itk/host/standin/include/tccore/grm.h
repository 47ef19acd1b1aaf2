/* Generic relations between objects. */
#ifndef STANDIN_TCCORE_GRM_H
#define STANDIN_TCCORE_GRM_H
#include <tc/tc.h>
TC_EXTERN_C_BEGIN
TC_API int GRM_find_relation_type(const char* relation_type_name, tag_t* relation_type);
TC_API int GRM_list_secondary_objects_only(tag_t primary_object, tag_t relation_type, int* count,
                                           tag_t** secondary_objects);
TC_EXTERN_C_END
#endif
