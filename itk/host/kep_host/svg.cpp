// SVG pictures of the searches (svg.h).
#include "svg.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <limits>
#include <set>
#include <sstream>

namespace kep_host {

namespace {

struct Point2 {
    double h;  // to the right on the page
    double v;  // upwards on the page
};

// Third-angle views of a structure whose x runs rearwards, y sideways and z upwards: the front
// view looks along +x, the top view along -z with +x up the page, the side view along +y.
enum class View { Top, Front, Side };

Point2 project(View view, const Vec3& p) {
    switch (view) {
        case View::Top:
            return {-p[1], p[0]};
        case View::Front:
            return {-p[1], p[2]};
        case View::Side:
            break;
    }
    return {p[0], p[2]};
}

// Convex hull (Andrew's monotone chain), counter-clockwise, without repeated or collinear points.
std::vector<Point2> convex_hull(std::vector<Point2> points) {
    std::sort(points.begin(), points.end(),
              [](const Point2& a, const Point2& b) { return a.h < b.h || (a.h == b.h && a.v < b.v); });
    auto cross = [](const Point2& o, const Point2& a, const Point2& b) {
        return (a.h - o.h) * (b.v - o.v) - (a.v - o.v) * (b.h - o.h);
    };
    std::vector<Point2> hull(2 * points.size());
    size_t k = 0;
    for (size_t i = 0; i < points.size(); ++i) {
        while (k >= 2 && cross(hull[k - 2], hull[k - 1], points[i]) <= 0) {
            --k;
        }
        hull[k++] = points[i];
    }
    for (size_t i = points.size() - 1, lower = k + 1; i-- > 0;) {
        while (k >= lower && cross(hull[k - 2], hull[k - 1], points[i]) <= 0) {
            --k;
        }
        hull[k++] = points[i];
    }
    hull.resize(k > 1 ? k - 1 : k);
    return hull;
}

std::string num(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", value);
    return std::string(text) == "-0.0" ? "0.0" : text;
}

std::string escape(const std::string& text) {
    std::string out;
    for (char c : text) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            case '\'':
                out += "&apos;";
                break;
            default:
                // Control characters are not allowed in XML 1.0 text.
                out += (static_cast<unsigned char>(c) < 0x20 && c != '\t') ? '?' : c;
        }
    }
    return out;
}

struct Style {
    const char* stroke;
    const char* fill;
    double fill_opacity;
    double width;
    const char* dash;  // "" for a solid line
};

const Style kOtherStyle = {"#868e96", "#dee2e6", 0.3, 0.7, ""};
const Style kFoundStyle = {"#d9480f", "#ff922b", 0.3, 1.3, ""};
const Style kSelectedStyle = {"#1864ab", "#4dabf7", 0.75, 1.3, ""};
const Style kSearchedStyle = {"#c92a2a", "none", 0.0, 1.4, "6 4"};
const Style kGrownStyle = {"#c92a2a", "none", 0.0, 1.1, "2 3"};
const Style kGrownLineStyle = {"#1864ab", "none", 0.0, 1.2, "4 3"};

// A searched shape grown around a selected line is drawn in the selected lines' colour.
const Style& searched_style(const SearchedShape& shape) {
    if (shape.around_line) {
        return kGrownLineStyle;
    }
    return shape.grow != 0.0 ? kGrownStyle : kSearchedStyle;
}

std::string style_attributes(const Style& style) {
    std::string attributes = std::string(" stroke=\"") + style.stroke + "\" stroke-width=\"" +
                             num(style.width) + "\" fill=\"" + style.fill + "\"";
    if (style.fill_opacity > 0.0) {
        char opacity[16];
        std::snprintf(opacity, sizeof opacity, "%.2f", style.fill_opacity);
        attributes += std::string(" fill-opacity=\"") + opacity + "\"";
    }
    if (style.dash[0] != '\0') {
        attributes += std::string(" stroke-dasharray=\"") + style.dash + "\"";
    }
    return attributes;
}

// One drawn outline: the corners of a placed box and how to draw it. Outlines are drawn layer by
// layer (other lines, lines found, selected lines, searched shapes) and, within a layer, the
// larger before the smaller, so that a small part is not hidden under the envelope around it.
struct Outline {
    std::array<Vec3, 8> corners;
    const Style* style;
    int layer;  // 0 other line, 1 line found, 2 selected line, 3 searched shape
    std::string tooltip;
    std::string label;  // written over the outline, "" for none
};

double area(const std::vector<Point2>& hull) {
    double twice = 0;
    for (size_t i = 0; i < hull.size(); ++i) {
        const Point2& a = hull[i];
        const Point2& b = hull[(i + 1) % hull.size()];
        twice += a.h * b.v - b.h * a.v;
    }
    return std::abs(twice) / 2;
}

// Where a label goes: at the centre of its outline, moved down a line at a time while it would
// cover a label already placed (label sizes are estimated from the character count).
struct LabelPlacer {
    struct Placed {
        double x, y, half_width;
    };
    std::vector<Placed> placed;

    Point2 place(Point2 at, const std::string& text) {
        const double half_width = 2.6 * static_cast<double>(text.size()) + 2;
        for (int attempt = 0; attempt < 12; ++attempt) {
            bool clear = std::none_of(placed.begin(), placed.end(), [&](const Placed& p) {
                return std::abs(p.x - at.h) < p.half_width + half_width && std::abs(p.y - at.v) < 10;
            });
            if (clear) {
                break;
            }
            at.v += 10;
        }
        placed.push_back({at.h, at.v, half_width});
        return at;
    }
};

struct Rect {
    double x = 0;
    double y = 0;
    double w = 0;
    double h = 0;
};

// "id (ITEM name)", leaving out what the line does not have.
std::string describe(const Scene& scene, const SceneLine& line, const LineDetail& detail) {
    const std::string& item_id = detail.item_id;
    const std::string name(scene.text(line.name));
    const std::string id(scene.text(line.id));
    std::string what = item_id + (item_id.empty() || name.empty() ? "" : " ") + name;
    return what.empty() ? id : id + " (" + what + ")";
}

class PanelWriter {
public:
    PanelWriter(const SearchPanel& panel, double top) : panel_(panel), top_(top) {
        collect();
        layout();
    }

    double width() const { return width_; }
    double height() const { return height_; }

    void write(std::ostream& out) const {
        double y = top_ + 22;
        out << "<text x=\"" << num(kMargin) << "\" y=\"" << num(y)
            << "\" font-size=\"16\" font-weight=\"bold\">" << escape(panel_.title) << "</text>\n";
        for (const std::string& note : panel_.notes) {
            y += 16;
            out << "<text x=\"" << num(kMargin) << "\" y=\"" << num(y) << "\" font-size=\"12\">"
                << escape(note) << "</text>\n";
        }
        write_view(out, View::Top, top_view_, "top, looking down (along -z)");
        write_view(out, View::Front, front_view_, "front, looking rearwards (along +x)");
        write_view(out, View::Side, side_view_, "side (looking along +y)");
        write_scale(out);
        write_legend(out);
    }

private:
    static constexpr double kMargin = 20;
    static constexpr double kGap = 36;
    static constexpr double kRow = 14;
    static constexpr double kLegendWidth = 340;

    void collect() {
        std::set<std::string> found(panel_.found.begin(), panel_.found.end());
        std::set<std::string> selected(panel_.selected.begin(), panel_.selected.end());
        // Drawn in layers: the other lines, the lines found, the selected lines, the searched shapes.
        const Scene& scene = *panel_.scene;
        for (size_t i = 0; i < scene.lines.size(); ++i) {
            const SceneLine& line = scene.lines[i];
            if (!line.has_box) {
                continue;
            }
            const LineDetail& detail = scene.detail(i);
            Outline outline{box_corners(detail.box, detail.placement), &kOtherStyle, 0,
                            describe(scene, line, detail), ""};
            const std::string id(scene.text(line.id));
            if (selected.count(id) != 0) {
                outline.style = &kSelectedStyle;
                outline.layer = 2;
                outline.label = id;
            } else if (found.count(id) != 0) {
                outline.style = &kFoundStyle;
                outline.layer = 1;
                outline.label = id;
            }
            outlines_.push_back(outline);
        }
        for (const SearchedShape& shape : panel_.searched) {
            outlines_.push_back({box_corners(shape.box, shape.placement, shape.grow), &searched_style(shape),
                                 3, shape.label, ""});
        }
    }

    void layout() {
        const double inf = std::numeric_limits<double>::infinity();
        lo_ = {inf, inf, inf};
        hi_ = {-inf, -inf, -inf};
        for (const Outline& outline : outlines_) {
            for (const Vec3& p : outline.corners) {
                for (int k = 0; k < 3; ++k) {
                    if (std::isfinite(p[k])) {
                        lo_[k] = std::min(lo_[k], p[k]);
                        hi_[k] = std::max(hi_[k], p[k]);
                    }
                }
            }
        }
        double largest = 0;
        for (int k = 0; k < 3; ++k) {
            if (lo_[k] > hi_[k]) {  // nothing drawn
                lo_[k] = -1;
                hi_[k] = 1;
            }
            largest = std::max(largest, hi_[k] - lo_[k]);
        }
        const double pad = largest > 0 ? 0.04 * largest : 1;
        for (int k = 0; k < 3; ++k) {
            // A flat extent (all boxes in one plane) still gets room to be seen.
            const double grow = std::max(pad, (largest * 0.05 - (hi_[k] - lo_[k])) / 2);
            lo_[k] -= grow;
            hi_[k] += grow;
        }
        const double ex = hi_[0] - lo_[0];
        const double ey = hi_[1] - lo_[1];
        const double ez = hi_[2] - lo_[2];
        scale_ = std::min((800 - kGap) / (ey + ex), (720 - kGap) / (ex + ez));

        const double header = 22 + 16 * static_cast<double>(panel_.notes.size()) + 34;
        top_view_ = {kMargin, top_ + header, ey * scale_, ex * scale_};
        front_view_ = {kMargin, top_view_.y + top_view_.h + kGap, ey * scale_, ez * scale_};
        side_view_ = {kMargin + front_view_.w + kGap, front_view_.y, ex * scale_, ez * scale_};
        legend_x_ = side_view_.x + side_view_.w + 2 * kGap;
        const double views_bottom = front_view_.y + front_view_.h + 40;
        const double legend_bottom = top_view_.y + legend_height();
        width_ = legend_x_ + kLegendWidth;
        height_ = std::max(views_bottom, legend_bottom) - top_ + kMargin;
    }

    // Page coordinates of a point of the structure in one of the views.
    Point2 to_page(View view, const Rect& rect, const Vec3& p) const {
        Point2 q = project(view, p);
        Point2 origin = project(view, lo_);
        Point2 far = project(view, hi_);
        const double h_min = std::min(origin.h, far.h);
        const double v_max = std::max(origin.v, far.v);
        return {rect.x + (q.h - h_min) * scale_, rect.y + (v_max - q.v) * scale_};
    }

    void write_view(std::ostream& out, View view, const Rect& rect, const char* name) const {
        out << "<g class=\"view\">\n";
        out << "<text x=\"" << num(rect.x) << "\" y=\"" << num(rect.y - 8)
            << "\" font-size=\"12\" fill=\"#495057\">" << name << "</text>\n";
        out << "<rect x=\"" << num(rect.x) << "\" y=\"" << num(rect.y) << "\" width=\"" << num(rect.w)
            << "\" height=\"" << num(rect.h) << "\" fill=\"#ffffff\" stroke=\"#ced4da\"/>\n";
        struct Drawn {
            const Outline* outline;
            std::vector<Point2> hull;
            double area;
        };
        std::vector<Drawn> drawn;
        for (const Outline& outline : outlines_) {
            std::vector<Point2> page;
            for (const Vec3& corner : outline.corners) {
                page.push_back(to_page(view, rect, corner));
            }
            std::vector<Point2> hull = convex_hull(page);
            if (!hull.empty()) {
                const double size = area(hull);
                drawn.push_back({&outline, std::move(hull), size});
            }
        }
        std::stable_sort(drawn.begin(), drawn.end(), [](const Drawn& a, const Drawn& b) {
            return a.outline->layer != b.outline->layer ? a.outline->layer < b.outline->layer
                                                        : a.area > b.area;
        });
        std::vector<std::pair<Point2, std::string>> labels;
        for (const Drawn& item : drawn) {
            const Outline& outline = *item.outline;
            const std::vector<Point2>& hull = item.hull;
            static const char* const kClasses[4] = {"line other", "line found", "line selected", "searched"};
            out << "<polygon class=\"" << kClasses[outline.layer] << "\" points=\"";
            Point2 centre{0, 0};
            for (size_t i = 0; i < hull.size(); ++i) {
                out << (i == 0 ? "" : " ") << num(hull[i].h) << "," << num(hull[i].v);
                centre.h += hull[i].h / static_cast<double>(hull.size());
                centre.v += hull[i].v / static_cast<double>(hull.size());
            }
            out << "\"" << style_attributes(*outline.style) << "><title>" << escape(outline.tooltip)
                << "</title></polygon>\n";
            if (!outline.label.empty()) {
                labels.emplace_back(centre, outline.label);
            }
        }
        // Labels of the smallest outlines first: they have the least room to move.
        LabelPlacer placer;
        for (auto label = labels.rbegin(); label != labels.rend(); ++label) {
            const Point2 at = placer.place(label->first, label->second);
            out << "<text x=\"" << num(at.h) << "\" y=\"" << num(at.v + 3)
                << "\" font-size=\"9\" text-anchor=\"middle\" stroke=\"#ffffff\" stroke-width=\"2.5\" "
                   "paint-order=\"stroke\">"
                << escape(label->second) << "</text>\n";
        }
        write_axes(out, view, rect);
        out << "</g>\n";
    }

    // Two arrows in a corner of the view showing where +x, +y or +z point on the page.
    void write_axes(std::ostream& out, View view, const Rect& rect) const {
        struct Axis {
            const char* name;
            Vec3 direction;
        };
        const Axis axes[3] = {{"x", {1, 0, 0}}, {"y", {0, 1, 0}}, {"z", {0, 0, 1}}};
        std::vector<std::pair<Point2, const char*>> shown;
        for (const Axis& axis : axes) {
            Point2 d = project(view, axis.direction);
            if (d.h != 0 || d.v != 0) {
                shown.emplace_back(d, axis.name);
            }
        }
        const bool leftwards =
            std::any_of(shown.begin(), shown.end(), [](const auto& a) { return a.first.h < 0; });
        const double ox = leftwards ? rect.x + rect.w - 12 : rect.x + 12;
        const double oy = rect.y + rect.h - 12;
        for (const auto& axis : shown) {
            const double tx = ox + axis.first.h * 24;
            const double ty = oy - axis.first.v * 24;
            out << "<line x1=\"" << num(ox) << "\" y1=\"" << num(oy) << "\" x2=\"" << num(tx) << "\" y2=\""
                << num(ty) << "\" stroke=\"#495057\" stroke-width=\"1\"/>\n";
            out << "<text x=\"" << num(tx + axis.first.h * 6) << "\" y=\"" << num(ty - axis.first.v * 6 + 3)
                << "\" font-size=\"9\" text-anchor=\"middle\" fill=\"#495057\">+" << axis.second
                << "</text>\n";
        }
    }

    // A bar under the front view: the longest of 1, 2 or 5 times a power of ten that is at most a
    // fifth of the largest extent. Distances are in millimetres scaled by 0.001, so lengths are metres.
    void write_scale(std::ostream& out) const {
        double largest = 0;
        for (int k = 0; k < 3; ++k) {
            largest = std::max(largest, hi_[k] - lo_[k]);
        }
        const double target = largest / 5;
        double length = std::pow(10.0, std::floor(std::log10(target)));
        if (length * 5 <= target) {
            length *= 5;
        } else if (length * 2 <= target) {
            length *= 2;
        }
        const double x = front_view_.x;
        const double y = front_view_.y + front_view_.h + 20;
        char text[64];
        std::snprintf(text, sizeof text, "%g mm", length * 1000);
        out << "<line x1=\"" << num(x) << "\" y1=\"" << num(y) << "\" x2=\"" << num(x + length * scale_)
            << "\" y2=\"" << num(y) << "\" stroke=\"#212529\" stroke-width=\"2\"/>\n";
        out << "<text x=\"" << num(x + length * scale_ + 6) << "\" y=\"" << num(y + 4)
            << "\" font-size=\"11\">" << text << "</text>\n";
    }

    double legend_height() const {
        const size_t rows = panel_.searched.size() + panel_.selected.size() + panel_.found.size() + 6 +
                            (panel_.scene->lines.size() + 2) / 3;
        return static_cast<double>(rows) * kRow + 4 * kRow;
    }

    void legend_swatch(std::ostream& out, double y, const Style& style) const {
        out << "<rect x=\"" << num(legend_x_) << "\" y=\"" << num(y - 9) << "\" width=\"14\" height=\"10\""
            << style_attributes(style) << "/>\n";
    }

    void legend_text(std::ostream& out, double x, double y, const std::string& text,
                     const char* extra = "") const {
        out << "<text x=\"" << num(x) << "\" y=\"" << num(y) << "\" font-size=\"11\"" << extra << ">"
            << escape(text) << "</text>\n";
    }

    void write_legend(std::ostream& out) const {
        const Scene& scene = *panel_.scene;
        auto entry = [&](const std::string& id) {
            int at = scene.find(id);
            return at < 0 ? id
                          : id + "  " + scene.detail(static_cast<size_t>(at)).item_id + " " +
                                std::string(scene.text(scene.lines[static_cast<size_t>(at)].name));
        };
        double y = top_view_.y;
        out << "<g class=\"legend\">\n";
        legend_text(out, legend_x_, y, "Searched", " font-weight=\"bold\"");
        for (const SearchedShape& shape : panel_.searched) {
            y += kRow;
            legend_swatch(out, y, searched_style(shape));
            legend_text(out, legend_x_ + 20, y, shape.label);
        }
        if (!panel_.selected.empty()) {
            y += 1.5 * kRow;
            legend_text(out, legend_x_, y, "Selected lines", " font-weight=\"bold\"");
            for (const std::string& id : panel_.selected) {
                y += kRow;
                legend_swatch(out, y, kSelectedStyle);
                legend_text(out, legend_x_ + 20, y, entry(id));
            }
        }
        y += 1.5 * kRow;
        legend_text(out, legend_x_, y,
                    "Found: " + std::to_string(panel_.found.size()) + " lines, in the order handed back",
                    " font-weight=\"bold\"");
        int rank = 0;
        for (const std::string& id : panel_.found) {
            y += kRow;
            const bool selected =
                std::find(panel_.selected.begin(), panel_.selected.end(), id) != panel_.selected.end();
            legend_swatch(out, y, selected ? kSelectedStyle : kFoundStyle);
            legend_text(out, legend_x_ + 20, y, std::to_string(++rank) + ". " + entry(id));
        }
        std::vector<const SceneLine*> others;
        for (const SceneLine& line : scene.lines) {
            const std::string_view id = scene.text(line.id);
            if (std::find(panel_.found.begin(), panel_.found.end(), id) == panel_.found.end() &&
                std::find(panel_.selected.begin(), panel_.selected.end(), id) == panel_.selected.end()) {
                others.push_back(&line);
            }
        }
        y += 1.5 * kRow;
        legend_text(out, legend_x_, y, "Other lines (grey: no box)", " font-weight=\"bold\"");
        legend_swatch(out, y + kRow, kOtherStyle);
        for (size_t i = 0; i < others.size(); ++i) {
            const double x = legend_x_ + 20 + static_cast<double>(i % 3) * 92;
            const double row_y = y + kRow * static_cast<double>(1 + i / 3);
            legend_text(out, x, row_y, std::string(scene.text(others[i]->id)),
                        others[i]->has_box ? "" : " fill=\"#adb5bd\"");
        }
        out << "</g>\n";
    }

    const SearchPanel& panel_;
    double top_;
    std::vector<Outline> outlines_;
    Vec3 lo_{};
    Vec3 hi_{};
    double scale_ = 1;
    Rect top_view_;
    Rect front_view_;
    Rect side_view_;
    double legend_x_ = 0;
    double width_ = 0;
    double height_ = 0;
};

}  // namespace

void write_svg(std::ostream& out, const std::vector<SearchPanel>& panels) {
    std::vector<std::string> bodies;
    double width = 0;
    double top = 0;
    for (const SearchPanel& panel : panels) {
        PanelWriter writer(panel, top);
        std::ostringstream body;
        writer.write(body);
        bodies.push_back(body.str());
        width = std::max(width, writer.width());
        top += writer.height();
    }
    out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    out << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" << num(width) << "\" height=\"" << num(top)
        << "\" viewBox=\"0 0 " << num(width) << " " << num(top)
        << "\" font-family=\"DejaVu Sans, Helvetica, Arial, sans-serif\">\n";
    out << "<rect width=\"100%\" height=\"100%\" fill=\"#f8f9fa\"/>\n";
    for (size_t i = 0; i < bodies.size(); ++i) {
        out << "<g class=\"search\">\n" << bodies[i] << "</g>\n";
    }
    out << "</svg>\n";
}

void require_writable_svg(const std::string& command, const std::string& path) {
    // Opened for appending, which neither truncates nor changes a file that is there.
    std::ofstream probe(path, std::ios::binary | std::ios::app);
    if (!probe) {
        throw UsageError(command + ": --svg: cannot write '" + path + "': " + std::strerror(errno));
    }
}

bool write_svg_file(const std::string& path, const std::vector<SearchPanel>& panels, std::string* error) {
    std::ostringstream text;
    write_svg(text, panels);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text.str();
    out.close();
    if (!out) {
        *error = "cannot write '" + path + "'";
        return false;
    }
    return true;
}

}  // namespace kep_host
