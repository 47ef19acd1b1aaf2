// `kep-host generate`: the synthetic sites that the scale benchmark runs on. The sites are checked
// for what the benchmark relies on: the same options give the same bytes, the line count and the
// shape are what was asked for, the stand-in takes the site, and the extension finds on it what a
// real product would give: a few lines in a small box, none outside the vehicle, and mod-on
// representations that actually take effect.
#include <gtest/gtest.h>
#include <standin/control.h>

#include <algorithm>
#include <functional>
#include <iterator>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "geometry/kep_geometry.h"
#include "host_runner.h"
#include "kep_fixture.h"
#include "registration/kep_registration.h"

namespace host_test {
namespace {

using Strings = std::vector<std::string>;
using nlohmann::json;

std::string generate(const Strings& options) {
    Strings args = {"generate"};
    args.insert(args.end(), options.begin(), options.end());
    const HostRun run = run_host(args);
    EXPECT_EQ(run.exit_code, 0) << run.err;
    EXPECT_EQ(run.err, "");
    return run.out;
}

// One line of the generated tree, as the file has it.
struct LineInfo {
    std::string id, revision, occurrence_name, transform, parent;
    int depth = 0;
    bool packed = false;
    size_t children = 0;
};

// The words of a mod-on dataset's name <host item>.<line item>.<rest>/A.
Strings name_words(const std::string& name) {
    Strings words;
    size_t start = 0;
    for (size_t dot = name.find('.'); dot != std::string::npos; dot = name.find('.', start)) {
        words.push_back(name.substr(start, dot - start));
        start = dot + 1;
    }
    words.push_back(name.substr(start));
    return words;
}

std::vector<LineInfo> lines_of(const json& site) {
    std::vector<LineInfo> lines;
    std::function<void(const json&, const std::string&, int, bool)> walk =
        [&](const json& line, const std::string& parent, int depth, bool packed) {
            LineInfo info;
            info.id = line.at("id");
            info.revision = line.at("revision");
            info.occurrence_name = line.value("occurrence_name", "");
            info.transform = line.value("transform", "");
            info.parent = parent;
            info.depth = depth;
            info.packed = packed;
            info.children = line.value("children", json::array()).size();
            lines.push_back(info);
            for (const json& child : line.value("children", json::array())) {
                walk(child, info.id, depth + 1, false);
            }
            for (const json& p : line.value("packed", json::array())) {
                walk(p, parent, depth, true);
            }
        };
    walk(site.at("windows").at("w1"), "", 0, false);
    return lines;
}

TEST(HostGenerate, SameOptionsGiveTheSameBytes) {
    const std::string a = generate({"--lines", "3000", "--seed", "7"});
    const std::string b = generate({"--lines", "3000", "--seed", "7"});
    const std::string c = generate({"--lines", "3000", "--seed", "8"});
    ASSERT_FALSE(a.empty());
    EXPECT_TRUE(a == b);
    EXPECT_FALSE(a == c);
}

TEST(HostGenerate, LineCountDepthFanOutAndPackedLinesAreAsAsked) {
    struct Case {
        Strings options;
        size_t lines;
        int depth;      // deepest level below the top line
        size_t fanout;  // most children of one line
        size_t packed;  // packed lines
    };
    const Case cases[] = {
        {{"--lines", "1"}, 1, 0, 0, 0},
        // One line in the tree is the top line alone: nothing to pack into.
        {{"--lines", "2", "--packed-share", "0.5"}, 2, 1, 1, 0},
        // Six lines in the tree: a chain (fan-out 1 holds them within the depth).
        {{"--lines", "7"}, 7, 5, 1, 1},
        // 900 lines in the tree: 1 + 3 + 9 + 27 + 81 + 243 = 364 in full levels, 536 on level 6.
        {{"--lines", "1000"}, 1000, 6, 3, 100},
        {{"--lines", "1000", "--depth", "3", "--packed-share", "0"}, 1000, 3, 10, 0},
        {{"--lines", "1000", "--fanout", "4", "--packed-share", "0.5"}, 1000, 5, 4, 500},
        {{"--lines", "5000", "--depth", "4", "--fanout", "12", "--modon-share", "1"}, 5000, 4, 12, 500},
        // Both given: the top line takes 455 children with room for 11 lines each.
        {{"--lines", "5000", "--depth", "2", "--fanout", "10", "--packed-share", "0"}, 5000, 2, 455, 0},
    };
    for (const Case& c : cases) {
        std::string what;
        for (const std::string& o : c.options) {
            what += o + " ";
        }
        SCOPED_TRACE(what);
        const json site = json::parse(generate(c.options));
        const std::vector<LineInfo> lines = lines_of(site);
        EXPECT_EQ(lines.size(), c.lines);
        int depth = 0;
        size_t fanout = 0, packed = 0;
        std::map<std::string, bool> ids;
        for (const LineInfo& l : lines) {
            depth = std::max(depth, l.depth);
            fanout = std::max(fanout, l.children);
            packed += l.packed ? 1 : 0;
            EXPECT_TRUE(ids.emplace(l.id, true).second) << "duplicate line id " << l.id;
        }
        EXPECT_EQ(depth, c.depth);
        EXPECT_EQ(fanout, c.fanout);
        EXPECT_EQ(packed, c.packed);
    }
}

TEST(HostGenerate, ImpossibleShapesAndSharesAreUsageErrors) {
    const Strings cases[] = {
        {"--lines", "0"},
        {"--lines", "100", "--fanout", "0"},
        {"--lines", "100", "--packed-share", "0.9"},
        {"--lines", "100", "--modon-share", "-0.1"},
        {"--depth", "3"},
    };
    for (const Strings& options : cases) {
        Strings args = {"generate"};
        args.insert(args.end(), options.begin(), options.end());
        const HostRun run = run_host(args);
        EXPECT_EQ(run.exit_code, 2) << options[1];
        EXPECT_EQ(run.out, "");
        EXPECT_EQ(run.err_lines(), 1) << run.err;
    }
}

// The generated site loaded into the stand-in with the extension registered, as the benchmark
// runs it.
class GeneratedSite : public kep_test::KepFixture {
protected:
    static void SetUpTestSuite() {
        text_ = generate({"--lines", "3000", "--seed", "3", "--modon-share", "0.5"});
        site_ = json::parse(text_);
    }
    static void TearDownTestSuite() {
        text_.clear();
        site_ = json();
    }
    void SetUp() override {
        KepFixture::SetUp();
        std::string error;
        ASSERT_TRUE(standin::load_site(text_, "generated", &error)) << error;
        ASSERT_EQ(kep_register_callbacks(), 0);
        ASSERT_EQ(standin::run_all_exits(), 0);
        standin::reset_counters();
    }

    Strings volume_search(double delta_mm, const std::vector<double>& box) {
        using standin::UserArg;
        std::vector<UserArg> args(3, UserArg{UserArg::Tag});
        args[0].tag = standin::tag_of("w1");
        args[1].kind = UserArg::Double;
        args[1].value = delta_mm;
        args[2].kind = UserArg::DoubleArray;
        args[2].doubles = box;
        std::vector<tag_t> found;
        bool handed_back = false;
        EXPECT_EQ(standin::call_service("kep_userservice_volume_search", args, &found, &handed_back), 0);
        Strings ids;
        for (tag_t t : found) {
            ids.push_back(standin::id_of(t));
        }
        return ids;
    }

    static std::string text_;
    static json site_;
};
std::string GeneratedSite::text_;
json GeneratedSite::site_;

TEST_F(GeneratedSite, LoadsWithEveryLine) {
    long lines = 0;
    for (const auto& entry : standin::all_ids()) {
        lines += standin::kind_of(entry.second) == "BOMLine" ? 1 : 0;
    }
    EXPECT_EQ(lines, 3000);
}

TEST_F(GeneratedSite, SearchesFindAFewLinesNotAllOrNone) {
    // Well around the vehicle (x -0.8..3.7, y -0.9..0.9, z -0.3..1.2): every line whose revision
    // carries a geometry dataset (a Part3D master, a non-visualisation AuxPart, a PLMXML
    // structure dataset), none other; the file is the oracle.
    const json& objects = site_.at("objects");
    std::map<std::string, bool> boxed_revision;
    for (const json& relation : site_.at("relations")) {
        const json& dataset = objects.at(relation[2].get<std::string>());
        const std::string type = dataset.at("type"), name = dataset.value("name", "");
        const bool master =
            name.find(".LOD1/") == std::string::npos && name.find(".VIS/") == std::string::npos;
        if ((type == "Part3D" || type == "AuxPart" || type == "PLMXML") && master) {
            boxed_revision[relation[0]] = true;
        }
    }
    std::set<std::string> expected;
    for (const LineInfo& l : lines_of(site_)) {
        if (boxed_revision.count(l.revision) != 0) {
            expected.insert(l.id);
        }
    }
    const Strings all = volume_search(0, {-2, -2, -2, 5, 2, 2.5});
    const std::set<std::string> found(all.begin(), all.end());
    Strings missing, extra;
    std::set_difference(expected.begin(), expected.end(), found.begin(), found.end(),
                        std::back_inserter(missing));
    std::set_difference(found.begin(), found.end(), expected.begin(), expected.end(),
                        std::back_inserter(extra));
    EXPECT_EQ(missing, Strings());
    EXPECT_EQ(extra, Strings());
    EXPECT_EQ(all.size(), found.size()) << "a line handed back twice";
    EXPECT_GT(expected.size(), 2000u);
    EXPECT_LT(expected.size(), 3000u);
    EXPECT_EQ(standin::live_blocks(), 0);

    // A cube of 0.4 m in the middle of the vehicle: a few dozen lines.
    const Strings some = volume_search(5, {1.3, -0.2, 0.25, 1.7, 0.2, 0.65});
    EXPECT_GE(some.size(), 10u);
    EXPECT_LE(some.size(), 200u);
    for (const std::string& id : some) {
        EXPECT_NE(std::find(all.begin(), all.end(), id), all.end()) << id;
    }

    // Beyond the vehicle but inside the visualisation datasets' huge box (±10 m): those boxes
    // are not the lines' boxes, so nothing is there.
    EXPECT_EQ(volume_search(5, {6, 6, 6, 7, 7, 7}), Strings());
    EXPECT_EQ(standin::live_blocks(), 0);
    EXPECT_EQ(standin::misuse_count(), 0);
}

// The mod-on datasets are only worth their platform calls if they take effect: the product
// representation places its assembly's children (2 mm above the structure's placement), the
// part representation gives its line the larger as-built box.
TEST_F(GeneratedSite, ModOnRepresentationsTakeEffect) {
    const json& objects = site_.at("objects");
    const std::vector<LineInfo> lines = lines_of(site_);
    ASSERT_TRUE(objects.contains("ms0")) << "no ModOnProduct dataset";
    ASSERT_TRUE(objects.contains("mp0")) << "no ModOnPart dataset";

    // ms0 is named <host item>.<assembly item>.S/A (items A<n> of revisions ra<n>); its form
    // lists the assembly's children.
    const std::string assembly = "ra" + name_words(objects.at("ms0").at("name"))[1].substr(1);
    const json& form = objects.at("mf0").at("attributes");
    const Strings names = form.at("var2_child_instname");
    const Strings matrices = form.at("var2_child_matrix");
    ASSERT_FALSE(names.empty());
    std::map<std::string, std::string> line_of_revision;
    for (const LineInfo& l : lines) {
        line_of_revision[l.id] = l.revision;
    }
    int checked = 0;
    for (const LineInfo& l : lines) {
        if (l.packed || l.parent.empty() || line_of_revision[l.parent] != assembly) {
            continue;
        }
        const auto at = std::find(names.begin(), names.end(), l.occurrence_name);
        ASSERT_NE(at, names.end()) << l.id;
        const std::string& placed = matrices[static_cast<size_t>(at - names.begin())];
        EXPECT_NE(placed, l.transform);
        char* value = nullptr;
        ASSERT_EQ(standin::ask_string(standin::tag_of(l.id), "bl_plmxml_occ_xform", &value), 0);
        ASSERT_NE(value, nullptr);
        kep_matrix_t read, expected;
        kep_matrix_from_string(value, &read);
        kep_matrix_from_string(placed.c_str(), &expected);
        for (int k = 0; k < 16; ++k) {
            EXPECT_NEAR(read.m[k], expected.m[k], 1e-12) << l.id << " value " << k;
        }
        MEM_free(value);
        ++checked;
    }
    EXPECT_EQ(checked, static_cast<int>(names.size()));

    // mp0's form names the occurrence path from its line up to the host's child; the line with
    // that path takes the box of mb0.
    const Strings path = objects.at("mi0").at("attributes").at("var2_way_to_root");
    const json& as_built = objects.at("mb0").at("attributes");
    std::map<std::string, const LineInfo*> by_id;
    for (const LineInfo& l : lines) {
        by_id[l.id] = &l;
    }
    const Strings words = name_words(objects.at("mp0").at("name"));
    const std::string host = "ra" + words[0].substr(1), part_revision = "rp" + words[1].substr(1);
    int with_path = 0;
    for (const LineInfo& l : lines) {
        if (l.revision != part_revision) {
            continue;
        }
        Strings own_path;
        const LineInfo* above = &l;
        for (; above != nullptr && own_path.size() < path.size();
             above = above->parent.empty() ? nullptr : by_id[above->parent]) {
            own_path.push_back(above->occurrence_name);
        }
        if (own_path != path || above == nullptr || above->revision != host) {
            continue;
        }
        kep_bbox_t* box = nullptr;
        ASSERT_EQ(kep_get_bbox_for_bomline(standin::tag_of(l.id), &box), 0);
        ASSERT_NE(box, nullptr) << l.id;
        EXPECT_EQ(box->x1, as_built.at("var2_bb_x1").get<double>()) << l.id;
        EXPECT_EQ(box->z2, as_built.at("var2_bb_z2").get<double>()) << l.id;
        MEM_free(box);
        ++with_path;
    }
    // The named line, and its packed lines if it has any (they share its occurrence path).
    EXPECT_GE(with_path, 1);
    EXPECT_EQ(standin::live_blocks(), 0);
}

}  // namespace
}  // namespace host_test
