// The preference readers: values, messages, the caller's search scope and the exact trace.
#include <base_utils/Mem.h>

#include "lookup_site.h"

namespace lookup_test {
namespace {

using PreferenceTest = LookupTest;

struct SingleCase {
    const char* key;
    bool defined;
    std::vector<std::string> values;
    const char* expected;  // null: no value handed back
    const char* message;
};

TEST_F(PreferenceTest, SingleValueReads) {
    const SingleCase cases[] = {
        {"KEPOne", true, {"Part3D"}, "Part3D", "    preference[KEPOne]=[Part3D] \n"},
        {"KEPSeveral", true, {"Part3D", "Model3D"}, "Part3D", "    preference[KEPSeveral]=[Part3D] \n"},
        // Handed back as found; every caller treats the empty text as missing.
        {"KEPEmptyText", true, {""}, "", "    preference[KEPEmptyText]=[] \n"},
        {"KEPUndefined", false, {}, nullptr, "    preference[KEPUndefined] not found \n"},
        {"KEPNoValues", true, {}, nullptr, "    preference[KEPNoValues] not found \n"},
        // A "%" in a key or value is written as it is.
        {"KEP%s", true, {"100%d"}, "100%d", "    preference[KEP%s]=[100%d] \n"},
    };
    set_switches("ON", nullptr, nullptr);
    for (const SingleCase& c : cases) {
        if (c.defined) {
            standin::set_preference(c.key, c.values);
        }
    }
    for (const SingleCase& c : cases) {
        SCOPED_TRACE(c.key);
        char* value = reinterpret_cast<char*>(1);  // must be reset
        int status = -1;
        const std::string console = capture_console([&] { status = kep_get_preference(c.key, &value); });
        EXPECT_EQ(status, 0);
        if (c.expected == nullptr) {
            EXPECT_EQ(value, nullptr);
        } else {
            ASSERT_NE(value, nullptr);
            EXPECT_STREQ(value, c.expected);
        }
        MEM_free(value);
        EXPECT_EQ(console, std::string(">>> kep_get_preference\n") + c.message + "<<< kep_get_preference\n");
        EXPECT_EQ(standin::search_scope(), 4) << "caller's scope not put back";
        EXPECT_TRUE(standin::errors().empty());
        expect_clean();
    }
}

TEST_F(PreferenceTest, NullKeyReadsNothing) {
    set_switches("ON", nullptr, "ON");
    char* value = reinterpret_cast<char*>(1);
    int status = -1;
    standin::reset_counters();
    const std::string console = capture_console([&] { status = kep_get_preference(nullptr, &value); });
    EXPECT_EQ(status, 0);
    EXPECT_EQ(value, nullptr);
    EXPECT_EQ(console, ">>> kep_get_preference\n<<< kep_get_preference\n");
    EXPECT_EQ(standin::call_count("PREF_ask_search_scope"), 0);
    expect_clean();
}

TEST_F(PreferenceTest, GoldenTraceOfASuccessfulRead) {
    standin::set_preference("KEPPartDatasetType", {"Part3D", "Model3D"});
    console_with_trace();
    char* value = nullptr;
    const std::string console =
        capture_console([&] { EXPECT_EQ(kep_get_preference("KEPPartDatasetType", &value), 0); });
    MEM_free(value);
    EXPECT_EQ(console,
              ">>> kep_get_preference\n"
              "    executing [    PREF_ask_search_scope(&current_scope)    ]\n"
              "    executing [    PREF_set_search_scope(TC_preference_all)    ]\n"
              "    executing [    PREF_ask_value_count(pref_name, &value_count)    ]\n"
              "    executing [    PREF_ask_char_value(pref_name, 0, pref_value)    ]\n"
              "    executing [    PREF_set_search_scope(current_scope)    ]\n"
              "    preference[KEPPartDatasetType]=[Part3D] \n"
              "<<< kep_get_preference\n");
    expect_clean();
}

// The read of the value count fails: the failure block, then the caller's scope is put back and
// the first failure's status is returned.
TEST_F(PreferenceTest, GoldenTraceOfAFailedRead) {
    standin::set_preference("KEPPartDatasetType", {"Part3D"});
    console_with_trace();
    standin::fail_call("PREF_ask_value_count", 1, 4242);
    char* value = nullptr;
    int status = 0;
    const std::string console =
        capture_console([&] { status = kep_get_preference("KEPPartDatasetType", &value); });
    EXPECT_EQ(status, 4242);
    EXPECT_EQ(value, nullptr);
    EXPECT_EQ(console,
              ">>> kep_get_preference\n"
              "    executing [    PREF_ask_search_scope(&current_scope)    ]\n"
              "    executing [    PREF_set_search_scope(TC_preference_all)    ]\n"
              "    executing [    PREF_ask_value_count(pref_name, &value_count)    ]\n"
              "    ERROR while processing following statement\n"
              "    PREF_ask_value_count(pref_name, &value_count)\n"
              "        ERROR stack:\n"
              "        error[0]:\n"
              "            severity=[ERROR]\n"
              "            code=[4242]\n"
              "            text=[PREF_ask_value_count: injected failure]\n"
              "    executing [    PREF_set_search_scope(current_scope)    ]\n"
              "    preference[KEPPartDatasetType] not found \n"
              "<<< kep_get_preference\n");
    EXPECT_EQ(standin::search_scope(), 4);
    EXPECT_TRUE(standin::errors().empty());
    expect_clean();
}

struct ScopeCase {
    const char* op;  // the call that fails
    int nth;         // which call of op
    int status;      // what the reader returns (the list reader: 0 unless the restore failed)
    int scope;       // the caller's scope afterwards
};

// A failed read leaves the caller's scope as it was, wherever the read failed; only a failing
// restore itself can leave the scope changed. The status stays the first failure.
TEST_F(PreferenceTest, FailedSingleReadRestoresCallersScope) {
    const ScopeCase cases[] = {
        {"PREF_ask_search_scope", 1, 77, 4}, {"PREF_set_search_scope", 1, 77, 4},
        {"PREF_ask_value_count", 1, 77, 4},  {"PREF_ask_char_value", 1, 77, 4},
        {"PREF_set_search_scope", 2, 77, 0},
    };
    standin::set_preference("KEPPartDatasetType", {"Part3D"});
    for (const ScopeCase& c : cases) {
        SCOPED_TRACE(std::string(c.op) + " #" + std::to_string(c.nth));
        ASSERT_NO_FATAL_FAILURE(load_site(site_json()));
        standin::set_preference("KEPPartDatasetType", {"Part3D"});
        standin::fail_call(c.op, c.nth, 77);
        char* value = nullptr;
        EXPECT_EQ(kep_get_preference("KEPPartDatasetType", &value), c.status);
        EXPECT_EQ(standin::search_scope(), c.scope);
        // A value read before a failing restore is still handed over, for the caller to release.
        if (value != nullptr) {
            EXPECT_STREQ(value, "Part3D");
            EXPECT_EQ(c.nth, 2);
        }
        MEM_free(value);
        EXPECT_TRUE(standin::errors().empty());
        expect_clean();
    }
}

TEST_F(PreferenceTest, RestoreFailingAfterAFailedReadKeepsTheFirstStatus) {
    standin::set_preference("KEPPartDatasetType", {"Part3D"});
    standin::fail_call("PREF_ask_char_value", 1, 11);
    standin::fail_call("PREF_set_search_scope", 2, 22);
    char* value = nullptr;
    EXPECT_EQ(kep_get_preference("KEPPartDatasetType", &value), 11);
    EXPECT_EQ(value, nullptr);
    EXPECT_TRUE(standin::errors().empty());
    expect_clean();
}

TEST_F(PreferenceTest, FailedListReadRestoresCallersScope) {
    const ScopeCase cases[] = {
        // Without the caller's scope nothing is put back: the scope was never changed.
        {"PREF_ask_search_scope", 1, 0, 4},
        {"PREF_set_search_scope", 1, 0, 4},
        {"PREF_ask_char_values", 1, 0, 4},
        {"PREF_set_search_scope", 2, 77, 0},
    };
    for (const ScopeCase& c : cases) {
        SCOPED_TRACE(std::string(c.op) + " #" + std::to_string(c.nth));
        ASSERT_NO_FATAL_FAILURE(load_site(site_json()));
        standin::set_preference("KEPAltRepList", {"MASTER", "LOD1"});
        standin::fail_call(c.op, c.nth, 77);
        int count = -1;
        char** values = nullptr;
        EXPECT_EQ(kep_get_preference_list("KEPAltRepList", &count, &values), c.status);
        EXPECT_EQ(standin::search_scope(), c.scope);
        if (c.status == 0) {
            EXPECT_EQ(count, 0);
            EXPECT_EQ(values, nullptr);
        } else {
            EXPECT_EQ(count, 2);  // read before the failing restore
        }
        MEM_free(values);
        EXPECT_TRUE(standin::errors().empty());
        expect_clean();
    }
}

TEST_F(PreferenceTest, ListReads) {
    struct ListCase {
        const char* key;
        std::vector<std::string> expected;
        const char* log;
    } cases[] = {
        {"KEPAltRepList",
         {"MASTER", "LOD1", ""},
         "    Found 3 list entries\n"
         "     0: MASTER \n"
         "     1: LOD1 \n"
         "     2:  \n"},
        {"KEPUndefined", {}, "    Found 0 list entries\n"},
    };
    standin::set_preference("KEPAltRepList", {"MASTER", "LOD1", ""});
    set_switches("ON", nullptr, nullptr);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.key);
        int count = -1;
        char** values = reinterpret_cast<char**>(1);
        int status = -1;
        const std::string console =
            capture_console([&] { status = kep_get_preference_list(c.key, &count, &values); });
        EXPECT_EQ(status, 0);
        ASSERT_EQ(count, static_cast<int>(c.expected.size()));
        for (int i = 0; i < count; ++i) {
            EXPECT_EQ(values[i], c.expected[static_cast<size_t>(i)]);
        }
        if (count == 0) {
            EXPECT_EQ(values, nullptr);
        }
        MEM_free(values);
        EXPECT_EQ(console,
                  std::string(">>> kep_get_preference_list\n") + c.log + "<<< kep_get_preference_list\n");
        EXPECT_EQ(standin::search_scope(), 4);
        expect_clean();
    }
}

TEST_F(PreferenceTest, ListReadOfNullKeyAsksNothing) {
    standin::reset_counters();
    int count = -1;
    char** values = reinterpret_cast<char**>(1);
    EXPECT_EQ(kep_get_preference_list(nullptr, &count, &values), 0);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(values, nullptr);
    EXPECT_EQ(standin::call_count("PREF_ask_search_scope"), 0);
    EXPECT_EQ(standin::call_count("PREF_set_search_scope"), 0);
    expect_clean();
}

// Every read asks the platform again: a changed preference is seen at its next use.
TEST_F(PreferenceTest, NothingIsCached) {
    standin::set_preference("KEPUseAltRepFilter", {"0"});
    char* value = nullptr;
    ASSERT_EQ(kep_get_preference("KEPUseAltRepFilter", &value), 0);
    EXPECT_STREQ(value, "0");
    MEM_free(value);
    standin::set_preference("KEPUseAltRepFilter", {"1"});
    ASSERT_EQ(kep_get_preference("KEPUseAltRepFilter", &value), 0);
    EXPECT_STREQ(value, "1");
    MEM_free(value);
    expect_clean();
}

}  // namespace
}  // namespace lookup_test
