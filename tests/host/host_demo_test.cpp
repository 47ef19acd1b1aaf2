// The demo and the --svg pictures of the searches, run through kep-host with the kep extension.
//
// The demo's text is checked in as tests/host/golden/demo.txt, so that a change in what the demo
// shows (the sample site, a rule of the extension, the explanation) is seen in review. To accept
// a change, run the test once with KEP_UPDATE_GOLDEN=1 in the environment and commit the file:
//   KEP_UPDATE_GOLDEN=1 build/dev/bin/host_test --gtest_filter='HostDemo.*'
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "host_runner.h"
#include "kep_temp_dir.h"

namespace host_test {
namespace {

using nlohmann::json;

const char kGolden[] = "tests/host/golden/demo.txt";

std::string temp_svg(const std::string& what) { return kep_test::temp_path(what + ".svg"); }

void replace_all(std::string* text, const std::string& from, const std::string& to) {
    for (size_t at = text->find(from); at != std::string::npos; at = text->find(from, at + to.size())) {
        text->replace(at, from.size(), to);
    }
}

// A small XML well-formedness check: one root element, every element closed in order, quoted
// attributes, no stray '<' or '&' in text. Returns "" or what is wrong and where.
std::string xml_fault(const std::string& text) {
    std::vector<std::string> open;
    int roots = 0;
    size_t at = 0;
    auto fail = [&](const std::string& what) { return what + " at offset " + std::to_string(at); };
    while (at < text.size()) {
        if (text[at] == '&') {
            size_t end = text.find(';', at);
            static const std::set<std::string> kEntities = {"&amp;", "&lt;", "&gt;", "&quot;", "&apos;"};
            if (end == std::string::npos || kEntities.count(text.substr(at, end - at + 1)) == 0) {
                return fail("unknown entity");
            }
            at = end + 1;
            continue;
        }
        if (text[at] != '<') {
            if (open.empty() && !std::isspace(static_cast<unsigned char>(text[at]))) {
                return fail("text outside the root element");
            }
            ++at;
            continue;
        }
        if (text.compare(at, 2, "<?") == 0) {
            size_t end = text.find("?>", at);
            if (end == std::string::npos || at != 0) {
                return fail("bad declaration");
            }
            at = end + 2;
            continue;
        }
        size_t end = at + 1;
        char quote = 0;
        while (end < text.size() && (quote != 0 || text[end] != '>')) {
            if (quote == 0 && (text[end] == '"' || text[end] == '\'')) {
                quote = text[end];
            } else if (quote != 0 && text[end] == quote) {
                quote = 0;
            } else if (quote == 0 && text[end] == '<') {
                return fail("'<' inside a tag");
            }
            ++end;
        }
        if (end >= text.size()) {
            return fail("unterminated tag");
        }
        std::string tag = text.substr(at + 1, end - at - 1);
        if (!tag.empty() && tag[0] == '/') {
            if (open.empty() || open.back() != tag.substr(1)) {
                return fail("closing </" + tag.substr(1) + "> does not match");
            }
            open.pop_back();
        } else {
            const bool empty = !tag.empty() && tag.back() == '/';
            std::string name = tag.substr(0, tag.find_first_of(" \t\n/"));
            if (name.empty()) {
                return fail("element without a name");
            }
            // Attributes: name="value" pairs only.
            std::string rest = tag.substr(name.size(), tag.size() - name.size() - (empty ? 1 : 0));
            size_t pos = 0;
            while ((pos = rest.find_first_not_of(" \t\n", pos)) != std::string::npos) {
                size_t eq = rest.find('=', pos);
                if (eq == std::string::npos || eq + 1 >= rest.size() || rest[eq + 1] != '"') {
                    return fail("attribute without a quoted value in <" + name + ">");
                }
                size_t close = rest.find('"', eq + 2);
                if (close == std::string::npos) {
                    return fail("unterminated attribute in <" + name + ">");
                }
                pos = close + 1;
            }
            if (open.empty() && ++roots > 1) {
                return fail("a second root element");
            }
            if (!empty) {
                open.push_back(name);
            }
        }
        at = end + 1;
    }
    if (!open.empty()) {
        return "element <" + open.back() + "> not closed";
    }
    return roots == 1 ? "" : "no root element";
}

int count(const std::string& text, const std::string& what) {
    int n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + what.size())) {
        ++n;
    }
    return n;
}

// The polygons of a picture, in document order, with their class, the view they are in (0 top,
// 1 front, 2 side, counted per search) and their tooltip.
struct Polygon {
    std::string cls;
    int view = -1;
    std::string tooltip;
    std::vector<std::pair<double, double>> points;

    // The line id of a line's outline: the tooltip up to " (".
    std::string line_id() const { return tooltip.substr(0, tooltip.find(" (")); }
    double width() const { return extent(true); }
    double height() const { return extent(false); }
    double extent(bool horizontal) const {
        double lo = 1e300;
        double hi = -1e300;
        for (const auto& p : points) {
            lo = std::min(lo, horizontal ? p.first : p.second);
            hi = std::max(hi, horizontal ? p.first : p.second);
        }
        return hi - lo;
    }
};

std::string attribute(const std::string& tag, const std::string& name) {
    size_t at = tag.find(" " + name + "=\"");
    if (at == std::string::npos) {
        return "";
    }
    at += name.size() + 3;
    return tag.substr(at, tag.find('"', at) - at);
}

std::vector<Polygon> polygons(const std::string& svg) {
    std::vector<Polygon> all;
    int view = -1;
    for (size_t at = svg.find('<'); at != std::string::npos; at = svg.find('<', at + 1)) {
        static const std::string kView = "<g class=\"view\">";
        if (svg.compare(at, kView.size(), kView) == 0) {
            view = (view + 1) % 3;
        }
        if (svg.compare(at, 8, "<polygon") != 0) {
            continue;
        }
        const std::string tag = svg.substr(at, svg.find('>', at) - at);
        Polygon polygon;
        polygon.cls = attribute(tag, "class");
        polygon.view = view;
        size_t title = svg.find("<title>", at) + 7;
        polygon.tooltip = svg.substr(title, svg.find("</title>", title) - title);
        std::istringstream points(attribute(tag, "points"));
        std::string pair;
        while (points >> pair) {
            size_t comma = pair.find(',');
            polygon.points.emplace_back(std::stod(pair.substr(0, comma)), std::stod(pair.substr(comma + 1)));
        }
        all.push_back(polygon);
    }
    return all;
}

// The ids of the lines drawn with the given class ("line found", "line selected", "line other").
std::multiset<std::string> drawn_line_ids(const std::string& svg, const std::string& cls) {
    std::multiset<std::string> ids;
    for (const Polygon& polygon : polygons(svg)) {
        if (polygon.cls == cls) {
            ids.insert(polygon.line_id());
        }
    }
    return ids;
}

const char kFound[] = "line found";
const char kSelected[] = "line selected";
const char kOther[] = "line other";

// Every line id of a site file (lines of every window, packed lines included).
void collect_line_ids(const json& line, std::vector<std::string>* ids) {
    ids->push_back(line.at("id").get<std::string>());
    for (const char* list : {"children", "packed"}) {
        if (line.contains(list)) {
            for (const json& child : line.at(list)) {
                collect_line_ids(child, ids);
            }
        }
    }
}

std::vector<std::string> sample_line_ids() {
    json site = json::parse(read_text(source_path("itk/host/kep_host/sample_site.json")));
    std::vector<std::string> ids;
    for (const auto& window : site.at("windows").items()) {
        collect_line_ids(window.value(), &ids);
    }
    return ids;
}

TEST(HostDemo, OutputMatchesTheGoldenFile) {
    const std::string svg = temp_svg("golden");
    HostRun run = run_host({"demo", "--svg", svg});
    ASSERT_EQ(run.exit_code, 0) << run.err;
    EXPECT_EQ(run.err, "");
    std::string text = run.out;
    replace_all(&text, svg, "demo.svg");
    const std::string golden_path = source_path(kGolden);
    const char* update = std::getenv("KEP_UPDATE_GOLDEN");
    if (update != nullptr && std::string(update) == "1") {
        std::ofstream(golden_path, std::ios::binary) << text;
        std::remove(svg.c_str());
        GTEST_SKIP() << "wrote " << golden_path;
    }
    const std::string golden = read_text(golden_path);
    if (text != golden) {
        std::istringstream got(text);
        std::istringstream want(golden);
        std::string got_line;
        std::string want_line;
        int line = 0;
        while (true) {
            const bool more_got = static_cast<bool>(std::getline(got, got_line));
            const bool more_want = static_cast<bool>(std::getline(want, want_line));
            ++line;
            if (!more_got && !more_want) {
                break;
            }
            if (!more_got || !more_want || got_line != want_line) {
                ADD_FAILURE() << "the demo's output differs from " << kGolden << " from line " << line
                              << ":\n  golden: " << (more_want ? want_line : "(end)")
                              << "\n  now:    " << (more_got ? got_line : "(end)")
                              << "\nIf the change is intended, refresh the file with KEP_UPDATE_GOLDEN=1.";
                break;
            }
        }
    }
    // The same run gives the same picture.
    const std::string first = read_text(svg);
    ASSERT_EQ(run_host({"demo", "--svg", svg}).exit_code, 0);
    EXPECT_EQ(read_text(svg), first);
    std::remove(svg.c_str());
}

TEST(HostDemo, PictureIsWellFormedAndNamesEveryLine) {
    const std::string svg = temp_svg("picture");
    HostRun run = run_host({"demo", "--svg", svg});
    ASSERT_EQ(run.exit_code, 0) << run.err;
    const std::string picture = read_text(svg);
    std::remove(svg.c_str());
    ASSERT_FALSE(picture.empty());
    EXPECT_EQ(xml_fault(picture), "");
    EXPECT_EQ(picture.compare(0, 5, "<?xml"), 0);
    // Two searches, three views each.
    EXPECT_EQ(count(picture, "<g class=\"search\">"), 2);
    EXPECT_EQ(count(picture, "<g class=\"view\">"), 6);
    for (const std::string& id : sample_line_ids()) {
        EXPECT_NE(picture.find(">" + id + "<"), std::string::npos) << id << " is not named";
    }
    // Every line the tour says a search found is highlighted in all three views of its search,
    // and nothing else is: the found outlines are those of the two result lists.
    std::multiset<std::string> expected;
    for (const char* section : {"== Volume search", "== Neighbourhood search"}) {
        size_t at = run.out.find(section);
        ASSERT_NE(at, std::string::npos) << section;
        at = run.out.find("in the order handed back:\n", at);
        ASSERT_NE(at, std::string::npos);
        std::istringstream lines(run.out.substr(at + 26));
        std::string line;
        while (std::getline(lines, line) && line.compare(0, 2, "  ") == 0) {
            if (line[2] == ' ') {
                continue;  // the rest of the line above
            }
            std::string id = line.substr(2, line.find(' ', 2) - 2);
            if (id != "fan_l" && id != "hose_upper") {  // selected lines keep their own colour
                for (int view = 0; view < 3; ++view) {
                    expected.insert(id);
                }
            }
        }
    }
    EXPECT_FALSE(expected.empty());
    EXPECT_EQ(drawn_line_ids(picture, kFound), expected);
    EXPECT_EQ(
        drawn_line_ids(picture, kSelected),
        std::multiset<std::string>({"fan_l", "fan_l", "fan_l", "hose_upper", "hose_upper", "hose_upper"}));
}

TEST(HostSearchSvg, PictureLeavesTheResultAndTheCountsAlone) {
    const std::string svg = temp_svg("search");
    struct SearchCase {
        const char* what;
        std::vector<std::string> args;
        std::vector<std::string> selected;
    };
    const SearchCase cases[] = {
        {"volume",
         {"volume-search", "--window", "w1", "--delta", "20", "--box", "-0.16", "-0.62", "0.26", "-0.06",
          "-0.48", "0.38"},
         {}},
        {"neighbourhood",
         {"neighbourhood-search", "--window", "w1", "--delta", "10", "--lines", "fan_l", "tow_eye"},
         {"fan_l", "tow_eye"}},
    };
    for (const SearchCase& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<std::string> plain = c.args;
        plain.push_back("--stats");
        std::vector<std::string> drawn = plain;
        drawn.insert(drawn.end(), {"--svg", svg});
        std::remove(svg.c_str());
        HostRun without = run_host(plain);
        HostRun with = run_host(drawn);
        ASSERT_EQ(with.exit_code, 0) << with.err;
        EXPECT_EQ(with.err, "");
        // Same lines, same counters: the drawing's reads come after the result.
        EXPECT_EQ(with.out, without.out);
        const std::string picture = read_text(svg);
        EXPECT_EQ(xml_fault(picture), "");
        EXPECT_EQ(count(picture, "<g class=\"view\">"), 3);
        std::multiset<std::string> found;
        const json result = with.json();
        for (const json& id : result.at("lines")) {
            if (std::find(c.selected.begin(), c.selected.end(), id.get<std::string>()) == c.selected.end()) {
                found.insert({id.get<std::string>(), id.get<std::string>(), id.get<std::string>()});
            }
        }
        EXPECT_FALSE(found.empty());
        EXPECT_EQ(drawn_line_ids(picture, kFound), found);
        std::multiset<std::string> selected;
        for (const std::string& id : c.selected) {
            selected.insert({id, id, id});
        }
        EXPECT_EQ(drawn_line_ids(picture, kSelected), selected);
    }
    std::remove(svg.c_str());
}

// The picture's boxes are worked out by kep-host from the site's data, apart from the extension;
// a search over everything must find exactly the lines drawn with a box, on every site at hand,
// and find some.
TEST(HostSearchSvg, DrawnBoxesAreTheBoxesTheSearchSees) {
    const std::string svg = temp_svg("oracle");
    std::vector<std::pair<std::string, std::string>> sites = {{"", "w1"}};  // the built-in sample site
    for (const char* example :
         {"examples/sites/small.json", "examples/sites/modon.json", "examples/sites/search.json"}) {
        const std::string path = source_path(example);
        if (!file_exists(path)) {
            continue;
        }
        json site = json::parse(read_text(path));
        for (const auto& window : site.at("windows").items()) {
            sites.emplace_back(path, window.key());
        }
    }
    for (const auto& site : sites) {
        SCOPED_TRACE(site.first + " " + site.second);
        std::vector<std::string> args;
        if (!site.first.empty()) {
            args = {"--site", site.first};
        }
        args.insert(args.end(), {"volume-search", "--window", site.second, "--delta", "0", "--box", "-1e6",
                                 "-1e6", "-1e6", "1e6", "1e6", "1e6", "--svg", svg});
        HostRun run = run_host(args);
        ASSERT_EQ(run.exit_code, 0) << run.err;
        std::multiset<std::string> found;
        const json result = run.json();
        for (const json& id : result.at("lines")) {
            found.insert({id.get<std::string>(), id.get<std::string>(), id.get<std::string>()});
        }
        const std::string picture = read_text(svg);
        EXPECT_EQ(drawn_line_ids(picture, kFound), found);
        EXPECT_TRUE(drawn_line_ids(picture, kOther).empty());
        EXPECT_FALSE(found.empty()) << "an example that finds nothing shows a newcomer nothing";
    }
    std::remove(svg.c_str());
}

TEST(HostSearchSvg, FaultsAreLiftedBeforeDrawing) {
    const std::string svg = temp_svg("faults");
    // Every box read fails: the search hands nothing back, the picture still shows every box.
    HostRun run = run_host({"--fail", "AE_ask_all_dataset_named_refs", "volume-search", "--window", "w1",
                            "--delta", "0", "--box", "-9", "-9", "-9", "9", "9", "9", "--svg", svg});
    EXPECT_EQ(run.exit_code, 1);
    ASSERT_TRUE(run.json().is_object()) << run.out;
    EXPECT_NE(run.json().at("status"), 0);
    const std::string picture = read_text(svg);
    std::remove(svg.c_str());
    EXPECT_EQ(xml_fault(picture), "");
    EXPECT_TRUE(drawn_line_ids(picture, kFound).empty());
    const std::multiset<std::string> others = drawn_line_ids(picture, kOther);
    EXPECT_EQ(others.size(), 3 * 38u);
    EXPECT_EQ(others.count("hose_upper"), 3u);
}

// A cube turned 45 degrees about z, and a sheet without thickness (tests/host/sites/drawing.json):
//   top view (x up, y to the left)      front view (z up)      side view (z up, x to the right)
//        /\                               +--+                   +--+
//        \/    [sheet]                    |  |  ----             |  |  ----
//                                         +--+                   +--+
// The cube's outline is a square on its corner from above, and sqrt(2) times as wide as high
// from the front and the side; the sheet is a 1 x 2 rectangle from above and a line elsewhere.
TEST(HostSearchSvg, ViewsProjectTurnedBoxesAndEscapeIds) {
    const std::string svg = temp_svg("drawing");
    HostRun run = run_host({"--site", site_file("drawing.json"), "volume-search", "--window", "w1", "--delta",
                            "0", "--box", "-0.1", "-0.1", "-0.1", "0.1", "0.1", "0.1", "--svg", svg});
    ASSERT_EQ(run.exit_code, 0) << run.err;
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.json().at("lines"), json::array({"a<b&c"}));
    const std::string picture = read_text(svg);
    std::remove(svg.c_str());
    EXPECT_EQ(xml_fault(picture), "");
    EXPECT_EQ(picture.find("nan"), std::string::npos);
    EXPECT_NE(picture.find(">a&lt;b&amp;c<"), std::string::npos);  // in the legend
    std::map<std::pair<std::string, int>, Polygon> outline;
    for (const Polygon& polygon : polygons(picture)) {
        if (polygon.cls.compare(0, 4, "line") == 0) {
            outline[{polygon.line_id(), polygon.view}] = polygon;
        }
    }
    ASSERT_EQ(outline.size(), 6u);
    auto at = [&](const std::string& id, int view) { return outline[std::make_pair(id, view)]; };
    const Polygon cube_top = at("a&lt;b&amp;c", 0);
    EXPECT_EQ(cube_top.cls, "line found");
    EXPECT_EQ(cube_top.points.size(), 4u);
    EXPECT_NEAR(cube_top.width(), cube_top.height(), 0.2);
    for (int view : {1, 2}) {
        const Polygon cube = at("a&lt;b&amp;c", view);
        EXPECT_EQ(cube.points.size(), 4u) << view;
        EXPECT_NEAR(cube.width() / cube.height(), std::sqrt(2.0), 0.02) << view;
    }
    const Polygon sheet_top = at("sheet", 0);
    EXPECT_EQ(sheet_top.cls, "line other");
    EXPECT_EQ(sheet_top.points.size(), 4u);
    EXPECT_NEAR(sheet_top.width() / sheet_top.height(), 2.0, 0.02);  // y runs across the top view
    for (int view : {1, 2}) {
        EXPECT_EQ(at("sheet", view).points.size(), 2u) << view;
        EXPECT_NEAR(at("sheet", view).height(), 0.0, 0.05) << view;
    }
    // The cube is drawn left of the sheet from above and from the front (+y points left, the
    // sheet lies at y 0 to 2) and left of it from the side (x 3 to 4, +x to the right).
    EXPECT_GT(at("sheet", 2).points[0].first, at("a&lt;b&amp;c", 2).points[0].first);
}

TEST(HostSearchSvg, UnwritablePictureIsRefusedBeforeAnythingRuns) {
    const std::string missing = "/nonexistent/dir/picture.svg";
    for (const std::vector<std::string>& args : drawing_commands("--svg", missing)) {
        SCOPED_TRACE(args[0]);
        const HostRun run = expect_drawing_refused(args, missing);
        EXPECT_EQ(run.err_lines(), 1) << run.err;
        EXPECT_NE(run.err.find(args[0]), std::string::npos) << run.err;
    }
    // The tour is written for the built-in sample site.
    HostRun other = run_host({"--site", site_file("basic.json"), "demo"});
    EXPECT_EQ(other.exit_code, 2);
    EXPECT_EQ(other.out, "");
    EXPECT_NE(other.err.find("--site"), std::string::npos) << other.err;
}

}  // namespace
}  // namespace host_test
