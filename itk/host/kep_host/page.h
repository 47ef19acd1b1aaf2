// The interactive page of a search (--html FILE): one self-contained HTML file that draws every
// line's box where the search sees it in 3D, with a list of the lines and a panel that explains
// each one.
//
// The page's script (three.js and the page's own code, page/src/) is bundled when kep-host is
// built and compiled in (kPageBefore, kPageAfter); kep-host only puts the scene between the two,
// as <script type="application/json" id="kep-scene">. The scene is
//   {"title", "focus" (a line picked first, when there is one), "query": {"kind": "box"|"near"|"none", "box",
//   "near", "delta_mm", "search_box"}, "words": [[piece, ...], ...],
//    "lines": [{"id", "name", "parent", "found", "search_box": {"centre", "axes", "half_extents"}
//               or null, "reason", "box_dataset", "source", "placed_by", "tests"}, ...]}
// with the site's ids; "parent" is the index of the line above (-1 for the top line), from which
// the page builds the paths; "source" (where the box comes from) is left out for a line without a
// box, "placed_by" for a line placed by its stored transform; "source" and each of "tests" is
// [pattern, part, ...], the pieces of the text around the parts that vary from line to line being
// words[pattern] (docs/kep-host.md). Site texts in it are data: the page shows
// them as text, and the JSON is escaped so that nothing in it ends the script element.
#ifndef KEP_HOST_PAGE_H
#define KEP_HOST_PAGE_H

#include <nlohmann/json.hpp>
#include <string>

#include "svg.h"

namespace kep_host {

// The bundled page, before and after the scene: null-terminated lists of pieces.
extern const char* const kPageBefore[];
extern const char* const kPageAfter[];

// The scene of one search panel.
nlohmann::ordered_json page_scene(const SearchPanel& panel);

// The JSON text of `scene` as it may stand inside a script element: "<", ">" and "&" written as
// \u escapes (a bad UTF-8 byte becomes U+FFFD).
std::string json_for_script(const nlohmann::ordered_json& scene);

// The whole page holding `scene`.
std::string page_text(const nlohmann::ordered_json& scene);

// Checks, before anything runs, that the page can be written to `path`, without changing a file
// that is there; throws UsageError naming the command otherwise.
void require_writable_html(const std::string& command, const std::string& path);

// Writes the page of `panel` to `path`; false (with *error set) when the file cannot be written.
bool write_page_file(const std::string& path, const SearchPanel& panel, std::string* error);

}  // namespace kep_host

#endif
