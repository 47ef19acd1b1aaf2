/* Platform version and system log. */
#ifndef STANDIN_TC_TC_STARTUP_H
#define STANDIN_TC_TC_STARTUP_H
#include <tc/tc.h>
TC_EXTERN_C_BEGIN
TC_API int ITK_ask_version(int* version);
TC_API void TC_write_syslog(const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;
TC_EXTERN_C_END
#endif
