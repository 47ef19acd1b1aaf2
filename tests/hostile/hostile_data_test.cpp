// Site data no engineer meant: names of 100,000 characters, structures 5,000 levels deep, matrix
// texts with 15 numbers or a decimal comma, preferences whose value is the empty text. The line
// properties and the services give defined answers over them and leave nothing behind.
#include <lookup/kep_lookup.h>

#include <string>
#include <vector>

#include "hostile_site.h"

namespace hostile_test {
namespace {

using sweep_test::sweep_site_post_actions;

const size_t kLong = 100000;

// Every id, item id, occurrence name and dataset name that the deep paths compare made 100,000
// characters longer. The answers are those of the short names.
TEST_F(HostileTest, NamesOf100000CharactersAnswerLikeShortOnes) {
    ASSERT_NO_FATAL_FAILURE(bind_sweep_site());
    const Answers short_names = ask_everything();
    expect_nothing_left();

    // JTPART is a reference name, not a name of the data: kept out of the way.
    std::string json = replaced(sweep_site_post_actions(), "JTPART", "\x01");
    json = replaced(json, "PART", "PART" + std::string(kLong, 'p'));
    json = replaced(json, "\x01", "JTPART");
    json = replaced(json, "LEAF1", "LEAF1" + std::string(kLong, 'l'));
    json = replaced(json, "SUB", "SUB" + std::string(kLong, 's'));
    ASSERT_NO_FATAL_FAILURE(bind(json));
    // The log cuts long messages; have it write them.
    set_switches(nullptr, "ON", "ON");
    const Answers long_names = ask_everything();
    EXPECT_EQ(long_names, short_names);
    EXPECT_NE(long_names.jt.value, "<null>");
    expect_nothing_left();
}

// A dataset type preference of 100,000 characters names no type (type names are at most 32
// characters): the leaf has no 3D geometry then, hence no box, but its mod-on JT is found.
TEST_F(HostileTest, APreferenceValueOf100000CharactersMatchesNothing) {
    ASSERT_NO_FATAL_FAILURE(bind_sweep_site());
    const Answers before = ask_everything();
    standin::set_preference(KEP_PREF_PART_DATASET_TYPE, {"Part3D" + std::string(kLong, 'c')});
    const Answers after = ask_everything();
    EXPECT_EQ(after.jt, before.jt);
    EXPECT_EQ(after.volume.status, 0);
    for (const std::string& line : after.volume.lines) {
        EXPECT_NE(line, "leaf");
        EXPECT_NE(line, "leafp");
    }
    expect_nothing_left();
}

// A chain of n lines below the top line: l1 ... l<n-1> on a revision with nothing attached, the
// last one on part/A, placed by a part mod-on dataset of the top line's revision whose path
// lists all n-1 occurrence names. With product mod-on preferences (product = true), the top line
// also carries a product representation of l<n-2> that places l<n-1>.
std::string deep_site(int n, bool product) {
    std::string path;  // occurrence names from the deepest line up to the top line's child
    for (int i = n - 1; i >= 1; --i) {
        path += std::string(path.empty() ? "" : ", ") + "\"O" + std::to_string(i) + "\"";
    }
    std::string parent_path;  // the same for the deepest line's parent
    for (int i = n - 2; i >= 1; --i) {
        parent_path += std::string(parent_path.empty() ? "" : ", ") + "\"O" + std::to_string(i) + "\"";
    }
    std::string json = R"({
  "platform": { "search_scope": 4 },
  "types": { "Part3D": "Dataset", "Assembly3D": "Dataset", "DirectModel": "Dataset", "KEPModOnPart": "Dataset",
             "KEPModOnProduct": "Dataset", "KEPModOnInfoForm": "Form", "BBForm": "Form", "JtFile": "Form" },
  "preferences": {
    "KEPAltRepList": ["MASTER", "LOD1"],
    "KEPModOnPartDatasetRelation": "KEPModOnPartRel", "KEPModOnPartDatasetType": "KEPModOnPart",
    "KEPPartDatasetType": "Part3D", "KEPModelDatasetType": "Model3D", "KEPCgrDatasetType": "Tess3D",
    "KEPRepDatasetType": "Rep3D", "KEPProductDatasetRelation": "IMAN_specification",
    "KEPProductDatasetType": "Assembly3D")";
    if (product) {
        json += R"(, "KEPModOnProductDatasetRelation": "KEPModOnProductRel",
    "KEPModOnProductDatasetType": "KEPModOnProduct")";
    }
    json += R"( },
  "objects": {
    "asm/A": { "type": "ItemRevision", "item_id": "ASM" },
    "link/A": { "type": "ItemRevision", "item_id": "LINK" },
    "part/A": { "type": "ItemRevision", "item_id": "PART" },
    "ds_part": { "type": "Part3D", "name": "PART/A", "refs": { "VAR2BBInfo": ["bb_part"] } },
    "mp_deep": { "type": "KEPModOnPart", "name": "ASM.PART.1",
                 "refs": { "KEPModOnInfo": ["fi_deep"], "VAR2BBInfo": ["bb_mp"] } },
    "fi_deep": { "type": "KEPModOnInfoForm", "attributes": { "var2_way_to_root": [)" +
            path + R"(] } },
    "mo_deep": { "type": "KEPModOnProduct", "name": "ASM.LINK.1", "refs": { "KEPModOnInfo": ["fi_parent"] } },
    "fi_parent": { "type": "KEPModOnInfoForm", "attributes": { "var2_way_to_root": [)" +
            parent_path + R"(],
      "var2_child_instname": ["O)" +
            std::to_string(n - 1) + R"("],
      "var2_child_matrix": ["1 0 0 0 0 1 0 0 0 0 1 0 0 0 7 1"] } },
    "dm_deep": { "type": "DirectModel", "name": "ASM.PART.1", "refs": { "JTPART": ["jt_deep"] } },
    "jt_deep": { "type": "JtFile" },
    "bb_part": { "type": "BBForm", "attributes": { "var2_bb_x1": 0, "var2_bb_y1": 0, "var2_bb_z1": 0,
                                                   "var2_bb_x2": 0.1, "var2_bb_y2": 0.1, "var2_bb_z2": 0.1 } },
    "bb_mp": { "type": "BBForm", "attributes": { "var2_bb_x1": 0, "var2_bb_y1": 0, "var2_bb_z1": 0,
                                                 "var2_bb_x2": 0.3, "var2_bb_y2": 0.3, "var2_bb_z2": 0.3 } }
  },
  "relation_types": ["KEPModOnPartRel", "KEPModOnProductRel"],
  "relations": [ ["asm/A", "KEPModOnPartRel", "mp_deep"], ["asm/A", "KEPModOnProductRel", "mo_deep"],
                 ["asm/A", "IMAN_Rendering", "dm_deep"], ["part/A", "IMAN_specification", "ds_part"] ],
  "windows": { "w1": { "id": "top", "revision": "asm/A", "children": [)";
    for (int i = 1; i < n; ++i) {
        json += "{ \"id\": \"l" + std::to_string(i) + "\", \"revision\": \"" +
                (i == n - 1 ? "part/A" : "link/A") + "\", \"occurrence_name\": \"O" + std::to_string(i) +
                "\"" + (i < n - 1 ? ", \"children\": [" : "");
    }
    for (int i = n - 1; i >= 1; --i) {
        json += i > 1 ? " }]" : " }";
    }
    json += "] } }\n}";
    return json;
}

const int kDepth = 5000;

TEST_F(HostileTest, AStructure5000LevelsDeepIsWalkedWhole) {
    ASSERT_NO_FATAL_FAILURE(bind(deep_site(kDepth, false)));
    const std::string deepest = "l" + std::to_string(kDepth - 1);
    ASSERT_NE(tag(deepest), NULLTAG);

    // The mod-on host is the top line, 4,999 levels up: the way-to-root list outgrows any
    // fixed number of slots.
    EXPECT_EQ(read_tag(deepest, "bl_jt_dataset_tag"), (TextAnswer{0, "jt_deep"}));
    expect_nothing_left();

    // Only the deepest line has a box; the whole window is walked to find it.
    EXPECT_EQ(volume(tag("w1"), 1.0, {-1, -1, -1, 1, 1, 1}), (ServiceAnswer{0, true, {deepest}}));
    EXPECT_EQ(neighbours(tag("w1"), 1.0, {tag(deepest)}), (ServiceAnswer{0, false, {}}));
    expect_nothing_left();

    // Without product mod-on preferences the transforms stay the platform's.
    EXPECT_EQ(read_text(deepest, "bl_plmxml_occ_xform").status, 0);
    EXPECT_EQ(read_text(deepest, "bl_plmxml_abs_xform").status, 0);
    expect_nothing_left();
}

TEST_F(HostileTest, AnOccurrenceTransformFrom4998LevelsUp) {
    ASSERT_NO_FATAL_FAILURE(bind(deep_site(kDepth, true)));
    const std::string deepest = "l" + std::to_string(kDepth - 1);
    EXPECT_EQ(read_text(deepest, "bl_plmxml_occ_xform"), (TextAnswer{0, "1 0 0 0 0 1 0 0 0 0 1 0 0 0 7 1"}));
    expect_nothing_left();
}

// A transform text with 15 numbers is passed on as it stands where the value is a text, and
// counts as the identity where it must be read; a decimal comma stops the reading.
TEST_F(HostileTest, MatrixTextsWith15NumbersOrADecimalComma) {
    std::string json = sweep_site_post_actions();
    json =
        replaced(json, R"("0 1 0 0 -1 0 0 0 0 0 1 0 0 0.75 0 1")", R"("0 1 0 0 -1 0 0 0 0 0 1 0 0 0.75 0")");
    ASSERT_NE(json, sweep_site_post_actions());
    ASSERT_NO_FATAL_FAILURE(bind(json));
    EXPECT_EQ(read_text("leaf", "bl_plmxml_occ_xform"), (TextAnswer{0, "0 1 0 0 -1 0 0 0 0 0 1 0 0 0.75 0"}));
    // top x sub (0, 0, 1) x mid (rotated, (1, 0, 0)) x the identity for leaf.
    EXPECT_EQ(read_text("leaf", "bl_plmxml_abs_xform"), (TextAnswer{0, "0 1 0 0 -1 0 0 0 0 0 1 0 1 0 1 1"}));
    expect_nothing_left();

    // bare sits at (3, 0, 0) below sub; with a comma in its x it sits where sub is.
    const std::vector<double> where_bare_belongs = {4.5, 0, 2, 4.8, 0.2, 2.2};
    EXPECT_EQ(volume(tag("w1"), 0.0, where_bare_belongs), (ServiceAnswer{0, true, {"bare"}}));
    const std::string comma = "1 0 0 0 0 1 0 0 0 0 1 0 3,0 0 0 1";
    json = replaced(json, "1 0 0 0 0 1 0 0 0 0 1 0 3 0 0 1", comma);
    ASSERT_NO_FATAL_FAILURE(bind(json));
    EXPECT_EQ(volume(tag("w1"), 0.0, where_bare_belongs), (ServiceAnswer{0, false, {}}));
    EXPECT_EQ(read_text("bare", "bl_plmxml_occ_xform"), (TextAnswer{0, comma}));
    expect_nothing_left();
}

// A preference whose value is the empty text counts as missing, for every single-valued key the
// system reads; a list that holds one empty text gives defined answers as well.
TEST_F(HostileTest, EmptyPreferenceValuesCountAsMissing) {
    const char* const single_keys[] = {
        KEP_PREF_USE_ALT_REP_FILTER,         KEP_PREF_MODON_PART_DATASET_RELATION,
        KEP_PREF_MODON_PART_DATASET_TYPE,    KEP_PREF_MODON_PRODUCT_DATASET_RELATION,
        KEP_PREF_MODON_PRODUCT_DATASET_TYPE, KEP_PREF_PART_DATASET_TYPE,
        KEP_PREF_MODEL_DATASET_TYPE,         KEP_PREF_CGR_DATASET_TYPE,
        KEP_PREF_REP_DATASET_TYPE,           KEP_PREF_AUX_PART_DATASET_TYPE,
        KEP_PREF_AUX_MODEL_DATASET_TYPE,     KEP_PREF_AUX_CGR_DATASET_TYPE,
        KEP_PREF_AUX_REP_DATASET_TYPE,       KEP_PREF_ARCHIVE_DATASET_TYPE,
        KEP_PREF_PRODUCT_DATASET_RELATION,   KEP_PREF_PRODUCT_DATASET_TYPE};
    for (const char* key : single_keys) {
        SCOPED_TRACE(key);
        ASSERT_NO_FATAL_FAILURE(bind_sweep_site());
        standin::set_preference(key, {});
        const Answers missing = ask_everything();
        standin::set_preference(key, {""});
        const Answers empty = ask_everything();
        EXPECT_EQ(empty, missing);
        EXPECT_EQ(empty.occ.status + empty.abs.status + empty.jt.status + empty.volume.status, 0);
        expect_nothing_left();
    }
    for (const char* key : {KEP_PREF_ALT_REP_LIST, KEP_PREF_ACTUAL_ALT_REP_LIST}) {
        SCOPED_TRACE(key);
        ASSERT_NO_FATAL_FAILURE(bind_sweep_site());
        standin::set_preference(key, {""});
        const Answers a = ask_everything();
        EXPECT_EQ(a.occ.status + a.abs.status + a.jt.status + a.volume.status + a.neighbours.status, 0);
        expect_nothing_left();
    }
}

}  // namespace
}  // namespace hostile_test
