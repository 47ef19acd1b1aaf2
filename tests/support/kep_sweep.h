// The fault sweep: fail each platform call of an entry point in turn and check what follows.
//
// It tells a failed traced call from a failed call the extension makes untraced, checks the error
// stack, and hands back the whole call log of every run (releases and diagnostics included) for
// checks of the case's own.
//
// A sweep first runs the entry point once without a fault (the baseline) and counts its failable
// platform calls (every operation that returns a status; MEM_free, TC_getenv and TC_write_syslog
// cannot fail, and MEM_alloc, which fail_nth_any does not count, is failed by tests/sweep/). Then,
// for k = 1, 2, ..., it runs the entry point again with the k-th failable call failing
// (standin::fail_nth_any) until a run makes fewer than k failable calls.
// Every run starts from the same state: the case's setup (which loads the site and sets the
// switches), then kep_support_reset_state(), counters and faults cleared.
//
// Each run is checked with gtest EXPECTs (the messages name the case, k and the failed call):
//   - status: by default the injected code when a traced call failed, the baseline status when a
//     call the extension makes untraced failed (EMH_clear_errors, EMH_ask_errors: their status is
//     not examined, and their failure must change nothing else, so the run's platform calls must
//     equal the baseline's); a case can replace this rule with expected_status;
//   - guard rule (unless guard_rule is cleared): after a failed traced call only memory calls, the
//     diagnostics (EMH_ask_errors, EMH_clear_errors, TC_getenv, TC_write_syslog) and the calls the
//     case lists in may_follow_failure are made;
//   - the error stack is empty afterwards when clears_errors is set (only the injected failure of
//     an EMH_clear_errors call itself may stay);
//   - the indentation level is back where it started, no MEM_alloc block is left live (the run
//     function releases what the entry point handed out) and no free was misused.
//
// Usage:
//   kep_test::FaultCase c;
//   c.name = "kep_get_parent";
//   c.setup = [] { load_my_site(); };
//   c.run = [] { tag_t parent = 0; return kep_get_parent(standin::tag_of("l1"), &parent); };
//   std::vector<kep_test::FaultRun> runs = kep_test::run_fault_sweep(c);
//   // runs[0] is the baseline (k = 0); further checks on the runs as the case needs them.
#ifndef KEP_SWEEP_H
#define KEP_SWEEP_H

#include <standin/control.h>

#include <functional>
#include <set>
#include <string>
#include <vector>

namespace kep_test {

// What one run of the entry point did.
struct FaultRun {
    long k = 0;                      // number of the failed failable call; 0 for the baseline
    std::string failed_op;           // the operation that was made to fail ("" for the baseline)
    bool traced_failure = false;     // failed_op is a call the extension traces
    size_t failed_index = 0;         // position of the failed call in `calls`
    std::vector<std::string> calls;  // every platform call of the run, in order
    int status = 0;                  // what the run function returned
    int indent_before = 0;           // kep_support indentation level before and after
    int indent_after = 0;
    int live_blocks = 0;                      // blocks live after the run, less those live before it
    long misuse = 0;                          // misused frees during the run
    std::vector<standin::ErrorEntry> errors;  // the error stack after the run

    // The calls made after the failed one (all calls for the baseline).
    std::vector<std::string> calls_after_failure() const;
    // How often `op` was called in the whole run.
    long count(const std::string& op) const;
};

struct FaultCase {
    std::string name;
    // Puts the stand-in into the starting state of every run (load the site, set preferences and
    // switches). Called before each run.
    std::function<void()> setup;
    // Calls the entry point, releases everything it handed out, returns its status.
    std::function<int()> run;
    // The error stack must be empty after every run.
    bool clears_errors = true;
    // Check that nothing but the allowed calls follows a traced failure. Clear it for entry points
    // that by design go on after a failure they do not pass on.
    bool guard_rule = true;
    // Platform operations that may still be called after a traced failure (documented exceptions
    // to the guard rule, such as restoring the preference search scope).
    std::set<std::string> may_follow_failure;
    // Operations the extension calls without tracing them (their status is not examined).
    std::set<std::string> untraced_ops = {"EMH_clear_errors", "EMH_ask_errors"};
    // Replaces the default status rule; receives the run and the baseline run.
    std::function<int(const FaultRun& run, const FaultRun& baseline)> expected_status;
};

// Runs the sweep and returns every run, the baseline first. Checks each run as described above.
std::vector<FaultRun> run_fault_sweep(const FaultCase& c);

// Calls that may follow a failure whatever the entry point: memory (never traced, and the leak
// check covers what is allocated) and the diagnostics that write the failure block and clear the
// error stack.
bool allowed_after_any_failure(const std::string& op);

// The platform calls of the lookups below a line's box (preferences, related datasets and their
// forms, line attributes, types, memory), which go on after a failure the lookups keep to
// themselves: a case whose entry point runs them lists these, and its own, in may_follow_failure.
std::set<std::string> box_lookup_calls();

// The log without the switch reads and the system-log writes, which depend on the switches only.
std::vector<std::string> without_diagnostics(const std::vector<std::string>& calls);

// True for the operations fail_nth_any counts.
bool counts_as_failable(const std::string& op);

// The names of the failable calls in standin::call_log(), in order.
std::vector<std::string> failable_call_log();

}  // namespace kep_test

#endif
