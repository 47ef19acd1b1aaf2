// The fault sweep over the entry points (see sweep_driver.h).
#include "sweep_driver.h"

#include <kep_support_internal.h>
#include <standin/control.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <set>
#include <sstream>
#include <utility>

#include "kep_sweep.h"
#include "sweep_trace.h"

namespace sweep_test {
namespace {

using kep_test::without_diagnostics;

// Calls whose status the caller does not examine: (caller, called function).
const std::set<std::pair<std::string, std::string>> kUnexamined = {
    {"kep_get_modon_for_bomline", "kep_get_parent"},
    {"kep_bl_ask_plmxml_occ_xform", "kep_get_parent"},
    {"kep_bl_ask_plmxml_occ_xform", "kep_get_matrix_str_from_modon"},
    {"kep_bl_ask_plmxml_abs_xform", "kep_get_parent"},
    {"kep_bl_ask_plmxml_abs_xform", "kep_set_node_data_from_modon"},
    {"kep_bl_ask_plmxml_abs_xform", "kep_set_kep_node_data_from_bomline"},
    {"kep_bl_ask_jt_ds_tag", "kep_get_structure_for_bomline"},
};

// Functions that clear the platform's error stack on their way out.
const std::set<std::string> kClearsOnExit = {
    "kep_get_preference",
    "kep_get_preference_list",
    "kep_get_datasets",
    "kep_filter_datasets",
    "kep_filter_datasets2",
    "kep_get_parent",
    "kep_filter_alt_rep_for_dataset",
    "kep_check_for_mod_on",
    "kep_bl_ask_jt_ds_tag",
    "kep_get_direct_model",
};

// ... except these two when one of their own line attribute reads failed.
const std::set<std::string> kKeepsStackOnOwnAttributeFailure = {"kep_check_for_mod_on",
                                                                "kep_get_direct_model"};
const std::set<std::string> kAttributeReads = {"BOM_line_look_up_attribute", "BOM_line_ask_attribute_string",
                                               "BOM_line_ask_attribute_tag"};

// The error stack is read and cleared untraced; a failure there is examined nowhere.
const std::set<std::string> kErrorStackOps = {"EMH_clear_errors", "EMH_ask_errors"};

const char kListReader[] = "kep_get_preference_list";
const char kScopeSet[] = "PREF_set_search_scope";
// The preference readers put the caller's search scope back even after a failed read (once), so
// that a failure does not leave the caller searching every scope.
const std::set<std::string> kRestoresScope = {"kep_get_preference", "kep_get_preference_list"};

const size_t kMaxFindings = 12;

bool counts_as_failable(const std::string& op) {
    return op != "MEM_alloc" && op != "MEM_free" && op != "TC_getenv" && op != "TC_write_syslog";
}

struct Run {
    long k = 0;
    int status = 0;
    std::vector<std::string> calls;     // every platform call
    std::vector<std::string> failable;  // the failable ones, in order
    std::vector<TraceEvent> events;
    int indent_before = 0;
    int indent_after = 0;
    int live_blocks = 0;
    long misuse = 0;
    std::vector<standin::ErrorEntry> errors_before;
    std::vector<standin::ErrorEntry> errors;
    std::string after;  // the entry point's own finding
};

// A run with the k-th failable call failing (k > 0), or with the m-th MEM_alloc failing (m < 0:
// m = -1 the first), or without a fault (0).
Run run_once(const EntryPoint& entry, long k) {
    entry.setup();
    standin::set_call_log(true);
    standin::set_env("ZODORE_DEBUG", nullptr);
    standin::set_env("ZODORE_SYSLOG", "ON");
    standin::set_env("ZODORE_ITKLOG", nullptr);
    kep_support_reset_state();
    standin::clear_faults();
    standin::reset_counters();
    if (k > 0) {
        standin::fail_nth_any(k);
    } else if (k < 0) {
        standin::fail_call("MEM_alloc", static_cast<int>(-k));
    }
    Run r;
    r.k = k;
    r.errors_before = standin::errors();
    const int blocks_before = standin::live_blocks();
    const long misuse_before = standin::misuse_count();
    r.indent_before = kep_support_indent_level();
    start_recording();
    r.status = entry.run();
    r.events = stop_recording();
    if (entry.after) {
        r.after = entry.after();
    }
    r.indent_after = kep_support_indent_level();
    r.live_blocks = standin::live_blocks() - blocks_before;
    r.misuse = standin::misuse_count() - misuse_before;
    r.errors = standin::errors();
    standin::clear_faults();
    r.calls = standin::call_log();
    for (const std::string& op : r.calls) {
        if (counts_as_failable(op)) {
            r.failable.push_back(op);
        }
    }
    return r;
}

// Walks a run's trace alongside its failable calls: visit(j, stack) for every call j (1-based)
// with the functions open at it, and exit(frame, position) for every exit line.
template <class Visit, class ExitFn>
void replay(const Run& r, Visit&& visit, ExitFn&& on_exit) {
    std::vector<Frame> open;
    long id = 0;
    size_t e = 0;
    const long n = static_cast<long>(r.failable.size());
    for (long j = 1; j <= n + 1; ++j) {
        for (; e < r.events.size() && r.events[e].position < j; ++e) {
            const TraceEvent& ev = r.events[e];
            if (ev.kind == TraceEvent::Enter) {
                open.push_back({ev.name, ++id, ev.position});
            } else if (ev.kind == TraceEvent::Exit && !open.empty()) {
                on_exit(open.back(), ev.position);
                open.pop_back();
            }
        }
        if (j <= n) {
            visit(j, open);
        }
    }
}

std::string stack_text(const std::vector<Frame>& frames) {
    std::string out;
    for (const Frame& f : frames) {
        out += (out.empty() ? "" : " > ") + f.name;
    }
    return out.empty() ? "(no function)" : out;
}

long failure_blocks(const Run& r) {
    return static_cast<long>(std::count_if(
        r.events.begin(), r.events.end(), [](const TraceEvent& e) { return e.kind == TraceEvent::Failure; }));
}

// The checks every run shares: balance, memory.
void check_common(const Run& r, std::vector<std::string>* findings) {
    if (r.indent_after != r.indent_before) {
        findings->push_back("indentation " + std::to_string(r.indent_before) + " -> " +
                            std::to_string(r.indent_after));
    }
    if (r.live_blocks != 0) {
        findings->push_back(std::to_string(r.live_blocks) + " block(s) leaked");
    }
    if (r.misuse != 0) {
        findings->push_back(std::to_string(r.misuse) + " misused MEM_free");
    }
    if (!r.errors_before.empty()) {
        findings->push_back("the setup left errors on the stack");
    }
    if (!r.after.empty()) {
        findings->push_back(r.after);
    }
}

void check_failed_run(const Run& r, const Run& baseline, SweepResult* result,
                      std::vector<std::string>* findings) {
    const std::string& op = r.failable[static_cast<size_t>(r.k - 1)];
    const int code = standin::kErrInjected;

    if (kErrorStackOps.count(op) != 0) {
        // Not examined anywhere: nothing else may change.
        ++result->not_examined;
        if (r.status != baseline.status) {
            findings->push_back("status " + std::to_string(r.status) + ", the baseline's is " +
                                std::to_string(baseline.status));
        }
        if (without_diagnostics(r.calls) != without_diagnostics(baseline.calls)) {
            findings->push_back("the platform calls differ from the baseline's");
        }
        for (const standin::ErrorEntry& e : r.errors) {
            if (e.text.rfind(op, 0) != 0) {
                findings->push_back("error left on the stack: " + e.text);
            }
        }
        if (failure_blocks(r) != 0) {
            findings->push_back("a failure block for an untraced call");
        }
        return;
    }

    const std::vector<Frame> frames = frames_at(r.events, r.k);
    if (frames.empty()) {
        findings->push_back("made outside any function of the extension");
        return;
    }

    // How far the failure travels: the functions that hold it (by entry number).
    const size_t n = frames.size() - 1;
    bool restore = false;  // the failed call is the list reader's own scope restore
    if (frames[n].name == kListReader && op == kScopeSet) {
        long sets_before = 0;
        replay(
            r,
            [&](long j, const std::vector<Frame>& open) {
                if (j < r.k && !open.empty() && open.back().id == frames[n].id &&
                    r.failable[static_cast<size_t>(j - 1)] == kScopeSet) {
                    ++sets_before;
                }
            },
            [](const Frame&, long) {});
        restore = sets_before > 0;
    }
    std::set<long> holding = {frames[n].id};
    bool reaches_entry = false;
    if (frames[n].name != kListReader || restore) {
        size_t i = n;
        for (;;) {
            if (i == 0) {
                reaches_entry = true;
                break;
            }
            if (kUnexamined.count({frames[i - 1].name, frames[i].name}) != 0) {
                break;
            }
            holding.insert(frames[i - 1].id);
            --i;
        }
    }

    const int expected = reaches_entry ? code : baseline.status;
    if (reaches_entry) {
        ++result->passed_on;
    } else {
        ++result->not_examined;
    }
    if (r.status != expected) {
        findings->push_back("status " + std::to_string(r.status) + ", expected " + std::to_string(expected));
    }

    // Guard rule, and which functions end after the failure.
    bool cleared = false;
    std::map<long, int> restores;  // scope restores after the failure, per function
    replay(
        r,
        [&](long j, const std::vector<Frame>& open) {
            if (j <= r.k) {
                return;
            }
            const std::string& later = r.failable[static_cast<size_t>(j - 1)];
            if (kErrorStackOps.count(later) != 0) {
                return;
            }
            for (size_t m = open.size(); m-- > 0;) {
                if (holding.count(open[m].id) != 0) {
                    const bool own_restore = m + 1 == open.size() &&
                                             kRestoresScope.count(open[m].name) != 0 && later == kScopeSet &&
                                             ++restores[open[m].id] == 1;
                    if (!own_restore) {
                        findings->push_back("call " + std::to_string(j) + " " + later +
                                            " after the failure, in " + stack_text(open));
                    }
                    return;
                }
                if (m > 0 && kUnexamined.count({open[m - 1].name, open[m].name}) != 0) {
                    return;  // made below a call whose status is not examined
                }
            }
        },
        [&](const Frame& f, long position) {
            if (position <= r.k || kClearsOnExit.count(f.name) == 0) {
                return;
            }
            const bool own_attribute_failure = f.id == frames[n].id &&
                                               kKeepsStackOnOwnAttributeFailure.count(f.name) != 0 &&
                                               kAttributeReads.count(op) != 0;
            if (!own_attribute_failure) {
                cleared = true;
            }
        });

    const long blocks = failure_blocks(r);
    if (blocks != static_cast<long>(holding.size())) {
        findings->push_back(std::to_string(blocks) + " failure block(s), expected " +
                            std::to_string(holding.size()));
    }
    for (const TraceEvent& e : r.events) {
        if (e.kind == TraceEvent::Failure && e.position < r.k) {
            findings->push_back("a failure block before the failure");
            break;
        }
    }

    if (cleared) {
        if (!r.errors.empty()) {
            findings->push_back("error stack not cleared: " + r.errors.front().text);
        }
    } else if (r.errors.size() != 1 || r.errors[0].code != code || r.errors[0].text.rfind(op, 0) != 0) {
        findings->push_back("error stack holds " + std::to_string(r.errors.size()) +
                            " entries, expected the injected failure alone");
    }
}

// A run whose m-th MEM_alloc answered null: the entry point answers 0 (the answer does without
// the block) or 1, the status of no memory (a function that passes it on traces it as a failure);
// no platform call fails, so nothing is left on the error stack.
void check_memory_run(const Run& r, std::vector<std::string>* findings) {
    if (r.status != 0 && r.status != 1) {
        findings->push_back("status " + std::to_string(r.status) + ", expected 0 or 1");
    }
    for (const standin::ErrorEntry& e : r.errors) {
        findings->push_back("error left on the stack: " + e.text);
    }
}

std::vector<SweepResult>& results() {
    static std::vector<SweepResult> all;
    return all;
}

}  // namespace

SweepResult sweep_entry_point(const EntryPoint& entry) {
    SweepResult result;
    result.name = entry.name;
    result.path = entry.path;

    auto note = [&](long k, const std::string& op, const std::string& where,
                    const std::vector<std::string>& found) {
        if (found.empty()) {
            return;
        }
        ++result.failures;
        for (const std::string& f : found) {
            if (result.findings.size() < kMaxFindings) {
                result.findings.push_back("call " + std::to_string(k) + " (" + op + " in " + where +
                                          "): " + f);
            }
        }
    };

    const Run baseline = run_once(entry, 0);
    result.baseline_calls = static_cast<long>(baseline.failable.size());
    {
        std::vector<std::string> found;
        check_common(baseline, &found);
        if (baseline.status != 0) {
            found.push_back("status " + std::to_string(baseline.status));
        }
        if (failure_blocks(baseline) != 0 || !baseline.errors.empty()) {
            found.push_back("the clean run has failures");
        }
        if (static_cast<long>(baseline.failable.size()) != standin::failable_calls()) {
            found.push_back("the call log misses failable calls");
        }
        note(0, "none", "the clean run", found);
    }

    const long limit = result.baseline_calls + 1000;  // a safety stop for runaway loops
    for (long k = 1; k <= limit; ++k) {
        const Run r = run_once(entry, k);
        if (static_cast<long>(r.failable.size()) < k) {
            break;  // every call has been failed once
        }
        ++result.injected;
        std::vector<std::string> found;
        check_common(r, &found);
        check_failed_run(r, baseline, &result, &found);
        note(k, r.failable[static_cast<size_t>(k - 1)], stack_text(frames_at(r.events, k)), found);
    }

    // Then each MEM_alloc of the clean run in turn answers null.
    const long allocations = std::count(baseline.calls.begin(), baseline.calls.end(), "MEM_alloc");
    for (long m = 1; m <= allocations; ++m) {
        const Run r = run_once(entry, -m);
        ++result.memory;
        std::vector<std::string> found;
        check_common(r, &found);
        check_memory_run(r, &found);
        note(m, "MEM_alloc", "allocation " + std::to_string(m), found);
    }
    results().push_back(result);
    return result;
}

const std::vector<SweepResult>& sweep_results() { return results(); }

void record_pending(const std::string& name, const std::string& reason) {
    SweepResult r;
    r.name = name;
    r.path = "pending: " + reason;
    r.baseline_calls = -1;
    results().push_back(r);
}

std::string sweep_table() {
    std::ostringstream out;
    char line[512];
    std::snprintf(line, sizeof line, "%-44s %7s %9s %9s %9s %9s %9s\n", "entry point", "calls", "injected",
                  "passed on", "stopped", "memory", "failures");
    out << line;
    long calls = 0;
    long injected = 0;
    long passed = 0;
    long stopped = 0;
    long memory = 0;
    long failures = 0;
    long swept = 0;
    for (const SweepResult& r : results()) {
        if (r.baseline_calls < 0) {
            std::snprintf(line, sizeof line, "%-44s %s\n", r.name.c_str(), r.path.c_str());
            out << line;
            continue;
        }
        ++swept;
        std::snprintf(line, sizeof line, "%-44s %7ld %9ld %9ld %9ld %9ld %9ld\n", r.name.c_str(),
                      r.baseline_calls, r.injected, r.passed_on, r.not_examined, r.memory, r.failures);
        out << line;
        calls += r.baseline_calls;
        injected += r.injected;
        passed += r.passed_on;
        stopped += r.not_examined;
        memory += r.memory;
        failures += r.failures;
    }
    std::snprintf(line, sizeof line, "%-44s %7ld %9ld %9ld %9ld %9ld %9ld\n",
                  ("total (" + std::to_string(swept) + " entry points)").c_str(), calls, injected, passed,
                  stopped, memory, failures);
    out << line;
    return out.str();
}

}  // namespace sweep_test
