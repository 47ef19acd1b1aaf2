/*
 * The lookups of this room through the call memo: each stands for the function named, with the
 * same statuses and the same error-stack state, and answers a lookup made before in the same call
 * from what the memo kept (see kep_memo.h). Without a memo each is exactly the function.
 */
#ifndef KEP_LOOKUP_MEMO_H
#define KEP_LOOKUP_MEMO_H

#include "lookup/kep_memo.h"

namespace kep {

// kep_get_preference.
int ask_preference(const char* key, Text& value);
// kep_get_preference_list.
int ask_preference_list(const char* key, TextList& values);
// kep_get_datasets.
int ask_datasets(tag_t object, const char* relation, Tags& datasets);
// kep_filter_datasets (the result is kept when the input list is a kept one).
int ask_filtered(const Tags& datasets, const char* type_name, Tags& filtered);

}  // namespace kep

#endif
