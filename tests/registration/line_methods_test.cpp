// The line property overrides: post-action where the platform has a method, the extension's own
// method where it has none, each property on its own, failures of the registration, the six
// wrappers as the platform calls them, and fault sweeps over the three value functions through the
// wrappers in both registration modes.
#include <base_utils/Mem.h>

#include <algorithm>
#include <cstdarg>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "kep_fixture.h"
#include "kep_site_text.h"
#include "kep_test_support.h"
#include "registration/kep_registration.h"

namespace {

using kep_test::KepFixture;
using Strings = std::vector<std::string>;
using kep_test::json_list;

const char* const kJt = "bl_jt_dataset_tag";
const char* const kAbs = "bl_plmxml_abs_xform";
const char* const kOcc = "bl_plmxml_occ_xform";

// The registration texts of one property, in registration order.
struct PropertyTexts {
    const char* property;
    const char* lookup;
    const char* action;
    const char* method;
    const char* action_announcement;
    const char* method_announcement;
};

const PropertyTexts kTexts[] = {
    {kJt, "METHOD_find_prop_method (bomClass_line,bomAttr_JTDatasetTag,PROP_ask_value_tag_msg, &method_id)",
     "METHOD_add_action( method_id, METHOD_post_action_type, kep_bl_ask_jt_ds_tag_pm, 0 )",
     "METHOD_register_prop_method(bomClass_line, bomAttr_JTDatasetTag, PROP_ask_value_tag_msg, "
     "kep_bl_ask_jt_ds_tag_m,0, &method_id)",
     "using METHOD_add_action for bomline_ask_jt_dataset_tag\n",
     "using METHOD_register_prop_method for bomline_ask_jt_dataset_tag\n"},
    {kAbs,
     "METHOD_find_prop_method (bomClass_line,bomAttr_StandardAbsTransform,PROP_ask_value_string_msg, "
     "&method_id)",
     "METHOD_add_action( method_id, METHOD_post_action_type, kep_bl_ask_plmxml_abs_xform_pm, 0 )",
     "METHOD_register_prop_method(bomClass_line, bomAttr_StandardAbsTransform, PROP_ask_value_string_msg, "
     "kep_bl_ask_plmxml_abs_xform_m,0, &method_id)",
     "using METHOD_add_action for bomline_ask_plmxml_abs_xform_string\n",
     "using METHOD_register_prop_method for bomline_ask_plmxml_abs_xform_string\n"},
    {kOcc,
     "METHOD_find_prop_method (bomClass_line,bomAttr_StandardOccTransform,PROP_ask_value_string_msg, "
     "&method_id)",
     "METHOD_add_action( method_id, METHOD_post_action_type, kep_bl_ask_plmxml_occ_xform_pm, 0 )",
     "METHOD_register_prop_method(bomClass_line, bomAttr_StandardOccTransform, PROP_ask_value_string_msg, "
     "kep_bl_ask_plmxml_occ_xform_m,0, &method_id)",
     "using METHOD_add_action for bomline_ask_plmxml_occ_xform_string\n",
     "using METHOD_register_prop_method for bomline_ask_plmxml_occ_xform_string\n"},
};

// top / l1: every preference the value functions read, and no representation at all, so that each
// value function leaves the value it is handed.
std::string plain_site(const Strings& line_methods) {
    return R"({"types": {"Part3D": "Dataset", "Assembly3D": "Dataset", "DirectModel": "Dataset"},
               "line_methods": )" +
           json_list(line_methods) + R"(,
               "preferences": {"KEPModOnProductDatasetRelation": "KEPModOnRel", "KEPModOnProductDatasetType": "ModOnRep",
                               "KEPModOnPartDatasetRelation": "KEPModOnRel", "KEPModOnPartDatasetType": "ModOnPart",
                               "KEPPartDatasetType": "Part3D", "KEPModelDatasetType": "Model3D",
                               "KEPCgrDatasetType": "Tess3D", "KEPRepDatasetType": "Rep3D",
                               "KEPProductDatasetRelation": "IMAN_specification",
                               "KEPProductDatasetType": "Assembly3D", "KEPAltRepList": ["MASTER", "LOD1"]},
               "relation_types": ["KEPModOnRel"],
               "objects": {"top/A": {"type": "ItemRevision", "item_id": "TOP"},
                           "part/A": {"type": "ItemRevision", "item_id": "PART"},
                           "jt_std": {"type": "DirectModel", "name": "PART/A"}},
               "windows": {"w1": {"id": "top", "revision": "top/A", "occurrence_name": "TOP",
                                  "transform": "1 0 0 0 0 1 0 0 0 0 1 0 1 2 3 1", "children": [
                 {"id": "l1", "revision": "part/A", "occurrence_name": "L1",
                  "transform": "1 0 0 0 0 1 0 0 0 0 1 0 0 0 5 1", "jt": "jt_std"}]}}})";
}

// The example site with the mod-on representations, as it is or with no platform line methods.
std::string modon_site(bool platform_methods) {
    std::string text = kep_test::source_file("examples/sites/modon.json");
    if (!platform_methods) {
        const std::string all =
            R"("line_methods": ["bl_plmxml_occ_xform", "bl_plmxml_abs_xform", "bl_jt_dataset_tag"])";
        const size_t at = text.find(all);
        EXPECT_NE(at, std::string::npos) << "the example site lists its line methods differently";
        if (at != std::string::npos) {
            text.replace(at, all.size(), R"("line_methods": [])");
        }
    }
    return text;
}

// A property as a client reads it: the text or tag id, "<null>" for none; the status apart.
struct Read {
    int status = -1;
    std::string value;
};

Read read(const std::string& line, const char* property) {
    Read r;
    if (std::string(property) == kJt) {
        tag_t tag = 4711;
        r.status = standin::ask_tag(standin::tag_of(line), property, &tag);
        r.value = tag == NULLTAG ? "<null>" : standin::id_of(tag);
    } else {
        char* text = nullptr;
        r.status = standin::ask_string(standin::tag_of(line), property, &text);
        r.value = text == nullptr ? "<null>" : text;
        MEM_free(text);
    }
    return r;
}

// Calls the user-service exit as the platform does.
int call_service_exit(int* decision, ...) {
    va_list args;
    va_start(args, decision);
    const int status = kep_custom_userservice_register_methods(decision, args);
    va_end(args);
    return status;
}

class LineMethodsTest : public KepFixture {};

TEST_F(LineMethodsTest, PostActionWhereThePlatformHasAMethodOwnMethodElsewhere) {
    const std::vector<Strings> subsets = {{kJt, kAbs, kOcc}, {}, {kJt}, {kAbs}, {kOcc}, {kJt, kOcc}};
    for (const Strings& platform : subsets) {
        SCOPED_TRACE("platform methods: " + json_list(platform));
        standin::reset();
        kep_support_reset_state();
        ASSERT_NO_FATAL_FAILURE(load_site(plain_site(platform)));
        // What the platform answers on its own, before the extension takes anything over.
        std::map<std::string, Read> standard;
        for (const char* property : {kJt, kAbs, kOcc}) {
            standard[property] = read("l1", property);
        }
        set_switches("ON", nullptr, "ON");
        int status = -1;
        const std::string console = capture_console([&] { status = kep_register_object_methods(); });
        EXPECT_EQ(status, 0);

        std::string expected = ">>> kep_register_object_methods\n";
        for (const PropertyTexts& t : kTexts) {
            const bool has_method = std::find(platform.begin(), platform.end(), t.property) != platform.end();
            expected += std::string("    executing [    ") + t.lookup + "    ]\n";
            expected += std::string("    ") + (has_method ? t.action_announcement : t.method_announcement);
            expected += std::string("    executing [    ") + (has_method ? t.action : t.method) + "    ]\n";
        }
        EXPECT_EQ(console, expected + "<<< kep_register_object_methods\n");
        EXPECT_EQ(standin::call_count("METHOD_add_action"), static_cast<long>(platform.size()));
        EXPECT_EQ(standin::call_count("METHOD_register_prop_method"), static_cast<long>(3 - platform.size()));

        // The value functions leave every value alone here: a post-action keeps the platform's
        // value, the extension's own method answers null.
        kep_support_reset_state();
        for (const char* property : {kJt, kAbs, kOcc}) {
            SCOPED_TRACE(property);
            const bool has_method = std::find(platform.begin(), platform.end(), property) != platform.end();
            Read r;
            const std::string ask_console = capture_console([&] { r = read("l1", property); });
            EXPECT_EQ(r.status, 0);
            EXPECT_EQ(r.value, has_method ? standard[property].value : "<null>");
            EXPECT_NE(ask_console.find(std::string(">>> kep_bl_ask_")), std::string::npos)
                << "not answered by the extension";
            if (has_method) {
                EXPECT_NE(standard[property].value, "<null>") << "the site should give a standard value";
            }
        }
        expect_clean();
    }
}

// Where the extension has a value, both kinds of registration give it.
TEST_F(LineMethodsTest, ExtensionValuesInBothModes) {
    struct Case {
        const char* line;
        const char* property;
        const char* with_platform;  // value with the platform's own methods
        const char* without;        // value with the extension's methods alone
    } const cases[] = {
        {"hinge", kOcc, "1 0 0 0 0 1 0 0 0 0 1 0 0 0.012 0 1", "1 0 0 0 0 1 0 0 0 0 1 0 0 0.012 0 1"},
        // The door's representation does not list the handle: the value passed in stays (the
        // platform's own under a post-action, none with the extension's method alone).
        {"handle", kOcc, "1 0 0 0 0 1 0 0 0 0 1 0 0 0.05 0 1", "<null>"},
        {"door", kOcc, "0 1 0 0 -1 0 0 0 0 0 1 0 0.1 0 0 1", "<null>"},
        {"hinge", kJt, "jt_door_hinge", "jt_door_hinge"},
        {"handle", kJt, "jt_handle", "jt_handle"},
        {"wheel", kJt, "<null>", "<null>"},
        {"door", kJt, "<null>", "<null>"},
        {"body", kJt, "std_jt_body", "<null>"},
        {"bolt", kJt, "std_jt_bolt", "<null>"},
        {"wheel", kAbs, "1 0 0 0 0 1 0 0 0 0 1 0 1 0.7 0 1", "<null>"},
        // body x door x hinge as the representation places it; the top line's own transform is
        // left out. Without the platform's methods the other levels have no occurrence transform
        // (they read null) and count as the identity.
        {"hinge", kAbs, "0 1 0 0 -1 0 0 0 0 0 1 0 0.08800000000000001 0 0.5 1",
         "1 0 0 0 0 1 0 0 0 0 1 0 0 0.012 0 1"},
    };
    for (const bool platform_methods : {true, false}) {
        standin::reset();
        ASSERT_NO_FATAL_FAILURE(load_site(modon_site(platform_methods)));
        ASSERT_EQ(kep_register_object_methods(), 0);
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(c.line) + " " + c.property +
                         (platform_methods ? " (post-action)" : " (method)"));
            const Read r = read(c.line, c.property);
            EXPECT_EQ(r.status, 0);
            EXPECT_EQ(r.value, platform_methods ? c.with_platform : c.without);
        }
        expect_clean();
    }
}

TEST_F(LineMethodsTest, FailedRegistrationStopsAtTheFailedProperty) {
    struct Case {
        const char* title;
        Strings platform;
        const char* op;
        int nth;
        long lookups;     // METHOD_find_prop_method calls made
        Strings handled;  // properties the extension answers afterwards
    } const cases[] = {
        {"abs lookup fails", {kJt, kAbs, kOcc}, "METHOD_find_prop_method", 2, 2, {kJt}},
        {"abs lookup fails, own methods", {}, "METHOD_find_prop_method", 2, 2, {kJt}},
        {"first lookup fails", {kJt, kAbs, kOcc}, "METHOD_find_prop_method", 1, 1, {}},
        {"last lookup fails", {kJt, kAbs, kOcc}, "METHOD_find_prop_method", 3, 3, {kJt, kAbs}},
        {"post-action of abs fails", {kJt, kAbs, kOcc}, "METHOD_add_action", 2, 2, {kJt}},
        {"own method of jt fails", {kAbs}, "METHOD_register_prop_method", 1, 1, {}},
        {"own method of occ fails after a post-action",
         {kAbs},
         "METHOD_register_prop_method",
         2,
         3,
         {kJt, kAbs}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.title);
        standin::reset();
        kep_support_reset_state();
        ASSERT_NO_FATAL_FAILURE(load_site(plain_site(c.platform)));
        set_switches("ON", nullptr, nullptr);
        standin::fail_call(c.op, c.nth, 5151);
        int status = 0;
        std::string console = capture_console([&] { status = kep_register_object_methods(); });
        EXPECT_EQ(status, 5151);
        EXPECT_EQ(standin::call_count("METHOD_find_prop_method"), c.lookups);
        EXPECT_EQ(kep_support_indent_level(), 0);
        standin::clear_faults();
        for (const char* property : {kJt, kAbs, kOcc}) {
            const bool handled = std::find(c.handled.begin(), c.handled.end(), property) != c.handled.end();
            console = capture_console([&] { EXPECT_EQ(read("l1", property).status, 0); });
            EXPECT_EQ(console.find(">>> kep_bl_ask_") != std::string::npos, handled) << property;
        }
        expect_clean();
    }

    // Through the exit: the services are not registered either.
    standin::reset();
    kep_support_reset_state();
    ASSERT_NO_FATAL_FAILURE(load_site(plain_site({kJt, kAbs, kOcc})));
    standin::fail_call("METHOD_find_prop_method", 2, 5151);
    int decision = 0;
    EXPECT_EQ(call_service_exit(&decision), 5151);
    EXPECT_EQ(decision, 2);
    EXPECT_TRUE(standin::registered_services().empty());
    expect_clean();
}

// The wrappers as the platform calls them: their own trace, the statement texts, and the status
// of the value function passed on unchanged.
TEST_F(LineMethodsTest, WrappersTraceTheValueFunction) {
    struct Case {
        const char* property;
        bool platform_method;
        const char* wrapper;
        const char* statement;
        const char* value_function;
    } const cases[] = {
        {kJt, true, "kep_bl_ask_jt_ds_tag_pm", "kep_bl_ask_jt_ds_tag(object_tag,value)",
         "kep_bl_ask_jt_ds_tag"},
        {kJt, false, "kep_bl_ask_jt_ds_tag_m", "kep_bl_ask_jt_ds_tag(object_tag,value)",
         "kep_bl_ask_jt_ds_tag"},
        {kAbs, true, "kep_bl_ask_plmxml_abs_xform_pm", "kep_bl_ask_plmxml_abs_xform(object_tag, value)",
         "kep_bl_ask_plmxml_abs_xform"},
        {kAbs, false, "kep_bl_ask_plmxml_abs_xform_m", "kep_bl_ask_plmxml_abs_xform(object_tag, value)",
         "kep_bl_ask_plmxml_abs_xform"},
        {kOcc, true, "kep_bl_ask_plmxml_occ_xform_pm", "kep_bl_ask_plmxml_occ_xform(object_tag, value)",
         "kep_bl_ask_plmxml_occ_xform"},
        {kOcc, false, "kep_bl_ask_plmxml_occ_xform_m", "kep_bl_ask_plmxml_occ_xform(object_tag, value)",
         "kep_bl_ask_plmxml_occ_xform"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.wrapper);
        standin::reset();
        kep_support_reset_state();
        ASSERT_NO_FATAL_FAILURE(
            load_site(plain_site(c.platform_method ? Strings{kJt, kAbs, kOcc} : Strings{})));
        ASSERT_EQ(kep_register_object_methods(), 0);
        set_switches("ON", nullptr, "ON");
        kep_support_reset_state();  // the switches are read anew
        Read r;
        std::string console = capture_console([&] { r = read("l1", c.property); });
        EXPECT_EQ(r.status, 0);
        const std::string head = std::string(">>> ") + c.wrapper + "\n    executing [    " + c.statement +
                                 "    ]\n    >>> " + c.value_function + "\n";
        EXPECT_EQ(console.compare(0, head.size(), head), 0) << console;
        const std::string tail = std::string("    <<< ") + c.value_function + "\n<<< " + c.wrapper + "\n";
        EXPECT_TRUE(console.size() >= tail.size() &&
                    console.compare(console.size() - tail.size(), tail.size(), tail) == 0)
            << console;

        // A failing value function: its status comes back through the wrapper, with the wrapper's
        // failure block. The first preference read fails at its first platform call.
        kep_support_reset_state();
        standin::fail_call("PREF_ask_search_scope", 1, 6262);
        console = capture_console([&] { r = read("l1", c.property); });
        EXPECT_EQ(r.status, 6262);
        EXPECT_NE(console.find(std::string("<<< ") + c.value_function +
                               "\n    ERROR while processing following statement\n    " + c.statement + "\n"),
                  std::string::npos)
            << console;
        standin::clear_faults();
        expect_clean();
    }
}

// --- fault sweeps over the value functions through the wrappers ---------------------------------

// Reads the console of one run. For every function activation (an entry line and its exit line),
// checks that after a failure block at its own depth it writes no further statement at that depth
// (the guard rule), except the restores of the preference search scope. Returns the functions open
// at the first failure block, outermost first, and that block's statement.
struct ConsoleReading {
    Strings open_at_first_failure;
    std::string first_failed_statement;
    Strings guard_violations;
};

size_t depth_of(const std::string& line) {
    return line.find_first_not_of(' ') == std::string::npos ? line.size() : line.find_first_not_of(' ');
}

ConsoleReading read_console(const std::string& console) {
    struct Frame {
        std::string name;
        size_t depth;  // where its own statements stand
        bool failed = false;
    };
    ConsoleReading out;
    std::vector<Frame> frames;
    std::istringstream in(console);
    std::string line;
    bool first_seen = false;
    while (std::getline(in, line)) {
        const size_t d = depth_of(line);
        const std::string text = line.substr(d);
        if (text.compare(0, 4, ">>> ") == 0) {
            frames.push_back({text.substr(4), d + 4});
        } else if (text.compare(0, 4, "<<< ") == 0) {
            if (!frames.empty()) {
                frames.pop_back();
            }
        } else if (text == "ERROR while processing following statement") {
            std::string statement;
            std::getline(in, statement);
            statement = statement.substr(depth_of(statement));
            if (!frames.empty() && frames.back().depth == d) {
                frames.back().failed = true;
            }
            if (!first_seen) {
                first_seen = true;
                for (const Frame& f : frames) {
                    out.open_at_first_failure.push_back(f.name);
                }
                out.first_failed_statement = statement;
            }
        } else if (text.compare(0, 11, "executing [") == 0 && !frames.empty() && frames.back().depth == d &&
                   frames.back().failed) {
            std::string statement = text.substr(11);
            statement = statement.substr(depth_of(statement));
            statement = statement.substr(0, statement.find_last_not_of(" ]") + 1);
            if (statement != "PREF_set_search_scope(current_scope)") {
                out.guard_violations.push_back(frames.back().name + ": " + statement);
            }
        }
    }
    return out;
}

// Whether the first failure reaches the platform as the wrapper's status. A function passes a
// failure of its own traced calls on, except the preference list reader (only its scope restore
// counts); the calls made without a statement trace do not pass their status on.
bool passed_on(const ConsoleReading& reading) {
    const Strings& open = reading.open_at_first_failure;
    if (open.empty()) {
        return false;
    }
    if (open.back() == "kep_get_preference_list" &&
        reading.first_failed_statement != "PREF_set_search_scope(current_scope)") {
        return false;
    }
    static const std::set<std::pair<std::string, std::string>> kNotPassed = {
        {"kep_bl_ask_plmxml_occ_xform", "kep_get_matrix_str_from_modon"},
        {"kep_bl_ask_plmxml_abs_xform", "kep_set_node_data_from_modon"},
        {"kep_bl_ask_plmxml_abs_xform", "kep_set_kep_node_data_from_bomline"},
        {"kep_bl_ask_jt_ds_tag", "kep_get_structure_for_bomline"},
    };
    for (size_t i = 1; i < open.size(); ++i) {
        if (open[i] == "kep_get_parent" || kNotPassed.count({open[i - 1], open[i]}) != 0) {
            return false;
        }
    }
    return true;
}

// Every platform operation the value functions may still reach after a failure: the calls whose
// status is not passed on (parent lookups, the standard values of the absolute transform, the
// structure datasets) go on, and the guard rule is checked on the trace instead.
const std::set<std::string> kAnyOperation = {
    "AE_ask_all_dataset_named_refs", "AOM_ask_value_string",
    "AOM_ask_value_strings",         "BOM_line_ask_attribute_string",
    "BOM_line_ask_attribute_tag",    "BOM_line_look_up_attribute",
    "GRM_find_relation_type",        "GRM_list_secondary_objects_only",
    "PREF_ask_char_value",           "PREF_ask_char_values",
    "PREF_ask_search_scope",         "PREF_ask_value_count",
    "PREF_set_search_scope",         "TCTYPE_ask_name",
    "TCTYPE_ask_object_type",        "MEM_alloc"};

struct SweepCase {
    const char* line;
    const char* property;
    const char* with_platform;  // the value of the clean run, with the platform's own methods
    const char* without;        // and with the extension's methods alone
};

void sweep(bool platform_methods, const SweepCase& sc) {
    const std::string site = modon_site(platform_methods);
    std::vector<std::string> consoles;
    std::vector<std::string> values;
    kep_test::FaultCase c;
    c.name = std::string(sc.line) + " " + sc.property + (platform_methods ? " (post-action)" : " (method)");
    c.setup = [&] {
        standin::reset();
        std::string error;
        ASSERT_TRUE(standin::load_site(site, "modon.json", &error)) << error;
        kep_support_reset_state();  // silent registration: the switches are still off
        ASSERT_EQ(kep_register_object_methods(), 0);
        standin::set_env("ZODORE_DEBUG", "ON");
    };
    c.run = [&] {
        Read r;
        ::testing::internal::CaptureStderr();
        r = read(sc.line, sc.property);
        consoles.push_back(::testing::internal::GetCapturedStderr());
        values.push_back(r.value);
        return r.status;
    };
    c.clears_errors = false;
    c.may_follow_failure = kAnyOperation;
    c.expected_status = [&](const kep_test::FaultRun& r, const kep_test::FaultRun& baseline) {
        if (!r.traced_failure) {
            return baseline.status;
        }
        return passed_on(read_console(consoles[static_cast<size_t>(r.k)]))
                   ? static_cast<int>(standin::kErrInjected)
                   : baseline.status;
    };
    const std::vector<kep_test::FaultRun> runs = kep_test::run_fault_sweep(c);
    ASSERT_FALSE(runs.empty());
    EXPECT_EQ(runs[0].status, 0);
    EXPECT_EQ(values[0], platform_methods ? sc.with_platform : sc.without) << c.name;
    EXPECT_GT(runs.size(), 20u) << c.name;
    for (const kep_test::FaultRun& r : runs) {
        const ConsoleReading reading = read_console(consoles[static_cast<size_t>(r.k)]);
        EXPECT_TRUE(reading.guard_violations.empty())
            << c.name << ", failing call " << r.k << " (" << r.failed_op
            << "): " << reading.guard_violations.front();
        if (r.k > 0 && r.traced_failure) {
            EXPECT_FALSE(reading.open_at_first_failure.empty())
                << c.name << ": failing call " << r.k << " not traced";
        }
    }
}

TEST_F(LineMethodsTest, FaultSweepOccurrenceTransform) {
    for (const bool platform_methods : {true, false}) {
        sweep(platform_methods,
              {"hinge", kOcc, "1 0 0 0 0 1 0 0 0 0 1 0 0 0.012 0 1", "1 0 0 0 0 1 0 0 0 0 1 0 0 0.012 0 1"});
    }
}

TEST_F(LineMethodsTest, FaultSweepAbsoluteTransform) {
    for (const bool platform_methods : {true, false}) {
        sweep(platform_methods, {"hinge", kAbs, "0 1 0 0 -1 0 0 0 0 0 1 0 0.08800000000000001 0 0.5 1",
                                 "1 0 0 0 0 1 0 0 0 0 1 0 0 0.012 0 1"});
    }
}

TEST_F(LineMethodsTest, FaultSweepJtDatasetTag) {
    for (const bool platform_methods : {true, false}) {
        sweep(platform_methods, {"hinge", kJt, "jt_door_hinge", "jt_door_hinge"});
        sweep(platform_methods, {"door", kJt, "<null>", "<null>"});
    }
}

TEST_F(LineMethodsTest, FaultSweepOfTheRegistration) {
    for (const bool platform_methods : {true, false}) {
        kep_test::FaultCase c;
        c.name = std::string("kep_register_object_methods") +
                 (platform_methods ? " (post-actions)" : " (methods)");
        c.setup = [&] {
            standin::reset();
            std::string error;
            ASSERT_TRUE(standin::load_site(
                plain_site(platform_methods ? Strings{kJt, kAbs, kOcc} : Strings{}), "plain", &error))
                << error;
            standin::set_env("ZODORE_DEBUG", "ON");
        };
        c.run = [&] {
            int status = 0;
            ::testing::internal::CaptureStderr();
            status = kep_register_object_methods();
            ::testing::internal::GetCapturedStderr();
            return status;
        };
        c.clears_errors = false;
        const std::vector<kep_test::FaultRun> runs = kep_test::run_fault_sweep(c);
        EXPECT_EQ(runs.size(), 7u);  // six registration calls, then the clean run
    }
}

}  // namespace
