// `kep-host explain` and `kep_check -explain` as a user runs them: what they print, their exit
// statuses and their messages for bad requests.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>

#include "host_runner.h"

namespace host_test {
namespace {

using json = nlohmann::json;

const char kSample[] = "itk/host/kep_host/sample_site.json";

TEST(HostExplain, ExplainsALineOrSaysWhatIsWrong) {
    const std::string svg = testing::TempDir() + "explain_" + std::to_string(getpid()) + ".svg";
    const std::string site = testing::TempDir() + "explain_tags_" + std::to_string(getpid()) + ".json";
    {
        json j = json::parse(read_text(source_path(kSample)));
        j["windows"]["w1"]["children"][0]["children"][3]["occurrence_name"] = "fixing tag 1";
        j["windows"]["w2"] = {{"id", "other"}, {"revision", "bolt/A"}};
        std::ofstream(site) << j.dump();
    }
    const struct {
        std::vector<std::string> args;
        int exit_code;
        std::string mention;  // on standard output, or on standard error for exit status 2
    } cases[] = {
        {{"explain", "fan_l"}, 0, "Its placement, from the top line down"},
        {{"explain", "fan_l", "--box", "0.2", "-0.4", "0.4", "0.3", "-0.1", "0.6", "--delta", "5"},
         0,
         "FOUND"},
        {{"explain", "fan_l", "--near", "fan_r", "--delta", "1", "--json"}, 0, "\"found\":false"},
        {{"explain", "fan_l", "--box", "0", "0", "0", "1", "1", "1", "--delta", "5", "--svg", svg},
         0,
         "Query"},
        {{"explain", "nope"}, 2, "explain: no id 'nope'"},
        {{"explain", "ds_fan"}, 2, "is no BOM line"},
        {{"explain", "fan_l", "--delta", "5"}, 2, "--delta needs --box or --near"},
        {{"explain", "fan_l", "--box", "0", "0", "0", "1", "1", "1"}, 2, "--delta MM is needed"},
        {{"explain", "fan_l", "--box", "1", "0", "0", "0", "1", "1", "--delta", "5"},
         0,
         "explain: --box is inverted along x"},
        // A gap beyond the range of a double is null in the JSON, with a text; the picture is drawn.
        {{"explain", "fan_l", "--box", "1e306", "0", "0", "1.1e306", "1", "1", "--delta", "1", "--json",
          "--svg", svg},
         0,
         "\"gap_mm\":null,\"text\":\"not found: face 0 of A (axis 1 of 15) separates them by a gap of more "
         "than"},
        // A call of the search fails: no verdict and no configuration reason, the status it failed with.
        {{"--fail", "PREF_ask_char_value", "explain", "fan_l", "--box", "0", "0", "0", "1", "1", "1",
          "--delta", "5", "--json"},
         1,
         "\"found\":null,\"why\":\"no verdict: the search's call PREF_ask_char_value failed with status "
         "900001\""},
        // The window's top line, asked as the searches ask it.
        {{"--fail", "BOM_ask_window_top_line", "explain", "fan_l", "--json"},
         1,
         "\"failed\":\"BOM_ask_window_top_line\""},
        // A failed exit: the JSON's status is the exit status's cause.
        {{"--fail", "METHOD_find_prop_method", "explain", "fan_l", "--json"}, 1, "{\"status\":900001,"},
        // Without the extension's bl_plmxml_occ_xform method (nor the searches) the walk places by
        // the platform's value, while bl_plmxml_abs_xform still applies the representation.
        {{"--fail", "METHOD_find_prop_method@3", "explain", "fan_l"},
         1,
         "FAN-3200 (FAN_L): the platform's own value: the extension's bl_plmxml_occ_xform method is not "
         "registered"},
        // A site with an occurrence name that reads like a tag, and a second window.
        {{"--site", site, "explain", "horn_r"}, 0, "HORN-1400 (fixing tag 1)"},
        {{"--site", site, "explain", "fan_l", "--near", "other", "--delta", "1"},
         2,
         "--near 'other' is a line of another window than 'fan_l'"},
        // Under a fault that strikes once, the text and the picture tell the same explanation.
        {{"--fail", "AE_ask_all_dataset_named_refs@1", "explain", "fan_l", "--svg", svg},
         1,
         "no box: the search's call AE_ask_all_dataset_named_refs failed with status 900001"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.mention);
        HostRun run = run_host(c.args);
        EXPECT_EQ(run.exit_code, c.exit_code) << run.out << run.err;
        EXPECT_NE((run.out + run.err).find(c.mention), std::string::npos) << run.out << run.err;
    }
    const std::string picture = read_text(svg);
    EXPECT_NE(picture.find("<svg"), std::string::npos);
    EXPECT_NE(picture.find("no box"), std::string::npos);
    EXPECT_EQ(picture.find("lines with a box found"), std::string::npos);  // no query, no count
    std::remove(svg.c_str());
    std::remove(site.c_str());
}

// The batch utility opens its own window on the revision, explains the line and closes it.
TEST(HostExplain, BatchUtilityExplainsALineOfAStructure) {
    json site = json::parse(read_text(source_path(kSample)));
    site["preferences"]["STANDIN_revision_rules"] = json::array({"Released first"});
    const std::string path = testing::TempDir() + "explain_site_" + std::to_string(getpid()) + ".json";
    std::ofstream(path) << site.dump();
    const std::string base = "-site=" + path;
    const std::string bolt3 = run_host({"--site", path, "tags"}).json()["bolt3"].dump();  // a packed line
    const struct {
        std::vector<std::string> args;
        int exit_code;
        std::string mention;
    } cases[] = {
        {{base, "-explain", "-item=FEM-1000", "-rev=A", "-path=CM-2000/FAN-3000/FAN-3200"},
         0,
         "FAN-3200 (FAN_L)"},
        {{base, "-explain", "-item=FEM-1000", "-rev=A", "-rule=Released first", "-path=FEM-1000/CM-2000",
          "-box=-1,-1,-1,1,1,1", "-delta=0", "-json"},
         0,
         "\"found\": true"},
        {{base, "-explain", "-item=FEM-1000", "-rev=A", "-path=CM-2000/FAN-3000/FAN-3200",
          "-near=CM-2000/FAN-3000", "-delta=10"},
         0,
         "not tested: that line has no box"},
        {{base, "-explain", "-item=FEM-1000", "-rev=A", "-path=FEC-1100/HORN-1400#2",
          "-box=1e306,0,0,1.1e306,1,1", "-delta=1", "-json"},
         0,
         "\"gap_mm\": null"},
        {{base, "-explain", "-item=FEM-1000", "-rev=Z"}, 1, "no revision Z of item FEM-1000"},
        {{base, "-explain", "-item=FEM-1000", "-rev=A", "-rule=Nightly"},
         1,
         "no revision rule named 'Nightly'"},
        {{base, "-explain", "-item=FEM-1000", "-rev=A", "-path=CM-2000/NOPE"},
         1,
         "no line of item NOPE below FEM-1000/CM-2000"},
        // A second occurrence under one parent, a packed line, and steps that name no one line.
        {{base, "-explain", "-item=FEM-1000", "-rev=A", "-path=FEC-1100/HORN-1400#2"},
         0,
         "HORN-1400 (HORN_R)"},
        {{base, "-explain", "-item=FEM-1000", "-rev=A", "-path=FEC-1100/M8X30#3", "-json"},
         0,
         "{\"line\": " + bolt3},
        {{base, "-explain", "-item=FEM-1000", "-rev=A", "-path=FEC-1100/HORN-1400"},
         0,
         "note: 2 lines of item HORN-1400 below FEM-1000/FEC-1100 (packed lines included); the first is "
         "taken: give HORN-1400#1 to HORN-1400#2 to choose"},
        {{base, "-explain", "-item=FEM-1000", "-rev=A", "-path=FEC-1100/M8X30#5"},
         1,
         "no line M8X30#5 below FEM-1000/FEC-1100: 4 lines have item M8X30"},
        {{base, "-explain", "-item=FEM-1000", "-rev=A", "-path=FEC-1100/M8X30#0"}, 1, "neither ID nor ID#N"},
        {{base, "-explain", "-item=FEM-1000", "-rev=A", "-pth=FEC-1100"},
         2,
         "unknown option '-pth=FEC-1100'"},
        {{base, "-explain", "-item=FEM-1000", "-rev=A", "-jsonx"}, 2, "unknown option '-jsonx'"},
        {{base, "-explain", "-item=FEM-1000"}, 2, "-explain needs -item=ID and -rev=REV"},
        {{base, "-explain", "-item=FEM-1000", "-rev=A", "-box=1,2,3", "-delta=1"}, 2, "-box= needs six"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.mention);
        HostRun run = run_program("kep_check", c.args);
        EXPECT_EQ(run.exit_code, c.exit_code) << run.out << run.err;
        EXPECT_NE((run.out + run.err).find(c.mention), std::string::npos) << run.out << run.err;
    }
    std::remove(path.c_str());
}

}  // namespace
}  // namespace host_test
