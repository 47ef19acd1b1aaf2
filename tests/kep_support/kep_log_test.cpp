// The logging core: golden traces on both sinks, the switches, the message buffer and the
// statement trace.
#include <atomic>
#include <cstdarg>
#include <cstring>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "kep_fixture.h"
#include "kep_support.h"
#include "kep_trace.h"

namespace {

using kep_test::KepFixture;

class LogTest : public KepFixture {};

// One emitted piece as the system log receives it: the prefix, `blanks` indentation blanks, text.
std::string sys(int blanks, const std::string& text) { return "[KEP] " + std::string(blanks, ' ') + text; }

TEST_F(LogTest, StartEndPairAtLevelZeroOnBothSinks) {
    set_switches("ON", "ON", nullptr);
    const std::string console = capture_console([] {
        EXPECT_EQ(kep_start("%s\n", "kep_get_parent"), 0);
        EXPECT_EQ(kep_support_indent_level(), 4);
        EXPECT_EQ(kep_end("%s\n", "kep_get_parent"), 0);
    });
    EXPECT_EQ(console, ">>> kep_get_parent\n<<< kep_get_parent\n");
    EXPECT_EQ(syslog(),
              sys(0, ">>> ") + sys(0, "kep_get_parent\n") + sys(0, "<<< ") + sys(0, "kep_get_parent\n"));
    expect_clean();
}

TEST_F(LogTest, SyslogGetsOneCallPerBlank) {
    set_switches(nullptr, "ON", nullptr);
    kep_indent();
    kep_indent();
    standin::reset_counters();
    kep_log("x\n");
    EXPECT_EQ(syslog(), "[KEP]         x\n");
    EXPECT_EQ(standin::call_count("TC_write_syslog"), 10);
}

TEST_F(LogTest, TracedCallThatSucceeds) {
    set_switches("ON", "ON", "ON");
    int status = -1;
    const std::string console = capture_console([&] {
        kep_start("%s\n", "outer");
        status = kep::traced("PREF_ask_value_count(pref_name, &value_count)", [] { return 0; });
        kep_end("%s\n", "outer");
    });
    EXPECT_EQ(status, 0);
    EXPECT_EQ(console,
              ">>> outer\n"
              "    executing [    PREF_ask_value_count(pref_name, &value_count)    ]\n"
              "<<< outer\n");
    EXPECT_EQ(syslog(), sys(0, ">>> ") + sys(0, "outer\n") + sys(4, "executing [") +
                            sys(4, "PREF_ask_value_count(pref_name, &value_count)") + sys(4, "]\n") +
                            sys(0, "<<< ") + sys(0, "outer\n"));
    expect_clean();
}

TEST_F(LogTest, TracedCallThatFailsWritesTheFailureBlockAndErrorStack) {
    set_switches("ON", "ON", "ON");
    standin::push_error(3, 101, "first");
    standin::push_error(2, 102, "second");
    standin::push_error(1, 103, "third");
    standin::push_error(7, 104, "fourth");
    int status = 0;
    const std::string console = capture_console([&] {
        kep_start("%s\n", "outer");
        status = kep::traced("CALL(a, &b)", [] { return 104; });
        kep_end("%s\n", "outer");
    });
    EXPECT_EQ(status, 104);
    EXPECT_EQ(console,
              ">>> outer\n"
              "    executing [    CALL(a, &b)    ]\n"
              "    ERROR while processing following statement\n"
              "    CALL(a, &b)\n"
              "        ERROR stack:\n"
              "        error[0]:\n"
              "            severity=[ERROR]\n"
              "            code=[101]\n"
              "            text=[first]\n"
              "        error[1]:\n"
              "            severity=[WARNING]\n"
              "            code=[102]\n"
              "            text=[second]\n"
              "        error[2]:\n"
              "            severity=[INFORMATION]\n"
              "            code=[103]\n"
              "            text=[third]\n"
              "        error[3]:\n"
              "            severity=[?]\n"
              "            code=[104]\n"
              "            text=[fourth]\n"
              "<<< outer\n");
    std::string expected = sys(0, ">>> ") + sys(0, "outer\n") + sys(4, "executing [") +
                           sys(4, "CALL(a, &b)") + sys(4, "]\n") +
                           sys(4, "ERROR while processing following statement\n") + sys(4, "CALL(a, &b)\n") +
                           sys(8, "ERROR stack:\n");
    const char* const severities[] = {"ERROR", "WARNING", "INFORMATION", "?"};
    const char* const texts[] = {"first", "second", "third", "fourth"};
    for (int i = 0; i < 4; ++i) {
        expected += sys(8, "error[" + std::to_string(i) + "]:\n") +
                    sys(12, std::string("severity=[") + severities[i] + "]\n") +
                    sys(12, "code=[" + std::to_string(101 + i) + "]\n") +
                    sys(12, std::string("text=[") + texts[i] + "]\n");
    }
    expected += sys(0, "<<< ") + sys(0, "outer\n");
    EXPECT_EQ(syslog(), expected);
    EXPECT_EQ(standin::errors().size(), 4u) << "the error stack is only read, never cleared";
    expect_clean();
}

TEST_F(LogTest, FailureBlockIsWrittenWithTheTraceSwitchOff) {
    set_switches("ON", nullptr, nullptr);
    const std::string console = capture_console([] { kep::traced("CALL()", [] { return 5; }); });
    EXPECT_EQ(console, "ERROR while processing following statement\nCALL()\n    ERROR stack:\n");
}

TEST_F(LogTest, StepMakesNoCallAfterTheFirstFailure) {
    set_switches("ON", nullptr, "ON");
    kep::Step step;
    int calls = 0;
    const std::string console = capture_console([&] {
        step.call("first()", [&] { return ++calls, 7; });
        step.call("second()", [&] { return ++calls, 0; });
    });
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(step.status(), 7);
    EXPECT_EQ(console.find("second()"), std::string::npos) << console;
}

TEST_F(LogTest, PercentSignsInArgumentsAreWrittenAsTheyAre) {
    set_switches("ON", "ON", "ON");
    const char* const value = "a%sb%dc%%d%n";
    const std::string console = capture_console([&] {
        kep_log("%s\n", value);
        kep_start("%s\n", value);
        kep_end("%s\n", value);
        kep::traced(value, [] { return 0; });
    });
    const std::string v(value);
    EXPECT_EQ(console, v + "\n>>> " + v + "\n<<< " + v + "\nexecuting [" + v + "]\n");
    EXPECT_EQ(syslog(), sys(0, v + "\n") + sys(0, ">>> ") + sys(0, v + "\n") + sys(0, "<<< ") +
                            sys(0, v + "\n") + sys(0, "executing [") + sys(0, v) + sys(0, "]\n"));
}

TEST_F(LogTest, NegativeLevelWritesAtColumnZero) {
    set_switches("ON", "ON", nullptr);
    const std::string console = capture_console([] {
        kep_outdent();
        kep_end("%s\n", "unbalanced");  // level -8
        kep_log("y\n");
        kep_start("%s\n", "f");  // level -4
        kep_indent();
        kep_indent();  // level 4
        kep_log("z\n");
    });
    EXPECT_EQ(console, "<<< unbalanced\ny\n>>> f\n    z\n");
    EXPECT_EQ(syslog(), sys(0, "<<< ") + sys(0, "unbalanced\n") + sys(0, "y\n") + sys(0, ">>> ") +
                            sys(0, "f\n") + sys(4, "z\n"));
    EXPECT_EQ(kep_support_indent_level(), 4);
}

TEST_F(LogTest, MessageLongerThanTheBufferIsCutToFit) {
    set_switches("ON", "ON", nullptr);
    const std::string long_text(20000, 'a');
    const std::string cut(10239, 'a');  // 10,240 bytes with the terminator
    const std::string console = capture_console([&] {
        kep_log("%s\n", long_text.c_str());
        kep_start("%s", long_text.c_str());
        kep_log("%s", std::string(10239, 'b').c_str());  // exactly fits
    });
    EXPECT_EQ(console, cut + ">>> " + cut + std::string(4, ' ') + std::string(10239, 'b'));
    EXPECT_EQ(syslog(), sys(0, cut) + sys(0, ">>> ") + sys(0, cut) + sys(4, std::string(10239, 'b')));
}

int call_log_impl(int indent_flag, const char* format, ...) {
    va_list args;
    va_start(args, format);
    const int status = kep_log_impl(indent_flag, format, &args);
    va_end(args);
    return status;
}

TEST_F(LogTest, LogImplWithAndWithoutArguments) {
    set_switches("ON", nullptr, nullptr);
    kep_indent();
    const std::string console = capture_console([] {
        EXPECT_EQ(call_log_impl(1, "%d-%s\n", 7, "x"), 0);
        EXPECT_EQ(call_log_impl(0, "%d-%s\n", 8, "y"), 0);
        // Without an argument list only "%%" is read; other conversions stay as written.
        EXPECT_EQ(kep_log_impl(1, "100%% of %s %d\n", nullptr), 0);
        EXPECT_EQ(kep_log_impl(0, nullptr, nullptr), 0);
    });
    EXPECT_EQ(console, "    7-x\n8-y\n    100% of %s %d\n");
}

// --- switches ---------------------------------------------------------------------------------

TEST_F(LogTest, OnlyTheExactTextOnTurnsASwitchOn) {
    struct Case {
        const char* value;
        bool on;
    };
    const Case cases[] = {{"ON", true},   {"on", false},  {"On", false}, {"ON ", false},
                          {" ON", false}, {"ONN", false}, {"", false},   {nullptr, false}};
    for (const Case& c : cases) {
        for (int which = 0; which < 3; ++which) {
            SCOPED_TRACE(std::string("value ") + (c.value ? "\"" + std::string(c.value) + "\"" : "unset") +
                         ", switch " + std::to_string(which));
            standin::reset();
            kep_support_reset_state();
            // The switch under test gets the value; the console is on when the trace is tested.
            set_switches(which == 0 ? c.value : (which == 2 ? "ON" : nullptr), which == 1 ? c.value : nullptr,
                         which == 2 ? c.value : nullptr);
            const std::string console = capture_console([&] {
                if (which == 2) {
                    kep_log_itkexe("t\n");
                } else {
                    kep_log("m\n");
                }
            });
            const std::string want = c.on ? (which == 2 ? "t\n" : "m\n") : "";
            if (which == 1) {
                EXPECT_EQ(console, "");
                EXPECT_EQ(syslog(), c.on ? "[KEP] m\n" : "");
            } else {
                EXPECT_EQ(console, want);
            }
            if (which != 2) {
                EXPECT_EQ(kep_logging_on(), c.on ? 1 : 0);
            }
        }
    }
}

TEST_F(LogTest, LoggingOnDependsOnlyOnTheOutputSwitches) {
    struct Case {
        const char *debug, *syslog, *itklog;
        int expected;
    };
    const Case cases[] = {{"ON", nullptr, nullptr, 1},
                          {nullptr, "ON", nullptr, 1},
                          {nullptr, nullptr, "ON", 0},
                          {nullptr, nullptr, nullptr, 0},
                          {"ON", "ON", "ON", 1}};
    for (const Case& c : cases) {
        kep_support_reset_state();
        set_switches(c.debug, c.syslog, c.itklog);
        EXPECT_EQ(kep_logging_on(), c.expected);
    }
}

TEST_F(LogTest, TraceSwitchAloneWritesNothingAndWithConsoleOneLinePerStatement) {
    set_switches(nullptr, nullptr, "ON");
    std::string console = capture_console([] { kep::traced("CALL()", [] { return 0; }); });
    EXPECT_EQ(console, "");
    EXPECT_EQ(syslog(), "");

    kep_support_reset_state();
    set_switches("ON", nullptr, "ON");
    console = capture_console([] { kep::traced("CALL()", [] { return 0; }); });
    EXPECT_EQ(console, "executing [CALL()]\n");
}

TEST_F(LogTest, SwitchesAreReadOnceAtFirstNeedAndIndependently) {
    // The trace switch is read by the first kep_log_itkexe alone; the output switches are still
    // unread, so setting them now takes effect.
    standin::reset_counters();
    kep_log_itkexe("not written\n");
    EXPECT_EQ(standin::call_count("TC_getenv"), 1);
    set_switches("ON", nullptr, "ON");
    std::string console = capture_console([] {
        kep_log("first\n");
        kep_log_itkexe("trace stays off\n");
    });
    EXPECT_EQ(console, "first\n");

    // Later changes of the environment change nothing.
    set_switches(nullptr, "ON", "ON");
    console = capture_console([] {
        kep_log("second\n");
        kep_logging_on();
        kep_log_itkexe("still off\n");
    });
    EXPECT_EQ(console, "second\n");
    EXPECT_EQ(syslog(), "");
    EXPECT_EQ(standin::call_count("TC_getenv"), 3);
}

TEST_F(LogTest, SwitchReadersCacheTheirValue) {
    set_switches("ON", nullptr, "ON");
    standin::reset_counters();
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(kep_get_log_console_on(), 1);
        EXPECT_EQ(kep_get_log_syslog_on(), 0);
        EXPECT_EQ(kep_get_log_itkexe_on(), 1);
    }
    EXPECT_EQ(standin::call_count("TC_getenv"), 3);
}

// --- error stack ------------------------------------------------------------------------------

TEST_F(LogTest, ErrorStackEdgeCases) {
    set_switches("ON", nullptr, nullptr);
    std::string console = capture_console([] { EXPECT_EQ(kep_log_error_stack(), 0); });
    EXPECT_EQ(console, "ERROR stack:\n");

    standin::push_error(0, 1, "zero severity");
    console = capture_console([] { EXPECT_EQ(kep_log_error_stack(), 0); });
    EXPECT_EQ(console, "ERROR stack:\nerror[0]:\n    severity=[?]\n    code=[1]\n    text=[zero severity]\n");

    standin::fail_call("EMH_ask_errors", 1, 4711);
    console = capture_console([] { EXPECT_EQ(kep_log_error_stack(), 0); });
    EXPECT_EQ(console, "Error [4711] occured while displaying error stack\n");
    expect_clean();
}

// --- ident lines and threads ------------------------------------------------------------------

// The four lines follow one another in one block that a zero byte opens, so `what` and `strings`
// show each whole and in this order.
TEST_F(LogTest, IdentLines) {
    EXPECT_EQ(gvModule[-1], '\0');
    const char* line = gvModule;
    const struct {
        const char* pointer;  // the exported pointer to the line, if any
        const char* pattern;
    } lines[] = {
        {gvModule, R"(@\(#\) KEPModule: kep_support)"},
        {gvVersion, R"(@\(#\) KEPVersion: 4\.8\.0)"},
        {gvBuild, R"(@\(#\) KEPDate: \d\d\.\d\d\.\d\d \d{6})"},
        {nullptr, R"(@\(#\) KEPBuild: [A-Za-z0-9._+-]+)"},
    };
    for (const auto& expected : lines) {
        EXPECT_TRUE(std::regex_match(line, std::regex(expected.pattern))) << line;
        if (expected.pointer != nullptr) {
            EXPECT_EQ(expected.pointer, line) << expected.pattern;
        }
        line += std::strlen(line) + 1;
    }
}

TEST_F(LogTest, ConcurrentMessagesStayWhole) {
    set_switches("ON", nullptr, nullptr);
    const int kThreads = 4;
    const int kLines = 200;
    const std::string console = capture_console([&] {
        std::vector<std::thread> threads;
        for (int t = 0; t < kThreads; ++t) {
            threads.emplace_back([t] {
                for (int i = 0; i < kLines; ++i) {
                    kep_log("thread %d line %d %s\n", t, i,
                            "xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx");
                }
            });
        }
        for (std::thread& thread : threads) {
            thread.join();
        }
    });
    const std::regex line(R"(thread \d line \d+ x{51})");
    int count = 0;
    size_t start = 0;
    for (size_t end; (end = console.find('\n', start)) != std::string::npos; start = end + 1, ++count) {
        EXPECT_TRUE(std::regex_match(console.substr(start, end - start), line))
            << console.substr(start, end - start);
    }
    EXPECT_EQ(count, kThreads * kLines);
}

}  // namespace
