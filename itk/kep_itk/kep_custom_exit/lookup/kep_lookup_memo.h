/*
 * The lookups of this room through the call memo: each stands for the function named, with the
 * same statuses and the same error-stack state, and answers a lookup made before in the same call
 * from what the memo kept (see kep_memo.h). Without a memo each is exactly the function.
 */
#ifndef KEP_LOOKUP_MEMO_H
#define KEP_LOOKUP_MEMO_H

#include <cstddef>

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

// For a lookup that skips, on the economical path, questions the literal path asks: whether an
// observer is set and some kept answer of ask_datasets in this call has decisions to tell again;
// and those decisions of the answers about each of `objects` under `relation`, told again in turn
// (asking nothing). The latter is false, telling nothing, when one of the answers is not kept.
bool datasets_retell_decisions() noexcept;
bool retell_datasets(const tag_t* objects, size_t count, const char* relation) noexcept;

}  // namespace kep

#endif
