// Bounding boxes: the box a dataset carries in its "VAR2BBInfo" form, the visualisation mark of
// its "VAR2TypeInfo" form, and the box of a BOM line chosen from its datasets.
//
// A line's box comes either from the one representation dataset that the mod-on and alternative
// representation rules pick (when the line has 3D geometry datasets) or from the union of its
// auxiliary geometry and product structure datasets (when it has none). The two ways are never
// mixed: a line with 3D geometry datasets whose representation gives no box has no box.
#include <string.h>

#include <cmath>

#include "base/kep_observer.h"
#include "base/kep_status.h"
#include "geometry/kep_geometry.h"
#include "kep_mem.h"
#include "kep_trace.h"
#include "lookup/kep_lookup.h"
#include "lookup/kep_lookup_memo.h"
#include "lookup/kep_memo.h"
#include "modon/kep_modon.h"

namespace {

using kep::kNoMemory;

// ---- Through the call memo ---------------------------------------------------------------------
// A dataset's box and visualisation mark, asked once per call: each stands for the function named,
// with the same statuses and the same error-stack state.

// The box of a dataset as kept: whether it has one, and the box.
struct KeptBox {
    bool present;
    kep_bbox_t box;
};
// Whether a dataset is a visualisation dataset, as kept.
struct KeptMark {
    bool is_visu;
};
const kep::Topic<KeptBox> kBoxTopic{kep::TopicId::Box};
const kep::Topic<KeptMark> kVisualisationTopic{kep::TopicId::Visualisation};

// kep_get_bbox_for_dataset (a box handed out is a new MEM_alloc block, as there).
int ask_bbox_for_dataset(tag_t dataset, kep::MemPtr<kep_bbox_t>& box) {
    return kep::ask_through(
        kBoxTopic, dataset, nullptr, nullptr, [&] { return kep_get_bbox_for_dataset(dataset, box.out()); },
        [&](const KeptBox& kept) {
            box.reset(kept.present ? kep::mem_alloc_array<kep_bbox_t>(1) : nullptr);
            if (kept.present && !box) {
                return kNoMemory;  // as the lookup itself reports it
            }
            if (box) {
                *box.get() = kept.box;
            }
            return 0;
        },
        [&](kep::CallMemo&) {
            return kep::Keep<KeptBox>::record(
                KeptBox{static_cast<bool>(box), box ? *box.get() : kep_bbox_t{0, 0, 0, 0, 0, 0}});
        });
}

// kep_is_visu_dataset.
int ask_is_visu_dataset(tag_t dataset, int* is_visu) {
    return kep::ask_through(
        kVisualisationTopic, dataset, nullptr, nullptr, [&] { return kep_is_visu_dataset(dataset, is_visu); },
        [&](const KeptMark& kept) {
            *is_visu = kept.is_visu ? 1 : 0;
            return 0;
        },
        [&](kep::CallMemo&) { return kep::Keep<KeptMark>::record(KeptMark{*is_visu != 0}); });
}

// ---- Boxes ---------------------------------------------------------------------------------------

// The one form behind a named reference of a dataset; null when there is none, several or a null
// reference, and after a failure.
tag_t single_form(tag_t dataset_tag, const char* statement, const char* reference_name, kep::Step& step) {
    // Asked once per dataset and search: the dataset's box and mark are what the call keeps.
    int count_refs = 0;
    kep::MemPtr<tag_t> refs;
    step.call(statement, [&] {
        return AE_ask_all_dataset_named_refs(dataset_tag, reference_name, &count_refs, refs.out());
    });
    if (step.ok()) {
        kep::observe_forms(dataset_tag, reference_name, refs.get(), count_refs);
    }
    if (!step.ok() || count_refs != 1 || !refs) {
        return NULLTAG;
    }
    return refs[0];
}

// The frame of the two readers of a dataset's form: the function's trace, and read(form_tag, step)
// on the one form behind the named reference; without one, the status so far.
template <class Read>
int read_single_form(const char* function, tag_t dataset_tag, const char* statement,
                     const char* reference_name, Read&& read) {
    kep::FunctionTrace trace(function);
    kep::Step step;
    const tag_t form_tag = single_form(dataset_tag, statement, reference_name, step);
    return form_tag == NULLTAG ? step.status() : read(form_tag, step);
}

void merge_into(kep_bbox_t* result, const kep_bbox_t& box) {
    result->x1 = box.x1 < result->x1 ? box.x1 : result->x1;
    result->y1 = box.y1 < result->y1 ? box.y1 : result->y1;
    result->z1 = box.z1 < result->z1 ? box.z1 : result->z1;
    result->x2 = box.x2 > result->x2 ? box.x2 : result->x2;
    result->y2 = box.y2 > result->y2 ? box.y2 : result->y2;
    result->z2 = box.z2 > result->z2 ? box.z2 : result->z2;
}

// The statement texts of one dataset set on the collection way.
struct CollectionSet {
    const char* is_visu_statement;
    const char* bbox_statement;
};

// Merges the boxes of the datasets into *result (null until the first box), leaving out
// visualisation datasets and datasets without a box.
void collect_boxes(const tag_t* datasets, int count, const CollectionSet& set,
                   kep::MemPtr<kep_bbox_t>& result, kep::Step& step) {
    for (int i = 0; i < count && step.ok(); ++i) {
        const tag_t dataset_tag = datasets[i];
        int is_visu = 0;
        step.call(set.is_visu_statement, [&] { return ask_is_visu_dataset(dataset_tag, &is_visu); });
        if (!step.ok()) {
            break;
        }
        if (is_visu != 0) {
            kep_log("ignoring visualisation dataset");
            kep::observe_visualisation(dataset_tag);
            continue;
        }
        kep::MemPtr<kep_bbox_t> act_bb;
        step.call(set.bbox_statement, [&] { return ask_bbox_for_dataset(dataset_tag, act_bb); });
        if (!act_bb) {
            continue;
        }
        if (!result) {
            result.reset(act_bb.release());
        } else {
            merge_into(result.get(), *act_bb.get());
        }
    }
}

// The representation way, as a line's box takes it: a missing preference or a failed call leaves
// nothing picked (and no box), and the search goes on.
const kep::RepresentationPolicy kBoxRepresentation = {
    "kep_get_modon_for_bomline(line, relation_modon_3dgeo, type_modon_3dgeo, &mod_on_host_tag, "
    "&datasets_mod_on, &count_datasets_mod_on)",
    nullptr, "kep_filter_alt_rep_for_dataset(datasets_part, count_datasets_part, &part_tag)",
    kep::RepresentationFailures::NothingPicked, true};

// The six values of a "VAR2BBInfo" form into a new box (*bbox), unless one cannot be read or is
// not a finite number.
int read_box(tag_t dataset_tag, tag_t form_tag, kep_bbox_t** bbox, kep::Step& step) {
    kep::MemPtr<kep_bbox_t> box(kep::mem_alloc_array<kep_bbox_t>(1));
    if (!box) {
        return kNoMemory;
    }
    struct Value {
        const char* attribute;
        const char* statement;
        double kep_bbox_t::*field;
    };
#define KEP_BB_VALUE(name)                                                                                \
    {                                                                                                     \
        "var2_bb_" #name, "AOM_ask_value_double(form_tag, \"var2_bb_" #name "\", &((*bbox)->" #name "))", \
            &kep_bbox_t::name                                                                             \
    }
    static const Value kValues[] = {KEP_BB_VALUE(x1), KEP_BB_VALUE(y1), KEP_BB_VALUE(z1),
                                    KEP_BB_VALUE(x2), KEP_BB_VALUE(y2), KEP_BB_VALUE(z2)};
#undef KEP_BB_VALUE
    for (const Value& value : kValues) {
        double* slot = &(box.get()->*value.field);
        if (step.call(value.statement,
                      [&] { return AOM_ask_value_double(form_tag, value.attribute, slot); }) != 0) {
            kep::observe_unreadable_form(dataset_tag, value.attribute);
            return step.status();  // the half-read box is released by its owner
        }
    }
    // A NaN or infinite value gives a box that nothing can be compared with: the dataset counts as
    // having no box, so its line is never found and finds nothing.
    const kep_bbox_t& b = *box.get();
    const double values[6] = {b.x1, b.y1, b.z1, b.x2, b.y2, b.z2};
    if (!(std::isfinite(b.x1) && std::isfinite(b.y1) && std::isfinite(b.z1) && std::isfinite(b.x2) &&
          std::isfinite(b.y2) && std::isfinite(b.z2))) {
        kep_log("ignoring box with a value that is not a finite number\n");
        kep::observe_not_finite(dataset_tag, values);
        return step.status();
    }
    kep::observe_dataset_box(dataset_tag, values);
    *bbox = box.release();
    return step.status();
}

}  // namespace

extern "C" int kep_is_visu_dataset(tag_t dataset_tag, int* is_visu) {
    *is_visu = 0;
    return read_single_form(
        "kep_is_visu_dataset", dataset_tag,
        "AE_ask_all_dataset_named_refs(dataset_tag, \"VAR2TypeInfo\", &count_refs, &refs)", "VAR2TypeInfo",
        [&](tag_t form_tag, kep::Step& step) {
            kep::MemPtr<char> type;
            step.call("AOM_ask_value_string(form_tag, \"var2_type\", &type)",
                      [&] { return AOM_ask_value_string(form_tag, "var2_type", type.out()); });
            if (step.ok() && type && strcmp(type.get(), "VISUALIZATION") == 0) {
                *is_visu = 1;
            }
            return step.status();
        });
}

extern "C" int kep_get_bbox_for_dataset(tag_t dataset_tag, kep_bbox_t** bbox) {
    *bbox = nullptr;
    return read_single_form(
        "kep_get_bbox_for_dataset", dataset_tag,
        "AE_ask_all_dataset_named_refs(dataset_tag, \"VAR2BBInfo\", &count_refs, &refs)", "VAR2BBInfo",
        [&](tag_t form_tag, kep::Step& step) { return read_box(dataset_tag, form_tag, bbox, step); });
}

extern "C" int kep_get_bbox_for_bomline(tag_t line, kep_bbox_t** bbox) {
    kep::FunctionTrace trace("kep_get_bbox_for_bomline");
    kep::Step step;
    *bbox = nullptr;
    kep::observe_box_begin(line);

    kep::MemPtr<tag_t> datasets_part;
    int count_datasets_part = 0;
    step.call("kep_get_3dgeo_for_bomline(line,&datasets_part,&count_datasets_part)",
              [&] { return kep_get_3dgeo_for_bomline(line, datasets_part.out(), &count_datasets_part); });

    kep::observe_box_path(
        line, step.ok() && count_datasets_part > 0 ? kep::BoxPath::Representation : kep::BoxPath::Collection);
    kep::MemPtr<kep_bbox_t> result;
    if (step.ok() && count_datasets_part > 0) {
        const tag_t part_tag =
            kep::pick_representation(line, datasets_part.get(), count_datasets_part, kBoxRepresentation, step)
                .dataset;
        if (part_tag != NULLTAG) {
            step.call("kep_get_bbox_for_dataset(part_tag,bbox)",
                      [&] { return ask_bbox_for_dataset(part_tag, result); });
        }
    } else if (step.ok()) {
        static const CollectionSet kAux = {"kep_is_visu_dataset(aux_tag,&isVisu)",
                                           "kep_get_bbox_for_dataset(aux_tag,&act_bb)"};
        static const CollectionSet kStructure = {"kep_is_visu_dataset(structure_tag,&isVisu)",
                                                 "kep_get_bbox_for_dataset(structure_tag,&act_bb)"};
        kep::MemPtr<tag_t> datasets_aux;
        int count_datasets_aux = 0;
        step.call("kep_get_auxgeo_for_bomline(line,&datasets_aux,&count_datasets_aux)",
                  [&] { return kep_get_auxgeo_for_bomline(line, datasets_aux.out(), &count_datasets_aux); });
        collect_boxes(datasets_aux.get(), count_datasets_aux, kAux, result, step);

        kep::MemPtr<tag_t> datasets_structure;
        int count_datasets_structure = 0;
        step.call("kep_get_structure_for_bomline(line,&datasets_structure,&count_datasets_structure)", [&] {
            return kep_get_structure_for_bomline(line, datasets_structure.out(), &count_datasets_structure);
        });
        collect_boxes(datasets_structure.get(), count_datasets_structure, kStructure, result, step);
    }

    // A lookup that failed hands back no box, not a partial union.
    if (step.ok()) {
        *bbox = result.release();
    }
    if (kep::observer() != nullptr) {
        const kep_bbox_t* b = *bbox;
        const double values[6] = {b ? b->x1 : 0, b ? b->y1 : 0, b ? b->z1 : 0,
                                  b ? b->x2 : 0, b ? b->y2 : 0, b ? b->z2 : 0};
        kep::observe_box_end(line, b != nullptr ? values : nullptr);
    }
    return step.status();
}
