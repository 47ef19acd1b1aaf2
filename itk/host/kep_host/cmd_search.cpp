// `volume-search` and `neighbourhood-search`: call the extension's spatial search services as a
// client would and show the lines they hand back, in the order handed back.
//
// With --svg FILE the search is also drawn (svg.h), with --html FILE shown on a 3D page (page.h).
// Both need every line's placement and box, which kep-host reads through the platform after the result is
// printed, so that neither the counts of --stats nor the calls counted by --fail see those reads; the armed
// faults are lifted first, so the picture shows the whole window. With the trace switched on, the reads are
// traced like any other (the extension answers the transform properties).
#include <standin/control.h>
#include <standin/library.h>
#include <tc/tc_startup.h>

#include <algorithm>
#include <cstdio>
#include <iomanip>
#include <iostream>
#include <memory>
#include <set>
#include <sstream>
#include <vector>

#include "kep_host.h"
#include "page.h"
#include "scene.h"
#include "svg.h"

namespace kep_host {

namespace {

const char kVolumeService[] = "kep_userservice_volume_search";
const char kNeighbourhoodService[] = "kep_userservice_neighbourhood_search";

// Half the edge of a box that holds every line of any site, in metres. Far from the largest
// double: the overlap test adds and scales extents.
const double kAllSpace = 1e150;

struct SearchOptions {
    std::string window;
    std::string delta_text;
    std::vector<std::string> box_text;
    double delta = 0.0;  // read from the texts by prepare()
    std::vector<double> box;
    std::vector<std::string> lines;
    std::string svg;
    std::string html;
    // Resolved by prepare().
    tag_t window_tag = NULLTAG;
    std::vector<tag_t> line_tags;
};

void add_common_options(CLI::App* sub, SearchOptions& options) {
    sub->add_option("--window", options.window, "id of the BOM window")->required();
    // Numbers are taken as texts and read by prepare(), which names the option and the value that
    // is not a number.
    sub->add_option("--delta", options.delta_text,
                    "distance that enlarges the searched boxes, in millimetres")
        ->type_name("MM")
        ->required();
    sub->add_option("--svg", options.svg, "write a drawing of the search to FILE");
    sub->add_option("--html", options.html, "write an interactive 3D page of the search to FILE");
}

// "a BOM line", "a dataset", ... for messages about an id of the wrong kind.
std::string kind_words(tag_t tag) {
    const std::string kind = standin::kind_of(tag);
    if (kind == "BOMLine") {
        return "a BOM line";
    }
    if (kind == "BOMWindow") {
        return "a BOM window";
    }
    if (kind == "ItemRevision") {
        return "an item revision";
    }
    if (kind == "Dataset") {
        return "a dataset";
    }
    if (kind == "Form") {
        return "a form";
    }
    return kind.empty() ? "an object" : "a " + kind;
}

// The ids of the site's windows, in tag order.
std::vector<std::string> window_ids() {
    std::vector<std::string> ids;
    for (const auto& entry : standin::all_ids()) {
        if (standin::kind_of(entry.second) == "BOMWindow") {
            ids.push_back(entry.first);
        }
    }
    return ids;
}

void prepare_common(const Host& host, const std::string& name, SearchOptions& options) {
    options.delta = parse_number(name, "--delta", options.delta_text, "a number of millimetres");
    options.window_tag = require_tag(host, name, options.window);
    if (standin::kind_of(options.window_tag) != "BOMWindow") {
        std::string windows;
        for (const std::string& id : window_ids()) {
            windows += (windows.empty() ? "" : ", ") + id;
        }
        throw UsageError(name + ": --window '" + options.window + "' names " +
                         kind_words(options.window_tag) + ", not a BOM window, in site '" + host.site_source +
                         "'" + (windows.empty() ? "" : " (its windows: " + windows + ")"));
    }
    if (!options.svg.empty()) {
        require_writable_svg(name, options.svg);
    }
    if (!options.html.empty()) {
        require_writable_html(name, options.html);
    }
}

// Calls the service and prints {"status": s, "lines": [...]}; a service that handed nothing back
// shows as an empty list. `found` receives the ids shown.
int run_service(const Host& host, const char* service, const std::vector<standin::UserArg>& args,
                std::vector<std::string>* found) {
    std::vector<tag_t> returned;
    bool handed_back = false;
    int status = standin::call_service(service, args, &returned, &handed_back);
    nlohmann::ordered_json lines = nlohmann::ordered_json::array();
    for (tag_t tag : returned) {
        lines.push_back(tag_to_json(tag));
        found->push_back(lines.back().is_string() ? lines.back().get<std::string>() : lines.back().dump());
    }
    nlohmann::ordered_json result;
    result["status"] = status;
    result["lines"] = std::move(lines);
    return finish(host, std::move(result), status);
}

// Asks the extension to keep the walk of the search about to be made for the account the pictures
// are drawn from, so that the window is walked once. Not while a fault is armed: the account is
// taken with the faults lifted, and a walk that met one would not be the walk it makes.
void keep_walk_for_drawing(const Host& host, const SearchOptions& options) {
    if ((options.svg.empty() && options.html.empty()) || host.extension_library == nullptr ||
        !standin::armed_faults().empty()) {
        return;
    }
    void* symbol = standin::library_function(host.extension_library, "kep_explain_line");
    if (symbol != nullptr) {
        char* none = nullptr;
        // The page alone asks for the lean account, which shows no line's absolute transform.
        const int keep = options.svg.empty() ? KEP_EXPLAIN_KEEP_NEXT_WALK_LEAN : KEP_EXPLAIN_KEEP_NEXT_WALK;
        reinterpret_cast<ExplainFn>(symbol)(NULLTAG, nullptr, keep, &none);
    }
}

// Draws the search once its result is out; the exit status stays the search's unless the file
// cannot be written.
int draw(const Host& host, const SearchOptions& options, int exit_status,
         const std::function<SearchPanel(const Scene&)>& make_panel) {
    if (options.svg.empty() && options.html.empty()) {
        return exit_status;
    }
    standin::clear_faults();
    // The search again, as the extension's account of the window, for what the page shows of each line.
    kep_explain_query_t query{};
    query.delta_mm = options.delta;
    query.window = options.window_tag;  // the window the search walked, whose walk it may have kept
    if (options.box.size() == 6) {
        query.kind = KEP_EXPLAIN_QUERY_BOX;
        std::copy(options.box.begin(), options.box.end(), query.box);
    } else {
        query.kind = KEP_EXPLAIN_QUERY_NEAR;
        query.near_lines = options.line_tags.data();
        query.near_count = static_cast<int>(options.line_tags.size());
    }
    // The picture places each line's box by its placement; the page needs no placement.
    const Scene scene = read_scene(host, options.window_tag, &query,
                                   options.svg.empty() ? KEP_EXPLAIN_WINDOW_LEAN : KEP_EXPLAIN_WINDOW);
    const SearchPanel panel = make_panel(scene);
    std::string error;
    if (!options.svg.empty() && !write_svg_file(options.svg, {panel}, &error)) {
        std::cerr << "kep-host: --svg: " << error << '\n';
        return kExitInternal;
    }
    if (!options.html.empty() && !write_page_file(options.html, panel, &error)) {
        std::cerr << "kep-host: --html: " << error << '\n';
        return kExitInternal;
    }
    return exit_status;
}

// The lines of the window that have a box, as the extension sees them: those that a volume search
// over all of space hands back. Made after the result is out, with the faults lifted and without a
// trace (standard error muted, the system log put back as it was), so that it changes nothing the
// run shows. False when that search does not answer with status 0.
bool lines_with_box(tag_t window, std::set<tag_t>* lines) {
    standin::clear_faults();
    standin::UserArg window_arg;
    window_arg.kind = standin::UserArg::Tag;
    window_arg.tag = window;
    standin::UserArg delta_arg;
    delta_arg.kind = standin::UserArg::Double;
    standin::UserArg box_arg;
    box_arg.kind = standin::UserArg::DoubleArray;
    box_arg.doubles = {-kAllSpace, -kAllSpace, -kAllSpace, kAllSpace, kAllSpace, kAllSpace};
    std::vector<tag_t> returned;
    bool handed_back = false;
    const int status = quietly([&] {
        return standin::call_service(kVolumeService, {window_arg, delta_arg, box_arg}, &returned,
                                     &handed_back);
    });
    lines->insert(returned.begin(), returned.end());
    return status == ITK_ok;
}

standin::UserArg make_arg(standin::UserArg::Kind kind) {
    standin::UserArg arg;
    arg.kind = kind;
    return arg;
}

standin::UserArg tag_arg(tag_t tag) {
    standin::UserArg arg = make_arg(standin::UserArg::Tag);
    arg.tag = tag;
    return arg;
}

standin::UserArg double_arg(double value) {
    standin::UserArg arg = make_arg(standin::UserArg::Double);
    arg.value = value;
    return arg;
}

}  // namespace

Command add_volume_search_command(CLI::App& app) {
    auto* sub = app.add_subcommand(
        "volume-search", "lines whose boxes overlap a box (metres) enlarged by a distance (millimetres)");
    auto options = std::make_shared<SearchOptions>();
    add_common_options(sub, *options);
    sub->add_option("--box", options->box_text,
                    "the box in metres, in the top line's coordinates: smallest corner X1 Y1 Z1, then "
                    "largest X2 Y2 Z2")
        ->required()
        ->expected(6);
    Command command;
    command.prepare = [options](Host& host) {
        prepare_common(host, "volume-search", *options);
        options->box.clear();
        for (const std::string& text : options->box_text) {
            options->box.push_back(
                parse_number("volume-search", "--box", text, "six numbers in metres, X1 Y1 Z1 X2 Y2 Z2"));
        }
        warn_about_box("volume-search", options->box);
    };
    command.run = [options](Host& host) {
        standin::UserArg box = make_arg(standin::UserArg::DoubleArray);
        box.doubles = options->box;
        std::vector<std::string> found;
        keep_walk_for_drawing(host, *options);
        int exit_status = run_service(
            host, kVolumeService, {tag_arg(options->window_tag), double_arg(options->delta), box}, &found);
        return draw(host, *options, exit_status, [&](const Scene& scene) {
            return volume_panel(scene, options->window, options->box, options->delta, found);
        });
    };
    return command;
}

Command add_neighbourhood_search_command(CLI::App& app) {
    auto* sub =
        app.add_subcommand("neighbourhood-search",
                           "lines whose boxes overlap the box of any given line, enlarged by a distance "
                           "(millimetres)");
    auto options = std::make_shared<SearchOptions>();
    add_common_options(sub, *options);
    sub->add_option("--lines", options->lines, "ids of the selected lines")->required()->expected(1, -1);
    Command command;
    command.prepare = [options](Host& host) {
        prepare_common(host, "neighbourhood-search", *options);
        options->line_tags.clear();
        for (const std::string& id : options->lines) {
            const tag_t tag = require_tag(host, "neighbourhood-search", id);
            if (standin::kind_of(tag) != "BOMLine") {
                throw UsageError("neighbourhood-search: --lines '" + id + "' names " + kind_words(tag) +
                                 ", not a line of window '" + options->window + "', in site '" +
                                 host.site_source + "'");
            }
            if (standin::window_of_line(tag) != options->window_tag) {
                throw UsageError("neighbourhood-search: --lines '" + id +
                                 "' is a line of another window, not of '" + options->window +
                                 "', in site '" + host.site_source + "'");
            }
            options->line_tags.push_back(tag);
        }
    };
    command.run = [options](Host& host) {
        standin::UserArg lines = make_arg(standin::UserArg::TagArray);
        lines.tags = options->line_tags;
        std::vector<std::string> found;
        keep_walk_for_drawing(host, *options);
        int exit_status =
            run_service(host, kNeighbourhoodService,
                        {tag_arg(options->window_tag), double_arg(options->delta), lines}, &found);
        std::set<tag_t> with_box;
        const bool known = lines_with_box(options->window_tag, &with_box);
        for (size_t i = 0; i < options->line_tags.size() && known; ++i) {
            if (with_box.count(options->line_tags[i]) == 0) {
                warn("neighbourhood-search: line '" + options->lines[i] +
                     "' has no box, so it selects nothing (a line without a box is no line's neighbour)");
            }
        }
        return draw(host, *options, exit_status, [&](const Scene& scene) {
            return neighbourhood_panel(scene, options->window, options->lines, options->delta, found);
        });
    };
    return command;
}

}  // namespace kep_host
