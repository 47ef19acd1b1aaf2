// The site generator behind `generate` (cmd_generate.cpp): its options, its seeded random
// numbers, the writer of the JSON text, the shapes it plans and the Generator that writes a site.
// The Generator's lines are written in generate_lines.cpp, its objects in generate_objects.cpp.
#ifndef KEP_HOST_GENERATE_H
#define KEP_HOST_GENERATE_H

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <iostream>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "kep_host.h"

namespace kep_host::generation {

struct GenerateOptions {
    long lines = 0;
    int depth = 6;
    int fanout = 0;  // 0: the smallest that holds the lines within the depth
    uint64_t seed = 1;
    double packed_share = 0.1;
    double modon_share = 0.1;
};

constexpr int kMaxDepth = 512;  // far below the mod-on lookup's limit of 1024 path entries
constexpr long kMaxLines = 50000000;

// The vehicle's volume in the top line's coordinates (metres).
constexpr double kVehicleLo[3] = {-0.8, -0.9, -0.3};
constexpr double kVehicleHi[3] = {3.7, 0.9, 1.2};

// xoshiro256** seeded through splitmix64: the same stream on every platform, unlike the
// distributions of <random>.
class Rng {
public:
    explicit Rng(uint64_t seed) {
        for (uint64_t& s : s_) {
            seed += 0x9e3779b97f4a7c15ULL;
            uint64_t z = seed;
            z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
            z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
            s = z ^ (z >> 31);
        }
    }
    uint64_t next() {
        const uint64_t result = rotl(s_[1] * 5, 7) * 9;
        const uint64_t t = s_[1] << 17;
        s_[2] ^= s_[0];
        s_[3] ^= s_[1];
        s_[1] ^= s_[2];
        s_[0] ^= s_[3];
        s_[2] ^= t;
        s_[3] = rotl(s_[3], 45);
        return result;
    }
    double uniform() { return static_cast<double>(next() >> 11) * 0x1.0p-53; }
    double uniform(double lo, double hi) { return lo + (hi - lo) * uniform(); }
    uint64_t below(uint64_t n) { return n == 0 ? 0 : next() % n; }
    bool chance(double p) { return uniform() < p; }
    template <class T>
    void shuffle(std::vector<T>& v) {
        for (size_t i = v.size(); i > 1; --i) {
            std::swap(v[i - 1], v[below(i)]);
        }
    }

private:
    static uint64_t rotl(uint64_t x, int k) { return (x << k) | (x >> (64 - k)); }
    std::array<uint64_t, 4> s_{};
};

// Buffered standard output; numbers go through to_chars (no locale, shortest exact text).
class Writer {
public:
    Writer() { buf_.reserve(kChunk + 4096); }
    ~Writer() { flush(); }
    Writer(const Writer&) = delete;
    Writer& operator=(const Writer&) = delete;

    Writer& operator<<(std::string_view text) {
        buf_.append(text);
        if (buf_.size() >= kChunk) {
            flush();
        }
        return *this;
    }
    Writer& operator<<(char c) {
        buf_.push_back(c);
        return *this;
    }
    Writer& operator<<(long value) {
        char text[24];
        const auto end = std::to_chars(text, text + sizeof text, value).ptr;
        return *this << std::string_view(text, static_cast<size_t>(end - text));
    }
    Writer& operator<<(double value) { return *this << number_text(value); }
    void flush() {
        if (!buf_.empty() && std::fwrite(buf_.data(), 1, buf_.size(), stdout) != buf_.size()) {
            failed_ = true;
        }
        buf_.clear();
    }
    bool failed() const { return failed_; }

    static std::string number_text(double value) {
        char text[32];
        value += 0.0;  // no "-0"
        const auto end = std::to_chars(text, text + sizeof text, value).ptr;
        return std::string(text, static_cast<size_t>(end - text));
    }

private:
    static constexpr size_t kChunk = 1 << 20;
    std::string buf_;
    bool failed_ = false;
};

// Rounds to a multiple of 1/scale; dividing the rounded integer by the exact scale gives the double
// nearest the decimal value, which to_chars then writes in its short form (0.1234, not
// 0.12340000000000001).
inline double round_to(double value, double scale) { return std::nearbyint(value * scale) / scale; }

constexpr double kMillimetres = 1e4;  // positions and boxes: to 0.1 mm
constexpr double kRotation = 1e6;

using Vec = std::array<double, 3>;

// An affine placement: x' = r x + t.
struct Placement {
    double r[3][3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}};
    Vec t{0, 0, 0};

    static Placement quarter_turns_z(int quarters) {
        static const int cosines[4] = {1, 0, -1, 0};
        Placement p;
        const int c = cosines[quarters & 3], s = cosines[(quarters + 3) & 3];
        p.r[0][0] = c;
        p.r[0][1] = -s;
        p.r[1][0] = s;
        p.r[1][1] = c;
        return p;
    }
    static Placement turn_x(double angle) {
        Placement p;
        const double c = round_to(std::cos(angle), kRotation), s = round_to(std::sin(angle), kRotation);
        p.r[1][1] = c;
        p.r[1][2] = -s;
        p.r[2][1] = s;
        p.r[2][2] = c;
        return p;
    }
    // The rotation of this placement applied after that of `inner`.
    Placement after(const Placement& inner) const {
        Placement p;
        for (int i = 0; i < 3; ++i) {
            for (int j = 0; j < 3; ++j) {
                p.r[i][j] = r[i][0] * inner.r[0][j] + r[i][1] * inner.r[1][j] + r[i][2] * inner.r[2][j];
            }
        }
        return p;
    }
    Vec rotate(const Vec& v) const {
        Vec out;
        for (int i = 0; i < 3; ++i) {
            out[i] = r[i][0] * v[0] + r[i][1] * v[1] + r[i][2] * v[2];
        }
        return out;
    }
    // The transform text: the 16 values column by column, the translation 13th to 15th.
    std::string text() const {
        std::string s;
        s.reserve(80);
        for (int c = 0; c < 4; ++c) {
            for (int row = 0; row < 4; ++row) {
                const double v = row == 3 ? (c == 3 ? 1.0 : 0.0)
                                 : c == 3 ? round_to(t[row], kMillimetres)
                                          : r[row][c];
                if (!s.empty()) {
                    s += ' ';
                }
                s += Writer::number_text(v);
            }
        }
        return s;
    }
};

inline int longest_axis(const Vec& lo, const Vec& hi) {
    int axis = 0;
    for (int a = 1; a < 3; ++a) {
        if (hi[a] - lo[a] > hi[axis] - lo[axis]) {
            axis = a;
        }
    }
    return axis;
}

// Splits the box [lo, hi] into `count` boxes, halving along the longest side with some jitter.
inline void split_region(const Vec& lo, const Vec& hi, uint32_t count, Rng& rng,
                         std::vector<std::pair<Vec, Vec>>& out) {
    if (count <= 1) {
        out.emplace_back(lo, hi);
        return;
    }
    const int axis = longest_axis(lo, hi);
    const uint32_t first = count / 2;
    const double share = std::clamp(static_cast<double>(first) / count * rng.uniform(0.85, 1.15), 0.1, 0.9);
    Vec cut_hi = hi, cut_lo = lo;
    cut_hi[axis] = cut_lo[axis] = lo[axis] + share * (hi[axis] - lo[axis]);
    split_region(lo, cut_hi, first, rng, out);
    split_region(cut_lo, hi, count - first, rng, out);
}

// Lines of a full tree of the given fan-out and depth, saturating at `cap`.
inline long capacity(long fanout, int depth, long cap) {
    long total = 0, level = 1;
    for (int d = 0; d <= depth && total < cap; ++d) {
        total += level;
        level = level > cap / fanout ? cap : level * fanout;
    }
    return std::min(total, cap);
}

// The tree's shape, breadth first: node 0 is the top line, the children of a node are
// consecutive and come after it.
struct Shape {
    std::vector<uint32_t> first_child, child_count, subtree;  // subtree: tree lines, itself included
    std::vector<uint16_t> level;
    std::vector<uint8_t> packed;  // number of packed lines the line lists
    std::vector<uint8_t> flags;
    int depth = 0;
};
enum NodeFlag : uint8_t { kHost = 1, kProductModOn = 2 };

enum class PartKind : uint8_t { Cat, CatLod, Aux, AuxVisu, Bare };

struct Part {
    PartKind kind;
    bool jt;
    Vec lo, hi;  // box in the part's coordinates
};

// A ModOnPart dataset on a host's revision: the part as built in along one occurrence path.
struct ModOnPart {
    uint32_t host, part;
    int ordinal;  // among the host's mod-on parts
    bool lod_first;
    std::vector<std::string> way_to_root;
    Vec lo, hi;
};

// A ModOnProduct dataset on a host's revision: the placements of one child assembly's children.
struct ModOnProduct {
    uint32_t host, child;
    std::string occurrence_name;
    std::vector<std::string> child_names, child_matrices;
};

struct StructureBox {
    uint32_t node;
    Vec hi;  // the assembly's region in its own coordinates, from the origin
};

// Everything before the lines: the platform, the site's types, and the preferences that the box
// lookup, the representation filter and the mod-on lookups read.
constexpr const char* kSiteHead = R"({
"platform": {"version": 80000300, "search_scope": 4},
"types": {"Part3D": "Dataset", "AuxPart": "Dataset", "DirectModel": "Dataset", "PLMXML": "Dataset",
  "ModOnPart": "Dataset", "ModOnProduct": "Dataset", "BBForm": "Form", "TypeForm": "Form", "ModOnForm": "Form"},
"properties": {"Dataset": ["var2_is_v0"]},
"preferences": {
  "TC_customization_libraries": ["kep"],
  "KEPPartDatasetType": "Part3D", "KEPModelDatasetType": "Model3D",
  "KEPCgrDatasetType": "Tess3D", "KEPRepDatasetType": "Rep3D",
  "KEPAuxPartDatasetType": "AuxPart", "KEPAuxModelDatasetType": "AuxModel",
  "KEPAuxCgrDatasetType": "AuxTess", "KEPAuxRepDatasetType": "AuxRep",
  "KEPArchiveDatasetType": "Archive",
  "KEPProductDatasetRelation": "IMAN_reference", "KEPProductDatasetType": "PLMXML",
  "KEPModOnPartDatasetRelation": "KEP_mod_on", "KEPModOnPartDatasetType": "ModOnPart",
  "KEPModOnProductDatasetRelation": "KEP_mod_on", "KEPModOnProductDatasetType": "ModOnProduct",
  "KEPAltRepList": ["MASTER", "LOD1"], "KEPUseAltRepFilter": "0"},
)";

class Generator {
public:
    Generator(const GenerateOptions& options, bool depth_given, bool fanout_given)
        : options_(options), rng_(options.seed) {
        plan_shape(depth_given, fanout_given);
    }

    int write() {
        out_ << kSiteHead << "\"windows\": {\"w1\":\n";
        const Vec lo{kVehicleLo[0], kVehicleLo[1], kVehicleLo[2]};
        const Vec hi{kVehicleHi[0], kVehicleHi[1], kVehicleHi[2]};
        if (is_assembly(0)) {
            write_assembly(0, "top", lo, hi, "", std::string(), 0);
        } else {  // a site of one line: the top line is a part
            out_ << "{\"id\": \"top\", \"revision\": \"rp" << static_cast<long>(pick_part(lo, hi, 0))
                 << "\"}";
        }
        out_ << "},\n";
        write_objects();
        out_ << "}\n";
        out_.flush();
        if (out_.failed() || std::fflush(stdout) != 0) {
            std::cerr << "kep-host: generate: cannot write to standard output\n";
            return kExitInternal;
        }
        return kExitOk;
    }

    // --- the shape (cmd_generate.cpp) ---------------------------------------------------------
    void plan_shape(bool depth_given, bool fanout_given);
    bool is_assembly(uint32_t node) const { return shape_.child_count[node] > 0; }
    void plan_modon();
    void plan_packed(long packed);

    // --- the lines (generate_lines.cpp) -------------------------------------------------------
    std::string next_line_id() { return "l" + std::to_string(next_line_++); }
    static std::string assembly_item(uint32_t node) { return "A" + std::to_string(node); }
    static std::string part_item(uint32_t part) { return "P" + std::to_string(part); }
    void indent(int level);
    void write_assembly(uint32_t node, const std::string& id, const Vec& lo, const Vec& hi,
                        const std::string& occurrence_name, const std::string& transform, uint32_t host);
    Placement place_part(const Vec& lo, const Vec& hi, uint32_t part_index, int quarters);
    void write_part(uint32_t node, uint32_t part_index, const Placement& place, const Vec& lo, const Vec& hi,
                    const std::string& occurrence_name, uint32_t host);
    uint32_t pick_part(const Vec& lo, const Vec& hi, int quarters);
    void add_modon_part(uint32_t host, uint32_t part_index, const std::string& occurrence_name);

    // --- the objects (generate_objects.cpp) ---------------------------------------------------
    void write_box(const Vec& lo, const Vec& hi);
    void write_string_list(const std::vector<std::string>& values);
    void relate(const std::string& primary, const char* relation, const std::string& secondary);
    void write_objects();
    void write_part_objects(size_t k);

    GenerateOptions options_;
    Rng rng_;
    Shape shape_;
    Writer out_;
    long next_line_ = 1;
    std::vector<Part> parts_;
    std::vector<uint32_t> assemblies_;
    std::vector<StructureBox> structure_boxes_;
    std::vector<ModOnPart> modon_parts_;
    std::vector<ModOnProduct> products_;
    std::vector<uint8_t> host_parts_;  // ModOnPart datasets made so far, by host
    std::vector<std::string> path_;    // occurrence names of the assemblies being written, by level
    std::string relations_;
};

}  // namespace kep_host::generation

#endif  // KEP_HOST_GENERATE_H
