// Boxes of datasets and lines: the "VAR2BBInfo" and "VAR2TypeInfo" forms, the representation way
// and the collection way of a line (and that they never mix), the exact trace, and the fault
// sweeps of the line's box on both ways.
#include <array>
#include <limits>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "geometry/kep_geometry.h"
#include "kep_console.h"
#include "kep_fixture.h"
#include "kep_site_text.h"

namespace {

using Box = std::array<double, 6>;  // x1 y1 z1 x2 y2 z2
using Strings = std::vector<std::string>;
using kep_test::json_list;
using kep_test::quoted;

const Box kNoBox = {0, 0, 0, 0, 0, 0};
const Box kUnit = {0, 0, 0, 1, 1, 1};
const Box kHuge = {-100, -100, -100, 100, 100, 100};

std::string number(double v) {
    std::ostringstream out;
    out.precision(17);
    out << v;
    return out.str();
}

// A dataset attached to a revision of the site below, with one "VAR2BBInfo" form per box and one
// "VAR2TypeInfo" form per role (a role "-" is a form whose var2_type is null).
struct Ds {
    std::string id;
    std::string type;
    std::vector<Box> boxes = {};
    Strings roles = {};
    std::string owner = "part/A";
    std::string relation = "IMAN_specification";
    std::string name = "";  // object_name; the id when empty
    Strings way = {};       // a "KEPModOnInfo" form with this path when not empty
};

// Mod-on datasets of the top line (item ASM) that describe the line l (item PART, occurrence L1).
Ds modon(const std::string& id, std::vector<Box> boxes) {
    return {id, "ModOnRep", std::move(boxes), {}, "asm/A", "KEPModOnRel", "ASM.PART." + id, {"L1"}};
}

//   top (asm/A, item ASM)
//   +- l (part/A, item PART, occurrence L1)
// Types: 3D geometry Part3D/Model3D/Tess3D/Rep3D, auxiliary AuxPart/AuxModel/AuxTess/AuxRep/Archive,
// product structure Assembly3D under IMAN_specification, mod-on ModOnRep under KEPModOnRel.
// KEPAltRepList is empty, so the representation filter picks a single candidate and none of two.
std::string site(const std::vector<Ds>& datasets) {
    std::string objects = R"("asm/A": {"type": "ItemRevision", "item_id": "ASM"},
                             "part/A": {"type": "ItemRevision", "item_id": "PART"})";
    std::string relations;
    for (const Ds& d : datasets) {
        std::map<std::string, Strings> refs;
        for (size_t i = 0; i < d.boxes.size(); ++i) {
            const std::string form = d.id + "_bb" + std::to_string(i);
            const Box& b = d.boxes[i];
            objects += ", " + quoted(form) + R"(: {"type": "BBForm", "attributes": {"var2_bb_x1": )" +
                       number(b[0]) + ", \"var2_bb_y1\": " + number(b[1]) +
                       ", \"var2_bb_z1\": " + number(b[2]) + ", \"var2_bb_x2\": " + number(b[3]) +
                       ", \"var2_bb_y2\": " + number(b[4]) + ", \"var2_bb_z2\": " + number(b[5]) + "}}";
            refs["VAR2BBInfo"].push_back(form);
        }
        for (size_t i = 0; i < d.roles.size(); ++i) {
            const std::string form = d.id + "_type" + std::to_string(i);
            const std::string value = d.roles[i] == "-" ? "null" : quoted(d.roles[i]);
            objects +=
                ", " + quoted(form) + R"(: {"type": "TypeForm", "attributes": {"var2_type": )" + value + "}}";
            refs["VAR2TypeInfo"].push_back(form);
        }
        if (!d.way.empty()) {
            const std::string form = d.id + "_way";
            objects += ", " + quoted(form) +
                       R"(: {"type": "ModOnForm", "attributes": {"var2_way_to_root": )" + json_list(d.way) +
                       "}}";
            refs["KEPModOnInfo"].push_back(form);
        }
        objects += ", " + quoted(d.id) + ": {\"type\": " + quoted(d.type) +
                   ", \"name\": " + quoted(d.name.empty() ? d.id : d.name) + ", \"refs\": {";
        bool first = true;
        for (const auto& ref : refs) {
            objects += (first ? "" : ", ") + quoted(ref.first) + ": " + json_list(ref.second);
            first = false;
        }
        objects += "}}";
        relations += (relations.empty() ? "" : ", ") + json_list({d.owner, d.relation, d.id});
    }
    return R"({
  "types": {"Part3D": "Dataset", "Model3D": "Dataset", "Tess3D": "Dataset", "Rep3D": "Dataset",
            "AuxPart": "Dataset", "AuxModel": "Dataset", "AuxTess": "Dataset", "AuxRep": "Dataset",
            "Archive": "Dataset", "Assembly3D": "Dataset", "ModOnRep": "Dataset",
            "BBForm": "Form", "TypeForm": "Form", "ModOnForm": "Form"},
  "relation_types": ["KEPModOnRel", "IMAN_specification", "IMAN_reference"],
  "preferences": {
    )" + kep_test::dataset_type_preferences() +
           R"(,
    "KEPModOnPartDatasetRelation": "KEPModOnRel", "KEPModOnPartDatasetType": "ModOnRep"
  },
  "objects": {)" +
           objects + "}, \"relations\": [" + relations + R"(],
  "windows": {"w1": {"id": "top", "revision": "asm/A", "children": [
    {"id": "l", "revision": "part/A", "occurrence_name": "L1"}]}}
})";
}

tag_t tag(const std::string& id) { return standin::tag_of(id); }

struct BoxResult {
    int status = -1;
    bool has_box = false;
    Box box = kNoBox;
};

BoxResult take(int status, kep_bbox_t* box) {
    BoxResult r;
    r.status = status;
    if (box != nullptr) {
        r.has_box = true;
        r.box = {box->x1, box->y1, box->z1, box->x2, box->y2, box->z2};
        MEM_free(box);
    }
    return r;
}

BoxResult line_box(const std::string& line_id) {
    kep_bbox_t* box = nullptr;
    const int status = kep_get_bbox_for_bomline(tag(line_id), &box);
    return take(status, box);
}

// Failures that the lookups below the box do not pass on: a failed parent lookup ends the mod-on
// walk like a top line, and a failed list read reaches the representation filter as an empty
// list (only the scope restore decides the list reader's status).
bool passed_on(const kep_test::FirstFailure& f) {
    if (f.function == "kep_get_parent") {
        return false;
    }
    return !(f.function == "kep_get_preference_list" &&
             f.statement != "PREF_set_search_scope(current_scope)");
}

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

class BoxTest : public kep_test::KepFixture {
protected:
    static void console_with_trace() { set_switches("ON", nullptr, "ON"); }
};

TEST_F(BoxTest, DatasetBoxFromItsOneForm) {
    const Box box = {-1.5, 0, 2, 3, 4.25, 1e6};
    struct Case {
        const char* title;
        Ds dataset;
        bool has_box;
    } const cases[] = {
        {"one form", {"d", "AuxPart", {box}}, true},
        {"no form", {"d", "AuxPart"}, false},
        {"two forms", {"d", "AuxPart", {box, box}}, false},
        {"values taken as stored, x1 > x2", {"d", "AuxPart", {{5, 5, 5, -5, -5, -5}}}, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.title);
        standin::reset();
        ASSERT_NO_FATAL_FAILURE(load_site(site({c.dataset})));
        kep_bbox_t* out = reinterpret_cast<kep_bbox_t*>(16);  // must be reset
        const int status = kep_get_bbox_for_dataset(tag("d"), &out);
        const BoxResult r = take(status, out);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.has_box, c.has_box);
        if (c.has_box) {
            EXPECT_EQ(r.box, c.dataset.boxes[0]);
        }
        expect_clean();
    }
}

// A value that is not a finite number makes no box: such a box would overlap everything or
// nothing at random.
TEST_F(BoxTest, DatasetBoxWithAValueThatIsNotFiniteIsNoBox) {
    for (const double value :
         {std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity(),
          -std::numeric_limits<double>::infinity()}) {
        SCOPED_TRACE(value);
        standin::reset();
        kep_support_reset_state();
        ASSERT_NO_FATAL_FAILURE(load_site(site({{"d", "AuxPart", {kUnit}}})));
        ASSERT_TRUE(standin::set_number(tag("d_bb0"), "var2_bb_z2", value));
        set_switches("ON", nullptr, nullptr);
        kep_bbox_t* out = nullptr;
        int status = -1;
        const std::string console =
            capture_console([&] { status = kep_get_bbox_for_dataset(tag("d"), &out); });
        EXPECT_EQ(status, 0);
        EXPECT_EQ(out, nullptr);
        EXPECT_TRUE(contains(console, "ignoring box with a value that is not a finite number\n")) << console;
        expect_clean();
    }
}

TEST_F(BoxTest, DatasetBoxWithAMissingValueFailsWithoutBox) {
    // The form lacks var2_bb_y2: the read stops there, the half-read box is not handed out.
    std::string json = site({{"d", "AuxPart", {kUnit}}});
    const std::string y2 = ", \"var2_bb_y2\": 1";
    json.erase(json.find(y2), y2.size());
    ASSERT_NO_FATAL_FAILURE(load_site(json));
    console_with_trace();
    kep_bbox_t* out = nullptr;
    int status = 0;
    const std::string console = capture_console([&] { status = kep_get_bbox_for_dataset(tag("d"), &out); });
    EXPECT_NE(status, 0);
    EXPECT_EQ(status, standin::errors().empty() ? -1 : standin::errors().front().code);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(kep_test::first_failure(console).statement,
              "AOM_ask_value_double(form_tag, \"var2_bb_y2\", &((*bbox)->y2))");
    EXPECT_FALSE(contains(console, "var2_bb_z2"));
    expect_clean();
}

TEST_F(BoxTest, DatasetBoxTrace) {
    ASSERT_NO_FATAL_FAILURE(load_site(site({{"d", "AuxPart", {{0, 0, 0, 1, 1, 1}}}})));
    console_with_trace();
    kep_bbox_t* out = nullptr;
    const std::string console =
        capture_console([&] { EXPECT_EQ(kep_get_bbox_for_dataset(tag("d"), &out), 0); });
    MEM_free(out);
    std::string expected =
        ">>> kep_get_bbox_for_dataset\n"
        "    executing [    AE_ask_all_dataset_named_refs(dataset_tag, \"VAR2BBInfo\", &count_refs, &refs)   "
        " ]\n";
    for (const char* v : {"x1", "y1", "z1", "x2", "y2", "z2"}) {
        expected += std::string("    executing [    AOM_ask_value_double(form_tag, \"var2_bb_") + v +
                    "\", &((*bbox)->" + v + "))    ]\n";
    }
    expected += "<<< kep_get_bbox_for_dataset\n";
    EXPECT_EQ(console, expected);
    expect_clean();
}

TEST_F(BoxTest, VisualisationMark) {
    struct Case {
        const char* title;
        Strings roles;
        int is_visu;
    } const cases[] = {
        {"VISUALIZATION", {"VISUALIZATION"}, 1},
        {"lower case", {"visualization"}, 0},
        {"trailing blank", {"VISUALIZATION "}, 0},
        {"another role", {"GEOMETRY"}, 0},
        {"null role", {"-"}, 0},
        {"no form", {}, 0},
        {"two forms", {"VISUALIZATION", "VISUALIZATION"}, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.title);
        standin::reset();
        ASSERT_NO_FATAL_FAILURE(load_site(site({{"d", "AuxPart", {}, c.roles}})));
        int is_visu = 7;
        EXPECT_EQ(kep_is_visu_dataset(tag("d"), &is_visu), 0);
        EXPECT_EQ(is_visu, c.is_visu);
        expect_clean();
    }
}

struct LineCase {
    const char* title;
    std::vector<Ds> datasets;
    std::map<std::string, Strings> preferences;  // changed after loading
    bool has_box;
    Box box;
    Strings logged;      // texts the console shows
    Strings not_logged;  // texts it must not show
};

TEST_F(BoxTest, BoxOfALine) {
    const LineCase cases[] = {
        {"union of the auxiliary boxes, visualisation dataset ignored",
         {{"a1", "AuxPart", {kUnit}},
          {"av", "AuxModel", {kHuge}, {"VISUALIZATION"}},
          {"a2", "Archive", {{2, -1, 0, 3, 0.5, 4}}}},
         {},
         true,
         {0, -1, 0, 3, 1, 4},
         {"ignoring visualisation dataset"},
         {}},
        {"structure boxes merged with auxiliary boxes",
         {{"a1", "AuxPart", {kUnit}}, {"s1", "Assembly3D", {{-5, 0, 0.5, 0, 2, 0.75}}}},
         {},
         true,
         {-5, 0, 0, 1, 2, 1},
         {">>> kep_get_structure_for_bomline"},
         {}},
        {"structure box alone", {{"s1", "Assembly3D", {kUnit}}}, {}, true, kUnit, {}, {}},
        {"product structure only under its relation",
         {{"s1", "Assembly3D", {kUnit}, {}, "part/A", "IMAN_reference"}},
         {},
         false,
         kNoBox,
         {},
         {}},
        {"lower-case role is no visualisation mark",
         {{"a1", "AuxPart", {kUnit}}, {"av", "AuxPart", {kHuge}, {"visualization"}}},
         {},
         true,
         kHuge,
         {},
         {"ignoring visualisation dataset"}},
        {"auxiliary datasets without box",
         {{"a1", "AuxPart"}, {"a2", "AuxPart", {kUnit, kUnit}}},
         {},
         false,
         kNoBox,
         {},
         {}},
        {"nothing attached", {}, {}, false, kNoBox, {}, {}},
        // The representation way: the 3D dataset's box alone, whatever the auxiliary ones say.
        {"3D geometry dataset, auxiliary boxes not consulted",
         {{"p1", "Part3D", {kUnit}}, {"a1", "AuxPart", {kHuge}}},
         {},
         true,
         kUnit,
         {"default dataset found"},
         {">>> kep_get_auxgeo_for_bomline", ">>> kep_get_structure_for_bomline"}},
        {"representation box used whatever its role",
         {{"p1", "Tess3D", {kUnit}, {"VISUALIZATION"}}},
         {},
         true,
         kUnit,
         {},
         {">>> kep_is_visu_dataset", "ignoring visualisation dataset"}},
        {"representation without box: no box, auxiliary datasets not tried",
         {{"p1", "Part3D"}, {"a1", "AuxPart", {kUnit}}},
         {},
         false,
         kNoBox,
         {},
         {">>> kep_get_auxgeo_for_bomline"}},
        {"filter picks none of two: no box, auxiliary datasets not tried",
         {{"p1", "Part3D", {kUnit}}, {"p2", "Rep3D", {kUnit}}, {"a1", "AuxPart", {kUnit}}},
         {},
         false,
         kNoBox,
         {"correct dataset not found"},
         {">>> kep_get_auxgeo_for_bomline", ">>> kep_get_bbox_for_dataset"}},
        {"empty mod-on type preference",
         {{"p1", "Part3D", {kUnit}}, {"a1", "AuxPart", {kUnit}}},
         {{"KEPModOnPartDatasetType", {""}}},
         false,
         kNoBox,
         {"could not retrieve KEPModOnPartDatasetType from preferences\n"},
         {">>> kep_get_auxgeo_for_bomline", ">>> kep_get_modon_for_bomline"}},
        {"undefined mod-on type preference",
         {{"p1", "Part3D", {kUnit}}},
         {{"KEPModOnPartDatasetType", {}}},
         false,
         kNoBox,
         {"could not retrieve KEPModOnPartDatasetType from preferences\n"},
         {">>> kep_get_modon_for_bomline"}},
        {"empty mod-on relation preference",
         {{"p1", "Part3D", {kUnit}}, {"a1", "AuxPart", {kUnit}}},
         {{"KEPModOnPartDatasetRelation", {""}}},
         false,
         kNoBox,
         {"could not retrieve KEPModOnPartDatasetRelation from preferences\n"},
         {"KEPModOnPartDatasetType", ">>> kep_get_auxgeo_for_bomline"}},
        // With a mod-on host only the host's datasets count.
        {"mod-on dataset's box", {{"p1", "Part3D", {kUnit}}, modon("m1", {kHuge})}, {}, true, kHuge, {}, {}},
        {"mod-on datasets rejected by the filter: no box",
         {{"p1", "Part3D", {kUnit}}, modon("m1", {kHuge}), modon("m2", {kHuge})},
         {},
         false,
         kNoBox,
         {"correct dataset not found"},
         {">>> kep_get_bbox_for_dataset"}},
        {"mod-on datasets ignored without 3D geometry",
         {{"a1", "AuxPart", {kUnit}}, modon("m1", {kHuge})},
         {},
         true,
         kUnit,
         {},
         {">>> kep_get_modon_for_bomline"}},
    };
    for (const LineCase& c : cases) {
        SCOPED_TRACE(c.title);
        standin::reset();
        kep_support_reset_state();
        ASSERT_NO_FATAL_FAILURE(load_site(site(c.datasets)));
        for (const auto& p : c.preferences) {
            standin::set_preference(p.first, p.second);
        }
        console_with_trace();
        BoxResult r;
        const std::string console = capture_console([&] { r = line_box("l"); });
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.has_box, c.has_box);
        EXPECT_EQ(r.box, c.box);
        for (const std::string& text : c.logged) {
            EXPECT_TRUE(contains(console, text)) << "missing: " << text;
        }
        for (const std::string& text : c.not_logged) {
            EXPECT_FALSE(contains(console, text)) << "unexpected: " << text;
        }
        expect_clean();
    }
}

// The collection way as the trace shows it; the visualisation message has no line end, so the
// next statement trace continues its line.
TEST_F(BoxTest, CollectionWayTrace) {
    ASSERT_NO_FATAL_FAILURE(load_site(site(
        {{"a1", "AuxPart", {kUnit}}, {"av", "AuxModel", {kHuge}, {"VISUALIZATION"}}, {"s1", "Assembly3D"}})));
    console_with_trace();
    BoxResult r;
    const std::string console = capture_console([&] { r = line_box("l"); });
    EXPECT_EQ(r.box, kUnit);
    const std::string visu =
        "    executing [    kep_is_visu_dataset(aux_tag,&isVisu)    ]\n"
        "    >>> kep_is_visu_dataset\n"
        "    <<< kep_is_visu_dataset\n";
    const std::string bbox =
        "    executing [    kep_get_bbox_for_dataset(aux_tag,&act_bb)    ]\n"
        "    >>> kep_get_bbox_for_dataset\n"
        "    <<< kep_get_bbox_for_dataset\n";
    EXPECT_EQ(kep_test::own_lines(console),
              ">>> kep_get_bbox_for_bomline\n"
              "    executing [    kep_get_3dgeo_for_bomline(line,&datasets_part,&count_datasets_part)    ]\n"
              "    >>> kep_get_3dgeo_for_bomline\n"
              "    <<< kep_get_3dgeo_for_bomline\n"
              "    executing [    kep_get_auxgeo_for_bomline(line,&datasets_aux,&count_datasets_aux)    ]\n"
              "    >>> kep_get_auxgeo_for_bomline\n"
              "    <<< kep_get_auxgeo_for_bomline\n" +
                  visu + bbox + visu +
                  "    ignoring visualisation dataset    executing [    "
                  "kep_get_structure_for_bomline(line,&datasets_structure,&count_datasets_structure)    ]\n"
                  "    >>> kep_get_structure_for_bomline\n"
                  "    <<< kep_get_structure_for_bomline\n"
                  "    executing [    kep_is_visu_dataset(structure_tag,&isVisu)    ]\n"
                  "    >>> kep_is_visu_dataset\n"
                  "    <<< kep_is_visu_dataset\n"
                  "    executing [    kep_get_bbox_for_dataset(structure_tag,&act_bb)    ]\n"
                  "    >>> kep_get_bbox_for_dataset\n"
                  "    <<< kep_get_bbox_for_dataset\n"
                  "<<< kep_get_bbox_for_bomline\n");
    expect_clean();
}

TEST_F(BoxTest, RepresentationWayTrace) {
    ASSERT_NO_FATAL_FAILURE(load_site(site({{"p1", "Part3D", {kUnit}}, modon("m1", {kHuge})})));
    console_with_trace();
    BoxResult r;
    const std::string console = capture_console([&] { r = line_box("l"); });
    EXPECT_EQ(r.box, kHuge);
    EXPECT_EQ(
        kep_test::own_lines(console),
        ">>> kep_get_bbox_for_bomline\n"
        "    executing [    kep_get_3dgeo_for_bomline(line,&datasets_part,&count_datasets_part)    ]\n"
        "    >>> kep_get_3dgeo_for_bomline\n"
        "    <<< kep_get_3dgeo_for_bomline\n"
        "    executing [    kep_get_preference(\"KEPModOnPartDatasetRelation\", &relation_modon_3dgeo)    ]\n"
        "    >>> kep_get_preference\n"
        "    <<< kep_get_preference\n"
        "    executing [    kep_get_preference(\"KEPModOnPartDatasetType\", &type_modon_3dgeo)    ]\n"
        "    >>> kep_get_preference\n"
        "    <<< kep_get_preference\n"
        "    executing [    kep_get_modon_for_bomline(line, relation_modon_3dgeo, type_modon_3dgeo, "
        "&mod_on_host_tag, &datasets_mod_on, &count_datasets_mod_on)    ]\n"
        "    >>> kep_get_modon_for_bomline\n"
        "    <<< kep_get_modon_for_bomline\n"
        "    executing [    kep_filter_alt_rep_for_dataset(datasets_mod_on, count_datasets_mod_on, "
        "&dataset_mod_on_tag)    ]\n"
        "    >>> kep_filter_alt_rep_for_dataset\n"
        "    <<< kep_filter_alt_rep_for_dataset\n"
        "    executing [    kep_get_bbox_for_dataset(part_tag,bbox)    ]\n"
        "    >>> kep_get_bbox_for_dataset\n"
        "    <<< kep_get_bbox_for_dataset\n"
        "<<< kep_get_bbox_for_bomline\n");
    expect_clean();
}

// Every failable call of both ways failed in turn: the status is passed on (except where a lookup
// below documents that it is not), no box is handed out after a failure that was passed on,
// nothing more is asked, the trace is balanced and nothing leaks.
TEST_F(BoxTest, FaultSweepOfBothWays) {
    struct Way {
        const char* name;
        std::vector<Ds> datasets;
        Box box;
    } const ways[] = {
        {"representation way", {{"p1", "Part3D", {kUnit}}, modon("m1", {kHuge})}, kHuge},
        {"collection way",
         {{"a1", "AuxPart", {kUnit}},
          {"av", "AuxModel", {kHuge}, {"VISUALIZATION"}},
          {"a2", "Archive", {{2, -1, 0, 3, 0.5, 4}}},
          {"s1", "Assembly3D", {{-5, 0, 0, 0, 2, 1}}}},
         {-5, -1, 0, 3, 2, 4}},
    };
    for (const Way& way : ways) {
        SCOPED_TRACE(way.name);
        std::vector<std::string> consoles;
        std::vector<BoxResult> results;
        kep_test::FaultCase c;
        c.name = way.name;
        c.setup = [&] {
            standin::reset();
            load_site(site(way.datasets));
            set_switches("ON", nullptr, "ON");
        };
        c.run = [&] {
            BoxResult r;
            consoles.push_back(capture_console([&] { r = line_box("l"); }));
            results.push_back(r);
            return r.status;
        };
        // Checked below, run by run, for the failures that are passed on.
        c.may_follow_failure = kep_test::box_lookup_calls();
        c.may_follow_failure.insert({"AOM_ask_value_strings", "BOM_line_ask_attribute_string"});
        c.clears_errors = false;  // the box reads leave their failures on the stack
        c.expected_status = [&](const kep_test::FaultRun& r, const kep_test::FaultRun& baseline) {
            if (!r.traced_failure) {
                return baseline.status;
            }
            return passed_on(kep_test::first_failure(consoles[static_cast<size_t>(r.k)]))
                       ? static_cast<int>(standin::kErrInjected)
                       : 0;
        };
        const std::vector<kep_test::FaultRun> runs = kep_test::run_fault_sweep(c);
        ASSERT_GT(runs.size(), 20u);
        EXPECT_EQ(results[0].box, way.box);
        for (const kep_test::FaultRun& r : runs) {
            if (r.k == 0 || !r.traced_failure ||
                !passed_on(kep_test::first_failure(consoles[static_cast<size_t>(r.k)]))) {
                continue;
            }
            SCOPED_TRACE("failing call " + std::to_string(r.k) + " (" + r.failed_op + ")");
            EXPECT_FALSE(results[static_cast<size_t>(r.k)].has_box);
            for (const std::string& op : r.calls_after_failure()) {
                EXPECT_TRUE(kep_test::allowed_after_any_failure(op) || op == "PREF_set_search_scope")
                    << op << " after the failure";
            }
        }
    }
}

}  // namespace
