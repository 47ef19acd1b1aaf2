// Keeping the walk of a search for the account of its window (kep_explain_keep.h). One walk is kept
// at a time in the process, for the thread that asked; a thread that asks again, or another thread
// asking, drops what was kept, which only costs the account a walk of its own.
#include "registration/kep_explain_keep.h"

#include <atomic>
#include <mutex>
#include <new>
#include <thread>
#include <utility>

KEP_EXPLAIN_NAMESPACE_BEGIN
namespace {

struct Kept {
    std::mutex mutex;
    bool armed = false;      // the next search of `thread` keeps its walk
    bool lean = false;       // and keeps it for a lean account
    std::thread::id thread;  // the thread that asked
    tag_t window = NULLTAG;  // the window of the kept walk
    std::unique_ptr<WindowRecord> record;
};

Kept& kept() {
    static Kept k;
    return k;
}

// Whether some thread asked and its search has not begun: a search looks no further when none did.
std::atomic<int> g_armed(0);

}  // namespace

void keep_next_walk(bool lean) noexcept {
    Kept& k = kept();
    std::unique_ptr<WindowRecord> dropped;  // freed once the lock is let go
    std::lock_guard<std::mutex> lock(k.mutex);
    dropped = std::move(k.record);
    k.armed = true;
    k.lean = lean;
    k.thread = std::this_thread::get_id();
    k.window = NULLTAG;
    g_armed.store(1);
}

WalkKeeper::WalkKeeper(tag_t window) noexcept : window_(window) {
    if (g_armed.load() == 0) {
        return;
    }
    Kept& k = kept();
    bool lean = false;
    {
        std::lock_guard<std::mutex> lock(k.mutex);
        if (!k.armed || k.thread != std::this_thread::get_id()) {
            return;
        }
        k.armed = false;
        lean = k.lean;
        g_armed.store(0);
    }
    try {
        recorder_ = new_window_recorder(lean);
        observing_ = new kep::Observing(recorder_);
    } catch (...) {
        delete observing_;
        observing_ = nullptr;
        delete_window_recorder(recorder_);
        recorder_ = nullptr;
    }
}

WalkKeeper::~WalkKeeper() {
    delete observing_;
    delete_window_recorder(recorder_);
}

void WalkKeeper::keep(int status, int count, const tag_t* tags, kep_object3d_t* const* objects) noexcept {
    if (recorder_ == nullptr) {
        return;
    }
    // The walk is over: nothing after it is heard.
    delete observing_;
    observing_ = nullptr;
    if (status != 0 || count <= 0 || tags == nullptr || objects == nullptr) {
        return;
    }
    try {
        std::unique_ptr<WindowRecord> record(new WindowRecord);
        if (!take_window_record(recorder_, record.get())) {
            return;
        }
        record->kept_tags.assign(tags, tags + count);
        record->kept_objects.reserve(static_cast<size_t>(count));
        for (int i = 0; i < count; ++i) {
            if (objects[i] == nullptr) {
                return;
            }
            record->kept_objects.push_back(*objects[i]);
        }
        Kept& k = kept();
        std::unique_ptr<WindowRecord> dropped;
        std::lock_guard<std::mutex> lock(k.mutex);
        if (k.armed) {
            return;  // asked again while this search walked: the walk asked for is still ahead
        }
        dropped = std::move(k.record);
        k.record = std::move(record);
        k.window = window_;
        k.thread = std::this_thread::get_id();
    } catch (...) {
        // Without memory nothing is kept; the account walks itself.
    }
}

std::unique_ptr<WindowRecord> take_kept_walk(tag_t window, bool lean) noexcept {
    Kept& k = kept();
    std::unique_ptr<WindowRecord> record;
    std::lock_guard<std::mutex> lock(k.mutex);
    if (k.record == nullptr || k.thread != std::this_thread::get_id()) {
        return nullptr;
    }
    record = std::move(k.record);
    if (window == NULLTAG || k.window != window || (record->lean && !lean)) {
        return nullptr;
    }
    return record;
}

KEP_EXPLAIN_NAMESPACE_END
