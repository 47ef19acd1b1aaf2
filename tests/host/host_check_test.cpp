// The preflight check: `kep-host check` on the sample site and on sites that each lack one thing,
// and the batch utility kep_check on the stand-in.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <functional>

#include "host_runner.h"
#include "kep_posix.h"

namespace host_test {
namespace {

using json = nlohmann::ordered_json;

json sample_site() { return json::parse(read_text(source_path("itk/host/kep_host/sample_site.json"))); }

std::string write_site(const json& site, const std::string& name) {
    const std::string path = "/tmp/kep_check_test_" + std::to_string(getpid()) + "_" + name + ".json";
    std::ofstream(path, std::ios::binary) << site.dump(1);
    return path;
}

std::function<void(json&)> without_key(const std::string& key) {
    return [key](json& site) { site.at("preferences").erase(key); };
}

struct CheckCase {
    std::string what;
    std::function<void(json&)> change;
    int exit_code;
    std::vector<std::string> mentions;  // texts the report must hold
};

std::vector<CheckCase> check_cases() {
    const std::string boxes_3d = "Boxes from 3D geometry: NOT USABLE";
    const std::string boxes_aux = "Boxes from auxiliary and structure datasets: NOT USABLE";
    const std::string parts = "Mod-on representations of parts: NOT USABLE";
    const std::string products = "Mod-on representations of products: NOT USABLE";
    const std::string jt = "JT dataset tags: NOT USABLE";
    std::vector<CheckCase> cases = {
        {"sample site", [](json&) {}, 0, {"Everything is usable."}},
        {"TC_customization_libraries",
         without_key("TC_customization_libraries"),
         1,
         {"Loading the extension: NOT USABLE", "does not name kep"}},
        {"KEPAltRepList",
         without_key("KEPAltRepList"),
         1,
         {"Representation filter: NOT USABLE", "no master representation", boxes_3d, jt}},
        // Defaults in force: usable, and said so.
        {"KEPUseAltRepFilter", without_key("KEPUseAltRepFilter"), 0, {"the filter is off"}},
        {"KEPActualAltRepList",
         without_key("KEPActualAltRepList"),
         0,
         {"used only when KEPUseAltRepFilter is 1"}},
        {"KEPActualAltRepList with the filter on",
         [](json& site) {
             site["preferences"]["KEPUseAltRepFilter"] = "1";
             site["preferences"].erase("KEPActualAltRepList");
         },
         1,
         {"Representation filter: NOT USABLE", "the filter never picks a dataset"}},
        {"var2_is_v0 not in the data model",
         [](json& site) { site.erase("properties"); },
         1,
         {"var2_is_v0 on datasets: NOT USABLE", "var2_is_v0 has no getter"}},
    };
    const std::pair<const char*, std::vector<std::string>> keys[] = {
        {"KEPPartDatasetType", {boxes_3d, jt}},
        {"KEPModelDatasetType", {boxes_3d, jt}},
        {"KEPCgrDatasetType", {boxes_3d}},
        {"KEPRepDatasetType", {boxes_3d}},
        {"KEPAuxPartDatasetType", {boxes_aux}},
        {"KEPAuxModelDatasetType", {boxes_aux}},
        {"KEPAuxCgrDatasetType", {boxes_aux}},
        {"KEPAuxRepDatasetType", {boxes_aux}},
        {"KEPArchiveDatasetType", {boxes_aux}},
        {"KEPProductDatasetRelation", {boxes_aux}},
        {"KEPProductDatasetType", {boxes_aux}},
        {"KEPModOnPartDatasetRelation", {parts, boxes_3d, jt}},
        {"KEPModOnPartDatasetType", {parts, boxes_3d, jt}},
        {"KEPModOnProductDatasetRelation", {products, "bl_plmxml_abs_xform"}},
        {"KEPModOnProductDatasetType", {products, "bl_plmxml_occ_xform"}},
    };
    for (const auto& key : keys) {
        std::vector<std::string> mentions = key.second;
        mentions.push_back(std::string("missing  ") + key.first + " is not set");
        cases.push_back({key.first, without_key(key.first), 1, mentions});
    }
    return cases;
}

TEST(HostCheck, NamesWhatIsMissingAndTheFeatureItDisables) {
    for (const CheckCase& c : check_cases()) {
        SCOPED_TRACE(c.what);
        json site = sample_site();
        c.change(site);
        const std::string path = write_site(site, "case");
        HostRun run = run_host({"--site", path, "check"});
        EXPECT_EQ(run.exit_code, c.exit_code) << run.out << run.err;
        for (const std::string& text : c.mentions) {
            EXPECT_NE(run.out.find(text), std::string::npos) << "'" << text << "' missing from:\n" << run.out;
        }
        // Usable exactly when nothing is marked missing.
        EXPECT_EQ(run.out.find("  missing  ") == std::string::npos, c.exit_code == 0) << run.out;
        std::remove(path.c_str());
    }
}

// The batch utility logs in to the stand-in, which loads the extension as the server does.
TEST(HostCheck, BatchUtilityRunsOnTheStandIn) {
    json site = sample_site();
    const std::string usable = write_site(site, "usable");
    site.at("preferences").erase("KEPRepDatasetType");
    const std::string lacking = write_site(site, "lacking");
    const struct {
        std::vector<std::string> args;
        std::vector<std::string> env;
        int exit_code;
        std::string mention;
    } cases[] = {
        {{"-site=" + usable}, {}, 0, "Everything is usable."},
        {{}, {"STANDIN_SITE=" + lacking}, 1, "KEPRepDatasetType is not set"},
        {{}, {}, 2, "-site=FILE"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.mention);
        HostRun run = run_program("kep_check", c.args, c.env);
        EXPECT_EQ(run.exit_code, c.exit_code) << run.err;
        EXPECT_NE((run.out + run.err).find(c.mention), std::string::npos) << run.out << run.err;
    }
    std::remove(usable.c_str());
    std::remove(lacking.c_str());
}

}  // namespace
}  // namespace host_test
