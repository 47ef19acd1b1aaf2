/* Platform memory: every block handed across the platform boundary. */
#ifndef STANDIN_BASE_UTILS_MEM_H
#define STANDIN_BASE_UTILS_MEM_H
#include <tc/tc.h>
TC_EXTERN_C_BEGIN
TC_API void* MEM_alloc(int n_bytes);
TC_API void MEM_free(void* ptr);
TC_EXTERN_C_END
#endif
