// kep_check -explain under failing platform calls: whichever call fails, the utility answers 0 or
// 1, closes every window it opened, releases every block and leaves the error stack empty.
#include <base_utils/Mem.h>
#include <gtest/gtest.h>
#include <standin/control.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

#include "kep_check_explain.h"
#include "kep_explain.h"
#include "kep_fixture.h"
#include "registration/kep_registration.h"

namespace {

// A top line and two parts, one of them packed, and a line whose product structure dataset is under
// another relation than the configured one and whose auxiliary dataset, without a form, sits behind a
// missing auxiliary type preference: every kind of call the explanation makes, few times.
const char kSite[] = R"({
  "types": {"Part3D": "Dataset", "AuxPart": "Dataset", "BBForm": "Form", "ModOnProduct": "Dataset", "PLMXML": "Dataset"},
  "properties": {"Dataset": ["var2_is_v0"]},
  "preferences": {"KEPPartDatasetType": "Part3D", "KEPModelDatasetType": "Part3D", "KEPCgrDatasetType": "Part3D",
    "KEPRepDatasetType": "Part3D", "KEPModOnPartDatasetRelation": "KEP_mod_on", "KEPModOnPartDatasetType": "Part3D",
    "KEPModOnProductDatasetRelation": "KEP_mod_on", "KEPModOnProductDatasetType": "ModOnProduct",
    "KEPAltRepList": ["MASTER"], "STANDIN_revision_rules": ["Nightly"],
    "KEPProductDatasetRelation": "IMAN_reference", "KEPProductDatasetType": "PLMXML",
    "KEPAuxPartDatasetType": "AuxPart"},
  "relation_types": ["IMAN_reference"],
  "objects": {
    "asm/A": {"type": "ItemRevision", "item_id": "ASM"},
    "part/A": {"type": "ItemRevision", "item_id": "PART"},
    "wrel/A": {"type": "ItemRevision", "item_id": "WREL"},
    "dsw": {"type": "PLMXML", "name": "WREL/A"},
    "dsa": {"type": "AuxPart", "name": "WREL-AUX/A"},
    "ds": {"type": "Part3D", "name": "PART/A", "refs": {"VAR2BBInfo": ["bb"]}},
    "bb": {"type": "BBForm", "attributes": {"var2_bb_x1": 0, "var2_bb_y1": 0, "var2_bb_z1": 0,
                                            "var2_bb_x2": 1, "var2_bb_y2": 1, "var2_bb_z2": 1}}},
  "relations": [["part/A", "IMAN_specification", "ds"], ["wrel/A", "IMAN_specification", "dsw"],
                ["wrel/A", "IMAN_specification", "dsa"]],
  "windows": {"w1": {"id": "top", "revision": "asm/A", "children": [
    {"id": "leaf", "revision": "part/A", "occurrence_name": "L",
     "packed": [{"id": "leafp", "revision": "part/A", "occurrence_name": "L",
                 "transform": "1 0 0 0 0 1 0 0 0 0 1 0 0 2 0 1"}]},
    {"id": "wrel", "revision": "wrel/A", "occurrence_name": "W"}]}}
})";

class ExplainSweep : public kep_test::KepFixture {};

TEST_F(ExplainSweep, EveryFailedCallIsToldAndTheWindowClosed) {
    kep_check::ExplainRequest request;
    request.item = "ASM";
    request.revision = "A";
    request.rule = "Nightly";
    request.path = {"ASM", "PART"};
    request.near = {{"PART"}};
    request.has_delta = true;
    request.delta_mm = 500;
    kep_test::FaultCase c;
    c.name = "kep_check::run_explain";
    c.setup = [] {
        standin::reset();
        load_site(kSite);
        // The system log on: each property read asks the platform as it is written (no call
        // memo, whose skipped clears of a known empty error stack would differ after a failed one).
        standin::set_env("ZODORE_SYSLOG", "ON");
        kep_register_callbacks();
        standin::run_all_exits();
    };
    request.json = true;
    std::vector<std::string> answers;  // the JSON of each run, in the order of the runs
    c.run = [&request, &answers] {
        std::ostringstream out, err;
        const int result = kep_check::run_explain(request, &kep_explain_line, out, err);
        answers.push_back(out.str());
        return result;
    };
    // The explanation tells a failed call of the search in its answer and reads on; the utility
    // closes its window after any failure.
    c.guard_rule = false;
    c.expected_status = [](const kep_test::FaultRun& run, const kep_test::FaultRun&) {
        return run.status == 0 || run.status == 1 ? run.status : -1;
    };
    const auto runs = kep_test::run_fault_sweep(c);
    ASSERT_GT(runs.size(), 20u);
    EXPECT_EQ(runs[0].status, 0);
    ASSERT_GE(answers.size(), runs.size());
    int told = 0;
    for (size_t i = 0; i < runs.size(); ++i) {
        // A failed call of the search is never explained as a verdict: "found" is null, the failed
        // call is named, and the utility's exit status agrees with the JSON's.
        const kep_test::FaultRun& run = runs[i];
        const std::string& json = answers[i];
        if (json.find("\"walk_status\": 0,") != std::string::npos) {
            EXPECT_NE(json.find("\"status\": 0, \"failed\": null}"), std::string::npos) << json;
        } else if (!json.empty()) {
            EXPECT_NE(json.find("\"found\": null"), std::string::npos) << json;
            EXPECT_NE(json.find("\"failed\": \"" + run.failed_op + "\""), std::string::npos) << json;
            EXPECT_EQ(run.status, 1) << json;
            ++told;
        }
    }
    EXPECT_GT(told, 10);
    for (const kep_test::FaultRun& run : runs) {
        const bool opened = run.count("BOM_create_window") == 1 && run.failed_op != "BOM_create_window";
        EXPECT_EQ(run.count("BOM_close_window"), opened ? 1 : 0) << "k " << run.k << " " << run.failed_op;
    }
}

// The account of the whole window under failing platform calls: a failed read of the parent chain
// is the answer's status, any other failure is told in the account; no block is left behind.
TEST_F(ExplainSweep, TheWindowsAccountTellsEveryFailedCall) {
    kep_test::FaultCase c;
    c.name = "kep_explain_line (window)";
    c.setup = [] {
        standin::reset();
        load_site(kSite);
        standin::set_env("ZODORE_SYSLOG", "ON");
        kep_register_callbacks();
        standin::run_all_exits();
    };
    c.run = [] {
        kep_explain_query_t query{};
        query.kind = KEP_EXPLAIN_QUERY_BOX;
        const double box[6] = {-1, -1, -1, 1, 1, 1};
        std::copy(box, box + 6, query.box);
        query.delta_mm = 5;
        char* text = nullptr;
        const int status = kep_explain_line(standin::tag_of("leafp"), &query, KEP_EXPLAIN_WINDOW, &text);
        const bool whole = text != nullptr && std::string(text).find("\"lines\": [") != std::string::npos;
        MEM_free(text);
        return status == 0 && !whole ? -1 : status;
    };
    c.guard_rule = false;
    c.expected_status = [](const kep_test::FaultRun& run, const kep_test::FaultRun&) {
        return run.status != -1 ? run.status : 0;  // -1: status 0 without the whole account
    };
    const auto runs = kep_test::run_fault_sweep(c);
    ASSERT_GT(runs.size(), 10u);
    EXPECT_EQ(runs[0].status, 0);
}

}  // namespace
