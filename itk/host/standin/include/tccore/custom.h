/* Custom exits. */
#ifndef STANDIN_TCCORE_CUSTOM_H
#define STANDIN_TCCORE_CUSTOM_H
#include <stdarg.h>
#include <tc/tc.h>
#define NO_CUSTOMIZATION 0
#define ONLY_CURRENT_CUSTOMIZATION 1
#define ALL_CUSTOMIZATIONS 2
typedef int (*CUSTOM_EXIT_ftn_t)(int* decision, va_list args);
TC_EXTERN_C_BEGIN
TC_API int CUSTOM_register_exit(const char* context, const char* base_ftn_name, CUSTOM_EXIT_ftn_t custom_ftn);
TC_EXTERN_C_END
#endif
