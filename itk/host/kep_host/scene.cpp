// Reading a window's lines with their placements and boxes (scene.h).
#include "scene.h"

#include <base_utils/Mem.h>
#include <bom/bom.h>
#include <fcntl.h>
#include <standin/control.h>
#include <standin/library.h>
#include <tc/tc_startup.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <iostream>
#include <memory>
#include <unordered_map>

#include "scene_account.h"

namespace kep_host {

namespace {

// The extension's reason for a line with no dataset at all.
const char* const kNoDatasets = "no dataset of the configured types";

struct MemFree {
    void operator()(void* p) const { MEM_free(p); }
};
template <typename T>
using PlatformBlock = std::unique_ptr<T, MemFree>;

// The tags of a list the platform handed out (and the list released); empty when the read failed.
std::vector<tag_t> take_tags(int status, int count, tag_t* raw) {
    PlatformBlock<tag_t> list(raw);
    if (status != ITK_ok || !list) {
        return {};
    }
    return std::vector<tag_t>(list.get(), list.get() + count);
}

// The text of a property, read as a client reads it, and kept in `texts` unless `texts` is null
// (0 when empty or not read). Names and item ids are mostly a line's own: they are not interned.
TextRef text_of(SceneTexts* texts, tag_t object, const std::string& property) {
    char* raw = nullptr;
    const int status = standin::ask_string(object, property, &raw);
    PlatformBlock<char> value(raw);
    return status == ITK_ok && value && *value.get() != '\0' && texts != nullptr ? texts->add(value.get())
                                                                                 : 0;
}

tag_t tag_of(tag_t object, const char* property) {
    tag_t value = NULLTAG;
    return standin::ask_tag(object, property, &value) == ITK_ok ? value : NULLTAG;
}

std::string id_text(tag_t tag) {
    std::string id = standin::id_of(tag);
    return id.empty() ? std::to_string(tag) : id;
}

std::string join(const std::vector<std::string>& parts, const char* separator) {
    std::string joined;
    for (const std::string& part : parts) {
        joined += (joined.empty() ? "" : separator) + part;
    }
    return joined;
}

// `text` with the extension's "(tag N)" marks named by id: the text itself when it has none, else
// the text made in `made`. The extension marks an object as "(tag N)" after its name; only these
// marks are named by id, so that "tag 1" inside an occurrence name or any other text of the site
// stays as it is.
std::string_view with_ids(std::string_view text, std::string& made) {
    static const char kMark[] = "(tag ";
    const size_t mark = sizeof kMark - 1;
    made.clear();
    size_t last = 0;
    for (size_t at = text.find(kMark); at != std::string_view::npos; at = text.find(kMark, at + 1)) {
        size_t end = at + mark;
        unsigned long long number = 0;
        while (end < text.size() && text[end] >= '0' && text[end] <= '9' && number <= 0xffffffffULL) {
            number = number * 10 + static_cast<unsigned>(text[end] - '0');
            ++end;
        }
        if (end == at + mark || end >= text.size() || text[end] != ')' || number > 0xffffffffULL) {
            continue;
        }
        const tag_t tag = static_cast<tag_t>(number);
        made.append(text.data() + last, at - last);
        if (tag == NULLTAG) {
            made.append(text.data() + at, end + 1 - at);
        } else {
            made.append("(id ").append(id_text(tag)).append(")");
        }
        last = end + 1;
    }
    if (last == 0) {
        return text;
    }
    return made.append(text.data() + last, text.size() - last);
}

// Appends `ref` to `list`, moving the list to the end of the scene's lists first when it is not
// there.
void append(Scene& scene, TextList& list, TextRef ref) {
    std::vector<TextRef>& all = scene.list_texts;
    if (list.count == 0) {
        list.from = static_cast<uint32_t>(all.size());
    } else if (list.from + list.count != all.size()) {
        const size_t from = list.from;
        list.from = static_cast<uint32_t>(all.size());
        for (size_t i = 0; i < list.count; ++i) {
            all.push_back(all[from + i]);
        }
    }
    all.push_back(ref);
    ++list.count;
}

// The lines of a scene by tag (the last line of a tag, should a tag be met twice). The account
// lists the lines in the order the walk meets them: the line after the last one found is tried
// first.
class LineIndex {
public:
    explicit LineIndex(const Scene& scene) : lines_(scene.lines) {
        size_t size = 64;
        while (size < 2 * lines_.size()) {
            size *= 2;
        }
        slots_.assign(size, -1);
        for (size_t i = 0; i < lines_.size(); ++i) {
            int& slot = slots_[slot_of(lines_[i].tag)];
            unique_ = unique_ && slot < 0;
            slot = static_cast<int>(i);
        }
    }

    // The index of the line of `tag`, -1 when there is none.
    int find(tag_t tag) const {
        if (unique_ && next_ < lines_.size() && lines_[next_].tag == tag) {
            return static_cast<int>(next_);
        }
        return slots_[slot_of(tag)];
    }

    // As find, the line after the one found being tried first next time.
    int find_next(tag_t tag) {
        const int at = find(tag);
        if (at >= 0) {
            next_ = static_cast<size_t>(at) + 1;
        }
        return at;
    }

private:
    // The slot of `tag`, or the free slot where it would go.
    size_t slot_of(tag_t tag) const {
        const size_t mask = slots_.size() - 1;
        size_t at = (static_cast<uint64_t>(tag) * 0x9e3779b97f4a7c15ULL >> 32) & mask;
        while (slots_[at] >= 0 && lines_[static_cast<size_t>(slots_[at])].tag != tag) {
            at = (at + 1) & mask;
        }
        return at;
    }

    const std::vector<SceneLine>& lines_;
    std::vector<int> slots_;  // index of the line, -1 for a free slot
    bool unique_ = true;      // no tag is met twice
    size_t next_ = 0;
};

// The number of a set of axes in Scene::axes, each distinct set (by its values' bits) kept once.
class AxesIndex {
public:
    uint32_t index(Scene& scene, const std::array<double, 9>& axes) {
        std::array<uint64_t, 9> bits;
        for (size_t i = 0; i < 9; ++i) {
            std::memcpy(&bits[i], &axes[i], sizeof bits[i]);
        }
        const auto at = by_bits_.find(bits);
        if (at != by_bits_.end()) {
            return at->second;
        }
        const auto index = static_cast<uint32_t>(scene.axes.size());
        scene.axes.push_back(axes);
        by_bits_.emplace(bits, index);
        return index;
    }

private:
    struct Hash {
        size_t operator()(const std::array<uint64_t, 9>& bits) const {
            uint64_t h = 0;
            for (const uint64_t b : bits) {
                h = (h ^ b) * 0x100000001b3ULL;
                h ^= h >> 29;
            }
            return static_cast<size_t>(h);
        }
    };
    std::unordered_map<std::array<uint64_t, 9>, uint32_t, Hash> by_bits_;
};

// The window's structure as a client reads it, in the order the search walk meets the lines: the
// lines are listed first and then read, so that the scene's lines are laid out once. With
// `details`, each line's details are kept too.
class Walker {
public:
    Walker(Scene& scene, bool details) : scene_(scene), details_(details) {}

    void walk(tag_t top) {
        list(top, 0, -1, -1);
        static const std::string kOccurrenceName = "bl_occurrence_name";
        static const std::string kItemId = "bl_item_item_id";
        static const std::string kObjectName = "object_name";
        scene_.lines.reserve(scene_.lines.size() + listed_.size());
        if (details_) {
            scene_.details.reserve(scene_.details.size() + listed_.size());
        }
        SceneTexts& texts = scene_.texts;
        texts.reserve(texts.size() + 2 * listed_.size());  // an id, and about one text more, a line
        for (const Listed& l : listed_) {
            SceneLine& line = scene_.lines.emplace_back();  // in place: the lines are reserved
            line.tag = l.tag;
            line.id = texts.add(id_text(l.tag));
            line.parent = l.parent;
            line.occurrence_name = text_of(&texts, l.tag, kOccurrenceName);
            // Read as a client reads, kept or not.
            const TextRef item_id = text_of(details_ ? &texts : nullptr, l.tag, kItemId);
            line.name = text_of(&texts, tag_of(l.tag, "bl_revision"), kObjectName);
            if (details_) {
                LineDetail& detail = scene_.details.emplace_back();
                detail.depth = l.depth;
                if (l.packed_into >= 0) {
                    detail.packed_into = texts[scene_.lines[static_cast<size_t>(l.packed_into)].id];
                }
                detail.item_id = texts[item_id];
            }
        }
    }

private:
    // A line of the walk: its parent, and the line it is packed into, by index (-1 for none).
    struct Listed {
        tag_t tag;
        int depth;
        int parent;
        int packed_into;
    };

    int list(tag_t line, int depth, int parent, int packed_into) {
        const int index = static_cast<int>(listed_.size());
        listed_.push_back({line, depth, parent, packed_into});
        for (tag_t child : lines(line, BOM_line_ask_child_lines)) {
            const int child_index = list(child, depth + 1, index, -1);
            for (tag_t packed : lines(child, BOM_line_ask_packed_lines)) {
                list(packed, depth + 1, index, child_index);
            }
        }
        return index;
    }

    static std::vector<tag_t> lines(tag_t line, int (*ask)(tag_t, int*, tag_t**)) {
        int count = 0;
        tag_t* raw = nullptr;
        const int status = ask(line, &count, &raw);
        return take_tags(status, count, raw);
    }

    Scene& scene_;
    bool details_;
    std::vector<Listed> listed_;
};

std::string tag_id(const AccountTag& tag) { return tag.set ? id_text(tag.value) : std::string(); }

// The occurrence names from lines[line] up to the child of lines[host]: the way a mod-on
// representation of the host names the line.
std::string path_to(const Scene& scene, int line, int host) {
    std::vector<std::string> names;
    for (int at = line; at >= 0 && at != host; at = scene.lines[static_cast<size_t>(at)].parent) {
        names.emplace_back(scene.text(scene.lines[static_cast<size_t>(at)].occurrence_name));
    }
    return join(names, "/");
}

// Why the representation filter took the dataset, in the words of the demo.
std::string choice_words(const AccountText& choice) {
    const std::string& c = choice.value;
    return c == "master" ? "master representation"
           : c == "lone" ? "the only dataset (no representations listed)"
                         : c + " representation";
}

// Which datasets gave the box, told from the account of the line.
std::string box_source(const Scene& scene, const LineIndex& index, int at, const LineAccount& a) {
    const SceneLine& line = scene.lines[static_cast<size_t>(at)];
    const std::string_view reason = scene.text(line.reason);
    const TextRef* datasets = scene.list(line.box_datasets);
    const size_t count = line.box_datasets.count;
    std::vector<std::string> ignored;
    for (const AccountTag& t : a.ignored) {
        ignored.push_back(tag_id(t));
    }
    const std::string skipped =
        ignored.empty() ? "" : "; " + join(ignored, ", ") + " ignored (visualisation)";
    if (a.box_path.set && a.box_path.value == "representation") {
        if (!line.has_box) {
            return "no box: " + std::string(reason);
        }
        const int h = a.mod_on_host.set ? index.find(a.mod_on_host.value) : -1;
        const std::string why = choice_words(a.choice);
        return (count == 0 ? std::string() : std::string(scene.text(datasets[0]))) + ", " +
               (h < 0 ? why
                      : "mod-on " + why + " on " +
                            std::string(scene.text(scene.lines[static_cast<size_t>(h)].id)) + " for " +
                            path_to(scene, at, h));
    }
    if (line.has_box) {
        std::string joined;  // as join() joins them
        for (size_t i = 0; i < count; ++i) {
            joined += (joined.empty() ? "" : " + ");
            joined += scene.text(datasets[i]);
        }
        return joined + (count == 1 ? ", auxiliary or structure dataset" : " merged") + skipped;
    }
    if (a.box_path.set && a.box_path.value == "collection" && (!ignored.empty() || reason == kNoDatasets)) {
        return "no box: no geometry dataset with a box" + skipped;
    }
    return "no box: " + std::string(reason);
}

Vec3 triple(const std::vector<double>& v, size_t from = 0) {
    return {v.at(from), v.at(from + 1), v.at(from + 2)};
}

// What take_account keeps from line to line.
struct Taking {
    explicit Taking(const Scene& scene) : index(scene) {}

    // The id of an object of the account (tag_id), interned in `texts`; each tag's id is read once.
    TextRef id_of(SceneTexts& texts, const AccountTag& tag) {
        if (!tag.set) {
            return 0;
        }
        const auto at = ids.try_emplace(tag.value, 0);
        if (at.second) {
            at.first->second = texts.intern(id_text(tag.value));
        }
        return at.first->second;
    }

    // A text of the extension with its marks named (with_ids), interned in `texts`; `last` is the
    // text taken last in its place, which the lines often share.
    TextRef text(SceneTexts& texts, TextRef& last, const std::string& extension_text) {
        const std::string_view named = with_ids(extension_text, made);
        if (texts[last] != named) {
            last = texts.intern(named);
        }
        return last;
    }

    LineIndex index;
    AxesIndex axes;
    std::unordered_map<tag_t, TextRef> ids;
    std::string made;  // a text with its marks named
    TextRef last_reason = 0;
    TextRef last_reasons = 0;
    TextRef last_why = 0;
    TextRef last_test = 0;
};

void take_account(Scene& scene, Taking& taking, int at, LineAccount& a) {
    SceneLine& line = scene.lines[static_cast<size_t>(at)];
    LineDetail* detail = scene.details.empty() ? nullptr : &scene.details[static_cast<size_t>(at)];
    SceneTexts& texts = scene.texts;
    if (detail != nullptr && a.absolute_set && a.absolute.size() == 16) {
        for (size_t i = 0; i < 16; ++i) {
            detail->placement.m[i / 4][i % 4] = a.absolute[i];
        }
    }
    if (a.source.set && a.source.value == "representation") {
        line.placed_by = taking.id_of(texts, a.representation);
    }
    line.has_box = a.search_box_set && a.box_set;
    if (line.has_box) {
        const Box box{triple(a.box), triple(a.box, 3)};
        if (detail != nullptr) {
            detail->box = box;
        }
        SearchBox search;
        search.centre = triple(a.centre);
        std::array<double, 9> axes;
        for (size_t i = 0; i < 9; ++i) {
            axes[i] = a.axes.at(i);
        }
        search.half = triple(a.half_extents);
        search.axes = taking.axes.index(scene, axes);
        line.search_box = static_cast<uint32_t>(scene.search_boxes.size());
        scene.search_boxes.push_back(search);
        for (const AccountTag& t : a.box_datasets) {
            append(scene, line.box_datasets, taking.id_of(texts, t));
        }
    } else {
        line.reason =
            a.reason.set ? taking.text(texts, taking.last_reason, a.reason.value) : texts.intern(kNoDatasets);
        for (const std::string& r : a.reasons) {
            append(scene, line.reasons, taking.text(texts, taking.last_reasons, r));
        }
        if (line.reasons.count == 0) {
            append(scene, line.reasons, line.reason);
        }
    }
    line.box_from = texts.intern(box_source(scene, taking.index, at, a));
    line.found = a.found;
    line.why = a.why.set ? taking.text(texts, taking.last_why, a.why.value) : 0;
    for (const std::string& t : a.tests) {
        append(scene, line.tests, taking.text(texts, taking.last_test, t));
    }
}

// The line as the structure gives it, without what the account told of it.
void forget_account(SceneLine& line) {
    SceneLine bare;
    bare.tag = line.tag;
    bare.id = line.id;
    bare.parent = line.parent;
    bare.occurrence_name = line.occurrence_name;
    bare.name = line.name;
    line = bare;
}

}  // namespace

int Scene::find(std::string_view id) const {
    for (size_t i = 0; i < lines.size(); ++i) {
        if (text(lines[i].id) == id) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

const LineDetail& Scene::detail(size_t line) const {
    static const LineDetail kNone;
    return line < details.size() ? details[line] : kNone;
}

int Scene::count_with_box() const {
    return static_cast<int>(
        std::count_if(lines.begin(), lines.end(), [](const SceneLine& line) { return line.has_box; }));
}

std::string text_with_ids(std::string text) {
    std::string made;
    const std::string_view named = with_ids(text, made);
    return named.data() == text.data() ? text : made;
}

ExplainFn explain_export(const Host& host, const std::string& command) {
    void* symbol = host.extension_library != nullptr
                       ? standin::library_function(host.extension_library, "kep_explain_line")
                       : nullptr;
    if (symbol == nullptr) {
        throw UsageError(command + ": extension library '" + host.extension_path +
                         "' has no kep_explain_line");
    }
    return reinterpret_cast<ExplainFn>(symbol);
}

int quietly(const std::function<int()>& f) {
    const std::string syslog = standin::syslog();
    std::cerr.flush();
    std::fflush(stderr);
    const int saved_stderr = ::dup(2);
    const int null_fd = ::open("/dev/null", O_WRONLY);
    if (saved_stderr >= 0 && null_fd >= 0) {
        ::dup2(null_fd, 2);
    }
    const int status = f();
    std::fflush(stderr);
    if (saved_stderr >= 0 && null_fd >= 0) {
        ::dup2(saved_stderr, 2);
    }
    if (null_fd >= 0) {
        ::close(null_fd);
    }
    if (saved_stderr >= 0) {
        ::close(saved_stderr);
    }
    standin::clear_syslog();
    if (!syslog.empty()) {
        TC_write_syslog("%s", syslog.c_str());
    }
    return status;
}

Scene read_scene(const Host& host, tag_t window, const kep_explain_query_t* query, int format) {
    Scene scene;
    tag_t top = NULLTAG;
    if (BOM_ask_window_top_line(window, &top) != ITK_ok || top == NULLTAG) {
        return scene;
    }
    Walker(scene, format != KEP_EXPLAIN_WINDOW_LEAN).walk(top);
    // Room the account may not all take: what is not written to is not touched.
    scene.search_boxes.reserve(scene.lines.size());
    scene.list_texts.reserve(2 * scene.lines.size());
    scene.has_query = query != nullptr && query->kind != KEP_EXPLAIN_QUERY_NONE;

    const ExplainFn explain = explain_export(host, "kep-host");
    PlatformBlock<char> text;
    standin::clear_faults();
    quietly([&] {
        char* raw = nullptr;
        const int status = explain(top, query, format, &raw);
        text.reset(raw);
        return status;
    });
    Taking taking(scene);
    char none[] = "";
    const bool read = read_account(text ? text.get() : none, [&](LineAccount& a) {
        const int at = taking.index.find_next(a.line.set ? a.line.value : NULLTAG);
        if (at >= 0) {
            take_account(scene, taking, at, a);
        }
    });
    if (!read) {
        // An account that is not whole gives nothing: the lines as the walk read them.
        for (SceneLine& line : scene.lines) {
            forget_account(line);
        }
        for (LineDetail& detail : scene.details) {
            detail.placement = Transform();
            detail.box = Box();
        }
    }
    return scene;
}

}  // namespace kep_host
