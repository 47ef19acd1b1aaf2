// Keeping the walk of a search for the account of its window that follows it: a caller that draws a
// search asks kep_explain_line (KEP_EXPLAIN_KEEP_NEXT_WALK) to keep the next search's walk; that
// search's walk is then recorded as the account of a whole window records its own, and the next
// account of that window on the same thread starts from it instead of walking again. Only a walk
// that went through without a failed call is kept; anything else leaves the account to walk itself.
#ifndef KEP_EXPLAIN_KEEP_H
#define KEP_EXPLAIN_KEEP_H

#include "base/kep_observer.h"
#include "geometry/kep_geometry.h"
#include "registration/kep_explain_account.h"

KEP_EXPLAIN_NAMESPACE_BEGIN

// The next search of the calling thread keeps its walk; a walk kept before and not taken is dropped.
// A `lean` walk is kept for a lean account only (it has no line's absolute transform).
void keep_next_walk(bool lean) noexcept;

// Set around the walk of a search of `window`: records it when the calling thread asked to keep the
// next walk, and otherwise does nothing.
class WalkKeeper {
public:
    explicit WalkKeeper(tag_t window) noexcept;
    ~WalkKeeper();
    WalkKeeper(const WalkKeeper&) = delete;
    WalkKeeper& operator=(const WalkKeeper&) = delete;

    // The walk is over, with `status`, having handed out `count` lines: their tags and records in
    // the order of its node list. Keeps the record when the walk went through.
    void keep(int status, int count, const tag_t* tags, kep_object3d_t* const* objects) noexcept;

private:
    tag_t window_;
    kep::Observer* recorder_ = nullptr;
    kep::Observing* observing_ = nullptr;
};

// The walk the calling thread kept of `window`, taken for an account that is `lean` or not; null
// when there is none, or when it was kept lean for an account that is not. Whatever the thread kept
// is dropped either way: a kept walk serves the one account that follows its search.
std::unique_ptr<WindowRecord> take_kept_walk(tag_t window, bool lean) noexcept;

KEP_EXPLAIN_NAMESPACE_END

#endif
