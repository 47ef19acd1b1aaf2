// The fault sweep over one entry point (see kep_sweep.h).
#include "kep_sweep.h"

#include <gtest/gtest.h>
#include <kep_support_internal.h>

#include <algorithm>
#include <sstream>

namespace kep_test {

bool allowed_after_any_failure(const std::string& op) {
    static const std::set<std::string> allowed = {"MEM_alloc",        "MEM_free",  "EMH_ask_errors",
                                                  "EMH_clear_errors", "TC_getenv", "TC_write_syslog"};
    return allowed.count(op) != 0;
}

std::set<std::string> box_lookup_calls() {
    return {"PREF_ask_search_scope",
            "PREF_set_search_scope",
            "PREF_ask_value_count",
            "PREF_ask_char_value",
            "PREF_ask_char_values",
            "AOM_ask_value_string",
            "AOM_ask_value_double",
            "AE_ask_all_dataset_named_refs",
            "BOM_line_look_up_attribute",
            "BOM_line_ask_attribute_tag",
            "GRM_find_relation_type",
            "GRM_list_secondary_objects_only",
            "TCTYPE_ask_object_type",
            "TCTYPE_ask_name",
            "MEM_alloc"};
}

std::vector<std::string> without_diagnostics(const std::vector<std::string>& calls) {
    std::vector<std::string> out;
    for (const std::string& op : calls) {
        if (op != "TC_getenv" && op != "TC_write_syslog" && op != "EMH_ask_errors") {
            out.push_back(op);
        }
    }
    return out;
}

namespace {

std::string joined(const std::vector<std::string>& calls) {
    std::ostringstream text;
    for (size_t i = 0; i < calls.size(); ++i) {
        text << (i == 0 ? "" : " ") << calls[i];
    }
    return text.str();
}

FaultRun run_once(const FaultCase& c, long k) {
    c.setup();
    standin::set_call_log(true);
    kep_support_reset_state();
    standin::clear_faults();
    standin::reset_counters();
    if (k > 0) {
        standin::fail_nth_any(k);
    }

    FaultRun r;
    r.k = k;
    const int blocks_before = standin::live_blocks();
    const long misuse_before = standin::misuse_count();
    r.indent_before = kep_support_indent_level();
    r.status = c.run();
    r.indent_after = kep_support_indent_level();
    r.live_blocks = standin::live_blocks() - blocks_before;
    r.misuse = standin::misuse_count() - misuse_before;
    r.calls = standin::call_log();
    r.errors = standin::errors();
    standin::clear_faults();

    if (k > 0) {
        long failable = 0;
        for (size_t i = 0; i < r.calls.size(); ++i) {
            if (counts_as_failable(r.calls[i]) && ++failable == k) {
                r.failed_op = r.calls[i];
                r.failed_index = i;
                r.traced_failure = c.untraced_ops.count(r.failed_op) == 0;
                break;
            }
        }
    }
    return r;
}

long failable_count(const std::vector<std::string>& calls) {
    return static_cast<long>(std::count_if(calls.begin(), calls.end(), counts_as_failable));
}

}  // namespace

std::vector<std::string> FaultRun::calls_after_failure() const {
    if (k == 0 || failed_op.empty()) {
        return calls;
    }
    return std::vector<std::string>(calls.begin() + static_cast<long>(failed_index) + 1, calls.end());
}

long FaultRun::count(const std::string& op) const {
    return static_cast<long>(std::count(calls.begin(), calls.end(), op));
}

bool counts_as_failable(const std::string& op) {
    return op != "MEM_alloc" && op != "MEM_free" && op != "TC_getenv" && op != "TC_write_syslog";
}

std::vector<std::string> failable_call_log() {
    std::vector<std::string> calls;
    for (const std::string& op : standin::call_log()) {
        if (counts_as_failable(op)) {
            calls.push_back(op);
        }
    }
    return calls;
}

std::vector<FaultRun> run_fault_sweep(const FaultCase& c) {
    std::vector<FaultRun> runs;
    runs.push_back(run_once(c, 0));
    const FaultRun baseline = runs.front();  // a copy: runs grows below
    // The log must show every failable call that fail_nth_any counts, or the sweep would fail
    // calls it cannot name.
    EXPECT_EQ(failable_count(baseline.calls), standin::failable_calls()) << c.name << ": call log incomplete";

    const long limit = failable_count(baseline.calls) + 1000;  // a safety stop for runaway loops
    for (long k = 1; k <= limit; ++k) {
        FaultRun r = run_once(c, k);
        if (r.failed_op.empty()) {
            break;  // the run made fewer than k failable calls: every call has been failed once
        }
        const std::string where = c.name + ": failing call " + std::to_string(k) + " (" + r.failed_op + ")";

        int expected = 0;
        if (c.expected_status) {
            expected = c.expected_status(r, baseline);
        } else {
            expected = r.traced_failure ? static_cast<int>(standin::kErrInjected) : baseline.status;
        }
        EXPECT_EQ(r.status, expected) << where;

        if (r.traced_failure && c.guard_rule) {
            for (const std::string& op : r.calls_after_failure()) {
                EXPECT_TRUE(allowed_after_any_failure(op) || c.may_follow_failure.count(op) != 0)
                    << where << ": " << op
                    << " called after the failure; calls after it: " << joined(r.calls_after_failure());
            }
        } else if (!r.traced_failure) {
            // An untraced call's status is not examined: its failure must change nothing else.
            EXPECT_EQ(joined(without_diagnostics(r.calls)), joined(without_diagnostics(baseline.calls)))
                << where;
        }

        if (c.clears_errors) {
            for (const standin::ErrorEntry& e : r.errors) {
                const bool own_failure = !r.traced_failure && r.failed_op == "EMH_clear_errors" &&
                                         e.text.rfind("EMH_clear_errors", 0) == 0;
                EXPECT_TRUE(own_failure) << where << ": error left on the stack: " << e.code << " " << e.text;
            }
        }
        EXPECT_EQ(r.indent_after, r.indent_before) << where << ": indentation not balanced";
        EXPECT_EQ(r.live_blocks, 0) << where << ": blocks leaked";
        EXPECT_EQ(r.misuse, 0) << where << ": misused frees";
        runs.push_back(std::move(r));
    }

    EXPECT_EQ(baseline.indent_after, baseline.indent_before)
        << c.name << ": baseline indentation not balanced";
    EXPECT_EQ(baseline.live_blocks, 0) << c.name << ": baseline leaked blocks";
    EXPECT_EQ(baseline.misuse, 0) << c.name << ": baseline misused frees";
    if (c.clears_errors) {
        EXPECT_TRUE(baseline.errors.empty()) << c.name << ": baseline left errors on the stack";
    }
    return runs;
}

}  // namespace kep_test
