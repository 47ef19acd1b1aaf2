// Shared fixture of the stand-in's tests: a fresh stand-in with a small site per test.
#ifndef STANDIN_FIXTURE_H
#define STANDIN_FIXTURE_H

#include <gtest/gtest.h>
#include <standin/control.h>

#include <string>

namespace standin_test {

// Tags in this site's order: objects 1-11, w1 12, top 13, a 14, a1 15, b 16, b2 17, b3 18,
// w_empty 19, then the types and relation types.
inline const char* const kSite = R"({
  "platform": { "version": 80000200, "search_scope": 3, "env": { "STANDIN_SITE_VAR": "from site", "HOME": null } },
  "types": { "Part3D": "Dataset", "JtPart": "Part3D", "BBForm": "Form" },
  "properties": { "Dataset": ["var2_is_v0"] },
  "preferences": { "One": "first", "Two": ["x", "y"], "Empty": [] },
  "objects": {
    "asm/A": { "type": "ItemRevision", "item_id": "ASM", "name": "Assembly" },
    "part/A": { "type": "ItemRevision", "item_id": "PART" },
    "ds1": { "type": "Part3D", "name": "PART/A", "refs": { "VAR2BBInfo": ["bb1"], "Two": ["bb1", "bb2"] } },
    "ds2": { "type": "Part3D", "name": "PART/B", "version0": "ds1" },
    "jt1": { "type": "JtPart", "name": "jt" },
    "bb1": { "type": "BBForm", "attributes": { "var2_bb_x1": 0.5, "label": "box", "flag": true,
                                               "list": ["a", null, "c"], "nothing": null } },
    "bb2": { "type": "BBForm", "attributes": { "var2_bb_x1": -1 } },
    "f1": { "type": "Form" },
    "d0": { "type": "Dataset" },
    "r1": { "type": "ItemRevision" },
    "r2": { "type": "ItemRevision" }
  },
  "relations": [ ["part/A", "IMAN_specification", "ds1"], ["part/A", "IMAN_Rendering", "jt1"],
                 ["asm/A", "IMAN_specification", "ds2"], ["part/A", "IMAN_specification", "ds2"] ],
  "relation_types": ["IMAN_reference", "IMAN_specification"],
  "windows": {
    "w1": { "id": "top", "revision": "asm/A", "transform": "1 0 0 0 0 1 0 0 0 0 1 0 1 2 3 1", "children": [
      { "id": "a", "revision": "part/A", "occurrence_name": "A", "transform": "0 1 0 0 -1 0 0 0 0 0 1 0 10 0 0 1",
        "jt": "jt1", "children": [ { "id": "a1", "revision": "part/A", "occurrence_name": "A1",
                                    "transform": "1 0 0 0 0 1 0 0 0 0 1 0 0 5 0 1" } ] },
      { "id": "b", "revision": "part/A", "occurrence_name": "B", "transform": null,
        "packed": [ { "id": "b2", "revision": "part/A", "occurrence_name": "B", "transform": "not a matrix" },
                    { "id": "b3", "revision": "part/A" } ] } ] },
    "w_empty": null
  }
})";

// The test site with one piece of text replaced (which must occur in it).
inline std::string site_with(const std::string& from, const std::string& to) {
    std::string site = kSite;
    const size_t at = site.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    return at == std::string::npos ? site : site.replace(at, from.size(), to);
}

class StandinTest : public ::testing::Test {
protected:
    void SetUp() override { load(kSite); }
    void TearDown() override { standin::reset(); }

    static void load(const std::string& json) {
        std::string error;
        ASSERT_TRUE(standin::load_site(json, "test.json", &error)) << error;
    }
    static tag_t t(const std::string& id) {
        const tag_t tag = standin::tag_of(id);
        EXPECT_NE(tag, 0u) << "no id " << id;
        return tag;
    }
    // Code and text of the newest error, "" when the stack is empty.
    static std::string last_error() {
        const auto errors = standin::errors();
        return errors.empty() ? "" : std::to_string(errors.back().code) + " " + errors.back().text;
    }
};

}  // namespace standin_test

#endif
