/*
 * Internals of the neighbourhood computation: the work record made for each object and the two
 * steps applied to it. Used by x7ComputeNeighbourhood, by the explanation's overlap report
 * (registration/kep_explain_account.h) and by the tests.
 */
#ifndef KEP_OVERLAP_INTERNAL_H
#define KEP_OVERLAP_INTERNAL_H

#ifdef __cplusplus
extern "C" {
#endif

/* Work record of one object.
 *   mittelpunkt  centre of the box: part coordinates, then structure coordinates, and for every
 *                body other than A finally in A's frame.
 *   radius       half extents along the box's own axes; for A enlarged by delta.
 *   richtung     orientation, 3x3 row-major; column c is the direction of the box's axis c.
 *                First the linear part of the object's matrix, finally (bodies other than A)
 *                relative to A.
 *   BB           copy of the object's BB; a body with 0 is neither converted nor tested. */
typedef struct kep_body_s {
    double mittelpunkt[3];
    double radius[3];
    double richtung[9];
    int BB;
} kep_body_t;

/* Converts body b from structure coordinates into the frame of body a (centre and orientation
 * of a in structure coordinates): centre = Ra^T (cb - ca), orientation = Ra^T Rb. */
void x7umrechnen_a(const kep_body_t* a, kep_body_t* b);

/* Separating-axis test of two oriented boxes in the frame of box A: R is B's orientation in
 * that frame (3x3 row-major), T B's centre, a and b the half extents. Returns 1 when no axis
 * separates the boxes (touching counts as overlap) and every value involved is finite, 0
 * otherwise. */
int x7obb_overlap(const double* R, const double* T, const double* a, const double* b);

#ifdef __cplusplus
}

#include "geometry/kep_geometry.h"

namespace kep {

/* One pair run through the search's own test, with what the test saw: the verdict, the axis
 * (1 to 15, in the test's order: the faces of A, the faces of B, the nine edge pairs) that
 * separates the boxes and the gap along it, or, when they overlap, the axis along which they
 * overlap least and that depth. Distances are in the units of the boxes, along unit axes. finite
 * is false when a value of either body is not a finite number (then nothing overlaps). */
struct OverlapReport {
    bool overlap = false;
    bool separated = false;
    bool finite = true;
    int axis = 0;
    double distance = 0.0;
};

/* A is enlarged by delta along its own axes, as x7ComputeNeighbourhood does. Returns overlap. */
bool overlap_report(const kep_object3d_t& a, double delta, const kep_object3d_t& b,
                    OverlapReport* report) noexcept;

/* The smallest distance at which the search's own test finds a pair it does not find at `from`.
 * The test is run with A enlarged by value * scale (scale > 0 turns the caller's unit, such as the
 * millimetres of a query, into the units of the boxes), and found() below means overlap_report at
 * that enlargement. reachable is false when no finite value finds the pair: a value of either
 * body is not finite, or the distance needed lies beyond the range of a double. Otherwise value
 * is the smallest double v >= from with found(v), so found(value) holds and found() of the
 * double just below value does not; axis is the first axis (1 to 15) that separates the pair just
 * below value, the one whose gap is closed last. A pair found at `from` gives value = from and
 * axis 0. The test grows with the enlargement, which only widens A; every axis is taken into
 * account, not only the first that separates. */
struct NeededDelta {
    bool reachable = false;
    double value = 0.0;
    int axis = 0;
};

void overlap_needed_delta(const kep_object3d_t& a, const kep_object3d_t& b, double from, double scale,
                          NeededDelta* needed) noexcept;
/* The same by doubling the distance and halving the interval on the test alone, some sixty tests a
 * pair: the literal way, which overlap_needed_delta takes where its estimate cannot decide. */
void overlap_needed_delta_by_bisection(const kep_object3d_t& a, const kep_object3d_t& b, double from,
                                       double scale, NeededDelta* needed) noexcept;

/* "face 0 of A" .. "edge pair A2 x B2" for 1 .. 15; "none" otherwise. */
const char* overlap_axis_name(int axis) noexcept;

}  // namespace kep
#endif

#endif
