// Related objects of a revision, the two type filters and the parent of a line.
#include <base_utils/Mem.h>

#include <climits>

#include "base/kep_status.h"
#include "lookup_site.h"

namespace lookup_test {
namespace {

using DatasetsTest = LookupTest;

const std::vector<std::string> kAllOfPart = {"ds_part", "ds_model", "ds_lower",   "form1",
                                             "ds_tess", "ds_aux",   "ds_archive", "ds_rep"};

TEST_F(DatasetsTest, RelatedObjectsByRelation) {
    struct Case {
        const char* label;
        const char* relation;
        std::vector<std::string> expected;
        long relation_lookups;
    } cases[] = {
        {"null relation: every relation", nullptr, kAllOfPart, 0},
        {"empty relation: every relation", "", kAllOfPart, 0},
        {"one relation", "IMAN_specification", {"ds_part", "ds_lower", "ds_tess", "ds_archive"}, 1},
        {"relation with one object", "IMAN_Rendering", {"ds_model"}, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        standin::reset_counters();
        tag_t* list = reinterpret_cast<tag_t*>(1);
        int count = -1;
        EXPECT_EQ(kep_get_datasets(tag("part/A"), c.relation, &list, &count), 0);
        EXPECT_EQ(ids(list, count), c.expected);
        EXPECT_EQ(standin::call_count("GRM_find_relation_type"), c.relation_lookups);
        MEM_free(list);
        expect_clean();
    }
}

// The platform answers an unknown relation name with the null type, which would list the objects
// under every relation. A misspelt relation must list nothing instead.
TEST_F(DatasetsTest, UnknownRelationListsNothing) {
    set_switches("ON", nullptr, nullptr);
    standin::reset_counters();
    tag_t* list = reinterpret_cast<tag_t*>(1);
    int count = -1;
    int status = -1;
    const std::string console = capture_console(
        [&] { status = kep_get_datasets(tag("part/A"), "IMAN_specificaton", &list, &count); });
    EXPECT_EQ(status, 0);
    EXPECT_EQ(list, nullptr);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(standin::call_count("GRM_list_secondary_objects_only"), 0);
    EXPECT_EQ(console,
              ">>> kep_get_datasets\n"
              "    relation type [IMAN_specificaton] not found, no related objects listed\n"
              "<<< kep_get_datasets\n");
    expect_clean();
}

TEST_F(DatasetsTest, FilterByTypeNames) {
    struct Case {
        const char* label;
        std::vector<std::string> input;
        std::vector<const char*> types;  // one name: kep_filter_datasets as well
        std::vector<std::string> expected;
        int type_count = -1;  // names that count; -1: all of them
        int count = -1;       // the count passed; -1: the input's size
        int status = 0;
    } cases[] = {
        {"exact name, input order kept", kAllOfPart, {"Part3D"}, {"ds_part"}},
        {"name differing in case is not kept", {"ds_lower", "ds_part"}, {"part3d"}, {"ds_lower"}},
        {"prefix of a name is not kept", {"ds_part"}, {"Part3"}, {}},
        {"any kind of object, by type name", kAllOfPart, {"BBForm"}, {"form1"}},
        {"several names", kAllOfPart, {"Tess3D", "Part3D", "Archive"}, {"ds_part", "ds_tess", "ds_archive"}},
        {"two equal names keep a dataset once", kAllOfPart, {"Model3D", "Model3D"}, {"ds_model"}},
        {"same dataset twice in the input stays twice",
         {"ds_tess", "ds_tess"},
         {"Tess3D"},
         {"ds_tess", "ds_tess"}},
        {"nothing matches", kAllOfPart, {"DirectModel"}, {}},
        {"empty input", {}, {"Part3D"}, {}},
        {"only the first type_count names count", kAllOfPart, {"Part3D", "Tess3D"}, {"ds_part"}, 1},
        // The result's byte size does not fit the allocator's int: no memory, and nothing is asked.
        {"count whose block size overflows",
         {"ds_part"},
         {"Part3D"},
         {},
         -1,
         INT_MAX / static_cast<int>(sizeof(tag_t)) + 1,
         KEP_STATUS_NO_MEMORY},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        const std::vector<tag_t> input = tags(c.input);
        const int count_in = c.count < 0 ? static_cast<int>(input.size()) : c.count;
        tag_t* kept = reinterpret_cast<tag_t*>(1);
        int count = -1;
        const int type_count = c.type_count < 0 ? static_cast<int>(c.types.size()) : c.type_count;
        standin::reset_counters();
        EXPECT_EQ(kep_filter_datasets2(input.data(), count_in, const_cast<const char**>(c.types.data()),
                                       type_count, &kept, &count),
                  c.status);
        if (c.status != 0) {
            // No result, no block asked for, no type asked.
            EXPECT_EQ(kept, nullptr);
            EXPECT_EQ(count, 0);
            kept = reinterpret_cast<tag_t*>(1);
            EXPECT_EQ(kep_filter_datasets(input.data(), count_in, c.types[0], &kept, &count), c.status);
            EXPECT_EQ(kept, nullptr);
            EXPECT_EQ(standin::call_count("MEM_alloc"), 0);
            EXPECT_EQ(standin::call_count("TCTYPE_ask_object_type"), 0);
            EXPECT_TRUE(standin::errors().empty());
            expect_clean();
            continue;
        }
        EXPECT_EQ(ids(kept, count), c.expected);
        // The result is always an allocated block, also when nothing is kept.
        EXPECT_NE(kept, nullptr);
        MEM_free(kept);
        if (c.types.size() == 1) {
            kept = nullptr;
            count = -1;
            EXPECT_EQ(
                kep_filter_datasets(input.data(), static_cast<int>(input.size()), c.types[0], &kept, &count),
                0);
            EXPECT_EQ(ids(kept, count), c.expected);
            EXPECT_NE(kept, nullptr);
            MEM_free(kept);
        }
        EXPECT_TRUE(standin::errors().empty());
        expect_clean();
    }
}

// A failed type query ends the filtering; what was kept before it is handed out.
TEST_F(DatasetsTest, FailedTypeQueryKeepsWhatWasFound) {
    const std::vector<tag_t> input = tags({"ds_part", "ds_model", "ds_tess", "ds_asm_part"});
    const char* types[] = {"Part3D", "Tess3D"};
    standin::fail_object("TCTYPE_ask_object_type", tag("ds_tess"), 31);
    standin::reset_counters();
    tag_t* kept = nullptr;
    int count = -1;
    EXPECT_EQ(kep_filter_datasets2(input.data(), 4, types, 2, &kept, &count), 31);
    EXPECT_EQ(ids(kept, count), std::vector<std::string>{"ds_part"});
    EXPECT_EQ(standin::call_count("TCTYPE_ask_object_type"), 3);  // ds_asm_part is not asked
    EXPECT_EQ(standin::call_count("TCTYPE_ask_name"), 2);
    EXPECT_TRUE(standin::errors().empty());
    MEM_free(kept);
    expect_clean();
}

TEST_F(DatasetsTest, ParentOfALine) {
    struct Case {
        const char* line;
        const char* parent;  // "" for the null handle
    } cases[] = {{"l_part", "top"}, {"l_bare", "top"}, {"top", ""}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        tag_t parent = 12345;
        EXPECT_EQ(kep_get_parent(tag(c.line), &parent), 0);
        EXPECT_EQ(standin::id_of(parent), c.parent);
        if (c.parent[0] == '\0') {
            EXPECT_EQ(parent, NULLTAG);
        }
        expect_clean();
    }
}

TEST_F(DatasetsTest, FailedParentLookupGivesNullAndClearsErrors) {
    standin::fail_call("BOM_line_ask_attribute_tag", 1, 55);
    tag_t parent = 12345;
    EXPECT_EQ(kep_get_parent(tag("l_part"), &parent), 55);
    EXPECT_EQ(parent, NULLTAG);
    EXPECT_TRUE(standin::errors().empty());
    expect_clean();
}

TEST_F(DatasetsTest, GoldenTraceOfParentLookup) {
    console_with_trace();
    tag_t parent = NULLTAG;
    const std::string console =
        capture_console([&] { EXPECT_EQ(kep_get_parent(tag("l_part"), &parent), 0); });
    EXPECT_EQ(
        console,
        ">>> kep_get_parent\n"
        "    executing [    BOM_line_look_up_attribute(bomAttr_lineParentTag, &parent_tag_attr)    ]\n"
        "    executing [    BOM_line_ask_attribute_tag(object_tag, parent_tag_attr, &parent_object)    ]\n"
        "<<< kep_get_parent\n");
}

}  // namespace
}  // namespace lookup_test
