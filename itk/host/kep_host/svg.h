// Pictures of the spatial searches as SVG: three orthographic views of every line's oriented box.
//
// One picture holds one or more panels, one per search, stacked top to bottom. A panel lays out
// its views as an engineering drawing does (third-angle projection): the top view above the front
// view, the side view to the right of the front view, all at one scale. Every line that has a box
// is drawn as the outline of its box's projection (the convex hull of the eight corners placed by
// the line's absolute transform); the lines found are highlighted, the selected lines of a
// neighbourhood search drawn in their own colour, and the searched shapes (the query box, the
// boxes enlarged by the distance) dashed. A legend names every line of the window.
#ifndef KEP_HOST_SVG_H
#define KEP_HOST_SVG_H

#include <ostream>
#include <string>
#include <vector>

#include "kep_host.h"
#include "scene.h"

namespace kep_host {

// A shape that was searched around: a box placed by a transform, each half extent grown by `grow`.
struct SearchedShape {
    Box box;
    Transform placement;
    double grow = 0.0;
    std::string label;         // shown in the legend
    bool around_line = false;  // the box of a selected line (drawn in the selected lines' colour)
};

struct SearchPanel {
    std::string title;               // the search, in one line
    std::vector<std::string> notes;  // further lines under the title
    const Scene* scene = nullptr;
    std::vector<SearchedShape> searched;
    std::vector<std::string> selected;  // ids of the selected lines (neighbourhood search)
    std::vector<std::string> found;     // ids of the lines found, in the order handed back
    // The query as given, for the page: "box" (query_box, six values), "near" (the selected
    // lines) or "none"; the distance in millimetres.
    std::string query_kind = "none";
    std::vector<double> query_box;
    double delta_mm = 0.0;
    std::string focus;  // the id of the line the page picks first, "" for none
};

// Writes the whole SVG document. The output depends only on the panels (numbers are written
// with a fixed precision), so the same search gives the same file.
void write_svg(std::ostream& out, const std::vector<SearchPanel>& panels);

// The panels of the two searches. `box` holds the six values of the query box as given (smallest
// corner, then largest); `delta_mm` is the distance as given, in millimetres; `found` the ids of
// the lines handed back. The scene must outlive the panel.
SearchPanel volume_panel(const Scene& scene, const std::string& window, const std::vector<double>& box,
                         double delta_mm, const std::vector<std::string>& found);
SearchPanel neighbourhood_panel(const Scene& scene, const std::string& window,
                                const std::vector<std::string>& selected, double delta_mm,
                                const std::vector<std::string>& found);

// Checks, before anything runs, that the picture can be written to `path`, without changing a
// file that is there; throws UsageError naming the command otherwise.
void require_writable_svg(const std::string& command, const std::string& path);

// Writes the picture to `path`; false (with *error set) when the file cannot be written.
bool write_svg_file(const std::string& path, const std::vector<SearchPanel>& panels, std::string* error);

}  // namespace kep_host

#endif
