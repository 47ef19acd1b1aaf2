// The distance a pair needs before the neighbourhood computation finds it (kep_overlap_internal.h).
//
// The enlargement only widens A's half extents, and every right side of the 15-axis test is a sum
// of non-negative products of them, so the verdict of the test can only turn from "separated" to
// "overlap" as the distance grows: the smallest distance is found by bisection on the test itself,
// which makes the answer exactly what the search does, rounding included.
#include <cmath>

#include "geometry/kep_overlap_internal.h"

namespace {

// A bisection of doubles halves the interval per step, so even an interval across the whole range
// of doubles closes to two neighbours within about 2100 steps; the bound only guards the loops.
const int kMaxSteps = 4200;

bool found_at(const kep_object3d_t& a, const kep_object3d_t& b, double value, double scale,
              kep::OverlapReport* report) {
    return kep::overlap_report(a, value * scale, b, report);
}

// The middle of lo < hi, computed without overflowing when they lie far apart.
double middle(double lo, double hi) {
    const double half_range = hi / 2 - lo / 2;
    return std::isfinite(hi - lo) ? lo + (hi - lo) / 2 : lo + half_range;
}

}  // namespace

void kep::overlap_needed_delta(const kep_object3d_t& a, const kep_object3d_t& b, double from, double scale,
                               NeededDelta* needed) noexcept {
    *needed = NeededDelta();
    if (!std::isfinite(from) || !(scale > 0) || !std::isfinite(scale)) {
        return;
    }
    OverlapReport report;
    if (found_at(a, b, from, scale, &report)) {
        needed->reachable = true;
        needed->value = from;
        return;
    }
    if (!report.finite) {
        return;  // a value of either body is not a number: no distance finds it
    }
    // An interval [lo, hi] with the pair separated at lo and found at hi: the step doubles until
    // it is found, or until the distance leaves the range of doubles.
    double lo = from;
    double step = std::fmax(std::fabs(from), 1.0);
    double hi = lo + step;
    int steps = 0;
    while (!found_at(a, b, hi, scale, &report)) {
        if (!std::isfinite(hi) || !std::isfinite(hi * scale) || ++steps > kMaxSteps) {
            return;
        }
        lo = hi;
        step *= 2;
        hi = lo + step;
    }
    for (; steps < kMaxSteps; ++steps) {
        const double mid = middle(lo, hi);
        if (!(mid > lo && mid < hi)) {
            break;  // neighbours: hi is the smallest double that finds the pair
        }
        if (found_at(a, b, mid, scale, &report)) {
            hi = mid;
        } else {
            lo = mid;
        }
    }
    (void)found_at(a, b, lo, scale, &report);
    needed->reachable = true;
    needed->value = hi;
    needed->axis = report.axis;
}
