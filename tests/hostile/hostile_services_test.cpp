// The spatial search services handed arguments no client should send: values that are not
// finite, boxes with their corners the wrong way round, arrays of the wrong length, empty or
// foreign selections, windows that are no windows. Each gets a defined answer and leaves nothing
// behind.
#include <cmath>
#include <limits>

#include "hostile_site.h"

namespace hostile_test {
namespace {

const double kNaN = std::numeric_limits<double>::quiet_NaN();
const double kInf = std::numeric_limits<double>::infinity();
const std::vector<double> kWholeSite = {-10, -10, -10, 10, 10, 10};

const ServiceAnswer kNothing = {0, false, {}};

class HostileServices : public HostileTest {
protected:
    void SetUp() override {
        HostileTest::SetUp();
        ASSERT_NO_FATAL_FAILURE(bind_sweep_site());
    }
};

// A distance or box value that is not finite is refused before the search: every comparison with
// a NaN says "not separated", so such a box would report every line of the window.
TEST_F(HostileServices, NonFiniteDistancesAndBoxValuesAreRefused) {
    for (const double bad : {kNaN, kInf, -kInf}) {
        SCOPED_TRACE(bad);
        EXPECT_EQ(volume(tag("w1"), bad, kWholeSite), kNothing);
        EXPECT_EQ(neighbours(tag("w1"), bad, {tag("leaf")}), kNothing);
        for (size_t i = 0; i < kWholeSite.size(); ++i) {
            SCOPED_TRACE("box value " + std::to_string(i));
            std::vector<double> box = kWholeSite;
            box[i] = bad;
            EXPECT_EQ(volume(tag("w1"), 5.0, box), kNothing);
        }
        expect_nothing_left();
    }
}

// The same queries with finite values find lines: the refusals above are not an empty site.
TEST_F(HostileServices, FiniteExtremesStillSearch) {
    const ServiceAnswer all = volume(tag("w1"), 5.0, kWholeSite);
    EXPECT_EQ(all.status, 0);
    EXPECT_TRUE(all.handed_back);
    EXPECT_EQ(all.lines.size(), 5u);  // every line but mid, which has no box
    const double big = std::numeric_limits<double>::max();
    EXPECT_EQ(volume(tag("w1"), big, kWholeSite).status, 0);
    EXPECT_EQ(volume(tag("w1"), 0.0, {-big, -big, -big, big, big, big}).status, 0);
    EXPECT_EQ(volume(tag("w1"), -5.0, kWholeSite).status, 0);
    EXPECT_EQ(neighbours(tag("w1"), big, {tag("leaf")}).status, 0);
    expect_nothing_left();
}

// Corners the wrong way round are used as they come: the box reaches less far, never further.
TEST_F(HostileServices, InvertedBoxesFindNoMoreThanOrderedOnes) {
    const ServiceAnswer ordered = volume(tag("w1"), 5.0, kWholeSite);
    ASSERT_EQ(ordered.status, 0);
    const std::vector<std::vector<double>> inverted = {
        {10, 10, 10, -10, -10, -10}, {10, -10, -10, -10, 10, 10}, {-10, -10, 10, 10, 10, -10}};
    for (const std::vector<double>& box : inverted) {
        const ServiceAnswer a = volume(tag("w1"), 5.0, box);
        EXPECT_EQ(a.status, 0);
        for (const std::string& line : a.lines) {
            EXPECT_NE(std::find(ordered.lines.begin(), ordered.lines.end(), line), ordered.lines.end())
                << line;
        }
    }
    // Fully inverted by far more than any part measures: nothing reaches anything.
    EXPECT_EQ(volume(tag("w1"), 0.0, {10, 10, 10, -10, -10, -10}), kNothing);
    expect_nothing_left();
}

TEST_F(HostileServices, QueryBoxesOfAnotherLengthAreRefused) {
    for (size_t n : {0u, 1u, 5u, 7u, 12u}) {
        SCOPED_TRACE(n);
        std::vector<double> box(n, 1.0);
        EXPECT_EQ(volume(tag("w1"), 5.0, box), kNothing);
    }
    expect_nothing_left();
}

TEST_F(HostileServices, AnEmptySelectionFindsNothing) {
    EXPECT_EQ(neighbours(tag("w1"), 500.0, {}), kNothing);
    expect_nothing_left();
}

// Selected tags that name nothing, an object that is no line, the window itself or a line twice
// contribute nothing of their own; the real lines among them are searched as usual.
TEST_F(HostileServices, ForeignSelectedTagsContributeNothing) {
    const ServiceAnswer plain = neighbours(tag("w1"), 500.0, {tag("leaf")});
    ASSERT_EQ(plain.status, 0);
    ASSERT_TRUE(plain.handed_back);
    const std::vector<tag_t> strangers = {0u,        999999u,        0xffffffffu, tag("ds_part"),
                                          tag("w1"), tag("bb_part"), tag("mid")};
    EXPECT_EQ(neighbours(tag("w1"), 500.0, strangers), kNothing);
    std::vector<tag_t> mixed = strangers;
    mixed.push_back(tag("leaf"));
    mixed.push_back(tag("leaf"));
    EXPECT_EQ(neighbours(tag("w1"), 500.0, mixed), plain);
    expect_nothing_left();
}

// A window without a top line finds nothing; a tag that is no window fails in the walk with the
// platform's status, and nothing is handed over.
TEST_F(HostileServices, WindowsThatHoldNothingOrAreNoWindows) {
    ASSERT_NO_FATAL_FAILURE(bind(replaced(sweep_test::sweep_site_post_actions(), R"("windows": {)",
                                          R"("windows": { "empty": null,)")));
    EXPECT_EQ(volume(tag("empty"), 5.0, kWholeSite), kNothing);
    EXPECT_EQ(neighbours(tag("empty"), 5.0, {tag("leaf")}), kNothing);
    expect_nothing_left();

    struct Case {
        tag_t window;
        int status;
    };
    const Case cases[] = {{NULLTAG, standin::kErrUnknownTag},
                          {999999u, standin::kErrUnknownTag},
                          {tag("leaf"), standin::kErrWrongKind},
                          {tag("ds_part"), standin::kErrWrongKind}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.window);
        EXPECT_EQ(volume(c.window, 5.0, kWholeSite), (ServiceAnswer{c.status, false, {}}));
        EXPECT_EQ(neighbours(c.window, 5.0, {tag("leaf")}), (ServiceAnswer{c.status, false, {}}));
        expect_nothing_left(true);
    }
}

// Arguments missing or of the wrong kind: the argument operation's failure is the status.
TEST_F(HostileServices, MissingOrMistypedArgumentsFailCleanly) {
    const std::vector<std::vector<standin::UserArg>> calls = {
        {},
        {tag_arg(tag("w1"))},
        {tag_arg(tag("w1")), double_arg(5.0)},
        {double_arg(5.0), tag_arg(tag("w1")), doubles_arg(kWholeSite)},
        {tag_arg(tag("w1")), double_arg(5.0), tags_arg({tag("leaf")})},
    };
    for (const auto& args : calls) {
        EXPECT_EQ(call_service("kep_userservice_volume_search", args),
                  (ServiceAnswer{standin::kErrUserArg, false, {}}));
        expect_nothing_left(true);
    }
    EXPECT_EQ(call_service("kep_userservice_neighbourhood_search",
                           {tag_arg(tag("w1")), double_arg(5.0), doubles_arg(kWholeSite)}),
              (ServiceAnswer{standin::kErrUserArg, false, {}}));
    expect_nothing_left(true);
}

}  // namespace
}  // namespace hostile_test
