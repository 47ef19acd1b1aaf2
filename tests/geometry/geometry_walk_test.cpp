// The structure walk: visiting order and the reverse order of the lists, absolute transforms,
// packed lines, unreadable occurrence transforms, a failing box lookup, a structure 10,000 levels
// deep walked on a small stack, the trace compared with that of a plainly recursive walk (also
// under every injected failure), and the fault sweep of the whole walk.
#include <pthread.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <functional>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "geometry/kep_geometry.h"
#include "kep_console.h"
#include "kep_fixture.h"
#include "kep_mem.h"
#include "kep_site_text.h"
#include "kep_trace.h"

namespace {

using Strings = std::vector<std::string>;
using kep_test::strip;
using Vec3 = std::array<double, 3>;

// A line of a test window. transform: absent for the identity text of the site format; "null"
// stands for a line without a stored transform.
struct Line {
    std::string id;
    std::string revision = "boxed/A";
    std::optional<std::string> transform = std::nullopt;
    std::vector<Line> children = {};
    std::vector<Line> packed = {};
    std::string occurrence = "";
};

std::string translation(double x, double y, double z) {
    std::ostringstream out;
    out << "1 0 0 0 0 1 0 0 0 0 1 0 " << x << " " << y << " " << z << " 1";
    return out.str();
}

std::string line_json(const Line& l) {
    std::string out = "{\"id\": \"" + l.id + "\", \"revision\": \"" + l.revision +
                      "\", \"occurrence_name\": \"" + l.occurrence + "\"";
    if (l.transform) {
        out +=
            ", \"transform\": " + (*l.transform == "null" ? std::string("null") : "\"" + *l.transform + "\"");
    }
    for (const auto* list : {&l.children, &l.packed}) {
        out += list == &l.children ? ", \"children\": [" : ", \"packed\": [";
        for (size_t i = 0; i < list->size(); ++i) {
            out += (i == 0 ? "" : ", ") + line_json((*list)[i]);
        }
        out += "]";
    }
    return out + "}";
}

// Revisions: boxed/A (an auxiliary dataset with the box (0,0,0)-(1,1,1)), bare/A (nothing
// attached), geo/A (item GEO: a 3D dataset with box (0,0,0)-(2,2,2), and a mod-on dataset of the
// top revision asm/A with box (0,0,0)-(3,3,3) for the occurrence path "G1").
std::string site_json(const std::string& top_json) {
    return R"({
  "types": {"Part3D": "Dataset", "AuxPart": "Dataset", "ModOnRep": "Dataset", "BBForm": "Form",
            "ModOnForm": "Form"},
  "relation_types": ["KEPModOnRel", "IMAN_specification"],
  "preferences": {
    )" + kep_test::dataset_type_preferences() +
           R"(,
    "KEPModOnPartDatasetRelation": "KEPModOnRel", "KEPModOnPartDatasetType": "ModOnRep"
  },
  "objects": {
    "asm/A": {"type": "ItemRevision", "item_id": "ASM"},
    "boxed/A": {"type": "ItemRevision", "item_id": "BOXED"},
    "bare/A": {"type": "ItemRevision", "item_id": "BARE"},
    "geo/A": {"type": "ItemRevision", "item_id": "GEO"},
    "aux": {"type": "AuxPart", "name": "BOXED/A", "refs": {"VAR2BBInfo": ["bb1"]}},
    "part": {"type": "Part3D", "name": "GEO/A", "refs": {"VAR2BBInfo": ["bb2"]}},
    "modon": {"type": "ModOnRep", "name": "ASM.GEO.1", "refs": {"VAR2BBInfo": ["bb3"], "KEPModOnInfo": ["way"]}},
    )" +
           kep_test::box_forms(
               {{"bb1", {0, 0, 0, 1, 1, 1}}, {"bb2", {0, 0, 0, 2, 2, 2}}, {"bb3", {0, 0, 0, 3, 3, 3}}}) +
           R"(,
    "way": {"type": "ModOnForm", "attributes": {"var2_way_to_root": ["G1"]}}
  },
  "relations": [["boxed/A", "IMAN_reference", "aux"], ["geo/A", "IMAN_specification", "part"],
                ["asm/A", "KEPModOnRel", "modon"]],
  "windows": {"w1": )" +
           top_json + "}}";
}

std::string site(const Line& top) { return site_json(line_json(top)); }

tag_t tag(const std::string& id) { return standin::tag_of(id); }

// What the walk handed out, lists released.
struct Lines {
    int status = -1;
    Strings ids;  // tag list, in list order
    std::vector<kep_object3d_t> records;
    bool spare_slot_null = false;
    bool lists_touched = false;
};

Lines walk_window(int initial_count = 0) {
    Lines out;
    int count = initial_count;
    kep_object3d_t** objects = reinterpret_cast<kep_object3d_t**>(16);  // sentinels: untouched when empty
    tag_t* tags = reinterpret_cast<tag_t*>(32);
    out.status = kep_get_lines_with_bbox(tag("w1"), &count, &objects, &tags);
    out.lists_touched =
        objects != reinterpret_cast<kep_object3d_t**>(16) || tags != reinterpret_cast<tag_t*>(32);
    if (count > 0) {
        for (int i = 0; i < count; ++i) {
            out.ids.push_back(standin::id_of(tags[i]));
            out.records.push_back(*objects[i]);
            MEM_free(objects[i]);
        }
        out.spare_slot_null = objects[count] == nullptr;
        MEM_free(objects);
        MEM_free(tags);
    }
    return out;
}

Vec3 translation_of(const kep_object3d_t& o) { return {o.matrix[3], o.matrix[7], o.matrix[11]}; }

const kep_object3d_t& record_of(const Lines& lines, const std::string& id) {
    static const kep_object3d_t none{};
    for (size_t i = 0; i < lines.ids.size(); ++i) {
        if (lines.ids[i] == id) {
            return lines.records[i];
        }
    }
    ADD_FAILURE() << "no record for " << id;
    return none;
}

void expect_near(const Vec3& actual, const Vec3& expected) {
    for (int i = 0; i < 3; ++i) {
        EXPECT_NEAR(actual[i], expected[i], 1e-12) << "component " << i;
    }
}

size_t occurrences(const std::string& text, const std::string& part) {
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
        ++n;
    }
    return n;
}

// The console with everything written inside functions other than the walk's own left out: the
// walk's lines, and the entry and exit lines of what it calls.
std::string walk_view(const std::string& console) {
    std::istringstream in(console);
    std::string line;
    std::string out;
    std::vector<std::string> open;
    auto inside_walk = [&] {
        return open.empty() || open.back() == "kep_get_lines_with_bbox" ||
               open.back() == "kep_get_child_lines";
    };
    while (std::getline(in, line)) {
        const std::string text = strip(line);
        if (text.compare(0, 4, ">>> ") == 0) {
            if (inside_walk()) {
                out += line + "\n";
            }
            open.push_back(text.substr(4));
        } else if (text.compare(0, 4, "<<< ") == 0) {
            if (!open.empty()) {
                open.pop_back();
            }
            if (inside_walk()) {
                out += line + "\n";
            }
        } else if (inside_walk()) {
            out += line + "\n";
        }
    }
    return out;
}

// The statements of every failure block, in the order written.
Strings failed_statements(const std::string& console) {
    std::istringstream in(console);
    std::string line;
    Strings out;
    while (std::getline(in, line)) {
        if (strip(line) == "ERROR while processing following statement" && std::getline(in, line)) {
            out.push_back(strip(line));
        }
    }
    return out;
}

// One traced statement at an indentation level, as the console shows it.
std::string exec(int level, const std::string& statement) {
    const std::string pad(static_cast<size_t>(level), ' ');
    return pad + "executing [" + pad + statement + pad + "]\n";
}

class WalkTest : public kep_test::KepFixture {
protected:
    static void console_with_trace() { set_switches("ON", nullptr, "ON"); }
};

// top with children a and b, each with a box: b, a, top.
TEST_F(WalkTest, ListsRunInTheReverseOfTheVisitingOrder) {
    ASSERT_NO_FATAL_FAILURE(load_site(site({"top", "boxed/A", std::nullopt, {{"a"}, {"b"}}})));
    console_with_trace();
    Lines lines;
    const std::string console = capture_console([&] { lines = walk_window(); });
    EXPECT_EQ(lines.status, 0);
    EXPECT_EQ(lines.ids, (Strings{"b", "a", "top"}));
    EXPECT_TRUE(lines.spare_slot_null);
    const kep_object3d_t& top = record_of(lines, "top");
    const double identity_rows[12] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0};
    EXPECT_TRUE(std::equal(top.matrix, top.matrix + 12, identity_rows));
    for (const kep_object3d_t& r : lines.records) {
        EXPECT_EQ(r.BB, 1);
        EXPECT_EQ(r.bbox.x2, 1.0);
        EXPECT_EQ(r.bbox.z1, 0.0);
    }

    auto line_frame = [&](int level, const std::string& id, const std::string& children) {
        const std::string pad(static_cast<size_t>(level), ' ');
        const std::string in(static_cast<size_t>(level + 4), ' ');
        return pad + ">>> kep_get_child_lines\n" + in + "handling tag [" + std::to_string(tag(id)) + "]\n" +
               exec(level + 4, "kep_get_bbox_for_bomline(parent_line,&bbox)") + in +
               ">>> kep_get_bbox_for_bomline\n" + in + "<<< kep_get_bbox_for_bomline\n" +
               exec(level + 4, "BOM_line_ask_child_lines(parent_line, &child_count, &children)") + children +
               pad + "<<< kep_get_child_lines\n";
    };
    auto child = [&](const std::string& id) {
        return exec(8,
                    "AOM_ask_value_string(act_child, bomAttr_StandardOccTransform, &trans_matrix_string)") +
               exec(8, "kep_get_child_lines(act_child,new_child_matrix,node_list)") + line_frame(8, id, "") +
               exec(8, "BOM_line_ask_packed_lines(act_child,&pack_count,&packed_lines)");
    };
    EXPECT_EQ(walk_view(console),
              ">>> kep_get_lines_with_bbox\n" + exec(4, "BOM_ask_window_top_line(bom_window_tag,&top_line)") +
                  exec(4, "kep_get_child_lines(top_line,identity_matrix, &node_list)") +
                  line_frame(4, "top", child("a") + child("b")) + "<<< kep_get_lines_with_bbox\n");
    expect_clean();
}

TEST_F(WalkTest, LinesWithoutBoxAreWalkedButNotListed) {
    ASSERT_NO_FATAL_FAILURE(
        load_site(site({"top",
                        "bare/A",
                        std::nullopt,
                        {{"a", "bare/A", std::nullopt, {{"a1", "bare/A"}}}, {"b", "boxed/A"}}})));
    set_switches("ON", nullptr, nullptr);
    Lines lines;
    const std::string console = capture_console([&] { lines = walk_window(); });
    EXPECT_EQ(lines.status, 0);
    EXPECT_EQ(lines.ids, Strings{"b"});
    EXPECT_EQ(occurrences(console, "handling tag ["), 4u);

    // No line with a box: count 0, the lists untouched.
    standin::reset();
    ASSERT_NO_FATAL_FAILURE(load_site(site({"top", "bare/A", std::nullopt, {{"a", "bare/A"}}})));
    lines = walk_window();
    EXPECT_EQ(lines.status, 0);
    EXPECT_TRUE(lines.ids.empty());
    EXPECT_FALSE(lines.lists_touched);
    expect_clean();
}

// The count is the number of lines found, not added to what the caller passed in: lists sized by
// a sum would be read past their end.
TEST_F(WalkTest, CountIsNotAddedToTheCallersValue) {
    ASSERT_NO_FATAL_FAILURE(load_site(site({"top", "boxed/A", std::nullopt, {{"a"}}})));
    const Lines lines = walk_window(5);
    EXPECT_EQ(lines.status, 0);
    EXPECT_EQ(lines.ids, (Strings{"a", "top"}));
    EXPECT_TRUE(lines.spare_slot_null);
    expect_clean();
}

// Each case: a parent p under the top line and a child c under p; c's absolute translation.
TEST_F(WalkTest, AbsoluteTransforms) {
    const std::string rz90_at_0_5_0 = "0 1 0 0 -1 0 0 0 0 0 1 0 0 5 0 1";  // column by column
    struct Case {
        const char* title;
        std::string parent;
        std::string child;  // "null": no stored transform
        Vec3 expected;
        const char* logged;
    } const cases[] = {
        {"translations add up", translation(0, 5, 0), translation(10, 0, 0), {10, 5, 0}, nullptr},
        {"parent rotated 90 degrees about z", rz90_at_0_5_0, translation(10, 0, 0), {0, 15, 0}, nullptr},
        {"empty occurrence transform",
         translation(0, 5, 0),
         "",
         {0, 5, 0},
         "cannot get matrix from string [], assuming identity\n"},
        {"15 numbers",
         translation(0, 5, 0),
         "1 0 0 0 0 1 0 0 0 0 1 0 10 0 0",
         {0, 5, 0},
         "cannot get matrix from string [1 0 0 0 0 1 0 0 0 0 1 0 10 0 0], assuming identity\n"},
        {"no stored transform", translation(0, 5, 0), "null", {0, 5, 0}, "cannot get matrix from string ["},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.title);
        standin::reset();
        kep_support_reset_state();
        ASSERT_NO_FATAL_FAILURE(load_site(site(
            {"top", "boxed/A", std::nullopt, {{"p", "boxed/A", c.parent, {{"c", "boxed/A", c.child}}}}})));
        set_switches("ON", nullptr, nullptr);
        Lines lines;
        const std::string console = capture_console([&] { lines = walk_window(); });
        EXPECT_EQ(lines.status, 0);
        ASSERT_EQ(lines.ids, (Strings{"c", "p", "top"}));
        expect_near(translation_of(record_of(lines, "c")), c.expected);
        if (c.logged != nullptr) {
            EXPECT_NE(console.find(c.logged), std::string::npos) << console;
        }
        expect_clean();
    }
    // The rotation is carried down as well: c's rotation is the parent's.
    standin::reset();
    ASSERT_NO_FATAL_FAILURE(
        load_site(site({"top",
                        "boxed/A",
                        std::nullopt,
                        {{"p", "boxed/A", rz90_at_0_5_0, {{"c", "boxed/A", translation(10, 0, 0)}}}}})));
    const Lines lines = walk_window();
    const kep_object3d_t& c = record_of(lines, "c");
    const double rows[12] = {0, -1, 0, 0, 1, 0, 0, 15, 0, 0, 1, 0};
    for (int i = 0; i < 12; ++i) {
        EXPECT_NEAR(c.matrix[i], rows[i], 1e-12) << "element " << i;
    }
    expect_clean();
}

//   top
//   +- w (0,5,0)
//      +- c (10,0,0)          packed into c: p (0,0,7)
//      |  +- cc (0,0,1)                       +- q (1,0,0)
// The packed line p is placed under w (the line being walked), not under c; its child q is reached.
TEST_F(WalkTest, PackedLinesUnderTheWalkedLine) {
    const Line p{"p", "boxed/A", translation(0, 0, 7), {{"q", "boxed/A", translation(1, 0, 0)}}};
    const Line c{"c", "boxed/A", translation(10, 0, 0), {{"cc", "boxed/A", translation(0, 0, 1)}}, {p}};
    ASSERT_NO_FATAL_FAILURE(
        load_site(site({"top", "boxed/A", std::nullopt, {{"w", "boxed/A", translation(0, 5, 0), {c}}}})));
    standin::reset_counters();
    const Lines lines = walk_window();
    EXPECT_EQ(lines.status, 0);
    EXPECT_EQ(lines.ids, (Strings{"q", "p", "cc", "c", "w", "top"}));
    expect_near(translation_of(record_of(lines, "c")), {10, 5, 0});
    expect_near(translation_of(record_of(lines, "cc")), {10, 5, 1});
    expect_near(translation_of(record_of(lines, "p")), {0, 5, 7});
    expect_near(translation_of(record_of(lines, "q")), {1, 5, 7});
    // One child list per line; packed lines are asked for the children walked, not for packed lines.
    EXPECT_EQ(standin::call_count("BOM_line_ask_child_lines"), 6);
    EXPECT_EQ(standin::call_count("BOM_line_ask_packed_lines"), 4);
    expect_clean();
}

//   top -> a -> b ; top -> c. The box lookup of b, the third line met, fails.
TEST_F(WalkTest, FailingThirdBoxLookupKeepsTheLinesBefore) {
    ASSERT_NO_FATAL_FAILURE(
        load_site(site({"top", "boxed/A", std::nullopt, {{"a", "boxed/A", std::nullopt, {{"b"}}}, {"c"}}})));
    console_with_trace();
    standin::fail_object("BOM_line_ask_attribute_tag", tag("b"), 4711);
    standin::reset_counters();
    Lines lines;
    const std::string console = capture_console([&] { lines = walk_window(); });
    EXPECT_EQ(lines.status, 4711);
    EXPECT_EQ(lines.ids, (Strings{"a", "top"}));
    EXPECT_TRUE(lines.spare_slot_null);
    EXPECT_EQ(occurrences(console, "handling tag ["), 3u);
    EXPECT_EQ(console.find("handling tag [" + std::to_string(tag("c")) + "]"), std::string::npos);
    EXPECT_EQ(standin::call_count("BOM_line_ask_child_lines"), 2);  // top and a; not b, not c
    // Every level reports the failure of its own statement on the way back up.
    const Strings failed = failed_statements(console);
    ASSERT_GE(failed.size(), 4u);
    EXPECT_EQ(Strings(failed.end() - 4, failed.end()),
              (Strings{"kep_get_bbox_for_bomline(parent_line,&bbox)",
                       "kep_get_child_lines(act_child,new_child_matrix,node_list)",
                       "kep_get_child_lines(act_child,new_child_matrix,node_list)",
                       "kep_get_child_lines(top_line,identity_matrix, &node_list)"}));
    standin::clear_faults();
    EXPECT_EQ(kep_support_indent_level(), 0);
    EXPECT_EQ(standin::live_blocks(), 0);
}

// A structure 10,000 levels deep, each level translated by (1, 0, 0), walked on a thread whose
// stack is far too small for one machine stack frame per level. Every 100th line (and the deepest)
// has a box, which keeps the lookups cheap and still shows order and placement at every depth.
struct DeepRun {
    Lines lines;
};

void* run_deep_walk(void* arg) {
    static_cast<DeepRun*>(arg)->lines = walk_window();
    return nullptr;
}

TEST_F(WalkTest, TenThousandLevelsOnASmallStack) {
    const int depth = 10000;
    auto boxed = [&](int level) { return level % 100 == 0 || level == depth - 1; };
    std::string json;
    for (int i = 0; i < depth; ++i) {
        json += "{\"id\": \"d" + std::to_string(i) + "\", \"revision\": \"" +
                (boxed(i) ? "boxed/A" : "bare/A") + "\", \"transform\": \"" +
                (i == 0 ? translation(0, 0, 0) : translation(1, 0, 0)) + "\", \"children\": [";
    }
    for (int i = 0; i < depth; ++i) {
        json += "]}";
    }
    ASSERT_NO_FATAL_FAILURE(load_site(site_json(json)));

    DeepRun run;
    pthread_attr_t attr;
    ASSERT_EQ(pthread_attr_init(&attr), 0);
    ASSERT_EQ(pthread_attr_setstacksize(&attr, 1024 * 1024), 0);
    pthread_t thread;
    ASSERT_EQ(pthread_create(&thread, &attr, run_deep_walk, &run), 0);
    ASSERT_EQ(pthread_join(thread, nullptr), 0);
    pthread_attr_destroy(&attr);

    EXPECT_EQ(run.lines.status, 0);
    ASSERT_EQ(run.lines.ids.size(), 101u);
    // Deepest first; each entry's place is its depth along x.
    for (size_t i = 0; i < run.lines.ids.size(); ++i) {
        const int level = i == 0 ? depth - 1 : 100 * static_cast<int>(run.lines.ids.size() - 1 - i);
        EXPECT_EQ(run.lines.ids[i], "d" + std::to_string(level));
        expect_near(translation_of(run.lines.records[i]), {static_cast<double>(level), 0, 0});
    }
    expect_clean();
}

// The walk as a plain recursion, each line one nested call: the form whose trace the walk must
// reproduce byte for byte.
int recursive_child_lines(tag_t parent_line, const kep_matrix_t* matrix, kep_node_t** node_list) {
    kep::FunctionTrace trace("kep_get_child_lines");
    kep::Step step;
    kep_log("handling tag [%d]\n", static_cast<int>(parent_line));
    kep::MemPtr<kep_bbox_t> bbox;
    step.call("kep_get_bbox_for_bomline(parent_line,&bbox)",
              [&] { return kep_get_bbox_for_bomline(parent_line, bbox.out()); });
    if (!step.ok()) {
        return step.status();
    }
    if (bbox) {
        *node_list = kep_node_list_prepend(*node_list, parent_line, bbox.get(), matrix);
    }
    kep::MemPtr<tag_t> children;
    int child_count = 0;
    step.call("BOM_line_ask_child_lines(parent_line, &child_count, &children)",
              [&] { return BOM_line_ask_child_lines(parent_line, &child_count, children.out()); });
    auto walk_below = [&](tag_t line, const char* read_statement, const char* walk_statement) {
        kep::MemPtr<char> text;
        step.call(read_statement,
                  [&] { return AOM_ask_value_string(line, bomAttr_StandardOccTransform, text.out()); });
        if (!step.ok()) {
            return;
        }
        kep_matrix_t occurrence, new_child_matrix;
        kep_matrix_from_string(text.get(), &occurrence);
        kep_matrix_multiply(matrix, &occurrence, &new_child_matrix);
        step.call(walk_statement, [&] { return recursive_child_lines(line, &new_child_matrix, node_list); });
    };
    for (int i = 0; i < child_count && step.ok(); ++i) {
        const tag_t act_child = children[i];
        walk_below(act_child,
                   "AOM_ask_value_string(act_child, bomAttr_StandardOccTransform, &trans_matrix_string)",
                   "kep_get_child_lines(act_child,new_child_matrix,node_list)");
        kep::MemPtr<tag_t> packed_lines;
        int pack_count = 0;
        step.call("BOM_line_ask_packed_lines(act_child,&pack_count,&packed_lines)",
                  [&] { return BOM_line_ask_packed_lines(act_child, &pack_count, packed_lines.out()); });
        for (int j = 0; j < pack_count && step.ok(); ++j) {
            walk_below(packed_lines[j],
                       "AOM_ask_value_string(act_packed, bomAttr_StandardOccTransform, &trans_matrix_string)",
                       "kep_get_child_lines(act_packed,new_child_matrix,node_list)");
        }
    }
    return step.status();
}

struct NodeWalk {
    int status = 0;
    std::string console;
    std::string syslog;
    std::vector<std::pair<tag_t, std::vector<double>>> nodes;  // tag, box and matrix rows
    long failable_calls = 0;
    std::vector<std::string> calls;  // every failable platform call, in order (memory left out)
};

// The site of the comparisons: boxes and no boxes, the mod-on way, packed lines with children,
// an empty, a missing and an unreadable transform.
Line comparison_structure() {
    const Line p{"p", "boxed/A", translation(0, 0, 7), {{"q", "geo/A", "", {}, {}, "Q1"}}};
    const Line c{
        "c", "bare/A", translation(10, 0, 0), {{"cc", "boxed/A", "null"}}, {p, {"p2", "boxed/A", "x"}}};
    return {"top",
            "asm/A",
            std::nullopt,
            {{"g", "geo/A", translation(1, 2, 3), {}, {}, "G1"},
             {"w", "boxed/A", "0 1 0 0 -1 0 0 0 0 0 1 0 0 5 0 1", {c, {"e", "boxed/A"}}},
             {"h", "geo/A", translation(0, 0, -1), {}, {}, "H1"}}};
}

using Capture = std::function<std::string(const std::function<void()>&)>;

template <class Walk>
NodeWalk run_node_walk(long fail_at, Walk walk, const Capture& capture) {
    standin::reset();
    kep_support_reset_state();
    std::string error;
    EXPECT_TRUE(standin::load_site(site(comparison_structure()), "comparison", &error)) << error;
    standin::set_env("ZODORE_DEBUG", "ON");
    standin::set_env("ZODORE_SYSLOG", "ON");
    standin::set_env("ZODORE_ITKLOG", "ON");
    standin::reset_counters();
    if (fail_at > 0) {
        standin::fail_nth_any(fail_at);
    }
    NodeWalk r;
    kep_matrix_t start;
    kep_matrix_from_string("1 0 0 0 0 0 1 0 0 -1 0 0 4 4 4 1", &start);  // a quarter turn about x
    kep_node_t* list = nullptr;
    r.console = capture([&] { r.status = walk(standin::tag_of("top"), &start, &list); });
    r.syslog = standin::syslog();
    r.failable_calls = standin::failable_calls();
    for (const std::string& op : standin::call_log()) {
        if (kep_test::counts_as_failable(op)) {
            r.calls.push_back(op);
        }
    }
    for (const kep_node_t* n = list; n != nullptr; n = n->next) {
        std::vector<double> values = {n->object->bbox.x1, n->object->bbox.y1, n->object->bbox.z1,
                                      n->object->bbox.x2, n->object->bbox.y2, n->object->bbox.z2};
        values.insert(values.end(), n->object->matrix, n->object->matrix + 12);
        r.nodes.emplace_back(n->tag, values);
    }
    kep_node_list_release(list);
    standin::clear_faults();
    EXPECT_EQ(kep_support_indent_level(), 0);
    EXPECT_EQ(standin::live_blocks(), 0);
    return r;
}

class WalkComparison : public WalkTest {
protected:
    NodeWalk run(long fail_at, bool iterative) {
        const Capture capture = [this](const std::function<void()>& fn) { return capture_console(fn); };
        return iterative ? run_node_walk(fail_at, kep_get_child_lines, capture)
                         : run_node_walk(fail_at, recursive_child_lines, capture);
    }
};

// The same console, system log, nodes and status as the recursive form, first without a fault and
// then with a failure at the walk's own list queries, at the first transform read after each, and
// at every 17th call besides (the walk sees a failure below it only as the status of a box lookup).
TEST_F(WalkComparison, SameTraceAndResultsAsTheRecursiveForm) {
    const NodeWalk baseline = run(0, true);
    ASSERT_GT(baseline.failable_calls, 100);
    ASSERT_EQ(baseline.nodes.size(), 8u);  // top has no box, nor has c; g and h by the representation way
    std::vector<long> fail_at = {0};
    std::string previous;
    long k = 0;
    for (const std::string& op : baseline.calls) {
        ++k;
        const bool walk_call = op == "BOM_ask_window_top_line" || op == "BOM_line_ask_child_lines" ||
                               op == "BOM_line_ask_packed_lines" ||
                               (op == "AOM_ask_value_string" && (previous == "BOM_line_ask_child_lines" ||
                                                                 previous == "BOM_line_ask_packed_lines"));
        if (walk_call || k % 17 == 0) {
            fail_at.push_back(k);
        }
        previous = op;
    }
    for (const long at : fail_at) {
        SCOPED_TRACE("failing call " + std::to_string(at));
        const NodeWalk iterative = run(at, true);
        const NodeWalk recursive = run(at, false);
        EXPECT_EQ(iterative.status, recursive.status);
        EXPECT_EQ(iterative.console, recursive.console);
        EXPECT_EQ(iterative.syslog, recursive.syslog);
        EXPECT_EQ(iterative.nodes, recursive.nodes);
        EXPECT_EQ(iterative.calls, recursive.calls);
        if (::testing::Test::HasFailure()) {
            break;  // one diverging run tells enough
        }
    }
}

// Lines of the window in the order the walk met them (the reverse of the list order).
Strings met_order(const Lines& lines) { return Strings(lines.ids.rbegin(), lines.ids.rend()); }

bool is_prefix(const Strings& part, const Strings& whole) {
    return part.size() <= whole.size() && std::equal(part.begin(), part.end(), whole.begin());
}

bool is_subsequence(const Strings& part, const Strings& whole) {
    size_t at = 0;
    for (const std::string& id : whole) {
        if (at < part.size() && part[at] == id) {
            ++at;
        }
    }
    return at == part.size();
}

// Failures the lookups below the walk keep to themselves: a failed parent lookup ends the mod-on
// walk like a top line; a failed list read is an empty list (the scope restore alone decides the
// list reader's status).
bool passed_on(const std::string& console) {
    const kep_test::FirstFailure failure = kep_test::first_failure(console);
    if (failure.function == "kep_get_parent") {
        return false;
    }
    return !(failure.function == "kep_get_preference_list" &&
             failure.statement != "PREF_set_search_scope(current_scope)");
}

//   top (no box)
//   +- g (representation way, mod-on host top)
//   +- w (0,5,0)
//      +- c (no box)       packed into c: p (no box)
//                                          +- q
TEST_F(WalkTest, FaultSweep) {
    const Line sweep_top{"top",
                         "bare/A",
                         std::nullopt,
                         {{"g", "geo/A", translation(1, 2, 3), {}, {}, "G1"},
                          {"w",
                           "boxed/A",
                           translation(0, 5, 0),
                           {{"c", "bare/A", "", {}, {{"p", "bare/A", translation(0, 0, 7), {{"q"}}}}}}}}};
    std::vector<std::string> consoles;
    std::vector<Lines> results;
    kep_test::FaultCase c;
    c.name = "kep_get_lines_with_bbox";
    c.setup = [&] {
        standin::reset();
        load_site(site(sweep_top));
        set_switches("ON", nullptr, "ON");
    };
    c.run = [&] {
        Lines lines;
        consoles.push_back(capture_console([&] { lines = walk_window(); }));
        results.push_back(lines);
        return lines.status;
    };
    // Checked run by run below, for the failures that are passed on.
    c.may_follow_failure = kep_test::box_lookup_calls();
    c.may_follow_failure.insert({"AOM_ask_value_strings", "BOM_line_ask_attribute_string",
                                 "BOM_line_ask_child_lines", "BOM_line_ask_packed_lines"});
    c.clears_errors = false;
    c.expected_status = [&](const kep_test::FaultRun& r, const kep_test::FaultRun& baseline) {
        if (!r.traced_failure) {
            return baseline.status;
        }
        return passed_on(consoles[static_cast<size_t>(r.k)]) ? static_cast<int>(standin::kErrInjected) : 0;
    };
    const std::vector<kep_test::FaultRun> runs = kep_test::run_fault_sweep(c);
    ASSERT_GT(runs.size(), 100u);
    const Strings all = met_order(results[0]);
    EXPECT_EQ(all, (Strings{"g", "w", "q"}));
    for (const kep_test::FaultRun& r : runs) {
        if (r.k == 0) {
            continue;
        }
        SCOPED_TRACE("failing call " + std::to_string(r.k) + " (" + r.failed_op + ")");
        const Lines& lines = results[static_cast<size_t>(r.k)];
        EXPECT_EQ(lines.ids.empty(), !lines.lists_touched);
        if (lines.status == 0) {
            // A failure kept below the walk may cost a line its box, never adds or moves one.
            EXPECT_TRUE(is_subsequence(met_order(lines), all));
            continue;
        }
        // The lines met before the failure are handed out (memory is still allocated for them),
        // and nothing is asked after it.
        EXPECT_TRUE(is_prefix(met_order(lines), all));
        EXPECT_TRUE(lines.ids.empty() || lines.spare_slot_null);
        for (const std::string& op : r.calls_after_failure()) {
            EXPECT_TRUE(kep_test::allowed_after_any_failure(op) || op == "PREF_set_search_scope")
                << op << " after the failure";
        }
    }
}

}  // namespace
