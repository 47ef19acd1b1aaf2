// The site loader after the parse: the small sections read and checked, every id resolved,
// windows, lines, objects and relations linked into the site.
#include <algorithm>
#include <string>

#include "site_loader.h"

namespace standin::detail::site_loading {

// --- after the parse ------------------------------------------------------------------------------

template <class At>
void Loader::register_id(uint32_t id, tag_t tag, const At& at) {
    Site& st = *site_;
    if (st.id_tags.size() < st.strings.size()) {
        st.id_tags.resize(st.strings.size(), NULLTAG);
    }
    if (st.id_tags[id] != NULLTAG) {
        static const char* const holder[] = {"", "an object", "a window", "a line"};
        const Kind kind = st.tags[st.id_tags[id]].kind;
        error(at, "duplicate id " + qtext(st.strings.str(id)) + " (already the id of " +
                      holder[static_cast<int>(kind) <= 3 ? static_cast<int>(kind) : 0] + ")");
    }
    st.id_tags[id] = tag;
}

std::string Loader::object_path(const Object& o) const {
    return "$.objects" + key_segment(site_->strings.str(o.id));
}
std::string Loader::window_path(const PendingWindow& w) const {
    return "$.windows" + key_segment(site_->strings.str(w.id));
}

// The object an id names, which must be of class `cls` (or any object class when cls < 0).
template <class At>
tag_t Loader::resolve_object(uint32_t id, int cls, const At& at) const {
    const Site& st = *site_;
    const char* expected = cls < 0 ? "an object" : cls == kItemRevision ? "an ItemRevision" : "a Dataset";
    const tag_t tag = st.tag_of_id(id);
    if (tag == NULLTAG) {
        error(at, "unknown id " + qtext(st.strings.str(id)) + " (expected the id of " + expected + ")");
    }
    const TagRec& r = st.tags[tag];
    if (r.kind != Kind::Object) {
        error(at, "expected the id of " + std::string(expected) + ", " + qtext(st.strings.str(id)) + " is " +
                      (r.kind == Kind::Line ? "a line" : "a window"));
    }
    const Object& o = st.objects[r.index];
    if (cls >= 0 && st.types[o.type].cls != cls) {
        error(at, "expected the id of " + std::string(expected) + ", " + qtext(st.strings.str(id)) + " is " +
                      (st.types[o.type].cls == kItemRevision ? "an " : "a ") +
                      kClassNames[st.types[o.type].cls]);
    }
    return tag;
}

// Visits every line of every window in tag order (pre-order), with its parent's tag and a
// way to name its path.
template <class OnWindow, class Visit>
void Loader::walk_lines(OnWindow&& on_window, Visit&& visit) {
    Site& st = *site_;
    std::vector<std::pair<uint32_t, uint32_t>> stack;  // (line, next child or packed position)
    std::vector<std::pair<bool, uint32_t>> segments;   // (packed, index) down to the line
    for (size_t w = 0; w < windows_.size(); ++w) {
        on_window(w);
        if (windows_[w].top_line == kNone) {
            continue;
        }
        const std::string base = window_path(windows_[w]);
        auto path = [&]() {
            std::string p = base;
            for (const auto& s : segments) {
                p += (s.first ? ".packed" : ".children") + index_segment(s.second);
            }
            return p;
        };
        visit(w, windows_[w].top_line, NULLTAG, path);
        stack.assign(1, {windows_[w].top_line, 0});
        while (!stack.empty()) {
            const uint32_t li = stack.back().first;
            const uint32_t next = stack.back().second;
            const Line& line = st.lines[li];
            if (next < line.child_count + line.packed_count) {
                ++stack.back().second;
                const bool packed = next >= line.child_count;
                const uint32_t k = packed ? next - line.child_count : next;
                const uint32_t child = st.line_pool[(packed ? line.packed_offset : line.child_offset) + k];
                segments.emplace_back(packed, k);
                visit(w, child, packed ? line.parent : line.tag, path);
                stack.push_back({child, 0});
            } else {
                stack.pop_back();
                if (!segments.empty()) {
                    segments.pop_back();
                }
            }
        }
    }
}

void Loader::finish(const ojson& root) {
    Site& st = *site_;
    if (!root.is_object()) {
        error("$", "expected an object" + found(root));
    }
    static const char* const allowed[] = {"platform",     "types",          "properties",
                                          "line_methods", "preferences",    "objects",
                                          "relations",    "relation_types", "windows"};
    for (auto it = root.begin(); it != root.end(); ++it) {
        if (std::find_if(std::begin(allowed), std::end(allowed),
                         [&](const char* a) { return it.key() == a; }) == std::end(allowed)) {
            error("$" + key_segment(it.key()),
                  "unexpected field (a site has platform, types, properties, line_methods, preferences, "
                  "objects, relations, relation_types and windows)");
        }
    }
    for (const char* container : {"objects", "windows"}) {
        if (root.contains(container) && !root[container].is_object()) {
            error("$" + key_segment(container), "expected an object" + found(root[container]));
        }
    }

    read_platform(root);
    read_types(root);
    read_properties(root);
    read_line_methods(root);
    read_preferences(root);
    const std::vector<RelationNames> relations = read_relations(root);

    // Tags: objects, windows with their lines, types, relation types.
    st.tags.assign(1, TagRec{});
    for (size_t i = 0; i < st.objects.size(); ++i) {
        const auto tag = static_cast<tag_t>(st.tags.size());
        st.tags.push_back({Kind::Object, static_cast<uint32_t>(i)});
        st.objects[i].tag = tag;
        register_id(st.objects[i].id, tag, [&] { return object_path(st.objects[i]); });
    }
    st.tags.reserve(st.tags.size() + windows_.size() + st.lines.size() + st.types.size() +
                    st.relation_types.size());
    walk_lines(
        [&](size_t w) {
            const auto tag = static_cast<tag_t>(st.tags.size());
            st.tags.push_back({Kind::Window, static_cast<uint32_t>(st.windows.size())});
            st.windows.push_back(Window{windows_[w].id, windows_[w].top_line, tag, NULLTAG});
            register_id(windows_[w].id, tag, [&] { return window_path(windows_[w]); });
        },
        [&](size_t, uint32_t li, tag_t parent, auto& path) {
            Line& line = st.lines[li];
            line.tag = static_cast<tag_t>(st.tags.size());
            line.parent = parent;
            st.tags.push_back({Kind::Line, li});
            register_id(line.id, line.tag, [&] { return path() + ".id"; });
        });
    for (size_t i = 0; i < st.types.size(); ++i) {
        st.types[i].tag = static_cast<tag_t>(st.tags.size());
        st.tags.push_back({Kind::Type, static_cast<uint32_t>(i)});
    }
    for (size_t i = 0; i < st.relation_types.size(); ++i) {
        st.relation_types[i].tag = static_cast<tag_t>(st.tags.size());
        st.tags.push_back({Kind::RelationType, static_cast<uint32_t>(i)});
    }

    resolve_objects();
    walk_lines([](size_t) {},
               [&](size_t, uint32_t li, tag_t, auto& path) {
                   Line& line = st.lines[li];
                   line.revision =
                       resolve_object(line.revision_id, kItemRevision, [&] { return path() + ".revision"; });
                   if (line.jt_id != kNone) {
                       line.jt = resolve_object(line.jt_id, kDataset, [&] { return path() + ".jt"; });
                   }
               });
    for (tag_t& entry : st.line_pool) {
        entry = st.lines[entry].tag;
    }
    for (Window& w : st.windows) {
        w.top = w.top_line == kNone ? NULLTAG : st.lines[w.top_line].tag;
    }
    resolve_relations(relations);
}

void Loader::read_platform(const ojson& root) {
    Site& st = *site_;
    if (!root.contains("platform")) {
        return;
    }
    const ojson& p = root["platform"];
    if (!p.is_object()) {
        error("$.platform", "expected an object" + found(p));
    }
    for (auto it = p.begin(); it != p.end(); ++it) {
        const std::string at = "$.platform" + key_segment(it.key());
        const ojson& x = it.value();
        if (it.key() == "version") {
            if (!x.is_number_integer() || x.get<long long>() < 0 || x.get<long long>() > 2147483647LL) {
                error(at, "expected a version number (a non-negative integer)" + found(x));
            }
            st.version = x.get<int>();
        } else if (it.key() == "search_scope") {
            if (!x.is_number_integer() || x.get<long long>() < 0 || x.get<long long>() > 4) {
                error(at, "expected a search scope from 0 to 4");
            }
            st.search_scope = x.get<int>();
        } else if (it.key() == "env") {
            if (!x.is_object()) {
                error(at, "expected an object of environment variables" + found(x));
            }
            for (auto e = x.begin(); e != x.end(); ++e) {
                if (e.value().is_null()) {
                    st.env_hidden.insert(e.key());
                } else {
                    st.env[e.key()] = text_of(e.value(), at + key_segment(e.key()), "a text or null");
                }
            }
        } else {
            error(at, "unexpected field (platform has version, search_scope and env)");
        }
    }
}

void Loader::read_types(const ojson& root) {
    Site& st = *site_;
    if (!root.contains("types")) {
        return;
    }
    const ojson& t = root["types"];
    if (!t.is_object()) {
        error("$.types", "expected an object of type names" + found(t));
    }
    const size_t first = st.types.size();
    std::vector<std::string> parents;
    for (auto it = t.begin(); it != t.end(); ++it) {
        const std::string at = "$.types" + key_segment(it.key());
        if (it.key().empty() || it.key().size() > 32) {
            error(at, "expected a type name of 1 to 32 characters");
        }
        if (st.find_type(it.key()) >= 0) {
            error(at, "duplicate type " + qtext(it.key()) + " (a platform class)");
        }
        parents.push_back(text_of(it.value(), at, "the name of the parent type"));
        Type type;
        type.name = st.strings.intern(it.key());
        st.add_type(std::move(type));
    }
    for (size_t i = first; i < st.types.size(); ++i) {
        const std::string at = "$.types" + key_segment(st.strings.str(st.types[i].name));
        const int parent = st.find_type(parents[i - first]);
        if (parent < 0) {
            error(at,
                  "unknown type " + qtext(parents[i - first]) +
                      " (expected ItemRevision, Dataset, Form, BOMLine, BOMWindow or a type under types)");
        }
        st.types[i].parent = parent;
    }
    // Each type's class, from the first type in file order up: a walk stops at a platform
    // class or a type whose class is known, so every type is walked over once.
    enum : uint8_t { kNew, kOnWalk, kKnown };
    std::vector<uint8_t> state(st.types.size() - first, kNew);
    std::vector<size_t> walk;
    for (size_t i = first; i < st.types.size(); ++i) {
        if (state[i - first] == kKnown) {
            continue;
        }
        walk.clear();
        auto up = static_cast<int>(i);
        while (up >= static_cast<int>(first) && state[static_cast<size_t>(up) - first] == kNew) {
            state[static_cast<size_t>(up) - first] = kOnWalk;
            walk.push_back(static_cast<size_t>(up));
            up = st.types[static_cast<size_t>(up)].parent;
        }
        if (up >= static_cast<int>(first) && state[static_cast<size_t>(up) - first] == kOnWalk) {
            walk.push_back(static_cast<size_t>(up));  // the walk met itself: a cycle
            error("$.types" + key_segment(st.strings.str(st.types[i].name)),
                  "cycle in the type hierarchy (" + type_chain(walk) +
                      "); expected a chain ending at a platform class");
        }
        for (const size_t w : walk) {
            st.types[w].cls = st.types[static_cast<size_t>(up)].cls;
            state[w - first] = kKnown;
        }
    }
}

// "A -> B -> C" for types given by index, the middle of a long chain cut.
std::string Loader::type_chain(const std::vector<size_t>& chain) const {
    std::string text;
    for (size_t k = 0; k < chain.size(); ++k) {
        if (chain.size() > 2 * kPathEnds + 1 && k == kPathEnds) {
            text += " -> ...(" + std::to_string(chain.size() - 2 * kPathEnds) + " types cut)...";
            k = chain.size() - kPathEnds - 1;
            continue;
        }
        text += (k == 0 ? "" : " -> ") + std::string(site_->strings.str(site_->types[chain[k]].name));
    }
    return text;
}

void Loader::read_properties(const ojson& root) {
    Site& st = *site_;
    if (!root.contains("properties")) {
        return;
    }
    const ojson& p = root["properties"];
    if (!p.is_object()) {
        error("$.properties", "expected an object of property lists" + found(p));
    }
    for (auto it = p.begin(); it != p.end(); ++it) {
        const std::string at = "$.properties" + key_segment(it.key());
        const int type = st.find_type(it.key());
        if (type < 0) {
            error(at,
                  "unknown type " + qtext(it.key()) + " (expected a platform class or a type under types)");
        }
        if (!it.value().is_array()) {
            error(at, "expected a list of property names" + found(it.value()));
        }
        for (size_t i = 0; i < it.value().size(); ++i) {
            const std::string name_at = at + index_segment(static_cast<long>(i));
            const std::string name = text_of(it.value()[i], name_at, "a property name");
            if (name.empty()) {
                error(name_at, "expected a property name, found an empty text");
            }
            const uint32_t id = st.strings.intern(name);
            if (site_defines(type, id)) {
                error(name_at, "duplicate property " + qtext(name) + " (already defined on the type)");
            }
            st.types[static_cast<size_t>(type)].runtime.push_back({id, -1});
            defined_.insert(type_property(type, id));
        }
    }
}

uint64_t Loader::type_property(int type, uint32_t name) {
    return static_cast<uint64_t>(static_cast<uint32_t>(type)) << 32 | name;
}

bool Loader::site_defines(int type, uint32_t id) const {
    const Site& st = *site_;
    for (int t = type; t >= 0; t = st.types[static_cast<size_t>(t)].parent) {
        const Type& ty = st.types[static_cast<size_t>(t)];
        if (!ty.runtime.empty() && defined_.count(type_property(t, id)) != 0) {
            return true;
        }
        if (ty.parent < 0) {
            if (ty.cls == kBOMLine) {
                return std::find(st.p_line.begin(), st.p_line.end(), id) != st.p_line.end();
            }
            if (ty.cls != kBOMWindow) {
                return id == st.p_object_name || id == st.p_object_type ||
                       (ty.cls == kItemRevision && id == st.p_item_id);
            }
        }
    }
    return false;
}

void Loader::read_line_methods(const ojson& root) {
    Site& st = *site_;
    if (!root.contains("line_methods")) {
        return;
    }
    const ojson& m = root["line_methods"];
    if (!m.is_array()) {
        error("$.line_methods", "expected a list of line property names" + found(m));
    }
    st.line_methods.fill(false);
    for (size_t i = 0; i < m.size(); ++i) {
        const std::string at = "$.line_methods" + index_segment(static_cast<long>(i));
        const std::string name = text_of(m[i], at, "a line property name");
        if (name == "bl_plmxml_occ_xform") {
            st.line_methods[kOccXform] = true;
        } else if (name == "bl_plmxml_abs_xform") {
            st.line_methods[kAbsXform] = true;
        } else if (name == "bl_jt_dataset_tag") {
            st.line_methods[kJtTag] = true;
        } else {
            error(at, "expected bl_plmxml_occ_xform, bl_plmxml_abs_xform or bl_jt_dataset_tag, found " +
                          qtext(name));
        }
    }
}

void Loader::read_preferences(const ojson& root) {
    Site& st = *site_;
    if (!root.contains("preferences")) {
        return;
    }
    const ojson& p = root["preferences"];
    if (!p.is_object()) {
        error("$.preferences", "expected an object of preferences" + found(p));
    }
    for (auto it = p.begin(); it != p.end(); ++it) {
        const std::string at = "$.preferences" + key_segment(it.key());
        std::vector<std::string> values;
        if (it.value().is_string()) {
            values.push_back(it.value().get<std::string>());
        } else if (it.value().is_array()) {
            for (size_t i = 0; i < it.value().size(); ++i) {
                values.push_back(text_of(it.value()[i], at + index_segment(static_cast<long>(i))));
            }
        } else {
            error(at, "expected a text or a list of texts" + found(it.value()));
        }
        st.preferences[it.key()] = std::move(values);
    }
}

// Creates the relation types (in order of first use, then the further names) and gives back
// the relations' names, checked for their shape while they were read.
std::vector<RelationNames> Loader::read_relations(const ojson& root) {
    Site& st = *site_;
    std::unordered_set<uint32_t> known;
    auto add_type = [&](uint32_t id) {
        if (known.insert(id).second) {
            st.relation_types.push_back({id, NULLTAG});
        }
    };
    std::vector<RelationNames> out;
    if (relations_streamed_) {
        if (!relation_fault_.empty()) {
            throw LoadError(relation_fault_);
        }
        for (const RelationNames& r : relations_) {
            add_type(r[1]);
        }
        out = std::move(relations_);
    } else if (root.contains("relations")) {
        error("$.relations",
              "expected a list of relations" + found(root["relations"]));  // a list is read as it comes
    }
    if (root.contains("relation_types")) {
        const ojson& r = root["relation_types"];
        if (!r.is_array()) {
            error("$.relation_types", "expected a list of relation type names" + found(r));
        }
        for (size_t i = 0; i < r.size(); ++i) {
            const std::string at = "$.relation_types" + index_segment(static_cast<long>(i));
            const std::string type = text_of(r[i], at, "a relation type name");
            if (type.empty() || type.size() > 32) {
                error(at, "expected a relation type name of 1 to 32 characters");
            }
            add_type(st.strings.intern(type));
        }
    }
    return out;
}

void Loader::resolve_objects() {
    Site& st = *site_;
    std::unordered_map<uint32_t, int> types;  // type name -> type, as found
    for (size_t i = 0; i < st.objects.size(); ++i) {
        Object& o = st.objects[i];
        auto known = types.find(o.type_name);
        const int type = known != types.end()
                             ? known->second
                             : types[o.type_name] = st.find_type(st.strings.str(o.type_name));
        const std::string_view type_name = st.strings.str(o.type_name);
        const std::string at = type < 0 ? object_path(o) : std::string();
        if (type < 0) {
            error(at + ".type", "unknown type " + qtext(type_name) +
                                    " (expected ItemRevision, Dataset, Form or a type under types)");
        }
        const uint8_t cls = st.types[static_cast<size_t>(type)].cls;
        if (cls == kBOMLine || cls == kBOMWindow) {
            error(object_path(o) + ".type",
                  "expected ItemRevision, Dataset, Form or a type under types, found " + qtext(type_name) +
                      " (lines and windows come from windows)");
        }
        o.type = static_cast<uint32_t>(type);
    }
    for (size_t i = 0; i < st.objects.size(); ++i) {
        Object& o = st.objects[i];
        auto at = [&] { return object_path(o); };
        const uint8_t cls = st.types[o.type].cls;
        const ObjectFields& f = object_fields_[i];
        if (f.item_id && cls != kItemRevision) {
            error(at() + ".item_id", "unexpected field (item_id belongs to an ItemRevision)");
        }
        if (f.refs && cls != kDataset) {
            error(at() + ".refs", "unexpected field (refs belong to a Dataset)");
        }
        if (f.version0 && cls != kDataset) {
            error(at() + ".version0", "unexpected field (version0 belongs to a Dataset)");
        }
        for (const NamedRefs& refs : st.refs_of(o)) {
            for (uint32_t k = 0; k < refs.count; ++k) {
                tag_t& target = st.ref_targets[refs.offset + k];
                target = resolve_object(target, -1, [&] {
                    return at() + ".refs" + key_segment(st.strings.str(refs.name)) +
                           index_segment(static_cast<long>(k));
                });
            }
        }
        o.version0 = f.version0 ? resolve_object(o.version0_id, kDataset, [&] { return at() + ".version0"; })
                                : (cls == kDataset ? o.tag : NULLTAG);
        Type& t = st.types[o.type];
        for (const Attribute& a : st.attributes_of(o)) {
            t.attributes.insert(a.name);
        }
    }
}

void Loader::resolve_relations(const std::vector<RelationNames>& relations) {
    Site& st = *site_;
    std::unordered_map<uint32_t, tag_t> types;  // name -> tag
    for (const RelationType& t : st.relation_types) {
        types.emplace(t.name, t.tag);
    }
    std::vector<Relation> list;
    list.reserve(relations.size());
    for (size_t i = 0; i < relations.size(); ++i) {
        auto at = [&](const char* end) { return "$.relations" + index_segment(static_cast<long>(i)) + end; };
        Relation r{};
        r.primary = resolve_object(relations[i][0], -1, [&] { return at("[0]"); });
        r.secondary = resolve_object(relations[i][2], -1, [&] { return at("[2]"); });
        const auto type = types.find(relations[i][1]);  // every name used has its type
        r.type = type == types.end() ? NULLTAG : type->second;
        list.push_back(r);
    }
    std::stable_sort(list.begin(), list.end(),
                     [](const Relation& a, const Relation& b) { return a.primary < b.primary; });
    st.relations = std::move(list);
    for (size_t i = 0; i < st.relations.size(); ++i) {
        Object& o = st.objects[st.tags[st.relations[i].primary].index];
        if (o.relation_count == 0) {
            o.relation_offset = static_cast<uint32_t>(i);
        }
        ++o.relation_count;
    }
}

}  // namespace standin::detail::site_loading
