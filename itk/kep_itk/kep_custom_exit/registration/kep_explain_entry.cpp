// The explanation's export (kep_explain.h): one line alone, or the whole window of the line.
#include "base/kep_status.h"
#include "kep_explain.h"
#include "lookup/kep_memo.h"
#include "registration/kep_explain_account.h"
#include "registration/kep_explain_keep.h"

extern "C" int kep_explain_line(tag_t line, const kep_explain_query_t* query, int format, char** text) {
    if (text == nullptr) {
        return 0;
    }
    *text = nullptr;
    if (format == KEP_EXPLAIN_KEEP_NEXT_WALK || format == KEP_EXPLAIN_KEEP_NEXT_WALK_LEAN) {
        kep::explain::keep_next_walk(format == KEP_EXPLAIN_KEEP_NEXT_WALK_LEAN);
        return 0;
    }
    if (line == NULLTAG) {
        return 0;  // nothing to explain
    }
    // One call for the memo of platform answers, as a search is: the walk asks each question once,
    // and the observer still hears every decision (lookup/kep_memo.h, Recording).
    kep::CallScope scope;
    try {
        if (format == KEP_EXPLAIN_WINDOW || format == KEP_EXPLAIN_WINDOW_LEAN) {
            return kep::explain::explain_window(line, query, format == KEP_EXPLAIN_WINDOW, text);
        }
        return kep::explain::explain_line(line, query, format, text);
    } catch (...) {
        return kep::kNoMemory;
    }
}
