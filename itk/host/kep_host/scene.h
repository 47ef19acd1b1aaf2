// The lines of a BOM window as the spatial searches see them, for the pictures, the page and the demo.
//
// read_scene() reads the window's structure as a client does (top line first, each child's
// subtree, then the lines packed into that child: ids, names, parents), and takes everything
// the searches decide about a line from the extension's own account of the window
// (kep_explain_line with KEP_EXPLAIN_WINDOW): its placement and where it comes from, its box,
// the datasets that gave it or why there is none, its box where the search sees it and, with a
// query, whether the search finds it and the words of the overlap test. Nothing here decides
// what a line's box is. Every platform block is released before read_scene returns. Nothing here
// throws except std::bad_alloc.
#ifndef KEP_HOST_SCENE_H
#define KEP_HOST_SCENE_H

#include <tc/tc.h>

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "kep_explain.h"
#include "kep_host.h"

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

// The texts of a scene, each kept once in blocks that do not move and known by a number; 0 is "".
// A text met on many lines (a reason, where a box comes from) is interned: the same text always
// has the same number. A text that is mostly a line's own (its id, its names) is only added.
class SceneTexts {
public:
    using Ref = uint32_t;

    SceneTexts();
    Ref intern(std::string_view text);
    Ref add(std::string_view text);
    std::string_view operator[](Ref ref) const { return views_[ref]; }
    size_t size() const { return views_.size(); }
    void reserve(size_t texts) { views_.reserve(texts); }

private:
    std::string_view store(std::string_view text);
    void grow_slots();

    std::vector<std::unique_ptr<char[]>> blocks_;
    char* free_ = nullptr;  // the room left in the last block
    size_t left_ = 0;
    std::vector<std::string_view> views_;
    std::vector<Ref> slots_;  // the interned texts by hash, open addressing: number + 1, 0 for none
    size_t interned_ = 0;
};

using TextRef = SceneTexts::Ref;

// A list of texts: `count` numbers from `from` in Scene::list_texts.
struct TextList {
    uint32_t from = 0;
    uint32_t count = 0;
};

// A line's box where the search sees it, in the top line's coordinates: centre, half extents along
// the three axes, and the axes themselves (Scene::axes).
struct SearchBox {
    Vec3 centre{};
    Vec3 half{};
    uint32_t axes = 0;
};

// A line as the page shows it; the pictures and the demo show more of it (LineDetail). Its texts
// are numbers in Scene::texts.
struct SceneLine {
    tag_t tag = NULLTAG;
    int parent = -1;  // index of the parent line in Scene::lines, -1 for the top line
    TextRef id = 0;   // site id (or the tag's number when the line has none)
    TextRef occurrence_name = 0;
    TextRef name = 0;         // object_name of the line's revision
    TextRef placed_by = 0;    // the mod-on representation that gives the occurrence transform, or ""
    TextRef box_from = 0;     // which datasets gave the box, or why there is none
    TextRef reason = 0;       // the extension's words for a line without a box
    TextRef why = 0;          // with a query: why nothing was tested, or ""
    TextList box_datasets;    // ids of the datasets whose boxes make the box
    TextList reasons;         // every reason it has none, in order; reason is the first
    TextList tests;           // with a query: the overlap tests in the extension's words
    uint32_t search_box = 0;  // Scene::search_boxes; only with has_box
    bool has_box = false;
    bool found = false;  // with a query: the search finds the line
};

// What the pictures and the demo show of a line besides, the page none of it.
struct LineDetail {
    int depth = 0;            // 0 for the top line
    std::string packed_into;  // id of the line this one is packed into, "" for an ordinary line
    std::string item_id;
    Transform placement;  // absolute, as the search walk computes it
    Box box;              // in the part's own coordinates (only with SceneLine::has_box)
};

struct Scene {
    bool has_query = false;        // read with a query: found and tests are the extension's
    std::vector<SceneLine> lines;  // in the order the walk meets them
    SceneTexts texts;
    std::vector<TextRef> list_texts;          // the lines' lists of texts, one after another
    std::vector<SearchBox> search_boxes;      // of the lines with a box
    std::vector<std::array<double, 9>> axes;  // the distinct sets of axes (axes[3k..3k+2] is axis k)
    // The details of the lines, one for each line; none when the scene is read from the lean
    // account, for the page.
    std::vector<LineDetail> details;

    std::string_view text(TextRef ref) const { return texts[ref]; }
    const TextRef* list(const TextList& l) const { return list_texts.data() + l.from; }
    const SearchBox& search_box(const SceneLine& line) const { return search_boxes[line.search_box]; }
    // The details of lines[line]; when none were read, those of a top line without an item, at
    // the identity, with an empty box.
    const LineDetail& detail(size_t line) const;
    int find(std::string_view id) const;  // index of the line, -1 when absent
    int count_with_box() const;
};

// A text of the extension with its "(tag N)" marks named by the site's ids: "(id X)".
std::string text_with_ids(std::string text);

using ExplainFn = int (*)(tag_t, const kep_explain_query_t*, int, char**);

// The extension's kep_explain_line; throws UsageError naming `command` when it has none.
ExplainFn explain_export(const Host& host, const std::string& command);

// Runs f with standard error muted and the system log put back as it was, so that nothing it
// traces shows.
int quietly(const std::function<int()>& f);

// The window's lines; `query` (or null) is the search whose verdicts the lines carry. The
// extension's account is taken quietly, with the faults lifted, in `format`: KEP_EXPLAIN_WINDOW,
// or KEP_EXPLAIN_WINDOW_LEAN when no line's placement is wanted (the scene then has no details).
Scene read_scene(const Host& host, tag_t window, const kep_explain_query_t* query = nullptr,
                 int format = KEP_EXPLAIN_WINDOW);

}  // namespace kep_host

#endif
