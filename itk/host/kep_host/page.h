// The interactive page of a search (--html FILE): one self-contained HTML file that draws every
// line's box where the search sees it in 3D, with a list of the lines and a panel that explains
// each one.
//
// The page's script (three.js and the page's own code, page/src/) is bundled when kep-host is
// built and compiled in (kPageBefore, kPageAfter); kep-host only puts the scene between the two,
// as <script type="application/json" id="kep-scene">. The scene is written by columns, one array
// per field over the lines (and over the lines with a box), with texts that repeat kept once in
// tables and referred to by index (docs/kep-host.md, "The 3D page"). Site texts in it are data:
// the page shows them as text, and the JSON is escaped so that nothing in it ends the script
// element.
#ifndef KEP_HOST_PAGE_H
#define KEP_HOST_PAGE_H

#include <ostream>
#include <string>

#include "svg.h"

namespace kep_host {

// The bundled page, before and after the scene: null-terminated lists of pieces.
extern const char* const kPageBefore[];
extern const char* const kPageAfter[];

// Writes the scene of one search panel to `out`, as JSON text that may stand inside a script
// element: "<", ">" and "&" written as \u escapes, a byte that is not UTF-8 as U+FFFD. The text is
// handed over a piece at a time, so that the scene's text is never held whole.
void write_scene(std::ostream& out, const SearchPanel& panel);

// Writes the whole page holding the scene of `panel` to `out`.
void write_page(std::ostream& out, const SearchPanel& panel);

// Checks, before anything runs, that the page can be written to `path`, without changing a file
// that is there; throws UsageError naming the command otherwise.
void require_writable_html(const std::string& command, const std::string& path);

// Writes the page of `panel` to `path`; false (with *error set) when the file cannot be written.
bool write_page_file(const std::string& path, const SearchPanel& panel, std::string* error);

}  // namespace kep_host

#endif
