// Exits, type registrations, property dispatch and services, through the test extension (loaded
// as the platform loads a custom library) and through methods registered directly.
#include <base_utils/Mem.h>
#include <bom/bom.h>
#include <ict/ict_userservice.h>
#include <property/prop.h>
#include <standin/library.h>
#include <tccore/aom_prop.h>
#include <tccore/custom.h>
#include <tccore/method.h>
#include <tccore/tctype.h>

#include <cstring>
#include <sstream>

#include "standin_fixture.h"

namespace standin_test {
namespace {

// The test extension, opened once per process; its event text is reset per test.
struct TestExtension {
    void* handle = nullptr;
    std::string error;  // why it could not be loaded
    int (*register_callbacks)() = nullptr;
    const char* (*events)() = nullptr;
    void (*clear_events)() = nullptr;

    static TestExtension& get() {
        static TestExtension ext = [] {
            TestExtension e;
            e.handle = standin::load_library(KEP_TESTEXT_PATH, &e.error);
            if (e.handle != nullptr) {
                e.register_callbacks = reinterpret_cast<int (*)()>(
                    standin::library_function(e.handle, "kep_testext_register_callbacks"));
                e.events = reinterpret_cast<const char* (*)()>(
                    standin::library_function(e.handle, "kep_testext_events"));
                e.clear_events = reinterpret_cast<void (*)()>(
                    standin::library_function(e.handle, "kep_testext_clear_events"));
            }
            return e;
        }();
        return ext;
    }
};

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        out.push_back(line);
    }
    return out;
}

class ExtensionTest : public StandinTest {
protected:
    void SetUp() override {
        StandinTest::SetUp();
        TestExtension& ext = TestExtension::get();
        ASSERT_NE(ext.handle, nullptr) << ext.error;
        ASSERT_NE(ext.register_callbacks, nullptr);
        ext.clear_events();
    }
    // Loads the site, calls the entry point and runs the three exits; returns the events so far.
    std::vector<std::string> start(const std::string& site = kSite) {
        load(site);
        TestExtension& ext = TestExtension::get();
        EXPECT_EQ(ext.register_callbacks(), ITK_ok);
        EXPECT_EQ(standin::run_all_exits(), ITK_ok);
        return take_events();
    }
    static std::vector<std::string> take_events() {
        TestExtension& ext = TestExtension::get();
        std::vector<std::string> events = lines_of(ext.events());
        ext.clear_events();
        return events;
    }
    static std::string ask(const std::string& id, const char* prop) {
        char* value = nullptr;
        const int status = standin::ask_string(standin::tag_of(id), prop, &value);
        std::string out = status != ITK_ok   ? "status " + std::to_string(status)
                          : value == nullptr ? "null"
                                             : value;
        MEM_free(value);
        return out;
    }
};

TEST_F(ExtensionTest, ExitsRunInPlatformOrderAndTypeRegistrationsRightAfterTheirExit) {
    const std::vector<std::string> events = start();
    const std::vector<std::string> expected = {
        "register_callbacks",
        "exit USER_init_module",
        "exit USER_register_properties",
        "exit USER_register_properties returns",
        // Dataset is tag 21; the empty name and the null function of the table are skipped.
        "register_type Dataset type=21 object_tag=21",
        "exit USERSERVICE_register_methods",
        "post-actions on bl_plmxml_occ_xform",
        "post-actions on bl_jt_dataset_tag",
    };
    EXPECT_EQ(events, expected);
    const std::vector<std::pair<std::string, std::string>> exits = {
        {"kep_testext", "USER_init_module"},
        {"kep_testext", "USER_register_properties"},
        {"kep_testext", "USERSERVICE_register_methods"}};
    EXPECT_EQ(standin::registered_exits(), exits);
    const auto services = standin::service_infos();
    ASSERT_EQ(services.size(), 1u);
    EXPECT_EQ(services[0].name, "testext_echo");
    EXPECT_EQ(services[0].argument_types,
              (std::vector<int>{9, 3, 109}));  // copied, not the caller's temporary
    EXPECT_EQ(services[0].return_type, 109);
    int decision = 0;
    EXPECT_EQ(standin::run_exit("USER_init_module", &decision), ITK_ok);
    EXPECT_EQ(decision, ALL_CUSTOMIZATIONS);
}

TEST_F(ExtensionTest, PostActionsRunInOrderAfterThePlatformsMethod) {
    start();
    // Line "a" has the stored transform; the platform's own method fills the slot first.
    EXPECT_EQ(ask("a", "bl_plmxml_occ_xform"), "0 1 0 0 -1 0 0 0 0 0 1 0 10 0 0 1");
    const tag_t a = t("a");
    const std::vector<std::string> events = take_events();
    ASSERT_EQ(events.size(), 2u);
    // The va_list holds the property tag, then the slot: the property tag leads back to the line.
    const std::string prefix = "occ_post_first line=" + std::to_string(a) + " prop=";
    ASSERT_EQ(events[0].rfind(prefix, 0), 0u) << events[0];
    const tag_t prop = static_cast<tag_t>(std::stoul(events[0].substr(prefix.size())));
    tag_t owner = NULLTAG;
    EXPECT_EQ(PROP_ask_owning_object(prop, &owner), ITK_ok);
    EXPECT_EQ(owner, a);
    EXPECT_EQ(standin::kind_of(prop), "Property");
    EXPECT_NE(events[0].find("prop_name=\"bl_plmxml_occ_xform\" value=\"0 1 0 0 -1 0"), std::string::npos);
    EXPECT_EQ(events[1],
              "occ_post_second line=" + std::to_string(a) + " value=\"0 1 0 0 -1 0 0 0 0 0 1 0 10 0 0 1\"");
    EXPECT_EQ(standin::live_blocks(), 0);
}

TEST_F(ExtensionTest, PostActionMayReplaceTheValue) {
    start(site_with("\"occurrence_name\": \"A1\"", "\"occurrence_name\": \"REPLACE\""));
    EXPECT_EQ(ask("a1", "bl_plmxml_occ_xform"), "replaced");
    take_events();
    EXPECT_EQ(standin::live_blocks(), 0);
    EXPECT_EQ(standin::misuse_count(), 0);
}

TEST_F(ExtensionTest, MethodsMayReadOtherLinesWhileDispatching) {
    start(site_with("\"occurrence_name\": \"A1\"", "\"occurrence_name\": \"NESTED\""));
    EXPECT_EQ(ask("a1", "bl_plmxml_occ_xform"), "1 0 0 0 0 1 0 0 0 0 1 0 0 5 0 1");
    const std::vector<std::string> events = take_events();
    // a1's first post-action reads its parent's property, which runs a's whole chain inside.
    ASSERT_EQ(events.size(), 5u);
    EXPECT_EQ(events[0].rfind("occ_post_first line=" + std::to_string(t("a1")), 0), 0u);
    EXPECT_EQ(events[1].rfind("occ_post_first line=" + std::to_string(t("a")), 0), 0u);
    EXPECT_EQ(events[2].rfind("occ_post_second line=" + std::to_string(t("a")), 0), 0u);
    EXPECT_EQ(events[3],
              "nested parent=" + std::to_string(t("a")) + " value=\"0 1 0 0 -1 0 0 0 0 0 1 0 10 0 0 1\"");
    EXPECT_EQ(events[4].rfind("occ_post_second line=" + std::to_string(t("a1")), 0), 0u);
    EXPECT_EQ(standin::live_blocks(), 0);
}

TEST_F(ExtensionTest, FailingActionStopsTheChainAndReleasesTheValue) {
    start(site_with("\"occurrence_name\": \"A1\"", "\"occurrence_name\": \"FAIL\""));
    EXPECT_EQ(ask("a1", "bl_plmxml_occ_xform"), "status 4242");
    const std::vector<std::string> events = take_events();
    ASSERT_EQ(events.size(), 1u);  // the second post-action is not run
    EXPECT_EQ(standin::live_blocks(), 0);
}

TEST_F(ExtensionTest, WithoutPlatformMethodsTheExtensionsMethodsAnswer) {
    const std::string site = site_with(
        "\"preferences\"", std::string("\"line_methods\": [\"bl_plmxml_abs_xform\"], ") + "\"preferences\"");
    const std::vector<std::string> events = start(site);
    EXPECT_EQ(events[6], "method on bl_plmxml_occ_xform");
    EXPECT_EQ(events[7], "method on bl_jt_dataset_tag");
    EXPECT_EQ(ask("a", "bl_plmxml_occ_xform"), "method:A");
    tag_t jt = 99;
    EXPECT_EQ(standin::ask_tag(t("a"), "bl_jt_dataset_tag", &jt), ITK_ok);
    EXPECT_EQ(jt, NULLTAG);
    const std::vector<std::string> calls = take_events();
    // A registered method starts from an empty slot.
    EXPECT_EQ(calls[0], "occ_method line=" + std::to_string(t("a")) + " value=null");
    EXPECT_EQ(calls[1], "jt_method line=" + std::to_string(t("a")) + " value=0");
    EXPECT_EQ(standin::live_blocks(), 0);
}

TEST_F(ExtensionTest, RuntimePropertyOnDatasetServesEverySubtype) {
    start();
    bool value = false;
    EXPECT_EQ(standin::ask_logical(t("ds1"), "testext_is_v0", &value), ITK_ok);
    EXPECT_TRUE(value);  // its own version 0
    EXPECT_EQ(standin::ask_logical(t("ds2"), "testext_is_v0", &value), ITK_ok);
    EXPECT_FALSE(value);  // version 0 is ds1
    EXPECT_EQ(standin::ask_logical(t("jt1"), "testext_is_v0", &value),
              ITK_ok);  // JtPart -> Part3D -> Dataset
    EXPECT_TRUE(value);
    EXPECT_EQ(standin::ask_logical(t("bb1"), "testext_is_v0", &value), standin::kErrNoSuchProperty);
    const std::vector<std::string> events = take_events();
    ASSERT_EQ(events.size(), 3u);
    EXPECT_EQ(events[1], "is_v0 object_tag=4 owner=4 value=0 status=0");
}

TEST_F(ExtensionTest, ServiceTakesQueuedArgumentsAndHandsBackACopy) {
    start();
    std::vector<tag_t> returned;
    bool handed_back = false;
    standin::UserArg window{standin::UserArg::Tag};
    window.tag = t("w1");
    standin::UserArg distance{standin::UserArg::Double};
    distance.value = 2.5;
    standin::UserArg lines{standin::UserArg::TagArray};
    lines.tags = {t("a"), t("b")};
    EXPECT_EQ(standin::call_service("testext_echo", {window, distance, lines}, &returned, &handed_back),
              ITK_ok);
    EXPECT_TRUE(handed_back);
    EXPECT_EQ(returned, (std::vector<tag_t>{t("b"), t("a"), t("w1")}));
    EXPECT_EQ(take_events()[0], "echo window=12 distance=2.5 n=2 status=0");
    EXPECT_EQ(standin::live_blocks(), 0);  // the service freed its own array; the copy is the platform's

    // A missing or mistyped argument fails the USERARG call.
    EXPECT_EQ(standin::call_service("testext_echo", {window, lines}, &returned, &handed_back),
              standin::kErrUserArg);
    EXPECT_FALSE(handed_back);
    EXPECT_EQ(last_error(),
              "900011 USERARG_get_double_argument: argument 2 is an array of tags, not a double");
    EXPECT_EQ(standin::call_service("testext_echo", {window, distance}, &returned, &handed_back),
              standin::kErrUserArg);
    EXPECT_EQ(last_error(), "900011 USERARG_get_tag_array_argument: no argument left");
    EXPECT_EQ(standin::call_service("nope", {}, &returned, &handed_back), standin::kErrBadArgument);
}

// --- methods registered directly ---------------------------------------------------------------

std::vector<std::string> g_trace;

int string_method(METHOD_message_t* m, va_list args) {
    const tag_t prop = va_arg(args, tag_t);
    char** value = va_arg(args, char**);
    g_trace.push_back("method " + std::to_string(m->object_tag) + " " + std::to_string(prop != 0));
    *value = static_cast<char*>(MEM_alloc(4));
    std::strcpy(*value, "new");
    return ITK_ok;
}

int pre_action(METHOD_message_t*, va_list args) {
    (void)va_arg(args, tag_t);
    char** value = va_arg(args, char**);
    g_trace.push_back(std::string("pre ") + (*value == nullptr ? "null" : *value));
    return ITK_ok;
}

int post_action(METHOD_message_t*, va_list args) {
    (void)va_arg(args, tag_t);
    char** value = va_arg(args, char**);
    g_trace.push_back(std::string("post ") + (*value == nullptr ? "null" : *value));
    return ITK_ok;
}

using RegistryTest = StandinTest;

TEST_F(RegistryTest, FindReportsAMethodOnlyWhereOneExists) {
    struct Case {
        const char* type;
        const char* prop;
        const char* msg;
        int status;
        bool found;
    };
    const Case cases[] = {
        {"BOMLine", "bl_plmxml_occ_xform", PROP_ask_value_string_msg, ITK_ok, true},
        {"BOMLine", "bl_jt_dataset_tag", PROP_ask_value_tag_msg, ITK_ok, true},
        {"BOMLine", "bl_jt_dataset_tag", PROP_ask_value_string_msg, ITK_ok, false},  // other message
        {"BOMLine", "bl_revision", PROP_ask_value_tag_msg, ITK_ok, false},           // plain attribute
        {"Dataset", "var2_is_v0", PROP_ask_value_logical_msg, ITK_ok, false},
        {"NoType", "x", PROP_ask_value_tag_msg, standin::kErrNoSuchType, false},
    };
    for (const Case& c : cases) {
        METHOD_id_t id{0, reinterpret_cast<void*>(0x1)};  // must be reset when there is none
        EXPECT_EQ(METHOD_find_prop_method(c.type, c.prop, c.msg, &id), c.status) << c.prop;
        if (c.status == ITK_ok) {
            EXPECT_EQ(id.id != nullptr, c.found) << c.type << "." << c.prop;
        }
    }
}

TEST_F(RegistryTest, RegistrationNeedsAPropertyTheTypeDefines) {
    METHOD_id_t id{};
    EXPECT_EQ(METHOD_register_prop_method("Dataset", "var2_is_v1", PROP_ask_value_logical_msg, post_action,
                                          nullptr, &id),
              standin::kErrNoSuchProperty);
    EXPECT_EQ(last_error(),
              "900004 METHOD_register_prop_method: type \"Dataset\" has no property \"var2_is_v1\"");
    const auto registers = [&](const char* type, const char* property, const char* msg,
                               METHOD_function_t method) {
        return METHOD_register_prop_method(type, property, msg, method, nullptr, &id);
    };
    // Site-declared on Dataset: serves Part3D too; a Form has no such property.
    EXPECT_EQ(registers("Part3D", "var2_is_v0", PROP_ask_value_logical_msg, post_action), ITK_ok);
    EXPECT_EQ(registers("Form", "var2_is_v0", PROP_ask_value_logical_msg, post_action),
              standin::kErrNoSuchProperty);
    // Attributes the site's objects of the type carry are defined on it.
    EXPECT_EQ(registers("BBForm", "label", PROP_ask_value_string_msg, string_method), ITK_ok);
    EXPECT_EQ(registers("BBForm", "label", PROP_ask_value_string_msg, string_method), standin::kErrDuplicate);
    EXPECT_EQ(registers("BOMLine", "bl_revision", "PROP_set_value_tag", string_method),
              standin::kErrBadArgument);
    // A run-time property created once exists; creating it again fails.
    tag_t desc = NULLTAG;
    EXPECT_EQ(TCTYPE_add_runtime_property(27, "x_new", PROP_string, 32, &desc), ITK_ok);
    EXPECT_EQ(standin::kind_of(desc), "PropertyDescriptor");
    EXPECT_EQ(TCTYPE_add_runtime_property(27, "x_new", PROP_string, 32, &desc), standin::kErrDuplicate);
    EXPECT_EQ(TCTYPE_add_runtime_property(21, "var2_is_v0", PROP_logical, 1, &desc), standin::kErrDuplicate);
    EXPECT_EQ(METHOD_add_action(METHOD_id_t{0, nullptr}, METHOD_post_action_type, post_action, nullptr),
              standin::kErrNoMethod);
}

TEST_F(RegistryTest, ChainOrderPreMethodPost) {
    g_trace.clear();
    METHOD_id_t id{};
    ASSERT_EQ(METHOD_register_prop_method("BBForm", "label", PROP_ask_value_string_msg, string_method,
                                          nullptr, &id),
              ITK_ok);
    ASSERT_EQ(METHOD_add_action(id, METHOD_post_action_type, post_action, nullptr), ITK_ok);
    ASSERT_EQ(METHOD_add_action(id, METHOD_pre_action_type, pre_action, nullptr), ITK_ok);
    char* value = nullptr;
    ASSERT_EQ(AOM_ask_value_string(t("bb1"), "label", &value), ITK_ok);
    EXPECT_STREQ(value, "new");
    MEM_free(value);
    EXPECT_EQ(g_trace, (std::vector<std::string>{"pre null", "method 6 1", "post new"}));
    // The display value goes through the chain as well.
    g_trace.clear();
    ASSERT_EQ(AOM_UIF_ask_value(t("bb1"), "label", &value), ITK_ok);
    EXPECT_STREQ(value, "new");
    MEM_free(value);
    EXPECT_EQ(g_trace.size(), 3u);
    EXPECT_EQ(standin::live_blocks(), 0);
}

TEST_F(RegistryTest, LineAttributesReadThroughTheMethodRegistryToo) {
    METHOD_id_t id{};
    ASSERT_EQ(METHOD_find_prop_method("BOMLine", "bl_plmxml_abs_xform", PROP_ask_value_string_msg, &id),
              ITK_ok);
    g_trace.clear();
    ASSERT_EQ(METHOD_add_action(id, METHOD_post_action_type, post_action, nullptr), ITK_ok);
    int attribute = 0;
    ASSERT_EQ(BOM_line_look_up_attribute("bl_plmxml_abs_xform", &attribute), ITK_ok);
    char* value = nullptr;
    ASSERT_EQ(BOM_line_ask_attribute_string(t("a1"), attribute, &value), ITK_ok);
    ASSERT_EQ(g_trace.size(), 1u);
    EXPECT_EQ(g_trace[0], std::string("post ") + value);
    MEM_free(value);
}

TEST_F(RegistryTest, TypeRegistrationsOutsideAnExitRunAtOnceAndUnknownTypesFail) {
    g_trace.clear();
    static char jt[] = "JtPart";
    static char nope[] = "NoSuchType";
    METHOD_function_t record_type = [](METHOD_message_t* m, va_list args) {
        const tag_t type = va_arg(args, tag_t);
        g_trace.push_back("type " + std::to_string(type) + " " + std::to_string(m->object_tag));
        return ITK_ok;
    };
    USER_prop_init_entry_t table[] = {{nope, record_type, nullptr}, {jt, record_type, nullptr}};
    EXPECT_EQ(TCTYPE_register_properties(table, 2), standin::kErrNoSuchType);
    EXPECT_EQ(g_trace, (std::vector<std::string>{"type 26 26"}));  // the later entry still runs
    EXPECT_EQ(last_error(),
              "900008 TCTYPE_register_properties: no type \"NoSuchType\" for its registration function");
}

TEST_F(RegistryTest, ExitStatusesAndDecisionsPassThrough) {
    CUSTOM_EXIT_ftn_t failing = [](int* decision, va_list) {
        *decision = ONLY_CURRENT_CUSTOMIZATION;
        return 77;
    };
    CUSTOM_EXIT_ftn_t passing = [](int* decision, va_list) {
        *decision = ALL_CUSTOMIZATIONS;
        return ITK_ok;
    };
    ASSERT_EQ(CUSTOM_register_exit("one", "USER_init_module", failing), ITK_ok);
    ASSERT_EQ(CUSTOM_register_exit("two", "USER_init_module", passing), ITK_ok);
    EXPECT_EQ(CUSTOM_register_exit("two", "USER_init_module", passing), standin::kErrDuplicate);
    int decision = 0;
    EXPECT_EQ(standin::run_exit("USER_init_module", &decision), 77);  // the first failure; both ran
    EXPECT_EQ(decision, ALL_CUSTOMIZATIONS);
    EXPECT_EQ(standin::run_exit("USER_nothing", &decision), ITK_ok);
}

TEST_F(RegistryTest, ServiceArgumentArraysStayThePlatforms) {
    char name[] = "frees_its_argument";
    int types[] = {109};
    USER_function_t service = [](void* holder) {
        int n = 0;
        tag_t* tags = nullptr;
        int status = USERARG_get_tag_array_argument(&n, &tags);
        MEM_free(tags);  // not the service's to free: counted as misuse, nothing happens
        if (status == ITK_ok) {
            status = USERSERVICE_return_tag_array(tags, n, static_cast<USERSERVICE_array_t*>(holder));
        }
        return status;
    };
    ASSERT_EQ(USERSERVICE_register_method(name, service, 1, types, 109), ITK_ok);
    standin::UserArg lines{standin::UserArg::TagArray};
    lines.tags = {t("a"), t("b")};
    std::vector<tag_t> returned;
    bool handed_back = false;
    EXPECT_EQ(standin::call_service(name, {lines}, &returned, &handed_back), ITK_ok);
    EXPECT_EQ(returned, lines.tags);  // still readable after the misused free
    EXPECT_EQ(standin::misuse_count(), 1);
    EXPECT_EQ(standin::live_blocks(), 0);
}

}  // namespace
}  // namespace standin_test
