/*
 * The mod-on host lookup through the call memo: stands for kep_get_modon_for_bomline, with the
 * same statuses and the same error-stack state, and answers a lookup made before in the same call
 * from what the memo kept (see lookup/kep_memo.h). Without a memo it is exactly the function.
 */
#ifndef KEP_MODON_MEMO_H
#define KEP_MODON_MEMO_H

#include "lookup/kep_memo.h"

namespace kep {

int ask_modon(tag_t line, const char* relation, const char* type, tag_t* host, Tags& datasets);

}  // namespace kep

#endif
