// kep-host's refusals: every usage error, bad site and unloadable library ends with exit status 2,
// one line on standard error that says what and where, and nothing on standard output.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>

#include "host_runner.h"

namespace host_test {
namespace {

struct RefusalCase {
    const char* what;
    std::vector<std::string> args;
    std::vector<std::string> mentions;  // texts the one error line must hold
};

std::vector<RefusalCase> refusal_cases() {
    const std::string basic = site_file("basic.json");
    const std::string unknown = site_file("unknown_id.json");
    return {
        // Sites
        {"site with an unknown id",
         {"--site", unknown, "tags"},
         {"unknown_id.json", "VAR2BBInfo", "no_such_form"}},
        {"missing site file", {"--site", "/nonexistent/site.json", "tags"}, {"/nonexistent/site.json"}},
        {"site that is not JSON", {"--site", bin_file("libhost_probe.so"), "tags"}, {"libhost_probe.so"}},
        // --fail
        {"fail without operation", {"--fail", "@2=5", "tags"}, {"--fail", "@2=5"}},
        {"fail of call 0",
         {"--fail", "PREF_ask_value_count@0", "tags"},
         {"--fail", "PREF_ask_value_count@0"}},
        {"fail of a negative call",
         {"--fail", "PREF_ask_value_count@-1", "tags"},
         {"PREF_ask_value_count@-1"}},
        {"fail with a text call number", {"--fail", "PREF_ask_value_count@x", "tags"}, {"@x"}},
        {"fail with a huge call number",
         {"--fail", "PREF_ask_value_count@99999999999", "tags"},
         {"99999999999"}},
        {"fail with an empty code", {"--fail", "PREF_ask_value_count=", "tags"}, {"PREF_ask_value_count="}},
        {"fail with code 0", {"--fail", "PREF_ask_value_count@1=0", "tags"}, {"PREF_ask_value_count@1=0"}},
        {"fail with a text code", {"--fail", "PREF_ask_value_count=abc", "tags"}, {"abc"}},
        {"fail of an unknown operation", {"--fail", "PREF_ask_valu_count", "tags"}, {"PREF_ask_valu_count"}},
        {"fail of an operation without status", {"--fail", "MEM_alloc@1", "tags"}, {"MEM_alloc"}},
        // Libraries
        {"missing library", {"--extension", "/nonexistent/libkep.so", "tags"}, {"/nonexistent/libkep.so"}},
        {"file that is not a library", {"--extension", basic, "tags"}, {"basic.json"}},
        {"library without its entry point",
         {"--extension", bin_file("libhost_noentry.so"), "tags"},
         {"libhost_noentry.so", "host_noentry_register_callbacks"}},
        // Command line
        {"no command", {}, {"usage"}},
        {"unknown command", {"frobnicate"}, {"frobnicate"}},
        {"unknown id to ask", {"--site", basic, "ask", "nope", "object_name"}, {"nope", "basic.json"}},
        {"ask without property", {"--site", basic, "ask", "ds_v0"}, {"PROPERTY"}},
        {"box of five values",
         {"--site", basic, "volume-search", "--window", "w1", "--delta", "1", "--box", "0", "0", "0", "1",
          "1"},
         {"--box"}},
        {"delta that is no number",
         {"--site", basic, "volume-search", "--window", "w1", "--delta", "nan", "--box", "0", "0", "0", "1",
          "1", "1"},
         {"--delta"}},
        {"unknown window",
         {"--site", basic, "volume-search", "--window", "w9", "--delta", "1", "--box", "0", "0", "0", "1",
          "1", "1"},
         {"w9", "basic.json"}},
        {"unknown selected line",
         {"--site", basic, "neighbourhood-search", "--window", "w1", "--delta", "1", "--lines", "l1", "l9"},
         {"l9"}},
        {"neighbourhood without lines",
         {"--site", basic, "neighbourhood-search", "--window", "w1", "--delta", "1"},
         {"--lines"}},
        {"system log that cannot be written",
         {"--syslog", "/nonexistent/dir/syslog.txt", "tags"},
         {"/nonexistent/dir"}},
        {"generate without a line count", {"generate"}, {"--lines"}},
    };
}

TEST(HostRefusals, ExitTwoWithOneLineNamingWhatAndWhere) {
    for (const RefusalCase& c : refusal_cases()) {
        SCOPED_TRACE(c.what);
        HostRun run = run_host(c.args);
        EXPECT_EQ(run.exit_code, 2);
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(run.err_lines(), 1) << run.err;
        ASSERT_FALSE(run.err.empty());
        EXPECT_EQ(run.err.back(), '\n');
        for (const std::string& text : c.mentions) {
            EXPECT_NE(run.err.find(text), std::string::npos) << "'" << text << "' missing from: " << run.err;
        }
    }
}

TEST(HostRefusals, SystemLogNamingTheSiteFileLeavesTheSiteIntact) {
    const std::string site = "/tmp/kep_host_test_site_" +
                             std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + ".json";
    const std::string text = read_text(site_file("basic.json"));
    {
        std::ofstream out(site, std::ios::binary);
        out << text;
    }
    HostRun run = run_host({"--site", site, "--syslog", site, "tags"});
    EXPECT_EQ(run.exit_code, 2);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err_lines(), 1) << run.err;
    EXPECT_EQ(read_text(site), text);
    std::remove(site.c_str());
}

TEST(HostRefusals, HelpIsNoError) {
    HostRun run = run_host({"--help"});
    EXPECT_EQ(run.exit_code, 0);
    for (const char* command : {"demo", "volume-search", "neighbourhood-search", "ask", "tags", "generate"}) {
        EXPECT_NE(run.out.find(command), std::string::npos) << command;
    }
}

}  // namespace
}  // namespace host_test
