// The fault sweep over one entry point that the platform calls, and the table of all of them.
//
// For an entry point the sweep runs it once without a fault (the baseline) and counts its
// failable platform calls; then, for k = 1, 2, ..., it runs it again with the k-th failable call
// failing (standin::fail_nth_any) until a run makes fewer than k failable calls. Every run starts
// from the entry point's setup (site, registrations) with kep_support's state reset and
// ZODORE_SYSLOG on, so that the functions open at each call can be read from the log
// (sweep_trace.h). What each run must show is worked out from those functions, the rules below
// and nothing of the code under test:
//
//   - Status. A failed call's status travels up from the function that made it until a caller
//     that does not examine it (kep_get_parent wherever it is called; the mod-on child matrix and
//     node data helpers under the transform values; the structure datasets under the JT dataset
//     tag; kep_get_preference_list keeps its own failures to itself and returns only the status of
//     its scope restore). It reaches the entry point, whose status must then be the injected
//     code, or stops on the way, and the status must be the baseline's. A failed
//     EMH_clear_errors or EMH_ask_errors is not examined anywhere: the run's platform calls must
//     be the baseline's and the status the baseline's.
//   - Guard rule. Every function the failure reached makes no failable call after it (but calls
//     to the error stack, and one scope restore by a preference reader, which puts the caller's
//     search scope back after a failed read), except through a call whose status it does not
//     examine.
//   - Trace. Every function the failure reached writes one failure block for it; no other
//     failure block appears.
//   - Error stack. Empty afterwards when a function that clears it on its way out ends after the
//     failure (the preference readers, the dataset lookups and filters, kep_get_parent, the
//     representation filter, the mod-on check, the JT dataset tag and its DirectModel search;
//     the mod-on check and the DirectModel search leave it when their own attribute reads fail);
//     otherwise exactly the injected error.
//   - Indentation back where it started, no MEM_alloc block left live, no misused MEM_free, and
//     for the baseline no failure at all and status 0.
//
// Then it runs the entry point once for each MEM_alloc of the baseline, that allocation answering
// null (standin::fail_call("MEM_alloc", m)). Such a run must answer 0 or 1 (the status of no
// memory) and leave nothing on the error stack, besides the shared checks (indentation, blocks,
// frees).
#ifndef SWEEP_DRIVER_H
#define SWEEP_DRIVER_H

#include <functional>
#include <string>
#include <vector>

namespace sweep_test {

struct EntryPoint {
    std::string name;  // as the table shows it
    std::string path;  // what the site makes it go through
    // Puts the stand-in in the starting state: loads the site, makes the registrations the entry
    // point needs. The driver resets counters, faults and kep_support afterwards.
    std::function<void()> setup;
    // Calls the entry point as the platform does, releases whatever it handed out, returns its
    // status.
    std::function<int()> run;
    // Optional: looks at what the run left besides the status (the exit decision); returns a
    // finding, or "" when all is well.
    std::function<std::string()> after;
};

struct SweepResult {
    std::string name;
    std::string path;
    long baseline_calls = 0;            // failable calls of the clean run
    long injected = 0;                  // runs with a failed call
    long passed_on = 0;                 // runs whose status had to be the injected code
    long not_examined = 0;              // runs whose failure had to stop before the entry point
    long memory = 0;                    // runs with a MEM_alloc answering null
    long failures = 0;                  // runs with at least one finding
    std::vector<std::string> findings;  // what went wrong, the first few
};

// Sweeps one entry point; records the result for the table and returns it. Does not itself
// fail the test: the caller checks result.failures and prints result.findings.
SweepResult sweep_entry_point(const EntryPoint& entry);

// Every result recorded so far in this process, in order.
const std::vector<SweepResult>& sweep_results();
// The table of the results (one line per entry point and a total line).
std::string sweep_table();
// Records an entry point that is not swept yet, so that the table lists it as pending.
void record_pending(const std::string& name, const std::string& reason);

}  // namespace sweep_test

#endif
