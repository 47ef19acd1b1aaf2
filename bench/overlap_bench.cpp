// Micro-benchmark of the neighbourhood computation with logging off, per object of a full scan,
// next to FCL's oriented-box test (fcl::obbDisjoint) over the same pairs and a plain read of the
// same records (the memory streaming floor).
//
// Scenes hold n object records of 152 bytes in one array, reached through an array of pointers
// as the computation takes them. Object 0 is A. Sparse: boxes of about unit size spread over a
// volume so wide that almost every box is rejected on A's first face axis. Dense: the boxes are
// packed around A so that about half of them overlap it and the verdicts are hard to predict.
#include <benchmark/benchmark.h>
#include <fcl/math/bv/OBB.h>

#include <cmath>
#include <cstdint>
#include <memory>
#include <random>
#include <vector>

#include "geometry/kep_geometry.h"
#include "kep_support_internal.h"

namespace {

struct SceneData {
    std::vector<kep_object3d_t> records;
    std::vector<const kep_object3d_t*> pointers;
    std::vector<int> results;
};

enum Kind { kSparse = 0, kDense = 1 };

void fill_rotation(std::mt19937_64& rng, double* m) {
    std::normal_distribution<double> normal(0.0, 1.0);
    double q[4];
    double norm = 0;
    for (double& v : q) {
        v = normal(rng);
        norm += v * v;
    }
    norm = std::sqrt(norm);
    const double w = q[0] / norm, x = q[1] / norm, y = q[2] / norm, z = q[3] / norm;
    const double r[9] = {1 - 2 * (y * y + z * z), 2 * (x * y - w * z),     2 * (x * z + w * y),
                         2 * (x * y + w * z),     1 - 2 * (x * x + z * z), 2 * (y * z - w * x),
                         2 * (x * z - w * y),     2 * (y * z + w * x),     1 - 2 * (x * x + y * y)};
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 3; ++j) {
            m[4 * i + j] = r[3 * i + j];
        }
    }
}

// One scene at a time is kept: the largest ones take about 160 MB.
SceneData& scene(int n, Kind kind) {
    static std::unique_ptr<SceneData> cached;
    static int cached_n = -1;
    static Kind cached_kind = kSparse;
    if (cached && cached_n == n && cached_kind == kind) {
        return *cached;
    }
    cached.reset();
    cached.reset(new SceneData);
    SceneData& s = *cached;
    s.records.resize(n);
    std::mt19937_64 rng(1234567u + static_cast<unsigned>(n) * 2u + static_cast<unsigned>(kind));
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    // Sparse: a cube whose volume gives each box about 4,000 unit volumes to itself.
    const double spread = kind == kSparse ? std::cbrt(4000.0 * n) / 2 : 1.7;
    for (int i = 0; i < n; ++i) {
        kep_object3d_t& o = s.records[i];
        const double lo[3] = {-unit(rng), -unit(rng), -unit(rng)};
        o.bbox = {
            lo[0], lo[1], lo[2], lo[0] + 0.2 + unit(rng), lo[1] + 0.2 + unit(rng), lo[2] + 0.2 + unit(rng)};
        fill_rotation(rng, o.matrix);
        for (int r = 0; r < 3; ++r) {
            o.matrix[4 * r + 3] = (2 * unit(rng) - 1) * spread;
        }
        o.BB = 1;
    }
    // A: the same box in every scene, a turned cube of edge 1.4 at the origin.
    kep_object3d_t& a = s.records[0];
    a.bbox = {-0.7, -0.7, -0.7, 0.7, 0.7, 0.7};
    for (int r = 0; r < 3; ++r) {
        a.matrix[4 * r + 3] = 0.0;
    }
    s.pointers.resize(n);
    for (int i = 0; i < n; ++i) {
        s.pointers[i] = &s.records[i];
    }
    s.results.assign(n, 0);
    cached_n = n;
    cached_kind = kind;
    return s;
}

void set_per_object(benchmark::State& state, int n, long found) {
    // Seconds per object; the console shows it with an SI prefix ("8.5ns").
    state.counters["per_object"] = benchmark::Counter(
        static_cast<double>(n), benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
    state.counters["found"] = static_cast<double>(found);
}

void BM_Neighbourhood(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    const Kind kind = static_cast<Kind>(state.range(1));
    SceneData& s = scene(n, kind);
    kep_support_reset_state();  // no switch set: logging is off
    int count = 0;
    for (auto _ : state) {
        x7ComputeNeighbourhood(0, n, 0.01, s.pointers.data(), s.results.data(), &count);
        benchmark::DoNotOptimize(count);
        benchmark::ClobberMemory();
    }
    set_per_object(state, n, count);
}

Eigen::Matrix3d rotation_of(const kep_object3d_t& o) {
    Eigen::Matrix3d r;
    r << o.matrix[0], o.matrix[1], o.matrix[2], o.matrix[4], o.matrix[5], o.matrix[6], o.matrix[8],
        o.matrix[9], o.matrix[10];
    return r;
}

// The same pairs through FCL: from each record the box's centre, orientation and half extents,
// B moved into A's frame, then obbDisjoint.
void BM_FclObbDisjoint(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    const Kind kind = static_cast<Kind>(state.range(1));
    SceneData& s = scene(n, kind);
    const double delta = 0.01;
    int count = 0;
    for (auto _ : state) {
        const kep_object3d_t& a = *s.pointers[0];
        const Eigen::Matrix3d ra_t = rotation_of(a).transpose();
        const Eigen::Vector3d ca =
            rotation_of(a) * Eigen::Vector3d((a.bbox.x1 + a.bbox.x2) / 2, (a.bbox.y1 + a.bbox.y2) / 2,
                                             (a.bbox.z1 + a.bbox.z2) / 2) +
            Eigen::Vector3d(a.matrix[3], a.matrix[7], a.matrix[11]);
        const Eigen::Vector3d ha((a.bbox.x2 - a.bbox.x1) / 2 + delta, (a.bbox.y2 - a.bbox.y1) / 2 + delta,
                                 (a.bbox.z2 - a.bbox.z1) / 2 + delta);
        count = 0;
        for (int i = 1; i < n; ++i) {
            const kep_object3d_t& b = *s.pointers[i];
            const Eigen::Matrix3d rb = rotation_of(b);
            const Eigen::Vector3d cb =
                rb * Eigen::Vector3d((b.bbox.x1 + b.bbox.x2) / 2, (b.bbox.y1 + b.bbox.y2) / 2,
                                     (b.bbox.z1 + b.bbox.z2) / 2) +
                Eigen::Vector3d(b.matrix[3], b.matrix[7], b.matrix[11]);
            const Eigen::Vector3d hb((b.bbox.x2 - b.bbox.x1) / 2, (b.bbox.y2 - b.bbox.y1) / 2,
                                     (b.bbox.z2 - b.bbox.z1) / 2);
            const Eigen::Matrix3d relative = ra_t * rb;
            const Eigen::Vector3d t = ra_t * (cb - ca);
            if (!fcl::obbDisjoint<double>(relative, t, ha, hb)) {
                s.results[count++] = i;
            }
        }
        benchmark::DoNotOptimize(count);
        benchmark::ClobberMemory();
    }
    set_per_object(state, n, count);
}

// Reads every byte of the records the scan reads, through the same pointers: the floor that
// memory bandwidth sets for any full scan.
void BM_StreamFloor(benchmark::State& state) {
    const int n = static_cast<int>(state.range(0));
    const Kind kind = static_cast<Kind>(state.range(1));
    SceneData& s = scene(n, kind);
    double sum = 0;
    for (auto _ : state) {
        double acc[4] = {0, 0, 0, 0};
        for (int i = 0; i < n; ++i) {
            const kep_object3d_t& o = *s.pointers[i];
            acc[0] += o.bbox.x1 + o.bbox.y1 + o.bbox.z1 + o.bbox.x2 + o.bbox.y2 + o.bbox.z2;
            acc[1] += o.matrix[0] + o.matrix[1] + o.matrix[2] + o.matrix[3];
            acc[2] += o.matrix[4] + o.matrix[5] + o.matrix[6] + o.matrix[7];
            acc[3] += o.matrix[8] + o.matrix[9] + o.matrix[10] + o.matrix[11] + o.BB;
        }
        sum = acc[0] + acc[1] + acc[2] + acc[3];
        benchmark::DoNotOptimize(sum);
    }
    set_per_object(state, n, 0);
}

// Registered per scene so that each scene is built once for the three measurements.
void register_all() {
    for (const int kind : {kSparse, kDense}) {
        for (const int n : {1000, 100000, 1000000}) {
            benchmark::RegisterBenchmark("x7ComputeNeighbourhood", BM_Neighbourhood)
                ->Args({n, kind})
                ->ArgNames({"n", "dense"});
            benchmark::RegisterBenchmark("fcl_obbDisjoint", BM_FclObbDisjoint)
                ->Args({n, kind})
                ->ArgNames({"n", "dense"});
            benchmark::RegisterBenchmark("stream_floor", BM_StreamFloor)
                ->Args({n, kind})
                ->ArgNames({"n", "dense"});
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    register_all();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
