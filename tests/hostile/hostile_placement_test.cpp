// Where lines land: a child that its parent's mod-on representation does not list keeps the
// platform's placement, and numbers that are not finite (in a transform text, in a box form, or
// from a product that overflows) never make a line match a search.
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include "hostile_site.h"
#include "kep_site_text.h"

namespace hostile_test {
namespace {

// One line of the window: id, revision, occurrence name, transform text, children.
struct L {
    std::string id;
    std::string revision;
    std::string transform;
    std::vector<L> children = {};
};

std::string line_json(const L& l) {
    std::string out = R"({"id": ")" + l.id + R"(", "revision": ")" + l.revision +
                      R"(", "occurrence_name": ")" + l.id + R"(", "transform": ")" + l.transform +
                      R"(", "children": [)";
    for (size_t i = 0; i < l.children.size(); ++i) {
        out += (i == 0 ? "" : ", ") + line_json(l.children[i]);
    }
    return out + "]}";
}

// Revision "unit/A" has the box (0,0,0)-(1,1,1) on an auxiliary dataset whose form is "bb";
// "box2/A" has the same box on form "bb2"; "asm/A" and "b/A" have none. The representation of b
// hosted on a/A places only a child named "X".
std::string site_json(const L& top, bool platform_methods = true) {
    return std::string(R"({
  "types": {"AuxPart": "Dataset", "BBForm": "Form", "ModOnRep": "Dataset", "ModOnForm": "Form"},
  )") + (platform_methods ? "" : R"("line_methods": [],)") +
           R"("preferences": {
    )" + kep_test::dataset_type_preferences() +
           R"(,
    "KEPModOnProductDatasetRelation": "KEPModOnRel", "KEPModOnProductDatasetType": "ModOnRep",
    "KEPAltRepList": ["MASTER", "LOD1"]
  },
  "relation_types": ["IMAN_specification", "KEPModOnRel"],
  "objects": {
    "asm/A": {"type": "ItemRevision", "item_id": "ASM"},
    "a/A": {"type": "ItemRevision", "item_id": "ASMA"},
    "b/A": {"type": "ItemRevision", "item_id": "ASMB"},
    "unit/A": {"type": "ItemRevision", "item_id": "UNIT"},
    "box2/A": {"type": "ItemRevision", "item_id": "BOX2"},
    "aux": {"type": "AuxPart", "name": "UNIT/A", "refs": {"VAR2BBInfo": ["bb"]}},
    "aux2": {"type": "AuxPart", "name": "BOX2/A", "refs": {"VAR2BBInfo": ["bb2"]}},
    )" + kep_test::box_forms({{"bb", {0, 0, 0, 1, 1, 1}}, {"bb2", {0, 0, 0, 1, 1, 1}}}) +
           R"(,
    "rb_form": {"type": "ModOnForm", "attributes": {"var2_way_to_root": ["b"],
        "var2_child_instname": ["X"], "var2_child_matrix": ["1 0 0 0 0 1 0 0 0 0 1 0 50 50 50 1"]}},
    "rb": {"type": "ModOnRep", "name": "ASMA.ASMB.1", "refs": {"KEPModOnInfo": ["rb_form"]}}
  },
  "relations": [["unit/A", "IMAN_reference", "aux"], ["box2/A", "IMAN_reference", "aux2"],
                ["a/A", "KEPModOnRel", "rb"]],
  "windows": {"w1": )" +
           line_json(top) + "}}";
}

std::string at(double x, double y, double z) {
    std::ostringstream out;
    out << "1 0 0 0 0 1 0 0 0 0 1 0 " << x << " " << y << " " << z << " 1";
    return out.str();
}

// top / a (10,0,0) / b (0,5,0) / c (1,2,3): b's representation lists only "X", not c.
L worked_structure() {
    return {"top",
            "asm/A",
            at(0, 0, 0),
            {{"a", "asm/A", at(10, 0, 0), {{"b", "b/A", at(0, 5, 0), {{"c", "unit/A", at(1, 2, 3)}}}}}}};
}

TEST_F(HostileTest, AChildTheRepresentationDoesNotListKeepsItsTransform) {
    // The extension's post-action: the platform's own value stands, and places c at (11, 7, 3).
    ASSERT_NO_FATAL_FAILURE(bind(site_json(worked_structure())));
    EXPECT_EQ(read_text("c", "bl_plmxml_occ_xform"), (TextAnswer{0, at(1, 2, 3)}));
    EXPECT_EQ(read_text("c", "bl_plmxml_abs_xform"), (TextAnswer{0, at(11, 7, 3)}));
    EXPECT_EQ(volume(tag("w1"), 0.0, {11.2, 7.2, 3.2, 11.8, 7.8, 3.8}), (ServiceAnswer{0, true, {"c"}}));
    EXPECT_EQ(volume(tag("w1"), 0.0, {10.2, 5.2, 0.2, 10.8, 5.8, 0.8}), (ServiceAnswer{0, false, {}}));
    expect_nothing_left();

    // The extension's own method alone: nothing to keep, the value stays null.
    ASSERT_NO_FATAL_FAILURE(bind(site_json(worked_structure(), false)));
    EXPECT_EQ(read_text("c", "bl_plmxml_occ_xform"), (TextAnswer{0, "<null>"}));
    expect_nothing_left();
}

// Ordinary lines ok1 and ok2 at x = 5 and 6.5, and beside them lines whose numbers are not finite:
// nan_t and big_t (a NaN translation, one beyond the range of a double) read as the identity and
// sit at their parents' origins, g1 at x = -20 and g2 at x = -40; inf_box's box form holds a
// value that is not finite; huge's transform, times its parent's, overflows.
TEST_F(HostileTest, NumbersThatAreNotFiniteNeverMakeALineMatch) {
    const double kNaN = std::numeric_limits<double>::quiet_NaN();
    const std::string scale = "1e200 0 0 0 0 1e200 0 0 0 0 1e200 0 0 0 0 1";
    const L top = {
        "top",
        "asm/A",
        at(0, 0, 0),
        {{"ok1", "unit/A", at(5, 0, 0)},
         {"ok2", "unit/A", at(6.5, 0, 0)},
         {"g1", "asm/A", at(-20, 0, 0), {{"nan_t", "unit/A", "1 0 0 0 0 1 0 0 0 0 1 0 nan 0 0 1"}}},
         {"g2", "asm/A", at(-40, 0, 0), {{"big_t", "unit/A", "1 0 0 0 0 1 0 0 0 0 1 0 1e400 0 0 1"}}},
         {"inf_box", "box2/A", at(5, 0, 0)},
         {"hg", "asm/A", "1e200 0 0 0 0 1e200 0 0 0 0 1e200 0 5 0 0 1", {{"huge", "unit/A", scale}}}}};
    for (const double bad_box_value : {kNaN, std::numeric_limits<double>::infinity()}) {
        SCOPED_TRACE(bad_box_value);
        ASSERT_NO_FATAL_FAILURE(bind(site_json(top)));
        ASSERT_TRUE(standin::set_number(tag("bb2"), "var2_bb_y1", bad_box_value));
        const struct {
            const char* title;
            ServiceAnswer answer;
            std::vector<std::string> expected;
        } cases[] = {
            {"far away", volume(tag("w1"), 0.0, {100, 100, 100, 101, 101, 101}), {}},
            {"at the ordinary lines", volume(tag("w1"), 0.0, {4.5, -0.5, -0.5, 8, 1.5, 1.5}), {"ok2", "ok1"}},
            {"where the unreadable texts put their lines",
             volume(tag("w1"), 0.0, {-41, -1, -1, -18, 2, 2}),
             {"big_t", "nan_t"}},
            {"neighbours of an ordinary line", neighbours(tag("w1"), 600.0, {tag("ok1")}), {"ok2"}},
            {"neighbours of the bad box", neighbours(tag("w1"), 600.0, {tag("inf_box")}), {}},
            {"neighbours of the overflowing line", neighbours(tag("w1"), 600.0, {tag("huge")}), {}},
            {"neighbours of the unreadable texts' lines",
             neighbours(tag("w1"), 10.0, {tag("nan_t"), tag("big_t")}),
             {}},
        };
        for (const auto& c : cases) {
            SCOPED_TRACE(c.title);
            EXPECT_EQ(c.answer.status, 0);
            EXPECT_EQ(c.answer.lines, c.expected);
        }
        expect_nothing_left();
    }
}

}  // namespace
}  // namespace hostile_test
