// The preflight check: `kep-host check` on the sample site and on sites that each lack one thing,
// its verdicts held against what the extension then does, and the batch utility kep_check on the
// stand-in.
#include <base_utils/Mem.h>
#include <gtest/gtest.h>
#include <standin/control.h>
#include <standin/library.h>

#include <cstdio>
#include <fstream>
#include <functional>
#include <map>
#include <set>

#include "host_runner.h"
#include "kep_check.h"
#include "kep_fixture.h"
#include "kep_posix.h"
#include "kep_temp_dir.h"
#include "kep_version.h"
#include "registration/kep_registration.h"

namespace host_test {
namespace {

using json = nlohmann::ordered_json;

json sample_site() { return json::parse(read_text(source_path("itk/host/kep_host/sample_site.json"))); }

std::string write_site(const json& site, const std::string& name) {
    const std::string path = kep_test::temp_path(name + ".json");
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

// What the extension gives the lines of a site: which lines a volume search over all of space
// finds (those with a box) and each line's three values ("-" for none).
struct Behaviour {
    std::set<std::string> boxed;
    std::map<std::string, std::string> occ, abs, jt;
};

// The check's report and the extension's behaviour, in-process, on one site: loaded, the extension
// registered and its exits run as in a server.
struct Outcome {
    kep_check::Report report;
    Behaviour behaviour;
    bool usable(const std::string& feature) const {
        for (const kep_check::Feature& f : report.features) {
            if (f.name == feature) {
                return f.usable();
            }
        }
        ADD_FAILURE() << "no feature " << feature;
        return false;
    }
    // The worst level of the findings about `key` (those that begin with it); "" when none does.
    std::string verdict(const std::string& key) const {
        int worst = -1;
        for (const kep_check::Feature& f : report.features) {
            for (const kep_check::Finding& finding : f.findings) {
                if (finding.text.compare(0, key.size(), key) == 0) {
                    worst = std::max(worst, static_cast<int>(finding.level));
                }
            }
        }
        static const char* const kWords[] = {"ok", "note", "missing"};
        return worst < 0 ? "" : kWords[worst];
    }
};

class CheckAgainstBehaviour : public kep_test::KepFixture {
protected:
    Outcome run(const json& site) {
        Outcome outcome;
        standin::reset();
        kep_support_reset_state();
        load_site(site.dump());
        standin::set_call_log(false);
        EXPECT_EQ(kep_register_callbacks(), 0);
        standin::run_all_exits();
        outcome.report = kep_check::check_site();
        for (const auto& id : standin::all_ids()) {
            const std::string kind = standin::kind_of(id.second);
            if (kind == "BOMWindow") {
                const double all = 1e6;
                std::vector<tag_t> found;
                bool handed_back = false;
                standin::UserArg window{standin::UserArg::Tag};
                window.tag = id.second;
                standin::UserArg delta{standin::UserArg::Double};
                standin::UserArg box{standin::UserArg::DoubleArray};
                box.doubles = {-all, -all, -all, all, all, all};
                EXPECT_EQ(standin::call_service("kep_userservice_volume_search", {window, delta, box}, &found,
                                                &handed_back),
                          0);
                for (tag_t tag : found) {
                    outcome.behaviour.boxed.insert(standin::id_of(tag));
                }
            } else if (kind == "BOMLine") {
                for (const char* property : {"bl_plmxml_occ_xform", "bl_plmxml_abs_xform"}) {
                    char* value = nullptr;
                    standin::ask_string(id.second, property, &value);
                    (std::string(property) == "bl_plmxml_occ_xform" ? outcome.behaviour.occ
                                                                    : outcome.behaviour.abs)[id.first] =
                        value != nullptr ? value : "-";
                    MEM_free(value);
                }
                tag_t jt = NULLTAG;
                standin::ask_tag(id.second, "bl_jt_dataset_tag", &jt);
                outcome.behaviour.jt[id.first] = jt != NULLTAG ? standin::id_of(jt) : "-";
            }
        }
        EXPECT_EQ(standin::live_blocks(), 0);
        return outcome;
    }
};

// Each row changes the sample site and names the verdict the check must give the key it is about.
// The rows are then held against the extension: a feature the check calls usable still gives every
// line the boxes and values it gave on the sample site, so the check never calls usable what the
// extension will not use. (A feature called not usable may lose nothing on this site: a misspelt
// type that no sample dataset has.)
TEST_F(CheckAgainstBehaviour, UsableFeaturesKeepWhatTheyGave) {
    auto set = [](const std::string& key, json value) {
        return [key, value](json& site) { site["preferences"][key] = value; };
    };
    auto filter_on = [](json wanted) {
        return [wanted](json& site) {
            site["preferences"]["KEPUseAltRepFilter"] = "1";
            site["preferences"]["KEPActualAltRepList"] = wanted;
        };
    };
    auto env = [](const std::string& name, const std::string& value) {
        return [name, value](json& site) { site["platform"]["env"][name] = value; };
    };
    const struct {
        const char* what;
        std::function<void(json&)> change;
        std::string key;
        std::string verdict;
        std::string also_not_usable;  // a further feature the change must make not usable
    } rows[] = {
        {"sample site", [](json&) {}, "KEPModOnPartDatasetRelation", "ok", ""},
        {"unknown part mod-on relation", set("KEPModOnPartDatasetRelation", "KEP_mod_onn"),
         "KEPModOnPartDatasetRelation", "missing", ""},
        {"unknown product mod-on relation", set("KEPModOnProductDatasetRelation", "KEP_modon"),
         "KEPModOnProductDatasetRelation", "missing", ""},
        {"unknown structure relation", set("KEPProductDatasetRelation", "IMAN_Reference"),
         "KEPProductDatasetRelation", "missing", ""},
        {"no rendering relation",
         [](json& site) {
             for (json& relation : site["relations"]) {
                 if (relation[1] == "IMAN_Rendering") {
                     relation[1] = "IMAN_specification";
                 }
             }
         },
         "IMAN_Rendering", "missing", ""},
        {"empty master name", set("KEPAltRepList", ""), "KEPAltRepList", "missing", "JT dataset tags"},
        {"empty master name in a list", set("KEPAltRepList", {"", "LOD1"}), "KEPAltRepList", "missing",
         "Mod-on representations of products"},
        {"alternative name with a dot", set("KEPAltRepList", {"MASTER", "LOD1", "LOD.2"}), "KEPAltRepList",
         "note", ""},
        {"filter on, an empty wanted name", filter_on({""}), "KEPActualAltRepList", "missing",
         "Boxes from 3D geometry"},
        {"filter on, an unmatched wanted name", filter_on({"foo"}), "KEPActualAltRepList", "missing", ""},
        {"filter on, without the master", filter_on({"LOD1"}), "KEPActualAltRepList", "missing", ""},
        {"filter on, one unmatched of two", filter_on({"MASTER", "foo"}), "KEPActualAltRepList", "note", ""},
        {"filter on as documented", filter_on({"MASTER", "LOD1"}), "KEPActualAltRepList", "ok", ""},
        {"filter switch with a blank", set("KEPUseAltRepFilter", "1 "), "KEPUseAltRepFilter", "note", ""},
        {"filter switch true", set("KEPUseAltRepFilter", "true"), "KEPUseAltRepFilter", "note", ""},
        {"3D type in the wrong case", set("KEPPartDatasetType", "part3d"), "KEPPartDatasetType", "missing",
         "Mod-on representations of parts"},
        {"3D type with a blank", set("KEPPartDatasetType", "Part3D "), "KEPPartDatasetType", "missing", ""},
        {"3D type that is no dataset", set("KEPRepDatasetType", "BBForm"), "KEPRepDatasetType", "missing",
         ""},
        {"3D type as a list", set("KEPPartDatasetType", {"Part3D", "Model3D"}), "KEPPartDatasetType", "note",
         ""},
        {"3D type key missing", [](json& site) { site["preferences"].erase("KEPCgrDatasetType"); },
         "KEPCgrDatasetType", "missing", "Mod-on representations of parts"},
        {"misspelt part mod-on type", set("KEPModOnPartDatasetType", "ModonPart"), "KEPModOnPartDatasetType",
         "missing", ""},
        {"misspelt product mod-on type", set("KEPModOnProductDatasetType", "ModOnProdcut"),
         "KEPModOnProductDatasetType", "missing", ""},
        {"misspelt structure type", set("KEPProductDatasetType", "PLMXLM"), "KEPProductDatasetType",
         "missing", ""},
        {"library name with a blank", set("TC_customization_libraries", {"kep "}),
         "TC_customization_libraries", "missing", ""},
        {"switch in lower case", env("ZODORE_DEBUG", "on"), "ZODORE_DEBUG", "note", ""},
        {"statement trace alone", env("ZODORE_ITKLOG", "ON"), "ZODORE_ITKLOG is ON while", "note", ""},
    };
    const json sample = sample_site();
    const Behaviour before = run(sample).behaviour;
    ASSERT_EQ(before.boxed.size(), 38u);
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        json site = sample;
        row.change(site);
        const Outcome after = run(site);
        EXPECT_EQ(after.verdict(row.key), row.verdict);
        if (!row.also_not_usable.empty()) {
            EXPECT_FALSE(after.usable(row.also_not_usable));
        }
        const Behaviour& now = after.behaviour;
        if (!after.usable("Loading the extension")) {
            continue;  // a server would not load it at all
        }
        if (after.usable("Boxes from 3D geometry") &&
            after.usable("Boxes from auxiliary and structure datasets") &&
            after.usable("Mod-on representations of parts") && after.usable("Representation filter")) {
            for (const std::string& line : before.boxed) {
                EXPECT_EQ(now.boxed.count(line), 1u) << line << " lost its box";
            }
        }
        if (after.usable("Mod-on representations of products") && after.usable("Representation filter")) {
            EXPECT_EQ(now.occ, before.occ);
            EXPECT_EQ(now.abs, before.abs);
        }
        if (after.usable("JT dataset tags")) {
            for (const auto& jt : before.jt) {
                if (jt.second != "-") {
                    EXPECT_NE(now.jt.at(jt.first), "-") << jt.first << " lost its JT dataset tag";
                }
            }
        }
    }
}

// The batch utility logs in to the stand-in, which loads the extension as the server does; on
// every site it prints what `kep-host check` prints, with the same exit status (one preflight).
TEST(HostCheck, BatchUtilityRunsOnTheStandInAsTheHostCheck) {
    json site = sample_site();
    const std::string usable = write_site(site, "usable");
    site.at("preferences").erase("KEPRepDatasetType");
    const std::string lacking = write_site(site, "lacking");
    site = sample_site();
    site["preferences"]["TC_customization_libraries"] = json::array({"other"});
    const std::string unnamed = write_site(site, "unnamed");
    const struct {
        std::vector<std::string> args;
        std::vector<std::string> env;
        int exit_code;
        std::string mention;
        std::string site;  // the site of the same run of kep-host check; "" for none
    } cases[] = {
        {{"-site=" + usable}, {}, 0, "Everything is usable.", usable},
        {{}, {"STANDIN_SITE=" + lacking}, 1, "KEPRepDatasetType is not set", lacking},
        {{"-site=" + unnamed}, {}, 1, "2 of 9 features are not usable", unnamed},
        {{}, {}, 2, "-site=FILE", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.mention);
        HostRun run = run_program("kep_check", c.args, c.env);
        EXPECT_EQ(run.exit_code, c.exit_code) << run.err;
        EXPECT_NE((run.out + run.err).find(c.mention), std::string::npos) << run.out << run.err;
        if (!c.site.empty()) {
            HostRun host = run_host({"--site", c.site, "check"});
            EXPECT_EQ(host.exit_code, run.exit_code) << host.err;
            EXPECT_EQ(host.out, run.out);
        }
    }
    // -version: the utility's own version and the extension library it loaded, read from that
    // library (its ident lines; on Windows its version resource).
    HostRun run = run_program("kep_check", {"-site=" + usable, "-version"}, {});
    EXPECT_EQ(run.exit_code, 0) << run.err;
    const std::vector<std::string> lines = {"kep_check " KEP_VERSION "\n",
                                            "extension library: ", "  version: " KEP_VERSION "\n",
                                            "  build: ", "  date: "};
    for (const std::string& text : lines) {
        EXPECT_NE(run.out.find(text), std::string::npos) << text << " missing from:\n" << run.out;
    }
    const size_t build = run.out.find("  build: ") + 9;
    EXPECT_TRUE(build < run.out.size() && run.out[build] != '\r' && run.out[build] != '\n') << run.out;
    EXPECT_NE(run.out.find(standin::library_file_name("kep")), std::string::npos) << run.out;
    for (const std::string& path : {usable, lacking, unnamed}) {
        std::remove(path.c_str());
    }
}

}  // namespace
}  // namespace host_test
