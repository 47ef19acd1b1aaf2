// The Dataset run-time property var2_is_v0: its registration around the version threshold, the
// getter's answers and the calls it makes.
#include <string>
#include <vector>

#include "kep_fixture.h"
#include "registration/kep_registration.h"

namespace {

using kep_test::KepFixture;

class RuntimePropertyTest : public KepFixture {
protected:
    // A site at the given platform version; `predefined`: the data model already has var2_is_v0.
    static std::string site(int version, bool predefined) {
        return std::string(R"({"platform": {"version": )") + std::to_string(version) + "}," +
               (predefined ? R"("properties": {"Dataset": ["var2_is_v0"]},)" : "") + R"(
            "types": {"Part3D": "Dataset"},
            "objects": {
                "ds1": {"type": "Part3D", "name": "PART%s/A"},
                "ds2": {"type": "Part3D", "name": "PART2/B", "version0": "ds1"}
            }})";
    }

    // Registers the exits and runs the property exit (with its type registration functions).
    static int run_property_exit() {
        int decision = 0;
        EXPECT_EQ(kep_register_callbacks(), 0);
        const int status = standin::run_exit("USER_register_properties", &decision);
        EXPECT_EQ(decision, 2);
        return status;
    }

    // A site at the threshold with the getter registered, the switches set (they are read during
    // the registration) and the registration's output, counters and blocks out of the way.
    void prepare(const char* debug, const char* syslog, const char* itklog) {
        ASSERT_NO_FATAL_FAILURE(load_site(site(80000300, true)));
        set_switches(debug, syslog, itklog);
        capture_console([] { ASSERT_EQ(run_property_exit(), 0); });
        standin::clear_syslog();
        standin::reset_counters();
    }

    static bool read_is_v0(const std::string& id, int* status) {
        bool value = true;
        *status = standin::ask_logical(standin::tag_of(id), KEP_PROP_IS_V0, &value);
        return value;
    }
};

const char kRegisterStatement[] =
    "METHOD_register_prop_method (type_name, property_name, PROP_ask_value_logical_msg, "
    "kep_runtime_property_ask_is_v0, NULL, &method)";

TEST_F(RuntimePropertyTest, PropertyIsCreatedOnlyBelowTheVersionThreshold) {
    struct Case {
        int version;
        bool created;
    };
    const Case cases[] = {{80000299, true}, {80000300, false}, {90000000, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE("version " + std::to_string(c.version));
        standin::reset();
        kep_support_reset_state();
        ASSERT_NO_FATAL_FAILURE(load_site(site(c.version, !c.created)));
        set_switches("ON", nullptr, "ON");
        capture_console([] { kep_register_callbacks(); });
        int status = -1;
        const std::string console = capture_console([&] {
            int decision = 0;
            status = standin::run_exit("USER_register_properties", &decision);
        });
        EXPECT_EQ(status, 0);
        EXPECT_EQ(standin::call_count("TCTYPE_add_runtime_property"), c.created ? 1 : 0);
        EXPECT_EQ(standin::call_count("METHOD_register_prop_method"), 1);

        const std::string version_line = "    Version: [" + std::to_string(c.version) + "]\n";
        const std::string creation =
            c.created ? "    creating runtime property [Dataset.var2_is_v0] as PROP_logical ...\n"
                        "    executing [    TCTYPE_add_runtime_property (type, property_name, "
                        "PROP_logical, 1, &property_descriptor)    ]\n"
                      : "";
        EXPECT_EQ(
            console,
            ">>> kep_custom_user_register_properties\n"
            "    executing [    kep_register_runtime_properties()    ]\n"
            "    >>> kep_register_runtime_properties\n"
            "        registering runtime properties registration method "
            "[kep_register_runtime_property_is_v0] to [Dataset]...\n"
            "        executing [        TCTYPE_register_properties (user_types_methods, n_types)        ]\n"
            "    <<< kep_register_runtime_properties\n"
            "<<< kep_custom_user_register_properties\n"
            ">>> kep_register_runtime_property_is_v0\n"
            "    executing [    TCTYPE_ask_name(type, type_name)    ]\n"
            "    executing [    ITK_ask_version(&versionNumber)    ]\n" +
                version_line + creation +
                "    registering [Dataset.var2_is_v0][PROP_ask_value_logical_msg] method to "
                "[kep_runtime_property_ask_is_v0]...\n"
                "    executing [    " +
                kRegisterStatement +
                "    ]\n"
                "<<< kep_register_runtime_property_is_v0\n");
        int read_status = -1;
        bool value = false;
        capture_console([&] { value = read_is_v0("ds1", &read_status); });
        EXPECT_TRUE(value);
        EXPECT_EQ(read_status, 0);
        expect_clean();
    }
}

TEST_F(RuntimePropertyTest, FailingTypeNameSkipsEverythingButTheMessages) {
    ASSERT_NO_FATAL_FAILURE(load_site(site(80000300, true)));
    set_switches("ON", nullptr, nullptr);
    standin::reset_counters();
    standin::fail_call("TCTYPE_ask_name", 1, 6006);
    const std::string console = capture_console([&] { run_property_exit(); });
    EXPECT_EQ(standin::call_count("ITK_ask_version"), 0);
    EXPECT_EQ(standin::call_count("TCTYPE_add_runtime_property"), 0);
    EXPECT_EQ(standin::call_count("METHOD_register_prop_method"), 0);
    for (const char* line :
         {"    Version: [0]\n", "    creating runtime property [.var2_is_v0] as PROP_logical ...\n",
          "    registering [.var2_is_v0][PROP_ask_value_logical_msg] method to "
          "[kep_runtime_property_ask_is_v0]...\n",
          "    TCTYPE_ask_name(type, type_name)\n", "            code=[6006]\n"}) {
        EXPECT_NE(console.find(line), std::string::npos) << line << console;
    }
    expect_clean();
}

TEST_F(RuntimePropertyTest, GetterAnswersWhetherTheDatasetIsItsOwnVersionZero) {
    struct Case {
        const char* id;
        bool expected;
    };
    const Case cases[] = {{"ds1", true}, {"ds2", false}};
    ASSERT_NO_FATAL_FAILURE(prepare(nullptr, nullptr, nullptr));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.id);
        standin::reset_counters();
        int status = -1;
        EXPECT_EQ(read_is_v0(c.id, &status), c.expected);
        EXPECT_EQ(status, 0);
        // Diagnostics off: the owning object and its version-0 dataset, nothing else.
        EXPECT_EQ(kep_test::failable_call_log(),
                  (std::vector<std::string>{"PROP_ask_owning_object", "AE_ask_dataset"}));
        expect_clean();
    }
}

TEST_F(RuntimePropertyTest, GetterTraceWithDiagnosticsOn) {
    ASSERT_NO_FATAL_FAILURE(prepare("ON", "ON", "ON"));
    int status = -1;
    bool value = false;
    const std::string console = capture_console([&] { value = read_is_v0("ds1", &status); });
    EXPECT_TRUE(value);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(console,
              ">>> kep_runtime_property_ask_is_v0\n"
              "    executing [    PROP_ask_owning_object(prop_tag, &object_tag)    ]\n"
              "    executing [    AE_ask_dataset(object_tag, &version0)    ]\n"
              "    executing [    AOM_ask_value_string(object_tag, \"object_name\", &dataset_name)    ]\n"
              "    Working on [PART%s/A]<<< kep_runtime_property_ask_is_v0  value=[1], retcode=[0]\n");
    EXPECT_NE(syslog().find("[KEP]     Working on [PART%s/A][KEP] <<< [KEP] kep_runtime_property_ask_is_v0  "
                            "value=[1], retcode=[0]\n"),
              std::string::npos)
        << syslog();
    expect_clean();
}

TEST_F(RuntimePropertyTest, GetterFailuresAreReturnedWithTheValueAsItStands) {
    struct Case {
        const char* failing;
        const char* id;
        bool value;
    };
    // The name lookup runs only with diagnostics on, after the value is known.
    const Case cases[] = {{"PROP_ask_owning_object", "ds1", false},
                          {"AE_ask_dataset", "ds1", false},
                          {"AOM_ask_value_string", "ds1", true},
                          {"AOM_ask_value_string", "ds2", false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.failing) + " on " + c.id);
        standin::reset();
        kep_support_reset_state();
        ASSERT_NO_FATAL_FAILURE(prepare("ON", nullptr, nullptr));
        standin::fail_call(c.failing, 1, 3131);
        int status = 0;
        bool value = true;
        const std::string console = capture_console([&] { value = read_is_v0(c.id, &status); });
        EXPECT_EQ(status, 3131);
        // A failed read hands the client no value; the getter's slot shows in its exit line.
        EXPECT_FALSE(value);
        EXPECT_NE(console.find("<<< kep_runtime_property_ask_is_v0  value=[" +
                               std::to_string(c.value ? 1 : 0) + "], retcode=[3131]\n"),
                  std::string::npos)
            << console;
        expect_clean();
    }
}

TEST_F(RuntimePropertyTest, FaultSweepOverThePropertyExit) {
    for (const bool predefined : {false, true}) {
        SCOPED_TRACE(predefined ? "version at threshold" : "version below threshold");
        kep_test::FaultCase c;
        c.name = "USER_register_properties";
        c.setup = [&] {
            standin::reset();
            load_site(site(predefined ? 80000300 : 80000299, predefined));
            set_switches("ON", nullptr, nullptr);
            capture_console([] { kep_register_callbacks(); });
        };
        c.run = [this] {
            int status = 0;
            capture_console([&] {
                int decision = 0;
                status = standin::run_exit("USER_register_properties", &decision);
            });
            return status;
        };
        c.clears_errors = false;
        const auto runs = kep_test::run_fault_sweep(c);
        EXPECT_EQ(runs.size(), predefined ? 5u : 6u);  // the baseline and one run per failable call
    }
}

}  // namespace
