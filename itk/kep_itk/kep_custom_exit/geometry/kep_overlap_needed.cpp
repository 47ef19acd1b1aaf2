// The distance a pair needs before the neighbourhood computation finds it (kep_overlap_internal.h).
//
// The enlargement only widens A's half extents, and every right side of the 15-axis test is a sum
// of non-negative products of them, so the verdict of the test can only turn from "separated" to
// "overlap" as the distance grows: the answer is the smallest double at which the test itself
// finds the pair, which makes it exactly what the search does, rounding included.
//
// Two ways to that double, with identical results:
//   - the bisection: the distance doubles until the pair is found, then the interval is halved
//     down to two neighbouring doubles (some sixty tests a pair);
//   - the estimate: the gap along each axis shrinks in proportion to the distance, so stepping by
//     the reported gap over the rate at which it closes reaches the distance where the last
//     separating axis closes within rounding; a bracket around it is then widened ulp by ulp,
//     doubling, and halved on the doubles' ordered bit patterns, every step a run of the test.
//     Whatever it cannot settle for certain goes to the bisection.
#include <stdint.h>
#include <string.h>

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

// ---- The estimate ------------------------------------------------------------------------------

// Finite doubles in their order, as unsigned integers: -0 comes just before +0.
uint64_t order_of(double value) {
    uint64_t bits = 0;
    memcpy(&bits, &value, sizeof bits);
    return (bits >> 63) != 0 ? ~bits : bits | (uint64_t{1} << 63);
}

double double_of(uint64_t order) {
    const uint64_t bits = (order >> 63) != 0 ? order & ~(uint64_t{1} << 63) : ~order;
    double value = 0;
    memcpy(&value, &bits, sizeof value);
    return value;
}

// Beyond these the bisection decides: it alone says which huge distances are out of reach.
const double kLargest = 1e280;
const double kLargestScale = 1e6;
const int kMaxEstimates = 32;
const int kMaxWidenings = 62;

// How fast the gap along `axis` (1 to 15, as the report gives it, a length along the unit axis)
// closes per unit of enlargement: the sum of the factors of A's half extents in the axis's right
// side over the axis's length, as the test and the report compute them. r is B's orientation in
// A's frame. 0 when the axis has no such rate.
double closing_rate(int axis, const double* r) {
    const double tolerance = 1e-10;  // the test's padding of |r(i, j)|
    if (axis >= 1 && axis <= 3) {
        return 1.0;
    }
    if (axis >= 4 && axis <= 6) {
        const int j = axis - 4;
        double factors = 0;
        double squares = 0;
        for (int i = 0; i < 3; ++i) {
            factors += std::fabs(r[3 * i + j]) + tolerance;
            squares += r[3 * i + j] * r[3 * i + j];
        }
        return factors / std::sqrt(squares);
    }
    if (axis >= 7 && axis <= 15) {
        const int i = (axis - 7) % 3;
        const int j = (axis - 7) / 3;
        double factors = 0;
        double squares = 0;
        for (int k = 0; k < 3; ++k) {
            if (k != i) {
                factors += std::fabs(r[3 * k + j]) + tolerance;
                squares += r[3 * k + j] * r[3 * k + j];
            }
        }
        return squares > 0 ? factors / std::sqrt(squares) : 0.0;
    }
    return 0.0;
}

bool within(double value, double bound) { return std::fabs(value) <= bound; }

// The estimate's way; false when it leaves the answer to the bisection. `at_from` is the report of
// the pair at `from`, where it is separated.
bool by_estimate(const kep_object3d_t& a, const kep_object3d_t& b, double from, double scale,
                 const kep::OverlapReport& at_from, kep::NeededDelta* needed) {
    const kep_bbox_t& box = a.bbox;
    const double half[3] = {(box.x2 - box.x1) / 2, (box.y2 - box.y1) / 2, (box.z2 - box.z1) / 2};
    if (!within(from, kLargest) || !(scale <= kLargestScale) || !within(half[0], kLargest) ||
        !within(half[1], kLargest) || !within(half[2], kLargest)) {
        return false;
    }
    double r[9];
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j) {
            r[3 * i + j] = a.matrix[i] * b.matrix[j] + a.matrix[4 + i] * b.matrix[4 + j] +
                           a.matrix[8 + i] * b.matrix[8 + j];
        }
    }
    // Steps from below: each closes the first axis that still separates, within rounding.
    kep::OverlapReport report = at_from;
    double lo = from;  // separated
    double hi = 0;     // found, once has_hi
    bool has_hi = false;
    kep::OverlapReport at_lo = at_from;
    for (int i = 0; i < kMaxEstimates && !has_hi; ++i) {
        const double rate = closing_rate(report.axis, r);
        if (!report.separated || !(rate > 0) || !std::isfinite(rate)) {
            return false;
        }
        const double next = lo + report.distance / (rate * scale);
        if (!(next > lo) || !within(next, kLargest)) {
            break;  // within an ulp, or left to the bisection below
        }
        if (found_at(a, b, next, scale, &report)) {
            hi = next;
            has_hi = true;
        } else {
            lo = next;
            at_lo = report;
        }
    }
    // A bracket lo (separated) .. hi (found) by widening from the estimate, ulp by ulp, doubling.
    uint64_t width = 1;
    for (int i = 0; i < kMaxWidenings; ++i, width *= 2) {
        if (has_hi) {
            if (order_of(hi) - order_of(lo) <= width) {
                break;
            }
            const double probe = double_of(order_of(hi) - width);
            if (!(probe > lo)) {
                break;
            }
            if (!found_at(a, b, probe, scale, &report)) {
                lo = probe;
                at_lo = report;
                break;
            }
            hi = probe;
        } else {
            const uint64_t above = order_of(lo) + width;
            const double probe = double_of(above);
            if (above < width || !within(probe, kLargest)) {
                return false;
            }
            if (found_at(a, b, probe, scale, &report)) {
                hi = probe;
                has_hi = true;
                break;
            }
            lo = probe;
            at_lo = report;
        }
    }
    if (!has_hi) {
        return false;
    }
    // Halved on the ordered bit patterns down to neighbours.
    for (int i = 0; i < 128 && order_of(hi) - order_of(lo) > 1; ++i) {
        const uint64_t low = order_of(lo);
        const double mid = double_of(low + (order_of(hi) - low) / 2);
        if (found_at(a, b, mid, scale, &report)) {
            hi = mid;
        } else {
            lo = mid;
            at_lo = report;
        }
    }
    if (order_of(hi) - order_of(lo) != 1 || hi == 0 || !within(hi, kLargest)) {
        return false;  // a zero's sign is the bisection's to give
    }
    needed->reachable = true;
    needed->value = hi;
    needed->axis = at_lo.axis;
    return true;
}

// What both ways begin with: a distance or a scale that is not a finite number, a pair found at
// `from` already, or a body with a value that is not a number. True when that settles *needed;
// otherwise *report is the test's at `from`.
bool settled_at_start(const kep_object3d_t& a, const kep_object3d_t& b, double from, double scale,
                      kep::OverlapReport* report, kep::NeededDelta* needed) {
    *needed = kep::NeededDelta();
    if (!std::isfinite(from) || !(scale > 0) || !std::isfinite(scale)) {
        return true;
    }
    if (found_at(a, b, from, scale, report)) {
        needed->reachable = true;
        needed->value = from;
        return true;
    }
    return !report->finite;  // a value of either body is not a number: no distance finds it
}

// The doubling and the bisection, from a pair separated at `from`.
void bisect(const kep_object3d_t& a, const kep_object3d_t& b, double from, double scale,
            kep::NeededDelta* needed) {
    *needed = kep::NeededDelta();
    kep::OverlapReport report;
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

}  // namespace

void kep::overlap_needed_delta(const kep_object3d_t& a, const kep_object3d_t& b, double from, double scale,
                               NeededDelta* needed) noexcept {
    OverlapReport report;
    if (!settled_at_start(a, b, from, scale, &report, needed) &&
        !by_estimate(a, b, from, scale, report, needed)) {
        bisect(a, b, from, scale, needed);
    }
}

void kep::overlap_needed_delta_by_bisection(const kep_object3d_t& a, const kep_object3d_t& b, double from,
                                            double scale, NeededDelta* needed) noexcept {
    OverlapReport report;
    if (!settled_at_start(a, b, from, scale, &report, needed)) {
        bisect(a, b, from, scale, needed);
    }
}
