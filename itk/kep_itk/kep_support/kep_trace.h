/*
 * The statement trace and the guard rule, written once.
 *
 * Every platform call of both libraries (and every traced call of an extension function) goes
 * through kep::traced or kep::Step::call:
 *
 *   kep::Step step;
 *   step.call("PREF_ask_search_scope(&current_scope)",
 *             [&] { return PREF_ask_search_scope(&current_scope); });
 *   if (step.ok()) { ... }
 *   return step.status();
 *
 * traced() writes the three trace pieces ("executing [", the statement text, "]\n"), makes the
 * call, and on a non-zero status writes the failure block: "ERROR while processing following
 * statement\n", the statement text and a line end, then the platform's error stack one level
 * deeper. Step latches the first failing status; once latched, call() makes no call and writes
 * nothing. The callables must not throw.
 *
 * FunctionTrace writes a function's entry line on construction and its exit line on
 * destruction, so that every way out is closed.
 */
#ifndef KEP_TRACE_H
#define KEP_TRACE_H

#include <atomic>

#include "kep_support.h"

namespace kep {

// False once the trace switch is known to be off: the three trace pieces would write nothing, and
// one question is cheaper than three writers. The query is exported on Unix only; elsewhere the
// writers are always called (they check the switch themselves).
inline bool trace_may_write() noexcept {
#if defined(_WIN32)
    return true;
#else
    return kep_get_log_itkexe_on() != 0;
#endif
}

namespace trace_detail {
// The count behind traced_failures(); only traced() adds to it.
inline unsigned long& failure_count() noexcept {
    static thread_local unsigned long count = 0;
    return count;
}
}  // namespace trace_detail

// Failed traced calls of the calling thread so far. An answer that a lookup passes on although a
// call on its way failed (some report a failure as an empty answer) is told apart by it.
inline unsigned long traced_failures() noexcept { return trace_detail::failure_count(); }

// Who is told of each failed traced call, or null: an observer of the calling thread, installed by
// an explanation, learns from it which call made a search fail. A plain process-wide pointer, set
// to one and the same function whenever it is set; it is no thread-local storage. Only a failed
// call loads it.
using FailedCallListener = void (*)(const char* statement, int status);
inline std::atomic<FailedCallListener>& failed_call_listener() noexcept {
    static std::atomic<FailedCallListener> listener{nullptr};
    return listener;
}

// Makes one traced call and returns its status. Statement texts are fixed strings; they are
// handed to the log as arguments, never as formats.
template <class F>
int traced(const char* statement, F&& call) noexcept {
    if (trace_may_write()) {
        kep_log_itkexe("executing [");
        kep_log_itkexe("%s", statement);
        kep_log_itkexe("]\n");
    }
    const int status = call();
    if (status != 0) {
        ++trace_detail::failure_count();
        if (const FailedCallListener listener = failed_call_listener().load(std::memory_order_relaxed)) {
            listener(statement, status);
        }
        kep_log_to("ERROR while processing following statement\n");
        kep_log_to("%s\n", statement);
        kep_indent();
        kep_log_error_stack();
        kep_outdent();
    }
    return status;
}

// Holds the first failing status of a function.
class Step {
public:
    Step() noexcept = default;
    explicit Step(int status) noexcept : status_(status) {}

    // Makes the traced call when nothing has failed yet; returns the status now held.
    template <class F>
    int call(const char* statement, F&& fn) noexcept {
        if (status_ == 0) {
            status_ = traced(statement, fn);
        }
        return status_;
    }
    // Latches a status that did not come from a traced call (keeps an earlier failure).
    void latch(int status) noexcept {
        if (status_ == 0) {
            status_ = status;
        }
    }
    bool ok() const noexcept { return status_ == 0; }
    int status() const noexcept { return status_; }

private:
    int status_ = 0;
};

// Entry line now, exit line "<<< name\n" on every way out, unless end() wrote another one.
class FunctionTrace {
public:
    explicit FunctionTrace(const char* name) noexcept : name_(name) { kep_start("%s\n", name_); }
    ~FunctionTrace() {
        if (!ended_) {
            kep_end("%s\n", name_);
        }
    }
    FunctionTrace(const FunctionTrace&) = delete;
    FunctionTrace& operator=(const FunctionTrace&) = delete;
    const char* name() const noexcept { return name_; }
    // For exit lines that carry values: the caller writes kep_end itself and marks it done.
    void ended() noexcept { ended_ = true; }

private:
    const char* name_;
    bool ended_ = false;
};

}  // namespace kep

#endif
