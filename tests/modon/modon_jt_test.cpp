// The JT dataset tag value: every outcome of the representation and rendering dataset search, the
// mod-on host as carrier, the structure-dataset rule, missing preferences and the exact trace.
#include <base_utils/Mem.h>

#include <array>
#include <map>
#include <sstream>

#include "modon_site.h"

namespace modon_test {
namespace {

// An object of the site: id, type, name and its named references (reference name, ids).
struct Obj {
    std::string id;
    std::string type;
    std::string name;
    std::string ref_name;  // "" for none
    Strings refs;
};
// [primary, relation, secondary]
using Relation = std::array<std::string, 3>;

// top (TOP) / a (ASM, "A") / p (PART, "P1")
//                          \ s (SUB, "S") / q (PART, "Q1")
// The JT reference objects jt1 ... jt4 and "orig" (the value a line comes with) always exist.
std::string jt_site(const std::vector<Obj>& objects, const std::vector<Relation>& relations,
                    const std::map<std::string, Strings>& preferences = {}) {
    std::map<std::string, Strings> prefs = {
        {"KEPModOnPartDatasetRelation", {"ModOnPartRel"}},
        {"KEPModOnPartDatasetType", {"ModOnPart"}},
        {"KEPPartDatasetType", {"Part3D"}},
        {"KEPModelDatasetType", {"Model3D"}},
        {"KEPCgrDatasetType", {"Tess3D"}},
        {"KEPRepDatasetType", {"Rep3D"}},
        {"KEPProductDatasetRelation", {"IMAN_specification"}},
        {"KEPProductDatasetType", {"Assembly3D"}},
        {"KEPAltRepList", {"MASTER", "LOD1"}},
    };
    for (const auto& p : preferences) {
        prefs[p.first] = p.second;
    }
    std::string pref_text;
    for (const auto& p : prefs) {
        if (!p.second.empty()) {
            pref_text += (pref_text.empty() ? "" : ", ") + quoted(p.first) + ": " + json_list(p.second);
        }
    }
    std::string object_text =
        R"("top/A": {"type": "ItemRevision", "item_id": "TOP"},
           "asm/A": {"type": "ItemRevision", "item_id": "ASM"},
           "sub/A": {"type": "ItemRevision", "item_id": "SUB"},
           "part/A": {"type": "ItemRevision", "item_id": "PART"},
           "orig": {"type": "JtFile"}, "jt1": {"type": "JtFile"}, "jt2": {"type": "JtFile"},
           "jt3": {"type": "JtFile"}, "jt4": {"type": "JtFile"},
           "form_q": {"type": "ModOnForm", "attributes": {"var2_way_to_root": ["Q1", "S"]}})";
    for (const Obj& o : objects) {
        object_text +=
            ", " + quoted(o.id) + ": {\"type\": " + quoted(o.type) + ", \"name\": " + quoted(o.name);
        if (!o.ref_name.empty()) {
            object_text += ", \"refs\": {" + quoted(o.ref_name) + ": " + json_list(o.refs) + "}";
        }
        object_text += "}";
    }
    std::string relation_text;
    for (const Relation& r : relations) {
        relation_text += (relation_text.empty() ? "" : ", ") + json_list({r[0], r[1], r[2]});
    }
    return R"({"types": {"Part3D": "Dataset", "Assembly3D": "Dataset", "DirectModel": "Dataset",
                         "ModOnPart": "Dataset", "ModOnForm": "Form", "JtFile": "Form"},
               "relation_types": ["ModOnPartRel", "IMAN_Rendering", "IMAN_reference"],
               "preferences": {)" +
           pref_text + "}, \"objects\": {" + object_text + "}, \"relations\": [" + relation_text + R"(],
               "windows": {"w1": {"id": "top", "revision": "top/A", "occurrence_name": "TOP", "children": [
                 {"id": "a", "revision": "asm/A", "occurrence_name": "A", "children": [
                   {"id": "p", "revision": "part/A", "occurrence_name": "P1"},
                   {"id": "s", "revision": "sub/A", "occurrence_name": "S", "children": [
                     {"id": "q", "revision": "part/A", "occurrence_name": "Q1"}]}]}]}}})";
}

Obj part(const std::string& id, const std::string& name) { return {id, "Part3D", name, "", {}}; }
Obj direct_model(const std::string& id, const std::string& name, const Strings& jt) {
    return {id, "DirectModel", name, "JTPART", jt};
}
// A mod-on part representation of q hosted by a.
Obj modon_q(const std::string& id, const std::string& name) {
    return {id, "ModOnPart", name, "KEPModOnInfo", {"form_q"}};
}

// Attached to a revision by IMAN_specification.
Relation attached(const std::string& rev, const std::string& id) { return {rev, "IMAN_specification", id}; }
Relation rendering(const std::string& rev, const std::string& id) { return {rev, "IMAN_Rendering", id}; }
Relation modon_rel(const std::string& id) { return {"asm/A", "ModOnPartRel", id}; }

// A block of console lines moved four columns to the left.
std::string dedent(const std::string& text) {
    std::istringstream in(text);
    std::string line;
    std::string out;
    while (std::getline(in, line)) {
        out += (line.compare(0, 4, "    ") == 0 ? line.substr(4) : line) + "\n";
    }
    return out;
}

class JtTest : public kep_test::KepFixture {};

struct JtCase {
    const char* title;
    std::vector<Obj> objects;
    std::vector<Relation> relations;
    std::map<std::string, Strings> preferences;
    const char* line;
    const char* expected;  // id of the value; "" for the null tag; "=" for unchanged
};

const char* const kUnchanged = "=";

TEST_F(JtTest, OutcomeByCase) {
    const std::vector<Obj> part_geometry = {part("ds", "PART/A")};
    const JtCase cases[] = {
        // A dataset was picked and a DirectModel of the carrier's revision with its name has one reference.
        {"3D geometry picked, one reference",
         {part("ds", "PART/A"), direct_model("dm", "PART/A", {"jt1"})},
         {attached("part/A", "ds"), rendering("part/A", "dm")},
         {},
         "p",
         "jt1"},
        {"two DirectModels, the second with the single reference",
         {part("ds", "PART/A"), direct_model("dm1", "PART/A", {"jt1", "jt2"}),
          direct_model("dm2", "PART/A", {"jt3"})},
         {attached("part/A", "ds"), rendering("part/A", "dm1"), rendering("part/A", "dm2")},
         {},
         "p",
         "jt3"},
        {"two DirectModels with one reference each: the first",
         {part("ds", "PART/A"), direct_model("dm1", "PART/A", {"jt1"}),
          direct_model("dm2", "PART/A", {"jt3"})},
         {attached("part/A", "ds"), rendering("part/A", "dm1"), rendering("part/A", "dm2")},
         {},
         "p",
         "jt1"},
        {"the alternative the site asks for",
         {part("ds", "PART/A"), part("ds_lod", "PART.LOD1/A"), direct_model("dm", "PART/A", {"jt1"}),
          direct_model("dm_lod", "PART.LOD1/A", {"jt2"})},
         {attached("part/A", "ds"), attached("part/A", "ds_lod"), rendering("part/A", "dm"),
          rendering("part/A", "dm_lod")},
         {{"KEPUseAltRepFilter", {"1"}}, {"KEPActualAltRepList", {"LOD1"}}},
         "p",
         "jt2"},
        // A dataset was picked, but no such DirectModel dataset or reference exists.
        {"two references",
         {part("ds", "PART/A"), direct_model("dm", "PART/A", {"jt1", "jt2"})},
         {attached("part/A", "ds"), rendering("part/A", "dm")},
         {},
         "p",
         ""},
        {"name differs only in case",
         {part("ds", "PART/A"), direct_model("dm", "part/A", {"jt1"})},
         {attached("part/A", "ds"), rendering("part/A", "dm")},
         {},
         "p",
         ""},
        {"no JTPART reference",
         {part("ds", "PART/A"), {"dm", "DirectModel", "PART/A", "OTHER", {"jt1"}}},
         {attached("part/A", "ds"), rendering("part/A", "dm")},
         {},
         "p",
         ""},
        {"DirectModel under another relation",
         {part("ds", "PART/A"), direct_model("dm", "PART/A", {"jt1"})},
         {attached("part/A", "ds"), {"part/A", "IMAN_reference", "dm"}},
         {},
         "p",
         ""},
        {"rendering dataset of another type",
         {part("ds", "PART/A"), {"dm", "Part3D", "PART/A", "JTPART", {"jt1"}}},
         {attached("part/A", "ds"), rendering("part/A", "dm")},
         {},
         "p",
         ""},
        {"no rendering dataset", {part("ds", "PART/A")}, {attached("part/A", "ds")}, {}, "p", ""},
        {"picked dataset without a name: no search",
         {part("ds", ""), direct_model("dm", "", {"jt1"})},
         {attached("part/A", "ds"), rendering("part/A", "dm")},
         {{"KEPAltRepList", {}}},
         "p",
         ""},
        // The mod-on host carries the representation: its revision is searched with its name.
        {"mod-on host",
         {modon_q("mq", "ASM.PART.1"), direct_model("dm_host", "ASM.PART.1", {"jt4"}), part("ds", "PART/A"),
          direct_model("dm", "PART/A", {"jt1"})},
         {modon_rel("mq"), rendering("asm/A", "dm_host"), attached("part/A", "ds"),
          rendering("part/A", "dm")},
         {},
         "q",
         "jt4"},
        {"mod-on host: the line's own revision is not searched",
         {modon_q("mq", "ASM.PART.1"), direct_model("dm", "ASM.PART.1", {"jt4"})},
         {modon_rel("mq"), rendering("part/A", "dm")},
         {},
         "q",
         ""},
        {"the host's representation describes another occurrence",
         {modon_q("mq", "ASM.PART.1"), direct_model("dm_host", "ASM.PART.1", {"jt4"}), part("ds", "PART/A"),
          direct_model("dm", "PART/A", {"jt1"})},
         {modon_rel("mq"), rendering("asm/A", "dm_host"), attached("part/A", "ds"),
          rendering("part/A", "dm")},
         {},
         "p",
         "jt1"},
        // Nothing picked: the structure datasets decide.
        {"host whose filter picks nothing, no structure dataset: the line's own geometry is not consulted",
         {modon_q("mq", "ASM.PART.LOD1"), part("ds", "PART/A"), direct_model("dm", "PART/A", {"jt1"})},
         {modon_rel("mq"), attached("part/A", "ds"), rendering("part/A", "dm")},
         {},
         "q",
         kUnchanged},
        {"host whose filter picks nothing, structure dataset",
         {modon_q("mq", "ASM.PART.LOD1"), {"st", "Assembly3D", "PART/A", "", {}}},
         {modon_rel("mq"), attached("part/A", "st")},
         {},
         "q",
         ""},
        {"nothing picked, structure dataset",
         {{"st", "Assembly3D", "ASM/A", "", {}}},
         {attached("asm/A", "st")},
         {},
         "a",
         ""},
        {"nothing picked, structure dataset type under another relation",
         {{"st", "Assembly3D", "ASM/A", "", {}}},
         {{"asm/A", "IMAN_reference", "st"}},
         {},
         "a",
         kUnchanged},
        {"nothing picked, no structure dataset", {}, {}, {}, "a", kUnchanged},
        {"two master candidates: the filter picks the first",
         {part("ds1", "PART/A"), part("ds2", "PART/B"), direct_model("dm", "PART/B", {"jt2"})},
         {attached("part/A", "ds1"), attached("part/A", "ds2"), rendering("part/A", "dm")},
         {},
         "p",
         ""},
        {"null line",
         {part("ds", "PART/A"), direct_model("dm", "PART/A", {"jt1"})},
         {attached("part/A", "ds"), rendering("part/A", "dm")},
         {},
         "",
         kUnchanged},
    };
    for (const JtCase& c : cases) {
        for (const char* initial_id : {"orig", ""}) {
            SCOPED_TRACE(std::string(c.title) +
                         (initial_id[0] != '\0' ? ", standing value" : ", null value"));
            standin::reset();
            ASSERT_NO_FATAL_FAILURE(load_site(jt_site(c.objects, c.relations, c.preferences)));
            const tag_t initial = standin::tag_of(initial_id);
            tag_t value = initial;
            EXPECT_EQ(kep_bl_ask_jt_ds_tag(standin::tag_of(c.line), &value), 0);
            if (c.expected == kUnchanged) {
                EXPECT_EQ(value, initial);
            } else {
                EXPECT_EQ(standin::id_of(value), c.expected);
            }
            EXPECT_TRUE(standin::errors().empty());
            expect_clean();
        }
    }
}

TEST_F(JtTest, MissingPreferencesLeaveTheValue) {
    struct Case {
        const char* key;
        Strings value;
        const char* message;
    } const cases[] = {
        {"KEPModOnPartDatasetRelation",
         {},
         "    could not retrieve KEPModOnPartDatasetRelation from preferences\n"},
        {"KEPModOnPartDatasetRelation",
         {""},
         "    could not retrieve KEPModOnPartDatasetRelation from preferences\n"},
        {"KEPModOnPartDatasetType", {}, "    could not retrieve KEPModOnPartDatasetType from preferences\n"},
        {"KEPModOnPartDatasetType",
         {""},
         "    could not retrieve KEPModOnPartDatasetType from preferences\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.key) + (c.value.empty() ? " undefined" : " empty"));
        standin::reset();
        kep_support_reset_state();
        ASSERT_NO_FATAL_FAILURE(
            load_site(jt_site({part("ds", "PART/A"),
                               direct_model("dm", "PART/A", {"jt1"}),
                               {"st", "Assembly3D", "PART/A", "", {}}},
                              {attached("part/A", "ds"), rendering("part/A", "dm"), attached("part/A", "st")},
                              {{c.key, c.value}})));
        set_switches("ON", nullptr, nullptr);
        tag_t value = standin::tag_of("orig");
        int status = -1;
        const std::string console =
            capture_console([&] { status = kep_bl_ask_jt_ds_tag(standin::tag_of("p"), &value); });
        EXPECT_EQ(status, 0);
        EXPECT_EQ(standin::id_of(value), "orig");
        EXPECT_NE(own_lines(console).find(c.message), std::string::npos) << console;
        // Neither the representation nor the structure datasets are looked at.
        EXPECT_EQ(console.find("kep_get_modon_for_bomline"), std::string::npos);
        EXPECT_EQ(console.find("kep_get_structure_for_bomline"), std::string::npos);
        expect_clean();
    }
}

TEST_F(JtTest, TraceOfTheSearch) {
    ASSERT_NO_FATAL_FAILURE(load_site(jt_site(
        {part("ds", "PART/A"), direct_model("dm0", "PART/B", {"jt2"}), direct_model("dm", "PART/A", {"jt1"})},
        {attached("part/A", "ds"), rendering("part/A", "dm0"), rendering("part/A", "dm")})));
    set_switches("ON", nullptr, "ON");
    tag_t value = NULLTAG;
    const std::string console =
        capture_console([&] { EXPECT_EQ(kep_bl_ask_jt_ds_tag(standin::tag_of("p"), &value), 0); });
    EXPECT_EQ(standin::id_of(value), "jt1");
    EXPECT_EQ(
        own_lines(console),
        ">>> kep_bl_ask_jt_ds_tag\n"
        "    executing [    kep_get_preference(\"KEPModOnPartDatasetRelation\", &relation_modon_3dgeo)    ]\n"
        "    >>> kep_get_preference\n"
        "    <<< kep_get_preference\n"
        "    executing [    kep_get_preference(\"KEPModOnPartDatasetType\", &type_modon_3dgeo)    ]\n"
        "    >>> kep_get_preference\n"
        "    <<< kep_get_preference\n"
        "    executing [    "
        "kep_get_modon_for_bomline(bomline_object_tag,relation_modon_3dgeo,type_modon_3dgeo, "
        "&mod_on_host_tag, &datasets_mod_on, &count_datasets_mod_on)    ]\n"
        "    >>> kep_get_modon_for_bomline\n"
        "    <<< kep_get_modon_for_bomline\n"
        "    executing [    kep_get_3dgeo_for_bomline(bomline_object_tag, "
        "&datasets_3dgeo,&count_datasets_3dgeo)"
        "    ]\n"
        "    >>> kep_get_3dgeo_for_bomline\n"
        "    <<< kep_get_3dgeo_for_bomline\n"
        "    executing [    kep_filter_alt_rep_for_dataset(datasets_3dgeo, count_datasets_3dgeo, "
        "&dataset_3dgeo_tag)    ]\n"
        "    >>> kep_filter_alt_rep_for_dataset\n"
        "    <<< kep_filter_alt_rep_for_dataset\n"
        "    executing [    AOM_ask_value_string(dataset_tag, \"object_name\", &dataset_name)    ]\n"
        "    executing [    kep_get_direct_model(bomline_for_dataset_tag, dataset_name, &direct_model_tag)   "
        " ]\n"
        "    >>> kep_get_direct_model\n"
        "    <<< kep_get_direct_model\n"
        "<<< kep_bl_ask_jt_ds_tag\n");
    const size_t inner = console.find("    >>> kep_get_direct_model\n");
    ASSERT_NE(inner, std::string::npos);
    EXPECT_EQ(
        own_lines(dedent(console.substr(inner, console.find("    <<< kep_get_direct_model\n") - inner))),
        ">>> kep_get_direct_model\n"
        "    executing [        BOM_line_look_up_attribute(bomAttr_lineItemRevTag,&revision_tag_attr)        "
        "]\n"
        "    executing [        BOM_line_ask_attribute_tag(bom_line_tag, revision_tag_attr, &primary_object) "
        "       "
        "]\n"
        "    executing [        kep_get_datasets(primary_object, \"IMAN_Rendering\", &datasets_rendering, "
        "&count_datasets_rendering)        ]\n"
        "    >>> kep_get_datasets\n"
        "    <<< kep_get_datasets\n"
        "    executing [        kep_filter_datasets(datasets_rendering, count_datasets_rendering, "
        "\"DirectModel\", "
        "&datasets_direct_model, &count_datasets_direct_model)        ]\n"
        "    >>> kep_filter_datasets\n"
        "    <<< kep_filter_datasets\n"
        "    executing [        AOM_ask_value_string(datasets_direct_model[i],\"object_name\", "
        "&directmodel_name)        ]\n"
        "    executing [        AOM_ask_value_string(datasets_direct_model[i],\"object_name\", "
        "&directmodel_name)        ]\n"
        "    executing [        AE_ask_all_dataset_named_refs(datasets_direct_model[i], \"JTPART\", "
        "&count_refs, "
        "&refs)        ]\n"
        "    Found Reference for Dataset PART/A\n");
    expect_clean();

    // Through the structure-dataset rule: that lookup is made without a statement trace.
    standin::reset();
    kep_support_reset_state();
    ASSERT_NO_FATAL_FAILURE(
        load_site(jt_site({{"st", "Assembly3D", "ASM/A", "", {}}}, {attached("asm/A", "st")})));
    set_switches("ON", nullptr, "ON");
    value = standin::tag_of("orig");
    const std::string structure =
        capture_console([&] { EXPECT_EQ(kep_bl_ask_jt_ds_tag(standin::tag_of("a"), &value), 0); });
    EXPECT_EQ(value, NULLTAG);
    const std::string own = own_lines(structure);
    EXPECT_NE(own.find("    <<< kep_filter_alt_rep_for_dataset\n"
                       "    >>> kep_get_structure_for_bomline\n"
                       "    <<< kep_get_structure_for_bomline\n"
                       "<<< kep_bl_ask_jt_ds_tag\n"),
              std::string::npos)
        << own;
    EXPECT_EQ(own.find("executing [    kep_get_structure_for_bomline"), std::string::npos);
    expect_clean();
}

// Failures and the rules that follow them.
TEST_F(JtTest, FailuresAndTheirOutcome) {
    const std::vector<Obj> objects = {
        part("ds", "PART/A"), direct_model("dm", "PART/A", {"jt1"}), {"st", "Assembly3D", "PART/A", "", {}}};
    const std::vector<Relation> relations = {attached("part/A", "ds"), rendering("part/A", "dm"),
                                             attached("part/A", "st")};
    struct Case {
        const char* title;
        const char* op;
        int nth;
        int status;
        const char* expected;  // value id, "" null tag, "=" unchanged
    } const cases[] = {
        // A failure before a dataset is picked leads to the structure rule: p has one.
        {"host lookup fails", "BOM_line_look_up_attribute", 1, 4242, ""},
        // The relation is read but putting the search scope back fails: no type is asked, nothing
        // is picked, and the structure rule decides.
        {"relation read fails after its value", "PREF_set_search_scope", 2, 4242, ""},
        // After a dataset was picked the value stays null.
        {"name of the picked dataset unreadable", "AOM_ask_value_string", 2, 4242, ""},
        // The fourth list of related objects: after the host walk's two and the geometry set's.
        {"rendering search fails", "GRM_list_secondary_objects_only", 4, 4242, ""},
        // Every list fails: no host, nothing picked, and a failed structure lookup counts as none.
        {"every relation list fails", "GRM_list_secondary_objects_only", 0, 4242, "orig"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.title);
        standin::reset();
        ASSERT_NO_FATAL_FAILURE(load_site(jt_site(objects, relations)));
        standin::fail_call(c.op, c.nth, 4242);
        tag_t value = standin::tag_of("orig");
        EXPECT_EQ(kep_bl_ask_jt_ds_tag(standin::tag_of("p"), &value), c.status);
        EXPECT_EQ(standin::id_of(value), c.expected);
        expect_clean();
    }
}

TEST_F(JtTest, DirectModelSearchWithoutRevision) {
    ASSERT_NO_FATAL_FAILURE(
        load_site(jt_site({direct_model("dm", "PART/A", {"jt1"})}, {rendering("part/A", "dm")})));
    set_switches("ON", nullptr, nullptr);
    standin::fail_call("BOM_line_ask_attribute_tag", 1, 4242);
    tag_t result = standin::tag_of("orig");
    int status = 0;
    const std::string console =
        capture_console([&] { status = kep_get_direct_model(standin::tag_of("p"), "PART/A", &result); });
    EXPECT_EQ(status, 4242);
    EXPECT_EQ(result, NULLTAG);
    EXPECT_NE(own_lines(console).find("    Could not retrieve primary object\n"), std::string::npos)
        << console;
    // This way out leaves the error stack as it is.
    EXPECT_EQ(standin::errors().size(), 1u);
    expect_clean();

    // A null name finds nothing.
    standin::clear_faults();
    capture_console([&] {
        EXPECT_EQ(kep_get_direct_model(standin::tag_of("p"), nullptr, &result), 0);
        EXPECT_EQ(result, NULLTAG);
        EXPECT_EQ(kep_get_direct_model(standin::tag_of("p"), "PART/A", &result), 0);
        EXPECT_EQ(standin::id_of(result), "jt1");
    });
    expect_clean();
}

}  // namespace
}  // namespace modon_test
