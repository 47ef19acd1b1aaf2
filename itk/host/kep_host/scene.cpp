// Reading a window's lines with their placements and boxes (scene.h).
#include "scene.h"

#include <ae/dataset.h>
#include <base_utils/Mem.h>
#include <bom/bom.h>
#include <standin/control.h>
#include <tc/preferences.h>
#include <tccore/aom_prop.h>
#include <tccore/grm.h>
#include <tccore/tctype.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>

namespace kep_host {

namespace {

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

// The platform reads the explanation needs. Every one answers "nothing" when the read fails.
class Reader {
public:
    std::string text(tag_t object, const char* property) const {
        char* raw = nullptr;
        int status = standin::ask_string(object, property, &raw);
        PlatformBlock<char> value(raw);
        return status == ITK_ok && value ? std::string(value.get()) : std::string();
    }

    // Like text(), but tells a null value (or a failed read) from an empty one.
    bool text_or_null(tag_t object, const char* property, std::string* out) const {
        char* raw = nullptr;
        int status = standin::ask_string(object, property, &raw);
        PlatformBlock<char> value(raw);
        if (status != ITK_ok || !value) {
            out->clear();
            return false;
        }
        *out = value.get();
        return true;
    }

    tag_t tag(tag_t object, const char* property) const {
        tag_t value = NULLTAG;
        return standin::ask_tag(object, property, &value) == ITK_ok ? value : NULLTAG;
    }

    std::vector<std::string> texts(tag_t object, const char* property) const {
        int count = 0;
        char** raw = nullptr;
        int status = AOM_ask_value_strings(object, property, &count, &raw);
        std::vector<std::string> values;
        for (int i = 0; raw != nullptr && i < count; ++i) {
            PlatformBlock<char> value(raw[i]);
            values.push_back(value ? value.get() : "");
        }
        MEM_free(raw);
        if (status != ITK_ok) {
            values.clear();
        }
        return values;
    }

    bool number(tag_t object, const char* property, double* value) const {
        return AOM_ask_value_double(object, property, value) == ITK_ok;
    }

    std::string type_name(tag_t object) const {
        tag_t type = NULLTAG;
        char name[TCTYPE_name_size_c + 1] = {};
        if (TCTYPE_ask_object_type(object, &type) != ITK_ok || TCTYPE_ask_name(type, name) != ITK_ok) {
            return std::string();
        }
        return name;
    }

    // The objects related to `primary`: under the named relation, or under every relation when the
    // name is empty. As on the platform, a relation name it does not know lists every relation.
    std::vector<tag_t> related(tag_t primary, const std::string& relation) const {
        tag_t relation_type = NULLTAG;
        if (!relation.empty() && GRM_find_relation_type(relation.c_str(), &relation_type) != ITK_ok) {
            return {};
        }
        int count = 0;
        tag_t* raw = nullptr;
        const int status = GRM_list_secondary_objects_only(primary, relation_type, &count, &raw);
        return take_tags(status, count, raw);
    }

    std::vector<tag_t> references(tag_t dataset, const char* name) const {
        int count = 0;
        tag_t* raw = nullptr;
        const int status = AE_ask_all_dataset_named_refs(dataset, name, &count, &raw);
        return take_tags(status, count, raw);
    }

    // The one form behind a named reference, or the null tag unless there is exactly one.
    tag_t single_reference(tag_t dataset, const char* name) const {
        std::vector<tag_t> refs = references(dataset, name);
        return refs.size() == 1 ? refs[0] : NULLTAG;
    }

    std::vector<std::string> preference(const char* key) const {
        int count = 0;
        char** raw = nullptr;
        int status = PREF_ask_char_values(key, &count, &raw);
        PlatformBlock<char*> block(raw);  // one block: the array and its texts
        std::vector<std::string> values;
        for (int i = 0; status == ITK_ok && raw != nullptr && i < count; ++i) {
            values.push_back(raw[i] != nullptr ? raw[i] : "");
        }
        return values;
    }

    std::string first_preference(const char* key) const {
        std::vector<std::string> values = preference(key);
        return values.empty() ? std::string() : values[0];
    }
};

// The names that pick one dataset among several representations of the same geometry.
struct Representations {
    bool listed = false;                    // KEPAltRepList has at least one entry
    std::string master;                     // "" when none is listed
    std::vector<std::string> alternatives;  // the suffixes that mark an alternative representation
    bool filter_on = false;
    std::vector<std::string> wanted;  // tried from the last to the first

    explicit Representations(const Reader& read) {
        std::vector<std::string> list = read.preference("KEPAltRepList");
        listed = !list.empty();
        if (listed) {
            master = list[0];
            alternatives.assign(list.begin() + 1, list.end());
        }
        filter_on = read.first_preference("KEPUseAltRepFilter") == "1";
        if (filter_on) {
            wanted = read.preference("KEPActualAltRepList");
        } else if (!master.empty()) {
            wanted.push_back(master);
        }
    }
};

// The representation suffix of a dataset name: after the last "." of what comes before the last
// "/". "RAD-2100.LOD1/A" -> "LOD1"; "RAD-2100/A" -> none.
bool suffix_of(const std::string& name, std::string* suffix) {
    std::string stem = name.substr(0, name.rfind('/'));
    size_t dot = stem.rfind('.');
    if (dot == std::string::npos) {
        return false;
    }
    *suffix = stem.substr(dot + 1);
    return true;
}

struct Choice {
    tag_t dataset = NULLTAG;
    std::string why;  // "master representation", "LOD1 representation", ... or why none
};

Choice choose_representation(const Reader& read, const std::vector<tag_t>& candidates) {
    Representations reps(read);
    Choice choice;
    if (reps.filter_on && reps.wanted.empty()) {
        choice.why = "the representation filter is on but KEPActualAltRepList is empty";
        return choice;
    }
    for (auto wanted = reps.wanted.rbegin(); wanted != reps.wanted.rend(); ++wanted) {
        if (wanted->empty()) {
            continue;
        }
        for (tag_t candidate : candidates) {
            std::string name = read.text(candidate, "object_name");
            if (name.empty()) {
                continue;
            }
            std::string suffix;
            if (suffix_of(name, &suffix) && std::find(reps.alternatives.begin(), reps.alternatives.end(),
                                                      suffix) != reps.alternatives.end()) {
                if (suffix == *wanted) {
                    choice.dataset = candidate;
                    choice.why = suffix + " representation";
                    return choice;
                }
                continue;
            }
            if (*wanted == reps.master) {
                choice.dataset = candidate;
                choice.why = "master representation";
                return choice;
            }
        }
    }
    if (!reps.listed && candidates.size() == 1) {
        choice.dataset = candidates[0];
        choice.why = "the only dataset (no representations listed)";
        return choice;
    }
    std::string wanted;
    for (const std::string& name : reps.wanted) {
        wanted += (wanted.empty() ? "" : ", ") + name;
    }
    choice.why = "no dataset is a wanted representation (" + (wanted.empty() ? "none wanted" : wanted) + ")";
    return choice;
}

// The datasets of `candidates` whose type is one of `types`; none when a type is not set (the
// extension then gives up on the whole set).
std::vector<tag_t> of_types(const Reader& read, const std::vector<tag_t>& candidates,
                            const std::vector<std::string>& types) {
    std::vector<tag_t> kept;
    if (std::any_of(types.begin(), types.end(), [](const std::string& t) { return t.empty(); })) {
        return kept;
    }
    for (tag_t candidate : candidates) {
        std::string type = read.type_name(candidate);
        if (std::find(types.begin(), types.end(), type) != types.end()) {
            kept.push_back(candidate);
        }
    }
    return kept;
}

struct ModOn {
    int host = -1;  // index of the host line, -1 for none
    std::vector<tag_t> datasets;
};

// The mod-on host of lines[line] under `relation` and `type`: the ancestor nearest the top whose
// revision holds datasets named "<host item>.<line item>." whose KEPModOnInfo form lists the
// occurrence path from the line up to the host's child.
ModOn find_mod_on(const Reader& read, const Scene& scene, int line, const std::string& relation,
                  const std::string& type) {
    ModOn found;
    const std::string& item = scene.lines[line].item_id;
    if (item.empty() || relation.empty() || type.empty()) {
        return found;
    }
    std::vector<std::string> way;
    int child = line;
    for (int parent = scene.lines[line].parent; parent >= 0;
         child = parent, parent = scene.lines[parent].parent) {
        way.push_back(scene.lines[child].occurrence_name);
        const std::string prefix = scene.lines[parent].item_id + "." + item + ".";
        std::vector<tag_t> matches;
        for (tag_t dataset : read.related(read.tag(scene.lines[parent].tag, "bl_revision"), relation)) {
            if (read.type_name(dataset) != type) {
                continue;
            }
            if (read.text(dataset, "object_name").compare(0, prefix.size(), prefix) != 0) {
                continue;
            }
            tag_t form = read.single_reference(dataset, "KEPModOnInfo");
            if (form != NULLTAG && read.texts(form, "var2_way_to_root") == way) {
                matches.push_back(dataset);
            }
        }
        if (!matches.empty()) {
            found.host = parent;
            found.datasets = std::move(matches);
        }
    }
    return found;
}

bool dataset_box(const Reader& read, tag_t dataset, Box* box) {
    tag_t form = read.single_reference(dataset, "VAR2BBInfo");
    if (form == NULLTAG) {
        return false;
    }
    static const char* const kNames[6] = {"var2_bb_x1", "var2_bb_y1", "var2_bb_z1",
                                          "var2_bb_x2", "var2_bb_y2", "var2_bb_z2"};
    double v[6];
    for (int i = 0; i < 6; ++i) {
        if (!read.number(form, kNames[i], &v[i])) {
            return false;
        }
    }
    box->lo = {v[0], v[1], v[2]};
    box->hi = {v[3], v[4], v[5]};
    return true;
}

bool is_visualisation(const Reader& read, tag_t dataset) {
    tag_t form = read.single_reference(dataset, "VAR2TypeInfo");
    return form != NULLTAG && read.text(form, "var2_type") == "VISUALIZATION";
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

std::vector<std::string> ids(const std::vector<tag_t>& tags) {
    std::vector<std::string> out;
    for (tag_t tag : tags) {
        out.push_back(id_text(tag));
    }
    return out;
}

// The way-to-root path of a mod-on host: the occurrence names from the line up to the host's child.
std::string path_to(const Scene& scene, int line, int host) {
    std::vector<std::string> names;
    for (int at = line; at >= 0 && at != host; at = scene.lines[at].parent) {
        names.push_back(scene.lines[at].occurrence_name);
    }
    return join(names, "/");
}

void explain_box(const Reader& read, const Scene& scene, SceneLine& line, int index) {
    tag_t revision = read.tag(line.tag, "bl_revision");
    std::vector<tag_t> attached = read.related(revision, "");
    std::vector<tag_t> geometry =
        of_types(read, attached,
                 {read.first_preference("KEPPartDatasetType"), read.first_preference("KEPModelDatasetType"),
                  read.first_preference("KEPCgrDatasetType"), read.first_preference("KEPRepDatasetType")});
    if (!geometry.empty()) {
        const std::string relation = read.first_preference("KEPModOnPartDatasetRelation");
        const std::string type = read.first_preference("KEPModOnPartDatasetType");
        if (relation.empty() || type.empty()) {
            line.box_from = "no box: KEPModOnPartDatasetRelation or KEPModOnPartDatasetType is not set";
            return;
        }
        ModOn mod_on = find_mod_on(read, scene, index, relation, type);
        Choice choice = choose_representation(read, mod_on.host >= 0 ? mod_on.datasets : geometry);
        std::string where;
        if (mod_on.host >= 0) {
            where = "mod-on " + choice.why + " on " + scene.lines[mod_on.host].id + " for " +
                    path_to(scene, index, mod_on.host);
        }
        if (choice.dataset == NULLTAG) {
            line.box_from = mod_on.host >= 0
                                ? "no box: mod-on host " + scene.lines[mod_on.host].id + ": " + choice.why
                                : "no box: " + join(ids(geometry), ", ") + ": " + choice.why;
            return;
        }
        const std::string dataset = id_text(choice.dataset);
        if (!dataset_box(read, choice.dataset, &line.box)) {
            line.box_from = "no box: " + dataset + " (" + choice.why + ") has no box form";
            return;
        }
        line.has_box = true;
        line.box_datasets = {dataset};
        line.box_from = dataset + ", " + (where.empty() ? choice.why : where);
        return;
    }

    // No 3D geometry: the auxiliary and structure datasets together.
    std::vector<tag_t> collected = of_types(
        read, attached,
        {read.first_preference("KEPAuxPartDatasetType"), read.first_preference("KEPAuxModelDatasetType"),
         read.first_preference("KEPAuxCgrDatasetType"), read.first_preference("KEPAuxRepDatasetType"),
         read.first_preference("KEPArchiveDatasetType")});
    const std::string relation = read.first_preference("KEPProductDatasetRelation");
    if (!relation.empty()) {
        std::vector<tag_t> structure = read.related(revision, relation);
        if (!structure.empty()) {
            std::vector<tag_t> kept =
                of_types(read, structure, {read.first_preference("KEPProductDatasetType")});
            collected.insert(collected.end(), kept.begin(), kept.end());
        }
    }
    std::vector<std::string> ignored;
    for (tag_t dataset : collected) {
        Box box;
        if (is_visualisation(read, dataset)) {
            ignored.push_back(id_text(dataset));
        } else if (dataset_box(read, dataset, &box)) {
            if (!line.has_box) {
                line.box = box;
                line.has_box = true;
            } else {
                for (int k = 0; k < 3; ++k) {
                    line.box.lo[k] = std::min(line.box.lo[k], box.lo[k]);
                    line.box.hi[k] = std::max(line.box.hi[k], box.hi[k]);
                }
            }
            line.box_datasets.push_back(id_text(dataset));
        }
    }
    std::string skipped = ignored.empty() ? "" : "; " + join(ignored, ", ") + " ignored (visualisation)";
    if (line.has_box) {
        line.box_from =
            (line.box_datasets.size() == 1 ? line.box_datasets[0] + ", auxiliary or structure dataset"
                                           : join(line.box_datasets, " + ") + " merged") +
            skipped;
    } else {
        line.box_from = "no box: no geometry dataset with a box" + skipped;
    }
}

// The product mod-on representation that gives lines[index] its occurrence transform, if any.
std::string placing_dataset(const Reader& read, const Scene& scene, int index) {
    int parent = scene.lines[index].parent;
    if (parent < 0) {
        return std::string();
    }
    ModOn mod_on = find_mod_on(read, scene, parent, read.first_preference("KEPModOnProductDatasetRelation"),
                               read.first_preference("KEPModOnProductDatasetType"));
    if (mod_on.host < 0) {
        return std::string();
    }
    Choice choice = choose_representation(read, mod_on.datasets);
    if (choice.dataset == NULLTAG) {
        return std::string();
    }
    // The representation places only the children its form lists; the others keep their stored
    // transform.
    const tag_t form = read.single_reference(choice.dataset, "KEPModOnInfo");
    if (form == NULLTAG) {
        return std::string();
    }
    const std::vector<std::string> names = read.texts(form, "var2_child_instname");
    const std::vector<std::string> matrices = read.texts(form, "var2_child_matrix");
    const bool listed =
        names.size() == matrices.size() &&
        std::find(names.begin(), names.end(), scene.lines[index].occurrence_name) != names.end();
    return listed ? id_text(choice.dataset) : std::string();
}

class Walker {
public:
    explicit Walker(Scene& scene) : scene_(scene) {}

    void walk(tag_t line, int depth, int parent, const std::string& packed_into, const Transform& placement) {
        const int index = add(line, depth, parent, packed_into, placement);
        for (tag_t child : lines(line, BOM_line_ask_child_lines)) {
            walk(child, depth + 1, index, "", placement * occurrence(child));
            const std::string child_id = id_text(child);
            for (tag_t packed : lines(child, BOM_line_ask_packed_lines)) {
                walk(packed, depth + 1, index, child_id, placement * occurrence(packed));
            }
        }
    }

private:
    int add(tag_t tag, int depth, int parent, const std::string& packed_into, const Transform& placement) {
        SceneLine line;
        line.tag = tag;
        line.id = id_text(tag);
        line.depth = depth;
        line.parent = parent;
        line.packed_into = packed_into;
        line.occurrence_name = read_.text(tag, "bl_occurrence_name");
        line.item_id = read_.text(tag, "bl_item_item_id");
        line.name = read_.text(read_.tag(tag, "bl_revision"), "object_name");
        line.placement = placement;
        if (parent >= 0) {
            line.occ_text = occ_text_[tag];
        }
        scene_.lines.push_back(std::move(line));
        const int index = static_cast<int>(scene_.lines.size()) - 1;
        scene_.lines[index].placed_by = placing_dataset(read_, scene_, index);
        explain_box(read_, scene_, scene_.lines[index], index);
        return index;
    }

    // The occurrence transform as a client reads it; a null or unreadable text places the line
    // where its parent is, as in the search walk.
    Transform occurrence(tag_t line) {
        std::string text;
        read_.text_or_null(line, "bl_plmxml_occ_xform", &text);
        occ_text_[line] = text;
        Transform transform;
        Transform::from_text(text.c_str(), &transform);
        return transform;
    }

    static std::vector<tag_t> lines(tag_t line, int (*ask)(tag_t, int*, tag_t**)) {
        int count = 0;
        tag_t* raw = nullptr;
        const int status = ask(line, &count, &raw);
        return take_tags(status, count, raw);
    }

    Scene& scene_;
    Reader read_;
    std::map<tag_t, std::string> occ_text_;
};

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

int Scene::count_with_box() const {
    return static_cast<int>(
        std::count_if(lines.begin(), lines.end(), [](const SceneLine& line) { return line.has_box; }));
}

Scene read_scene(tag_t window) {
    Scene scene;
    tag_t top = NULLTAG;
    if (BOM_ask_window_top_line(window, &top) != ITK_ok || top == NULLTAG) {
        return scene;
    }
    Walker(scene).walk(top, 0, -1, "", Transform());
    return scene;
}

}  // namespace kep_host
