// The occurrence and absolute transform values: when a mod-on representation replaces, clears or
// keeps a value, the product of the absolute transform, the value slot's ownership, the exact
// trace, the helpers' statuses that are not passed on, and structures thousands of levels deep.
#include <base_utils/Mem.h>

#include <array>
#include <cmath>
#include <cstring>
#include <optional>
#include <sstream>

#include "kep_deep_site.h"
#include "modon_site.h"

namespace modon_test {
namespace {

// An entry of a string list that the site stores as a null string.
const char* const kNull = "\x01null";

std::string json_list_with_nulls(const Strings& values) {
    std::string out = "[";
    for (size_t i = 0; i < values.size(); ++i) {
        out += (i == 0 ? "" : ", ") + (values[i] == kNull ? std::string("null") : quoted(values[i]));
    }
    return out + "]";
}

// Transforms in their text form (column by column). R is a quarter turn about z: R(x, y, z) = (-y, x, z).
const char* const kTT = "1 0 0 0 0 1 0 0 0 0 1 0 100 100 100 1";  // top line: never part of the product
const char* const kTA = "1 0 0 0 0 1 0 0 0 0 1 0 10 0 0 1";
const char* const kTB = "0 1 0 0 -1 0 0 0 0 0 1 0 0 5 0 1";  // R, then (0, 5, 0)
const char* const kTC = "1 0 0 0 0 1 0 0 0 0 1 0 0 0 7 1";
const char* const kTD = "1 0 0 0 0 1 0 0 0 0 1 0 0 0 1 1";
const char* const kTC2 = "1 0 0 0 0 1 0 0 0 0 1 0 3 0 0 1";
const char* const kTCRep = "1 0 0 0 0 1 0 0 0 0 1 0 1 2 3 1";  // C as a representation places it
const char* const kTDRep = "1 0 0 0 0 1 0 0 0 0 1 0 0 0 9 1";
const char* const kOther = "1 0 0 0 0 1 0 0 0 0 1 0 4 4 4 1";

// A mod-on representation dataset of the product structure with its info form.
struct Rep {
    std::string id;
    std::string host_revision;
    std::string name;
    Strings way;  // var2_way_to_root: the represented line's path up to the host's child
    std::optional<Strings> child_names;
    std::optional<Strings> child_matrices;
};

// R_b: hosted by a, represents b, so it places b's children.
Rep rep_b(const Strings& names, const Strings& matrices, const std::string& suffix = "1") {
    return {"rb_" + suffix, "asma/A", "ASMA.ASMB." + suffix, {"B"}, names, matrices};
}
// R_c: hosted by b, represents c, places c's children.
Rep rep_c(const Strings& names, const Strings& matrices) {
    return {"rc", "asmb/A", "ASMB.ASMC.1", {"C"}, names, matrices};
}

// top (TOP, kTT) / a (ASMA, "A", kTA) / b (ASMB, "B", kTB) / c (ASMC, "C", kTC) / d (PART, "D", kTD)
//                                                           \ c2 (PART, "C2", kTC2)
std::string transform_site(const std::vector<Rep>& reps) {
    std::string objects =
        R"("top/A": {"type": "ItemRevision", "item_id": "TOP"},
           "asma/A": {"type": "ItemRevision", "item_id": "ASMA"},
           "asmb/A": {"type": "ItemRevision", "item_id": "ASMB"},
           "asmc/A": {"type": "ItemRevision", "item_id": "ASMC"},
           "part/A": {"type": "ItemRevision", "item_id": "PART"})";
    std::string relations;
    for (const Rep& r : reps) {
        std::string attributes = "\"var2_way_to_root\": " + json_list(r.way);
        if (r.child_names) {
            attributes += ", \"var2_child_instname\": " + json_list_with_nulls(*r.child_names);
        }
        if (r.child_matrices) {
            attributes += ", \"var2_child_matrix\": " + json_list_with_nulls(*r.child_matrices);
        }
        objects += ", " + quoted(r.id + "_form") + ": {\"type\": \"ModOnForm\", \"attributes\": {" +
                   attributes + "}}";
        objects += ", " + quoted(r.id) + ": {\"type\": \"ModOnRep\", \"name\": " + quoted(r.name) +
                   ", \"refs\": {\"KEPModOnInfo\": [" + quoted(r.id + "_form") + "]}}";
        relations += (relations.empty() ? "" : ", ") + json_list({r.host_revision, "KEPModOnRel", r.id});
    }
    auto line = [](const char* id, const char* revision, const char* occurrence, const char* transform) {
        return std::string("{\"id\": \"") + id + "\", \"revision\": \"" + revision +
               "\", \"occurrence_name\": \"" + occurrence + "\", \"transform\": \"" + transform + "\"";
    };
    const std::string window =
        line("top", "top/A", "TOP", kTT) + ", \"children\": [" + line("a", "asma/A", "A", kTA) +
        ", \"children\": [" + line("b", "asmb/A", "B", kTB) + ", \"children\": [" +
        line("c", "asmc/A", "C", kTC) + ", \"children\": [" + line("d", "part/A", "D", kTD) + "}]}, " +
        line("c2", "part/A", "C2", kTC2) + "}]}]}]}";
    return R"({"types": {"ModOnRep": "Dataset", "ModOnForm": "Form"},
               "relation_types": ["KEPModOnRel"],
               "preferences": {"KEPModOnProductDatasetRelation": "KEPModOnRel",
                               "KEPModOnProductDatasetType": "ModOnRep",
                               "KEPAltRepList": ["MASTER", "LOD1"]},
               "objects": {)" +
           objects + "}, \"relations\": [" + relations + "], \"windows\": {\"w1\": " + window + "}}";
}

// What a value function did with the caller's slot.
struct Answer {
    int status = -1;
    bool replaced = false;             // the slot points at another block than it came with
    std::optional<std::string> value;  // nullopt: null
    int live_besides_value = -1;       // blocks live afterwards, the value's own left out
};

using ValueFunction = int (*)(tag_t, char**);

// Calls fn with a slot holding a MEM_alloc copy of `initial` (or null) and releases the result.
Answer ask(ValueFunction fn, tag_t line, const std::optional<std::string>& initial) {
    char* value = nullptr;
    if (initial) {
        value = static_cast<char*>(MEM_alloc(static_cast<int>(initial->size() + 1)));
        std::memcpy(value, initial->c_str(), initial->size() + 1);
    }
    char* const before = value;
    Answer a;
    a.status = fn(line, &value);
    a.replaced = value != before;
    if (value != nullptr) {
        a.value = value;
    }
    a.live_besides_value = standin::live_blocks() - (value != nullptr ? 1 : 0);
    MEM_free(value);
    return a;
}

// The 16 numbers of a text form as a row-major matrix.
std::array<double, 16> rows_of(const std::string& text) {
    std::istringstream in(text);
    double v[16] = {};
    for (double& x : v) {
        in >> x;
    }
    std::array<double, 16> m{};
    for (int c = 0; c < 4; ++c) {
        for (int r = 0; r < 4; ++r) {
            m[static_cast<size_t>(4 * r + c)] = v[4 * c + r];
        }
    }
    return m;
}

// R with translation t, row-major.
std::array<double, 16> quarter_turn(double x, double y, double z) {
    return {0, -1, 0, x, 1, 0, 0, y, 0, 0, 1, z, 0, 0, 0, 1};
}

void expect_matrix(const std::string& text, const std::array<double, 16>& expected) {
    const std::array<double, 16> m = rows_of(text);
    for (size_t i = 0; i < 16; ++i) {
        EXPECT_NEAR(m[i], expected[i], 1e-12) << "element " << i << " of [" << text << "]";
    }
}

class ValuesTest : public kep_test::KepFixture {
protected:
    // Asks fn for the line of the site with the representations reps, once with a standing value
    // and once with a null one; expects status 0 and, the value aside, no block left. check(answer,
    // value the line came with) holds the answer against the case.
    template <class Check>
    void ask_with_and_without_value(const char* title, const std::vector<Rep>& reps, ValueFunction fn,
                                    const char* line, Check&& check) {
        for (const bool with_value : {true, false}) {
            SCOPED_TRACE(std::string(title) + (with_value ? ", standing value" : ", null value"));
            standin::reset();
            ASSERT_NO_FATAL_FAILURE(load_site(transform_site(reps)));
            const std::optional<std::string> initial =
                with_value ? std::optional<std::string>("standard") : std::nullopt;
            const Answer a = ask(fn, standin::tag_of(line), initial);
            EXPECT_EQ(a.status, 0);
            check(a, initial);
            // A replaced standing value was released; nothing else is left.
            EXPECT_EQ(a.live_besides_value, 0);
            expect_clean();
        }
    }
};

enum class Outcome { kUnchanged, kText };

struct OccCase {
    const char* title;
    std::vector<Rep> reps;
    const char* line;
    Outcome outcome;
    const char* text;  // kText: the expected value
};

TEST_F(ValuesTest, OccurrenceTransformFollowsTheRepresentationOfTheParent) {
    const OccCase cases[] = {
        {"listed: the entry's text as it is", {rep_b({"C"}, {kTCRep})}, "c", Outcome::kText, kTCRep},
        {"text passed on unchecked", {rep_b({"C"}, {"not a matrix"})}, "c", Outcome::kText, "not a matrix"},
        {"other names only: the value passed in stays",
         {rep_b({"C2"}, {kTCRep})},
         "c",
         Outcome::kUnchanged,
         nullptr},
        {"sibling listed, line not",
         {rep_b({"C2", "X"}, {kOther, kOther})},
         "c",
         Outcome::kUnchanged,
         nullptr},
        {"names compared exactly", {rep_b({"c", "C "}, {kOther, kOther})}, "c", Outcome::kUnchanged, nullptr},
        {"last matching entry wins",
         {rep_b({"C", "C2", "C"}, {kOther, kTC2, kTCRep})},
         "c",
         Outcome::kText,
         kTCRep},
        {"a later entry without matrix does not count",
         {rep_b({"C", "C"}, {kTCRep, kNull})},
         "c",
         Outcome::kText,
         kTCRep},
        {"a null name matches nothing", {rep_b({kNull}, {kTCRep})}, "c", Outcome::kUnchanged, nullptr},
        {"lists of different lengths list nothing",
         {rep_b({"C", "C2"}, {kTCRep})},
         "c",
         Outcome::kUnchanged,
         nullptr},
        {"form without child lists", {rep_b({}, {})}, "c", Outcome::kUnchanged, nullptr},
        {"form without the matrix list",
         {{"rb", "asma/A", "ASMA.ASMB.1", {"B"}, Strings{"C"}, std::nullopt}},
         "c",
         Outcome::kUnchanged,
         nullptr},
        {"sibling of the line placed by the same form",
         {rep_b({"C", "C2"}, {kTCRep, kOther})},
         "c2",
         Outcome::kText,
         kOther},
        {"no representation of the parent", {rep_c({"D"}, {kTDRep})}, "c", Outcome::kUnchanged, nullptr},
        {"representation of the grandparent only",
         {rep_b({"C"}, {kTCRep})},
         "d",
         Outcome::kUnchanged,
         nullptr},
        {"representation two levels down the path", {rep_c({"D"}, {kTDRep})}, "d", Outcome::kText, kTDRep},
        {"top line", {rep_b({"C"}, {kTCRep})}, "top", Outcome::kUnchanged, nullptr},
        {"the filter takes the master of two",
         {rep_b({"C"}, {kOther}, "LOD1"), rep_b({"C"}, {kTCRep}, "1")},
         "c",
         Outcome::kText,
         kTCRep},
        {"only an alternative representation: nothing chosen",
         {rep_b({"C"}, {kTCRep}, "LOD1")},
         "c",
         Outcome::kUnchanged,
         nullptr},
    };
    for (const OccCase& c : cases) {
        ask_with_and_without_value(c.title, c.reps, kep_bl_ask_plmxml_occ_xform, c.line,
                                   [&](const Answer& a, const std::optional<std::string>& initial) {
                                       switch (c.outcome) {
                                           case Outcome::kUnchanged:
                                               EXPECT_FALSE(a.replaced);
                                               EXPECT_EQ(a.value, initial);
                                               break;
                                           case Outcome::kText:
                                               EXPECT_EQ(a.value, std::optional<std::string>(c.text));
                                               break;
                                       }
                                   });
    }
}

TEST_F(ValuesTest, ReplacedValueIsReleasedAndTheNewOneIsTheCallers) {
    ASSERT_NO_FATAL_FAILURE(load_site(transform_site({rep_b({"C"}, {kTCRep})})));
    char* value = static_cast<char*>(MEM_alloc(9));
    std::strcpy(value, "standard");
    const int live_before = standin::live_blocks();
    ASSERT_EQ(kep_bl_ask_plmxml_occ_xform(standin::tag_of("c"), &value), 0);
    ASSERT_NE(value, nullptr);
    EXPECT_STREQ(value, kTCRep);
    // The old block is gone (a second free of it would count as misuse) and the new one is live.
    EXPECT_EQ(standin::live_blocks(), live_before);
    MEM_free(value);
    expect_clean();
}

struct AbsCase {
    const char* title;
    std::vector<Rep> reps;
    const char* line;
    bool unchanged;
    std::array<double, 16> expected;
};

TEST_F(ValuesTest, AbsoluteTransformIsTheProductFromTheTopLinesChildDown) {
    const AbsCase cases[] = {
        // TA x TB x TC': (10,0,0) + (0,5,0) + R(1,2,3)
        {"representation of the parent lists the line",
         {rep_b({"C"}, {kTCRep})},
         "c",
         false,
         quarter_turn(8, 6, 3)},
        // TA x TB x TC from the standard values: the flag is set although nothing was listed.
        {"representation of the parent lists other lines",
         {rep_b({"C2"}, {kOther})},
         "c",
         false,
         quarter_turn(10, 5, 7)},
        // TA x TB x TC' x TD: the representation two levels up, standard values elsewhere.
        {"representation two levels up", {rep_b({"C"}, {kTCRep})}, "d", false, quarter_turn(8, 6, 4)},
        // TA x TB x TC x TD'
        {"representation of the parent, none above",
         {rep_c({"D"}, {kTDRep})},
         "d",
         false,
         quarter_turn(10, 5, 16)},
        // TA x TB x TC' x TD'
        {"representations on two levels",
         {rep_b({"C"}, {kTCRep}), rep_c({"D"}, {kTDRep})},
         "d",
         false,
         quarter_turn(8, 6, 12)},
        {"last matching entry wins",
         {rep_b({"C", "C"}, {kOther, kTCRep})},
         "c",
         false,
         quarter_turn(8, 6, 3)},
        {"no representation anywhere", {}, "d", true, {}},
        {"representation of the line itself", {rep_c({"D"}, {kTDRep})}, "c", true, {}},
        {"representation of a sibling's path only", {rep_c({"D"}, {kTDRep})}, "c2", true, {}},
        {"top line", {rep_b({"C"}, {kTCRep})}, "top", true, {}},
        {"child of the top line", {rep_b({"C"}, {kTCRep})}, "a", true, {}},
    };
    for (const AbsCase& c : cases) {
        ask_with_and_without_value(c.title, c.reps, kep_bl_ask_plmxml_abs_xform, c.line,
                                   [&](const Answer& a, const std::optional<std::string>& initial) {
                                       if (c.unchanged) {
                                           EXPECT_FALSE(a.replaced);
                                           EXPECT_EQ(a.value, initial);
                                       } else {
                                           ASSERT_TRUE(a.value.has_value());
                                           expect_matrix(*a.value, c.expected);
                                       }
                                   });
    }
}

// A failure after a representation was applied: the value is still recomputed and stored, and the
// failure is returned. Here the representation of c places d; the walk then fails at level b (the
// read of R_b's path is made only for b's own lookup), so R_b's entry for c is never applied.
TEST_F(ValuesTest, FailureAfterAnAppliedRepresentationStillStoresTheProduct) {
    ASSERT_NO_FATAL_FAILURE(load_site(transform_site({rep_b({"C"}, {kTCRep}), rep_c({"D"}, {kTDRep})})));
    standin::fail_object("AOM_ask_value_strings", standin::tag_of("rb_1_form"), 4711);
    const Answer a = ask(kep_bl_ask_plmxml_abs_xform, standin::tag_of("d"), std::string("standard"));
    EXPECT_EQ(a.status, 4711);
    ASSERT_TRUE(a.value.has_value());
    expect_matrix(*a.value, quarter_turn(10, 5, 16));  // TA x TB x TC x TD'
    EXPECT_EQ(a.live_besides_value, 0);
    expect_clean();

    // The same failure before anything was applied leaves the value alone.
    standin::reset();
    ASSERT_NO_FATAL_FAILURE(load_site(transform_site({rep_b({"C"}, {kTCRep})})));
    standin::fail_object("AOM_ask_value_strings", standin::tag_of("rb_1_form"), 4711);
    const Answer b = ask(kep_bl_ask_plmxml_abs_xform, standin::tag_of("c"), std::string("standard"));
    EXPECT_EQ(b.status, 4711);
    EXPECT_FALSE(b.replaced);
    EXPECT_EQ(b.value, std::optional<std::string>("standard"));
    expect_clean();
}

// Helpers that cannot read their data leave their output as described; their status is not the
// value function's.
TEST_F(ValuesTest, StatusesThatAreNotPassedOn) {
    struct Case {
        const char* title;
        ValueFunction fn;
        const char* line;
        const char* op;
        const char* object;  // every call of op about this object fails ("" : the nth call of op)
        int nth;
        bool unchanged;
        std::optional<std::string> text;               // the occurrence transform
        std::optional<std::array<double, 16>> matrix;  // the absolute transform
    } const cases[] = {
        {"occ: parent lookup fails: as a top line", kep_bl_ask_plmxml_occ_xform, "c",
         "BOM_line_ask_attribute_tag", "c", 0, true, std::nullopt, std::nullopt},
        {"occ: occurrence name unreadable: kept", kep_bl_ask_plmxml_occ_xform, "c", "AOM_ask_value_string",
         "c", 0, true, std::nullopt, std::nullopt},
        // The first list read is the host lookup's path; the second the child names.
        {"occ: child list unreadable: kept", kep_bl_ask_plmxml_occ_xform, "c", "AOM_ask_value_strings", "", 2,
         true, std::nullopt, std::nullopt},
        // c's node gets neither its standard values nor R_b's: it counts as the identity.
        {"abs: line unreadable: its node stays empty", kep_bl_ask_plmxml_abs_xform, "c",
         "AOM_ask_value_string", "c", 0, false, std::nullopt, quarter_turn(10, 5, 0)},
        // Without a parent the walk ends after the first level: nothing is applied.
        {"abs: parent lookup fails: walk ends", kep_bl_ask_plmxml_abs_xform, "c",
         "BOM_line_ask_attribute_tag", "c", 0, true, std::nullopt, std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.title);
        standin::reset();
        ASSERT_NO_FATAL_FAILURE(load_site(transform_site({rep_b({"C"}, {kTCRep})})));
        if (c.nth > 0) {
            standin::fail_call(c.op, c.nth);
        } else {
            standin::fail_object(c.op, standin::tag_of(c.object));
        }
        const Answer a = ask(c.fn, standin::tag_of(c.line), std::string("standard"));
        EXPECT_EQ(a.status, 0);
        if (c.unchanged) {
            EXPECT_FALSE(a.replaced);
            EXPECT_EQ(a.value, std::optional<std::string>("standard"));
        } else if (c.matrix) {
            ASSERT_TRUE(a.value.has_value());
            expect_matrix(*a.value, *c.matrix);
        } else {
            EXPECT_EQ(a.value, c.text);
        }
        EXPECT_EQ(a.live_besides_value, 0);
        expect_clean();
    }
}

TEST_F(ValuesTest, NullLineAndMissingPreferences) {
    struct Case {
        const char* title;
        const char* missing;  // preference left undefined, "" for none
        const char* line;
        const char* message;  // "" for none
    } const cases[] = {
        {"null line", "", "", ""},
        {"relation missing", "KEPModOnProductDatasetRelation", "c",
         "    could not retrieve KEPModOnProductDatasetRelation from preferences\n"},
        {"type missing", "KEPModOnProductDatasetType", "c",
         "    could not retrieve KEPModOnProductDatasetType from preferences\n"},
        {"relation empty", "", "c",
         "    could not retrieve KEPModOnProductDatasetRelation from preferences\n"},
    };
    for (const ValueFunction fn : {kep_bl_ask_plmxml_occ_xform, kep_bl_ask_plmxml_abs_xform}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(c.title) + (fn == kep_bl_ask_plmxml_occ_xform ? " (occ)" : " (abs)"));
            standin::reset();
            kep_support_reset_state();
            ASSERT_NO_FATAL_FAILURE(load_site(transform_site({rep_b({"C"}, {kTCRep})})));
            set_switches("ON", nullptr, nullptr);
            if (c.missing[0] != '\0') {
                standin::set_preference(c.missing, {});
            } else if (std::string(c.title) == "relation empty") {
                standin::set_preference("KEPModOnProductDatasetRelation", {""});
            }
            Answer a;
            const std::string console =
                capture_console([&] { a = ask(fn, standin::tag_of(c.line), std::string("standard")); });
            EXPECT_EQ(a.status, 0);
            EXPECT_FALSE(a.replaced);
            if (c.message[0] != '\0') {
                EXPECT_NE(own_lines(console).find(c.message), std::string::npos) << console;
                // Nothing is looked up without both names.
                EXPECT_EQ(console.find("kep_get_modon_for_bomline"), std::string::npos);
                EXPECT_EQ(console.find("Value: ["), std::string::npos);
            }
            expect_clean();
        }
    }
}

// The statement texts and messages of both value functions, exactly.
TEST_F(ValuesTest, TraceOfBothValueFunctions) {
    ASSERT_NO_FATAL_FAILURE(load_site(transform_site({rep_b({"C"}, {kTCRep})})));
    set_switches("ON", nullptr, "ON");
    const std::string prefs =
        "    executing [    kep_get_preference(\"KEPModOnProductDatasetRelation\", "
        "&relation_modon_structure)    ]\n"
        "    >>> kep_get_preference\n"
        "    <<< kep_get_preference\n"
        "    executing [    kep_get_preference(\"KEPModOnProductDatasetType\", &type_modon_structure)    ]\n"
        "    >>> kep_get_preference\n"
        "    <<< kep_get_preference\n";
    const std::string filter =
        "    executing [    kep_filter_alt_rep_for_dataset(datasets_mod_on, count_datasets_mod_on, "
        "&dataset_mod_on_tag)    ]\n"
        "    >>> kep_filter_alt_rep_for_dataset\n"
        "    <<< kep_filter_alt_rep_for_dataset\n";
    const std::string parent = "    >>> kep_get_parent\n    <<< kep_get_parent\n";

    Answer occ;
    std::string console =
        capture_console([&] { occ = ask(kep_bl_ask_plmxml_occ_xform, standin::tag_of("c"), {}); });
    EXPECT_EQ(own_lines(console),
              ">>> kep_bl_ask_plmxml_occ_xform\n" + parent + prefs +
                  "    executing [    kep_get_modon_for_bomline(parent_tag,relation_modon_structure,"
                  "type_modon_structure, &mod_on_host_tag,&datasets_mod_on,&count_datasets_mod_on)    ]\n"
                  "    >>> kep_get_modon_for_bomline\n"
                  "    <<< kep_get_modon_for_bomline\n" +
                  filter +
                  "    get child matrix from mod rep for child\n"
                  "    >>> kep_get_matrix_str_from_modon\n"
                  "    <<< kep_get_matrix_str_from_modon\n"
                  "    Value: [" +
                  kTCRep + "]\n<<< kep_bl_ask_plmxml_occ_xform\n");

    // The form reads, one level down.
    const size_t inner = console.find("    >>> kep_get_matrix_str_from_modon\n");
    ASSERT_NE(inner, std::string::npos);
    EXPECT_EQ(
        console.substr(inner, console.find("    <<< kep_get_matrix_str_from_modon\n") - inner),
        "    >>> kep_get_matrix_str_from_modon\n"
        "        executing [        AOM_ask_value_string(act_child_tag, bomAttr_occName, &instance_name)"
        "        ]\n"
        "        executing [        AE_ask_all_dataset_named_refs(act_parent_modon_tag, \"KEPModOnInfo\", "
        "&count_refs, &refs)        ]\n"
        "        executing [        AOM_ask_value_strings(form_tag, \"var2_child_instname\", "
        "&count_form_child_instname, &form_child_instname)        ]\n"
        "        executing [        AOM_ask_value_strings(form_tag, \"var2_child_matrix\", "
        "&count_form_child_matrix, &form_child_matrix)        ]\n");
    expect_clean();

    // abs of c: levels c, b (R_b found: places c), a, top.
    standin::reset();
    kep_support_reset_state();
    ASSERT_NO_FATAL_FAILURE(load_site(transform_site({rep_b({"C"}, {kTCRep})})));
    set_switches("ON", nullptr, "ON");
    const std::string lookup =
        "    executing [    kep_get_modon_for_bomline(act_object_tag,relation_modon_structure,"
        "type_modon_structure, &mod_on_host_tag,&datasets_mod_on,&count_datasets_mod_on)    ]\n"
        "    >>> kep_get_modon_for_bomline\n"
        "    <<< kep_get_modon_for_bomline\n";
    const std::string standard =
        "    get matrix from standard\n"
        "    >>> kep_set_kep_node_data_from_bomline\n"
        "    <<< kep_set_kep_node_data_from_bomline\n";
    Answer abs;
    console = capture_console([&] { abs = ask(kep_bl_ask_plmxml_abs_xform, standin::tag_of("c"), {}); });
    ASSERT_TRUE(abs.value.has_value());
    EXPECT_EQ(own_lines(console),
              ">>> kep_bl_ask_plmxml_abs_xform\n" + prefs + lookup + standard + parent + lookup + filter +
                  "    get child matrix from mod rep for child\n"
                  "    >>> kep_set_node_data_from_modon\n"
                  "    <<< kep_set_node_data_from_modon\n" +
                  standard + parent + lookup + standard + parent + lookup + standard + parent +
                  "    InstName: [A]\n"
                  "    Matrix:   [" +
                  kTA +
                  "]\n"
                  "    InstName: [B]\n"
                  "    Matrix:   [" +
                  kTB +
                  "]\n"
                  "    InstName: [C]\n"
                  "    Matrix:   [" +
                  kTCRep + "]\n    Value: [" + *abs.value + "]\n<<< kep_bl_ask_plmxml_abs_xform\n");
    const size_t node = console.find("    >>> kep_set_kep_node_data_from_bomline\n");
    ASSERT_NE(node, std::string::npos);
    EXPECT_EQ(
        console.substr(node, console.find("    <<< kep_set_kep_node_data_from_bomline\n") - node),
        "    >>> kep_set_kep_node_data_from_bomline\n"
        "        executing [        AOM_ask_value_string(act_object_tag, bomAttr_occName, &instance_name)"
        "        ]\n"
        "        executing [        AOM_ask_value_string(act_object_tag, bomAttr_StandardOccTransform, "
        "&matrix)        ]\n");
    expect_clean();
}

// The node records: copies, replacement, null arguments, and chains released without recursion.
TEST_F(ValuesTest, NodeData) {
    kep_set_node_data(nullptr, "A", "M");  // nothing to write into

    kep_node_data_t* first = kep_node_data_create(nullptr);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->instance_name, nullptr);
    EXPECT_EQ(first->matrix_text, nullptr);
    EXPECT_EQ(first->child_node, nullptr);
    EXPECT_EQ(first->parent_node, nullptr);

    struct Step {
        const char* name;
        const char* matrix;
        const char* expect_name;
        const char* expect_matrix;
    } const steps[] = {
        {"A", "M1", "A", "M1"},    {nullptr, "M2", "A", "M2"},  // a null argument leaves its field
        {"B", nullptr, "B", "M2"}, {nullptr, nullptr, "B", "M2"}, {"", "", "", ""},  // empty texts are texts
    };
    for (const Step& s : steps) {
        char name_copy[8] = "";
        if (s.name != nullptr) {
            std::strcpy(name_copy, s.name);
        }
        kep_set_node_data(first, s.name != nullptr ? name_copy : nullptr, s.matrix);
        name_copy[0] = 'x';  // the node holds its own copy
        EXPECT_STREQ(first->instance_name, s.expect_name);
        EXPECT_STREQ(first->matrix_text, s.expect_matrix);
        EXPECT_EQ(standin::live_blocks(), 3) << "replaced texts must be released";
    }

    kep_node_data_t* second = kep_node_data_create(first);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(second->child_node, first);
    EXPECT_EQ(first->parent_node, second);
    EXPECT_EQ(second->parent_node, nullptr);
    kep_node_data_release(second);
    kep_node_data_release(nullptr);
    expect_clean();

    // 5,000 levels, each with both texts.
    kep_node_data_t* top = nullptr;
    for (int i = 0; i < 5000; ++i) {
        top = kep_node_data_create(top);
        ASSERT_NE(top, nullptr);
        kep_set_node_data(top, "N", "1 0 0 0 0 1 0 0 0 0 1 0 0 0 0 1");
    }
    EXPECT_EQ(standin::live_blocks(), 15000);
    kep_node_data_release(top);
    expect_clean();
}

TEST_F(ValuesTest, DeepStructures) {
    // The occurrence transform walks once to the top: 5,000 levels.
    ASSERT_NO_FATAL_FAILURE(load_site(kep_test::deep_chain_site(5000)));
    Answer occ = ask(kep_bl_ask_plmxml_occ_xform, standin::tag_of("l5000"), std::string("standard"));
    EXPECT_EQ(occ.status, 0);
    EXPECT_EQ(occ.value, std::optional<std::string>("1 0 0 0 0 1 0 0 0 0 1 0 0 0 100 1"));
    EXPECT_EQ(occ.live_besides_value, 0);
    expect_clean();

    // The absolute transform walks to the top from every level, so its cost grows with the square
    // of the depth; a few hundred levels show the product over every one of them.
    standin::reset();
    const int depth = 200;
    ASSERT_NO_FATAL_FAILURE(load_site(kep_test::deep_chain_site(depth)));
    Answer abs = ask(kep_bl_ask_plmxml_abs_xform, standin::tag_of("l" + std::to_string(depth)), std::nullopt);
    EXPECT_EQ(abs.status, 0);
    ASSERT_TRUE(abs.value.has_value());
    std::array<double, 16> expected = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, depth - 1 + 100.0, 0, 0, 0, 1};
    expect_matrix(*abs.value, expected);
    EXPECT_EQ(abs.live_besides_value, 0);
    expect_clean();
}

}  // namespace
}  // namespace modon_test
