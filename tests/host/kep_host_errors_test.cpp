// kep-host's refusals: every usage error, bad site and unloadable library ends with exit status 2,
// one line on standard error that says what and where, and nothing on standard output.
#include <gtest/gtest.h>
#include <standin/library.h>

#include <cstdio>
#include <fstream>

#include "host_runner.h"
#include "kep_posix.h"
#include "kep_temp_dir.h"

namespace host_test {
namespace {

using json = nlohmann::json;

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
        {"site that is not JSON",
         {"--site", host_library("host_probe"), "tags"},
         {standin::library_file_name("host_probe")}},
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
        {"fail of an operation that cannot fail", {"--fail", "MEM_free@1", "tags"}, {"MEM_free"}},
        // Libraries
        {"missing library", {"--extension", "/nonexistent/libkep.so", "tags"}, {"/nonexistent/libkep.so"}},
        {"file that is not a library", {"--extension", basic, "tags"}, {"basic.json"}},
        {"library without its entry point",
         {"--extension", host_library("host_noentry"), "tags"},
         {standin::library_file_name("host_noentry"), "host_noentry_register_callbacks"}},
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

// Mistakes a new user makes: each ends with exit status 2 (bad usage, nothing on standard output)
// or 1 (the platform or the extension answered with a failure; the result is still printed), and
// one line on standard error that names the id or file and says what was wrong.
TEST(HostRefusals, EachMistakeNamesItsIdOrFile) {
    const std::string basic = site_file("basic.json");
    json site = json::parse(read_text(basic));
    site.erase("properties");
    const std::string no_is_v0 = kep_test::temp_path("no_is_v0.json");
    std::ofstream(no_is_v0, std::ios::binary) << site.dump();
    site = json::parse(read_text(basic));
    site["preferences"]["TC_customization_libraries"] = {"kep "};
    const std::string unnamed = kep_test::temp_path("unnamed.json");
    std::ofstream(unnamed, std::ios::binary) << site.dump();
    const std::string syslog = kep_test::temp_path("syslog.txt");
    const std::vector<std::string> search = {"--delta", "1", "--box", "0", "0", "0", "1", "1", "1"};
    auto volume = [&](const std::string& window) {
        std::vector<std::string> args = {"--site", basic, "volume-search", "--window", window};
        args.insert(args.end(), search.begin(), search.end());
        return args;
    };
    auto box = [&](const std::string& delta, std::vector<std::string> values) {
        std::vector<std::string> args = {"--site", basic,     "volume-search", "--window",
                                         "w1",     "--delta", delta,           "--box"};
        args.insert(args.end(), values.begin(), values.end());
        return args;
    };
    const struct {
        const char* what;
        std::vector<std::string> args;
        int exit_code;
        std::vector<std::string> mentions;
    } cases[] = {
        {"a property the object does not have",
         {"--site", basic, "ask", "ds_v0", "no_such_prop"},
         1,
         {"ds_v0", "no_such_prop", "has no property"}},
        {"a window that is a line", volume("l1"), 2, {"'l1'", "BOM line", "w1"}},
        {"a window that is a dataset", volume("ds_v0"), 2, {"'ds_v0'", "dataset", "w1"}},
        {"selected lines that are no lines",
         {"--site", basic, "neighbourhood-search", "--window", "w1", "--delta", "1", "--lines", "l1",
          "ds_v1"},
         2,
         {"'ds_v1'", "not a line of window 'w1'"}},
        {"exits that fail on the site",
         {"--site", no_is_v0, "tags"},
         1,
         {"USER_register_properties", "900004", "var2_is_v0", "likely cause"}},
        {"a site that is a folder",
         {"--site", source_path("examples/sites"), "tags"},
         2,
         {"examples/sites", "folder"}},
        {"a system log in a folder that does not exist",
         {"--syslog", "/nonexistent/dir/syslog.txt", "tags"},
         2,
         {"/nonexistent/dir", "No such file or directory"}},
        {"a system log that is a folder",
         {"--syslog", kep_test::temp_dir(), "tags"},
         2,
         {"'" + kep_test::temp_dir() + "'", "Is a directory"}},
        // A hint, not a failure.
        {"a system log while ZODORE_SYSLOG is off",
         {"--syslog", syslog, "tags"},
         0,
         {"ZODORE_SYSLOG", syslog}},
        // Numbers name the option, the value and what the option takes.
        {"a distance with its unit",
         box("5mm", {"0", "0", "0", "1", "1", "1"}),
         2,
         {"--delta", "'5mm'", "a number of millimetres"}},
        {"a box value with a decimal comma",
         box("5", {"0,5", "0", "0", "1", "1", "1"}),
         2,
         {"--box", "'0,5'", "decimal point", "six numbers in metres"}},
        {"a box value out of range",
         box("5", {"-1e400", "0", "0", "1", "1", "1"}),
         2,
         {"--box", "'-1e400'", "not a finite number"}},
        {"a misspelt option", {"--sit", basic, "tags"}, 2, {"'--sit'", "did you mean '--site'"}},
        {"a misspelt option of a command",
         box("1", {"0", "0", "0", "1", "1", "1", "--sgv", "x.svg"}),
         2,
         {"'--sgv'", "'--svg'"}},
        // Warnings: the result stays as it is.
        {"a box inverted along y", box("0", {"0", "1", "0", "1", "0", "1"}), 0, {"inverted along y", "y1 1"}},
        {"a box given in millimetres",
         box("0", {"0", "0", "-400", "1", "1", "1200"}),
         0,
         {"spans 1600 m along z", "metres"}},
        {"a selected line without a box",
         {"--site", basic, "neighbourhood-search", "--window", "w1", "--delta", "1", "--lines", "l2"},
         0,
         {"'l2'", "has no box", "selects nothing"}},
        {"a site that does not name kep",
         {"--site", unnamed, "tags"},
         0,
         {unnamed, "TC_customization_libraries does not name kep", "would not load"}},
        {"a line count that is no number",
         {"generate", "--lines", "abc"},
         2,
         {"--lines", "'abc'", "whole number"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        HostRun run = run_host(c.args);
        EXPECT_EQ(run.exit_code, c.exit_code) << run.err;
        EXPECT_EQ(run.err_lines(), 1) << run.err;
        EXPECT_EQ(run.out.empty(), c.exit_code == 2) << run.out;
        for (const std::string& text : c.mentions) {
            EXPECT_NE(run.err.find(text), std::string::npos) << "'" << text << "' missing from: " << run.err;
        }
    }
    std::remove(no_is_v0.c_str());
    std::remove(unnamed.c_str());
    std::remove(syslog.c_str());
}

TEST(HostRefusals, SystemLogNamingTheSiteFileLeavesTheSiteIntact) {
    const std::string site = kep_test::temp_path("site.json");
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
    for (const char* command : {"demo", "volume-search", "neighbourhood-search", "ask", "tags", "generate",
                                "check", "metres", "millimetres"}) {
        EXPECT_NE(run.out.find(command), std::string::npos) << command;
    }
}

}  // namespace
}  // namespace host_test
