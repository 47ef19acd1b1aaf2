// The lines of a BOM window as the spatial searches see them, for the pictures and the demo.
//
// read_scene() walks a window the way the extension's structure walk does (top line first, each
// child's subtree, then the lines packed into that child) and reads, for every line:
//   - its placement: the product of the occurrence transforms from the top line down, each read as
//     a client reads bl_plmxml_occ_xform, so the extension's override (mod-on representations of
//     the product) places the line exactly as in a search;
//   - its box and where the box comes from: the same choice the extension makes (3D geometry
//     datasets through mod-on part representations and the representation preferences, else the
//     merged boxes of the auxiliary and structure datasets, visualisation datasets left out), made
//     here again from the site's data so that it can be told which datasets gave the box.
// Everything is read through the platform's operations while the extension is loaded. A read that
// fails leaves the line without what it should have given; the walk goes on. Every platform block
// is released before read_scene returns. Nothing here throws except std::bad_alloc.
#ifndef KEP_HOST_SCENE_H
#define KEP_HOST_SCENE_H

#include <tc/tc.h>

#include <array>
#include <string>
#include <vector>

namespace kep_host {

using Vec3 = std::array<double, 3>;

// An affine transform as the extension keeps it: 4x4, row-major, translation in column 3. Its
// text form (bl_plmxml_*_xform) lists the 16 values column by column.
struct Transform {
    double m[4][4] = {{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}, {0, 0, 0, 1}};

    // False (and the identity) unless the text holds at least 16 numbers.
    static bool from_text(const char* text, Transform* out);
    std::string to_text() const;
    Transform operator*(const Transform& child) const;  // parent * child: the child's frame first
    Vec3 apply(const Vec3& p) const;
    Vec3 translation() const { return {m[0][3], m[1][3], m[2][3]}; }
    bool is_identity_rotation() const;
};

// An axis-aligned box by its smallest and largest corner (as stored: the order is not checked).
struct Box {
    Vec3 lo{};
    Vec3 hi{};
};

// The eight corners of `box` (taken by centre and half extents, each half extent grown by
// `grow`, as the overlap test enlarges a box) mapped by `placement`.
std::array<Vec3, 8> box_corners(const Box& box, const Transform& placement, double grow = 0.0);

struct SceneLine {
    tag_t tag = NULLTAG;
    std::string id;           // site id (or the tag's number when the line has none)
    int depth = 0;            // 0 for the top line
    int parent = -1;          // index of the parent line in Scene::lines, -1 for the top line
    std::string packed_into;  // id of the line this one is packed into, "" for an ordinary line
    std::string occurrence_name;
    std::string item_id;
    std::string name;       // object_name of the line's revision
    std::string occ_text;   // bl_plmxml_occ_xform as a client reads it (null reads as "")
    std::string placed_by;  // the mod-on dataset of the product that gives occ_text, or ""
    Transform placement;    // absolute, as the search walk computes it
    bool has_box = false;
    Box box;                                // in the part's own coordinates
    std::string box_from;                   // which datasets gave the box, or why there is none
    std::vector<std::string> box_datasets;  // ids of the datasets whose boxes make the box
};

struct Scene {
    std::vector<SceneLine> lines;           // in the order the walk meets them
    int find(const std::string& id) const;  // index of the line, -1 when absent
    int count_with_box() const;
};

Scene read_scene(tag_t window);

}  // namespace kep_host

#endif
