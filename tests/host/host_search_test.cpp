// The two spatial searches end to end: kep-host loads examples/sites/search.json (a battery
// module: a housing plate, three cells of which two are packed, a busbar on the first two cells,
// a controller, a label with only a visualisation dataset, and a frame with two rails), runs the
// extension's exits and calls its services as a client would.
//
// The module in metres: housing x 0..0.6, y 0..0.4, z 0..0.02; cells 0.1 x 0.1 x 0.3 standing on
// it at x = 0.05, 0.15 (touching) and 0.35; the busbar x 0.05..0.30 on top of cells 1 and 2; the
// rails along x at y = 0 and y = 0.38 on the housing; the controller at x 0.48, y 0.3..0.38
// against the right rail. Lines in object-list order: rail_right, rail_left, controller, busbar,
// cell3, cell2, cell1, housing.
#include <gtest/gtest.h>

#include "host_runner.h"

namespace host_test {
namespace {

using Strings = std::vector<std::string>;

std::vector<std::string> with_site(std::vector<std::string> args) {
    args.insert(args.begin(), {"--site", source_path("examples/sites/search.json"), "--stats"});
    return args;
}

TEST(HostSpatialSearch, FindsTheLinesOfTheModule) {
    struct Case {
        const char* what;
        Strings args;
        Strings lines;
        int warnings = 0;  // selected lines without a box, each named on standard error
    };
    const Strings volume = {"volume-search", "--window", "module_window", "--delta"};
    const Strings neighbourhood = {"neighbourhood-search", "--window", "module_window", "--delta"};
    auto with = [](Strings head, const Strings& tail) {
        head.insert(head.end(), tail.begin(), tail.end());
        return head;
    };
    const Case cases[] = {
        {"everything",
         with(volume, {"0", "--box", "-1", "-1", "-1", "2", "2", "2"}),
         {"rail_right", "rail_left", "controller", "busbar", "cell3", "cell2", "cell1", "housing"}},
        {"a slice through the cells",
         with(volume, {"0", "--box", "0", "0", "0.1", "0.6", "0.4", "0.2"}),
         {"cell3", "cell2", "cell1"}},
        // Between cells 2 and 3, 10 mm from each.
        {"the gap, 5 mm", with(volume, {"5", "--box", "0.26", "0.05", "0.1", "0.34", "0.15", "0.2"}), {}},
        {"the gap, 12 mm",
         with(volume, {"12", "--box", "0.26", "0.05", "0.1", "0.34", "0.15", "0.2"}),
         {"cell3", "cell2"}},
        {"above the module", with(volume, {"5", "--box", "0", "0", "1", "0.6", "0.4", "1.2"}), {}},
        {"the busbar's cells", with(neighbourhood, {"2", "--lines", "busbar"}), {"cell2", "cell1"}},
        // cell1 reports busbar, cell2, housing; cell2 adds only cell1.
        {"two touching cells",
         with(neighbourhood, {"2", "--lines", "cell1", "cell2"}),
         {"busbar", "cell2", "housing", "cell1"}},
        // The label has no box; the housing neighbours both rails and is listed once.
        {"label and rails",
         with(neighbourhood, {"2", "--lines", "label", "rail_left", "rail_right"}),
         {"housing", "controller"},
         1},
        {"lines without a box", with(neighbourhood, {"2", "--lines", "label", "frame", "module"}), {}, 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const HostRun run = run_host(with_site(c.args));
        ASSERT_EQ(run.exit_code, 0) << run.err;
        EXPECT_EQ(run.err_lines(), c.warnings) << run.err;
        const nlohmann::json out = run.json();
        ASSERT_TRUE(out.is_object()) << run.out;
        EXPECT_EQ(out.at("status"), 0);
        EXPECT_EQ(out.at("lines").get<Strings>(), c.lines);
        EXPECT_EQ(out.at("stats").at("live_blocks"), 0);
        EXPECT_EQ(out.at("stats").at("misuse"), 0);
        EXPECT_EQ(out.at("stats").at("calls").value("USERSERVICE_return_tag_array", 0),
                  c.lines.empty() ? 0 : 1);
    }
}

TEST(HostSpatialSearch, FailuresAreReportedAndNothingIsHandedBack) {
    struct Case {
        const char* what;
        Strings args;
        int status;
    };
    const Case cases[] = {
        {"handing back fails",
         {"--fail", "USERSERVICE_return_tag_array=4711", "volume-search", "--window", "module_window",
          "--delta", "0", "--box", "-1", "-1", "-1", "2", "2", "2"},
         4711},
        // The walk fails on the third child list it asks for; the lines met before are searched,
        // but the result is not handed back.
        {"the walk fails",
         {"--fail", "BOM_line_ask_child_lines@3=4712", "neighbourhood-search", "--window", "module_window",
          "--delta", "2", "--lines", "cell1"},
         4712},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const HostRun run = run_host(with_site(c.args));
        EXPECT_EQ(run.exit_code, 1) << run.err;
        const nlohmann::json out = run.json();
        ASSERT_TRUE(out.is_object()) << run.out;
        EXPECT_EQ(out.at("status"), c.status);
        EXPECT_EQ(out.at("lines"), nlohmann::json::array());
        EXPECT_EQ(out.at("stats").at("live_blocks"), 0);
        EXPECT_EQ(out.at("stats").at("misuse"), 0);
    }
}

TEST(HostSpatialSearch, TraceShowsTheRequestAndTheLinesWithBoxes) {
    const HostRun run = run_host(with_site({"volume-search", "--window", "module_window", "--delta", "12",
                                            "--box", "0.26", "0.05", "0.1", "0.34", "0.15", "0.2"}),
                                 {"ZODORE_DEBUG=ON"});
    ASSERT_EQ(run.exit_code, 0) << run.err;
    const size_t entry = run.err.find(">>> kep_userservice_volume_search\n");
    ASSERT_NE(entry, std::string::npos) << run.err;
    for (const char* message : {"    delta_value in mm[1.200000e+01]\n", "    num_doubles_bb [6]\n",
                                "    found [8] objects with bbox\n", "<<< kep_userservice_volume_search\n"}) {
        EXPECT_NE(run.err.find(message, entry), std::string::npos) << message;
    }
    EXPECT_NE(run.err.find("ignoring visualisation dataset"), std::string::npos);
}

}  // namespace
}  // namespace host_test
