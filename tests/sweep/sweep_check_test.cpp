// The preflight check under failing platform calls: whichever call fails, the check finishes its
// report, releases every block it read, misuses no free and leaves the error stack empty (a failed
// read's text goes into the report, not onto the stack). The same for the whole batch run of
// kep_check and kep-host check (text services, login, check, logout), which answers a failed step
// of its own with 2.
#include <gtest/gtest.h>
#include <standin/control.h>

#include <sstream>

#include "kep_check.h"
#include "kep_fixture.h"
#include "registration/kep_registration.h"
#include "sweep_site.h"

namespace {

class CheckSweep : public kep_test::KepFixture {};

TEST_F(CheckSweep, EveryFailedCallIsReported) {
    kep_test::FaultCase c;
    c.name = "kep_check::run_check";
    c.setup = [] {
        standin::reset();
        load_site(sweep_test::sweep_site_post_actions());
        kep_register_callbacks();
        standin::run_all_exits();  // as in the server: the check looks at what the exits registered
    };
    c.run = [] {
        std::ostringstream out;
        return kep_check::run_check(out);
    };
    c.guard_rule = false;  // the check reads on after a failure: it reports on every feature
    // A failed read makes a feature missing or leaves it as it was; either verdict is an answer.
    c.expected_status = [](const kep_test::FaultRun& run, const kep_test::FaultRun&) {
        return run.status == 0 || run.status == 1 ? run.status : -1;
    };
    const auto runs = kep_test::run_fault_sweep(c);
    EXPECT_GT(runs.size(), 10u);
}

TEST_F(CheckSweep, EveryFailedStepOfTheBatchRunIsAnswered) {
    kep_test::FaultCase c;
    c.name = "kep_check::run_batch";
    c.setup = [] {
        standin::reset();
        load_site(sweep_test::sweep_site_post_actions());  // names no library: the login loads none
    };
    c.run = [] {
        char name[] = "kep_check";
        char* argv[] = {name, nullptr};
        std::ostringstream out, err;
        return kep_check::run_batch(1, argv, false, nullptr, out, err);
    };
    c.guard_rule = false;
    c.expected_status = [](const kep_test::FaultRun& run, const kep_test::FaultRun&) {
        return run.status >= 0 && run.status <= 2 ? run.status : -1;
    };
    const auto runs = kep_test::run_fault_sweep(c);
    EXPECT_GT(runs.size(), 10u);
}

}  // namespace
