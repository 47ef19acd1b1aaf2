// Scenes of oriented boxes for the overlap tests: object records built from half extents, a
// rotation and a position, and random scenes from a seed.
#ifndef GEOMETRY_SCENE_H
#define GEOMETRY_SCENE_H

#include <array>
#include <cmath>
#include <memory>
#include <random>
#include <vector>

#include "geometry/kep_geometry.h"

namespace geometry_test {

using Rotation = std::array<double, 9>;  // row-major

inline Rotation identity_rotation() { return {1, 0, 0, 0, 1, 0, 0, 0, 1}; }

// Uniformly distributed rotation from a random unit quaternion.
inline Rotation random_rotation(std::mt19937_64& rng) {
    std::normal_distribution<double> normal(0.0, 1.0);
    double q[4];
    double norm = 0;
    do {
        norm = 0;
        for (double& v : q) {
            v = normal(rng);
            norm += v * v;
        }
    } while (norm < 1e-12);
    norm = std::sqrt(norm);
    const double w = q[0] / norm, x = q[1] / norm, y = q[2] / norm, z = q[3] / norm;
    return {1 - 2 * (y * y + z * z), 2 * (x * y - w * z),     2 * (x * z + w * y),
            2 * (x * y + w * z),     1 - 2 * (x * x + z * z), 2 * (y * z - w * x),
            2 * (x * z - w * y),     2 * (y * z + w * x),     1 - 2 * (x * x + y * y)};
}

// An object record: part box lo..hi, placed by rotation rot and translation t.
inline kep_object3d_t make_object(const std::array<double, 3>& lo, const std::array<double, 3>& hi,
                                  const Rotation& rot, const std::array<double, 3>& t, int bb = 1) {
    kep_object3d_t o{};
    o.bbox = {lo[0], lo[1], lo[2], hi[0], hi[1], hi[2]};
    for (int r = 0; r < 3; ++r) {
        for (int c = 0; c < 3; ++c) {
            o.matrix[4 * r + c] = rot[3 * r + c];
        }
        o.matrix[4 * r + 3] = t[r];
    }
    o.BB = bb;
    return o;
}

// A box of half extents h centred on the part origin.
inline kep_object3d_t centred_box(const std::array<double, 3>& h, const Rotation& rot,
                                  const std::array<double, 3>& t, int bb = 1) {
    return make_object({-h[0], -h[1], -h[2]}, {h[0], h[1], h[2]}, rot, t, bb);
}

// An object list as x7ComputeNeighbourhood takes it; entries may be null.
class Scene {
public:
    void add(const kep_object3d_t& o) {
        records_.push_back(std::make_unique<kep_object3d_t>(o));
        pointers_.push_back(records_.back().get());
    }
    void add_null() { pointers_.push_back(nullptr); }
    int size() const { return static_cast<int>(pointers_.size()); }
    const kep_object3d_t* const* objects() const { return pointers_.data(); }
    const kep_object3d_t* at(int i) const { return pointers_[i]; }

private:
    std::vector<std::unique_ptr<kep_object3d_t>> records_;
    std::vector<const kep_object3d_t*> pointers_;
};

struct Neighbours {
    int status = -1;
    std::vector<int> positions;
    bool operator==(const Neighbours& o) const { return status == o.status && positions == o.positions; }
};

inline Neighbours neighbours(const Scene& scene, int index_a, double delta) {
    std::vector<int> results(scene.size() > 0 ? scene.size() : 1, -1);
    int count = -1;
    Neighbours n;
    n.status = x7ComputeNeighbourhood(index_a, scene.size(), delta, scene.objects(), results.data(), &count);
    n.positions.assign(results.begin(), results.begin() + (count > 0 ? count : 0));
    if (count < 0) {
        n.positions.push_back(-1000);  // never set
    }
    return n;
}

}  // namespace geometry_test

#endif
