/* Persistent object manager. */
#ifndef STANDIN_POM_POM_POM_H
#define STANDIN_POM_POM_POM_H
#include <tc/tc.h>
TC_EXTERN_C_BEGIN
TC_API int POM_tag_to_string(tag_t tag, char** string);
TC_EXTERN_C_END
#endif
