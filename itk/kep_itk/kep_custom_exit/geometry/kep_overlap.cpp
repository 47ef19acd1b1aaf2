// Neighbourhood computation: which objects of a list have an oriented box that overlaps the
// enlarged box of one object A of the list.
//
// Each box is turned into a body (centre, half extents, orientation) in structure coordinates,
// moved into A's frame and run through the separating-axis test over 15 candidate axes: A's three
// face axes, B's three, and the nine cross products of one axis of each.
//
// There are two ways through, with identical results:
//   - while logging is on, the computation runs as three passes over a heap list of bodies (all
//     bodies made, then moved into A's frame, then tested) and logs every step, so the log shows
//     the whole computation object by object;
//   - with logging off, one pass makes, moves and tests each body in turn without any list. It
//     computes the first row of the relative orientation, rejects on A's first face axis (where
//     nearly every distant box goes) and otherwise evaluates the other fourteen axes without a
//     branch per axis, since in crowded scenes their verdicts are unpredictable.
// Both ways share the arithmetic below, so every intermediate value is computed by the same
// expression in the same order.
#include <cmath>
#include <cstdlib>

#include "geometry/kep_geometry.h"
#include "geometry/kep_overlap_internal.h"
#include "kep_support.h"

namespace {

const char* const kFunctionName = "x7ComputeNeighbourhood";

// Added to every |r(i, j)| before it enters a projection radius. It keeps the test stable when
// two box axes are (nearly) parallel: the cross product of the two axes then degenerates to
// almost zero, and without the padding rounding noise alone could declare such boxes separated.
const double kTolerance = 1e-10;

// Element r(i, j) of row-major 3x3 m.
inline double at(const double* m, int i, int j) { return m[3 * i + j]; }

// Makes the body of object o in structure coordinates: centre of the part box carried by the
// object's matrix, half extents, and the linear part of the matrix as orientation.
inline void make_body(const kep_object3d_t& o, kep_body_t* body) {
    const kep_bbox_t& box = o.bbox;
    const double* m = o.matrix;
    const double c0 = (box.x1 + box.x2) / 2;
    const double c1 = (box.y1 + box.y2) / 2;
    const double c2 = (box.z1 + box.z2) / 2;
    body->radius[0] = (box.x2 - box.x1) / 2;
    body->radius[1] = (box.y2 - box.y1) / 2;
    body->radius[2] = (box.z2 - box.z1) / 2;
    for (int r = 0; r < 3; ++r) {
        for (int c = 0; c < 3; ++c) {
            body->richtung[3 * r + c] = m[4 * r + c];
        }
    }
    for (int r = 0; r < 3; ++r) {
        body->mittelpunkt[r] = m[4 * r] * c0 + m[4 * r + 1] * c1 + m[4 * r + 2] * c2 + m[4 * r + 3];
    }
    body->BB = o.BB;
}

// Component k of centre cb seen from A (centre ca, orientation ra): (Ra^T (cb - ca))_k.
inline double centre_in_frame(const double* ca, const double* ra, const double* cb, int k) {
    return at(ra, 0, k) * (cb[0] - ca[0]) + at(ra, 1, k) * (cb[1] - ca[1]) + at(ra, 2, k) * (cb[2] - ca[2]);
}

// Element (i, j) of the orientation rb seen from A: (Ra^T Rb)(i, j).
inline double orientation_in_frame(const double* ra, const double* rb, int i, int j) {
    return at(ra, 0, i) * at(rb, 0, j) + at(ra, 1, i) * at(rb, 1, j) + at(ra, 2, i) * at(rb, 2, j);
}

// Records the verdict of one axis. With kEarlyExit the caller returns at the first separating
// axis; otherwise every axis is evaluated and the verdicts are or-ed together, which gives the
// same result without a branch per axis (a verdict that the processor cannot predict costs more
// than the few multiplications it saves).
template <bool kEarlyExit, class Report>
inline bool stop_at(Report& report, int axis, const double* r, double left, double right, bool& separated) {
    report.axis(axis, left, right, r);
    const bool here = left > right;
    if (kEarlyExit) {
        return here;
    }
    separated |= here;
    return false;
}

// The search's own report: nothing, and nothing to compute.
struct NoReport {
    void axis(int, double, double, const double*) const noexcept {}
};

// What an explanation asks of one pair: the first axis that separates and the gap along it, or,
// when none does, the axis along which the boxes overlap least and that depth. The projections
// of the face axes of B and of the cross axes are not normalised by the test; the distances here
// are, so that they are lengths. A cross axis of two (nearly) parallel box axes has no direction
// and is passed over.
struct Recorder {
    kep::OverlapReport* out;
    void axis(int k, double left, double right, const double* r) const noexcept {
        double length = 1.0;
        if (k >= 4 && k <= 6) {
            const int j = k - 4;
            length = std::sqrt(r[j] * r[j] + r[3 + j] * r[3 + j] + r[6 + j] * r[6 + j]);
        } else if (k >= 7) {
            const int i = (k - 7) % 3;
            const int j = (k - 7) / 3;
            const double column = r[j] * r[j] + r[3 + j] * r[3 + j] + r[6 + j] * r[6 + j];
            const double squared = column - r[3 * i + j] * r[3 * i + j];
            length = squared > 0 ? std::sqrt(squared) : 0.0;
        }
        if (!(length > 1e-9)) {
            return;
        }
        if (left > right) {
            out->separated = true;
            out->axis = k;
            out->distance = (left - right) / length;
        } else if (out->axis == 0 || (right - left) / length < out->distance) {
            out->axis = k;
            out->distance = (right - left) / length;
        }
    }
};

// Whether the relative centre t, the relative orientation r and both half extents are finite
// numbers. Comparisons with NaN are all false, so no axis would ever separate a body that carries
// one: it would overlap everything. Every non-finite centre, orientation or extent of either body
// shows up in one of these values (an infinity times zero or minus itself is NaN), so checking
// them before an overlap is reported covers both bodies on every way through. Separations are
// left as they are: only a reported overlap needs the check.
inline bool all_finite(const double* t, const double* r, const double* a, const double* b) {
    for (int k = 0; k < 3; ++k) {
        if (!std::isfinite(t[k]) || !std::isfinite(a[k]) || !std::isfinite(b[k])) {
            return false;
        }
    }
    for (int k = 0; k < 9; ++k) {
        if (!std::isfinite(r[k])) {
            return false;
        }
    }
    return true;
}

// The 15-axis test. fill_row(k, r, e) provides row k of the relative orientation r and of its
// padded absolute values e; rows are asked for in the order 0, 1, 2, each once, before the
// first axis that needs them. An axis separates when the distance of the centres projected on it
// is strictly greater than the sum of the projected half extents; touching boxes overlap.
// Axis 1 always returns at once: far boxes are nearly all rejected there, so the branch is well
// predicted. kEarlyExit decides for the other fourteen.
template <bool kEarlyExit, class FillRow, class Report = NoReport>
inline bool overlap(FillRow&& fill_row, const double* t, const double* a, const double* b,
                    Report&& report = Report()) {
    double r[9];
    double e[9];
    bool separated = false;
    // Axis 1: A's axis 0.
    fill_row(0, r, e);
    report.axis(1, std::fabs(t[0]), a[0] + b[0] * e[0] + b[1] * e[1] + b[2] * e[2], r);
    if (std::fabs(t[0]) > a[0] + b[0] * e[0] + b[1] * e[1] + b[2] * e[2]) {
        return false;
    }
    // Axis 2: A's axis 1.
    fill_row(1, r, e);
    if (stop_at<kEarlyExit>(report, 2, r, std::fabs(t[1]), a[1] + b[0] * e[3] + b[1] * e[4] + b[2] * e[5],
                            separated)) {
        return false;
    }
    // Axis 3: A's axis 2.
    fill_row(2, r, e);
    if (stop_at<kEarlyExit>(report, 3, r, std::fabs(t[2]), a[2] + b[0] * e[6] + b[1] * e[7] + b[2] * e[8],
                            separated)) {
        return false;
    }
    // Axis 4: B's axis 0.
    if (stop_at<kEarlyExit>(report, 4, r, std::fabs(t[0] * r[0] + t[1] * r[3] + t[2] * r[6]),
                            b[0] + a[0] * e[0] + a[1] * e[3] + a[2] * e[6], separated)) {
        return false;
    }
    // Axis 5: B's axis 1.
    if (stop_at<kEarlyExit>(report, 5, r, std::fabs(t[0] * r[1] + t[1] * r[4] + t[2] * r[7]),
                            b[1] + a[0] * e[1] + a[1] * e[4] + a[2] * e[7], separated)) {
        return false;
    }
    // Axis 6: B's axis 2.
    if (stop_at<kEarlyExit>(report, 6, r, std::fabs(t[0] * r[2] + t[1] * r[5] + t[2] * r[8]),
                            b[2] + a[0] * e[2] + a[1] * e[5] + a[2] * e[8], separated)) {
        return false;
    }
    // Axis 7: A0 x B0.
    if (stop_at<kEarlyExit>(report, 7, r, std::fabs(t[2] * r[3] - t[1] * r[6]),
                            a[1] * e[6] + a[2] * e[3] + b[1] * e[2] + b[2] * e[1], separated)) {
        return false;
    }
    // Axis 8: A1 x B0.
    if (stop_at<kEarlyExit>(report, 8, r, std::fabs(t[0] * r[6] - t[2] * r[0]),
                            a[0] * e[6] + a[2] * e[0] + b[1] * e[5] + b[2] * e[4], separated)) {
        return false;
    }
    // Axis 9: A2 x B0.
    if (stop_at<kEarlyExit>(report, 9, r, std::fabs(t[1] * r[0] - t[0] * r[3]),
                            a[0] * e[3] + a[1] * e[0] + b[1] * e[8] + b[2] * e[7], separated)) {
        return false;
    }
    // Axis 10: A0 x B1.
    if (stop_at<kEarlyExit>(report, 10, r, std::fabs(t[2] * r[4] - t[1] * r[7]),
                            a[1] * e[7] + a[2] * e[4] + b[0] * e[2] + b[2] * e[0], separated)) {
        return false;
    }
    // Axis 11: A1 x B1.
    if (stop_at<kEarlyExit>(report, 11, r, std::fabs(t[0] * r[7] - t[2] * r[1]),
                            a[0] * e[7] + a[2] * e[1] + b[0] * e[5] + b[2] * e[3], separated)) {
        return false;
    }
    // Axis 12: A2 x B1.
    if (stop_at<kEarlyExit>(report, 12, r, std::fabs(t[1] * r[1] - t[0] * r[4]),
                            a[0] * e[4] + a[1] * e[1] + b[0] * e[8] + b[2] * e[6], separated)) {
        return false;
    }
    // Axis 13: A0 x B2.
    if (stop_at<kEarlyExit>(report, 13, r, std::fabs(t[2] * r[5] - t[1] * r[8]),
                            a[1] * e[8] + a[2] * e[5] + b[0] * e[1] + b[1] * e[0], separated)) {
        return false;
    }
    // Axis 14: A1 x B2.
    if (stop_at<kEarlyExit>(report, 14, r, std::fabs(t[0] * r[8] - t[2] * r[2]),
                            a[0] * e[8] + a[2] * e[2] + b[0] * e[4] + b[1] * e[3], separated)) {
        return false;
    }
    // Axis 15: A2 x B2.
    if (stop_at<kEarlyExit>(report, 15, r, std::fabs(t[1] * r[2] - t[0] * r[5]),
                            a[0] * e[5] + a[1] * e[2] + b[0] * e[7] + b[1] * e[6], separated)) {
        return false;
    }
    return !separated && all_finite(t, r, a, b);
}

// Copies row k of a finished relative orientation R and pads its absolute values.
inline void copy_row(const double* rel, int k, double* r, double* e) {
    for (int j = 0; j < 3; ++j) {
        r[3 * k + j] = rel[3 * k + j];
        e[3 * k + j] = std::fabs(r[3 * k + j]) + kTolerance;
    }
}

// A, ready for testing: centre and orientation in structure coordinates, enlarged half extents.
struct FrameA {
    double centre[3];
    double orientation[9];
    double half[3];
};

FrameA frame_of(const kep_object3d_t& object_a, double delta) {
    kep_body_t body;
    make_body(object_a, &body);
    FrameA frame;
    for (int k = 0; k < 3; ++k) {
        frame.centre[k] = body.mittelpunkt[k];
        frame.half[k] = body.radius[k] + delta;
    }
    for (int k = 0; k < 9; ++k) {
        frame.orientation[k] = body.richtung[k];
    }
    return frame;
}

// The one-pass scan: makes, moves and tests each body in turn. Returns the status.
int scan_single_pass(int index_a, int n, const FrameA& a, const kep_object3d_t* const* objects, int* results,
                     int* result_count) {
    int status = 0;
    int count = 0;
    const double* ca = a.centre;
    const double* ra = a.orientation;
    for (int i = 0; i < n; ++i) {
        const kep_object3d_t* object = objects[i];
        if (object == nullptr || object->BB == 0) {
            status = KEP_STATUS_OBJECT_WITHOUT_BOX;
            continue;
        }
        if (i == index_a) {
            continue;
        }
        kep_body_t body;
        make_body(*object, &body);
        const double t[3] = {centre_in_frame(ca, ra, body.mittelpunkt, 0),
                             centre_in_frame(ca, ra, body.mittelpunkt, 1),
                             centre_in_frame(ca, ra, body.mittelpunkt, 2)};
        const double* rb = body.richtung;
        auto fill_row = [ra, rb](int k, double* r, double* e) {
            for (int j = 0; j < 3; ++j) {
                r[3 * k + j] = orientation_in_frame(ra, rb, k, j);
                e[3 * k + j] = std::fabs(r[3 * k + j]) + kTolerance;
            }
        };
        // Written before the verdict is known; an entry that does not count is overwritten by the
        // next one or lies past the count. count <= i < n keeps the write inside results.
        results[count] = i;
        count += overlap<false>(fill_row, t, a.half, body.radius) ? 1 : 0;
    }
    *result_count = count;
    return status;
}

}  // namespace

bool kep::overlap_report(const kep_object3d_t& object_a, double delta, const kep_object3d_t& object_b,
                         OverlapReport* report) noexcept {
    *report = OverlapReport();
    const FrameA a = frame_of(object_a, delta);
    kep_body_t body;
    make_body(object_b, &body);
    // The steps of the one-pass scan, for this one body. They stay written out in both places:
    // moved into one function shared with the scan, the scan took 1.7 times as long
    // (overlap_bench, 10^5 sparse bodies).
    const double* ca = a.centre;
    const double* ra = a.orientation;
    const double t[3] = {centre_in_frame(ca, ra, body.mittelpunkt, 0),
                         centre_in_frame(ca, ra, body.mittelpunkt, 1),
                         centre_in_frame(ca, ra, body.mittelpunkt, 2)};
    const double* rb = body.richtung;
    auto fill_row = [ra, rb](int k, double* r, double* e) {
        for (int j = 0; j < 3; ++j) {
            r[3 * k + j] = orientation_in_frame(ra, rb, k, j);
            e[3 * k + j] = std::fabs(r[3 * k + j]) + kTolerance;
        }
    };
    report->overlap = overlap<true>(fill_row, t, a.half, body.radius, Recorder{report});
    // Neither separated nor overlapping: a value of one of the bodies is not finite.
    report->finite = report->overlap || report->separated;
    if (!report->finite) {
        report->axis = 0;
        report->distance = 0;
    }
    return report->overlap;
}

const char* kep::overlap_axis_name(int axis) noexcept {
    static const char* const kNames[16] = {"none",
                                           "face 0 of A",
                                           "face 1 of A",
                                           "face 2 of A",
                                           "face 0 of B",
                                           "face 1 of B",
                                           "face 2 of B",
                                           "edge pair A0 x B0",
                                           "edge pair A1 x B0",
                                           "edge pair A2 x B0",
                                           "edge pair A0 x B1",
                                           "edge pair A1 x B1",
                                           "edge pair A2 x B1",
                                           "edge pair A0 x B2",
                                           "edge pair A1 x B2",
                                           "edge pair A2 x B2"};
    return axis >= 0 && axis <= 15 ? kNames[axis] : "none";
}

namespace {

// The three logged passes over a list of bodies. bodies has room for n records.
int scan_logged(int index_a, int n, double delta, const kep_object3d_t* const* objects, kep_body_t* bodies,
                int* results, int* result_count) {
    for (int i = 0; i < n; ++i) {
        const kep_object3d_t* object = objects[i];
        bodies[i].BB = object != nullptr ? object->BB : 0;
        kep_log("koerperlist[%d]->BB:%d\n", i, bodies[i].BB);
        if (bodies[i].BB != 0) {
            make_body(*object, &bodies[i]);
            kep_log("mittelpunkt[%d]\n", i);
            kep_log("radius[%d]\n", i);
            kep_log("richtung[%d]\n", i);
            kep_log("transformation[%d]\n", i);
        }
    }
    kep_log("Objekt3d in koerper umgerechnet\n");

    kep_body_t* body_a = &bodies[index_a];
    for (int i = 0; i < n; ++i) {
        if (i == index_a) {
            for (int k = 0; k < 3; ++k) {
                body_a->radius[k] += delta;
            }
        } else if (bodies[i].BB != 0) {
            kep_log("x7umrechnen_a[%d]\n", i);
            x7umrechnen_a(body_a, &bodies[i]);
        }
    }
    kep_log("Koerper in das koordsystem von a umgerechnet\n");

    int status = 0;
    int count = 0;
    for (int i = 0; i < n; ++i) {
        if (bodies[i].BB == 0) {
            status = KEP_STATUS_OBJECT_WITHOUT_BOX;
            continue;
        }
        kep_log("x7obb_overlap[%d]\n", i);
        const int hit =
            x7obb_overlap(bodies[i].richtung, bodies[i].mittelpunkt, body_a->radius, bodies[i].radius);
        if (hit != 0 && i != index_a) {
            kep_log("resultnumber %d \n", count);
            results[count] = i;
            kep_log("result[%d]=%d\n", count, i);
            ++count;
        }
    }
    kep_log("Obb-test durchgefuehrt\n");
    *result_count = count;
    return status;
}

int compute_logged(int index_a, int n, double delta, const kep_object3d_t* const* objects, int* results,
                   int* result_count) {
    kep_log("Index A:%d\n", index_a);
    const bool in_range = index_a >= 0 && index_a < n;
    // The list is only needed (and n only trusted as a size) when A is in the list.
    kep_body_t* bodies = in_range ? static_cast<kep_body_t*>(std::malloc(sizeof(kep_body_t) * n)) : nullptr;
    kep_log("Speicher fuer die objekte reserviert.\n");
    if (!in_range) {
        kep_log("retcode gesetzt\n");
        kep_log("Koerpernummer von A ist zu gross oder klein\n");
        return KEP_STATUS_INDEX_OUT_OF_RANGE;
    }
    const kep_object3d_t* object_a = objects[index_a];
    if (object_a == nullptr || object_a->BB == 0) {
        kep_log("objekt3dlist[A]->BB:%d\n", 0);
        std::free(bodies);
        return 0;
    }
    kep_log("Koerper A hat boundingbox\n");
    int status;
    if (bodies != nullptr) {
        status = scan_logged(index_a, n, delta, objects, bodies, results, result_count);
    } else {
        // No heap for the list: the one-pass scan needs none and gives the same results.
        status = scan_single_pass(index_a, n, frame_of(*object_a, delta), objects, results, result_count);
        kep_log("Obb-test durchgefuehrt\n");
    }
    std::free(bodies);
    kep_log("Speicher von koerper freigegeben \n");
    kep_log("Speicher von koerperlist freigegeben \n");
    return status;
}

}  // namespace

extern "C" void x7umrechnen_a(const kep_body_t* a, kep_body_t* b) {
    double centre[3];
    double orientation[9];
    for (int k = 0; k < 3; ++k) {
        centre[k] = centre_in_frame(a->mittelpunkt, a->richtung, b->mittelpunkt, k);
    }
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j) {
            orientation[3 * i + j] = orientation_in_frame(a->richtung, b->richtung, i, j);
        }
    }
    for (int k = 0; k < 3; ++k) {
        b->mittelpunkt[k] = centre[k];
    }
    for (int k = 0; k < 9; ++k) {
        b->richtung[k] = orientation[k];
    }
}

extern "C" int x7obb_overlap(const double* R, const double* T, const double* a, const double* b) {
    auto fill_row = [R](int k, double* r, double* e) { copy_row(R, k, r, e); };
    return overlap<true>(fill_row, T, a, b) ? 1 : 0;
}

extern "C" int x7ComputeNeighbourhood(int index_a, int n, double delta, const kep_object3d_t* const* objects,
                                      int* results, int* result_count) {
    *result_count = 0;
    kep_start("%s\n", kFunctionName);
    int status;
    if (kep_logging_on() != 0) {
        status = compute_logged(index_a, n, delta, objects, results, result_count);
    } else if (index_a < 0 || index_a >= n) {
        status = KEP_STATUS_INDEX_OUT_OF_RANGE;
    } else if (objects[index_a] == nullptr || objects[index_a]->BB == 0) {
        status = 0;
    } else {
        status =
            scan_single_pass(index_a, n, frame_of(*objects[index_a], delta), objects, results, result_count);
    }
    kep_end("%s\n", kFunctionName);
    return status;
}
