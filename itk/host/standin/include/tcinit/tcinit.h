/* Logging in from a batch program (a utility that runs beside the server). */
#ifndef STANDIN_TCINIT_TCINIT_H
#define STANDIN_TCINIT_TCINIT_H
#include <tc/tc.h>
TC_EXTERN_C_BEGIN
TC_API int ITK_init_module(const char* user_id, const char* user_password, const char* user_group);
TC_API int ITK_auto_login(void);
TC_EXTERN_C_END
#endif
