/* Items and their revisions. */
#ifndef STANDIN_TCCORE_ITEM_H
#define STANDIN_TCCORE_ITEM_H
#include <tc/tc.h>
TC_EXTERN_C_BEGIN
TC_API int ITEM_find_rev(const char* search_id, const char* revision_id, tag_t* revision);
TC_EXTERN_C_END
#endif
