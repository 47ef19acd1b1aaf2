// The generator's lines: the structure written while it is walked, with the parts placed in their
// regions and the mod-on parts noted for the objects.
#include <algorithm>
#include <string>

#include "generate.h"

namespace kep_host::generation {

// --- the lines ------------------------------------------------------------------------------

void Generator::indent(int level) {
    static const std::string blanks(2 * 256, ' ');
    out_ << std::string_view(blanks.data(), static_cast<size_t>(2 * std::min(level, 256)));
}

// Writes an assembly line and everything below it. [lo, hi] is its region in its own
// coordinates; `host` is the mod-on host above it (0 for none).
void Generator::write_assembly(uint32_t node, const std::string& id, const Vec& lo, const Vec& hi,
                               const std::string& occurrence_name, const std::string& transform,
                               uint32_t host) {
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
Placement Generator::place_part(const Vec& lo, const Vec& hi, uint32_t part_index, int quarters) {
    Placement place = Placement::quarter_turns_z(quarters);
    if (rng_.chance(0.2)) {
        place = place.after(Placement::turn_x(rng_.uniform(-0.35, 0.35)));
    }
    const Part& part = parts_[part_index];
    const Vec centre = place.rotate(
        {0.5 * (part.lo[0] + part.hi[0]), 0.5 * (part.lo[1] + part.hi[1]), 0.5 * (part.lo[2] + part.hi[2])});
    for (int a = 0; a < 3; ++a) {
        place.t[a] = 0.5 * (lo[a] + hi[a]) - centre[a];
    }
    return place;
}

void Generator::write_part(uint32_t node, uint32_t part_index, const Placement& place, const Vec& lo,
                           const Vec& hi, const std::string& occurrence_name, uint32_t host) {
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
uint32_t Generator::pick_part(const Vec& lo, const Vec& hi, int quarters) {
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

void Generator::add_modon_part(uint32_t host, uint32_t part_index, const std::string& occurrence_name) {
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

}  // namespace kep_host::generation
