/* Environment as the platform sees it. */
#ifndef STANDIN_TC_TC_UTIL_H
#define STANDIN_TC_TC_UTIL_H
#include <tc/tc.h>
TC_EXTERN_C_BEGIN
TC_API const char* TC_getenv(const char* name);
TC_EXTERN_C_END
#endif
