/*
 * Explaining one line: why the spatial searches find it or not, told by the functions the
 * searches run.
 *
 * kep_explain_line walks the line's structure from its top line with kep_get_child_lines, as the
 * searches do, while an observer (base/kep_observer.h in kep's sources) records the decisions the box lookup
 * of the line, the placement of every level above it and the walk make; with a query it runs the overlap test
 * of x7ComputeNeighbourhood on the line's box, reporting the axis that separates or the least overlap. It
 * also reads bl_plmxml_abs_xform of the line as a client would.
 *
 * The explanation comes as text for people or as one JSON object for tools; objects are named by
 * their tags (numbers) with their item ids, occurrence names and dataset names beside them.
 * Nothing is written to the structure; the error stack is cleared before returning.
 */
#ifndef KEP_EXPLAIN_H
#define KEP_EXPLAIN_H

#include "kep_export.h"
#include "kep_platform.h"

#define KEP_EXPLAIN_QUERY_NONE 0
#define KEP_EXPLAIN_QUERY_BOX 1  /* a volume search with box and delta_mm */
#define KEP_EXPLAIN_QUERY_NEAR 2 /* a neighbourhood search with near_lines and delta_mm */

#define KEP_EXPLAIN_TEXT 0
#define KEP_EXPLAIN_JSON 1
#define KEP_EXPLAIN_WINDOW 2              /* the whole window of the line, as JSON: see kep_explain_line */
#define KEP_EXPLAIN_WINDOW_LEAN 3         /* the same, shorter: see kep_explain_line */
#define KEP_EXPLAIN_KEEP_NEXT_WALK 4      /* keep the next search's walk for the account of its window */
#define KEP_EXPLAIN_KEEP_NEXT_WALK_LEAN 5 /* the same, for a KEP_EXPLAIN_WINDOW_LEAN account only */

#ifdef __cplusplus
extern "C" {
#endif

/* A query as the services take it: box is x1 y1 z1 x2 y2 z2 in the units of the boxes, the
 * distance in millimetres. near_lines is read only. window is the BOM window the services are
 * called with: the explanation then starts from its top line as they do, and tells a line they
 * do not walk (a line packed into the top line or into a packed line) as such; with NULLTAG it
 * starts from the line that ends the line's parent chain. */
typedef struct kep_explain_query_s {
    int kind;
    double box[6];
    const tag_t* near_lines;
    int near_count;
    double delta_mm;
    tag_t window;
} kep_explain_query_t;

/* KEP_EXPLAIN_WINDOW explains, in one walk, every line of the window `line` is in, as one JSON object:
 * {"top", "walk_status", "lines": [{"line", "source" (of its placement: "top line", "stored",
 * "representation", "kept" or "identity"), "representation", "absolute" (16 values, row by row; null
 * for the top line), "box_path", "box" (in the part's coordinates), "box_dataset", "box_datasets",
 * "ignored" (visualisation datasets left out), "mod_on_host", "choice" (why the representation filter
 * chose: the wanted suffix, "master" or "lone"), "search_box" (its "centre", "axes" and
 * "half_extents"; the explanation of one line adds "hull" and "matrix"), "reason", "reasons", and with
 * a query "found", "why" and "tests" (the words of each overlap test)}, ...]}. search_box, reason,
 * reasons, found and tests are what the explanation of that line alone gives. KEP_EXPLAIN_WINDOW_LEAN
 * gives the same account for a reader that does not place the boxes itself (search_box is already
 * placed): each line without "absolute" and "box_dataset", and without every field that is null or
 * an empty list (a field left out reads as null or empty). */

/* KEP_EXPLAIN_KEEP_NEXT_WALK explains nothing (*text becomes null, the status is 0, line and query are
 * not read): the next volume or neighbourhood search the calling thread makes records its walk as
 * KEP_EXPLAIN_WINDOW records its own, and the next KEP_EXPLAIN_WINDOW or KEP_EXPLAIN_WINDOW_LEAN on
 * that thread with that search's window in its query takes that walk instead of walking the window
 * again: the account is the one a walk of its own gives, at the cost of one walk fewer. A walk in
 * which a call failed is not kept, nor is one whose window has no top line or no line with a box;
 * the account then walks itself. One walk is kept at a time in the process: asking again, on any
 * thread, drops what was kept and not taken, and the next account on the thread drops a walk it does
 * not take. A caller that draws a search asks for it just before the search.
 * KEP_EXPLAIN_KEEP_NEXT_WALK_LEAN does the same for a caller that will ask for KEP_EXPLAIN_WINDOW_LEAN:
 * the walk is kept without the lines' absolute transforms, which only KEP_EXPLAIN_WINDOW shows, and
 * a KEP_EXPLAIN_WINDOW account drops it and walks itself. */

/* Explains `line`; query may be null (no query). *text becomes a new MEM_alloc text (owned by the
 * caller) in the format asked for; a null line gives status 0 and no text. Returns 0, the status of a
 * platform call the explanation could not do without (reading the line's parent chain), or 1 without memory;
 * the explanation tells failures of the search's own calls as part of its answer. */
KEP_ENTRY_EXPORT int kep_explain_line(tag_t line, const kep_explain_query_t* query, int format, char** text);

#ifdef __cplusplus
}
#endif

#endif
