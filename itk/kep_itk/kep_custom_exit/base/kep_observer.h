/*
 * The observer of one explanation: the lookups, the box choice, the placement and the walk tell it
 * each decision as they make it, so that an explanation of a line is made of the very decisions
 * the search makes, not of a second account of them.
 *
 * Nobody observes by default: kep::observer() is null, and each hook is one load of the count of
 * observers set in the process; only while some thread has one does a hook look at its own
 * thread's. A hook never calls the platform, never writes to the log and never changes what the
 * function it sits in does; with or without an observer the traces, results, statuses and call
 * counts are the same.
 */
#ifndef KEP_OBSERVER_H
#define KEP_OBSERVER_H

#include <atomic>

#include "kep_platform.h"

namespace kep {

// One decision. `what` is a fixed word naming it (the explainer's table, kep_explain.cpp); the
// other fields say what it is about, each null or 0 when it does not apply. Everything is
// borrowed for the length of the call of Observer::note.
struct Note {
    const char* what;
    tag_t object;
    const char* key;   // a preference key, a relation name, a statement
    const char* text;  // a value, a name, a reason
    const char* const* texts;
    int text_count;
    const tag_t* tags;
    int tag_count;
    const double* numbers;
    int number_count;
};

class Observer {
public:
    virtual ~Observer() = default;
    virtual void note(const Note& note) noexcept = 0;
};

// The calling thread's observer, or null; and the number of Observing scopes open in the process.
Observer*& observer_slot() noexcept;
extern std::atomic<int> g_observing;

inline Observer* observer() noexcept {
    return g_observing.load(std::memory_order_relaxed) == 0 ? nullptr : observer_slot();
}

// Installs an observer for its lifetime and puts the one before back.
class Observing {
public:
    explicit Observing(Observer* o) noexcept : before_(observer_slot()) {
        g_observing.fetch_add(1, std::memory_order_relaxed);
        observer_slot() = o;
    }
    ~Observing() {
        observer_slot() = before_;
        g_observing.fetch_sub(1, std::memory_order_relaxed);
    }
    Observing(const Observing&) = delete;
    Observing& operator=(const Observing&) = delete;

private:
    Observer* before_;
};

// The hook: tells the observer, if there is one.
inline void observe(const char* what, tag_t object, const char* key = nullptr,
                    const char* text = nullptr) noexcept {
    if (Observer* o = observer()) {
        o->note(Note{what, object, key, text, nullptr, 0, nullptr, 0, nullptr, 0});
    }
}
inline void observe_tags(const char* what, tag_t object, const char* key, const tag_t* tags,
                         int count) noexcept {
    if (Observer* o = observer()) {
        o->note(Note{what, object, key, nullptr, nullptr, 0, tags, count, nullptr, 0});
    }
}
inline void observe_texts(const char* what, const char* key, const char* const* texts, int count) noexcept {
    if (Observer* o = observer()) {
        o->note(Note{what, NULLTAG, key, nullptr, texts, count, nullptr, 0, nullptr, 0});
    }
}
inline void observe_numbers(const char* what, tag_t object, const char* key, const char* text,
                            const double* numbers, int count) noexcept {
    if (Observer* o = observer()) {
        o->note(Note{what, object, key, text, nullptr, 0, nullptr, 0, numbers, count});
    }
}

}  // namespace kep

#endif
