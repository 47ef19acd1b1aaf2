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
#include <algorithm>
#include <memory>
#include <string>

#include "generate.h"
#include "kep_host.h"

namespace kep_host {
namespace generation {

// --- the shape ------------------------------------------------------------------------------

void Generator::plan_shape(bool depth_given, bool fanout_given) {
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
            s.child_count[order[i]] = static_cast<uint32_t>(take * (i + 1) / parents - take * i / parents);
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

// Hosts on the third level from the bottom, until the share of lines below them is reached;
// in each, up to two child assemblies whose children the host's representation places.
void Generator::plan_modon() {
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
void Generator::plan_packed(long packed) {
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

}  // namespace generation

namespace {

using generation::GenerateOptions;
using generation::Generator;
using generation::kMaxDepth;
using generation::kMaxLines;

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