// The panels of the two searches, as the pictures and the page show them (svg.h).
#include <cstdio>

#include "svg.h"

namespace kep_host {

namespace {

std::string format_number(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", value);
    return text;
}

std::string format_point(double x, double y, double z) {
    return "(" + format_number(x) + ", " + format_number(y) + ", " + format_number(z) + ")";
}

}  // namespace

SearchPanel volume_panel(const Scene& scene, const std::string& window, const std::vector<double>& box,
                         double delta_mm, const std::vector<std::string>& found) {
    SearchPanel panel;
    panel.scene = &scene;
    panel.found = found;
    panel.query_kind = "box";
    panel.query_box = box;
    panel.delta_mm = delta_mm;
    if (box.size() == 6) {
        SearchedShape query;
        query.box.lo = {box[0], box[1], box[2]};
        query.box.hi = {box[3], box[4], box[5]};
        query.label = "query box " + format_point(box[0], box[1], box[2]) + " .. " +
                      format_point(box[3], box[4], box[5]);
        panel.searched.push_back(query);
        if (delta_mm != 0.0) {
            query.grow = delta_mm * 0.001;
            query.label = "query box enlarged by " + format_number(delta_mm) + " mm";
            panel.searched.push_back(query);
        }
        panel.title = "Volume search in window " + window + ": the query box enlarged by " +
                      format_number(delta_mm) + " mm";
    } else {
        panel.title = "Volume search in window " + window + " with " + std::to_string(box.size()) +
                      " box values (no search)";
    }
    panel.notes.push_back(std::to_string(found.size()) + " of the " + std::to_string(scene.count_with_box()) +
                          " lines with a box found");
    return panel;
}

SearchPanel neighbourhood_panel(const Scene& scene, const std::string& window,
                                const std::vector<std::string>& selected, double delta_mm,
                                const std::vector<std::string>& found) {
    SearchPanel panel;
    panel.scene = &scene;
    panel.found = found;
    panel.selected = selected;
    panel.query_kind = "near";
    panel.delta_mm = delta_mm;
    std::string names;
    for (const std::string& id : selected) {
        names += (names.empty() ? "" : ", ") + id;
        int at = scene.find(id);
        if (at >= 0 && scene.lines[static_cast<size_t>(at)].has_box) {
            SearchedShape shape;
            shape.box = scene.detail(static_cast<size_t>(at)).box;
            shape.placement = scene.detail(static_cast<size_t>(at)).placement;
            shape.grow = delta_mm * 0.001;
            shape.label = id + " enlarged by " + format_number(delta_mm) + " mm";
            shape.around_line = true;
            panel.searched.push_back(shape);
        }
    }
    panel.title = "Neighbourhood search in window " + window + ": within " + format_number(delta_mm) +
                  " mm of " + names;
    panel.notes.push_back(std::to_string(found.size()) + " of the " + std::to_string(scene.count_with_box()) +
                          " lines with a box found");
    return panel;
}

}  // namespace kep_host
