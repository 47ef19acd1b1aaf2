/* The platform's error stack. */
#ifndef STANDIN_TC_EMH_H
#define STANDIN_TC_EMH_H
#include <tc/tc.h>
#define EMH_severity_information 1
#define EMH_severity_warning 2
#define EMH_severity_error 3
TC_EXTERN_C_BEGIN
TC_API int EMH_ask_errors(int* n_ifails, const int** severities, const int** ifails, const char*** texts);
TC_API int EMH_clear_errors(void);
TC_EXTERN_C_END
#endif
