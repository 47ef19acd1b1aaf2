// `generate`: writes a synthetic site to standard output, for scale tests and benchmarks.
//
// The site is a vehicle-sized product: a top line whose structure fills the volume
// x -0.8..3.7, y -0.9..0.9, z -0.3..1.2 (metres), split level by level into the regions of the
// sub-assemblies down to the parts, each part's box filling most of its region. A search with a
// query box a few region widths wide therefore finds a few dozen lines at any size of site.
//
// What it holds, all decided by one seeded generator (same options, same bytes):
// - exactly --lines lines, --packed-share of them packed lines (a part placed two to four times
//   under one line), the rest a tree of at most --depth levels below the top line in which every
//   assembly has --fanout children, except on the last level, whose lines are spread evenly; given
//   only one of the two, the other is the least that holds the lines; given both, the top line has
//   as many children as the lines need, so that sites of any size are made alike below it;
// - parts reused between neighbouring lines; a part's geometry is a Part3D dataset (a fifth with
//   an LOD1 alternative listed first), an AuxPart dataset (some with a visualisation dataset whose
//   huge box must be ignored), or nothing; half of the parts have a DirectModel dataset;
// - some sub-assemblies with a PLMXML structure dataset that gives them a box of their own;
// - mod-on hosts on the third level from the bottom, chosen until --modon-share of the lines lie
//   below one: each host revision carries ModOnProduct datasets whose forms place the children of
//   up to two of its child assemblies, and ModOnPart datasets (with forms naming the occurrence
//   path, and a box) for about three of its parts;
// - the preferences that the box lookup, the representation filter and the mod-on lookups read,
//   and TC_customization_libraries naming kep, so that `kep-host check` finds the site usable.
//
// The lines are written while the structure is walked; only the tree's shape (a few bytes per
// line) and the objects met on the way are kept, so a site of a million lines takes seconds.
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
#include <vector>

#include "kep_host.h"

namespace kep_host {

namespace {

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
double round_to(double value, double scale) { return std::nearbyint(value * scale) / scale; }

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

int longest_axis(const Vec& lo, const Vec& hi) {
    int axis = 0;
    for (int a = 1; a < 3; ++a) {
        if (hi[a] - lo[a] > hi[axis] - lo[axis]) {
            axis = a;
        }
    }
    return axis;
}

// Splits the box [lo, hi] into `count` boxes, halving along the longest side with some jitter.
void split_region(const Vec& lo, const Vec& hi, uint32_t count, Rng& rng,
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
long capacity(long fanout, int depth, long cap) {
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
  "KEPAuxCgrDatasetType": "AuxCgr", "KEPAuxRepDatasetType": "AuxRep",
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

private:
    // --- the shape ------------------------------------------------------------------------------

    void plan_shape(bool depth_given, bool fanout_given) {
        const long n = options_.lines;
        long packed = std::lround(options_.packed_share * static_cast<double>(n));
        long tree = n - packed;
        if (tree < 2) {  // a packed line needs a line other than the top to be packed into
            packed = 0;
            tree = n;
        }
        // Given one of depth and fan-out, the other is the least that holds the lines in a tree
        // whose top line has at most `fanout` children as well. Given both, the top line takes as
        // many children as the lines need (the modules of a larger product), so that sites of
        // different sizes have the same make-up below the top line.
        int depth = options_.depth;
        long fanout = options_.fanout;
        if (!fanout_given) {
            const double root = std::pow(static_cast<double>(tree), 1.0 / depth);
            fanout = std::max(1L, static_cast<long>(root) - 1);
            while (capacity(fanout, depth, tree) < tree) {
                ++fanout;
            }
        } else if (!depth_given) {
            depth = 1;
            while (depth < kMaxDepth && capacity(fanout, depth, tree) < tree) {
                ++depth;
            }
        }
        const long below_top = capacity(fanout, depth - 1, tree);  // lines of one full child's subtree
        const long top_width = tree > 1 ? (tree - 1 + below_top - 1) / below_top : 0;

        Shape& s = shape_;
        const auto t = static_cast<uint32_t>(tree);
        s.first_child.assign(t, 0);
        s.child_count.assign(t, 0);
        s.subtree.assign(t, 1);
        s.level.assign(t, 0);
        s.packed.assign(t, 0);
        s.flags.assign(t, 0);
        // Level by level: `fanout` children for every line of the level above (`top_width` for the
        // top line), except on the last level, whose lines are spread evenly over the lines above
        // it in a shuffled order.
        uint32_t level_begin = 0, level_end = 1, next = 1;
        while (next < t) {
            const uint64_t parents = level_end - level_begin;
            const uint64_t full = parents * static_cast<uint64_t>(next == 1 ? top_width : fanout);
            const uint64_t take = std::min<uint64_t>(full, t - next);
            std::vector<uint32_t> order(parents);
            for (uint32_t i = 0; i < parents; ++i) {
                order[i] = level_begin + i;
            }
            if (take < full) {
                rng_.shuffle(order);
            }
            for (uint64_t i = 0; i < parents; ++i) {
                s.child_count[order[i]] =
                    static_cast<uint32_t>(take * (i + 1) / parents - take * i / parents);
            }
            for (uint32_t p = level_begin; p < level_end; ++p) {
                s.first_child[p] = next;
                for (uint32_t c = 0; c < s.child_count[p]; ++c) {
                    s.level[next++] = static_cast<uint16_t>(s.depth + 1);
                }
            }
            level_begin = level_end;
            level_end = next;
            ++s.depth;
        }
        for (uint32_t p = t; p-- > 0;) {
            for (uint32_t c = 0; c < s.child_count[p]; ++c) {
                s.subtree[p] += s.subtree[s.first_child[p] + c];
            }
        }
        host_parts_.assign(t, 0);
        plan_modon();
        plan_packed(packed);
    }

    bool is_assembly(uint32_t node) const { return shape_.child_count[node] > 0; }

    // Hosts on the third level from the bottom, until the share of lines below them is reached;
    // in each, up to two child assemblies whose children the host's representation places.
    void plan_modon() {
        Shape& s = shape_;
        const int host_level = std::max(1, s.depth - 2);
        if (options_.modon_share <= 0 || host_level >= s.depth) {
            return;
        }
        std::vector<uint32_t> candidates;
        for (uint32_t i = 0; i < s.level.size(); ++i) {
            if (s.level[i] == host_level && is_assembly(i)) {
                candidates.push_back(i);
            }
        }
        rng_.shuffle(candidates);
        const double target = options_.modon_share * static_cast<double>(options_.lines);
        double covered = 0;
        for (uint32_t host : candidates) {
            if (covered >= target) {
                break;
            }
            s.flags[host] |= kHost;
            covered += s.subtree[host];
            int placed = 0;
            for (uint32_t c = 0; c < s.child_count[host] && placed < 2; ++c) {
                const uint32_t child = s.first_child[host] + c;
                if (is_assembly(child) && rng_.chance(0.4)) {
                    s.flags[child] |= kProductModOn;
                    ++placed;
                }
            }
        }
    }

    // Packed lines in groups of one to three, on parts; not under assemblies whose children a
    // mod-on representation places (it places every line of one occurrence name alike, so their
    // packed lines would all land on one spot) unless no other part is left.
    void plan_packed(long packed) {
        Shape& s = shape_;
        std::vector<uint32_t> preferred, others;
        for (uint32_t p = 0; p < s.child_count.size(); ++p) {
            for (uint32_t c = 0; c < s.child_count[p]; ++c) {
                const uint32_t child = s.first_child[p] + c;
                if (!is_assembly(child)) {
                    ((s.flags[p] & kProductModOn) ? others : preferred).push_back(child);
                }
            }
        }
        rng_.shuffle(preferred);
        rng_.shuffle(others);
        preferred.insert(preferred.end(), others.begin(), others.end());
        while (packed > 0 && !preferred.empty()) {
            for (uint32_t leaf : preferred) {
                if (packed == 0) {
                    break;
                }
                const long room = 255 - static_cast<long>(s.packed[leaf]);
                const long group = std::min({packed, 1 + static_cast<long>(rng_.below(3)), room});
                s.packed[leaf] = static_cast<uint8_t>(s.packed[leaf] + group);
                packed -= group;
            }
        }
    }

    // --- the lines ------------------------------------------------------------------------------

    std::string next_line_id() { return "l" + std::to_string(next_line_++); }
    static std::string assembly_item(uint32_t node) { return "A" + std::to_string(node); }
    static std::string part_item(uint32_t part) { return "P" + std::to_string(part); }

    void indent(int level) {
        static const std::string blanks(2 * 256, ' ');
        out_ << std::string_view(blanks.data(), static_cast<size_t>(2 * std::min(level, 256)));
    }

    // Writes an assembly line and everything below it. [lo, hi] is its region in its own
    // coordinates; `host` is the mod-on host above it (0 for none).
    void write_assembly(uint32_t node, const std::string& id, const Vec& lo, const Vec& hi,
                        const std::string& occurrence_name, const std::string& transform, uint32_t host) {
        const Shape& s = shape_;
        const int level = s.level[node];
        indent(level);
        out_ << "{\"id\": \"" << id << "\", \"revision\": \"ra" << static_cast<long>(node) << "\"";
        if (node != 0) {
            out_ << ", \"occurrence_name\": \"" << occurrence_name << "\", \"transform\": \"" << transform
                 << "\"";
        }
        assemblies_.push_back(node);
        if (level >= 3 && rng_.chance(0.05)) {
            structure_boxes_.push_back({node, {hi[0] - lo[0], hi[1] - lo[1], hi[2] - lo[2]}});
        }
        if (s.flags[node] & kHost) {
            host = node;
        }
        std::unique_ptr<ModOnProduct> product;
        if (s.flags[node] & kProductModOn) {
            product.reset(new ModOnProduct{host, node, occurrence_name, {}, {}});
        }
        path_.push_back(occurrence_name);

        std::vector<std::pair<Vec, Vec>> regions;
        regions.reserve(s.child_count[node]);
        split_region(lo, hi, s.child_count[node], rng_, regions);
        out_ << ", \"children\": [\n";
        for (uint32_t c = 0; c < s.child_count[node]; ++c) {
            const uint32_t child = s.first_child[node] + c;
            const Vec& sub_lo = regions[c].first;
            const Vec& sub_hi = regions[c].second;
            const std::string ordinal = "-" + std::to_string(c + 1);
            if (is_assembly(child)) {
                // A sub-assembly's own coordinates start at a corner of its region; now and then
                // it is turned a half or a quarter of a turn about z.
                const double pick = rng_.uniform();
                const int quarters = pick < 0.7 ? 0 : pick < 0.85 ? 2 : pick < 0.93 ? 1 : 3;
                Placement place = Placement::quarter_turns_z(quarters);
                const Vec e{sub_hi[0] - sub_lo[0], sub_hi[1] - sub_lo[1], sub_hi[2] - sub_lo[2]};
                const Vec own_hi = quarters % 2 == 1 ? Vec{e[1], e[0], e[2]} : e;
                Vec corner_min{1e300, 1e300, 1e300};
                for (int k = 0; k < 8; ++k) {
                    const Vec turned = place.rotate(
                        {(k & 1) ? own_hi[0] : 0.0, (k & 2) ? own_hi[1] : 0.0, (k & 4) ? own_hi[2] : 0.0});
                    for (int a = 0; a < 3; ++a) {
                        corner_min[a] = std::min(corner_min[a], turned[a]);
                    }
                }
                for (int a = 0; a < 3; ++a) {
                    place.t[a] = sub_lo[a] - corner_min[a];
                }
                const std::string name = assembly_item(child) + ordinal;
                const std::string text = place.text();
                write_assembly(child, next_line_id(), {0, 0, 0}, own_hi, name, text, host);
                if (product) {
                    product->child_names.push_back(name);
                    product->child_matrices.push_back(text);
                }
            } else {
                const int quarters = static_cast<int>(rng_.below(4));
                const uint32_t part = pick_part(sub_lo, sub_hi, quarters);
                const Placement place = place_part(sub_lo, sub_hi, part, quarters);
                const std::string name = part_item(part) + ordinal;
                write_part(child, part, place, sub_lo, sub_hi, name, host);
                if (product) {
                    // The representation has the part 2 mm higher than the structure does.
                    Placement moved = place;
                    moved.t[2] += 0.002;
                    product->child_names.push_back(name);
                    product->child_matrices.push_back(moved.text());
                }
            }
            out_ << (c + 1 < s.child_count[node] ? ",\n" : "]");
        }
        path_.pop_back();
        out_ << "}";
        if (product) {
            products_.push_back(std::move(*product));
        }
    }

    // A part centred in its region, turned by quarter turns about z and now and then tilted.
    Placement place_part(const Vec& lo, const Vec& hi, uint32_t part_index, int quarters) {
        Placement place = Placement::quarter_turns_z(quarters);
        if (rng_.chance(0.2)) {
            place = place.after(Placement::turn_x(rng_.uniform(-0.35, 0.35)));
        }
        const Part& part = parts_[part_index];
        const Vec centre = place.rotate({0.5 * (part.lo[0] + part.hi[0]), 0.5 * (part.lo[1] + part.hi[1]),
                                         0.5 * (part.lo[2] + part.hi[2])});
        for (int a = 0; a < 3; ++a) {
            place.t[a] = 0.5 * (lo[a] + hi[a]) - centre[a];
        }
        return place;
    }

    void write_part(uint32_t node, uint32_t part_index, const Placement& place, const Vec& lo, const Vec& hi,
                    const std::string& occurrence_name, uint32_t host) {
        const Shape& s = shape_;
        const int level = s.level[node];
        const std::string revision = "rp" + std::to_string(part_index);
        indent(level);
        out_ << "{\"id\": \"" << next_line_id() << "\", \"revision\": \"" << revision
             << "\", \"occurrence_name\": \"" << occurrence_name << "\", \"transform\": \"" << place.text()
             << "\"";
        if (host != 0 && parts_[part_index].kind <= PartKind::CatLod && host_parts_[host] < 4 &&
            rng_.chance(3.0 / s.subtree[host])) {
            add_modon_part(host, part_index, occurrence_name);
        }
        const int packed = s.packed[node];
        if (packed > 0) {
            // The same part again in a row along the region's longest side, both ways, the row's
            // centres within the middle 80 % of the region.
            const int axis = longest_axis(lo, hi);
            const double pitch = (hi[axis] - lo[axis]) * 0.8 / (packed + 1);
            out_ << ", \"packed\": [\n";
            for (int k = 1; k <= packed; ++k) {
                Placement shifted = place;
                shifted.t[axis] += (k % 2 == 1 ? 1 : -1) * ((k + 1) / 2) * pitch;
                indent(level + 1);
                out_ << "{\"id\": \"" << next_line_id() << "\", \"revision\": \"" << revision
                     << "\", \"occurrence_name\": \"" << occurrence_name << "\", \"transform\": \""
                     << shifted.text() << "\"}" << (k < packed ? ",\n" : "]");
            }
        }
        out_ << "}";
    }

    // A part for a line: often one made shortly before (bolts, clips and brackets are used next
    // to each other), else a new one that fills most of the region.
    uint32_t pick_part(const Vec& lo, const Vec& hi, int quarters) {
        if (!parts_.empty() && rng_.chance(0.5)) {
            const size_t recent = std::min<size_t>(parts_.size(), 32);
            return static_cast<uint32_t>(parts_.size() - 1 - rng_.below(recent));
        }
        Part part{};
        const double pick = rng_.uniform();
        part.kind = pick < 0.62   ? PartKind::Cat
                    : pick < 0.82 ? PartKind::CatLod
                    : pick < 0.92 ? PartKind::Aux
                    : pick < 0.96 ? PartKind::AuxVisu
                                  : PartKind::Bare;
        part.jt = rng_.chance(0.5);
        Vec edge;
        for (int a = 0; a < 3; ++a) {
            edge[a] = std::max(1e-3, (hi[a] - lo[a]) * rng_.uniform(0.45, 0.95));
        }
        if (quarters % 2 == 1) {  // drawn along the other axis, turned into the region
            std::swap(edge[0], edge[1]);
        }
        for (int a = 0; a < 3; ++a) {  // the part's origin lies somewhere in its box
            part.lo[a] = round_to(-edge[a] * rng_.uniform(), kMillimetres);
            part.hi[a] = round_to(part.lo[a] + edge[a], kMillimetres);
        }
        parts_.push_back(part);
        return static_cast<uint32_t>(parts_.size() - 1);
    }

    void add_modon_part(uint32_t host, uint32_t part_index, const std::string& occurrence_name) {
        const Part& part = parts_[part_index];
        ModOnPart m;
        m.host = host;
        m.part = part_index;
        m.ordinal = ++host_parts_[host];
        m.lod_first = rng_.chance(0.3);
        // The occurrence path from the line up to the host's child; path_ holds the names of the
        // assemblies being written, by level.
        m.way_to_root.push_back(occurrence_name);
        for (size_t level = path_.size(); level-- > static_cast<size_t>(shape_.level[host]) + 1;) {
            m.way_to_root.push_back(path_[level]);
        }
        for (int a = 0; a < 3; ++a) {  // the part as built in: 5 % larger than drawn
            const double c = 0.5 * (part.lo[a] + part.hi[a]), h = 0.525 * (part.hi[a] - part.lo[a]);
            m.lo[a] = round_to(c - h, kMillimetres);
            m.hi[a] = round_to(c + h, kMillimetres);
        }
        modon_parts_.push_back(std::move(m));
    }

    // --- the objects ----------------------------------------------------------------------------

    void write_box(const Vec& lo, const Vec& hi) {
        static const char* const names[6] = {"var2_bb_x1", "var2_bb_y1", "var2_bb_z1",
                                             "var2_bb_x2", "var2_bb_y2", "var2_bb_z2"};
        out_ << "\"type\": \"BBForm\", \"attributes\": {";
        for (int k = 0; k < 6; ++k) {
            out_ << (k ? ", \"" : "\"") << names[k] << "\": " << (k < 3 ? lo[k] : hi[k - 3]);
        }
        out_ << "}}";
    }

    void write_string_list(const std::vector<std::string>& values) {
        out_ << "[";
        for (size_t k = 0; k < values.size(); ++k) {
            out_ << (k ? ", \"" : "\"") << values[k] << "\"";
        }
        out_ << "]";
    }

    void relate(const std::string& primary, const char* relation, const std::string& secondary) {
        relations_ += relations_.empty() ? "\n[\"" : ",\n[\"";
        relations_ += primary;
        relations_ += "\", \"";
        relations_ += relation;
        relations_ += "\", \"";
        relations_ += secondary;
        relations_ += "\"]";
    }

    void write_objects() {
        out_ << "\"objects\": {\n"
             << "\"fvis\": {\"type\": \"BBForm\", \"attributes\": {\"var2_bb_x1\": -10, \"var2_bb_y1\": -10, "
                "\"var2_bb_z1\": -10, \"var2_bb_x2\": 10, \"var2_bb_y2\": 10, \"var2_bb_z2\": 10}},\n"
             << "\"tvis\": {\"type\": \"TypeForm\", \"attributes\": {\"var2_type\": \"VISUALIZATION\"}}";
        for (uint32_t node : assemblies_) {
            out_ << ",\n\"ra" << static_cast<long>(node) << "\": {\"type\": \"ItemRevision\", \"item_id\": \""
                 << assembly_item(node) << "\"}";
        }
        for (const StructureBox& box : structure_boxes_) {
            const std::string n = std::to_string(box.node);
            Vec hi;
            for (int a = 0; a < 3; ++a) {
                hi[a] = round_to(box.hi[a], kMillimetres);
            }
            out_ << ",\n\"ds" << n << "\": {\"type\": \"PLMXML\", \"name\": \"" << assembly_item(box.node)
                 << "/A\", \"refs\": {\"VAR2BBInfo\": [\"fs" << n << "\"]}},\n\"fs" << n << "\": {";
            write_box({0, 0, 0}, hi);
            relate("ra" + n, "IMAN_reference", "ds" + n);
        }
        for (size_t k = 0; k < parts_.size(); ++k) {
            write_part_objects(k);
        }
        for (size_t k = 0; k < modon_parts_.size(); ++k) {
            const ModOnPart& m = modon_parts_[k];
            const std::string n = std::to_string(k), host = "ra" + std::to_string(m.host);
            const std::string prefix = assembly_item(m.host) + "." + part_item(m.part) + ".";
            out_ << ",\n\"mi" << n << "\": {\"type\": \"ModOnForm\", \"attributes\": {\"var2_way_to_root\": ";
            write_string_list(m.way_to_root);
            out_ << ", \"var2_child_instname\": [], \"var2_child_matrix\": []}},\n\"mb" << n << "\": {";
            write_box(m.lo, m.hi);
            const std::string refs =
                "\"refs\": {\"KEPModOnInfo\": [\"mi" + n + "\"], \"VAR2BBInfo\": [\"mb" + n + "\"]}}";
            if (m.lod_first) {  // an alternative representation the filter passes over
                out_ << ",\n\"mq" << n << "\": {\"type\": \"ModOnPart\", \"name\": \"" << prefix
                     << "LOD1/A\", " << refs;
                relate(host, "KEP_mod_on", "mq" + n);
            }
            out_ << ",\n\"mp" << n << "\": {\"type\": \"ModOnPart\", \"name\": \"" << prefix << "M"
                 << static_cast<long>(m.ordinal) << "/A\", " << refs;
            relate(host, "KEP_mod_on", "mp" + n);
        }
        for (size_t k = 0; k < products_.size(); ++k) {
            const ModOnProduct& m = products_[k];
            const std::string n = std::to_string(k);
            out_ << ",\n\"mf" << n << "\": {\"type\": \"ModOnForm\", \"attributes\": {\"var2_way_to_root\": ";
            write_string_list({m.occurrence_name});
            out_ << ", \"var2_child_instname\": ";
            write_string_list(m.child_names);
            out_ << ", \"var2_child_matrix\": ";
            write_string_list(m.child_matrices);
            out_ << "}},\n\"ms" << n << "\": {\"type\": \"ModOnProduct\", \"name\": \""
                 << assembly_item(m.host) << "." << assembly_item(m.child)
                 << ".S/A\", \"refs\": {\"KEPModOnInfo\": [\"mf" << n << "\"]}}";
            relate("ra" + std::to_string(m.host), "KEP_mod_on", "ms" + n);
        }
        out_ << "},\n\"relation_types\": [\"IMAN_specification\", \"IMAN_reference\", \"IMAN_Rendering\", "
                "\"KEP_mod_on\"],\n\"relations\": ["
             << relations_ << "]\n";
    }

    void write_part_objects(size_t k) {
        const Part& part = parts_[k];
        const std::string n = std::to_string(k), item = part_item(static_cast<uint32_t>(k)), rev = "rp" + n;
        out_ << ",\n\"" << rev << "\": {\"type\": \"ItemRevision\", \"item_id\": \"" << item << "\"}";
        auto dataset = [&](const char* prefix, const char* type, const std::string& name, const char* refs) {
            out_ << ",\n\"" << prefix << n << "\": {\"type\": \"" << type << "\", \"name\": \"" << name
                 << "\"";
            if (refs != nullptr) {
                out_ << ", \"refs\": {" << refs << "}";
            }
            out_ << "}";
        };
        const std::string box_ref = "\"VAR2BBInfo\": [\"fp" + n + "\"]";
        switch (part.kind) {
            case PartKind::CatLod:  // the alternative first: the filter has to pass over it
                dataset("dq", "Part3D", item + ".LOD1/A", box_ref.c_str());
                relate(rev, "IMAN_specification", "dq" + n);
                [[fallthrough]];
            case PartKind::Cat:
                dataset("dp", "Part3D", item + "/A", box_ref.c_str());
                relate(rev, "IMAN_specification", "dp" + n);
                break;
            case PartKind::AuxVisu:
                dataset("dv", "AuxPart", item + ".VIS/A",
                        "\"VAR2BBInfo\": [\"fvis\"], \"VAR2TypeInfo\": [\"tvis\"]");
                relate(rev, "IMAN_specification", "dv" + n);
                [[fallthrough]];
            case PartKind::Aux:
                dataset("dx", "AuxPart", item + "/A", box_ref.c_str());
                relate(rev, "IMAN_specification", "dx" + n);
                break;
            case PartKind::Bare:
                break;
        }
        if (part.kind != PartKind::Bare) {
            out_ << ",\n\"fp" << n << "\": {";
            write_box(part.lo, part.hi);
        }
        if (part.jt) {
            dataset("dj", "DirectModel", item + "/A", nullptr);
            relate(rev, "IMAN_Rendering", "dj" + n);
        }
    }

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

// A whole number in [lo, hi]: says which of the two a text is not ("abc", "1e3" and "0" differ).
CLI::Validator whole_number(long lo, long hi) {
    const std::string range = std::to_string(lo) + " to " + std::to_string(hi);
    return CLI::Validator(
        [lo, hi, range](std::string& text) -> std::string {
            size_t start = !text.empty() && (text[0] == '-' || text[0] == '+') ? 1 : 0;
            if (start == text.size() || text.size() > 19 ||
                !std::all_of(text.begin() + static_cast<long>(start), text.end(),
                             [](char c) { return c >= '0' && c <= '9'; })) {
                return "'" + text + "' is not a whole number (expected " + range + ")";
            }
            const long long value = std::stoll(text);
            if (value < lo || value > hi) {
                return text + " is out of range (expected " + range + ")";
            }
            return std::string();
        },
        "INT in " + range);
}

}  // namespace

Command add_generate_command(CLI::App& app) {
    auto* sub = app.add_subcommand("generate", "write a synthetic site to standard output");
    auto options = std::make_shared<GenerateOptions>();
    sub->add_option("--lines", options->lines, "number of lines, packed lines included")
        ->required()
        ->check(whole_number(1, kMaxLines));
    auto* depth = sub->add_option("--depth", options->depth, "levels below the top line (default 6)")
                      ->check(whole_number(1, kMaxDepth));
    auto* fanout =
        sub->add_option(
               "--fanout", options->fanout,
               "children of each assembly below the top line (default: the fewest that hold the lines; "
               "with --depth, the top line takes as many as the lines need)")
            ->check(whole_number(1, 1000000));
    sub->add_option("--seed", options->seed, "seed of the random choices (default 1)");
    sub->add_option("--packed-share", options->packed_share,
                    "share of the lines that are packed lines (default 0.1)")
        ->check(CLI::Range(0.0, 0.5));
    sub->add_option("--modon-share", options->modon_share,
                    "share of the lines that lie below a mod-on host (default 0.1)")
        ->check(CLI::Range(0.0, 1.0));
    Command command;
    command.needs_platform = false;
    command.run = [options, depth, fanout](Host&) {
        Generator generator(*options, depth->count() > 0, fanout->count() > 0);
        return generator.write();
    };
    return command;
}

}  // namespace kep_host
