// The account of a whole window (KEP_EXPLAIN_WINDOW): one walk from the top line with every line's
// box lookup and placement recorded, each line's box settled and, with a query, tested as the
// explanation of that line alone settles and tests it. The pictures of kep-host are drawn from it.
#include <limits.h>
#include <string.h>

#include <algorithm>
#include <new>
#include <utility>

#include "base/kep_status.h"
#include "kep_mem.h"
#include "lookup/kep_lookup.h"
#include "registration/kep_explain_account.h"
#include "registration/kep_explain_keep.h"

KEP_EXPLAIN_NAMESPACE_BEGIN
namespace {

// The boxes the walk collected, by line: sorted by line, the last node of a line in the list
// counting.
struct Objects {
    using Entry = std::pair<tag_t, const kep_object3d_t*>;
    Vec<Entry> by_line;

    explicit Objects(const WindowRecord& record) {
        for (size_t i = 0; i < record.kept_tags.size(); ++i) {
            by_line.emplace_back(record.kept_tags[i], &record.kept_objects[i]);
        }
        for (const kep_node_t* n = record.nodes.head; n != nullptr; n = n->next) {
            by_line.emplace_back(n->tag, n->object);
        }
        std::stable_sort(by_line.begin(), by_line.end(),
                         [](const Entry& x, const Entry& y) { return x.first < y.first; });
        size_t kept = 0;
        for (const Entry& entry : by_line) {
            if (kept != 0 && by_line[kept - 1].first == entry.first) {
                by_line[kept - 1] = entry;
            } else {
                by_line[kept++] = entry;
            }
        }
        by_line.resize(kept);
    }
};

const kep_object3d_t* object_in_map(const void* objects, tag_t line) {
    const Vec<Objects::Entry>& v = static_cast<const Objects*>(objects)->by_line;
    auto it = std::lower_bound(v.begin(), v.end(), line,
                               [](const Objects::Entry& entry, tag_t key) { return entry.first < key; });
    return it != v.end() && it->first == line ? it->second : nullptr;
}

void append_tags(Str& out, const Vec<tag_t>& tags) {
    out += '[';
    for (size_t i = 0; i < tags.size(); ++i) {
        if (i != 0) {
            out += ", ";
        }
        out += json_tag(tags[i]);
    }
    out += ']';
}

// Writes `, "name": ` before a field's value.
void key(Str& out, const char* name) {
    out += ", \"";
    out += name;
    out += "\": ";
}

// The placement's fields; a lean account has no "absolute" and leaves out a null representation.
void append_placement(Str& out, const Placement* p, bool lean) {
    const bool met = p != nullptr && p->met;
    key(out, "source");
    append_quoted(out, !met ? Str("top line") : p->unreadable ? Str("identity") : p->source);
    if (!lean || (met && p->dataset != NULLTAG)) {
        key(out, "representation");
        out += met ? json_tag(p->dataset) : Str("null");
    }
    if (!lean) {
        key(out, "absolute");
        if (met) {
            append_json_numbers(out, p->absolute, 16);
        } else {
            out += "null";
        }
    }
}

// The names the accounts of one line mention, read once for the whole window.
class Names {
public:
    void add(Explanation& e, const tag_t* tags, size_t count) {
        for (size_t i = 0; i < count; ++i) {
            const tag_t t = tags[i];
            if (t == NULLTAG) {
                continue;
            }
            auto it = cache_.find(t);
            if (it == cache_.end()) {
                it = cache_.emplace(t, ask_name(t)).first;
            }
            e.names[t] = it->second;
        }
    }

private:
    Map<tag_t, Str> cache_;
};

// The account's text, written straight into the platform block handed to the caller, so that
// the whole text is not copied once more at its end. The block grows by doubling; it may hold more
// than the text.
class BlockText {
public:
    BlockText() = default;
    BlockText(const BlockText&) = delete;
    BlockText& operator=(const BlockText&) = delete;
    ~BlockText() { kep::mem_free(block_); }

    // Room for `capacity` characters and the closing null; false when there is no memory for it.
    bool reserve(size_t capacity) {
        if (capacity <= capacity_ && block_ != nullptr) {
            return true;
        }
        if (capacity >= static_cast<size_t>(INT_MAX)) {
            return false;
        }
        char* block = kep::mem_alloc_array<char>(static_cast<int>(capacity + 1));
        if (block == nullptr) {
            return false;
        }
        if (size_ != 0) {
            memcpy(block, block_, size_);
        }
        kep::mem_free(block_);
        block_ = block;
        capacity_ = capacity;
        return true;
    }
    bool append(const Str& text) {
        if (text.size() > capacity_ - size_) {
            const size_t wanted = size_ + text.size();
            if (!reserve(wanted > static_cast<size_t>(INT_MAX) / 2 ? wanted : 2 * wanted)) {
                return false;
            }
        }
        memcpy(block_ + size_, text.data(), text.size());
        size_ += text.size();
        return true;
    }
    // The text, null-terminated; the caller frees it with MEM_free.
    char* release() {
        block_[size_] = '\0';
        char* block = block_;
        block_ = nullptr;
        return block;
    }

private:
    char* block_ = nullptr;
    size_t size_ = 0;
    size_t capacity_ = 0;
};

// A text, or null when it is empty.
void append_text(Str& out, const Str& text) {
    if (text.empty()) {
        out += "null";
    } else {
        append_quoted(out, text);
    }
}

// A text with every object it names named (named()), quoted.
void append_named(Str& out, const Explanation& e, const Str& text) {
    if (text.find('@') == Str::npos) {
        append_quoted(out, text);
    } else {
        append_quoted(out, named(e, text));
    }
}

// The account of one line; its box lookup is taken out of the record. `words` and `box` are kept
// from line to line, the room of their texts and lists with them.
void append_line(Str& out, WindowRecord& record, const Objects& objects, tag_t line,
                 const kep_explain_query_t* query, bool placements, Names& names, Str& words,
                 BoxAccount& box) {
    Explanation e;
    e.line = line;
    e.query = query;
    e.has_query = query != nullptr && query->kind != KEP_EXPLAIN_QUERY_NONE;
    e.walk_status = record.walk_status;
    if (!record.boxes.take(line, &box)) {
        box.reset();
    }
    e.box = std::move(box);
    e.object = object_in_map(&objects, line);
    settle_box(e);
    if (e.has_query) {
        run_query(e, object_in_map, &objects);
    }
    // Names show in the reasons of a line without a box and in the words of the tests against
    // selected lines; no other text of a window's account names an object.
    if (!e.box.has_box) {
        names.add(e, e.box.names_wanted.data(), e.box.names_wanted.size());
    }
    if (e.has_query && query->kind == KEP_EXPLAIN_QUERY_NEAR && query->near_lines != nullptr &&
        query->near_count > 0) {
        names.add(e, query->near_lines, static_cast<size_t>(query->near_count));
    }

    // A lean account leaves out "box_dataset" and every field that is null or an empty list.
    const bool lean = !placements;
    Placement placement;
    const bool placed = record.placements.find(line, &placement);
    out += "{\"line\": ";
    out += json_tag(line);
    append_placement(out, placed ? &placement : nullptr, lean);
    if (!lean || !e.box.path.empty()) {
        key(out, "box_path");
        append_text(out, e.box.path);
    }
    if (!lean || e.box.has_box) {
        key(out, "box");
        if (e.box.has_box) {
            append_json_numbers(out, e.box.box, 6);
        } else {
            out += "null";
        }
    }
    if (!lean) {
        key(out, "box_dataset");
        out += e.box.has_box ? json_tag(e.box.dataset) : Str("null");
    }
    if (!lean || !e.box.datasets.empty()) {
        key(out, "box_datasets");
        append_tags(out, e.box.datasets);
    }
    if (!lean || !e.box.ignored.empty()) {
        key(out, "ignored");
        append_tags(out, e.box.ignored);
    }
    if (!lean || e.box.mod_on_host != NULLTAG) {
        key(out, "mod_on_host");
        out += json_tag(e.box.mod_on_host);
    }
    if (!lean || !e.box.choice.empty()) {
        key(out, "choice");
        append_text(out, e.box.choice);
    }
    if (!lean || e.object != nullptr) {
        key(out, "search_box");
        if (e.object != nullptr) {
            // Less the hull and the matrix, which nobody reads of a whole window.
            append_search_box(out, *e.object, false);
        } else {
            out += "null";
        }
    }
    if (!lean || !e.box.has_box) {
        key(out, "reason");
        if (e.box.has_box) {
            out += "null";
        } else {
            append_named(out, e, e.box.reason);
        }
    }
    if (!lean || (!e.box.has_box && !e.box.reasons.empty())) {
        key(out, "reasons");
        out += reasons_json(e);
    }
    if (e.has_query) {
        key(out, "found");
        out += e.found ? "true" : "false";
        if (!lean || !e.not_found_why.empty()) {
            key(out, "why");
            if (e.not_found_why.empty()) {
                out += "null";
            } else {
                append_named(out, e, e.not_found_why);
            }
        }
        if (!lean || !e.verdicts.empty()) {
            key(out, "tests");
            out += '[';
            for (size_t i = 0; i < e.verdicts.size(); ++i) {
                const Verdict& v = e.verdicts[i];
                if (i != 0) {
                    out += ", ";
                }
                words.assign("against ");
                words += v.against;
                words += " (A, enlarged by delta): ";
                append_verdict_text(words, v);
                append_named(out, e, words);
            }
            out += ']';
        }
    }
    out += '}';
    box = std::move(e.box);
}

}  // namespace

int explain_window(tag_t line, const kep_explain_query_t* query, bool placements, char** text_out) {
    tag_t top = line;
    for (int steps = 0; steps < 100000; ++steps) {
        tag_t parent = NULLTAG;
        const int status = kep_get_parent(top, &parent);
        if (status != 0) {
            return status;
        }
        if (parent == NULLTAG) {
            break;
        }
        top = parent;
    }
    // The walk the search just made of the window, when it kept it; it walked from the window's
    // top line as this account does.
    std::unique_ptr<WindowRecord> kept =
        take_kept_walk(query != nullptr ? query->window : static_cast<tag_t>(NULLTAG), !placements);
    if (query != nullptr && query->window != NULLTAG) {
        // The searches' top line: the window's.
        tag_t window_top = NULLTAG;
        const int status = BOM_ask_window_top_line(query->window, &window_top);
        if (status != 0) {
            return status;
        }
        if (window_top == NULLTAG) {
            kept.reset();
        }
        top = window_top != NULLTAG ? window_top : top;
    }
    WindowRecord own;
    if (kept == nullptr) {
        const int recorded = record_window(top, &own);
        if (recorded != 0) {
            return recorded;
        }
    }
    WindowRecord& record = kept != nullptr ? *kept : own;
    const Objects objects(record);
    // Every line the walk met: the top line, those it placed and those whose box it asked for.
    Vec<tag_t> lines;
    lines.push_back(top);
    for (size_t i = 0; i < record.placements.size(); ++i) {
        lines.push_back(record.placements.line(i));
    }
    for (size_t i = 0; i < record.boxes.size(); ++i) {
        const tag_t boxed = record.boxes.line(i);
        if (boxed != top && !record.placements.has(boxed)) {
            lines.push_back(boxed);
        }
    }

    // Each line's account is made in one text kept for the next, and appended to the block.
    BlockText out;
    // A line's account is some 850 bytes with a query.
    if (!out.reserve(std::min<size_t>(1024 * (lines.size() + 1), INT_MAX / 2))) {
        return kNoMemory;
    }
    Names names;
    Str words;
    BoxAccount box;
    Str text =
        "{\"top\": " + json_tag(top) + ", \"walk_status\": " + to_text(record.walk_status) + ", \"lines\": [";
    for (size_t i = 0; i < lines.size(); ++i) {
        if (i != 0) {
            text += ",\n";
        }
        append_line(text, record, objects, lines[i], query, placements, names, words, box);
        if (!out.append(text)) {
            return kNoMemory;
        }
        text.clear();
    }
    text += "]}";
    if (!out.append(text)) {
        return kNoMemory;
    }
    *text_out = out.release();
    EMH_clear_errors();
    return 0;
}

KEP_EXPLAIN_NAMESPACE_END
