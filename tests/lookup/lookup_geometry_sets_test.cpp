// The geometry dataset sets of a line: which objects each set holds, the messages of missing
// preferences, and the statement texts of every traced call.
#include <base_utils/Mem.h>

#include <functional>
#include <sstream>

#include "lookup_site.h"

namespace lookup_test {
namespace {

using GeometrySetsTest = LookupTest;
using SetFunction = int (*)(tag_t, tag_t**, int*);

// One set of one line, and what it is expected to hold.
struct SetCase {
    const char* label;
    SetFunction fn;
    const char* line;
    std::vector<std::string> expected;
};

// The statement texts of a console trace, in order, without the indentation.
std::vector<std::string> statements(const std::string& console) {
    std::vector<std::string> out;
    std::istringstream lines(console);
    std::string line;
    const std::string marker = "executing [";
    while (std::getline(lines, line)) {
        const size_t at = line.find(marker);
        if (at == std::string::npos) {
            continue;
        }
        const size_t first = line.find_first_not_of(' ', at + marker.size());
        const size_t last = line.find_last_not_of(' ', line.size() - 2);  // before the closing "]"
        out.push_back(line.substr(first, last - first + 1));
    }
    return out;
}

// The structure set of a line under whose relation nothing is listed: status 0, no result, and of
// the two keys only the relation is read.
void expect_no_structure_set(tag_t line) {
    standin::reset_counters();
    tag_t* result = nullptr;
    int count = 0;
    EXPECT_EQ(kep_get_structure_for_bomline(line, &result, &count), 0);
    EXPECT_EQ(result, nullptr);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(standin::call_count("PREF_ask_value_count"), 1);  // the type is not read
}

TEST_F(GeometrySetsTest, SetsOfALine) {
    const SetCase cases[] = {
        {"3D set: four types under any relation",
         kep_get_3dgeo_for_bomline,
         "l_part",
         {"ds_part", "ds_model", "ds_tess", "ds_rep"}},
        {"auxiliary set: five types under any relation",
         kep_get_auxgeo_for_bomline,
         "l_part",
         {"ds_model", "ds_tess", "ds_aux", "ds_archive", "ds_rep"}},
        {"structure set: one type under one relation only",
         kep_get_structure_for_bomline,
         "top",
         {"ds_prod"}},
        {"structure set: nothing of the type under the relation",
         kep_get_structure_for_bomline,
         "l_part",
         {}},
        {"3D set of an assembly revision", kep_get_3dgeo_for_bomline, "top", {"ds_asm_part"}},
    };
    set_all_preferences();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        tag_t* result = nullptr;
        int count = 0;
        EXPECT_EQ(c.fn(tag(c.line), &result, &count), 0);
        EXPECT_EQ(ids(result, count), c.expected);
        MEM_free(result);
        EXPECT_EQ(standin::search_scope(), 4);
        expect_clean();
    }
}

TEST_F(GeometrySetsTest, EqualTypeNamesListADatasetOnce) {
    for (const char* key : {KEP_PREF_PART_DATASET_TYPE, KEP_PREF_MODEL_DATASET_TYPE,
                            KEP_PREF_CGR_DATASET_TYPE, KEP_PREF_REP_DATASET_TYPE}) {
        standin::set_preference(key, {"Tess3D"});
    }
    tag_t* result = nullptr;
    int count = 0;
    EXPECT_EQ(kep_get_3dgeo_for_bomline(tag("l_part"), &result, &count), 0);
    EXPECT_EQ(ids(result, count), std::vector<std::string>{"ds_tess"});
    MEM_free(result);
    expect_clean();
}

// Without attached objects there is nothing to filter: no type preference is read (they are not
// even defined here), nothing is logged, and the results keep what the caller put in them.
TEST_F(GeometrySetsTest, RevisionWithoutAttachedObjectsReadsNoTypePreferences) {
    for (SetFunction fn : {kep_get_3dgeo_for_bomline, kep_get_auxgeo_for_bomline}) {
        standin::reset_counters();
        tag_t untouched[1] = {0};
        tag_t* result = untouched;
        int count = -7;
        EXPECT_EQ(fn(tag("l_bare"), &result, &count), 0);
        EXPECT_EQ(result, untouched);
        EXPECT_EQ(count, -7);
        EXPECT_EQ(standin::call_count("PREF_ask_value_count"), 0);
        EXPECT_EQ(standin::call_count("TCTYPE_ask_object_type"), 0);
        expect_clean();
    }
    // The structure set reads its relation first, but no type when nothing is under it.
    standin::set_preference(KEP_PREF_PRODUCT_DATASET_RELATION, {"IMAN_specification"});
    expect_no_structure_set(tag("l_bare"));
    expect_clean();
}

struct MissingCase {
    const char* label;
    SetFunction fn;
    const char* line;
    const char* unset_key;
    const char* empty_key;  // set to the empty text instead of unset (or null)
    std::string console;
};

std::string pref_found(const char* key, const char* value) {
    return std::string("    >>> kep_get_preference\n        preference[") + key + "]=[" + value +
           "] \n    <<< kep_get_preference\n";
}
std::string pref_missing(const char* key) {
    return std::string("    >>> kep_get_preference\n        preference[") + key +
           "] not found \n    <<< kep_get_preference\n";
}
std::string pref_empty(const char* key) { return pref_found(key, ""); }
const std::string kDatasets = "    >>> kep_get_datasets\n    <<< kep_get_datasets\n";
const std::string kFilter = "    >>> kep_filter_datasets\n    <<< kep_filter_datasets\n";

// A missing or empty key: its message (the structure set's without a line end, so the exit line
// continues it), no further preference read, status 0, results untouched.
TEST_F(GeometrySetsTest, MissingPreferences) {
    const MissingCase cases[] = {
        {"3D set, model type undefined", kep_get_3dgeo_for_bomline, "l_part", KEP_PREF_MODEL_DATASET_TYPE,
         nullptr,
         ">>> kep_get_3dgeo_for_bomline\n" + kDatasets + pref_found("KEPPartDatasetType", "Part3D") +
             pref_missing("KEPModelDatasetType") +
             "    Could not retrieve preference for KEPModelDatasetType\n"
             "<<< kep_get_3dgeo_for_bomline\n"},
        {"3D set, part type empty", kep_get_3dgeo_for_bomline, "l_part", nullptr, KEP_PREF_PART_DATASET_TYPE,
         ">>> kep_get_3dgeo_for_bomline\n" + kDatasets + pref_empty("KEPPartDatasetType") +
             "    Could not retrieve preference for KEPPartDatasetType\n"
             "<<< kep_get_3dgeo_for_bomline\n"},
        {"auxiliary set, archive type undefined", kep_get_auxgeo_for_bomline, "l_part",
         KEP_PREF_ARCHIVE_DATASET_TYPE, nullptr,
         ">>> kep_get_auxgeo_for_bomline\n" + kDatasets + pref_found("KEPAuxPartDatasetType", "AuxPart") +
             pref_found("KEPAuxModelDatasetType", "Model3D") + pref_found("KEPAuxCgrDatasetType", "Tess3D") +
             pref_found("KEPAuxRepDatasetType", "Rep3D") + pref_missing("KEPArchiveDatasetType") +
             "    Could not retrieve preference for KEPArchiveDatasetType\n"
             "<<< kep_get_auxgeo_for_bomline\n"},
        {"structure set, relation undefined", kep_get_structure_for_bomline, "top",
         KEP_PREF_PRODUCT_DATASET_RELATION, nullptr,
         ">>> kep_get_structure_for_bomline\n" + pref_missing("KEPProductDatasetRelation") +
             "    Could not retrieve preference for KEPProductDatasetRelation"
             "<<< kep_get_structure_for_bomline\n"},
        {"structure set, type empty", kep_get_structure_for_bomline, "top", nullptr,
         KEP_PREF_PRODUCT_DATASET_TYPE,
         ">>> kep_get_structure_for_bomline\n" +
             pref_found("KEPProductDatasetRelation", "IMAN_specification") + kDatasets +
             pref_empty("KEPProductDatasetType") +
             "    Could not retrieve preference for KEPProductDatasetType"
             "<<< kep_get_structure_for_bomline\n"},
    };
    for (const MissingCase& c : cases) {
        SCOPED_TRACE(c.label);
        ASSERT_NO_FATAL_FAILURE(load_site(site_json()));
        kep_support_reset_state();
        set_switches("ON", nullptr, nullptr);
        set_all_preferences();
        if (c.unset_key != nullptr) {
            standin::set_preference(c.unset_key, {});
        }
        if (c.empty_key != nullptr) {
            standin::set_preference(c.empty_key, {""});
        }
        tag_t* result = nullptr;
        int count = 0;
        int status = -1;
        const std::string console = capture_console([&] { status = c.fn(tag(c.line), &result, &count); });
        EXPECT_EQ(status, 0);
        EXPECT_EQ(result, nullptr);
        EXPECT_EQ(count, 0);
        EXPECT_EQ(console, c.console);
        expect_clean();
    }
}

// The structure set asks only under its relation: a relation the platform does not know lists
// nothing, rather than everything attached to the revision.
TEST_F(GeometrySetsTest, MisspeltStructureRelationListsNothing) {
    set_all_preferences();
    standin::set_preference(KEP_PREF_PRODUCT_DATASET_RELATION, {"IMAN_Specification"});
    expect_no_structure_set(tag("top"));
    EXPECT_EQ(standin::call_count("GRM_list_secondary_objects_only"), 0);
    expect_clean();
}

TEST_F(GeometrySetsTest, LineWithoutRevision) {
    struct Case {
        SetFunction fn;
        const char* tail;
    } cases[] = {
        {kep_get_3dgeo_for_bomline, "    Could not retrieve primary object\n<<< kep_get_3dgeo_for_bomline\n"},
        {kep_get_auxgeo_for_bomline,
         "    Could not retrieve primary object\n<<< kep_get_auxgeo_for_bomline\n"},
        {kep_get_structure_for_bomline,
         "    Could not retrieve primary object<<< kep_get_structure_for_bomline\n"},
    };
    set_switches("ON", nullptr, nullptr);
    set_all_preferences();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.tail);
        // The null handle names no line: the revision lookup fails.
        tag_t* result = nullptr;
        int count = 0;
        int status = 0;
        const std::string console = capture_console([&] { status = c.fn(NULLTAG, &result, &count); });
        EXPECT_NE(status, 0);
        ASSERT_GE(console.size(), std::string(c.tail).size());
        EXPECT_EQ(console.substr(console.size() - std::string(c.tail).size()), c.tail);
        EXPECT_EQ(result, nullptr);
        standin::clear_faults();
        EMH_clear_errors();
        expect_clean();
    }
}

std::vector<std::string> pref_statements() {
    return {"PREF_ask_search_scope(&current_scope)", "PREF_set_search_scope(TC_preference_all)",
            "PREF_ask_value_count(pref_name, &value_count)", "PREF_ask_char_value(pref_name, 0, pref_value)",
            "PREF_set_search_scope(current_scope)"};
}

void append(std::vector<std::string>& to, const std::vector<std::string>& more) {
    to.insert(to.end(), more.begin(), more.end());
}

std::vector<std::string> type_queries(int n) {
    std::vector<std::string> out;
    for (int i = 0; i < n; ++i) {
        append(out, {"TCTYPE_ask_object_type (datasets[i], &dataset_type)",
                     "TCTYPE_ask_name(dataset_type, current_type_name)"});
    }
    return out;
}

std::vector<std::string> geometry_statements(const std::vector<std::string>& keys,
                                             const std::vector<std::string>& vars, const std::string& filter,
                                             int objects) {
    std::vector<std::string> out = {
        "BOM_line_look_up_attribute(bomAttr_lineItemRevTag,&revision_tag_attr)",
        "BOM_line_ask_attribute_tag(bomline_object_tag, revision_tag_attr, &primary_object)",
        "kep_get_datasets(primary_object, NULL, &datasets, &count_datasets)",
        "GRM_list_secondary_objects_only(object, relation_type, count_datasets, datasets)"};
    for (size_t i = 0; i < keys.size(); ++i) {
        out.push_back("kep_get_preference(\"" + keys[i] + "\", &" + vars[i] + ")");
        append(out, pref_statements());
    }
    out.push_back(filter);
    append(out, type_queries(objects));
    return out;
}

TEST_F(GeometrySetsTest, StatementTexts) {
    std::vector<std::string> structure = {
        "BOM_line_look_up_attribute(bomAttr_lineItemRevTag,&revision_tag_attr)",
        "BOM_line_ask_attribute_tag(bomline_object_tag, revision_tag_attr, &primary_object)",
        "kep_get_preference(\"KEPProductDatasetRelation\", &relation_structure)"};
    append(structure, pref_statements());
    append(structure, {"kep_get_datasets(primary_object, relation_structure, &datasets, &count_datasets)",
                       "GRM_find_relation_type(relation, &relation_type)",
                       "GRM_list_secondary_objects_only(object, relation_type, count_datasets, datasets)",
                       "kep_get_preference(\"KEPProductDatasetType\", &type_structure)"});
    append(structure, pref_statements());
    structure.push_back(
        "kep_filter_datasets(datasets, count_datasets, type_structure, datasets_structure, "
        "count_datasets_structure)");
    append(structure, type_queries(2));

    const SetCase cases[] = {
        {"3D set", kep_get_3dgeo_for_bomline, "l_part",
         geometry_statements(
             {"KEPPartDatasetType", "KEPModelDatasetType", "KEPCgrDatasetType", "KEPRepDatasetType"},
             {"type_part", "type_model", "type_cgr", "type_rep"},
             "kep_filter_datasets2(datasets, count_datasets, (const char **)type_array, 4, "
             "datasets_3dgeo, count_datasets_3dgeo)",
             8)},
        {"auxiliary set", kep_get_auxgeo_for_bomline, "l_part",
         geometry_statements({"KEPAuxPartDatasetType", "KEPAuxModelDatasetType", "KEPAuxCgrDatasetType",
                              "KEPAuxRepDatasetType", "KEPArchiveDatasetType"},
                             {"type_part", "type_model", "type_cgr", "type_rep", "type_archive"},
                             "kep_filter_datasets2(datasets, count_datasets, (const char **)type_array, 5, "
                             "datasets_auxgeo, count_datasets_auxgeo)",
                             8)},
        {"structure set", kep_get_structure_for_bomline, "top", structure},
    };
    set_all_preferences();
    console_with_trace();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        tag_t* result = nullptr;
        int count = 0;
        const std::string console =
            capture_console([&] { EXPECT_EQ(c.fn(tag(c.line), &result, &count), 0); });
        MEM_free(result);
        EXPECT_EQ(statements(console), c.expected);
        expect_clean();
    }
}

}  // namespace
}  // namespace lookup_test
