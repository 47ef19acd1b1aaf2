// The preflight check under failing platform calls: whichever call fails, the check finishes its
// report, releases every block it read, misuses no free and leaves the error stack empty (a failed
// read's text goes into the report, not onto the stack).
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

}  // namespace
