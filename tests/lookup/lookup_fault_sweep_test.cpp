// Every lookup with each of its platform calls failing in turn: status, guard rule, error stack,
// indentation and memory (see kep_sweep.h for what each run is checked for).
#include <base_utils/Mem.h>

#include <algorithm>

#include "kep_sweep.h"
#include "lookup_site.h"

namespace lookup_test {
namespace {

using LookupFaultSweep = LookupTest;

// A complete site with the system log and the statement trace on, so that the failure blocks are
// formatted and written without flooding the console.
void complete_site() {
    std::string error;
    ASSERT_TRUE(standin::load_site(site_json(), "lookup site", &error)) << error;
    set_all_preferences();
    standin::set_preference(KEP_PREF_ALT_REP_LIST, {"MASTER", "LOD1"});
    standin::set_env("ZODORE_DEBUG", "");
    standin::set_env("ZODORE_SYSLOG", "ON");
    standin::set_env("ZODORE_ITKLOG", "ON");
}

template <class F>
int with_tag_list(F&& fn) {
    tag_t* list = nullptr;
    int count = 0;
    const int status = fn(&list, &count);
    MEM_free(list);
    return status;
}

// Position of the n-th (1-based) call of op in a run's log; calls.size() when there is none.
size_t nth_call(const kep_test::FaultRun& run, const std::string& op, int n) {
    for (size_t i = 0; i < run.calls.size(); ++i) {
        if (run.calls[i] == op && --n == 0) {
            return i;
        }
    }
    return run.calls.size();
}

TEST_F(LookupFaultSweep, EveryLookup) {
    const std::vector<const char*> types = {"Part3D", "Tess3D"};
    std::vector<kep_test::FaultCase> cases;
    auto add = [&](const char* name, std::function<int()> run, bool clears_errors,
                   std::set<std::string> may_follow = {}) {
        kep_test::FaultCase c;
        c.name = name;
        c.setup = complete_site;
        c.run = std::move(run);
        c.clears_errors = clears_errors;
        c.may_follow_failure = std::move(may_follow);
        cases.push_back(std::move(c));
    };
    // The single-value reader puts the caller's scope back after a failed read.
    add("kep_get_preference",
        [] {
            char* value = nullptr;
            const int status = kep_get_preference(KEP_PREF_PART_DATASET_TYPE, &value);
            MEM_free(value);
            return status;
        },
        true, {"PREF_set_search_scope"});
    add("kep_get_preference_list",
        [] {
            int count = 0;
            char** values = nullptr;
            const int status = kep_get_preference_list(KEP_PREF_ALT_REP_LIST, &count, &values);
            MEM_free(values);
            return status;
        },
        true, {"PREF_set_search_scope"});
    add(
        "kep_get_datasets (named relation)",
        [] {
            return with_tag_list([](tag_t** l, int* n) {
                return kep_get_datasets(tag("part/A"), "IMAN_specification", l, n);
            });
        },
        true);
    add(
        "kep_get_datasets (every relation)",
        [] {
            return with_tag_list(
                [](tag_t** l, int* n) { return kep_get_datasets(tag("part/A"), nullptr, l, n); });
        },
        true);
    add(
        "kep_filter_datasets",
        [] {
            const std::vector<tag_t> in = tags({"ds_part", "ds_model", "ds_tess"});
            return with_tag_list(
                [&](tag_t** l, int* n) { return kep_filter_datasets(in.data(), 3, "Tess3D", l, n); });
        },
        true);
    add(
        "kep_filter_datasets2",
        [&types] {
            const std::vector<tag_t> in = tags({"ds_part", "ds_model", "ds_tess"});
            return with_tag_list([&](tag_t** l, int* n) {
                return kep_filter_datasets2(in.data(), 3, const_cast<const char**>(types.data()), 2, l, n);
            });
        },
        true);
    add(
        "kep_get_parent",
        [] {
            tag_t parent = NULLTAG;
            return kep_get_parent(tag("l_part"), &parent);
        },
        true);
    // The geometry sets do not clear the error stack themselves; a failure inside a preference
    // read is followed by that read's scope restore.
    add("kep_get_3dgeo_for_bomline",
        [] {
            return with_tag_list(
                [](tag_t** l, int* n) { return kep_get_3dgeo_for_bomline(tag("l_part"), l, n); });
        },
        false, {"PREF_set_search_scope"});
    add("kep_get_auxgeo_for_bomline",
        [] {
            return with_tag_list(
                [](tag_t** l, int* n) { return kep_get_auxgeo_for_bomline(tag("l_part"), l, n); });
        },
        false, {"PREF_set_search_scope"});
    add("kep_get_structure_for_bomline",
        [] {
            return with_tag_list(
                [](tag_t** l, int* n) { return kep_get_structure_for_bomline(tag("top"), l, n); });
        },
        false, {"PREF_set_search_scope"});

    // The list reader hands back only the status of its scope restore, the last call of the
    // second PREF_set_search_scope; a failure before it reaches the caller as an empty list.
    cases[1].expected_status = [](const kep_test::FaultRun& run, const kep_test::FaultRun& baseline) {
        const bool restore_failed = run.failed_op == "PREF_set_search_scope" &&
                                    run.failed_index == nth_call(run, "PREF_set_search_scope", 2);
        return restore_failed ? static_cast<int>(standin::kErrInjected) : baseline.status;
    };

    for (const kep_test::FaultCase& c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<kep_test::FaultRun> runs = kep_test::run_fault_sweep(c);
        EXPECT_GT(runs.size(), 2u) << "the sweep failed no call";
        EXPECT_EQ(runs.front().status, 0);
        // The untraced error-stack clear is among the calls failed, so its failure is checked too.
        EXPECT_TRUE(std::any_of(runs.begin(), runs.end(), [](const kep_test::FaultRun& r) {
            return r.failed_op == "EMH_clear_errors";
        }));
        for (const kep_test::FaultRun& r : runs) {
            // No traced call after a failure but the one scope restore of the reader that failed.
            if (r.traced_failure) {
                long restores = 0;
                for (const std::string& op : r.calls_after_failure()) {
                    restores += op == "PREF_set_search_scope";
                }
                EXPECT_LE(restores, 1) << "failing call " << r.k << " (" << r.failed_op << ")";
            }
        }
    }
}

// The caller's search scope after each failing call of a preference read: put back unless the
// restore itself failed.
TEST_F(LookupFaultSweep, PreferenceReadsKeepTheCallersScope) {
    for (bool list : {false, true}) {
        SCOPED_TRACE(list ? "kep_get_preference_list" : "kep_get_preference");
        std::vector<int> scopes;
        kep_test::FaultCase c;
        c.name = list ? "kep_get_preference_list" : "kep_get_preference";
        c.setup = complete_site;
        c.may_follow_failure = {"PREF_set_search_scope"};
        c.run = [&] {
            int status = 0;
            if (list) {
                int count = 0;
                char** values = nullptr;
                status = kep_get_preference_list(KEP_PREF_ALT_REP_LIST, &count, &values);
                MEM_free(values);
            } else {
                char* value = nullptr;
                status = kep_get_preference(KEP_PREF_PART_DATASET_TYPE, &value);
                MEM_free(value);
            }
            scopes.push_back(standin::search_scope());
            return status;
        };
        c.expected_status = [&](const kep_test::FaultRun& run, const kep_test::FaultRun&) {
            const bool restore_failed = run.failed_op == "PREF_set_search_scope" &&
                                        run.failed_index == nth_call(run, "PREF_set_search_scope", 2);
            if (!run.traced_failure) {
                return 0;
            }
            return list && !restore_failed ? 0 : static_cast<int>(standin::kErrInjected);
        };
        const std::vector<kep_test::FaultRun> runs = kep_test::run_fault_sweep(c);
        // One scope per run, the last run (no failure) included.
        ASSERT_EQ(scopes.size(), runs.size() + 1);
        for (size_t i = 0; i < runs.size(); ++i) {
            const kep_test::FaultRun& r = runs[i];
            const bool restore_failed = r.failed_op == "PREF_set_search_scope" &&
                                        r.failed_index == nth_call(r, "PREF_set_search_scope", 2);
            EXPECT_EQ(scopes[i], restore_failed ? 0 : 4)
                << "failing call " << r.k << " (" << r.failed_op << ")";
        }
    }
}

}  // namespace
}  // namespace lookup_test
