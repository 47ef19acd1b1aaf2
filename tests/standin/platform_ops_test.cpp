// The site read through the platform operations: preferences and scope, environment, system
// log, lines, relations, datasets, types and display values.
#include <ae/dataset.h>
#include <base_utils/Mem.h>
#include <bom/bom.h>
#include <pom/pom/pom.h>
#include <tc/preferences.h>
#include <tc/tc_startup.h>
#include <tc/tc_util.h>
#include <tccore/aom_prop.h>
#include <tccore/grm.h>
#include <tccore/tctype.h>

#include <cstdlib>
#include <cstring>
#include <set>

#include "kep_posix.h"
#include "standin_fixture.h"

namespace standin_test {
namespace {

using PlatformTest = StandinTest;

std::vector<tag_t> take(int n, tag_t* tags) {
    std::vector<tag_t> out(tags, tags + n);
    MEM_free(tags);
    return out;
}

TEST_F(PlatformTest, PreferencesAndTheirScope) {
    struct Case {
        const char* key;
        int count;
        std::vector<std::string> values;
    };
    const Case cases[] = {
        {"One", 1, {"first"}}, {"Two", 2, {"x", "y"}}, {"Empty", 0, {}}, {"Undefined", 0, {}}};
    for (const Case& c : cases) {
        int count = -1;
        EXPECT_EQ(PREF_ask_value_count(c.key, &count), ITK_ok);
        EXPECT_EQ(count, c.count) << c.key;
        char** values = reinterpret_cast<char**>(0x1);
        EXPECT_EQ(PREF_ask_char_values(c.key, &count, &values), ITK_ok);
        EXPECT_EQ(std::vector<std::string>(values, values + count), c.values);
        MEM_free(values);  // null for an empty list
        char* value = nullptr;
        EXPECT_EQ(PREF_ask_char_value(c.key, c.count, &value), standin::kErrIndexRange) << c.key;
        if (c.count > 0) {
            EXPECT_EQ(PREF_ask_char_value(c.key, c.count - 1, &value), ITK_ok);
            EXPECT_EQ(value, c.values.back());
            MEM_free(value);
        }
    }
    TC_preference_search_scope_t scope = TC_preference_all;
    EXPECT_EQ(PREF_ask_search_scope(&scope), ITK_ok);
    EXPECT_EQ(scope, TC_preference_group);  // the site's starting scope
    EXPECT_EQ(PREF_set_search_scope(TC_preference_all), ITK_ok);
    EXPECT_EQ(standin::search_scope(), 0);
    standin::set_preference("Two", {"z"});
    int count = 0;
    EXPECT_EQ(PREF_ask_value_count("Two", &count), ITK_ok);
    EXPECT_EQ(count, 1);
    EXPECT_EQ(standin::live_blocks(), 0);
    EXPECT_EQ(standin::misuse_count(), 0);
}

TEST_F(PlatformTest, EnvironmentOverridesAndStableStorage) {
    setenv("STANDIN_PROCESS_VAR", "from process", 1);
    EXPECT_STREQ(TC_getenv("STANDIN_SITE_VAR"), "from site");
    // The site's env only gives defaults: the process environment wins, also over a null entry.
    setenv("STANDIN_SITE_VAR", "from shell", 1);
    EXPECT_STREQ(TC_getenv("STANDIN_SITE_VAR"), "from shell");
    unsetenv("STANDIN_SITE_VAR");
    const char* home = std::getenv("HOME");
    const std::string saved_home = home != nullptr ? home : "";
    setenv("HOME", "/home/standin", 1);
    EXPECT_STREQ(TC_getenv("HOME"), "/home/standin");
    unsetenv("HOME");
    EXPECT_EQ(TC_getenv("HOME"), nullptr);
    if (home != nullptr) {
        setenv("HOME", saved_home.c_str(), 1);
    }
    const char* value = TC_getenv("STANDIN_PROCESS_VAR");
    EXPECT_STREQ(value, "from process");
    setenv("STANDIN_PROCESS_VAR", "changed", 1);
    EXPECT_STREQ(value, "from process");  // what was handed out stays valid
    EXPECT_EQ(TC_getenv("STANDIN_UNSET_VAR_XYZ"), nullptr);
    standin::set_env("STANDIN_PROCESS_VAR", "override");
    EXPECT_STREQ(TC_getenv("STANDIN_PROCESS_VAR"), "override");
    standin::set_env("STANDIN_PROCESS_VAR", nullptr);
    EXPECT_STREQ(TC_getenv("STANDIN_PROCESS_VAR"), "changed");
    standin::hide_env("STANDIN_PROCESS_VAR");
    EXPECT_EQ(TC_getenv("STANDIN_PROCESS_VAR"), nullptr);
    unsetenv("STANDIN_PROCESS_VAR");
}

TEST_F(PlatformTest, SyslogIsFormattedAndAppendedAsIs) {
    TC_write_syslog("[KEP] %s=%d\n", "n", 3);
    TC_write_syslog("%s", "no line end");
    TC_write_syslog("%s", "");
    TC_write_syslog("100%%");
    EXPECT_EQ(standin::syslog(), "[KEP] n=3\nno line end100%");
    standin::clear_syslog();
    EXPECT_EQ(standin::syslog(), "");
}

TEST_F(PlatformTest, WindowsAndLines) {
    tag_t top = NULLTAG;
    EXPECT_EQ(BOM_ask_window_top_line(t("w1"), &top), ITK_ok);
    EXPECT_EQ(top, t("top"));
    EXPECT_EQ(BOM_ask_window_top_line(t("w_empty"), &top), ITK_ok);
    EXPECT_EQ(top, NULLTAG);

    int n = 0;
    tag_t* lines = nullptr;
    ASSERT_EQ(BOM_line_ask_child_lines(t("top"), &n, &lines), ITK_ok);
    EXPECT_EQ(take(n, lines), (std::vector<tag_t>{t("a"), t("b")}));
    ASSERT_EQ(BOM_line_ask_child_lines(t("b"), &n, &lines), ITK_ok);  // packed lines are not children
    EXPECT_EQ(n, 0);
    EXPECT_EQ(lines, nullptr);
    ASSERT_EQ(BOM_line_ask_packed_lines(t("b"), &n, &lines), ITK_ok);
    EXPECT_EQ(take(n, lines), (std::vector<tag_t>{t("b2"), t("b3")}));
    ASSERT_EQ(BOM_line_ask_packed_lines(t("a"), &n, &lines), ITK_ok);
    EXPECT_EQ(n, 0);

    // Attribute ids and values; a packed line's parent is the parent of the line listing it.
    struct Case {
        const char* line;
        const char* attribute;
        tag_t tag;
        const char* text;  // null: a tag attribute
    };
    const Case cases[] = {
        {"a1", "bl_parent", t("a"), nullptr},          {"b2", "bl_parent", t("top"), nullptr},
        {"top", "bl_parent", NULLTAG, nullptr},        {"a", "bl_revision", t("part/A"), nullptr},
        {"a", "bl_jt_dataset_tag", t("jt1"), nullptr}, {"b", "bl_jt_dataset_tag", NULLTAG, nullptr},
        {"a", "bl_item_item_id", 0, "PART"},           {"a1", "bl_occurrence_name", 0, "A1"},
        {"b3", "bl_occurrence_name", 0, ""},
    };
    for (const Case& c : cases) {
        int attribute = 0;
        ASSERT_EQ(BOM_line_look_up_attribute(c.attribute, &attribute), ITK_ok);
        if (c.text == nullptr) {
            tag_t value = 99;
            EXPECT_EQ(BOM_line_ask_attribute_tag(t(c.line), attribute, &value), ITK_ok);
            EXPECT_EQ(value, c.tag) << c.line << " " << c.attribute;
            EXPECT_EQ(AOM_ask_value_tag(t(c.line), c.attribute, &value), ITK_ok);
            EXPECT_EQ(value, c.tag) << c.line << " " << c.attribute;
        } else {
            char* value = nullptr;
            EXPECT_EQ(BOM_line_ask_attribute_string(t(c.line), attribute, &value), ITK_ok);
            EXPECT_STREQ(value, c.text);
            MEM_free(value);
            EXPECT_EQ(AOM_ask_value_string(t(c.line), c.attribute, &value), ITK_ok);
            EXPECT_STREQ(value, c.text);
            MEM_free(value);
        }
    }
    int attribute = 0;
    ASSERT_EQ(BOM_line_look_up_attribute("bl_parent", &attribute), ITK_ok);
    char* text = nullptr;
    EXPECT_EQ(BOM_line_ask_attribute_string(t("a"), attribute, &text), standin::kErrWrongValueType);
    tag_t value = NULLTAG;
    EXPECT_EQ(BOM_line_ask_attribute_tag(t("a"), 5, &value), standin::kErrNoSuchAttribute);
    EXPECT_EQ(standin::live_blocks(), 0);
}

TEST_F(PlatformTest, TransformsOfTheLines) {
    // top: translation (1, 2, 3); a: 90 degrees about z, translation (10, 0, 0); a1: translation
    // (0, 5, 0). abs(a1) = top * a * a1: rotation of a, translation (1 + 10 - 5, 2, 3).
    struct Case {
        const char* line;
        const char* occ;  // null: none stored
        const char* abs;
    };
    const Case cases[] = {
        {"top", "1 0 0 0 0 1 0 0 0 0 1 0 1 2 3 1", "1 0 0 0 0 1 0 0 0 0 1 0 1 2 3 1"},
        {"a", "0 1 0 0 -1 0 0 0 0 0 1 0 10 0 0 1", "0 1 0 0 -1 0 0 0 0 0 1 0 11 2 3 1"},
        {"a1", "1 0 0 0 0 1 0 0 0 0 1 0 0 5 0 1", "0 1 0 0 -1 0 0 0 0 0 1 0 6 2 3 1"},
        {"b", nullptr, "1 0 0 0 0 1 0 0 0 0 1 0 1 2 3 1"},          // none stored: identity
        {"b2", "not a matrix", "1 0 0 0 0 1 0 0 0 0 1 0 1 2 3 1"},  // unreadable: identity
        {"b3", "1 0 0 0 0 1 0 0 0 0 1 0 0 0 0 1", "1 0 0 0 0 1 0 0 0 0 1 0 1 2 3 1"},  // default text
    };
    for (const Case& c : cases) {
        char* value = nullptr;
        EXPECT_EQ(AOM_ask_value_string(t(c.line), "bl_plmxml_occ_xform", &value), ITK_ok);
        EXPECT_EQ(value == nullptr ? std::string("null") : std::string(value),
                  c.occ == nullptr ? "null" : c.occ)
            << c.line;
        MEM_free(value);
        EXPECT_EQ(AOM_ask_value_string(t(c.line), "bl_plmxml_abs_xform", &value), ITK_ok);
        EXPECT_STREQ(value, c.abs) << c.line;
        MEM_free(value);
    }
    EXPECT_EQ(standin::live_blocks(), 0);
}

TEST_F(PlatformTest, LinePropertiesWithoutAPlatformMethodReadEmpty) {
    load(site_with("\"preferences\"", std::string("\"line_methods\": [], ") + "\"preferences\""));
    char* value = reinterpret_cast<char*>(0x1);
    EXPECT_EQ(AOM_ask_value_string(t("a"), "bl_plmxml_occ_xform", &value), ITK_ok);
    EXPECT_EQ(value, nullptr);
    tag_t jt = 99;
    EXPECT_EQ(AOM_ask_value_tag(t("a"), "bl_jt_dataset_tag", &jt), ITK_ok);
    EXPECT_EQ(jt, NULLTAG);
}

TEST_F(PlatformTest, RelationsListInFileOrder) {
    tag_t relation = NULLTAG;
    EXPECT_EQ(GRM_find_relation_type("IMAN_specification", &relation), ITK_ok);
    EXPECT_EQ(relation, 28u);
    tag_t unknown = 5;
    EXPECT_EQ(GRM_find_relation_type("IMAN_nothing", &unknown), ITK_ok);  // as the platform does
    EXPECT_EQ(unknown, NULLTAG);
    tag_t reference = NULLTAG;
    EXPECT_EQ(GRM_find_relation_type("IMAN_reference", &reference), ITK_ok);  // declared, unused
    EXPECT_NE(reference, NULLTAG);

    int n = 0;
    tag_t* found = nullptr;
    ASSERT_EQ(GRM_list_secondary_objects_only(t("part/A"), relation, &n, &found), ITK_ok);
    EXPECT_EQ(take(n, found), (std::vector<tag_t>{t("ds1"), t("ds2")}));
    ASSERT_EQ(GRM_list_secondary_objects_only(t("part/A"), NULLTAG, &n, &found), ITK_ok);
    EXPECT_EQ(take(n, found), (std::vector<tag_t>{t("ds1"), t("jt1"), t("ds2")}));
    ASSERT_EQ(GRM_list_secondary_objects_only(t("part/A"), reference, &n, &found), ITK_ok);
    EXPECT_EQ(n, 0);
    EXPECT_EQ(found, nullptr);
    EXPECT_EQ(GRM_list_secondary_objects_only(t("part/A"), t("ds1"), &n, &found), standin::kErrWrongKind);
    EXPECT_EQ(GRM_list_secondary_objects_only(t("a"), NULLTAG, &n, &found), standin::kErrWrongKind);
    EXPECT_EQ(standin::live_blocks(), 0);
}

TEST_F(PlatformTest, DatasetsNamedReferencesAndVersionZero) {
    int n = 0;
    tag_t* refs = nullptr;
    ASSERT_EQ(AE_ask_all_dataset_named_refs(t("ds1"), "Two", &n, &refs), ITK_ok);
    EXPECT_EQ(take(n, refs), (std::vector<tag_t>{t("bb1"), t("bb2")}));
    refs = reinterpret_cast<tag_t*>(0x1);
    ASSERT_EQ(AE_ask_all_dataset_named_refs(t("ds2"), "VAR2BBInfo", &n, &refs), ITK_ok);
    EXPECT_EQ(n, 0);
    EXPECT_EQ(refs, nullptr);
    EXPECT_EQ(AE_ask_all_dataset_named_refs(t("bb1"), "VAR2BBInfo", &n, &refs), standin::kErrWrongKind);

    tag_t v0 = NULLTAG;
    EXPECT_EQ(AE_ask_dataset(t("ds1"), &v0), ITK_ok);
    EXPECT_EQ(v0, t("ds1"));  // default: itself
    EXPECT_EQ(AE_ask_dataset(t("ds2"), &v0), ITK_ok);
    EXPECT_EQ(v0, t("ds1"));
    EXPECT_EQ(standin::live_blocks(), 0);
}

TEST_F(PlatformTest, TypesOfObjects) {
    struct Case {
        const char* id;
        const char* type;
    };
    for (const Case& c : {Case{"asm/A", "ItemRevision"}, Case{"ds1", "Part3D"}, Case{"jt1", "JtPart"},
                          Case{"f1", "Form"}, Case{"a", "BOMLine"}, Case{"w1", "BOMWindow"}}) {
        tag_t type = NULLTAG;
        ASSERT_EQ(TCTYPE_ask_object_type(t(c.id), &type), ITK_ok);
        char name[TCTYPE_name_size_c + 1] = "";
        ASSERT_EQ(TCTYPE_ask_name(type, name), ITK_ok);
        EXPECT_STREQ(name, c.type);
    }
    tag_t type = NULLTAG;
    EXPECT_EQ(TCTYPE_ask_object_type(21, &type), standin::kErrWrongKind);  // a type has no object type here
    char name[TCTYPE_name_size_c + 1] = "";
    EXPECT_EQ(TCTYPE_ask_name(t("ds1"), name), standin::kErrWrongKind);
}

TEST_F(PlatformTest, AttributeValuesAndTheirDisplay) {
    struct Case {
        const char* id;
        const char* prop;
        const char* display;
    };
    const Case cases[] = {
        {"bb1", "var2_bb_x1", "0.5"},
        {"bb2", "var2_bb_x1", "-1"},
        {"bb1", "label", "box"},
        {"bb1", "flag", "True"},
        {"bb1", "list", "a,,c"},
        {"bb1", "nothing", ""},
        {"ds1", "object_name", "PART/A"},
        {"ds1", "object_type", "Part3D"},
        {"part/A", "item_id", "PART"},
        {"part/A", "object_name", ""},
        {"a", "bl_revision", "part/A"},
        {"a1", "bl_parent", "a"},
        {"asm/A", "object_name", "Assembly"},
        {"ds1", "var2_is_v0", ""},
    };
    for (const Case& c : cases) {
        char* value = nullptr;
        EXPECT_EQ(AOM_UIF_ask_value(t(c.id), c.prop, &value), ITK_ok) << c.id << "." << c.prop;
        EXPECT_STREQ(value, c.display) << c.id << "." << c.prop;
        MEM_free(value);
    }
    char* name = nullptr;
    EXPECT_EQ(AOM_UIF_ask_name(t("bb1"), "var2_bb_x1", &name), ITK_ok);
    EXPECT_STREQ(name, "Var2 Bb X1");
    MEM_free(name);
    EXPECT_EQ(AOM_UIF_ask_name(t("bb1"), "colour", &name), standin::kErrNoSuchProperty);

    double number = 0;
    EXPECT_EQ(AOM_ask_value_double(t("bb1"), "var2_bb_x1", &number), ITK_ok);
    EXPECT_EQ(number, 0.5);
    logical flag = false;
    EXPECT_EQ(AOM_ask_value_logical(t("bb1"), "flag", &flag), ITK_ok);
    EXPECT_TRUE(flag);
    char* text = reinterpret_cast<char*>(0x1);
    EXPECT_EQ(AOM_ask_value_string(t("bb1"), "nothing", &text), ITK_ok);
    EXPECT_EQ(text, nullptr);
    EXPECT_EQ(AOM_ask_value_logical(t("ds1"), "var2_is_v0", &flag), ITK_ok);  // no getter: false
    EXPECT_FALSE(flag);
    EXPECT_EQ(standin::live_blocks(), 0);
}

TEST_F(PlatformTest, PuidsAreStableAndDistinct) {
    std::set<std::string> seen;
    for (tag_t tag = 1; tag <= 30; ++tag) {
        char* puid = nullptr;
        ASSERT_EQ(POM_tag_to_string(tag, &puid), ITK_ok);
        EXPECT_EQ(std::strlen(puid), 14u);
        seen.insert(puid);
        MEM_free(puid);
    }
    EXPECT_EQ(seen.size(), 30u);
    char* text = nullptr;
    POM_tag_to_string(3, &text);
    const std::string first = text;
    MEM_free(text);
    load(kSite);
    POM_tag_to_string(3, &text);
    EXPECT_EQ(first, text);
    MEM_free(text);
    char* again = nullptr;
    EXPECT_EQ(POM_tag_to_string(0, &again), standin::kErrUnknownTag);
}

}  // namespace
}  // namespace standin_test
