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
#include <cmath>
#include <cstdio>
#include <cstdlib>
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

std::string text_of(tag_t object, const char* property) {
    char* raw = nullptr;
    const int status = standin::ask_string(object, property, &raw);
    PlatformBlock<char> value(raw);
    return status == ITK_ok && value ? std::string(value.get()) : std::string();
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

// The window's structure as a client reads it, in the order the search walk meets the lines: the
// lines are listed first and then read, so that the scene's lines are laid out once. With
// `details`, each line's details are kept too.
class Walker {
public:
    Walker(Scene& scene, bool details) : scene_(scene), details_(details) {}

    void walk(tag_t top) {
        list(top, 0, -1, -1);
        scene_.lines.reserve(scene_.lines.size() + listed_.size());
        if (details_) {
            scene_.details.reserve(scene_.details.size() + listed_.size());
        }
        for (const Listed& l : listed_) {
            SceneLine& line = scene_.lines.emplace_back();  // in place: the lines are reserved
            line.tag = l.tag;
            line.id = id_text(l.tag);
            line.parent = l.parent;
            line.occurrence_name = text_of(l.tag, "bl_occurrence_name");
            std::string item_id = text_of(l.tag, "bl_item_item_id");  // read as a client reads, kept or not
            line.name = text_of(tag_of(l.tag, "bl_revision"), "object_name");
            if (details_) {
                LineDetail& detail = scene_.details.emplace_back();
                detail.depth = l.depth;
                if (l.packed_into >= 0) {
                    detail.packed_into = scene_.lines[static_cast<size_t>(l.packed_into)].id;
                }
                detail.item_id = std::move(item_id);
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
        names.push_back(scene.lines[static_cast<size_t>(at)].occurrence_name);
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
std::string box_source(const Scene& scene, const std::unordered_map<tag_t, int>& index, int at,
                       const LineAccount& a) {
    const SceneLine& line = scene.lines[static_cast<size_t>(at)];
    std::vector<std::string> ignored;
    for (const AccountTag& t : a.ignored) {
        ignored.push_back(tag_id(t));
    }
    const std::string skipped =
        ignored.empty() ? "" : "; " + join(ignored, ", ") + " ignored (visualisation)";
    if (a.box_path.set && a.box_path.value == "representation") {
        if (!line.has_box) {
            return "no box: " + line.reason;
        }
        auto h = a.mod_on_host.set ? index.find(a.mod_on_host.value) : index.end();
        const std::string why = choice_words(a.choice);
        return line.box_datasets[0] + ", " +
               (h == index.end() ? why
                                 : "mod-on " + why + " on " + scene.lines[static_cast<size_t>(h->second)].id +
                                       " for " + path_to(scene, at, h->second));
    }
    if (line.has_box) {
        return (line.box_datasets.size() == 1 ? line.box_datasets[0] + ", auxiliary or structure dataset"
                                              : join(line.box_datasets, " + ") + " merged") +
               skipped;
    }
    if (a.box_path.set && a.box_path.value == "collection" &&
        (!ignored.empty() || line.reason == kNoDatasets)) {
        return "no box: no geometry dataset with a box" + skipped;
    }
    return "no box: " + line.reason;
}

Vec3 triple(const std::vector<double>& v, size_t from = 0) {
    return {v.at(from), v.at(from + 1), v.at(from + 2)};
}

void take_account(Scene& scene, const std::unordered_map<tag_t, int>& index, int at, LineAccount& a) {
    SceneLine& line = scene.lines[static_cast<size_t>(at)];
    LineDetail* detail = scene.details.empty() ? nullptr : &scene.details[static_cast<size_t>(at)];
    if (detail != nullptr && a.absolute_set && a.absolute.size() == 16) {
        for (size_t i = 0; i < 16; ++i) {
            detail->placement.m[i / 4][i % 4] = a.absolute[i];
        }
    }
    if (a.source.set && a.source.value == "representation") {
        line.placed_by = tag_id(a.representation);
    }
    line.has_box = a.search_box_set && a.box_set;
    if (line.has_box) {
        const Box box{triple(a.box), triple(a.box, 3)};
        if (detail != nullptr) {
            detail->box = box;
        }
        line.centre = triple(a.centre);
        for (size_t i = 0; i < 9; ++i) {
            line.axes[i] = a.axes.at(i);
        }
        line.half = triple(a.half_extents);
        line.box_datasets.reserve(a.box_datasets.size());
        for (const AccountTag& t : a.box_datasets) {
            line.box_datasets.push_back(tag_id(t));
        }
    } else {
        line.reason = a.reason.set ? text_with_ids(std::move(a.reason.value)) : kNoDatasets;
        line.reasons.reserve(std::max<size_t>(a.reasons.size(), 1));
        for (std::string& r : a.reasons) {
            line.reasons.push_back(text_with_ids(std::move(r)));
        }
        if (line.reasons.empty()) {
            line.reasons.push_back(line.reason);
        }
    }
    line.box_from = box_source(scene, index, at, a);
    line.found = a.found;
    line.why = a.why.set ? text_with_ids(std::move(a.why.value)) : std::string();
    line.tests.reserve(a.tests.size());
    for (std::string& t : a.tests) {
        line.tests.push_back(text_with_ids(std::move(t)));
    }
}

// The line as the structure gives it, without what the account told of it.
void forget_account(SceneLine& line) {
    SceneLine bare;
    bare.tag = line.tag;
    bare.id = std::move(line.id);
    bare.parent = line.parent;
    bare.occurrence_name = std::move(line.occurrence_name);
    bare.name = std::move(line.name);
    line = std::move(bare);
}

}  // namespace

bool Transform::from_text(const char* text, Transform* out) {
    *out = Transform();
    if (text == nullptr) {
        return false;
    }
    double v[16];
    int read = 0;
    const char* at = text;
    // strtod follows the process locale; kep-host never changes it from "C".
    for (; read < 16; ++read) {
        char* end = nullptr;
        v[read] = std::strtod(at, &end);
        if (end == at) {
            break;
        }
        at = end;
    }
    if (read < 16) {
        return false;
    }
    for (int i = 0; i < 16; ++i) {
        out->m[i % 4][i / 4] = v[i];
    }
    return true;
}

std::string Transform::to_text() const {
    std::string text;
    char number[32];
    for (int i = 0; i < 16; ++i) {
        std::snprintf(number, sizeof number, "%.16g", m[i % 4][i / 4]);
        text += (i == 0 ? "" : " ") + std::string(number);
    }
    return text;
}

Transform Transform::operator*(const Transform& child) const {
    Transform product;
    for (int r = 0; r < 3; ++r) {
        for (int c = 0; c < 4; ++c) {
            product.m[r][c] = m[r][0] * child.m[0][c] + m[r][1] * child.m[1][c] + m[r][2] * child.m[2][c] +
                              (c == 3 ? m[r][3] : 0.0);
        }
    }
    return product;
}

Vec3 Transform::apply(const Vec3& p) const {
    Vec3 q;
    for (int r = 0; r < 3; ++r) {
        q[r] = m[r][0] * p[0] + m[r][1] * p[1] + m[r][2] * p[2] + m[r][3];
    }
    return q;
}

bool Transform::is_identity_rotation() const {
    for (int r = 0; r < 3; ++r) {
        for (int c = 0; c < 3; ++c) {
            if (std::abs(m[r][c] - (r == c ? 1.0 : 0.0)) > 1e-9) {
                return false;
            }
        }
    }
    return true;
}

std::array<Vec3, 8> box_corners(const Box& box, const Transform& placement, double grow) {
    Vec3 centre;
    Vec3 half;
    for (int k = 0; k < 3; ++k) {
        centre[k] = (box.lo[k] + box.hi[k]) / 2;
        half[k] = (box.hi[k] - box.lo[k]) / 2 + grow;
    }
    std::array<Vec3, 8> corners;
    for (int i = 0; i < 8; ++i) {
        Vec3 p;
        for (int k = 0; k < 3; ++k) {
            p[k] = centre[k] + (((i >> k) & 1) != 0 ? half[k] : -half[k]);
        }
        corners[static_cast<size_t>(i)] = placement.apply(p);
    }
    return corners;
}

int Scene::find(const std::string& id) const {
    for (size_t i = 0; i < lines.size(); ++i) {
        if (lines[i].id == id) {
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

// The extension marks an object as "(tag N)" after its name; only these marks are named by id, so
// that "tag 1" inside an occurrence name or any other text of the site stays as it is.
std::string text_with_ids(std::string text) {
    static const char kMark[] = "(tag ";
    const size_t mark = sizeof kMark - 1;
    std::string out;
    size_t last = 0;
    for (size_t at = text.find(kMark); at != std::string::npos; at = text.find(kMark, at + 1)) {
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
        out.append(text, last, at - last);
        out += tag == NULLTAG ? text.substr(at, end + 1 - at) : "(id " + id_text(tag) + ")";
        last = end + 1;
    }
    if (last == 0) {
        return text;
    }
    return out.append(text, last, std::string::npos);
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
    std::unordered_map<tag_t, int> index;
    index.reserve(scene.lines.size());
    for (size_t i = 0; i < scene.lines.size(); ++i) {
        index[scene.lines[i].tag] = static_cast<int>(i);
    }
    char none[] = "";
    const bool read = read_account(text ? text.get() : none, [&](LineAccount& a) {
        auto at = index.find(a.line.set ? a.line.value : NULLTAG);
        if (at != index.end()) {
            take_account(scene, index, at->second, a);
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
