// The 3D pages of --html, run through kep-host: every command that draws writes one, refusing an
// unwritable file before anything runs; the page is the one bundled at build time, with the scene
// of the search between its two halves; site texts cannot end the scene's script element.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <random>
#include <set>

#include "host_runner.h"
#include "kep_temp_dir.h"

namespace host_test {
namespace {

const char kSceneOpen[] = "<script type=\"application/json\" id=\"kep-scene\">";

std::string temp_file(const std::string& what) { return kep_test::temp_path(what + ".html"); }

// The scene of a page, parsed; null when the page holds none.
nlohmann::json scene_of(const std::string& page) {
    const size_t open = page.find(kSceneOpen);
    if (open == std::string::npos) {
        return nullptr;
    }
    const size_t begin = open + sizeof kSceneOpen - 1;
    const size_t end = page.find("</script>", begin);
    return nlohmann::json::parse(page.substr(begin, end - begin), nullptr, false);
}

// The lines of a scene, one object each, read from its columns: id, name, found, reasons (texts),
// and search_box ({centre, axes, half_extents}) or null.
std::vector<nlohmann::json> lines_of(const nlohmann::json& scene) {
    std::vector<nlohmann::json> lines;
    size_t box = 0;
    for (size_t i = 0; i < scene["id"].size(); ++i) {
        nlohmann::json line = {{"id", scene["id"][i]},
                               {"name", scene["texts"][scene["name"][i].get<size_t>()]},
                               {"found", scene["found"][i] == 1},
                               {"reasons", nlohmann::json::array()},
                               {"search_box", nullptr}};
        for (const nlohmann::json& r : scene["reason_lists"][scene["reasons"][i].get<size_t>()]) {
            line["reasons"].push_back(scene["texts"][r.get<size_t>()]);
        }
        if (line["reasons"].empty()) {
            const nlohmann::json& nine = scene["axes_table"][scene["axes"][box].get<size_t>()];
            nlohmann::json& b = line["search_box"];
            for (size_t k = 0; k < 3; ++k) {
                b["centre"].push_back(scene["centre"][3 * box + k]);
                b["half_extents"].push_back(scene["half_extents"][3 * box + k]);
                b["axes"].push_back({nine[3 * k], nine[3 * k + 1], nine[3 * k + 2]});
            }
            ++box;
        }
        lines.push_back(line);
    }
    EXPECT_EQ(3 * box, scene["centre"].size());
    return lines;
}

TEST(HostPage, EveryDrawingCommandWritesThePageWithTheScene) {
    // The page as bundled at build time; kep-host puts the scene where the marker stands.
    const std::string bundled = read_text(std::string(KEP_BINARY_DIR) + "/itk/host/kep_host/page/page.html");
    ASSERT_NE(bundled.find("<!--KEP-SCENE-->"), std::string::npos);
    const std::string before = bundled.substr(0, bundled.find("<!--KEP-SCENE-->"));
    const std::string after = bundled.substr(bundled.find("<!--KEP-SCENE-->") + 16);
    struct Case {
        std::vector<std::string> args;
        const char* kind;
        std::vector<std::string> found;  // the lines that must show as found
    };
    const std::vector<Case> cases = {
        {{"demo"}, "box", {"horn_l"}},
        {{"volume-search", "--window", "w1", "--delta", "5", "--box", "0.2", "-0.4", "0.4", "0.3", "-0.1",
          "0.6"},
         "box",
         {"fan_l"}},
        {{"neighbourhood-search", "--window", "w1", "--delta", "10", "--lines", "fan_l", "hose_upper"},
         "near",
         {}},
        {{"explain", "fan_l"}, "none", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args[0]);
        const std::string page = temp_file(c.args[0]);
        std::remove(page.c_str());
        std::vector<std::string> args = c.args;
        args.insert(args.end(), {"--html", page});
        if (c.args[0] == "demo") {
            args.insert(args.end(), {"--svg", temp_file("demo_svg")});
        }
        const HostRun run = run_host(args);
        ASSERT_EQ(run.exit_code, 0) << run.err;
        const std::string text = read_text(page);
        ASSERT_EQ(text.compare(0, before.size(), before), 0);
        ASSERT_GE(text.size(), after.size());
        EXPECT_EQ(text.substr(text.size() - after.size()), after);
        const nlohmann::json scene = scene_of(text);
        ASSERT_TRUE(scene.is_object());
        EXPECT_EQ(scene["query"]["kind"], c.kind);
        const std::vector<nlohmann::json> lines = lines_of(scene);
        EXPECT_EQ(lines.size(), 40u);
        EXPECT_EQ(scene["count"], 40);
        // The lines found are those the search hands back.
        if (run.json().is_object()) {
            std::vector<std::string> shown;
            for (const nlohmann::json& line : lines) {
                if (line["found"] == true) {
                    shown.push_back(line["id"]);
                }
            }
            std::vector<std::string> returned = run.json()["lines"].get<std::vector<std::string>>();
            std::sort(shown.begin(), shown.end());
            std::sort(returned.begin(), returned.end());
            EXPECT_EQ(shown, returned);
        }
        for (const std::string& id : c.found) {
            bool found = false;
            for (const nlohmann::json& line : lines) {
                found = found || (line["id"] == id && line["found"] == true);
            }
            EXPECT_TRUE(found) << id;
        }
        std::remove(page.c_str());
    }
}

TEST(HostPage, SiteTextsCannotEndTheSceneAndUnwritablePagesAreRefused) {
    const std::string page = temp_file("hostile");
    const HostRun run =
        run_host({"--site", source_path("tests/page/hostile_site.json"), "volume-search", "--window", "w1",
                  "--delta", "1", "--box", "-1", "-1", "-1", "1", "1", "1", "--html", page});
    ASSERT_EQ(run.exit_code, 0) << run.err;
    const std::string text = read_text(page);
    const size_t begin = text.find(kSceneOpen) + sizeof kSceneOpen - 1;
    const std::string json = text.substr(begin, text.find("</script>", begin) - begin);
    EXPECT_EQ(json.find_first_of("<>&"), std::string::npos);
    const nlohmann::json scene = nlohmann::json::parse(json);
    EXPECT_EQ(lines_of(scene)[1]["name"], "</script><script>window.kepRan=1</script>");
    std::remove(page.c_str());

    const std::string missing = "/nonexistent/dir/page.html";
    std::vector<std::vector<std::string>> cases = drawing_commands("--html", missing);
    cases.push_back({"explain", "fan_l", "--html", missing});
    for (const std::vector<std::string>& args : cases) {
        SCOPED_TRACE(args[0]);
        expect_drawing_refused(args, missing);
    }
}

// What the page shows of each line is the extension's account: on generated sites and random
// queries, a line is found exactly when the search hands it back, and its box where the search
// sees it and its reason for having none are those `explain` gives.
TEST(HostPage, TheSceneIsTheExtensionsAccountOnGeneratedSites) {
    std::mt19937 random(29);
    auto uniform = [&](double lo, double hi) {
        return std::uniform_real_distribution<double>(lo, hi)(random);
    };
    auto text = [](double v) { return std::to_string(v); };
    for (const char* seed : {"1", "2", "3", "4"}) {
        SCOPED_TRACE(seed);
        const std::string site = kep_test::temp_path("site_" + std::string(seed) + ".json");
        {
            const HostRun generated = run_host({"generate", "--lines", "120", "--seed", seed, "--modon-share",
                                                "0.3", "--packed-share", "0.2"});
            ASSERT_EQ(generated.exit_code, 0) << generated.err;
            std::FILE* f = std::fopen(site.c_str(), "w");
            ASSERT_NE(f, nullptr);
            std::fputs(generated.out.c_str(), f);
            std::fclose(f);
        }
        const std::string page = temp_file("generated");
        const std::string delta = text(uniform(0, 50));
        std::vector<std::string> query;
        if (seed[0] % 2 == 1) {
            const double x = uniform(-2, 2), y = uniform(-2, 2), z = uniform(-2, 2), r = uniform(0.1, 1.5);
            query = {"volume-search", "--window",  "w1",        "--delta",   delta,       "--box",
                     text(x - r),     text(y - r), text(z - r), text(x + r), text(y + r), text(z + r)};
        } else {
            query = {"neighbourhood-search", "--window", "w1", "--delta", delta, "--lines", "l5", "l17"};
        }
        std::vector<std::string> args = {"--site", site};
        args.insert(args.end(), query.begin(), query.end());
        args.insert(args.end(), {"--html", page});
        const HostRun run = run_host(args);
        ASSERT_EQ(run.exit_code, 0) << run.err;
        const nlohmann::json scene = scene_of(read_text(page));
        ASSERT_TRUE(scene.is_object());
        const std::vector<std::string> returned = run.json()["lines"].get<std::vector<std::string>>();
        const std::set<std::string> handed_back(returned.begin(), returned.end());
        std::vector<nlohmann::json> lines = lines_of(scene);
        for (const nlohmann::json& line : lines) {
            EXPECT_EQ(line["found"] == true, handed_back.count(line["id"]) == 1) << line["id"];
        }
        std::shuffle(lines.begin(), lines.end(), random);
        lines.resize(std::min<size_t>(lines.size(), 6));
        for (const nlohmann::json& line : lines) {
            const HostRun explained = run_host({"--site", site, "explain", line["id"], "--json"});
            ASSERT_EQ(explained.exit_code, 0) << explained.err;
            const nlohmann::json e = explained.json();
            // The extension's own reasons and numbers, as it writes them.
            EXPECT_EQ(line["reasons"], e["reasons"]) << line["id"];
            ASSERT_EQ(line["search_box"].is_null(), e["search_box"].is_null()) << line["id"];
            for (const char* key : {"centre", "axes", "half_extents"}) {
                if (e["search_box"].is_object()) {
                    EXPECT_EQ(line["search_box"].value(key, nlohmann::json()),
                              e["search_box"].value(key, nlohmann::json()))
                        << line["id"];
                }
            }
        }
        std::remove(page.c_str());
        std::remove(site.c_str());
    }
}

// The page keeps nothing of the picture's account: with --svg (the scene read with each line's
// placement) and without it, a search writes the same page, whose scene is written in many pieces
// at this size.
TEST(HostPage, ThePageIsTheSameWithOrWithoutThePicture) {
    const std::string site = kep_test::temp_path("site_picture.json");
    {
        const HostRun generated = run_host(
            {"generate", "--lines", "1500", "--seed", "5", "--modon-share", "0.3", "--packed-share", "0.2"});
        ASSERT_EQ(generated.exit_code, 0) << generated.err;
        std::FILE* f = std::fopen(site.c_str(), "w");
        ASSERT_NE(f, nullptr);
        std::fputs(generated.out.c_str(), f);
        std::fclose(f);
    }
    const std::vector<std::vector<std::string>> queries = {
        {"volume-search", "--window", "w1", "--delta", "5", "--box", "-0.5", "-0.5", "0", "1.5", "0.5",
         "0.8"},
        {"neighbourhood-search", "--window", "w1", "--delta", "20", "--lines", "l5", "l17"},
    };
    for (const std::vector<std::string>& query : queries) {
        SCOPED_TRACE(query[0]);
        std::string pages[2];
        for (int svg = 0; svg < 2; ++svg) {
            const std::string page = temp_file("picture_" + std::to_string(svg));
            std::vector<std::string> args = {"--site", site};
            args.insert(args.end(), query.begin(), query.end());
            args.insert(args.end(), {"--html", page});
            if (svg == 1) {
                args.insert(args.end(), {"--svg", kep_test::temp_path("picture.svg")});
            }
            const HostRun run = run_host(args);
            ASSERT_EQ(run.exit_code, 0) << run.err;
            pages[svg] = read_text(page);
            std::remove(page.c_str());
        }
        EXPECT_TRUE(pages[0] == pages[1]);
        const nlohmann::json scene = scene_of(pages[0]);
        ASSERT_TRUE(scene.is_object());
        EXPECT_EQ(lines_of(scene).size(), 1500u);
    }
    std::remove(kep_test::temp_path("picture.svg").c_str());
    std::remove(site.c_str());
}

}  // namespace
}  // namespace host_test
