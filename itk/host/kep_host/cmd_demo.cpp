// `demo`: a tour of the built-in sample site, a front end module of a car, with the extension
// loaded as the platform loads it.
//
// It prints, as plain text on standard output:
//   1. the structure as an indented tree: every line with its placement in the module and its box,
//      and which datasets gave the box (or why the line has none);
//   2. a volume search and a neighbourhood search through the extension's services, with the
//      lines found and, for each, where its box comes from;
//   3. the line properties that the extension answers (transforms and JT dataset tag) and the
//      dataset property var2_is_v0 for a few objects, next to the values stored in the site;
//   4. what changes when the representation filter is switched on;
//   5. a check that the boxes shown are those the searches see (a search over everything, and
//      probes inside and just outside every box);
// and writes a picture of both searches (demo.svg, or the file named by --svg).
//
// The text depends only on the site and the extension, never on the machine or the time, so it
// can be compared with a checked-in copy. Exit status: 0, or 1 when a service or a property read
// answered with a status other than 0.
#include <ae/dataset.h>
#include <base_utils/Mem.h>
#include <standin/control.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <iostream>
#include <map>
#include <memory>
#include <sstream>

#include "kep_host.h"
#include "page.h"
#include "scene.h"
#include "svg.h"

namespace kep_host {

namespace {

const char kWindow[] = "w1";

// The searches of the tour: the space kept free for an extra horn, and the neighbours of the left
// fan and of the upper coolant hose.
const std::vector<double> kVolumeBox = {-0.16, -0.62, 0.26, -0.06, -0.48, 0.38};
const double kVolumeDeltaMm = 20;
const std::vector<std::string> kSelected = {"fan_l", "hose_upper"};
const double kNeighbourhoodDeltaMm = 10;

std::string fmt(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.6g", std::abs(value) < 5e-10 ? 0.0 : value);
    return text;
}

std::string point(const Vec3& p) { return "(" + fmt(p[0]) + ", " + fmt(p[1]) + ", " + fmt(p[2]) + ")"; }

// The rotation of a placement in words: "" for none, else the angle and the axis.
std::string rotation(const Transform& t) {
    if (t.is_identity_rotation()) {
        return "";
    }
    const double cosine = std::max(-1.0, std::min(1.0, (t.m[0][0] + t.m[1][1] + t.m[2][2] - 1) / 2));
    const double angle = std::acos(cosine) * 180 / std::acos(-1.0);
    Vec3 axis = {t.m[2][1] - t.m[1][2], t.m[0][2] - t.m[2][0], t.m[1][0] - t.m[0][1]};
    double length = std::sqrt(axis[0] * axis[0] + axis[1] * axis[1] + axis[2] * axis[2]);
    if (length < 1e-9) {  // a half turn: the axis is the column of the largest diagonal
        for (int k = 0; k < 3; ++k) {
            axis[k] = std::sqrt(std::max(0.0, (t.m[k][k] + 1) / 2));
        }
        length = std::sqrt(axis[0] * axis[0] + axis[1] * axis[1] + axis[2] * axis[2]);
    }
    for (double& a : axis) {
        a /= length;
    }
    char text[96];
    static const char* const kNames[3] = {"x", "y", "z"};
    for (int k = 0; k < 3; ++k) {
        if (std::abs(std::abs(axis[k]) - 1) < 1e-6) {
            std::snprintf(text, sizeof text, ", turned %.4g deg about %s", axis[k] < 0 ? -angle : angle,
                          kNames[k]);
            return text;
        }
    }
    std::snprintf(text, sizeof text, ", turned %.4g deg about %s", angle, point(axis).c_str());
    return text;
}

// The stored data of a line in the site, for comparing with what the extension answers: its
// transform text and the id of its JT dataset ("null" for none); "" for an id that is no line.
std::string stored(const std::string& id, const char* field) {
    standin::StoredLine line;
    if (!standin::stored_line(standin::tag_of(id), &line)) {
        return "";
    }
    if (std::string(field) == "transform") {
        return line.has_transform ? line.transform : "null";
    }
    return line.jt == NULLTAG ? "null" : standin::id_of(line.jt);
}

class Tour {
public:
    Tour(std::ostream& out, const Host& host) : out_(out), host_(host) {}

    int run(const std::string& svg_path, const std::string& html_path) {
        window_ = standin::tag_of(kWindow);
        const Scene scene = read_scene(host_, window_);
        out_
            << "kep-host demo: the front end module of the built-in sample site, with the extension loaded\n";
        structure(scene);
        std::vector<std::string> volume_found = volume_search(scene);
        std::vector<std::string> neighbourhood_found = neighbourhood_search(scene);
        properties();
        representations(scene);
        check(scene);

        std::string error;
        const SearchPanel volume = volume_panel(scene, kWindow, kVolumeBox, kVolumeDeltaMm, volume_found);
        if (!write_svg_file(svg_path,
                            {volume, neighbourhood_panel(scene, kWindow, kSelected, kNeighbourhoodDeltaMm,
                                                         neighbourhood_found)},
                            &error)) {
            std::cerr << "kep-host: demo: --svg: " << error << '\n';
            return kExitInternal;
        }
        // The page shows the volume search; it is not named in the text, which stays the same with
        // or without it.
        if (!html_path.empty() && !write_page_file(html_path, volume, &error)) {
            std::cerr << "kep-host: demo: --html: " << error << '\n';
            return kExitInternal;
        }
        out_ << "\nA picture of both searches (top, front and side views; lines found in orange, selected "
                "lines\n"
                "in blue, searched boxes dashed) is in "
             << svg_path << ".\n";
        return failures_ == 0 ? kExitOk : kExitStatus;
    }

private:
    void heading(const std::string& text) { out_ << "\n== " << text << " ==\n"; }

    // Writes `head` and `tail` on one line, or `tail` on a line of its own (after `indent`) when
    // both would make the line longer than 100 characters.
    void wrapped(const std::string& head, const std::string& tail, const std::string& indent) {
        if (head.size() + 1 + tail.size() <= 100) {
            out_ << head << " " << tail << "\n";
        } else {
            out_ << head << "\n" << indent << tail << "\n";
        }
    }

    void structure(const Scene& scene) {
        heading("The product: window " + std::string(kWindow) + ", " + std::to_string(scene.lines.size()) +
                " lines, " + std::to_string(scene.count_with_box()) + " with a box");
        out_ << "Each line: id, occurrence name, item, name; then where the line sits in the module "
                "(metres), and\n"
                "its box in its own coordinates with the datasets that gave it. \"placed by\" names the "
                "mod-on\n"
                "representation that gives a line its occurrence transform instead of the stored one.\n\n";
        for (size_t i = 0; i < scene.lines.size(); ++i) {
            const SceneLine& line = scene.lines[i];
            const LineDetail& detail = scene.detail(i);
            const std::string indent(2 * static_cast<size_t>(detail.depth), ' ');
            const std::string id(scene.text(line.id));
            out_ << indent << id << "  " << scene.text(line.occurrence_name) << "  " << detail.item_id << " "
                 << scene.text(line.name);
            if (!detail.packed_into.empty()) {
                out_ << "  (packed into " << detail.packed_into << ")";
            }
            out_ << "\n"
                 << indent << "    at " << point(detail.placement.translation())
                 << rotation(detail.placement);
            if (line.placed_by != 0) {
                Transform stored_occ;
                Transform::from_text(stored(id, "transform").c_str(), &stored_occ);
                const Transform stored_at =
                    scene.detail(static_cast<size_t>(line.parent)).placement * stored_occ;
                out_ << ", placed by " << scene.text(line.placed_by) << " (stored: at "
                     << point(stored_at.translation()) << ")";
            }
            out_ << "\n";
            if (line.has_box) {
                wrapped(indent + "    box " + point(detail.box.lo) + " .. " + point(detail.box.hi) + " from",
                        std::string(scene.text(line.box_from)), indent + "      ");
            } else {
                out_ << indent << "    " << scene.text(line.box_from) << "\n";
            }
        }
    }

    std::vector<std::string> call(const char* service, const std::vector<standin::UserArg>& args,
                                  int* status) {
        std::vector<tag_t> returned;
        bool handed_back = false;
        *status = standin::call_service(service, args, &returned, &handed_back);
        ++searches_;
        if (*status != 0) {
            ++failures_;
        }
        std::vector<std::string> ids;
        for (tag_t tag : returned) {
            std::string id = standin::id_of(tag);
            ids.push_back(id.empty() ? std::to_string(tag) : id);
        }
        return ids;
    }

    static standin::UserArg tag_arg(tag_t tag) {
        standin::UserArg arg;
        arg.kind = standin::UserArg::Tag;
        arg.tag = tag;
        return arg;
    }

    static standin::UserArg double_arg(double value) {
        standin::UserArg arg;
        arg.kind = standin::UserArg::Double;
        arg.value = value;
        return arg;
    }

    void show_found(const Scene& scene, int status, const std::vector<std::string>& found,
                    const std::map<std::string, std::string>& near = {}) {
        out_ << "status " << status << ", " << found.size() << " lines, in the order handed back:\n";
        for (const std::string& id : found) {
            const int at = scene.find(id);
            if (at < 0) {
                out_ << "  " << id << "\n";
                continue;
            }
            const SceneLine& line = scene.lines[static_cast<size_t>(at)];
            char head[64];
            const std::string& item_id = scene.detail(static_cast<size_t>(at)).item_id;
            std::snprintf(head, sizeof head, "  %-12s %-12s ", std::string(scene.text(line.id)).c_str(),
                          item_id.c_str());
            auto next_to = near.find(id);
            wrapped(head + (next_to != near.end() ? "next to " + next_to->second + "; " : "") + "box from",
                    std::string(scene.text(line.box_from)), std::string(28, ' '));
        }
    }

    std::vector<std::string> volume_search(const Scene& scene) {
        heading("Volume search: what reaches into the space kept free for a second horn?");
        out_ << "kep_userservice_volume_search(window " << kWindow << ", " << fmt(kVolumeDeltaMm)
             << " mm, box " << point({kVolumeBox[0], kVolumeBox[1], kVolumeBox[2]}) << " .. "
             << point({kVolumeBox[3], kVolumeBox[4], kVolumeBox[5]}) << ")\n"
             << "The service enlarges the box by " << fmt(kVolumeDeltaMm * 0.001)
             << " on every side and tests it against every line's box,\nturned and placed as the line is.\n";
        standin::UserArg box;
        box.kind = standin::UserArg::DoubleArray;
        box.doubles = kVolumeBox;
        int status = 0;
        std::vector<std::string> found = call("kep_userservice_volume_search",
                                              {tag_arg(window_), double_arg(kVolumeDeltaMm), box}, &status);
        show_found(scene, status, found);
        return found;
    }

    std::vector<std::string> neighbourhood_search(const Scene& scene) {
        std::string names;
        for (const std::string& id : kSelected) {
            names += (names.empty() ? "" : " and ") + id;
        }
        heading("Neighbourhood search: what lies within " + fmt(kNeighbourhoodDeltaMm) + " mm of " + names +
                "?");
        out_ << "kep_userservice_neighbourhood_search(window " << kWindow << ", "
             << fmt(kNeighbourhoodDeltaMm) << " mm, lines " << names << ")\n"
             << "Each selected line's box, enlarged by " << fmt(kNeighbourhoodDeltaMm * 0.001)
             << " along its own axes, is tested against the\nothers; the neighbours of the first "
                "selected line come first, each line once.\n";
        standin::UserArg lines;
        lines.kind = standin::UserArg::TagArray;
        for (const std::string& id : kSelected) {
            lines.tags.push_back(standin::tag_of(id));
        }
        int status = 0;
        std::vector<std::string> found =
            call("kep_userservice_neighbourhood_search",
                 {tag_arg(window_), double_arg(kNeighbourhoodDeltaMm), lines}, &status);
        // Which selected line each one neighbours: the same search, one selected line at a time.
        std::map<std::string, std::string> near;
        for (tag_t selected : lines.tags) {
            standin::UserArg one = lines;
            one.tags = {selected};
            int one_status = 0;
            for (const std::string& id :
                 call("kep_userservice_neighbourhood_search",
                      {tag_arg(window_), double_arg(kNeighbourhoodDeltaMm), one}, &one_status)) {
                std::string& neighbours = near[id];
                neighbours += (neighbours.empty() ? "" : " and ") + standin::id_of(selected);
            }
        }
        show_found(scene, status, found, near);
        return found;
    }

    std::string ask_text(const std::string& id, const char* property) {
        char* raw = nullptr;
        int status = standin::ask_string(standin::tag_of(id), property, &raw);
        std::string value = raw != nullptr ? "\"" + std::string(raw) + "\"" : "null";
        MEM_free(raw);
        return checked(status, value);
    }

    std::string ask_tag(const std::string& id, const char* property) {
        tag_t value = NULLTAG;
        int status = standin::ask_tag(standin::tag_of(id), property, &value);
        return checked(status, value == NULLTAG ? "null" : standin::id_of(value));
    }

    std::string ask_logical(const std::string& id, const char* property) {
        bool value = false;
        int status = standin::ask_logical(standin::tag_of(id), property, &value);
        return checked(status, value ? "true" : "false");
    }

    std::string checked(int status, const std::string& value) {
        if (status != 0) {
            ++failures_;
            return "(status " + std::to_string(status) + ")";
        }
        return value;
    }

    void property(const std::string& id, const char* name, const std::string& value,
                  const std::string& note) {
        char head[64];
        std::snprintf(head, sizeof head, "  %-15s %-20s ", id.c_str(), name);
        out_ << head << value << (note.empty() ? "" : "\n" + std::string(39, ' ') + note) << "\n";
    }

    void properties() {
        heading("Properties, read as a client reads them");
        out_ << "The extension answers the three line properties from the mod-on representations and the\n"
                "preferred representation; the stored value (what the platform alone would answer) is "
                "noted.\n\n";
        // mo_fanasm places the fans; it does not list the shroud, which keeps its stored transform.
        for (const char* id : {"fan_l", "shroud"}) {
            const bool listed = std::string(id) == "fan_l";
            property(id, "bl_plmxml_occ_xform", ask_text(id, "bl_plmxml_occ_xform"),
                     "stored \"" + stored(id, "transform") + "\"" +
                         (listed ? ""
                                 : "\n" + std::string(39, ' ') +
                                       "(not listed by mo_fanasm: the stored value stands)"));
        }
        for (const char* id : {"motor_l", "horn_l"}) {
            property(id, "bl_plmxml_abs_xform", ask_text(id, "bl_plmxml_abs_xform"), "");
        }
        for (const char* id : {"radiator", "hose_upper", "harness", "bolt2", "bumper", "fem"}) {
            property(id, "bl_jt_dataset_tag", ask_tag(id, "bl_jt_dataset_tag"), "stored " + stored(id, "jt"));
        }
        out_ << "\n";
        for (const char* id : {"ds_radiator", "ds_radiator_v0", "ds_carrier"}) {
            tag_t version0 = NULLTAG;
            std::string note;
            if (AE_ask_dataset(standin::tag_of(id), &version0) == ITK_ok) {
                note = "its version 0 is " + standin::id_of(version0);
            }
            property(id, "var2_is_v0", ask_logical(id, "var2_is_v0"), note);
        }
    }

    void representations(const Scene& before) {
        heading("Representations: the filter switched on");
        out_ << "KEPAltRepList names MASTER and LOD1. With KEPUseAltRepFilter \"0\" the master "
                "representation is\n"
                "used; with \"1\" the names of KEPActualAltRepList (MASTER, LOD1) are tried from the last to "
                "the\n"
                "first, so LOD1 is used where there is one and the master elsewhere:\n\n";
        standin::set_preference("KEPUseAltRepFilter", {"1"});
        const Scene after = read_scene(host_, window_);
        for (size_t i = 0; i < after.lines.size(); ++i) {
            const SceneLine& line = after.lines[i];
            const std::string id(after.text(line.id));
            const std::string_view box_from = after.text(line.box_from);
            const int at = before.find(id);
            if (at >= 0 && before.text(before.lines[static_cast<size_t>(at)].box_from) != box_from) {
                const Box& box = after.detail(i).box;
                char head[32];
                std::snprintf(head, sizeof head, "  %-12s ", id.c_str());
                out_ << head << box_from << "\n"
                     << std::string(15, ' ') << "box " << point(box.lo) << " .. " << point(box.hi) << "\n";
            }
        }
        out_ << "\n";
        property("radiator", "bl_jt_dataset_tag", ask_tag("radiator", "bl_jt_dataset_tag"), "");
        standin::set_preference("KEPUseAltRepFilter", {"0"});
        out_ << "(KEPUseAltRepFilter set back to \"0\")\n";
    }

    std::vector<std::string> volume(const Vec3& lo, const Vec3& hi, int* status) {
        standin::UserArg box;
        box.kind = standin::UserArg::DoubleArray;
        box.doubles = {lo[0], lo[1], lo[2], hi[0], hi[1], hi[2]};
        return call("kep_userservice_volume_search", {tag_arg(window_), double_arg(0), box}, status);
    }

    // The boxes above are the extension's account of the window (the explanation's walk); the
    // searches work them out on their own. This holds the two to each other: a search over all of
    // space must find exactly the lines that have a box in the account, and of two probes per line
    // (point-sized query boxes, placed by the account's placement) the one at the centre of the
    // line's box must find the line, the one 1 mm beyond the box's +x face must not.
    void check(const Scene& scene) {
        heading("Check: the boxes shown are the boxes the searches see");
        int status = 0;
        std::vector<std::string> found = volume({-1000, -1000, -1000}, {1000, 1000, 1000}, &status);
        std::vector<std::string> expected;
        for (auto line = scene.lines.rbegin(); line != scene.lines.rend(); ++line) {
            if (line->has_box) {
                expected.emplace_back(scene.text(line->id));
            }
        }
        out_ << "A search over everything: status " << status << ", " << found.size() << " lines; ";
        if (found == expected) {
            out_
                << "exactly the lines with a box above,\nlast met first, as the structure walk lists them.\n";
        } else {
            ++failures_;
            out_ << "expected the " << expected.size()
                 << " lines with a box above, last met first:\n  expected:";
            for (const std::string& id : expected) {
                out_ << " " << id;
            }
            out_ << "\n  found:   ";
            for (const std::string& id : found) {
                out_ << " " << id;
            }
            out_ << "\n";
        }

        const double kProbe = 1e-7;
        std::vector<std::string> disagree;
        for (size_t i = 0; i < scene.lines.size(); ++i) {
            const SceneLine& line = scene.lines[i];
            if (!line.has_box) {
                continue;
            }
            const Box& box = scene.detail(i).box;
            const Transform& placement = scene.detail(i).placement;
            Vec3 centre;
            for (int k = 0; k < 3; ++k) {
                centre[k] = (box.lo[k] + box.hi[k]) / 2;
            }
            Vec3 beyond = centre;
            beyond[0] = std::max(box.lo[0], box.hi[0]) + 0.001;
            const Vec3 inside = placement.apply(centre);
            const Vec3 outside = placement.apply(beyond);
            auto probe = [&](const Vec3& at) {
                int probe_status = 0;
                std::vector<std::string> hits =
                    volume({at[0] - kProbe, at[1] - kProbe, at[2] - kProbe},
                           {at[0] + kProbe, at[1] + kProbe, at[2] + kProbe}, &probe_status);
                return std::find(hits.begin(), hits.end(), scene.text(line.id)) != hits.end();
            };
            if (!probe(inside) || probe(outside)) {
                disagree.emplace_back(scene.text(line.id));
            }
        }
        out_ << "Probes at each box's centre and 1 mm beyond its +x face: ";
        if (disagree.empty()) {
            out_ << "all " << expected.size() << " boxes agree.\n";
        } else {
            ++failures_;
            out_ << disagree.size() << " boxes disagree:";
            for (const std::string& id : disagree) {
                out_ << " " << id;
            }
            out_ << "\n";
        }
        memory();
    }

    // Everything the platform handed out during the tour, to the extension and to kep-host, has
    // been released by now; the result lists of the searches are copies the stand-in keeps.
    void memory() {
        const int live = standin::live_blocks();
        const long misuse = standin::misuse_count();
        out_ << "Platform memory after " << searches_ << " searches and all the reads above: " << live
             << " blocks live, " << misuse << " bad frees.\n";
        if (live != 0 || misuse != 0) {
            ++failures_;
        }
    }

    std::ostream& out_;
    const Host& host_;
    tag_t window_ = NULLTAG;
    int failures_ = 0;
    int searches_ = 0;
};

}  // namespace

Command add_demo_command(CLI::App& app) {
    auto* sub = app.add_subcommand("demo", "the tour of the built-in sample site");
    auto svg = std::make_shared<std::string>("demo.svg");
    sub->add_option("--svg", *svg, "write the picture of the searches to FILE (default demo.svg)");
    auto html = std::make_shared<std::string>();
    sub->add_option("--html", *html, "write a 3D page of the volume search to FILE");
    Command command;
    command.prepare = [svg, html](Host& host) {
        if (host.site_source != kSampleSiteName) {
            throw UsageError("demo: the tour is written for the built-in sample site; leave out --site");
        }
        require_writable_svg("demo", *svg);
        if (!html->empty()) {
            require_writable_html("demo", *html);
        }
    };
    command.run = [svg, html](Host& host) {  // the options live as long as the command
        std::ostringstream text;
        int status = Tour(text, host).run(*svg, *html);
        std::cout << text.str();
        std::cout.flush();
        return status;
    };
    return command;
}

}  // namespace kep_host
