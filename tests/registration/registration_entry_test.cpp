// The entry point and the three custom exits: what is registered, announced and traced, and the
// decision value.
#include <string>
#include <utility>
#include <vector>

#include "kep_console.h"
#include "kep_fixture.h"
#include "registration/kep_registration.h"

namespace {

using kep_test::call_exit;
using kep_test::KepFixture;

class EntryTest : public KepFixture {};

using Exits = std::vector<std::pair<std::string, std::string>>;

const char kInitStatement[] =
    "CUSTOM_register_exit(custom_library_name, \"USER_init_module\", kep_custom_user_init_module )";
const char kPropertiesStatement[] =
    "CUSTOM_register_exit(custom_library_name, \"USER_register_properties\", "
    "kep_custom_user_register_properties )";
const char kServicesStatement[] =
    "CUSTOM_register_exit(custom_library_name, \"USERSERVICE_register_methods\", "
    "kep_custom_userservice_register_methods )";

TEST_F(EntryTest, RegistersTheThreeExitsInOrder) {
    set_switches("ON", nullptr, "ON");
    int status = -1;
    const std::string console = capture_console([&] { status = kep_register_callbacks(); });
    EXPECT_EQ(status, 0);
    EXPECT_EQ(standin::registered_exits(), (Exits{{"kep", "USER_init_module"},
                                                  {"kep", "USER_register_properties"},
                                                  {"kep", "USERSERVICE_register_methods"}}));
    EXPECT_EQ(console,
              std::string(">>> kep_register_callbacks\n"
                          "    registering [USER_init_module] to [kep_user_init_module]\n"
                          "    executing [    ") +
                  kInitStatement +
                  "    ]\n"
                  "    registering [USER_register_properties] to [kep_user_register_properties]\n"
                  "    executing [    " +
                  kPropertiesStatement +
                  "    ]\n"
                  "    registering [USERSERVICE_register_methods] to [kep_userservice_register_methods]\n"
                  "    executing [    " +
                  kServicesStatement +
                  "    ]\n"
                  "<<< kep_register_callbacks\n");
    expect_clean();
}

TEST_F(EntryTest, AFailedRegistrationStopsTheLaterOnesButNotTheAnnouncements) {
    const char* const statements[] = {kInitStatement, kPropertiesStatement, kServicesStatement};
    const Exits all = {{"kep", "USER_init_module"},
                       {"kep", "USER_register_properties"},
                       {"kep", "USERSERVICE_register_methods"}};
    for (int failing = 1; failing <= 3; ++failing) {
        SCOPED_TRACE("failing registration " + std::to_string(failing));
        standin::reset();
        kep_support_reset_state();
        set_switches("ON", "ON", nullptr);
        standin::fail_call("CUSTOM_register_exit", failing, 4242);
        int status = 0;
        const std::string console = capture_console([&] { status = kep_register_callbacks(); });

        EXPECT_EQ(status, 4242);
        EXPECT_EQ(standin::call_count("CUSTOM_register_exit"), failing);
        EXPECT_EQ(standin::registered_exits(), Exits(all.begin(), all.begin() + (failing - 1)));
        const std::string failure_block =
            std::string("    ERROR while processing following statement\n    ") + statements[failing - 1] +
            "\n"
            "        ERROR stack:\n"
            "        error[0]:\n"
            "            severity=[ERROR]\n"
            "            code=[4242]\n";
        EXPECT_NE(console.find(failure_block), std::string::npos) << console;
        for (const char* announcement :
             {"    registering [USER_init_module] to [kep_user_init_module]\n",
              "    registering [USER_register_properties] to [kep_user_register_properties]\n",
              "    registering [USERSERVICE_register_methods] to "
              "[kep_userservice_register_methods]\n"}) {
            EXPECT_NE(console.find(announcement), std::string::npos) << announcement;
            EXPECT_NE(syslog().find("[KEP]     " + std::string(announcement).substr(4)), std::string::npos);
        }
        EXPECT_EQ(console.rfind("<<< kep_register_callbacks\n"), console.size() - 27);
        expect_clean();
    }
}

TEST_F(EntryTest, EveryExitSetsTheDecisionToTwo) {
    struct Case {
        const char* name;
        CUSTOM_EXIT_ftn_t exit_function;
    };
    const Case cases[] = {
        {"kep_custom_user_init_module", kep_custom_user_init_module},
        {"kep_custom_user_register_properties", kep_custom_user_register_properties},
        {"kep_custom_userservice_register_methods", kep_custom_userservice_register_methods}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        // Twice with a decision slot; then without one, which must not be written through.
        for (int round = 0; round < 3; ++round) {
            // Outside an exit point the platform runs registrations at once; a fresh site each
            // time, where the data model already has the run-time property.
            standin::reset();
            ASSERT_NO_FATAL_FAILURE(load_site(R"({"properties": {"Dataset": ["var2_is_v0"]}})"));
            int decision = -1;
            EXPECT_EQ(call_exit(c.exit_function, round < 2 ? &decision : nullptr), 0);
            EXPECT_EQ(decision, round < 2 ? ALL_CUSTOMIZATIONS : -1);
            expect_clean();
        }
    }
}

TEST_F(EntryTest, PropertyExitPassesTheRegistrationFailureOnWithTheDecision) {
    set_switches("ON", nullptr, "ON");
    standin::fail_call("TCTYPE_register_properties", 1, 5150);
    int decision = 0;
    int status = 0;
    const std::string console =
        capture_console([&] { status = call_exit(kep_custom_user_register_properties, &decision); });
    EXPECT_EQ(status, 5150);
    EXPECT_EQ(decision, 2);
    EXPECT_EQ(
        console,
        ">>> kep_custom_user_register_properties\n"
        "    executing [    kep_register_runtime_properties()    ]\n"
        "    >>> kep_register_runtime_properties\n"
        "        registering runtime properties registration method [kep_register_runtime_property_is_v0] to "
        "[Dataset]...\n"
        "        executing [        TCTYPE_register_properties (user_types_methods, n_types)        ]\n"
        "        ERROR while processing following statement\n"
        "        TCTYPE_register_properties (user_types_methods, n_types)\n"
        "            ERROR stack:\n"
        "            error[0]:\n"
        "                severity=[ERROR]\n"
        "                code=[5150]\n"
        "                text=[TCTYPE_register_properties: injected failure]\n"
        "    <<< kep_register_runtime_properties\n"
        "    ERROR while processing following statement\n"
        "    kep_register_runtime_properties()\n"
        "        ERROR stack:\n"
        "        error[0]:\n"
        "            severity=[ERROR]\n"
        "            code=[5150]\n"
        "            text=[TCTYPE_register_properties: injected failure]\n"
        "<<< kep_custom_user_register_properties\n");
    expect_clean();
}

TEST_F(EntryTest, ServiceExitRunsLineMethodsThenServices) {
    set_switches("ON", nullptr, "ON");
    int decision = 0;
    int status = -1;
    const std::string console =
        capture_console([&] { status = call_exit(kep_custom_userservice_register_methods, &decision); });
    EXPECT_EQ(status, 0);
    EXPECT_EQ(decision, 2);
    const size_t methods = console.find(
        "    executing [    kep_register_object_methods()    ]\n"
        "    >>> kep_register_object_methods\n");
    const size_t services = console.find(
        "    executing [    kep_register_userservice_methods()    ]\n"
        "    >>> kep_register_userservice_methods\n");
    ASSERT_NE(methods, std::string::npos) << console;
    ASSERT_NE(services, std::string::npos) << console;
    EXPECT_LT(methods, services);
    expect_clean();
}

TEST_F(EntryTest, ServicesAreNotRegisteredWhenTheLinePropertiesFail) {
    set_switches("ON", nullptr, "ON");
    // The exit makes no platform call of its own: the first one belongs to the line properties.
    standin::fail_nth_any(1, 6161);
    int decision = 0;
    int status = 0;
    const std::string console =
        capture_console([&] { status = call_exit(kep_custom_userservice_register_methods, &decision); });
    EXPECT_EQ(status, 6161);
    EXPECT_EQ(decision, 2);
    EXPECT_EQ(console.find("kep_register_userservice_methods"), std::string::npos) << console;
    EXPECT_NE(
        console.find("    ERROR while processing following statement\n    kep_register_object_methods()\n"),
        std::string::npos)
        << console;
    EXPECT_TRUE(standin::registered_services().empty());
    expect_clean();
}

TEST_F(EntryTest, FaultSweepOverTheEntryPoint) {
    kep_test::FaultCase c;
    c.name = "kep_register_callbacks";
    c.setup = [] {
        standin::reset();
        set_switches("ON", nullptr, nullptr);
    };
    c.run = [this] {
        int status = 0;
        capture_console([&] { status = kep_register_callbacks(); });
        return status;
    };
    c.clears_errors = false;  // a failed registration leaves its error for the platform to report
    const auto runs = kep_test::run_fault_sweep(c);
    ASSERT_EQ(runs.size(), 4u);  // the baseline, then each of the three registrations failed
    EXPECT_EQ(runs[0].count("CUSTOM_register_exit"), 3);
}

}  // namespace
