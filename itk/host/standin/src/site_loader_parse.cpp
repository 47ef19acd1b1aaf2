// The site loader's handling of the parser's events: containers opened and closed, keys and
// scalars, and what they make of lines, objects and relations as they are read.
#include <algorithm>
#include <string>

#include "site_loader.h"

namespace standin::detail::site_loading {

// --- containers -----------------------------------------------------------------------------------

bool Loader::start(bool is_array) {
    if (depth_ >= kMaxDepth) {
        error(here(), "expected at most " + std::to_string(kMaxDepth) +
                          " nested arrays and objects (a line at most " +
                          std::to_string((kMaxDepth - 3) / 2) + " levels below its window's top line)");
    }
    const char* type = is_array ? "array" : "object";
    Role role = Role::Skip;
    ojson* dom = nullptr;
    if (depth_ == 0) {
        root_ = is_array ? ojson::array() : ojson::object();
        role = Role::Root;
        dom = &root_;
    } else {
        Frame& p = top();
        if (p.is_array) {
            ++p.index;
        }
        switch (p.role) {
            case Role::Root:
                if (!p.is_array && !is_array && (p.key == "objects" || p.key == "windows")) {
                    role = p.key == "objects" ? Role::Objects : Role::Windows;
                    insert(p, ojson::object());  // stands for the section in the checks
                } else if (!p.is_array && is_array && p.key == "relations") {
                    role = Role::Relations;
                    relations_streamed_ = true;
                    insert(p, ojson::array());
                } else {
                    role = Role::Dom;
                    dom = &insert(p, is_array ? ojson::array() : ojson::object());
                }
                break;
            case Role::Dom:
                role = Role::Dom;
                dom = &insert(p, is_array ? ojson::array() : ojson::object());
                break;
            case Role::Objects:
                if (is_array) {
                    error(here(), "expected an object, found array");
                }
                role = Role::ObjectEntry;
                begin_object(p);
                break;
            case Role::ObjectEntry:
                role = object_field_container(p.key, is_array);
                break;
            case Role::Attributes:
                if (is_array) {
                    role = Role::AttributeList;
                    list_ = Value{};
                    list_.kind = Msg::Strings;
                    list_.text = static_cast<uint32_t>(site_->text_lists.size());
                } else {
                    note(&object_fault_,
                         "expected a number, a text, a list of texts, true, false or null" + found(type));
                }
                break;
            case Role::AttributeList:
                note(&object_fault_, "expected a text or null" + found(type));
                break;
            case Role::Refs:
                if (is_array) {
                    role = Role::RefList;
                    refs_ = NamedRefs{intern(p.key), static_cast<uint32_t>(site_->ref_targets.size()), 0};
                } else {
                    note(&object_fault_, "expected a list of ids" + found(type));
                }
                break;
            case Role::RefList:
                note(&object_fault_, id_fault(type, nullptr));
                break;
            case Role::Windows:
                if (is_array) {
                    error(here(), "expected a line (an object) or null, found array");
                }
                role = Role::Line;
                break;
            case Role::Line:
                role = line_field_container(p, is_array);
                break;
            case Role::LineList:
                if (is_array) {
                    error(here(), "expected a line (an object), found array");
                }
                role = Role::Line;
                break;
            case Role::Relations:
                entry_ = RelationEntry{};
                if (is_array) {
                    role = Role::RelationEntry;
                } else {
                    relation_shape_fault(p.index);
                }
                break;
            case Role::RelationEntry:
                if (entry_.size < 3) {
                    entry_.type[static_cast<size_t>(entry_.size)] = type;
                }
                ++entry_.size;
                break;
            case Role::Skip:
                break;
        }
    }
    if (depth_ == frames_.size()) {
        frames_.emplace_back();
    }
    frames_[depth_++].open(is_array, role, dom);
    return true;
}

bool Loader::end() {
    Frame& f = top();
    switch (f.role) {
        case Role::ObjectEntry:
            end_object_entry();
            break;
        case Role::AttributeList:
            list_.count = static_cast<uint32_t>(site_->text_lists.size()) - list_.text;
            attributes_.push_back({intern(below(1).key), list_});
            break;
        case Role::RefList:
            refs_.count = static_cast<uint32_t>(site_->ref_targets.size()) - refs_.offset;
            site_->named_refs.push_back(refs_);
            ++object_.refs_count;
            break;
        case Role::Line:
            end_line(f);
            break;
        case Role::RelationEntry:
            end_relation(below(1).index);
            break;
        default:
            break;
    }
    --depth_;
    return true;
}

void Loader::on_key(const std::string& key) {
    Frame& f = top();
    f.key = key;
    f.keyed = true;
    if (f.role == Role::Objects || f.role == Role::Windows) {
        // Ids are interned anyway; a flag per interned string finds a repeated key of a
        // million entries without a set of their texts.
        f.key_id = intern(key);
        const uint8_t bit = f.role == Role::Objects ? 1 : 2;
        if (seen_keys_.size() <= f.key_id) {
            seen_keys_.resize(std::max<size_t>(f.key_id + 1, seen_keys_.size() * 2), 0);
        }
        if ((seen_keys_[f.key_id] & bit) != 0) {
            error(here(), "duplicate id " + qtext(key));
        }
        seen_keys_[f.key_id] |= bit;
        if (f.role == Role::Windows && key.find('\0') != std::string::npos) {
            error(here(), text_id_fault(key));
        }
        return;
    }
    if (!f.keys.insert(key)) {
        error(here(), "duplicate field " + qtext(key));
    }
    if (f.role == Role::Attributes && (key == "object_name" || key == "object_type" || key == "item_id")) {
        note(&object_fault_,
             "expected an attribute name other than object_name, object_type and item_id (use the fields "
             "name and item_id)");
    } else if (f.role == Role::Refs && (key.empty() || key.size() > 32)) {
        note(&object_fault_, "expected a reference name of 1 to 32 characters");
    }
}

// Adds a value to the JSON value a frame builds. Keys are unique (duplicates are refused
// as they come), so a member is appended without the look-up of its key, which an ordered
// object makes by walking its members.
ojson& Loader::insert(Frame& p, ojson&& value) {
    if (p.dom->is_array()) {
        p.dom->push_back(std::move(value));
        return p.dom->back();
    }
    ojson::object_t::Container& members = p.dom->get_ref<ojson::object_t&>();
    members.emplace_back(p.key, std::move(value));
    return members.back().second;
}

bool Loader::scalar(const Scalar& v) {
    if (depth_ == 0) {
        root_ = v.json();  // a scalar document; refused in finish()
        return true;
    }
    Frame& f = top();
    if (f.is_array) {
        ++f.index;
    }
    switch (f.role) {
        case Role::Root:
        case Role::Dom:
            insert(f, v.json());
            break;
        case Role::Objects:
            error(here(), "expected an object" + found(v.type_name()));
        case Role::ObjectEntry:
            object_field(f.key, v);
            break;
        case Role::Attributes:
            attributes_.push_back({intern(f.key), attribute_value(v)});
            break;
        case Role::AttributeList:
            if (v.is_text()) {
                site_->text_lists.push_back(value_text(*v.text));
            } else if (v.kind == Scalar::Null) {
                site_->text_lists.push_back(kNone);
            } else {
                note(&object_fault_, "expected a text or null" + found(v.type_name()));
            }
            break;
        case Role::Refs:
            note(&object_fault_, "expected a list of ids" + found(v.type_name()));
            break;
        case Role::RefList:
            note(&object_fault_, id_fault(v.type_name(), v.is_text() ? v.text : nullptr));
            if (v.is_text()) {
                site_->ref_targets.push_back(intern(*v.text));
            }
            break;
        case Role::Windows:
            if (v.kind != Scalar::Null) {
                error(here(), "expected a line (an object) or null" + found(v.type_name()));
            }
            windows_.push_back({f.key_id, kNone});
            break;
        case Role::Line:
            line_field(f, v);
            break;
        case Role::LineList:
            error(here(), "expected a line (an object)" + found(v.type_name()));
        case Role::Relations:
            relation_shape_fault(f.index);
            break;
        case Role::RelationEntry:
            if (entry_.size < 3) {
                const auto k = static_cast<size_t>(entry_.size);
                entry_.type[k] = v.type_name();
                if (v.is_text()) {
                    entry_.text[k] = intern(*v.text);
                    entry_.length[k] = v.text->size();
                }
            }
            ++entry_.size;
            break;
        case Role::Skip:
            break;
    }
    return true;
}

// --- lines ------------------------------------------------------------------------------------------

void Loader::line_field(Frame& f, const Scalar& v) {
    const std::string& k = f.key;
    const std::string* text = v.is_text() ? v.text : nullptr;
    if (k == "id" || k == "revision") {
        note(&f.fault, id_fault(v.type_name(), text));
        if (text != nullptr) {
            (k == "id" ? f.line.id : f.line.revision_id) = intern(*text);
            f.has_revision = f.has_revision || k == "revision";
        }
    } else if (k == "occurrence_name") {
        if (text != nullptr) {
            f.line.occurrence_name = value_text(*text);
        } else {
            note(&f.fault, "expected a text" + found(v.type_name()));
        }
    } else if (k == "transform") {
        f.has_transform = true;
        if (text != nullptr) {
            f.line.transform = value_text(*text);
        } else if (v.kind != Scalar::Null) {
            note(&f.fault, "expected a text or null" + found(v.type_name()));
        }
    } else if (k == "jt") {
        if (v.kind != Scalar::Null) {
            note(&f.fault, id_fault(v.type_name(), text));
            if (text != nullptr) {
                f.line.jt_id = intern(*text);
            }
        }
    } else if (k == "children" || k == "packed") {
        note(&f.fault, "expected a list of lines" + found(v.type_name()));
    } else {
        note(&f.fault, kLineFields);
    }
}

Role Loader::line_field_container(Frame& f, bool is_array) {
    const std::string& k = f.key;
    const char* type = is_array ? "array" : "object";
    if (k == "children" || k == "packed") {
        if (is_array) {
            return Role::LineList;
        }
        note(&f.fault, "expected a list of lines" + found(type));
    } else if (k == "id" || k == "revision" || k == "jt") {
        note(&f.fault, id_fault(type, nullptr));
    } else if (k == "occurrence_name") {
        note(&f.fault, "expected a text" + found(type));
    } else if (k == "transform") {
        note(&f.fault, "expected a text or null" + found(type));
    } else {
        note(&f.fault, kLineFields);
    }
    return Role::Skip;
}

void Loader::end_line(Frame& f) {
    if (!f.fault.empty()) {
        throw LoadError(f.fault);
    }
    Site& st = *site_;
    Line& line = f.line;
    if (line.id == kNone) {
        error(at_top(), "missing required field \"id\" (expected a text)");
    }
    if (!f.has_revision) {
        error(at_top(), "missing required field \"revision\" (expected the id of an ItemRevision)");
    }
    if (line.occurrence_name == kNone) {
        line.occurrence_name = st.strings.intern("");
    }
    if (!f.has_transform) {
        line.transform = st.identity_text;
    }
    line.child_offset = static_cast<uint32_t>(st.line_pool.size());
    line.child_count = static_cast<uint32_t>(f.children.size());
    st.line_pool.insert(st.line_pool.end(), f.children.begin(), f.children.end());
    line.packed_offset = static_cast<uint32_t>(st.line_pool.size());
    line.packed_count = static_cast<uint32_t>(f.packed.size());
    st.line_pool.insert(st.line_pool.end(), f.packed.begin(), f.packed.end());

    const auto index = static_cast<uint32_t>(st.lines.size());
    st.lines.push_back(line);
    Frame& parent = below(1);
    if (parent.role == Role::Windows) {
        windows_.push_back({parent.key_id, index});
    } else {
        Frame& owner = below(2);  // the line whose children/packed list this is
        (owner.key == "children" ? owner.children : owner.packed).push_back(index);
    }
}

// --- objects ----------------------------------------------------------------------------------------

void Loader::begin_object(const Frame& objects) {
    object_ = Object{};
    object_.id = objects.key_id;
    object_.refs_offset = static_cast<uint32_t>(site_->named_refs.size());
    fields_ = ObjectFields{};
    name_ = Value{};
    item_id_ = Value{};
    attributes_.clear();
    object_fault_.clear();
    note(&object_fault_, text_id_fault(objects.key));
}

void Loader::object_field(const std::string& k, const Scalar& v) {
    const std::string* text = v.is_text() ? v.text : nullptr;
    if (k == "type") {
        if (text != nullptr) {
            object_.type_name = intern(*text);
        } else {
            note(&object_fault_, "expected a type name" + found(v.type_name()));
        }
    } else if (k == "name") {
        if (text != nullptr) {
            name_.text = value_text(*text);
        } else if (v.kind != Scalar::Null) {
            note(&object_fault_, "expected a text or null" + found(v.type_name()));
        }
    } else if (k == "item_id") {
        fields_.item_id = true;
        if (text != nullptr) {
            item_id_.text = value_text(*text);
        } else {
            note(&object_fault_, "expected a text" + found(v.type_name()));
        }
    } else if (k == "attributes") {
        note(&object_fault_, "expected an object of attributes" + found(v.type_name()));
    } else if (k == "refs") {
        fields_.refs = true;
        note(&object_fault_, "expected an object of named references" + found(v.type_name()));
    } else if (k == "version0") {
        fields_.version0 = true;
        note(&object_fault_, id_fault(v.type_name(), text));
        if (text != nullptr) {
            object_.version0_id = intern(*text);
        }
    } else {
        note(&object_fault_, kObjectFields);
    }
}

Role Loader::object_field_container(const std::string& k, bool is_array) {
    const char* type = is_array ? "array" : "object";
    if (k == "attributes" && !is_array) {
        return Role::Attributes;
    }
    if (k == "refs") {
        fields_.refs = true;
        if (!is_array) {
            return Role::Refs;
        }
        note(&object_fault_, "expected an object of named references" + found(type));
    } else if (k == "type") {
        note(&object_fault_, "expected a type name" + found(type));
    } else if (k == "name") {
        note(&object_fault_, "expected a text or null" + found(type));
    } else if (k == "item_id") {
        note(&object_fault_, "expected a text" + found(type));
    } else if (k == "attributes") {
        note(&object_fault_, "expected an object of attributes" + found(type));
    } else if (k == "version0") {
        note(&object_fault_, id_fault(type, nullptr));
    } else {
        note(&object_fault_, kObjectFields);
    }
    return Role::Skip;
}

Value Loader::attribute_value(const Scalar& x) {
    Value value;
    if (x.is_number()) {
        value.kind = Msg::Double;
        value.number = x.as_double();
    } else if (x.is_text()) {
        value.kind = Msg::String;
        value.text = value_text(*x.text);
    } else if (x.kind == Scalar::Boolean) {
        value.kind = Msg::Logical;
        value.flag = x.flag;
    } else {
        value.kind = Msg::String;  // null
    }
    return value;
}

void Loader::end_object_entry() {
    if (!object_fault_.empty()) {
        throw LoadError(object_fault_);
    }
    Site& st = *site_;
    if (object_.type_name == kNone) {
        error(at_top(), "missing required field \"type\" (expected a type name)");
    }
    // object_name first, then item_id (revisions), then the site's attributes in file order.
    object_.attribute_offset = static_cast<uint32_t>(st.attributes.size());
    st.attributes.push_back({st.p_object_name, name_});
    if (fields_.item_id) {
        st.attributes.push_back({st.p_item_id, item_id_});
    }
    st.attributes.insert(st.attributes.end(), attributes_.begin(), attributes_.end());
    object_.attribute_count = static_cast<uint32_t>(st.attributes.size()) - object_.attribute_offset;
    st.objects.push_back(object_);
    object_fields_.push_back(fields_);
}

// --- relations ----------------------------------------------------------------------------------------

// Relations are checked after the sections before them in the checks' order; the first fault
// is kept until then.
void Loader::relation_shape_fault(long index) {
    if (relation_fault_.empty()) {
        relation_fault_ = message("$.relations" + index_segment(index),
                                  "expected [primary id, relation type name, secondary id]");
    }
}

void Loader::end_relation(long index) {
    if (!relation_fault_.empty()) {
        return;
    }
    const std::string at = "$.relations" + index_segment(index);
    if (entry_.size != 3) {
        relation_shape_fault(index);
        return;
    }
    auto id_fault_at = [&](size_t k) {
        const bool text = std::strcmp(entry_.type[k], "string") == 0;
        const std::string what =
            text ? text_id_fault(site_->strings.str(entry_.text[k])) : kAnId + found(entry_.type[k]);
        if (!what.empty()) {
            relation_fault_ = message(at + index_segment(static_cast<long>(k)), what);
        }
        return !what.empty();
    };
    if (id_fault_at(0)) {
        return;
    }
    if (std::strcmp(entry_.type[1], "string") != 0) {
        relation_fault_ = message(at + "[1]", "expected a relation type name" + found(entry_.type[1]));
        return;
    }
    if (entry_.length[1] == 0 || entry_.length[1] > 32) {
        relation_fault_ = message(at + "[1]", "expected a relation type name of 1 to 32 characters");
        return;
    }
    if (id_fault_at(2)) {
        return;
    }
    relations_.push_back({entry_.text[0], entry_.text[1], entry_.text[2]});
}

}  // namespace standin::detail::site_loading
