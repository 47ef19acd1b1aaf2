// The property dumps: what reaches standard output and the log, which queries are made, and that
// every text from the platform is released.
#include <string>
#include <vector>

#include "kep_fixture.h"
#include "kep_support.h"

namespace {

class DumpTest : public kep_test::KepFixture {
protected:
    void SetUp() override {
        KepFixture::SetUp();
        ASSERT_NO_FATAL_FAILURE(load_site(R"({"types": {"Part3D": "Dataset"}, "objects": {
            "ds1": {"type": "Part3D", "name": "A%sB",
                    "attributes": {"var2_note": "", "var2_code": "X1"}}}})"));
        ds1_ = standin::tag_of("ds1");
        char* text = nullptr;
        ASSERT_EQ(POM_tag_to_string(ds1_, &text), 0);
        puid_ = text;
        MEM_free(text);
        standin::reset_counters();
    }

    tag_t ds1_ = NULLTAG;
    std::string puid_;
};

TEST_F(DumpTest, PrintPropertiesShowsAFailedQueryInPlaceAndGoesOn) {
    set_switches("ON", nullptr, nullptr);
    char name0[] = "object_name";
    char name1[] = "no_such";
    char name2[] = "var2_code";
    char* names[] = {name0, name1, name2, nullptr};
    std::string console;
    const std::string out = capture_stdout(
        [&] { console = capture_console([&] { EXPECT_EQ(kep_print_properties(ds1_, names, 1, 1), 0); }); });
    EXPECT_EQ(out,
              "[\n  PUID=[" + puid_ + "]\n  object_name=[A%sB]\n  no_such=[ERROR]\n  var2_code=[X1]\n]\n");
    const std::vector<standin::ErrorEntry> errors = standin::errors();
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(console,
              ">>> kep_print_properties\n"
              "    [\n"
              "        PUID=[" +
                  puid_ +
                  "]\n"
                  "        object_name=[A%sB]\n"
                  "        ERROR while processing following statement\n"
                  "        AOM_UIF_ask_value (tag, property_name, &property_value)\n"
                  "            ERROR stack:\n"
                  "            error[0]:\n"
                  "                severity=[ERROR]\n"
                  "                code=[" +
                  std::to_string(errors[0].code) +
                  "]\n"
                  "                text=[" +
                  errors[0].text +
                  "]\n"
                  "        no_such=[ERROR]\n"
                  "        var2_code=[X1]\n"
                  "    ]\n"
                  "<<< kep_print_properties\n");
    expect_clean();
}

TEST_F(DumpTest, PrintPropertiesFlagsAndShortLists) {
    char name0[] = "object_name";
    char* only_terminator[] = {nullptr};
    char* one_name[] = {name0, nullptr};
    struct Case {
        const char* what;
        bool null_tag;
        char** names;
        int print_flag, log_flag;
        std::string out, console;
        long puid_queries, value_queries;
    };
    const std::string puid = puid_;
    const Case cases[] = {
        {"null tag", true, one_name, 1, 1, "[\n  tag is NULL\n]\n",
         ">>> kep_print_properties\n    [\n        tag is NULL\n    ]\n<<< kep_print_properties\n", 0, 0},
        {"only the terminator, print only", false, only_terminator, 1, 0, "[\n  PUID=[" + puid + "]\n]\n",
         ">>> kep_print_properties\n<<< kep_print_properties\n", 1, 0},
        {"no name array, log only", false, nullptr, 0, 1, "",
         ">>> kep_print_properties\n    [\n        PUID=[" + puid + "]\n    ]\n<<< kep_print_properties\n", 1,
         0},
        {"both flags off", false, one_name, 0, 0, "", ">>> kep_print_properties\n<<< kep_print_properties\n",
         1, 1},
    };
    set_switches("ON", nullptr, nullptr);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        standin::reset_counters();
        std::string console;
        const std::string out = capture_stdout([&] {
            console = capture_console([&] {
                EXPECT_EQ(
                    kep_print_properties(c.null_tag ? NULLTAG : ds1_, c.names, c.print_flag, c.log_flag), 0);
            });
        });
        EXPECT_EQ(out, c.out);
        EXPECT_EQ(console, c.console);
        EXPECT_EQ(standin::call_count("POM_tag_to_string"), c.puid_queries);
        EXPECT_EQ(standin::call_count("AOM_UIF_ask_value"), c.value_queries);
        expect_clean();
    }
}

TEST_F(DumpTest, PrintPropertiesWithBothFlagsOffStillTracesItsQueries) {
    set_switches("ON", nullptr, "ON");
    char name0[] = "object_name";
    char* names[] = {name0, nullptr};
    const std::string console = capture_console([&] { kep_print_properties(ds1_, names, 0, 0); });
    EXPECT_EQ(console,
              ">>> kep_print_properties\n"
              "    executing [    POM_tag_to_string (tag, &property_value)    ]\n"
              "    executing [    AOM_UIF_ask_value (tag, property_name, &property_value)    ]\n"
              "<<< kep_print_properties\n");
    expect_clean();
}

TEST_F(DumpTest, ListPropertiesLeavesOutEmptyValues) {
    set_switches("ON", "ON", nullptr);
    const std::string console = capture_console([&] { kep_list_properties_with_value("L%s", ds1_); });
    EXPECT_EQ(console,
              "L%s [Object Name(object_name)]: [A%sB]\n"
              "L%s [Object Type(object_type)]: [Part3D]\n"
              "L%s [Var2 Code(var2_code)]: [X1]\n");
    EXPECT_NE(syslog().find("[KEP] L%s [Var2 Code(var2_code)]: [X1]\n"), std::string::npos);
    EXPECT_EQ(standin::call_count("AOM_UIF_ask_value"), 4);
    expect_clean();
}

TEST_F(DumpTest, ListPropertiesStopsAtTheFirstFailure) {
    struct Case {
        const char* failing;
        int nth;
        const char* listed;  // lines before the failure block
        long name_queries, value_queries;
    };
    const Case cases[] = {
        {"AOM_ask_prop_names", 1, "", 0, 0},
        {"AOM_UIF_ask_name", 2, "L [Object Name(object_name)]: [A%sB]\n", 2, 1},
        {"AOM_UIF_ask_value", 1, "", 1, 1},
    };
    set_switches("ON", nullptr, nullptr);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.failing);
        standin::reset_counters();
        standin::clear_faults();
        standin::fail_call(c.failing, c.nth, 77);
        const std::string console = capture_console([&] { kep_list_properties_with_value("L", ds1_); });
        EXPECT_EQ(console.substr(0, console.find("ERROR while processing")), c.listed);
        EXPECT_NE(console.find("ERROR while processing following statement\n"), std::string::npos);
        EXPECT_EQ(standin::call_count("AOM_UIF_ask_name"), c.name_queries);
        EXPECT_EQ(standin::call_count("AOM_UIF_ask_value"), c.value_queries);
        expect_clean();
    }
}

}  // namespace
