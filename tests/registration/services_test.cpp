// The spatial search services: their registration, the volume and the neighbourhood search as a
// client calls them through the platform, malformed and hostile requests, the tag index, and the
// fault sweeps over both services and over the user-service exit.
#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "geometry/kep_geometry.h"
#include "kep_console.h"
#include "kep_fixture.h"
#include "kep_site_text.h"
#include "registration/kep_registration.h"

namespace kep {
int services_last_positions(const tag_t* tags, int n, const tag_t* wanted, int count,
                            int* positions) noexcept;
}

namespace {

using Strings = std::vector<std::string>;
using kep_test::call_exit;
using standin::UserArg;

const char kVolume[] = "kep_userservice_volume_search";
const char kNeighbourhood[] = "kep_userservice_neighbourhood_search";
const char kVolumeRegistration[] =
    "USERSERVICE_register_method( volume_search_functionName, volume_search_functionPtr, "
    "volume_search_numberOfArguments, volume_search_argumentList, volume_search_returnValueType)";
const char kNeighbourhoodRegistration[] =
    "USERSERVICE_register_method( neighbourhood_search_functionName, neighbourhood_search_functionPtr, "
    "neighbourhood_search_numberOfArguments, neighbourhood_search_argumentList, "
    "neighbourhood_search_returnValueType)";
const double kNaN = std::numeric_limits<double>::quiet_NaN();
const double kInf = std::numeric_limits<double>::infinity();

// A child of the top line "top" placed by a translation along x. Revision "unit/A" has the box
// (0,0,0)-(1,1,1) on an auxiliary dataset; "bare/A" has nothing attached.
struct Placed {
    std::string id;
    double x;
    std::string revision = "unit/A";
};

std::string line_json(const Placed& p) {
    std::ostringstream out;
    out << R"({"id": ")" << p.id << R"(", "revision": ")" << p.revision
        << R"(", "transform": "1 0 0 0 0 1 0 0 0 0 1 0 )" << p.x << R"( 0 0 1"})";
    return out.str();
}

std::string window_json(const std::string& top_id, const std::vector<Placed>& children) {
    std::string out = R"({"id": ")" + top_id + R"(", "revision": "asm/A", "children": [)";
    for (size_t i = 0; i < children.size(); ++i) {
        out += (i == 0 ? "" : ", ") + line_json(children[i]);
    }
    return out + "]}";
}

// Window w1 holds the lines below; w2 holds one boxed line "other"; w3 has no top line.
std::string site_json(const std::vector<Placed>& children) {
    return R"({
  "types": {"AuxPart": "Dataset", "BBForm": "Form"},
  "preferences": {
    )" + kep_test::dataset_type_preferences() +
           R"(
  },
  "relation_types": ["IMAN_specification"],
  "objects": {
    "asm/A": {"type": "ItemRevision", "item_id": "ASM"},
    "unit/A": {"type": "ItemRevision", "item_id": "UNIT"},
    "bare/A": {"type": "ItemRevision", "item_id": "BARE"},
    "aux": {"type": "AuxPart", "name": "UNIT/A", "refs": {"VAR2BBInfo": ["bb"]}},
    "bb": {"type": "BBForm", "attributes": {"var2_bb_x1": 0, "var2_bb_y1": 0, "var2_bb_z1": 0,
                                            "var2_bb_x2": 1, "var2_bb_y2": 1, "var2_bb_z2": 1}}
  },
  "relations": [["unit/A", "IMAN_reference", "aux"]],
  "windows": {"w1": )" +
           window_json("top", children) + R"(, "w2": )" + window_json("top2", {{"other", 0}}) +
           R"(, "w3": null}})";
}

// a [0,1] and b [1,2] touch, b and c [2,3] touch, f [10,11] is far away, d has no box. The walk
// meets top, a, b, c, f, d; the object list is f, c, b, a (top and d have no box).
std::vector<Placed> row() { return {{"a", 0}, {"b", 1}, {"c", 2}, {"f", 10}, {"d", 0.5, "bare/A"}}; }

tag_t tag(const std::string& id) { return standin::tag_of(id); }

UserArg tag_arg(tag_t t) {
    UserArg a{UserArg::Tag};
    a.tag = t;
    return a;
}
UserArg double_arg(double v) {
    UserArg a{UserArg::Double};
    a.value = v;
    return a;
}
UserArg doubles_arg(std::vector<double> values) {
    UserArg a{UserArg::DoubleArray};
    a.doubles = std::move(values);
    return a;
}
UserArg lines_arg(const Strings& ids) {
    UserArg a{UserArg::TagArray};
    for (const std::string& id : ids) {
        a.tags.push_back(tag(id));
    }
    return a;
}
std::vector<UserArg> volume_args(double delta_mm, std::vector<double> box, const std::string& window = "w1") {
    return {tag_arg(tag(window)), double_arg(delta_mm), doubles_arg(std::move(box))};
}
std::vector<UserArg> neighbourhood_args(double delta_mm, const Strings& ids,
                                        const std::string& window = "w1") {
    return {tag_arg(tag(window)), double_arg(delta_mm), lines_arg(ids)};
}

// The lines of the entry and exit level of the service and its own messages (depth 0 and 1).
std::string outer_lines(const std::string& console) {
    std::istringstream in(console);
    std::string line, out;
    while (std::getline(in, line)) {
        const size_t indent = line.find_first_not_of(' ');
        if (indent == 0 || indent == 4) {
            out += line + "\n";
        }
    }
    return out;
}

struct Answer {
    int status = -1;
    bool handed_back = false;
    Strings ids;
    std::string console;
};

class ServicesTest : public kep_test::KepFixture {
protected:
    // Loads the site and registers the services, with the given switches.
    void prepare(const std::vector<Placed>& children = row(), bool trace = false) {
        ASSERT_NO_FATAL_FAILURE(load_site(site_json(children)));
        set_switches("ON", nullptr, trace ? "ON" : nullptr);
        int status = -1;
        capture_console([&] { status = kep_register_userservice_methods(); });
        ASSERT_EQ(status, 0);
        standin::reset_counters();
    }

    Answer call(const char* service, const std::vector<UserArg>& args) {
        Answer a;
        std::vector<tag_t> returned;
        a.console = capture_console(
            [&] { a.status = standin::call_service(service, args, &returned, &a.handed_back); });
        for (tag_t t : returned) {
            a.ids.push_back(standin::id_of(t));
        }
        return a;
    }
};

// ---- Registration ----------------------------------------------------------------------------

TEST_F(ServicesTest, RegistersBothServicesWithTheirTypeCodes) {
    set_switches("ON", nullptr, "ON");
    int status = -1;
    const std::string console = capture_console([&] { status = kep_register_userservice_methods(); });
    EXPECT_EQ(status, 0);
    EXPECT_EQ(console, std::string(">>> kep_register_userservice_methods\n"
                                   "    registering user service [kep_userservice_volume_search]\n"
                                   "    executing [    ") +
                           kVolumeRegistration +
                           "    ]\n"
                           "    registering user service [kep_userservice_neighbourhood_search]\n"
                           "    executing [    " +
                           kNeighbourhoodRegistration +
                           "    ]\n"
                           "<<< kep_register_userservice_methods\n");
    const std::vector<standin::ServiceInfo> infos = standin::service_infos();
    ASSERT_EQ(infos.size(), 2u);
    EXPECT_EQ(infos[0].name, kVolume);
    EXPECT_EQ(infos[0].argument_count, 3);
    EXPECT_EQ(infos[0].argument_types, (std::vector<int>{9, 3, 103}));
    EXPECT_EQ(infos[0].return_type, 109);
    EXPECT_EQ(infos[1].name, kNeighbourhood);
    EXPECT_EQ(infos[1].argument_count, 3);
    EXPECT_EQ(infos[1].argument_types, (std::vector<int>{9, 3, 109}));
    EXPECT_EQ(infos[1].return_type, 109);
    expect_clean();
}

TEST_F(ServicesTest, AFailedRegistrationSkipsTheLaterOneButNotItsMessage) {
    struct Case {
        int failing;
        const char* statement;
        Strings registered;
    };
    const Case cases[] = {{1, kVolumeRegistration, {}}, {2, kNeighbourhoodRegistration, {kVolume}}};
    for (const Case& c : cases) {
        SCOPED_TRACE("failing registration " + std::to_string(c.failing));
        standin::reset();
        kep_support_reset_state();
        set_switches("ON", nullptr, nullptr);
        standin::fail_call("USERSERVICE_register_method", c.failing, 4711);
        int status = 0;
        const std::string console = capture_console([&] { status = kep_register_userservice_methods(); });
        EXPECT_EQ(status, 4711);
        EXPECT_EQ(standin::call_count("USERSERVICE_register_method"), c.failing);
        EXPECT_EQ(standin::registered_services(), c.registered);
        EXPECT_NE(console.find("    registering user service [kep_userservice_volume_search]\n"),
                  std::string::npos);
        EXPECT_NE(console.find("    registering user service [kep_userservice_neighbourhood_search]\n"),
                  std::string::npos);
        EXPECT_NE(console.find(std::string("    ERROR while processing following statement\n    ") +
                               c.statement + "\n        ERROR stack:\n"),
                  std::string::npos)
            << console;
        expect_clean();
    }
}

TEST_F(ServicesTest, FaultSweepOverTheUserServiceExit) {
    std::vector<int> decisions;
    kep_test::FaultCase c;
    c.name = "kep_custom_userservice_register_methods";
    c.setup = [] {
        standin::reset();
        set_switches("ON", nullptr, "ON");
    };
    c.clears_errors = false;  // registrations leave their failures to the platform
    c.run = [&] {
        int decision = 0;
        int status = -1;
        capture_console([&] { status = call_exit(kep_custom_userservice_register_methods, &decision); });
        decisions.push_back(decision);
        return status;
    };
    const std::vector<kep_test::FaultRun> runs = kep_test::run_fault_sweep(c);
    ASSERT_GE(runs.size(), 3u);
    EXPECT_EQ(runs[0].count("USERSERVICE_register_method"), 2);
    for (size_t i = 0; i < runs.size(); ++i) {
        EXPECT_EQ(decisions[i], 2) << "run " << i;
    }
    // The last two failable calls are the two service registrations.
    EXPECT_EQ(runs[runs.size() - 1].failed_op, "USERSERVICE_register_method");
    EXPECT_EQ(runs[runs.size() - 2].failed_op, "USERSERVICE_register_method");
    EXPECT_EQ(runs[runs.size() - 2].count("USERSERVICE_register_method"), 1);
}

// ---- Volume search ---------------------------------------------------------------------------

TEST_F(ServicesTest, VolumeSearchFindsTheLinesWhoseBoxesOverlap) {
    struct Case {
        const char* what;
        double delta_mm;
        std::vector<double> box;
        Strings expected;  // empty: nothing handed over
    };
    const Case cases[] = {
        // Every line with a box, in object-list order, and never the query object.
        {"box around everything", 0, {-100, -100, -100, 100, 100, 100}, {"f", "c", "b", "a"}},
        {"box inside b", 0, {1.2, 0.2, 0.2, 1.8, 0.8, 0.8}, {"b"}},
        // c ends at x = 3; the box starts 4 mm further: 5 mm reach it, 3 mm do not.
        {"gap of 4 mm, 5 mm distance", 5, {3.004, 0, 0, 3.5, 1, 1}, {"c"}},
        {"gap of 4 mm, 3 mm distance", 3, {3.004, 0, 0, 3.5, 1, 1}, {}},
        // Corners in the wrong order are used as they come: negative half extents reach less.
        {"inverted corners", 5, {3.5, 1, 1, 3.004, 0, 0}, {}},
        {"box next to nothing", 0, {20, 20, 20, 21, 21, 21}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        standin::reset();
        ASSERT_NO_FATAL_FAILURE(prepare());
        const Answer a = call(kVolume, volume_args(c.delta_mm, c.box));
        EXPECT_EQ(a.status, 0);
        EXPECT_EQ(a.handed_back, !c.expected.empty());
        EXPECT_EQ(a.ids, c.expected);
        expect_clean();
    }
}

// The platform copies the handed-back tags; a service that kept its own list for it would lose
// one block per search.
TEST_F(ServicesTest, HandedBackListIsNotLeaked) {
    ASSERT_NO_FATAL_FAILURE(prepare());
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(call(kVolume, volume_args(0, {-100, -100, -100, 100, 100, 100})).ids.size(), 4u);
        EXPECT_EQ(call(kNeighbourhood, neighbourhood_args(0, {"a", "b"})).ids.size(), 3u);
        EXPECT_EQ(standin::live_blocks(), 0);
    }
    EXPECT_EQ(standin::call_count("USERSERVICE_return_tag_array"), 6);
    expect_clean();
}

TEST_F(ServicesTest, VolumeSearchTrace) {
    ASSERT_NO_FATAL_FAILURE(prepare(row(), true));
    const Answer a = call(kVolume, volume_args(5, {3.004, 0, 0, 3.5, 1, 1}));
    ASSERT_EQ(a.status, 0);
    const std::string window = std::to_string(tag("w1"));
    EXPECT_EQ(outer_lines(a.console),
              ">>> kep_userservice_volume_search\n"
              "    executing [    USERARG_get_tag_argument(&bom_window_tag)    ]\n"
              "    bom_window_tag: [" +
                  window +
                  "]\n"
                  "    executing [    USERARG_get_double_argument(&delta_value)    ]\n"
                  "    delta_value in mm[5.000000e+00]\n"
                  "    executing [    USERARG_get_double_array_argument(&num_doubles_bb,&doubles_bb)    ]\n"
                  "    num_doubles_bb [6]\n"
                  "    executing [    kep_get_lines_with_bbox(bom_window_tag,&num_object3d,&object3d_list,"
                  "&tag_list)    ]\n"
                  "    >>> kep_get_lines_with_bbox\n"
                  "    <<< kep_get_lines_with_bbox\n"
                  "    found [4] objects with bbox\n"
                  "    >>> x7ComputeNeighbourhood\n"
                  "    <<< x7ComputeNeighbourhood\n"
                  "    executing [    USERSERVICE_return_tag_array(result_tag_list,num_result,"
                  "(USERSERVICE_array_t *)return_value)    ]\n"
                  "<<< kep_userservice_volume_search\n");
    // The query object is searched from the spare slot behind the four lines, enlarged by 0.005.
    EXPECT_NE(a.console.find("        Index A:4\n"), std::string::npos);
    expect_clean();
}

// Requests that end before the walk: status 0 for malformed ones, the argument operation's status
// when it fails; the messages are logged with the values as they stand.
TEST_F(ServicesTest, RequestsThatEndBeforeTheSearch) {
    struct Case {
        const char* what;
        const char* service;
        std::vector<UserArg> args;
        int status;
        Strings messages;
        long argument_calls;  // USERARG_* calls made
    };
    const UserArg window = tag_arg(1);
    const std::vector<double> box = {0, 0, 0, 1, 1, 1};
    const Case cases[] = {
        {"five doubles",
         kVolume,
         {window, double_arg(1), doubles_arg({0, 0, 0, 1, 1})},
         0,
         {"num_doubles_bb [5]\n"},
         3},
        {"seven doubles",
         kVolume,
         {window, double_arg(1), doubles_arg({0, 0, 0, 1, 1, 1, 1})},
         0,
         {"num_doubles_bb [7]\n"},
         3},
        {"no doubles", kVolume, {window, double_arg(1), doubles_arg({})}, 0, {"num_doubles_bb [0]\n"}, 3},
        {"NaN in the box",
         kVolume,
         {window, double_arg(1), doubles_arg({0, 0, kNaN, 1, 1, 1})},
         0,
         {"num_doubles_bb [6]\n"},
         3},
        {"infinite box", kVolume, {window, double_arg(1), doubles_arg({-kInf, 0, 0, kInf, 1, 1})}, 0, {}, 3},
        {"NaN distance", kVolume, {window, double_arg(kNaN), doubles_arg(box)}, 0, {}, 3},
        {"infinite distance",
         kNeighbourhood,
         {window, double_arg(kInf), lines_arg({"a"})},
         0,
         {"delta_value in mm[inf]\n", "num_selected_bom_lines [1]\n"},
         3},
        {"empty selection",
         kNeighbourhood,
         {window, double_arg(1), lines_arg({})},
         0,
         {"num_selected_bom_lines [0]\n"},
         3},
        {"no arguments",
         kVolume,
         {},
         standin::kErrUserArg,
         {"bom_window_tag: [0]\n", "delta_value in mm[0.000000e+00]\n", "num_doubles_bb [0]\n"},
         1},
        {"box of the wrong type",
         kVolume,
         {window, double_arg(2), lines_arg({"a"})},
         standin::kErrUserArg,
         {"delta_value in mm[2.000000e+00]\n", "num_doubles_bb [0]\n"},
         3},
        {"distance missing",
         kNeighbourhood,
         {window},
         standin::kErrUserArg,
         {"bom_window_tag: [1]\n", "num_selected_bom_lines [0]\n"},
         2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        standin::reset();
        ASSERT_NO_FATAL_FAILURE(prepare());
        const Answer a = call(c.service, c.args);
        EXPECT_EQ(a.status, c.status);
        EXPECT_FALSE(a.handed_back);
        for (const std::string& m : c.messages) {
            EXPECT_NE(a.console.find("    " + m), std::string::npos) << m << a.console;
        }
        EXPECT_EQ(standin::call_count("BOM_ask_window_top_line"), 0) << "no walk";
        long argument_calls = 0;
        for (const auto& entry : standin::call_counts()) {
            argument_calls += entry.first.rfind("USERARG_", 0) == 0 ? entry.second : 0;
        }
        EXPECT_EQ(argument_calls, c.argument_calls);
        expect_clean();
    }
}

// Windows in which nothing can be found, for both services.
TEST_F(ServicesTest, WindowsWithoutLinesWithBoxes) {
    struct Case {
        const char* what;
        std::vector<Placed> children;
        std::string window;  // "" for a tag that names nothing
        int status;
    };
    const std::vector<Placed> bare = {{"a", 0, "bare/A"}, {"b", 1, "bare/A"}};
    const Case cases[] = {
        {"no line has a box", bare, "w1", 0},
        {"no top line", row(), "w3", 0},
        {"a line in the window's place", row(), "a", standin::kErrWrongKind},
        {"a tag that names nothing", row(), "", standin::kErrUnknownTag},
    };
    for (const Case& c : cases) {
        for (const char* service : {kVolume, kNeighbourhood}) {
            SCOPED_TRACE(std::string(c.what) + ", " + service);
            standin::reset();
            ASSERT_NO_FATAL_FAILURE(prepare(c.children));
            const tag_t window = c.window.empty() ? 987654 : tag(c.window);
            const std::vector<UserArg> args = {tag_arg(window), double_arg(1),
                                               std::string(service) == kVolume
                                                   ? doubles_arg({-100, -100, -100, 100, 100, 100})
                                                   : lines_arg({"a", "b"})};
            const Answer a = call(service, args);
            EXPECT_EQ(a.status, c.status);
            EXPECT_FALSE(a.handed_back);
            EXPECT_NE(a.console.find("    found [0] objects with bbox\n"), std::string::npos) << a.console;
            EXPECT_EQ(standin::call_count("USERSERVICE_return_tag_array"), 0);
            standin::clear_faults();
            expect_clean();
        }
    }
}

// ---- Neighbourhood search ----------------------------------------------------------------------

TEST_F(ServicesTest, NeighbourhoodSearchFindsEachLineOnceInOrderOfFirstReport) {
    struct Case {
        const char* what;
        double delta_mm;
        Strings selected;
        Strings expected;  // empty: nothing handed over
    };
    // Object list: f, c, b, a; a touches b, b touches c.
    const Case cases[] = {
        // a reports b; b reports c and a (ascending positions): each once.
        {"two adjacent lines", 0, {"a", "b"}, {"b", "c", "a"}},
        {"the same two the other way round", 0, {"b", "a"}, {"c", "a", "b"}},
        // a reaches c and b (ascending), c then reaches b again and a: b stays at its first place.
        {"a line next to two selected lines", 1500, {"a", "c"}, {"c", "b", "a"}},
        {"a line selected twice", 0, {"a", "a"}, {"b"}},
        // d has no box, other is in another window, the window and a line of nothing are no lines.
        {"selections without a box", 0, {"d", "other", "w1", "top", "a"}, {"b"}},
        {"only selections without a box", 0, {"d", "other"}, {}},
        {"a line without neighbours", 0, {"f"}, {}},
        {"a distance that reaches f", 7100, {"c"}, {"f", "b", "a"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        standin::reset();
        ASSERT_NO_FATAL_FAILURE(prepare());
        std::vector<UserArg> args = neighbourhood_args(c.delta_mm, c.selected);
        if (std::string(c.what) == "selections without a box") {
            args[2].tags.insert(args[2].tags.begin() + 2, {0, 987654});
        }
        const Answer a = call(kNeighbourhood, args);
        EXPECT_EQ(a.status, 0);
        EXPECT_EQ(a.handed_back, !c.expected.empty());
        EXPECT_EQ(a.ids, c.expected);
        expect_clean();
    }
}

TEST_F(ServicesTest, NeighbourhoodSearchTrace) {
    ASSERT_NO_FATAL_FAILURE(prepare(row(), true));
    const Answer a = call(kNeighbourhood, neighbourhood_args(5, {"d", "a", "c"}));
    ASSERT_EQ(a.status, 0);
    EXPECT_EQ(a.ids, (Strings{"b"}));
    const std::string window = std::to_string(tag("w1"));
    // One overlap computation per selected line that has a box (a at 3, c at 1), none for d.
    EXPECT_EQ(outer_lines(a.console),
              ">>> kep_userservice_neighbourhood_search\n"
              "    executing [    USERARG_get_tag_argument(&bom_window_tag)    ]\n"
              "    bom_window_tag: [" +
                  window +
                  "]\n"
                  "    executing [    USERARG_get_double_argument(&delta_value)    ]\n"
                  "    delta_value in mm[5.000000e+00]\n"
                  "    executing [    USERARG_get_tag_array_argument(&num_selected_bom_lines,"
                  "&selected_bom_lines)    ]\n"
                  "    num_selected_bom_lines [3]\n"
                  "    executing [    kep_get_lines_with_bbox(bom_window_tag,&num_object3d,&object3d_list,"
                  "&tag_list)    ]\n"
                  "    >>> kep_get_lines_with_bbox\n"
                  "    <<< kep_get_lines_with_bbox\n"
                  "    found [4] objects with bbox\n"
                  "    >>> x7ComputeNeighbourhood\n"
                  "    <<< x7ComputeNeighbourhood\n"
                  "    >>> x7ComputeNeighbourhood\n"
                  "    <<< x7ComputeNeighbourhood\n"
                  "    executing [    USERSERVICE_return_tag_array(result_tag_list,num_result,"
                  "(USERSERVICE_array_t *)return_value)    ]\n"
                  "<<< kep_userservice_neighbourhood_search\n");
    const size_t first = a.console.find("        Index A:3\n");
    EXPECT_NE(first, std::string::npos);
    EXPECT_NE(a.console.find("        Index A:1\n", first), std::string::npos);
    expect_clean();
}

// The index from tag to position against a plain search from the end, on lists where tags
// repeat, collide in the table and take extreme values.
TEST(ServicesTagIndex, FindsTheLastPositionOfEveryTag) {
    std::mt19937 rng(20240611);
    struct Shape {
        int n;
        unsigned range;  // tags drawn from 0 .. range - 1, then spread
    };
    for (const Shape shape :
         {Shape{1, 1}, Shape{3, 2}, Shape{17, 5}, Shape{1000, 700}, Shape{4096, 1u << 20}}) {
        SCOPED_TRACE("n = " + std::to_string(shape.n));
        std::vector<tag_t> tags(static_cast<size_t>(shape.n));
        for (tag_t& t : tags) {
            const tag_t r = static_cast<tag_t>(rng() % shape.range);
            t = r % 3 == 0 ? r << 12 : (r % 3 == 1 ? 0xFFFFFFFFu - r : r);  // same low or high bits
        }
        std::vector<tag_t> wanted(tags.begin(), tags.end());
        for (unsigned extra : {0u, 1u, 0x80000000u, 0xFFFFFFFFu, 0xDEADBEEFu}) {
            wanted.push_back(extra);
        }
        std::vector<int> positions(wanted.size(), -2);
        ASSERT_EQ(kep::services_last_positions(tags.data(), shape.n, wanted.data(),
                                               static_cast<int>(wanted.size()), positions.data()),
                  0);
        for (size_t i = 0; i < wanted.size(); ++i) {
            const auto last = std::find(tags.rbegin(), tags.rend(), wanted[i]);
            const int expected = last == tags.rend() ? -1 : static_cast<int>(tags.rend() - last) - 1;
            ASSERT_EQ(positions[i], expected) << "tag " << wanted[i];
        }
    }
    // A tag that stands twice: its last position.
    const tag_t twice[] = {5, 7, 5, 9};
    const tag_t asked[] = {5, 7, 9, 6};
    int found[4] = {};
    ASSERT_EQ(kep::services_last_positions(twice, 4, asked, 4, found), 0);
    EXPECT_EQ(std::vector<int>(found, found + 4), (std::vector<int>{2, 1, 3, -1}));
    EXPECT_EQ(standin::live_blocks(), 0);
}

// ---- Fault sweeps ------------------------------------------------------------------------------

// The walk's status when its k-th failable call fails: what the service must return when the
// same call fails inside it.
class ServicesSweep : public ServicesTest {
protected:
    int walk_status(long k) {
        setup();
        kep_support_reset_state();
        standin::clear_faults();
        standin::reset_counters();
        standin::fail_nth_any(k);
        int status = -1;
        capture_console([&] {
            int count = 0;
            kep_object3d_t** objects = nullptr;
            tag_t* tags = nullptr;
            status = kep_get_lines_with_bbox(tag("w1"), &count, &objects, &tags);
            for (int i = 0; count > 0 && i <= count; ++i) {
                MEM_free(objects[i]);
            }
            MEM_free(objects);
            MEM_free(tags);
        });
        standin::clear_faults();
        return status;
    }

    void setup() {
        standin::reset();
        load_site(site_json({{"a", 0}, {"b", 1}, {"d", 0.5, "bare/A"}}));
        set_switches("ON", nullptr, "ON");
        capture_console([] { kep_register_userservice_methods(); });
    }

    // make_args builds the arguments once the site is loaded (tags are known then).
    void sweep(const char* service, const std::function<std::vector<UserArg>()>& make_args,
               const Strings& everything) {
        std::vector<Answer> answers;
        kep_test::FaultCase c;
        c.name = service;
        c.setup = [&] { setup(); };
        c.run = [&] {
            answers.push_back(call(service, make_args()));
            return answers.back().status;
        };
        // Failures below the walk that the lookups keep to themselves let the walk go on, and
        // after a failure passed on the walk still hands out its lines and the search runs over
        // them; the status rule below and the checks after the sweep cover both.
        c.may_follow_failure = kep_test::box_lookup_calls();
        c.may_follow_failure.insert(
            {"BOM_line_ask_child_lines", "BOM_line_ask_packed_lines", "USERSERVICE_return_tag_array"});
        c.clears_errors = false;
        const long argument_calls = 3;  // the three USERARG_* calls come before the walk
        c.expected_status = [&](const kep_test::FaultRun& r, const kep_test::FaultRun& baseline) {
            if (!r.traced_failure) {
                return baseline.status;
            }
            if (r.k <= argument_calls || r.failed_op == "USERSERVICE_return_tag_array") {
                return static_cast<int>(standin::kErrInjected);
            }
            return walk_status(r.k - argument_calls);
        };
        const std::vector<kep_test::FaultRun> runs = kep_test::run_fault_sweep(c);
        ASSERT_GT(runs.size(), 20u);
        EXPECT_EQ(answers[0].ids, everything);
        for (const kep_test::FaultRun& r : runs) {
            if (r.k == 0) {
                continue;
            }
            SCOPED_TRACE("failing call " + std::to_string(r.k) + " (" + r.failed_op + ")");
            const Answer& a = answers[static_cast<size_t>(r.k)];
            if (r.k <= argument_calls) {
                for (const std::string& op : r.calls_after_failure()) {
                    EXPECT_TRUE(op == "MEM_free" || op == "EMH_ask_errors" || op == "TC_getenv" ||
                                op == "TC_write_syslog")
                        << op << " after a failed argument operation";
                }
            }
            if (a.status != 0) {
                EXPECT_FALSE(a.handed_back && r.failed_op != "USERSERVICE_return_tag_array");
                EXPECT_EQ(r.count("USERSERVICE_return_tag_array"),
                          r.failed_op == "USERSERVICE_return_tag_array");
                continue;
            }
            // A failure kept below the walk may cost a line its box, never adds or moves one.
            size_t at = 0;
            for (const std::string& id : everything) {
                at += at < a.ids.size() && a.ids[at] == id ? 1 : 0;
            }
            EXPECT_EQ(at, a.ids.size()) << "result is not a part of the full result";
        }
    }
};

TEST_F(ServicesSweep, VolumeSearch) {
    sweep(kVolume, [] { return volume_args(1, {-10, -10, -10, 10, 10, 10}); }, {"b", "a"});
}

TEST_F(ServicesSweep, NeighbourhoodSearch) {
    sweep(kNeighbourhood, [] { return neighbourhood_args(0, {"a", "d", "b"}); }, {"b", "a"});
}

}  // namespace
