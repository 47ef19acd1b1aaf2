// Structure and relations: BOM windows and lines, dataset named references and version-0
// datasets, generic relations.
#include <ae/dataset.h>
#include <bom/bom.h>
#include <tccore/grm.h>

#include <cstring>

#include "state.h"

using namespace standin;
using namespace standin::detail;

namespace {

// Checks that a tag names something of the wanted kind; pushes the failure otherwise.
int expect_kind(Op op, tag_t tag, Kind kind, const char* what) {
    const TagRec& r = site().rec(tag);
    if (r.kind == Kind::None) {
        return fail(op, kErrUnknownTag, describe(tag) + " names nothing");
    }
    if (r.kind != kind) {
        return fail(op, kErrWrongKind, describe(tag) + " is no " + what);
    }
    return ITK_ok;
}

// The object of a tag that must be a dataset.
int expect_dataset(Op op, tag_t dataset, const Object** object) {
    if (int status = expect_kind(op, dataset, Kind::Object, "dataset")) {
        return status;
    }
    const Site& st = site();
    const Object& o = st.objects[st.rec(dataset).index];
    if (st.types[o.type].cls != kDataset) {
        return fail(op, kErrWrongKind, describe(dataset) + " is no dataset");
    }
    *object = &o;
    return ITK_ok;
}

// Hands out a copy of a tag list as one block; null for an empty list.
tag_t* tag_block(const tag_t* tags, size_t n) {
    if (n == 0) {
        return nullptr;
    }
    auto* block = static_cast<tag_t*>(alloc_block(n * sizeof(tag_t)));
    std::memcpy(block, tags, n * sizeof(tag_t));
    return block;
}

int line_list(Op op, tag_t line, int* count, tag_t** list, bool packed) {
    return run_op(op, line, NULLTAG, [&] {
        if (count == nullptr || list == nullptr) {
            return fail(op, kErrNullArgument, "an output pointer is null");
        }
        if (int status = expect_kind(op, line, Kind::Line, "BOM line")) {
            return status;
        }
        const Site& st = site();
        const Line& l = st.lines[st.rec(line).index];
        const uint32_t offset = packed ? l.packed_offset : l.child_offset;
        const uint32_t n = packed ? l.packed_count : l.child_count;
        *list = tag_block(st.line_pool.data() + offset, n);
        *count = static_cast<int>(n);
        return ITK_ok;
    });
}

// The attribute read behind BOM_line_ask_attribute_*: the same read as AOM_ask_value_* of the
// attribute's name, so methods registered on the line properties answer here as well.
int line_attribute_read(Op op, tag_t line, int attribute, Msg msg, Slot* slot) {
    if (int status = expect_kind(op, line, Kind::Line, "BOM line")) {
        return status;
    }
    const int index = attribute - kLineAttributeIdBase;
    if (index < 0 || index >= 7) {
        return fail(op, kErrNoSuchAttribute,
                    "attribute id " + std::to_string(attribute) + " names no attribute");
    }
    return read_property(op, line, kLineAttributeNames[index], msg, slot);
}

// One line attribute read as the value of `field` of its slot; `none` after a failure.
template <class T>
int line_attribute_value(Op op, tag_t bom_line, int attribute, Msg msg, T Slot::*field, T none, T* value) {
    return run_op(op, bom_line, NULLTAG, [&] {
        if (value == nullptr) {
            return fail(op, kErrNullArgument, "the value pointer is null");
        }
        Slot slot;
        const int status = line_attribute_read(op, bom_line, attribute, msg, &slot);
        *value = status == ITK_ok ? slot.*field : none;
        return status;
    });
}

}  // namespace

extern "C" {

int BOM_ask_window_top_line(tag_t window, tag_t* top_bom_line) {
    const Op op = Op::BOM_ask_window_top_line;
    return run_op(op, window, NULLTAG, [&] {
        if (top_bom_line == nullptr) {
            return fail(op, kErrNullArgument, "the line pointer is null");
        }
        if (int status = expect_kind(op, window, Kind::Window, "BOM window")) {
            return status;
        }
        *top_bom_line = site().windows[site().rec(window).index].top;
        return ITK_ok;
    });
}

int BOM_line_ask_child_lines(tag_t bom_line, int* count, tag_t** children) {
    return line_list(Op::BOM_line_ask_child_lines, bom_line, count, children, false);
}

int BOM_line_ask_packed_lines(tag_t bom_line, int* count, tag_t** packed) {
    return line_list(Op::BOM_line_ask_packed_lines, bom_line, count, packed, true);
}

int BOM_line_look_up_attribute(const char* attribute_name, int* attribute) {
    const Op op = Op::BOM_line_look_up_attribute;
    return run_op(op, NULLTAG, NULLTAG, [&] {
        if (attribute_name == nullptr || attribute == nullptr) {
            return fail(op, kErrNullArgument, "a required argument is null");
        }
        for (int i = 0; i < 7; ++i) {
            if (std::strcmp(attribute_name, kLineAttributeNames[i]) == 0) {
                *attribute = kLineAttributeIdBase + i;
                return ITK_ok;
            }
        }
        return fail(op, kErrNoSuchAttribute, "no line attribute \"" + std::string(attribute_name) + "\"");
    });
}

int BOM_line_ask_attribute_tag(tag_t bom_line, int attribute, tag_t* value) {
    return line_attribute_value(Op::BOM_line_ask_attribute_tag, bom_line, attribute, Msg::Tag, &Slot::tag,
                                tag_t{NULLTAG}, value);
}

int BOM_line_ask_attribute_string(tag_t bom_line, int attribute, char** value) {
    return line_attribute_value<char*>(Op::BOM_line_ask_attribute_string, bom_line, attribute, Msg::String,
                                       &Slot::text, nullptr, value);
}

int AE_ask_all_dataset_named_refs(tag_t dataset, const char reference_name[AE_reference_size_c + 1],
                                  int* nFound, tag_t** referenced_object) {
    const Op op = Op::AE_ask_all_dataset_named_refs;
    return run_op(op, dataset, NULLTAG, [&] {
        if (reference_name == nullptr || nFound == nullptr || referenced_object == nullptr) {
            return fail(op, kErrNullArgument, "a required argument is null");
        }
        const Object* dataset_object = nullptr;
        if (int status = expect_dataset(op, dataset, &dataset_object)) {
            return status;
        }
        const Site& st = site();
        const Object& o = *dataset_object;
        *nFound = 0;
        *referenced_object = nullptr;
        const uint32_t name =
            st.strings.find(std::string(reference_name, strnlen(reference_name, AE_reference_size_c)));
        for (const NamedRefs& refs : st.refs_of(o)) {
            if (refs.name == name) {
                const Range<tag_t> targets = st.targets_of(refs);
                *referenced_object = tag_block(targets.begin(), targets.size());
                *nFound = static_cast<int>(targets.size());
            }
        }
        return ITK_ok;
    });
}

int AE_ask_dataset(tag_t dataset, tag_t* last_dataset) {
    const Op op = Op::AE_ask_dataset;
    return run_op(op, dataset, NULLTAG, [&] {
        if (last_dataset == nullptr) {
            return fail(op, kErrNullArgument, "the dataset pointer is null");
        }
        const Object* dataset_object = nullptr;
        if (int status = expect_dataset(op, dataset, &dataset_object)) {
            return status;
        }
        *last_dataset = dataset_object->version0;
        return ITK_ok;
    });
}

int GRM_find_relation_type(const char* relation_type_name, tag_t* relation_type) {
    const Op op = Op::GRM_find_relation_type;
    return run_op(op, NULLTAG, NULLTAG, [&] {
        if (relation_type_name == nullptr || relation_type == nullptr) {
            return fail(op, kErrNullArgument, "a required argument is null");
        }
        const Site& st = site();
        const uint32_t name = st.strings.find(relation_type_name);
        *relation_type = NULLTAG;  // an unknown name is no failure
        for (const RelationType& r : st.relation_types) {
            if (r.name == name) {
                *relation_type = r.tag;
            }
        }
        return ITK_ok;
    });
}

int GRM_list_secondary_objects_only(tag_t primary_object, tag_t relation_type, int* count,
                                    tag_t** secondary_objects) {
    const Op op = Op::GRM_list_secondary_objects_only;
    return run_op(op, primary_object, NULLTAG, [&] {
        if (count == nullptr || secondary_objects == nullptr) {
            return fail(op, kErrNullArgument, "an output pointer is null");
        }
        if (int status = expect_kind(op, primary_object, Kind::Object, "workspace object")) {
            return status;
        }
        if (relation_type != NULLTAG) {
            if (int status = expect_kind(op, relation_type, Kind::RelationType, "relation type")) {
                return status;
            }
        }
        const Site& st = site();
        const Object& o = st.objects[st.rec(primary_object).index];
        std::vector<tag_t> found;
        for (uint32_t i = 0; i < o.relation_count; ++i) {
            const Relation& r = st.relations[o.relation_offset + i];
            if (relation_type == NULLTAG || r.type == relation_type) {
                found.push_back(r.secondary);
            }
        }
        *secondary_objects = tag_block(found.data(), found.size());
        *count = static_cast<int>(found.size());
        return ITK_ok;
    });
}

}  // extern "C"
