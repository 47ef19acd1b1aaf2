/* Property descriptors and values. */
#ifndef STANDIN_PROPERTY_PROP_H
#define STANDIN_PROPERTY_PROP_H
#include <tc/tc.h>
typedef enum PROP_value_type_e {
    PROP_untyped = 0,
    PROP_char = 1,
    PROP_date = 2,
    PROP_double = 3,
    PROP_float = 4,
    PROP_int = 5,
    PROP_logical = 6,
    PROP_short = 7,
    PROP_string = 8,
    PROP_typed_reference = 9,
    PROP_untyped_reference = 10,
    PROP_external_reference = 11,
    PROP_note = 12,
    PROP_typed_relation = 13,
    PROP_untyped_relation = 14
} PROP_value_type_t;
TC_EXTERN_C_BEGIN
TC_API int PROP_ask_owning_object(tag_t prop_tag, tag_t* object);
TC_EXTERN_C_END
#endif
