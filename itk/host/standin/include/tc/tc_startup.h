/* Platform version and system log. */
#ifndef STANDIN_TC_TC_STARTUP_H
#define STANDIN_TC_TC_STARTUP_H
#include <tc/tc.h>
TC_EXTERN_C_BEGIN
TC_API int ITK_ask_version(int* version);
/* Batch programs: text services first, then a login (tcinit/tcinit.h), the work, the logout. */
#define ITK_BATCH_TEXT_MODE 0
TC_API int ITK_initialize_text_services(int options);
TC_API int ITK_exit_module(logical ignore_unsaved_stuff);
TC_API char* ITK_ask_cli_argument(const char* keyword);
TC_API void TC_write_syslog(const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;
TC_EXTERN_C_END
#endif
