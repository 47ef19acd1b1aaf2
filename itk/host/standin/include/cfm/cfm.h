/* Revision rules. */
#ifndef STANDIN_CFM_CFM_H
#define STANDIN_CFM_CFM_H
#include <tc/tc.h>
TC_EXTERN_C_BEGIN
TC_API int CFM_find(const char* name, tag_t* rule);
TC_EXTERN_C_END
#endif
