// Several threads logging through kep_support at once, as other libraries of a site may do while
// the platform calls the extension: every message is written whole and once, on both sinks in the
// same order, each switch is read once, and the level comes back to where it started. `make tsan`
// runs this program's Threads tests under ThreadSanitizer.
//
// Left out on purpose: kep_log_error_stack, which reads the platform's error stack, the state of
// the platform's calling thread (the stand-in, like the platform's error stack, is not made for
// calls from several threads at once).
#include <atomic>
#include <cstdio>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "kep_fixture.h"
#include "kep_support.h"

namespace {

const int kThreads = 8;
const int kRounds = 200;
const int kMessageLimit = 10239;  // the longest message written whole, line end included

// What thread t writes in round i, in order, as "<kind><i>" records; the statement trace line X
// only with the trace switch on.
std::vector<std::string> expected_records(int rounds, bool trace) {
    std::vector<std::string> out;
    for (int i = 0; i < rounds; ++i) {
        for (const char* kind : {">S", "L", "E", "X", "<S"}) {
            if (trace || kind[0] != 'X') {
                out.push_back(kind + std::to_string(i));
            }
        }
    }
    return out;
}

// Splits a console text into records per thread: "[>|<]<kind><i>" from lines
// "<blanks>[>>> |<<< ]T<t> <kind><i>[ <padding>]". Returns false at the first line of another form.
bool split_records(const std::string& text, std::map<int, std::vector<std::string>>* records,
                   std::string* bad) {
    size_t start = 0;
    while (start < text.size()) {
        const size_t end = text.find('\n', start);
        if (end == std::string::npos) {
            *bad = "text without a line end at the end";
            return false;
        }
        std::string line = text.substr(start, end - start);
        start = end + 1;
        line.erase(0, line.find_first_not_of(' '));
        std::string marker;
        if (line.compare(0, 4, ">>> ") == 0 || line.compare(0, 4, "<<< ") == 0) {
            marker = line.substr(0, 1);
            line.erase(0, 4);
        }
        int t = -1;
        char kind = 0;
        int i = -1;
        int used = 0;
        if (std::sscanf(line.c_str(), "T%d %c%d%n", &t, &kind, &i, &used) != 3 || t < 0 || t >= kThreads ||
            (line.size() != static_cast<size_t>(used) &&
             (line[static_cast<size_t>(used)] != ' ' ||
              line.find_first_not_of('p', static_cast<size_t>(used) + 1) != std::string::npos))) {
            *bad = line.substr(0, 80);
            return false;
        }
        (*records)[t].push_back(marker + kind + std::to_string(i));
    }
    return true;
}

// Removes the system log's prefixes: what is left reads like the console.
std::string without_prefixes(const std::string& syslog) {
    std::string out;
    const std::string prefix = "[KEP] ";
    size_t pos = 0;
    for (size_t at = syslog.find(prefix); at != std::string::npos; at = syslog.find(prefix, pos)) {
        out.append(syslog, pos, at - pos);
        pos = at + prefix.size();
    }
    out.append(syslog, pos, std::string::npos);
    return out;
}

// Every writer from every thread at once; the round's records in order.
void write_rounds(int t) {
    for (int i = 0; i < kRounds; ++i) {
        kep_start("T%d S%d\n", t, i);
        // Every 25th message fills the message buffer to its last byte.
        std::string padding;
        if (i % 25 == 0) {
            const int head = std::snprintf(nullptr, 0, "T%d L%d", t, i);
            padding = " " + std::string(static_cast<size_t>(kMessageLimit - head - 2), 'p');
        }
        kep_log("T%d L%d%s\n", t, i, padding.c_str());
        kep_log_to("T%d E%d\n", t, i);
        kep_log_itkexe("T%d X%d\n", t, i);
        kep_indent();
        kep_outdent();
        kep_end("T%d S%d\n", t, i);
    }
}

// Runs write_rounds on every thread, all starting together.
void run_threads(std::atomic<int>* logging_on) {
    std::atomic<bool> go{false};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&go, logging_on, t] {
            while (!go.load()) {
                std::this_thread::yield();
            }
            *logging_on += kep_logging_on();
            write_rounds(t);
        });
    }
    go = true;
    for (std::thread& thread : threads) {
        thread.join();
    }
}

class Threads : public kep_test::KepFixture {};
class ThreadsWriting : public Threads, public ::testing::WithParamInterface<bool> {};

// With the statement trace on, and off (its writer then returns without the lock).
TEST_P(ThreadsWriting, ConcurrentWritersKeepEveryMessageWholeAndInOrder) {
    const bool trace = GetParam();
    set_switches("ON", "ON", trace ? "ON" : nullptr);
    standin::reset_counters();
    std::atomic<int> logging_on{0};
    const std::string console = capture_console([&] { run_threads(&logging_on); });

    EXPECT_EQ(kep_support_indent_level(), 0);
    EXPECT_EQ(logging_on.load(), kThreads);
    // The switches were read once each, though every thread needed them first.
    EXPECT_EQ(standin::call_count("TC_getenv"), 3);

    std::map<int, std::vector<std::string>> records;
    std::string bad;
    ASSERT_TRUE(split_records(console, &records, &bad)) << "torn or foreign line: " << bad;
    ASSERT_EQ(records.size(), static_cast<size_t>(kThreads));
    const std::vector<std::string> expected = expected_records(kRounds, trace);
    for (const auto& entry : records) {
        EXPECT_EQ(entry.second, expected) << "thread " << entry.first;
    }
    // Each writing operation reaches both sinks under one hold of the lock: same order in both.
    EXPECT_TRUE(without_prefixes(syslog()) == console) << "the system log and the console differ";
    expect_clean();
}

// With both output switches off nothing is written, and once they are known to be off the
// writers return without the lock: the threads race through that path.
TEST_F(Threads, WritersWithTheOutputSwitchesOffWriteNothing) {
    set_switches(nullptr, "off", nullptr);
    standin::reset_counters();
    std::atomic<int> logging_on{0};
    const std::string console = capture_console([&] { run_threads(&logging_on); });
    EXPECT_EQ(console, "");
    EXPECT_EQ(syslog(), "");
    EXPECT_EQ(logging_on.load(), 0);
    EXPECT_LE(standin::call_count("TC_getenv"), 3);
    expect_clean();
}

// The switches are read at the first need, whichever thread has it: threads that start by asking
// kep_logging_on all see the same answer, and the platform is asked at most once per switch.
TEST_F(Threads, RacingFirstReadsOfTheSwitches) {
    for (const char* debug : {"ON", "off"}) {
        SCOPED_TRACE(debug);
        kep_support_reset_state();
        set_switches(debug, nullptr, nullptr);
        standin::reset_counters();
        std::atomic<bool> go{false};
        std::atomic<int> on{0};
        std::vector<std::thread> threads;
        for (int t = 0; t < kThreads; ++t) {
            threads.emplace_back([&] {
                while (!go.load()) {
                    std::this_thread::yield();
                }
                on += kep_logging_on();
            });
        }
        go = true;
        for (std::thread& thread : threads) {
            thread.join();
        }
        EXPECT_EQ(on.load(), std::string(debug) == "ON" ? kThreads : 0);
        // At most the two output switches were asked for, once each, and they stay known.
        const long reads = standin::call_count("TC_getenv");
        EXPECT_LE(reads, 2);
        EXPECT_EQ(kep_logging_on(), std::string(debug) == "ON" ? 1 : 0);
        EXPECT_EQ(standin::call_count("TC_getenv"), reads);
    }
}

INSTANTIATE_TEST_SUITE_P(Trace, ThreadsWriting, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& p) { return p.param ? "On" : "Off"; });

}  // namespace
