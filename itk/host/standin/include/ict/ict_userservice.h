/* User services and their arguments. */
#ifndef STANDIN_ICT_ICT_USERSERVICE_H
#define STANDIN_ICT_ICT_USERSERVICE_H
#include <tc/tc.h>
#define USERARG_VOID_TYPE 0
#define USERARG_DOUBLE_TYPE 3
#define USERARG_TAG_TYPE 9
#define USERARG_ARRAY_TYPE 100
typedef int (*USER_function_t)(void* return_data);
typedef struct USERSERVICE_array_s {
    int length;
    void* array;
} USERSERVICE_array_t;
TC_EXTERN_C_BEGIN
TC_API int USERSERVICE_register_method(char* functionName, USER_function_t functionPtr, int numberOfArguments,
                                       int* argumentList, int returnValueType);
TC_API int USERARG_get_tag_argument(tag_t* arg);
TC_API int USERARG_get_double_argument(double* arg);
TC_API int USERARG_get_double_array_argument(int* length, double** args);
TC_API int USERARG_get_tag_array_argument(int* length, tag_t** args);
TC_API int USERSERVICE_return_tag_array(const tag_t* array, int arrayLength,
                                        USERSERVICE_array_t* arrayStruct);
TC_EXTERN_C_END
#endif
