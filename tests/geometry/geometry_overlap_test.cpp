// Neighbourhood computation: hand-derived cases, statuses, the logged trace, and the one-pass
// computation (logging off) against the logged three passes on random scenes.
#include <cmath>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "geometry/kep_geometry.h"
#include "geometry/kep_overlap_internal.h"
#include "geometry_scene.h"
#include "kep_fixture.h"

namespace {

using geometry_test::centred_box;
using geometry_test::identity_rotation;
using geometry_test::make_object;
using geometry_test::Neighbours;
using geometry_test::neighbours;
using geometry_test::Rotation;
using geometry_test::Scene;
using kep_test::KepFixture;

class OverlapTest : public KepFixture {};

const std::array<double, 3> kUnitHalf = {0.5, 0.5, 0.5};
const double kNaN = std::numeric_limits<double>::quiet_NaN();
const double kInf = std::numeric_limits<double>::infinity();
const double kHuge = 1e200;  // finite, but its square is not

// ---- x7obb_overlap: strict comparison on face axes -------------------------------------------

TEST_F(OverlapTest, FaceAxisSeparatesOnlyWhenStrictlyBeyondTouching) {
    const double I[9] = {1, 0, 0, 0, 1, 0, 0, 0, 1};
    const double just = std::nextafter(1.0, 2.0);
    const double just2 = std::nextafter(2.0, 3.0);
    const double zero[3] = {0, 0, 0};
    const double unit[3] = {1, 1, 1};
    const double b123[3] = {1, 2, 3};
    const struct {
        const char* name;
        double t[3];
        const double* a;
        const double* b;
        int overlap;
    } cases[] = {
        // A's face axes: B a point, exactly on A's face or one step beyond.
        {"axis 1 touching", {1, 0, 0}, unit, zero, 1},
        {"axis 1 beyond", {just, 0, 0}, unit, zero, 0},
        {"axis 2 touching", {0, -1, 0}, unit, zero, 1},
        {"axis 2 beyond", {0, -just, 0}, unit, zero, 0},
        {"axis 3 touching", {0, 0, 1}, unit, zero, 1},
        {"axis 3 beyond", {0, 0, just}, unit, zero, 0},
        // B's face axes: A a point, exactly on B's face or one step beyond (A's own axes are
        // padded by the tolerance and do not separate).
        {"axis 4 touching", {1, 0, 0}, zero, b123, 1},
        {"axis 4 beyond", {just, 0, 0}, zero, b123, 0},
        {"axis 5 touching", {0, 2, 0}, zero, b123, 1},
        {"axis 5 beyond", {0, just2, 0}, zero, b123, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(x7obb_overlap(I, c.t, c.a, c.b), c.overlap);
    }
}

TEST_F(OverlapTest, ConversionIntoFrameOfA) {
    // A turned a quarter about z at (1, 0, 0); B unturned at (1, 2, 0): seen from A, B lies on
    // A's x axis at 2 and is turned back a quarter.
    kep_body_t a = {{1, 0, 0}, {1, 1, 1}, {0, -1, 0, 1, 0, 0, 0, 0, 1}, 1};
    kep_body_t b = {{1, 2, 0}, {3, 4, 5}, {1, 0, 0, 0, 1, 0, 0, 0, 1}, 1};
    x7umrechnen_a(&a, &b);
    const double centre[3] = {2, 0, 0};
    const double orientation[9] = {0, 1, 0, -1, 0, 0, 0, 0, 1};
    for (int k = 0; k < 3; ++k) {
        EXPECT_EQ(b.mittelpunkt[k], centre[k]) << k;
        EXPECT_EQ(b.radius[k], 3.0 + k) << k;
    }
    for (int k = 0; k < 9; ++k) {
        EXPECT_EQ(b.richtung[k], orientation[k]) << k;
    }
}

// ---- Hand-derived scenes -------------------------------------------------------------------

// Separation of two boxes along direction L (not normalised), by projecting both boxes' axes:
// positive when L separates them. Independent of the frame-of-A arithmetic under test.
double separation(const double L[3], const kep_object3d_t& a, double delta, const kep_object3d_t& b) {
    auto dot = [](const double* u, const double* v) { return u[0] * v[0] + u[1] * v[1] + u[2] * v[2]; };
    auto centre = [](const kep_object3d_t& o, int r) {
        const double c[3] = {(o.bbox.x1 + o.bbox.x2) / 2, (o.bbox.y1 + o.bbox.y2) / 2,
                             (o.bbox.z1 + o.bbox.z2) / 2};
        return o.matrix[4 * r] * c[0] + o.matrix[4 * r + 1] * c[1] + o.matrix[4 * r + 2] * c[2] +
               o.matrix[4 * r + 3];
    };
    auto extent = [&](const kep_object3d_t& o, double grow) {
        const double h[3] = {(o.bbox.x2 - o.bbox.x1) / 2 + grow, (o.bbox.y2 - o.bbox.y1) / 2 + grow,
                             (o.bbox.z2 - o.bbox.z1) / 2 + grow};
        double sum = 0;
        for (int k = 0; k < 3; ++k) {
            const double axis[3] = {o.matrix[k], o.matrix[4 + k], o.matrix[8 + k]};
            sum += h[k] * std::fabs(dot(L, axis));
        }
        return sum;
    };
    const double d[3] = {centre(b, 0) - centre(a, 0), centre(b, 1) - centre(a, 1),
                         centre(b, 2) - centre(a, 2)};
    return std::fabs(dot(L, d)) - extent(a, delta) - extent(b, 0);
}

// The 15 candidate axes in the order of the test: A0..A2, B0..B2, then Ai x Bj with j outer.
std::vector<std::array<double, 3>> candidate_axes(const kep_object3d_t& a, const kep_object3d_t& b) {
    std::vector<std::array<double, 3>> axes;
    auto axis = [](const kep_object3d_t& o, int k) {
        return std::array<double, 3>{o.matrix[k], o.matrix[4 + k], o.matrix[8 + k]};
    };
    for (int k = 0; k < 3; ++k) {
        axes.push_back(axis(a, k));
    }
    for (int k = 0; k < 3; ++k) {
        axes.push_back(axis(b, k));
    }
    for (int j = 0; j < 3; ++j) {
        for (int i = 0; i < 3; ++i) {
            const auto u = axis(a, i);
            const auto v = axis(b, j);
            axes.push_back({u[1] * v[2] - u[2] * v[1], u[2] * v[0] - u[0] * v[2], u[0] * v[1] - u[1] * v[0]});
        }
    }
    return axes;
}

struct SceneCase {
    const char* name;
    std::vector<kep_object3d_t> objects;
    int index_a;
    double delta;
    int status;
    std::vector<int> positions;
};

TEST_F(OverlapTest, HandDerivedScenes) {
    const Rotation I = identity_rotation();
    const double c = 0.7071068;
    // B: A's cube turned 45 degrees about x, then 45 about z, centred at (0, 2, 2.1); B's edge
    // along its axis 2 passes just beyond A's edge along x:  A[]  <>B  (seen along A0 x B2).
    const Rotation turned = {c, -0.5, 0.5, c, 0.5, -0.5, 0, c, c};
    const kep_object3d_t cube = centred_box({1, 1, 1}, I, {0, 0, 0});
    const kep_object3d_t tilted = centred_box({1, 1, 1}, turned, {0, 2, 2.1});
    // A unit box and one turned 45 degrees about z whose corner points at A along x, the gap
    // (1.3271 - 0.5 - 0.7071 = 0.12) lying between delta 0.1 on A (reaches 0.1) and delta 0.1
    // on the turned box (its corner moves 0.1 * sqrt(2) = 0.141):  [A]  <B>
    const double s = std::sqrt(0.5);
    const Rotation z45 = {s, -s, 0, s, s, 0, 0, 0, 1};
    const kep_object3d_t left = centred_box(kUnitHalf, I, {0, 0, 0});
    const kep_object3d_t diamond = centred_box(kUnitHalf, z45, {0.5 + std::sqrt(0.5) + 0.12, 0, 0});

    const kep_object3d_t huge = centred_box(kUnitHalf, {kHuge, 0, 0, 0, kHuge, 0, 0, 0, 1}, {0, 0, 0});

    const SceneCase cases[] = {
        {"touching at 1.0", {left, centred_box(kUnitHalf, I, {1.0, 0, 0})}, 0, 0.0, 0, {1}},
        {"apart by 1.0000001", {left, centred_box(kUnitHalf, I, {1.0000001, 0, 0})}, 0, 0.0, 0, {}},
        {"apart by 1.0000001, delta 0.001",
         {left, centred_box(kUnitHalf, I, {1.0000001, 0, 0})},
         0,
         0.001,
         0,
         {1}},
        {"45/45, delta 0", {cube, tilted}, 0, 0.0, 0, {}},
        {"45/45, delta 0.03", {cube, tilted}, 0, 0.03, 0, {}},
        {"45/45, delta 0.05", {cube, tilted}, 0, 0.05, 0, {1}},
        {"delta on A only, asked for A", {left, diamond}, 0, 0.1, 0, {}},
        {"delta on A only, asked for the turned box", {left, diamond}, 1, 0.1, 0, {0}},
        {"one object", {left}, 0, 1.0, 0, {}},
        {"ascending, A excluded",
         {centred_box(kUnitHalf, I, {0.5, 0, 0}), centred_box(kUnitHalf, I, {9, 0, 0}), left,
          centred_box(kUnitHalf, z45, {0, 0.9, 0}), centred_box(kUnitHalf, I, {-0.2, 0.2, 0.3})},
         2,
         0.0,
         0,
         {0, 3, 4}},
        {"object without box, overlapping coordinates",
         {left, centred_box(kUnitHalf, I, {0.1, 0, 0}, 0), centred_box(kUnitHalf, I, {0.2, 0, 0})},
         0,
         0.0,
         KEP_STATUS_OBJECT_WITHOUT_BOX,
         {2}},
        {"A without box", {centred_box(kUnitHalf, I, {0, 0, 0}, 0), left}, 0, 0.0, 0, {}},
        {"A one past the end", {left, left}, 2, 0.0, KEP_STATUS_INDEX_OUT_OF_RANGE, {}},
        {"A negative", {left, left}, -1, 0.0, KEP_STATUS_INDEX_OUT_OF_RANGE, {}},
        {"empty list", {}, 0, 0.0, KEP_STATUS_INDEX_OUT_OF_RANGE, {}},
        // Bodies that are not finite, all over A (a comparison with NaN never separates): never
        // reported, and as A they find nothing.
        {"not finite: never reported",
         {left, centred_box(kUnitHalf, I, {kNaN, 0, 0}), centred_box({kInf, 0.5, 0.5}, I, {0, 0, 0}),
          centred_box(kUnitHalf, {1, 0, 0, 0, kNaN, 0, 0, 0, 1}, {0, 0, 0}),
          centred_box(kUnitHalf, I, {0.2, 0, 0})},
         0,
         0.0,
         0,
         {4}},
        // Finite bodies whose orientation in A's frame overflows.
        {"not finite: overflow in A's frame", {huge, huge}, 0, 0.0, 0, {}},
        {"not finite: NaN centre as A", {centred_box(kUnitHalf, I, {kNaN, 0, 0}), left}, 0, 0.0, 0, {}},
        {"not finite: infinite extent as A",
         {centred_box({kInf, 0.5, 0.5}, I, {0, 0, 0}), left},
         0,
         0.0,
         0,
         {}},
        {"not finite: infinite delta", {left, left}, 0, kInf, 0, {}},
    };
    for (const bool logging : {false, true}) {
        kep_support_reset_state();
        set_switches(logging ? "ON" : nullptr, nullptr, nullptr);
        for (const SceneCase& sc : cases) {
            SCOPED_TRACE(std::string(sc.name) + (logging ? " (logging)" : ""));
            Scene scene;
            for (const kep_object3d_t& o : sc.objects) {
                scene.add(o);
            }
            Neighbours n;
            capture_console([&] { n = neighbours(scene, sc.index_a, sc.delta); });
            EXPECT_EQ(n.status, sc.status);
            EXPECT_EQ(n.positions, sc.positions);
        }
    }
    expect_clean();
}

// The 45/45 scene is separated by axis 13 (A0 x B2) alone.
TEST_F(OverlapTest, FortyFiveDegreeSceneIsSeparatedByAxisThirteenOnly) {
    const double c = 0.7071068;
    const kep_object3d_t a = centred_box({1, 1, 1}, identity_rotation(), {0, 0, 0});
    const kep_object3d_t b = centred_box({1, 1, 1}, {c, -0.5, 0.5, c, 0.5, -0.5, 0, c, c}, {0, 2, 2.1});
    for (const double delta : {0.0, 0.03, 0.05}) {
        const auto axes = candidate_axes(a, b);
        for (int k = 0; k < 15; ++k) {
            const bool separates = separation(axes[k].data(), a, delta, b) > 0;
            EXPECT_EQ(separates, k == 12 && delta < 0.04) << "axis " << k + 1 << ", delta " << delta;
        }
    }
}

TEST_F(OverlapTest, NullEntryCountsAsObjectWithoutBox) {
    Scene scene;
    scene.add(centred_box(kUnitHalf, identity_rotation(), {0, 0, 0}));
    scene.add_null();
    scene.add(centred_box(kUnitHalf, identity_rotation(), {0.5, 0, 0}));
    EXPECT_EQ(neighbours(scene, 0, 0.0), (Neighbours{KEP_STATUS_OBJECT_WITHOUT_BOX, {2}}));
    EXPECT_EQ(neighbours(scene, 1, 0.0), (Neighbours{0, {}}));
    expect_clean();
}

// ---- The logged trace ---------------------------------------------------------------------

struct TraceCase {
    const char* name;
    std::vector<kep_object3d_t> objects;
    int index_a;
    int status;
    std::string trace;
};

TEST_F(OverlapTest, LoggedTraceIsExact) {
    const Rotation I = identity_rotation();
    const kep_object3d_t a = centred_box(kUnitHalf, I, {0, 0, 0});
    const kep_object3d_t b = centred_box(kUnitHalf, I, {0.75, 0, 0});
    const kep_object3d_t none = centred_box(kUnitHalf, I, {0, 0, 0}, 0);
    const std::string body0 = "    mittelpunkt[0]\n    radius[0]\n    richtung[0]\n    transformation[0]\n";
    const std::string body1 = "    mittelpunkt[1]\n    radius[1]\n    richtung[1]\n    transformation[1]\n";
    const std::string opening = ">>> x7ComputeNeighbourhood\n    Index A:";
    const std::string closing =
        "    Obb-test durchgefuehrt\n"
        "    Speicher von koerper freigegeben \n"
        "    Speicher von koerperlist freigegeben \n"
        "<<< x7ComputeNeighbourhood\n";
    const TraceCase cases[] = {
        {"two objects overlapping",
         {a, b},
         0,
         0,
         opening + "0\n    Speicher fuer die objekte reserviert.\n    Koerper A hat boundingbox\n" +
             "    koerperlist[0]->BB:1\n" + body0 + "    koerperlist[1]->BB:1\n" + body1 +
             "    Objekt3d in koerper umgerechnet\n    x7umrechnen_a[1]\n" +
             "    Koerper in das koordsystem von a umgerechnet\n" +
             "    x7obb_overlap[0]\n    x7obb_overlap[1]\n    resultnumber 0 \n    result[0]=1\n" + closing},
        {"other object without box",
         {none, a},
         1,
         KEP_STATUS_OBJECT_WITHOUT_BOX,
         opening + "1\n    Speicher fuer die objekte reserviert.\n    Koerper A hat boundingbox\n" +
             "    koerperlist[0]->BB:0\n    koerperlist[1]->BB:1\n" + body1 +
             "    Objekt3d in koerper umgerechnet\n    Koerper in das koordsystem von a umgerechnet\n" +
             "    x7obb_overlap[1]\n" + closing},
        {"A without box",
         {none, a},
         0,
         0,
         opening + "0\n    Speicher fuer die objekte reserviert.\n    objekt3dlist[A]->BB:0\n" +
             "<<< x7ComputeNeighbourhood\n"},
        {"A out of range",
         {a, b},
         2,
         KEP_STATUS_INDEX_OUT_OF_RANGE,
         opening + "2\n    Speicher fuer die objekte reserviert.\n    retcode gesetzt\n" +
             "    Koerpernummer von A ist zu gross oder klein\n<<< x7ComputeNeighbourhood\n"},
    };
    set_switches("ON", nullptr, nullptr);
    for (const TraceCase& tc : cases) {
        SCOPED_TRACE(tc.name);
        Scene scene;
        for (const kep_object3d_t& o : tc.objects) {
            scene.add(o);
        }
        Neighbours n;
        const std::string console = capture_console([&] { n = neighbours(scene, tc.index_a, 0.0); });
        EXPECT_EQ(console, tc.trace);
        EXPECT_EQ(n.status, tc.status);
    }
    expect_clean();
}

TEST_F(OverlapTest, NothingIsWrittenWithLoggingOff) {
    Scene scene;
    scene.add(centred_box(kUnitHalf, identity_rotation(), {0, 0, 0}));
    scene.add(centred_box(kUnitHalf, identity_rotation(), {0.5, 0, 0}));
    set_switches(nullptr, nullptr, "ON");
    Neighbours n;
    const std::string console = capture_console([&] { n = neighbours(scene, 0, 0.0); });
    EXPECT_EQ(console, "");
    EXPECT_EQ(n, (Neighbours{0, {1}}));
    expect_clean();
}

// ---- One pass against three passes -------------------------------------------------------

// Random scenes with near and far boxes, some without box or null, some degenerate (flat,
// inverted, not finite): the one-pass computation and the logged passes agree on every result.
TEST_F(OverlapTest, OnePassAndLoggedPassesGiveIdenticalResults) {
    std::mt19937_64 rng(0x6b6570);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    auto pick = [&](double lo, double hi) { return lo + (hi - lo) * unit(rng); };
    long compared = 0;
    long hits = 0;
    for (int round = 0; round < 40; ++round) {
        Scene scene;
        const int n = 50 + static_cast<int>(unit(rng) * 250);
        const double spread = pick(1.0, 20.0);
        for (int i = 0; i < n; ++i) {
            const double roll = unit(rng);
            if (roll < 0.03) {
                scene.add_null();
                continue;
            }
            std::array<double, 3> lo;
            std::array<double, 3> hi;
            for (int k = 0; k < 3; ++k) {
                lo[k] = pick(-2, 2);
                hi[k] = lo[k] + pick(0.0, 3.0);
            }
            if (roll < 0.06) {
                hi[0] = lo[0];  // flat
            } else if (roll < 0.08) {
                std::swap(lo[1], hi[1]);  // inverted
            } else if (roll < 0.09) {
                hi[2] = std::numeric_limits<double>::infinity();
            } else if (roll < 0.10) {
                lo[0] = std::numeric_limits<double>::quiet_NaN();
            }
            const Rotation rot = unit(rng) < 0.2 ? identity_rotation() : geometry_test::random_rotation(rng);
            scene.add(make_object(lo, hi, rot,
                                  {pick(-spread, spread), pick(-spread, spread), pick(-spread, spread)},
                                  roll < 0.13 ? 0 : 1));
        }
        for (int query = 0; query < 3; ++query) {
            const int index_a = static_cast<int>(unit(rng) * n);
            const double delta = query == 0 ? 0.0 : pick(0.0, 1.0);
            kep_support_reset_state();
            set_switches(nullptr, nullptr, nullptr);
            const Neighbours quick = neighbours(scene, index_a, delta);
            kep_support_reset_state();
            set_switches("ON", nullptr, nullptr);
            Neighbours logged;
            capture_console([&] { logged = neighbours(scene, index_a, delta); });
            ASSERT_EQ(quick, logged) << "round " << round << ", A " << index_a << ", delta " << delta;
            ++compared;
            hits += static_cast<long>(quick.positions.size());
        }
    }
    EXPECT_EQ(compared, 120);
    EXPECT_GT(hits, 100);  // the scenes are dense enough to exercise all axes
    expect_clean();
}

// ---- The distance needed: the estimate against the bisection ---------------------------------

// Random pairs, rotated or not, some flat or inverted, at scales from tiny to huge, from negative
// and positive distances, some with a value that is no number: the estimate gives the bisection's
// answer bit for bit, and its axis.
TEST_F(OverlapTest, NeededDistanceByEstimateIsTheBisectionsAnswer) {
    std::mt19937_64 rng(0x6e6565);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    auto pick = [&](double lo, double hi) { return lo + (hi - lo) * unit(rng); };
    const double kScales[] = {1e-300, 1e-9, 1e-3, 1.0, 1e3, 1e150, 1e290, 1e306};
    auto box = [&](double size) {
        std::array<double, 3> half;
        for (double& h : half) {
            h = pick(0.0, size);
        }
        const double roll = unit(rng);
        if (roll < 0.08) {
            half[0] = 0;  // flat
        } else if (roll < 0.12) {
            half = {0, 0, 0};
        } else if (roll < 0.16) {
            half[1] = -half[1];  // inverted
        }
        const Rotation rot = unit(rng) < 0.3 ? identity_rotation() : geometry_test::random_rotation(rng);
        const std::array<double, 3> t = {pick(-3, 3) * size, pick(-3, 3) * size, pick(-3, 3) * size};
        return centred_box(half, rot, t);
    };
    long reached = 0;
    for (int pair = 0; pair < 6000; ++pair) {
        const double size = kScales[pair % 8];
        kep_object3d_t a = box(size);
        kep_object3d_t b = box(size);
        if (pair % 13 == 0) {
            // Touching: from a negative distance, the answer lies just below zero.
            a = centred_box({size, size, size}, identity_rotation(), {0, 0, 0});
            b = centred_box({size, size, size}, identity_rotation(), {2 * size, 0, 0});
        }
        if (pair % 97 == 0) {
            b.matrix[3] = pair % 2 != 0 ? kNaN : kInf;
        }
        const double scale = pair % 3 == 0 ? 0.001 : pick(1e-4, 10.0);
        const double from = pair % 5 == 0 ? -pick(0.0, 4.0) * size / scale : (pair % 5 == 1 ? 0.0 : 5.0);
        kep::NeededDelta quick;
        kep::NeededDelta literal;
        kep::overlap_needed_delta(a, b, from, scale, &quick);
        kep::overlap_needed_delta_by_bisection(a, b, from, scale, &literal);
        ASSERT_EQ(quick.reachable, literal.reachable) << "pair " << pair;
        ASSERT_EQ(std::signbit(quick.value), std::signbit(literal.value)) << "pair " << pair;
        ASSERT_EQ(quick.value, literal.value) << "pair " << pair;
        ASSERT_EQ(quick.axis, literal.axis) << "pair " << pair;
        reached += quick.reachable && quick.axis != 0 ? 1 : 0;
    }
    EXPECT_GT(reached, 3000);
}

}  // namespace
