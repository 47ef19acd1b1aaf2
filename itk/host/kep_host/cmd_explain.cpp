// `explain LINE`: why the searches find a line or not, as the extension itself tells it.
//
// The explanation comes from the extension's kep_explain_line, which walks the line's structure
// with the functions the searches run and records their decisions; kep-host only names the
// objects by their site ids. Text for people by default; --json gives the extension's JSON object
// with every tag turned into its site id, plus "status". With --box (a volume search) or --near
// (a neighbourhood search) and --delta, the line is run through the search's overlap test. --svg
// FILE draws the window with the query box or the selected lines, and this line highlighted when
// it is found; --html FILE shows the same on a 3D page with the line picked.
#include <base_utils/Mem.h>
#include <fcntl.h>
#include <standin/control.h>
#include <standin/library.h>
#include <tc/tc_startup.h>
#include <unistd.h>

#include <cstdio>
#include <iostream>
#include <memory>
#include <regex>

#include "kep_explain.h"
#include "kep_host.h"
#include "page.h"
#include "scene.h"
#include "svg.h"

namespace kep_host {

namespace {

const char kCommand[] = "explain";

struct ExplainOptions {
    std::string line;
    std::vector<std::string> box_text;
    std::vector<double> box;
    std::vector<std::string> near;
    std::string delta_text;
    double delta = 0.0;
    bool delta_given = false;
    bool json = false;
    std::string svg;
    std::string html;
    tag_t line_tag = NULLTAG;
    std::vector<tag_t> near_tags;
};

std::string id_or_tag(tag_t tag) {
    const nlohmann::ordered_json j = tag_to_json(tag);
    return j.is_string() ? j.get<std::string>() : j.dump();
}

// The extension names objects by tag; the site's users know them by id.
void tags_to_ids(nlohmann::ordered_json& j) {
    auto fix = [](nlohmann::ordered_json& v) {
        if (v.is_number_unsigned() || v.is_number_integer()) {
            v = tag_to_json(v.get<tag_t>());
        }
    };
    fix(j["line"]);
    fix(j["revision"]);
    fix(j["box_dataset"]);
    for (auto& p : j["path"]) {
        fix(p["line"]);
    }
    for (auto& c : j["chain"]) {
        fix(c["line"]);
        if (c.contains("representation")) {
            fix(c["representation"]);
        }
    }
    if (j.contains("query") && j["query"].contains("near")) {
        for (auto& n : j["query"]["near"]) {
            fix(n);
        }
    }
    if (j.contains("tests")) {
        for (auto& t : j["tests"]) {
            fix(t["against"]);
        }
    }
}

// Fields whose texts are the site's own (ids, names, transform texts), never the extension's
// words: a tag number in them is the user's text and stays as it is.
bool site_text(const std::string& key) {
    static const char* const kKeys[] = {"item_id", "occurrence_name", "transform", "abs_xform",
                                        "revision_id"};
    for (const char* k : kKeys) {
        if (key == k) {
            return true;
        }
    }
    return false;
}

// Every text of the explanation that is the extension's own, with tags named by id.
void texts_to_ids(nlohmann::ordered_json& j) {
    if (j.is_string()) {
        j = text_with_ids(j.get<std::string>());
    } else if (j.is_object()) {
        for (auto it = j.begin(); it != j.end(); ++it) {
            if (!site_text(it.key())) {
                texts_to_ids(it.value());
            }
        }
    } else if (j.is_array()) {
        for (auto& v : j) {
            texts_to_ids(v);
        }
    }
}

// The text form: its first line ends in ", tag N", the line explained.
std::string explanation_with_ids(const std::string& text, tag_t line) {
    const size_t end = text.find('\n');
    const std::string mark = ", tag " + std::to_string(line);
    const std::string first = text.substr(0, end);
    const std::string id = id_or_tag(line);
    const bool marked =
        first.size() >= mark.size() && first.compare(first.size() - mark.size(), mark.size(), mark) == 0;
    return (marked ? first.substr(0, first.size() - mark.size()) + ", id " + id : first) +
           text_with_ids(end == std::string::npos ? std::string() : text.substr(end));
}

// The query of the options as the extension takes it; near_lines points into o.
kep_explain_query_t explain_query(const ExplainOptions& o) {
    kep_explain_query_t query{};
    query.kind = KEP_EXPLAIN_QUERY_NONE;
    if (!o.box.empty()) {
        query.kind = KEP_EXPLAIN_QUERY_BOX;
        for (int i = 0; i < 6; ++i) {
            query.box[i] = o.box[static_cast<size_t>(i)];
        }
    } else if (!o.near_tags.empty()) {
        query.kind = KEP_EXPLAIN_QUERY_NEAR;
        query.near_lines = o.near_tags.data();
        query.near_count = static_cast<int>(o.near_tags.size());
    }
    query.delta_mm = o.delta;
    query.window = standin::window_of_line(o.line_tag);  // as the searches are asked
    return query;
}

// One call of the extension; the text is copied and released.
int call_explain(ExplainFn fn, const ExplainOptions& o, int format, std::string* out) {
    const kep_explain_query_t query = explain_query(o);
    char* text = nullptr;
    const int status = fn(o.line_tag, &query, format, &text);
    if (text != nullptr) {
        *out = text;
        MEM_free(text);
    }
    return status;
}

int draw(const Host& host, const ExplainOptions& o, const nlohmann::ordered_json& explanation,
         int exit_status) {
    if (o.svg.empty() && o.html.empty()) {
        return exit_status;
    }
    standin::clear_faults();
    const tag_t window = standin::window_of_line(o.line_tag);
    const kep_explain_query_t query = explain_query(o);
    // The picture places each line's box by its placement; the page needs no placement.
    const Scene scene =
        read_scene(host, window, &query, o.svg.empty() ? KEP_EXPLAIN_WINDOW_LEAN : KEP_EXPLAIN_WINDOW);
    const std::string window_id = id_or_tag(window);
    std::vector<std::string> found;
    if (explanation.value("found", false)) {
        found.push_back(o.line);
    }
    SearchPanel panel;
    if (!o.near.empty()) {
        panel = neighbourhood_panel(scene, window_id, o.near, o.delta, found);
    } else {
        std::vector<double> box = o.box;
        if (box.empty()) {
            // No query: the line's own box, as the search sees it, framed by its hull.
            const auto hull = explanation.value("search_box", nlohmann::ordered_json());
            if (hull.is_object()) {
                for (const auto& v : hull["hull"]) {
                    box.push_back(v.is_number() ? v.get<double>() : 0.0);
                }
            } else {
                box = {0, 0, 0, 0, 0, 0};
            }
        }
        panel = volume_panel(scene, window_id, box, o.delta, found);
    }
    if (o.box.empty() && o.near.empty()) {
        panel.searched.clear();  // no query: the line alone, highlighted, and nothing was searched
        panel.found = {o.line};
        panel.query_kind = "none";
        panel.notes = {"no search: the line alone, highlighted"};
        panel.title = "explain " + o.line + ": its box where the search sees it";
    } else {
        panel.title = "explain " + o.line + ": " + panel.title;
    }
    if (explanation.contains("reason") && explanation["reason"].is_string()) {
        panel.notes.push_back("no box: " + text_with_ids(explanation["reason"].get<std::string>()));
    }
    if (explanation.contains("tests")) {
        for (const auto& t : explanation["tests"]) {
            panel.notes.push_back(text_with_ids(t.value("text", "")));
        }
    }
    std::string error;
    if (!o.svg.empty() && !write_svg_file(o.svg, {panel}, &error)) {
        std::cerr << "kep-host: --svg: " << error << '\n';
        return kExitInternal;
    }
    // On the page the line is picked; it shows as found only when the query finds it.
    panel.found = found;
    panel.focus = o.line;
    if (!o.html.empty() && !write_page_file(o.html, panel, &error)) {
        std::cerr << "kep-host: --html: " << error << '\n';
        return kExitInternal;
    }
    return exit_status;
}

}  // namespace

Command add_explain_command(CLI::App& app) {
    auto* sub = app.add_subcommand("explain", "why the searches find a line or not, step by step");
    auto options = std::make_shared<ExplainOptions>();
    sub->add_option("line", options->line, "id of the BOM line")->required();
    sub->add_option("--box", options->box_text, "a volume search's box in metres: X1 Y1 Z1 X2 Y2 Z2")
        ->expected(6);
    sub->add_option("--near", options->near, "a neighbourhood search's selected lines")->expected(1, -1);
    sub->add_option("--delta", options->delta_text, "the search's distance in millimetres");
    sub->add_flag("--json", options->json, "one JSON object instead of text");
    sub->add_option("--svg", options->svg,
                    "draw the line's box with the query box or selected lines to FILE");
    sub->add_option("--html", options->html, "show the line's window in 3D on a page written to FILE");
    Command command;
    command.prepare = [options, sub](Host& host) {
        ExplainOptions& o = *options;
        o.delta_given = sub->count("--delta") > 0;
        o.line_tag = require_tag(host, kCommand, o.line);
        if (standin::kind_of(o.line_tag) != "BOMLine") {
            throw UsageError(std::string(kCommand) + ": '" + o.line + "' is no BOM line in site '" +
                             host.site_source + "'");
        }
        o.box.clear();
        for (const std::string& text : o.box_text) {
            o.box.push_back(
                parse_number(kCommand, "--box", text, "six numbers in metres, X1 Y1 Z1 X2 Y2 Z2"));
        }
        warn_about_box(kCommand, o.box);
        if (!o.box.empty() && !o.near.empty()) {
            throw UsageError(std::string(kCommand) + ": give --box or --near, not both");
        }
        const bool query = !o.box.empty() || !o.near.empty();
        if (query && !o.delta_given) {
            throw UsageError(std::string(kCommand) + ": --delta MM is needed with --box or --near");
        }
        if (!query && o.delta_given) {
            throw UsageError(std::string(kCommand) + ": --delta needs --box or --near");
        }
        if (o.delta_given) {
            o.delta = parse_number(kCommand, "--delta", o.delta_text, "a number of millimetres");
        }
        o.near_tags.clear();
        for (const std::string& id : o.near) {
            const tag_t tag = require_tag(host, kCommand, id);
            if (standin::kind_of(tag) != "BOMLine") {
                throw UsageError(std::string(kCommand) + ": --near '" + id + "' is no BOM line in site '" +
                                 host.site_source + "'");
            }
            // As neighbourhood-search takes its lines: from the window of the line explained.
            if (standin::window_of_line(tag) != standin::window_of_line(o.line_tag)) {
                throw UsageError(std::string(kCommand) + ": --near '" + id +
                                 "' is a line of another window than '" + o.line + "', in site '" +
                                 host.site_source + "'");
            }
            o.near_tags.push_back(tag);
        }
        if (!o.svg.empty()) {
            require_writable_svg(kCommand, o.svg);
        }
        if (!o.html.empty()) {
            require_writable_html(kCommand, o.html);
        }
    };
    command.run = [options](Host& host) {
        const ExplainOptions& o = *options;
        const ExplainFn fn = explain_export(host, kCommand);
        std::string json_text;
        std::string text;
        int status = 0;
        int text_status = 0;
        if (o.json) {
            status = call_explain(fn, o, KEP_EXPLAIN_JSON, &json_text);
        } else {
            // The picture needs the figures of the JSON form: a second explanation, made as the
            // first was (the same faults ahead of it) and without its trace, which the first wrote.
            const std::vector<standin::ArmedFault> faults = standin::armed_faults();
            text_status = call_explain(fn, o, KEP_EXPLAIN_TEXT, &text);
            if (!o.svg.empty() || !o.html.empty()) {
                standin::rearm_faults(faults);
                status = quietly([&] { return call_explain(fn, o, KEP_EXPLAIN_JSON, &json_text); });
            }
        }
        nlohmann::ordered_json explanation = nlohmann::ordered_json::object();
        if (!json_text.empty()) {
            explanation = nlohmann::ordered_json::parse(json_text);
            tags_to_ids(explanation);
            texts_to_ids(explanation);
        }
        int exit_status;
        if (o.json) {
            nlohmann::ordered_json result;
            result["status"] = status;
            for (auto it = explanation.begin(); it != explanation.end(); ++it) {
                result[it.key()] = it.value();
            }
            exit_status = finish(host, std::move(result), status);
        } else {
            std::cout << explanation_with_ids(text, o.line_tag);
            if (text_status != 0) {
                std::cout << "the explanation ended with status " << text_status << '\n';
            }
            std::cout.flush();
            exit_status = text_status == 0 ? kExitOk : kExitStatus;
        }
        return draw(host, o, explanation, exit_status);
    };
    return command;
}

}  // namespace kep_host
