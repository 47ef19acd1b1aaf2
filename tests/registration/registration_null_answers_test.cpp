// Answers a site file cannot express: a property without an owning object and a dataset whose
// version-0 answer is the null tag.
//
// This test program interposes PROP_ask_owning_object and AE_ask_dataset: each passes the call on
// to the stand-in (so that counting and fault injection stay as they are) and, only while a test
// here asks for it, replaces a successful answer with the null tag. Every other test of the
// program sees the stand-in unchanged.
#include <dlfcn.h>

#include <cstring>
#include <string>
#include <vector>

#include "kep_fixture.h"
#include "registration/kep_registration.h"

namespace {

bool g_null_owner = false;
bool g_null_version0 = false;

template <class Fn>
Fn next_definition(const char* name) {
    void* symbol = dlsym(RTLD_NEXT, name);
    Fn fn = nullptr;
    static_assert(sizeof fn == sizeof symbol, "function and object pointers differ in size");
    std::memcpy(&fn, &symbol, sizeof fn);
    return fn;
}

}  // namespace

extern "C" int PROP_ask_owning_object(tag_t prop_tag, tag_t* object) {
    static const auto next = next_definition<int (*)(tag_t, tag_t*)>("PROP_ask_owning_object");
    const int status = next(prop_tag, object);
    if (status == 0 && g_null_owner && object != nullptr) {
        *object = NULLTAG;
    }
    return status;
}

extern "C" int AE_ask_dataset(tag_t dataset, tag_t* last_dataset) {
    static const auto next = next_definition<int (*)(tag_t, tag_t*)>("AE_ask_dataset");
    const int status = next(dataset, last_dataset);
    if (status == 0 && g_null_version0 && last_dataset != nullptr) {
        *last_dataset = NULLTAG;
    }
    return status;
}

namespace {

class NullAnswersTest : public kep_test::KepFixture {
protected:
    void TearDown() override {
        g_null_owner = false;
        g_null_version0 = false;
        KepFixture::TearDown();
    }

    void prepare(const char* debug, const char* syslog, const char* itklog) {
        ASSERT_NO_FATAL_FAILURE(load_site(R"({"properties": {"Dataset": ["var2_is_v0"]},
            "objects": {"ds1": {"type": "Dataset", "name": "DS1"}}})"));
        set_switches(debug, syslog, itklog);
        int decision = 0;
        capture_console([&] {
            ASSERT_EQ(kep_register_callbacks(), 0);
            ASSERT_EQ(standin::run_exit("USER_register_properties", &decision), 0);
        });
        standin::reset_counters();
    }

    static std::string read(bool* value, int* status) {
        *value = true;
        std::string console;
        ::testing::internal::CaptureStderr();
        *status = standin::ask_logical(standin::tag_of("ds1"), KEP_PROP_IS_V0, value);
        return ::testing::internal::GetCapturedStderr();
    }
};

TEST_F(NullAnswersTest, NullAnswersReadFalse) {
    struct Case {
        const char* name;
        bool null_owner;
        bool null_version0;
        std::vector<std::string> calls;  // with diagnostics off
    };
    const Case cases[] = {
        {"no owning object", true, false, {"PROP_ask_owning_object"}},
        {"null version-0 dataset", false, true, {"PROP_ask_owning_object", "AE_ask_dataset"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        standin::reset();
        kep_support_reset_state();
        ASSERT_NO_FATAL_FAILURE(prepare(nullptr, nullptr, nullptr));
        g_null_owner = c.null_owner;
        g_null_version0 = c.null_version0;
        bool value = true;
        int status = -1;
        read(&value, &status);
        EXPECT_FALSE(value);
        EXPECT_EQ(status, 0);
        EXPECT_EQ(kep_test::failable_call_log(), c.calls);
        expect_clean();
    }
}

// Regression: with diagnostics on, a property without an owning object was asked for the name of
// the null tag, and the failure of that log-only lookup turned the plain "false" into a failed read.
TEST_F(NullAnswersTest, PropertyWithoutOwnerReadsFalseWithLoggingOn) {
    ASSERT_NO_FATAL_FAILURE(prepare("ON", nullptr, "ON"));
    g_null_owner = true;
    bool value = true;
    int status = -1;
    const std::string console = read(&value, &status);
    EXPECT_FALSE(value);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(standin::call_count("AOM_ask_value_string"), 0);
    EXPECT_EQ(console,
              ">>> kep_runtime_property_ask_is_v0\n"
              "    executing [    PROP_ask_owning_object(prop_tag, &object_tag)    ]\n"
              "<<< kep_runtime_property_ask_is_v0  value=[0], retcode=[0]\n");
    expect_clean();
}

}  // namespace
