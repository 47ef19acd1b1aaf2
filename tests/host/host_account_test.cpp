// kep-host's reading of the extension's account of a window: the text the extension writes (all
// ASCII, no escape) is read in place, and a text that only the JSON library reads is read again by
// it, whole, after lines were already handed over from the text read in place.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "scene_account.h"

namespace host_test {
namespace {

// One handed line as "tag source first-test first-box-value".
std::string line_text(const kep_host::LineAccount& a) {
    std::string s = std::to_string(a.line.value) + " " + (a.source.set ? a.source.value : "-");
    s += " " + (a.tests.empty() ? std::string("-") : a.tests[0]);
    s += " " + (a.box.empty() ? std::string("-") : std::to_string(a.box[0]));
    return s;
}

TEST(HostAccount, ReadsInPlaceAndLeavesTheRareTextsToTheLibrary) {
    const std::string deep = std::string(250, '[') + std::string(250, ']');
    struct Case {
        const char* name;
        std::string text;
        bool whole;
        std::vector<std::string> lines;
    } cases[] = {
        {"ASCII without escapes, in place",
         R"({"top": 1, "lines": [{"line": 5, "source": "stored", "tests": ["a gap of 1.5 mm"], "box": [2, 1]},)"
         R"( {"line": 6, "source": "kept"}]})",
         true,
         {"5 stored a gap of 1.5 mm 2.000000", "6 kept - -"}},
        {"escaped strings",
         R"({"lines": [{"line": 5, "source": "st\"ored", "tests": ["\u0041"]}]})",
         true,
         {"5 st\"ored A -"}},
        {"not ASCII", "{\"lines\": [{\"line\": 5, \"source\": \"b\xC3\xA9\"}]}", true, {"5 b\xC3\xA9 - -"}},
        {"a number only the library reads, after a line read in place",
         R"({"lines": [{"line": 5, "source": "stored", "tests": ["t"]}, {"line": 6, "source": "kept", "box": [0e400, 3]}]})",
         true,
         {"5 stored t -", "6 kept - 0.000000"}},
        {"nested deeper than the reader goes",
         R"({"lines": [{"line": 7, "source": "stored", "x": )" + deep + "}]}",
         true,
         {"7 stored - -"}},
        {"cut short", R"({"lines": [{"line": 5, "source": "stored"}, {"line": 6)", false, {"5 stored - -"}},
        {"refused by the library after a number it reads",
         R"({"lines": [{"line": 5, "box": [0e400]}], })",
         false,
         {"5 - - 0.000000"}},
    };
    for (const Case& c : cases) {
        std::vector<char> text(c.text.begin(), c.text.end());
        text.push_back('\0');
        std::vector<std::string> lines;
        const bool whole = kep_host::read_account(
            text.data(), [&](kep_host::LineAccount& a) { lines.push_back(line_text(a)); });
        EXPECT_EQ(whole, c.whole) << c.name;
        EXPECT_EQ(lines, c.lines) << c.name;
    }
}

}  // namespace
}  // namespace host_test
