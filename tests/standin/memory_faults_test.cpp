// Tracked memory and ownership, the error stack, call counting and fault injection.
#include <ae/dataset.h>
#include <base_utils/Mem.h>
#include <bom/bom.h>
#include <tc/emh.h>
#include <tc/preferences.h>
#include <tc/tc_startup.h>
#include <tc/tc_util.h>
#include <tccore/aom_prop.h>

#include <cstring>

#include "standin_fixture.h"

namespace standin_test {
namespace {

using MemoryTest = StandinTest;

TEST_F(MemoryTest, MisusedFreesAreCountedNotActedOn) {
    char* block = static_cast<char*>(MEM_alloc(16));
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(standin::live_blocks(), 1);
    MEM_free(nullptr);  // fine, no misuse
    EXPECT_EQ(standin::misuse_count(), 0);
    MEM_free(block + 4);  // interior pointer: the block stays live
    EXPECT_EQ(standin::misuse_count(), 1);
    EXPECT_EQ(standin::live_blocks(), 1);
    MEM_free(block);
    EXPECT_EQ(standin::live_blocks(), 0);
    MEM_free(block);  // twice
    EXPECT_EQ(standin::misuse_count(), 2);
    int on_stack = 0;
    MEM_free(&on_stack);  // never ours
    EXPECT_EQ(standin::misuse_count(), 3);
    EXPECT_EQ(MEM_alloc(-1), nullptr);
    void* empty = MEM_alloc(0);  // a real, distinct block
    EXPECT_NE(empty, nullptr);
    MEM_free(empty);
    EXPECT_EQ(standin::live_blocks(), 0);
}

TEST_F(MemoryTest, TextListsAreOneBlock) {
    int n = 0;
    char** values = nullptr;
    ASSERT_EQ(PREF_ask_char_values("Two", &n, &values), ITK_ok);
    ASSERT_EQ(n, 2);
    EXPECT_STREQ(values[0], "x");
    EXPECT_STREQ(values[1], "y");
    EXPECT_EQ(standin::live_blocks(), 1);
    MEM_free(values);
    EXPECT_EQ(standin::live_blocks(), 0);

    ASSERT_EQ(AOM_ask_prop_names(t("bb1"), &n, &values), ITK_ok);
    EXPECT_EQ(standin::live_blocks(), 1);
    std::vector<std::string> names(values, values + n);
    MEM_free(values);
    const std::vector<std::string> expected = {"object_name", "object_type", "var2_bb_x1", "label",
                                               "flag",        "list",        "nothing"};
    EXPECT_EQ(names, expected);
    EXPECT_EQ(standin::live_blocks(), 0);
    EXPECT_EQ(standin::misuse_count(), 0);
}

TEST_F(MemoryTest, StringListsHaveOneBlockPerString) {
    int n = 0;
    char** values = nullptr;
    ASSERT_EQ(AOM_ask_value_strings(t("bb1"), "list", &n, &values), ITK_ok);
    ASSERT_EQ(n, 3);
    EXPECT_STREQ(values[0], "a");
    EXPECT_EQ(values[1], nullptr);  // a null entry of the site stays null
    EXPECT_STREQ(values[2], "c");
    EXPECT_EQ(standin::live_blocks(), 3);  // the array and two strings
    MEM_free(values[0]);
    MEM_free(values[2]);
    MEM_free(values);
    EXPECT_EQ(standin::live_blocks(), 0);
    EXPECT_EQ(standin::misuse_count(), 0);
}

TEST_F(MemoryTest, ErrorStackOldestFirstAndCleared) {
    char* v = nullptr;
    EXPECT_EQ(AOM_ask_value_string(999, "object_name", &v), standin::kErrUnknownTag);
    EXPECT_EQ(PREF_ask_char_value("One", 1, &v), standin::kErrIndexRange);
    int n = 0;
    const int* severities = nullptr;
    const int* codes = nullptr;
    const char** texts = nullptr;
    ASSERT_EQ(EMH_ask_errors(&n, &severities, &codes, &texts), ITK_ok);
    ASSERT_EQ(n, 2);
    EXPECT_EQ(severities[0], 3);
    EXPECT_EQ(codes[0], standin::kErrUnknownTag);
    EXPECT_STREQ(texts[0], "AOM_ask_value_string: tag 999 names nothing");
    EXPECT_EQ(codes[1], standin::kErrIndexRange);
    EXPECT_STREQ(texts[1], "PREF_ask_char_value: index 1 is beyond the 1 value(s) of \"One\"");
    EXPECT_EQ(EMH_clear_errors(), ITK_ok);
    ASSERT_EQ(EMH_ask_errors(&n, &severities, &codes, &texts), ITK_ok);
    EXPECT_EQ(n, 0);
    EXPECT_EQ(standin::live_blocks(), 0);  // the arrays are the platform's
}

// One failure per cause, each with its own code and a text naming the operation.
struct Failure {
    const char* name;
    int (*call)();
    int code;
    const char* text;
};

const Failure kFailures[] = {
    {"unknown tag",
     [] {
         tag_t v;
         return AOM_ask_value_tag(777, "bl_parent", &v);
     },
     standin::kErrUnknownTag, "AOM_ask_value_tag: tag 777 names nothing"},
    {"wrong kind",
     [] {
         tag_t v;
         return BOM_ask_window_top_line(standin::tag_of("top"), &v);
     },
     standin::kErrWrongKind, "BOM_ask_window_top_line: tag 13 (top) is no BOM window"},
    {"dataset expected",
     [] {
         tag_t v;
         return AE_ask_dataset(standin::tag_of("bb1"), &v);
     },
     standin::kErrWrongKind, "AE_ask_dataset: tag 6 (bb1) is no dataset"},
    {"no such property",
     [] {
         char* v;
         return AOM_ask_value_string(standin::tag_of("ds1"), "colour", &v);
     },
     standin::kErrNoSuchProperty, "AOM_ask_value_string: tag 3 (ds1) has no property \"colour\""},
    {"wrong value type",
     [] {
         double v;
         return AOM_ask_value_double(standin::tag_of("bb1"), "label", &v);
     },
     standin::kErrWrongValueType,
     "AOM_ask_value_double: property \"label\" of tag 6 (bb1) holds a string, not a double"},
    {"null argument", [] { return ITK_ask_version(nullptr); }, standin::kErrNullArgument,
     "ITK_ask_version: the version pointer is null"},
    {"index range",
     [] {
         char* v;
         return PREF_ask_char_value("Nope", 0, &v);
     },
     standin::kErrIndexRange, "PREF_ask_char_value: index 0 is beyond the 0 value(s) of \"Nope\""},
    {"no such attribute",
     [] {
         int a;
         return BOM_line_look_up_attribute("bl_colour", &a);
     },
     standin::kErrNoSuchAttribute, "BOM_line_look_up_attribute: no line attribute \"bl_colour\""},
    {"bad argument", [] { return PREF_set_search_scope(static_cast<TC_preference_search_scope_t>(7)); },
     standin::kErrBadArgument, "PREF_set_search_scope: search scope 7 is out of range"},
};

class FailureTest : public StandinTest, public ::testing::WithParamInterface<Failure> {};

TEST_P(FailureTest, PushesItsCodeAndText) {
    EXPECT_EQ(GetParam().call(), GetParam().code);
    const auto errors = standin::errors();
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_EQ(errors[0].severity, 3);
    EXPECT_EQ(errors[0].code, GetParam().code);
    EXPECT_EQ(errors[0].text, GetParam().text);
    EXPECT_EQ(standin::live_blocks(), 0);
}

INSTANTIATE_TEST_SUITE_P(Causes, FailureTest, ::testing::ValuesIn(kFailures),
                         [](const ::testing::TestParamInfo<Failure>& param_info) {
                             std::string name = param_info.param.name;
                             for (char& c : name) {
                                 c = c == ' ' ? '_' : c;
                             }
                             return name;
                         });

using CountTest = StandinTest;

// Counts (and what fail_nth_any counts) are always kept; the log only while it is asked for, and
// the setting outlives a new site.
TEST_F(CountTest, EveryCallIsCountedAndLoggedOnlyWhenAsked) {
    const auto calls = [] {
        standin::reset_counters();
        int version = 0;
        ITK_ask_version(&version);
        void* p = MEM_alloc(4);
        MEM_free(p);
        TC_getenv("HOME");
        TC_write_syslog("%s", "x");
        ITK_ask_version(nullptr);  // a failing call counts too
    };
    const std::vector<std::string> log = {"ITK_ask_version", "MEM_alloc",       "MEM_free",
                                          "TC_getenv",       "TC_write_syslog", "ITK_ask_version"};
    for (const bool logging : {false, true, false}) {
        SCOPED_TRACE(logging ? "logging" : "not logging");
        standin::set_call_log(logging);
        load(kSite);
        calls();
        EXPECT_EQ(standin::call_log(), logging ? log : std::vector<std::string>{});
        EXPECT_EQ(standin::call_count("ITK_ask_version"), 2);
        EXPECT_EQ(standin::call_counts().size(), 5u);
        EXPECT_EQ(standin::failable_calls(), 2);  // only operations that return a status count
        standin::reset_counters();
        EXPECT_TRUE(standin::call_log().empty());
        EXPECT_EQ(standin::call_count("ITK_ask_version"), 0);
    }
}

// The fault kinds: which of a fixed sequence of calls fail.
struct FaultCase {
    const char* name;
    void (*arm)();
    std::vector<int> failing;  // positions (0-based) in the sequence below
};

// The sequence: ITK_ask_version, AE_ask_dataset(ds1), ITK_ask_version, AE_ask_dataset(ds2),
// PREF_ask_value_count, AE_ask_dataset(ds1).
std::vector<int> run_sequence() {
    std::vector<int> statuses;
    int version = 0;
    tag_t v0 = NULLTAG;
    int count = 0;
    statuses.push_back(ITK_ask_version(&version));
    statuses.push_back(AE_ask_dataset(standin::tag_of("ds1"), &v0));
    statuses.push_back(ITK_ask_version(&version));
    statuses.push_back(AE_ask_dataset(standin::tag_of("ds2"), &v0));
    statuses.push_back(PREF_ask_value_count("One", &count));
    statuses.push_back(AE_ask_dataset(standin::tag_of("ds1"), &v0));
    return statuses;
}

const FaultCase kFaultCases[] = {
    {"nth call of an operation", [] { standin::fail_call("ITK_ask_version", 2, 1234); }, {2}},
    {"every call of an operation", [] { standin::fail_call("AE_ask_dataset", 0, 1234); }, {1, 3, 5}},
    {"every call about one object",
     [] { standin::fail_object("AE_ask_dataset", standin::tag_of("ds1"), 1234); },
     {1, 5}},
    {"every operation about one object", [] { standin::fail_object("", standin::tag_of("ds2"), 1234); }, {3}},
    {"kth failable call of any operation", [] { standin::fail_nth_any(5, 1234); }, {4}},
    {"counted from when armed",
     [] {
         int version = 0;
         ITK_ask_version(&version);
         standin::reset_counters();  // does not move an armed fault
         standin::fail_call("ITK_ask_version", 1, 1234);
     },
     {0}},
    {"a fault on an operation that cannot fail does nothing",
     [] { standin::fail_call("MEM_free", 0, 1234); },
     {}},
};

class FaultTest : public StandinTest, public ::testing::WithParamInterface<FaultCase> {};

TEST_P(FaultTest, FailsExactlyTheChosenCalls) {
    GetParam().arm();
    const std::vector<int> statuses = run_sequence();
    std::vector<int> failing;
    for (size_t i = 0; i < statuses.size(); ++i) {
        if (statuses[i] != ITK_ok) {
            EXPECT_EQ(statuses[i], 1234);
            failing.push_back(static_cast<int>(i));
        }
    }
    EXPECT_EQ(failing, GetParam().failing);
    const auto errors = standin::errors();
    ASSERT_EQ(errors.size(), failing.size());
    for (const auto& e : errors) {
        EXPECT_EQ(e.severity, 3);
        EXPECT_EQ(e.code, 1234);
        EXPECT_NE(e.text.find(": injected failure"), std::string::npos) << e.text;
    }
    standin::clear_faults();
    for (int status : run_sequence()) {
        EXPECT_EQ(status, ITK_ok);
    }
}

INSTANTIATE_TEST_SUITE_P(Kinds, FaultTest, ::testing::ValuesIn(kFaultCases),
                         [](const ::testing::TestParamInfo<FaultCase>& param_info) {
                             std::string name = param_info.param.name;
                             for (char& c : name) {
                                 c = c == ' ' ? '_' : c;
                             }
                             return name;
                         });

TEST_F(CountTest, InjectedFailureHasNoOtherEffect) {
    standin::fail_call("PREF_set_search_scope", 1);
    EXPECT_EQ(PREF_set_search_scope(TC_preference_all), standin::kErrInjected);
    EXPECT_EQ(standin::search_scope(), 3);
    EXPECT_EQ(last_error(), "900001 PREF_set_search_scope: injected failure");
    char* value = reinterpret_cast<char*>(0x1);  // untouched by an injected failure
    standin::fail_call("AOM_ask_value_string", 1);
    EXPECT_EQ(AOM_ask_value_string(t("ds1"), "object_name", &value), standin::kErrInjected);
    EXPECT_EQ(value, reinterpret_cast<char*>(0x1));
    EXPECT_EQ(standin::live_blocks(), 0);
}

// MEM_alloc fails as the other operations do, by fail_call, but answers null and leaves no error;
// fail_nth_any does not count it.
TEST_F(CountTest, MemAllocCanFail) {
    standin::fail_call("MEM_alloc", 2);
    standin::fail_nth_any(1, 1234);
    void* first = MEM_alloc(8);
    EXPECT_NE(first, nullptr);
    EXPECT_EQ(MEM_alloc(8), nullptr);
    EXPECT_NE(MEM_alloc(8), nullptr) << "only the second call fails";
    EXPECT_TRUE(standin::errors().empty());
    EXPECT_EQ(standin::live_blocks(), 2);
    int version = 0;
    EXPECT_EQ(ITK_ask_version(&version), 1234) << "the first call that returns a status";
    standin::clear_faults();
    standin::fail_call("MEM_alloc", 0);
    EXPECT_EQ(MEM_alloc(1), nullptr);
    EXPECT_EQ(MEM_alloc(0), nullptr);
    EXPECT_EQ(standin::live_blocks(), 2);
    EXPECT_EQ(standin::errors().size(), 1u);  // ITK_ask_version's
}

TEST_F(CountTest, OperationNames) {
    EXPECT_TRUE(standin::is_operation("MEM_alloc"));
    EXPECT_TRUE(standin::is_failable("MEM_alloc"));
    EXPECT_FALSE(standin::is_failable("MEM_free"));
    EXPECT_TRUE(standin::is_failable("EMH_clear_errors"));
    EXPECT_TRUE(standin::is_failable("AOM_ask_value_logical"));
    EXPECT_FALSE(standin::is_operation("AOM_ask_value"));
}

}  // namespace
}  // namespace standin_test
