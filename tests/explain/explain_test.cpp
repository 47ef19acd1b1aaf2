// The explanation of one line against what the searches and the line properties answer, and the
// words it uses for each reason, placement source and separating axis.
#include <gtest/gtest.h>
#include <kep_support_internal.h>
#include <standin/control.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <random>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "base/kep_number_text.h"
#include "geometry/kep_overlap_internal.h"
#include "kep_explain.h"
#include "kep_fixture.h"
#include "kep_site_text.h"
#include "registration/kep_explain_account.h"
#include "registration/kep_explain_reasons.h"
#include "registration/kep_registration.h"

namespace explain_test {
namespace {

using kep_test::generated_site;
using standin::UserArg;

void start(const std::string& site) {
    std::string error;
    ASSERT_TRUE(standin::load_site(site, "site", &error)) << error;
    for (const char* name : {"ZODORE_DEBUG", "ZODORE_SYSLOG", "ZODORE_ITKLOG"}) {
        standin::hide_env(name);
    }
    kep_support_reset_state();
    ASSERT_EQ(kep_register_callbacks(), 0);
    ASSERT_EQ(standin::run_all_exits(), 0);
}

nlohmann::json explain(tag_t line, const kep_explain_query_t* query, int expected_status = 0) {
    char* text = nullptr;
    const int status = kep_explain_line(line, query, KEP_EXPLAIN_JSON, &text);
    EXPECT_EQ(status, expected_status);
    nlohmann::json j = text != nullptr ? nlohmann::json::parse(text) : nlohmann::json();
    MEM_free(text);
    return j;
}

std::vector<tag_t> lines_of(tag_t window) {
    std::vector<tag_t> lines;
    for (const auto& entry : standin::all_ids()) {
        if (standin::kind_of(entry.second) == "BOMLine" && standin::window_of_line(entry.second) == window) {
            lines.push_back(entry.second);
        }
    }
    return lines;
}

// The 16 numbers of a transform text, as a row-major matrix.
std::vector<double> row_major(const std::string& text) {
    std::vector<double> v(16, 0.0), m(16, 0.0);
    std::sscanf(text.c_str(), "%lf %lf %lf %lf %lf %lf %lf %lf %lf %lf %lf %lf %lf %lf %lf %lf", &v[0], &v[1],
                &v[2], &v[3], &v[4], &v[5], &v[6], &v[7], &v[8], &v[9], &v[10], &v[11], &v[12], &v[13],
                &v[14], &v[15]);
    for (int c = 0; c < 4; ++c) {
        for (int r = 0; r < 4; ++r) {
            m[static_cast<size_t>(4 * r + c)] = v[static_cast<size_t>(4 * c + r)];
        }
    }
    return m;
}

// The site with lines the searches do not walk: a line packed into the top line (placed away from
// it, with a child line of its own) and a line packed into a packed line.
std::string with_unwalked_lines(const std::string& site) {
    nlohmann::json j = nlohmann::json::parse(site);
    nlohmann::json& top = j["windows"]["w1"];
    const std::string revision = top["children"][0]["revision"];
    top["packed"] = {{{"id", "top_packed"},
                      {"revision", revision},
                      {"occurrence_name", "TP"},
                      {"transform", "1 0 0 0 0 1 0 0 0 0 1 0 5 5 5 1"},
                      {"children", {{{"id", "top_packed_child"}, {"revision", revision}}}}}};
    std::vector<nlohmann::json*> pending = {&top};
    bool placed = false;
    while (!pending.empty() && !placed) {
        nlohmann::json& line = *pending.back();
        pending.pop_back();
        if (&line != &top && line.contains("packed")) {
            line["packed"][0]["packed"] = {{{"id", "packed_packed"}, {"revision", revision}}};
            placed = true;
        } else if (line.contains("children")) {
            for (nlohmann::json& child : line["children"]) {
                pending.push_back(&child);
            }
        }
    }
    return j.dump();
}

// For every line and random queries of both kinds: found or not as the service answers, the
// distance needed as the service answers at it and just below it, the absolute transform as the
// line property answers, and the walk's placement equal to it.
TEST(Explain, AgreesWithTheSearchesAndTheLinePropertiesOnGeneratedSites) {
    for (const char* options : {"--lines 30 --seed 3 --depth 4 --packed-share 0.2 --modon-share 0.6",
                                "--lines 25 --seed 12 --depth 5 --modon-share 0.5"}) {
        SCOPED_TRACE(options);
        const bool unwalked = std::string(options).find("packed") != std::string::npos;
        ASSERT_NO_FATAL_FAILURE(
            start(unwalked ? with_unwalked_lines(generated_site(options)) : generated_site(options)));
        const tag_t window = standin::tag_of("w1");
        ASSERT_TRUE(!unwalked || standin::tag_of("packed_packed") != NULLTAG);
        const std::vector<tag_t> lines = lines_of(window);
        ASSERT_FALSE(lines.empty());
        std::mt19937 random(7);
        auto uniform = [&](double lo, double hi) {
            return std::uniform_real_distribution<double>(lo, hi)(random);
        };
        for (int q = 0; q < 3; ++q) {
            kep_explain_query_t query{};
            query.delta_mm = uniform(0, 80);
            query.window = window;
            std::vector<tag_t> selected;
            std::vector<UserArg> args = {UserArg{UserArg::Tag, window},
                                         UserArg{UserArg::Double, 0, query.delta_mm}};
            const char* service = "kep_userservice_volume_search";
            if (q < 2) {
                const double x = uniform(-0.8, 3.7), y = uniform(-0.9, 0.9), z = uniform(-0.3, 1.2);
                const double box[6] = {
                    x, y, z, x + uniform(0, 1.2), y + uniform(0, 0.8), z + uniform(0, 0.6)};
                query.kind = KEP_EXPLAIN_QUERY_BOX;
                std::copy(box, box + 6, query.box);
                args.push_back(UserArg{UserArg::DoubleArray, 0, 0, std::vector<double>(box, box + 6)});
            } else {
                for (int s = 0; s < 3; ++s) {
                    selected.push_back(
                        lines[std::uniform_int_distribution<size_t>(0, lines.size() - 1)(random)]);
                }
                query.kind = KEP_EXPLAIN_QUERY_NEAR;
                query.near_lines = selected.data();
                query.near_count = static_cast<int>(selected.size());
                service = "kep_userservice_neighbourhood_search";
                args.push_back(UserArg{UserArg::TagArray, 0, 0, {}, selected});
            }
            std::vector<tag_t> returned;
            bool handed_back = false;
            ASSERT_EQ(standin::call_service(service, args, &returned, &handed_back), 0);
            const std::set<tag_t> found(returned.begin(), returned.end());
            // Whether the same search at another distance hands the line back.
            auto finds_at = [&](double delta_mm, tag_t line) {
                std::vector<UserArg> at = args;
                at[1].value = delta_mm;
                std::vector<tag_t> lines_back;
                EXPECT_EQ(standin::call_service(service, at, &lines_back, &handed_back), 0);
                return std::count(lines_back.begin(), lines_back.end(), line) == 1;
            };
            int needed_checked = 0;
            int found_count = 0;
            for (const tag_t line : lines) {
                const std::string id = standin::id_of(line);
                const nlohmann::json e = explain(line, &query);
                ASSERT_TRUE(e.is_object()) << id;
                EXPECT_EQ(e["found"].get<bool>(), found.count(line) == 1)
                    << id << " query " << q << ": " << e.dump();
                found_count += e["found"].get<bool>() ? 1 : 0;
                // The distance needed: the search at it finds the line, a hair less does not.
                if (e["needed_delta_mm"].is_number() && needed_checked++ < 4) {
                    const double needed = e["needed_delta_mm"].get<double>();
                    EXPECT_TRUE(finds_at(needed, line)) << id << " at " << needed << ": " << e.dump();
                    EXPECT_FALSE(finds_at(std::nextafter(needed, 0.0), line)) << id << " below " << needed;
                }
                char* abs = nullptr;
                ASSERT_EQ(standin::ask_string(line, "bl_plmxml_abs_xform", &abs), 0);
                if (abs == nullptr) {
                    EXPECT_TRUE(e["abs_xform"].is_null()) << id;
                } else {
                    EXPECT_EQ(e["abs_xform"], abs) << id;
                    const nlohmann::json& last = e["chain"].back()["absolute"];
                    const std::vector<double> m = row_major(abs);
                    for (size_t k = 0; k < 16 && last.is_array(); ++k) {
                        EXPECT_NEAR(last[k].get<double>(), m[k], 1e-9) << id << " element " << k;
                    }
                }
                MEM_free(abs);
                // The lines the searches do not walk: packed lines so marked, and told as not walked.
                if (id == "top_packed" || id == "packed_packed" || id == "top_packed_child") {
                    EXPECT_EQ(e["packed"], id != "top_packed_child") << id;
                    EXPECT_EQ(e["reason"].get<std::string>().rfind("not walked: ", 0), 0u)
                        << id << e["reason"];
                }
                EXPECT_EQ(e["box_dataset"].is_null(), e["search_box"].is_null()) << id;
                EXPECT_EQ(e["reason"].is_null(), !e["box_dataset"].is_null()) << id;
            }
            EXPECT_EQ(found_count, static_cast<int>(found.size()));
        }
        EXPECT_EQ(standin::misuse_count(), 0);
    }
}

const std::string kTableSite = R"({
  "types": {"Part3D": "Dataset", "Model3D": "Dataset", "Tess3D": "Dataset", "Rep3D": "Dataset",
            "AuxPart": "Dataset", "AuxModel": "Dataset", "AuxTess": "Dataset", "AuxRep": "Dataset",
            "Archive": "Dataset", "PLMXML": "Dataset", "ModOnPart": "Dataset", "ModOnProduct": "Dataset",
            "BBForm": "Form", "ModOnInfoForm": "Form"},
  "properties": {"Dataset": ["var2_is_v0"]},
  "preferences": {)" + kep_test::dataset_type_preferences("IMAN_reference", "PLMXML") +
                               R"(,
    "KEPModOnPartDatasetRelation": "KEP_mod_on", "KEPModOnPartDatasetType": "ModOnPart",
    "KEPModOnProductDatasetRelation": "KEP_mod_on", "KEPModOnProductDatasetType": "ModOnProduct",
    "KEPAltRepList": ["MASTER", "LOD1"]},
  "relation_types": ["IMAN_reference"],
  "objects": {)" + kep_test::revisions({"top", "asm", "ok", "none", "noform", "unread", "aux", "two"}) +
                               R"(,
    "ds_ok": {"type": "Part3D", "name": "OK/A", "refs": {"VAR2BBInfo": ["bb_ok"]}},
    )" + kep_test::box_form("bb_ok", 0, 0, 0, 1, 1, 1) +
                               R"(,
    "ds_noform": {"type": "Part3D", "name": "NOFORM/A"},
    "ds_unread": {"type": "Part3D", "name": "UNREAD/A", "refs": {"VAR2BBInfo": ["bb_unread"]}},
    )" + kep_test::box_form("bb_unread", 0, 0, 0, 1, 1, 1) +
                               R"(,
    "ds_aux": {"type": "AuxPart", "name": "AUX/A"},
    "ds_two_a": {"type": "AuxPart", "name": "TWO-A/A", "refs": {"VAR2BBInfo": ["bb_two_a"]}},
    "ds_two_b": {"type": "AuxPart", "name": "TWO-B/A", "refs": {"VAR2BBInfo": ["bb_two_b"]}},
    )" + kep_test::box_form("bb_two_a", 0, 0, 0, 1, 1, 1) +
                               R"(,
    )" + kep_test::box_form("bb_two_b", 2, 0, 0, 3, 1, 1) +
                               R"(,
    "mo_asm": {"type": "ModOnProduct", "name": "TOP.ASM.1", "refs": {"KEPModOnInfo": ["mi_asm"]}},
    "mi_asm": {"type": "ModOnInfoForm", "attributes": {"var2_way_to_root": ["ASM"],
        "var2_child_instname": ["P_REP"], "var2_child_matrix": ["1 0 0 0 0 1 0 0 0 0 1 0 5 0 0 1"]}}
  },
  "relations": [["ok/A", "IMAN_specification", "ds_ok"], ["noform/A", "IMAN_specification", "ds_noform"],
                ["unread/A", "IMAN_specification", "ds_unread"], ["aux/A", "IMAN_reference", "ds_aux"],
                ["two/A", "IMAN_reference", "ds_two_a"], ["two/A", "IMAN_reference", "ds_two_b"],
                ["top/A", "KEP_mod_on", "mo_asm"]],
  "windows": {"w1": {"id": "top", "revision": "top/A", "transform": "1 0 0 0 0 1 0 0 0 0 1 0 0 0 9 1", "children": [
    {"id": "asm", "revision": "asm/A", "occurrence_name": "ASM", "children": [
      {"id": "p_rep", "revision": "ok/A", "occurrence_name": "P_REP"},
      {"id": "p_kept", "revision": "ok/A", "occurrence_name": "P_KEPT", "transform": "1 0 0 0 0 1 0 0 0 0 1 0 0 7 0 1"}]},
    {"id": "p_stored", "revision": "ok/A", "occurrence_name": "S", "transform": "1 0 0 0 0 1 0 0 0 0 1 0 2 0 0 1"},
    {"id": "p_text", "revision": "ok/A", "occurrence_name": "T", "transform": "not a matrix"},
    {"id": "p_none", "revision": "none/A", "occurrence_name": "N"},
    {"id": "p_noform", "revision": "noform/A", "occurrence_name": "F"},
    {"id": "p_unread", "revision": "unread/A", "occurrence_name": "U"},
    {"id": "p_aux", "revision": "aux/A", "occurrence_name": "X"},
    {"id": "p_two", "revision": "two/A", "occurrence_name": "W"}]}}
})";

// One line per reason of "no box" and per placement source, with the words the explanation uses.
TEST(Explain, TellsEachReasonAndEachPlacementSource) {
    struct Row {
        const char* line;
        const char* preference;    // cleared for this row, or null
        const char* relation;      // KEPProductDatasetRelation for this row, or null
        const char* failing_form;  // its reads fail, or (with "nan") it holds a value that is no number
        const char* field;  // "reason", "box_datasets", the top's "note" or the last chain entry's "source"
        const char* words;
        int status = 0;              // the search's own status: a failed call is told as a failure
        bool no_occ_method = false;  // the platform has no bl_plmxml_occ_xform method
    };
    const Row rows[] = {
        {"p_stored", nullptr, nullptr, nullptr, "reason", ""},
        {"p_none", nullptr, nullptr, nullptr, "reason", "no dataset of the configured types"},
        {"p_stored", "KEPPartDatasetType", nullptr, nullptr, "reason",
         "missing preference KEPPartDatasetType"},
        {"p_stored", "KEPModOnPartDatasetType", nullptr, nullptr, "reason",
         "missing preference KEPModOnPartDatasetType"},
        {"p_none", nullptr, "NO_SUCH_RELATION", nullptr, "reason", "unknown relation NO_SUCH_RELATION"},
        {"p_aux", nullptr, nullptr, nullptr, "reason", "no form: dataset 'AUX/A'"},
        {"p_noform", nullptr, nullptr, nullptr, "reason", "no form: dataset 'NOFORM/A'"},
        {"p_unread", nullptr, nullptr, "bb_unread", "reason", "the search's call AOM_ask_value_double failed",
         900001},
        {"p_unread", nullptr, nullptr, "bb_unread nan", "reason",
         "values not finite: the box of dataset 'UNREAD/A'"},
        {"p_stored", nullptr, nullptr, nullptr, "source", "the stored value"},
        {"p_rep", nullptr, nullptr, nullptr, "source", "representation 'TOP.ASM.1'"},
        {"p_kept", nullptr, nullptr, nullptr, "source", "kept because representation 'TOP.ASM.1'"},
        {"p_text", nullptr, nullptr, nullptr, "source",
         "identity, because the text is unreadable: [not a matrix]"},
        // The top line's own transform is left out by the search; a box of two datasets names both.
        {"p_stored", nullptr, nullptr, nullptr, "note", "leaving out its own transform; bl_plmxml_abs_xform"},
        {"p_two", nullptr, nullptr, nullptr, "box_datasets", "[\"ds_two_a\",\"ds_two_b\"]"},
        // The extension's own method gives no value where no representation lists the line.
        {"p_stored", nullptr, nullptr, nullptr, "source",
         "identity: the platform has no bl_plmxml_occ_xform method, and the extension's own method gives a "
         "value only for a child that its parent's representation lists; a transform stored on the line is "
         "not used",
         0, true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.line) + " " + row.words);
        std::string site = kTableSite;
        if (row.no_occ_method) {
            site.insert(site.find('{') + 1,
                        R"("line_methods": ["bl_plmxml_abs_xform", "bl_jt_dataset_tag"],)");
        }
        ASSERT_NO_FATAL_FAILURE(start(site));
        if (row.preference != nullptr) {
            standin::set_preference(row.preference, {});
        }
        if (row.relation != nullptr) {
            standin::set_preference("KEPProductDatasetRelation", {row.relation});
        }
        if (row.failing_form != nullptr && std::string(row.failing_form) == "bb_unread nan") {
            ASSERT_TRUE(standin::set_number(standin::tag_of("bb_unread"), "var2_bb_y2", std::nan("")));
        } else if (row.failing_form != nullptr) {
            standin::fail_object("AOM_ask_value_double", standin::tag_of(row.failing_form));
        }
        const int live = standin::live_blocks();
        const nlohmann::json e = explain(standin::tag_of(row.line), nullptr, row.status);
        EXPECT_EQ(standin::live_blocks(), live);
        const std::string field = row.field;
        nlohmann::json value = field == "reason"   ? e["reason"]
                               : field == "note"   ? e["chain"].front()["note"]
                               : field == "source" ? e["chain"].back()["source"]
                                                   : e[field];
        if (field == "box_datasets") {
            for (nlohmann::json& d : value) {
                d = standin::id_of(d.get<tag_t>());
            }
        }
        if (row.words[0] == '\0') {
            EXPECT_TRUE(value.is_null()) << e.dump();
        } else {
            const std::string text = value.is_string() ? value.get<std::string>() : value.dump();
            EXPECT_NE(text.find(row.words), std::string::npos) << text;
        }
    }
}

// The "no box" shapes: the line's site, the datasets that make the shape and what the row changes.
std::string no_box_site() {
    nlohmann::json j = nlohmann::json::parse(kTableSite);
    j["types"]["TypeForm"] = "Form";
    auto dataset = [&](const std::string& id, const std::string& type, const std::string& name,
                       const std::string& revision, const std::string& relation) {
        j["objects"][id] = {{"type", type}, {"name", name}};
        j["relations"].push_back({revision, relation, id});
    };
    for (const char* revision : {"snf", "vis", "visnf", "wrel", "wvis"}) {
        std::string item = revision;
        for (char& c : item) {
            c = static_cast<char>(c - 'a' + 'A');
        }
        j["objects"][std::string(revision) + "/A"] = {{"type", "ItemRevision"}, {"item_id", item}};
        j["windows"]["w1"]["children"].push_back(
            {{"id", std::string("p_") + revision}, {"revision", std::string(revision) + "/A"}});
    }
    dataset("ds_snf", "PLMXML", "SNF/A", "snf/A", "IMAN_reference");  // a structure dataset, no form
    j["objects"]["ti_visu"] = {{"type", "TypeForm"}, {"attributes", {{"var2_type", "VISUALIZATION"}}}};
    for (const char* revision : {"vis", "visnf"}) {
        const std::string id = std::string("ds_visu_") + revision;
        dataset(id, "AuxPart", "VISU/A", std::string(revision) + "/A", "IMAN_reference");
        j["objects"][id]["refs"] = {{"VAR2TypeInfo", {"ti_visu"}}, {"VAR2BBInfo", {"bb_ok"}}};
    }
    dataset("ds_visnf", "AuxPart", "VISNF/A", "visnf/A", "IMAN_reference");  // no visualisation, no form
    dataset("ds_wrel", "PLMXML", "WREL/A", "wrel/A", "IMAN_specification");  // under the wrong relation
    j["objects"]["ds_wrel"]["refs"] = {{"VAR2BBInfo", {"bb_ok"}}};
    dataset("ds_wvis", "PLMXML", "WVIS/A", "wvis/A", "IMAN_specification");  // and a visualisation one
    j["objects"]["ds_wvis"]["refs"] = {{"VAR2TypeInfo", {"ti_visu"}}, {"VAR2BBInfo", {"bb_ok"}}};
    return j.dump();
}

// For each shape of "no box": every reason, in the order the lookup meets them; then, on a copy of
// the site with exactly those reasons fixed, the line has a box. The text names the related objects
// and the preferences read, quoted.
TEST(Explain, ListsEveryReasonOfNoBoxAndFixingThemGivesTheBox) {
    struct Row {
        const char* line;
        const char* revision;
        std::map<std::string, std::string> preferences;  // set for the row ("" clears one)
        std::vector<std::string> reasons;                // words of each reason, in order
        const char* text;                                // in the text
    };
    const Row rows[] = {
        {"p_aux",
         "aux/A",
         {{"KEPCgrDatasetType", ""}},
         {"missing preference KEPCgrDatasetType", "no form: dataset 'AUX/A'"},
         R"("AUX/A" of type "AuxPart")"},
        {"p_snf",
         "snf/A",
         {{"KEPProductDatasetRelation", "NO_SUCH_RELATION"}},
         {"unknown relation NO_SUCH_RELATION", "no form: dataset 'SNF/A'"},
         R"(KEPProductDatasetRelation "NO_SUCH_RELATION")"},
        {"p_vis", "vis/A", {}, {"only visualisation datasets"}, R"("VISU/A" of type "AuxPart")"},
        {"p_visnf", "visnf/A", {}, {"no form: dataset 'VISNF/A'"}, R"("VISNF/A" of type "AuxPart")"},
        {"p_wrel",
         "wrel/A",
         {},
         {R"(not under the relation: dataset 'WREL/A' (tag )"},
         R"("WREL/A" of type "PLMXML")"},
        {"p_aux",
         "aux/A",
         {{"KEPArchiveDatasetType", ""}},
         {"missing preference KEPArchiveDatasetType", "no form: dataset 'AUX/A'"},
         "KEPArchiveDatasetType (not set)"},
        {"p_wvis", "wvis/A", {}, {"only visualisation datasets: 'WVIS/A'"}, R"("WVIS/A" of type "PLMXML")"},
        {"p_wvis",
         "wvis/A",
         {{"KEPProductDatasetRelation", "NO_SUCH_RELATION"}},
         {"unknown relation NO_SUCH_RELATION", "only visualisation datasets: 'WVIS/A'"},
         R"(KEPProductDatasetRelation "NO_SUCH_RELATION")"},
        {"p_aux",
         "aux/A",
         {{"KEPAuxPartDatasetType", "AuxPart "}},
         {"no dataset of the configured types"},
         R"(KEPAuxPartDatasetType "AuxPart ")"},
        {"p_none",
         "none/A",
         {},
         {"no dataset of the configured types"},
         "objects related to the revision: none"},
        {"p_noform", "noform/A", {}, {"no form: dataset 'NOFORM/A'"}, R"("NOFORM/A" of type "Part3D")"},
        {"p_stored",
         "ok/A",
         {{"KEPModOnPartDatasetType", ""}},
         {"missing preference KEPModOnPartDatasetType"},
         "KEPModOnPartDatasetType (not set)"},
    };
    const nlohmann::json original = nlohmann::json::parse(no_box_site());
    for (const Row& row : rows) {
        SCOPED_TRACE(row.line + std::string(" ") + row.reasons.front());
        nlohmann::json site = original;
        for (const auto& p : row.preferences) {
            if (p.second.empty()) {
                site["preferences"].erase(p.first);
            } else {
                site["preferences"][p.first] = p.second;
            }
        }
        ASSERT_NO_FATAL_FAILURE(start(site.dump()));
        const tag_t line = standin::tag_of(row.line);
        const nlohmann::json e = explain(line, nullptr);
        ASSERT_TRUE(e["reasons"].is_array()) << e.dump();
        ASSERT_EQ(e["reasons"].size(), row.reasons.size()) << e["reasons"];
        EXPECT_EQ(e["reason"], e["reasons"][0]);
        char* text = nullptr;
        ASSERT_EQ(kep_explain_line(line, nullptr, KEP_EXPLAIN_TEXT, &text), 0);
        EXPECT_NE(std::string(text).find(row.text), std::string::npos) << text;
        MEM_free(text);
        // Each reason fixed as the guide says.
        int fixes = 0;
        for (size_t i = 0; i < row.reasons.size(); ++i) {
            const std::string reason = e["reasons"][i];
            EXPECT_EQ(reason.rfind(row.reasons[i], 0), 0u) << reason;
            const size_t at = reason.find("(tag ");
            const std::string dataset =
                at == std::string::npos
                    ? ""
                    : standin::id_of(static_cast<tag_t>(std::stoul(reason.substr(at + 5))));
            const bool no_dataset = reason.rfind("no dataset of", 0) == 0;
            if (reason.rfind("missing preference ", 0) == 0 || reason.rfind("unknown relation ", 0) == 0 ||
                no_dataset) {
                for (const auto& p : row.preferences) {
                    site["preferences"][p.first] = original["preferences"][p.first];
                }
            }
            if (reason.rfind("no form: ", 0) == 0) {
                site["objects"][dataset]["refs"]["VAR2BBInfo"] = {"bb_ok"};
            } else if (reason.rfind("not under the relation: ", 0) == 0) {
                for (nlohmann::json& r : site["relations"]) {
                    if (r[2] == dataset) {
                        r[1] = original["preferences"]["KEPProductDatasetRelation"];
                    }
                }
            } else if (reason.rfind("only visualisation", 0) == 0 || no_dataset) {
                site["objects"]["ds_fix"] = {{"type", "AuxPart"}, {"refs", {{"VAR2BBInfo", {"bb_ok"}}}}};
                site["relations"].push_back({row.revision, "IMAN_reference", "ds_fix"});
            } else if (reason.rfind("missing preference ", 0) != 0 &&
                       reason.rfind("unknown relation ", 0) != 0) {
                continue;
            }
            ++fixes;
        }
        EXPECT_EQ(fixes, static_cast<int>(row.reasons.size()));
        ASSERT_NO_FATAL_FAILURE(start(site.dump()));
        const nlohmann::json fixed = explain(standin::tag_of(row.line), nullptr);
        EXPECT_TRUE(fixed["reason"].is_null()) << fixed["reason"];
        EXPECT_EQ(fixed["reasons"], nlohmann::json::array());
    }
}

// The guide's table of reasons is the code's.
TEST(Explain, TheGuidesReasonsAreTheCodes) {
    std::ifstream in(std::string(KEP_SOURCE_DIR) + "/docs/deploying.md");
    ASSERT_TRUE(in.good());
    std::vector<std::string> shown;
    bool in_table = false;
    for (std::string text; std::getline(in, text);) {
        if (text.rfind("**The reasons for \"no box\"", 0) == 0) {
            in_table = true;
        } else if (in_table && text.rfind("## ", 0) == 0) {
            in_table = false;
        } else if (in_table && text.rfind("| `", 0) == 0) {
            shown.push_back(text.substr(3, text.find('`', 3) - 3));
        }
    }
    int count = 0;
    const kep::ReasonRow* rows = kep::reason_rows(&count);
    std::vector<std::string> code;
    for (int i = 0; i < count; ++i) {
        code.push_back(rows[i].shown);
        EXPECT_EQ(std::string(rows[i].shown).rfind(rows[i].lead, 0), 0u) << rows[i].shown;
    }
    EXPECT_EQ(shown, code);
}

kep_object3d_t cube(const double rows[3][4], double half) {
    kep_object3d_t o{};
    o.bbox = {-half, -half, -half, half, half, half};
    for (int r = 0; r < 3; ++r) {
        for (int c = 0; c < 4; ++c) {
            o.matrix[4 * r + c] = rows[r][c];
        }
    }
    o.BB = 1;
    return o;
}

// Each of the 15 axes separates one pair, and is named; the gap or depth is a length.
TEST(Explain, NamesTheAxisThatSeparatesAndTheGap) {
    const double s = std::sqrt(0.5);
    const double identity[3][4] = {{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}};
    kep_object3d_t a = cube(identity, 1);
    struct Row {
        int axis;
        const char* words;
        kep_object3d_t b;
    };
    std::vector<Row> rows;
    const double shifted[3][3][4] = {{{1, 0, 0, 2.5}, {0, 1, 0, 0}, {0, 0, 1, 0}},
                                     {{1, 0, 0, 0}, {0, 1, 0, 2.5}, {0, 0, 1, 0}},
                                     {{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 2.5}}};
    for (int k = 0; k < 3; ++k) {
        rows.push_back({k + 1, "face", cube(shifted[k], 0.5)});  // a gap of 1 along A's axis k
    }
    // Thin boxes turned by 45 degrees, apart along their thin axis.
    const double turned_z[3][4] = {{s, -s, 0, 1.2}, {s, s, 0, 1.2}, {0, 0, 1, 0}};
    kep_object3d_t b4 = cube(turned_z, 1);
    b4.bbox = {-0.1, -2, -0.5, 0.1, 2, 0.5};
    rows.push_back({4, "face 0 of B", b4});
    const double turned_z2[3][4] = {{s, -s, 0, -1.2}, {s, s, 0, 1.2}, {0, 0, 1, 0}};
    kep_object3d_t b5 = cube(turned_z2, 1);
    b5.bbox = {-2, -0.1, -0.5, 2, 0.1, 0.5};
    rows.push_back({5, "face 1 of B", b5});
    const double turned_x[3][4] = {{1, 0, 0, 0}, {0, s, -s, -1.2}, {0, s, s, 1.2}};
    kep_object3d_t b6 = cube(turned_x, 1);
    b6.bbox = {-0.5, -2, -0.1, 0.5, 2, 0.1};
    rows.push_back({6, "face 2 of B", b6});
    // The cube turned about x and z, placed where only an edge pair separates it; turning the
    // frame and relabelling the cube's axes moves the separation to every other edge pair.
    const double m[3][3] = {{0.7071068, -0.5, 0.5}, {0.7071068, 0.5, -0.5}, {0, 0.7071068, 0.7071068}};
    const double t[3] = {0, 2, 2.1};
    for (int shift = 0; shift < 3; ++shift) {
        for (int relabel = 0; relabel < 3; ++relabel) {
            double rows_b[3][4];
            for (int r = 0; r < 3; ++r) {
                const int from = (r + 3 - shift) % 3;
                for (int c = 0; c < 3; ++c) {
                    rows_b[r][c] = m[from][(c + relabel) % 3];
                }
                rows_b[r][3] = t[from];
            }
            // A0 x B2 becomes A(shift) x B((2 - relabel) mod 3).
            const int i = shift % 3;
            const int j = (2 - relabel + 3) % 3;
            rows.push_back({7 + 3 * j + i, "edge pair", cube(rows_b, 1)});
        }
    }
    std::set<int> axes;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.axis);
        kep::OverlapReport report;
        EXPECT_FALSE(kep::overlap_report(a, 0.0, row.b, &report));
        EXPECT_EQ(report.axis, row.axis);
        EXPECT_NE(std::string(kep::overlap_axis_name(report.axis)).find(row.words), std::string::npos);
        EXPECT_GT(report.distance, 0.0);
        axes.insert(report.axis);
        // Enlarged past the gap, the pair overlaps, and the depth is what the enlargement left.
        kep::OverlapReport enlarged;
        EXPECT_TRUE(kep::overlap_report(a, report.distance * 3 + 0.05, row.b, &enlarged));
        EXPECT_GE(enlarged.distance, 0.0);
        // The distance needed: the test finds the pair there and not one double below, in
        // millimetres as a query gives them.
        kep::NeededDelta needed;
        kep::overlap_needed_delta(a, row.b, 0.0, 0.001, &needed);
        ASSERT_TRUE(needed.reachable);
        kep::OverlapReport at;
        EXPECT_TRUE(kep::overlap_report(a, needed.value * 0.001, row.b, &at));
        EXPECT_FALSE(kep::overlap_report(a, std::nextafter(needed.value, 0.0) * 0.001, row.b, &at));
        EXPECT_EQ(at.axis, needed.axis);
        EXPECT_GE(needed.axis, 1);
    }
    EXPECT_EQ(axes.size(), 15u);
    // A first gap that is not the distance needed: the first axis closes at 0.5, a cross axis
    // only later. The pair found at the start, a pair too far apart for any double and one with a
    // value that is no number need nothing or cannot be reached.
    {
        const double tilted[3][4] = {{s, -s, 0, 2.1}, {s, s, 0, 2.1}, {0, 0, 1, 0}};
        const kep_object3d_t b = cube(tilted, 0.5);
        kep::OverlapReport first;
        kep::overlap_report(a, 0.0, b, &first);
        kep::NeededDelta needed;
        kep::overlap_needed_delta(a, b, 0.0, 1.0, &needed);
        ASSERT_TRUE(needed.reachable);
        EXPECT_GT(needed.value, first.distance * 1.1) << "axis " << first.axis << " then " << needed.axis;
        kep::overlap_needed_delta(a, b, needed.value + 1, 1.0, &needed);
        EXPECT_TRUE(needed.reachable);
        EXPECT_EQ(needed.axis, 0);
        double far_rows[3][4] = {{1, 0, 0, 1e308}, {0, 1, 0, 0}, {0, 0, 1, 0}};
        kep::overlap_needed_delta(a, cube(far_rows, 0.5), 0.0, 0.001, &needed);  // 1e311 mm
        EXPECT_FALSE(needed.reachable);
        far_rows[0][3] = std::nan("");
        kep::overlap_needed_delta(a, cube(far_rows, 0.5), 0.0, 1.0, &needed);
        EXPECT_FALSE(needed.reachable);
    }
    // The face gap is exact: 2.5 - 1 - 0.5.
    kep::OverlapReport face;
    kep::overlap_report(a, 0.25, cube(shifted[0], 0.5), &face);
    EXPECT_EQ(face.axis, 1);
    EXPECT_NEAR(face.distance, 0.75, 1e-9);
}

// The explanation's numbers are written digit by digit where that gives printf's "%.9g" text, and
// by printf elsewhere, with "." as the decimal point whatever the locale; in JSON a value beyond
// the range of a double, or no number, is null.
TEST(Explain, WritesNumbersAsPrintfDoes) {
    const auto printf_text = [](double v) {
        char text[64];
        std::snprintf(text, sizeof text, "%.9g", v);
        return std::string(text);
    };
    const auto written = [](double v) {
        char text[kep::kNumberTextSize];
        const int length = kep::format_9g(v, text);
        EXPECT_EQ(length, static_cast<int>(std::strlen(text)));
        return std::string(text);
    };
    const double rows[] = {0.0,
                           -0.0,
                           1,
                           -1,
                           0.5,
                           0.1,
                           1.0 / 3,
                           -2.0 / 3,
                           0.0001,
                           9.99999999e-5,
                           0.000123456789,
                           0.00012345678950000001,
                           123456789,
                           123456789.5,
                           999999999.4,
                           999999999.5,
                           1e9,
                           0.9999999995,
                           99999999.95,
                           1e300,
                           -1e300,
                           1.7976931348623157e308,
                           2.2250738585072014e-308,
                           5e-324,
                           -5e-324,
                           HUGE_VAL,
                           -HUGE_VAL,
                           std::nan("")};
    for (const double v : rows) {
        EXPECT_EQ(written(v), printf_text(v)) << v;
    }
    std::mt19937_64 random(7);
    for (int i = 0; i < 200000; ++i) {
        const uint64_t bits = random();
        double v = 0;
        std::memcpy(&v, &bits, sizeof v);
        const double decimal = static_cast<double>(static_cast<int64_t>(bits % 2000000001) - 1000000000) /
                               std::pow(10.0, static_cast<double>(bits >> 60));
        for (const double value : {v, decimal, decimal + 5e-10, std::nextafter(decimal, 0.0)}) {
            ASSERT_EQ(written(value), printf_text(value)) << value;
        }
    }
    // Under a locale with another decimal point (of one byte or more), printf's text is made ".".
    const std::pair<std::string, std::string> points[] = {{"0,5", "0.5"},
                                                          {"-1,25e-05", "-1.25e-05"},
                                                          {"1\xd9\xab"
                                                           "5",
                                                           "1.5"},
                                                          {"3", "3"},
                                                          {"-inf", "-inf"},
                                                          {"nan", "nan"}};
    for (const auto& p : points) {
        char text[kep::kNumberTextSize];
        std::snprintf(text, sizeof text, "%s", p.first.c_str());
        EXPECT_EQ(kep::c_decimal_point(text, static_cast<int>(p.first.size())),
                  static_cast<int>(p.second.size()));
        EXPECT_EQ(std::string(text), p.second);
    }
    const double beyond[] = {HUGE_VAL, -HUGE_VAL, std::nan(""), 1e300, -0.0, 4e-13};
    EXPECT_EQ(kep::explain::json_numbers(beyond, 6), "[null, null, null, 1e+300, 0, 0]");
}

}  // namespace
}  // namespace explain_test
