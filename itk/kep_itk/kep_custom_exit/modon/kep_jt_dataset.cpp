// The JT dataset tag value of a line: the "JTPART" reference of the rendering dataset that
// belongs to the representation the site prefers.
#include <string.h>

#include "kep_mem.h"
#include "kep_trace.h"
#include "lookup/kep_lookup.h"
#include "lookup/kep_lookup_memo.h"
#include "lookup/kep_memo.h"
#include "modon/kep_modon.h"

namespace {

bool is_text(const char* s) { return s != nullptr && s[0] != '\0'; }

// The representation way, as the JT dataset tag takes it: a missing preference leaves the value as
// it was, and a dataset the filter hands back counts even with a failing status.
const kep::RepresentationPolicy kJtRepresentation = {
    "kep_get_modon_for_bomline(bomline_object_tag,relation_modon_3dgeo,type_modon_3dgeo, "
    "&mod_on_host_tag, "
    "&datasets_mod_on, &count_datasets_mod_on)",
    "kep_get_3dgeo_for_bomline(bomline_object_tag, &datasets_3dgeo,&count_datasets_3dgeo)",
    "kep_filter_alt_rep_for_dataset(datasets_3dgeo, count_datasets_3dgeo, &dataset_3dgeo_tag)",
    kep::RepresentationFailures::StopAtMissingPreference, false};

int ask_jt_ds_tag(tag_t object_tag, tag_t* value) {
    kep::FunctionTrace trace("kep_bl_ask_jt_ds_tag");
    if (object_tag == NULLTAG || value == nullptr) {
        kep::clear_errors();
        return 0;
    }
    const tag_t bomline_object_tag = object_tag;
    kep::Step step;

    // The representation: a mod-on dataset of the host when the line has one (no fallback to the
    // line's own geometry when the filter then picks nothing), else one of the line's 3D geometry
    // datasets. The carrier is the line whose revision holds the rendering datasets.
    const kep::Representation picked =
        kep::pick_representation(bomline_object_tag, nullptr, 0, kJtRepresentation, step);
    if (picked.stop) {
        return step.status();
    }
    const tag_t dataset_tag = picked.dataset;
    const tag_t bomline_for_dataset_tag = picked.carrier;

    if (dataset_tag != NULLTAG) {
        // A representation was picked: the value is its rendering reference or nothing.
        *value = NULLTAG;
        kep::Text dataset_name;
        step.call("AOM_ask_value_string(dataset_tag, \"object_name\", &dataset_name)",
                  [&] { return kep::ask_value_string(dataset_tag, "object_name", dataset_name); });
        if (is_text(dataset_name.get()) && step.ok()) {
            tag_t direct_model_tag = NULLTAG;
            step.call("kep_get_direct_model(bomline_for_dataset_tag, dataset_name, &direct_model_tag)", [&] {
                return kep_get_direct_model(bomline_for_dataset_tag, dataset_name.get(), &direct_model_tag);
            });
            if (direct_model_tag != NULLTAG) {
                *value = direct_model_tag;
            }
        }
    } else {
        // Nothing picked (also after a failure): an assembly, known by its structure datasets,
        // shows no JT of its own; any other line keeps the value it came with. The lookup only
        // decides between the two, so its status is not passed on and a failure counts as none.
        kep::MemPtr<tag_t> datasets_structure;
        int count_datasets_structure = 0;
        (void)kep_get_structure_for_bomline(bomline_object_tag, datasets_structure.out(),
                                            &count_datasets_structure);
        if (count_datasets_structure > 0) {
            *value = NULLTAG;
        }
    }

    kep::clear_errors();
    return step.status();
}

int get_direct_model(tag_t bom_line_tag, const char* dataset_name, tag_t* direct_model_tag) {
    kep::FunctionTrace trace("kep_get_direct_model");
    if (direct_model_tag == nullptr) {
        return 0;
    }
    *direct_model_tag = NULLTAG;
    kep::Step step;

    int revision_tag_attr = 0;
    tag_t primary_object = NULLTAG;
    step.call("BOM_line_look_up_attribute(bomAttr_lineItemRevTag,&revision_tag_attr)",
              [&] { return kep::ask_attribute_id(bomAttr_lineItemRevTag, &revision_tag_attr); });
    step.call("BOM_line_ask_attribute_tag(bom_line_tag, revision_tag_attr, &primary_object)",
              [&] { return kep::ask_line_tag(bom_line_tag, revision_tag_attr, &primary_object); });
    if (primary_object == NULLTAG) {
        kep_log("Could not retrieve primary object\n");
        return step.status();
    }

    kep::Tags datasets_rendering;
    step.call(
        "kep_get_datasets(primary_object, \"IMAN_Rendering\", &datasets_rendering, "
        "&count_datasets_rendering)",
        [&] { return kep::ask_datasets(primary_object, "IMAN_Rendering", datasets_rendering); });
    kep::Tags datasets_direct_model;
    if (datasets_rendering.count() > 0) {
        step.call(
            "kep_filter_datasets(datasets_rendering, count_datasets_rendering, \"DirectModel\", "
            "&datasets_direct_model, &count_datasets_direct_model)",
            [&] { return kep::ask_filtered(datasets_rendering, "DirectModel", datasets_direct_model); });
    }

    for (int i = 0; i < datasets_direct_model.count() && datasets_direct_model; ++i) {
        const tag_t candidate = datasets_direct_model[i];
        kep::Text directmodel_name;
        step.call("AOM_ask_value_string(datasets_direct_model[i],\"object_name\", &directmodel_name)",
                  [&] { return kep::ask_value_string(candidate, "object_name", directmodel_name); });
        if (!is_text(directmodel_name.get()) || dataset_name == nullptr ||
            strcmp(directmodel_name.get(), dataset_name) != 0) {
            continue;
        }
        kep::Tags refs;
        step.call("AE_ask_all_dataset_named_refs(datasets_direct_model[i], \"JTPART\", &count_refs, &refs)",
                  [&] { return kep::ask_named_refs(candidate, "JTPART", refs); });
        // Several references do not say which one is the JT of this representation.
        if (step.ok() && refs.count() == 1 && refs) {
            *direct_model_tag = refs[0];
            kep_log("Found Reference for Dataset %s\n", directmodel_name.get());
            break;
        }
    }

    kep::clear_errors();
    return step.status();
}

}  // namespace

extern "C" int kep_bl_ask_jt_ds_tag(tag_t object_tag, tag_t* value) {
    return ask_jt_ds_tag(object_tag, value);
}

extern "C" int kep_get_direct_model(tag_t bom_line_tag, const char* dataset_name, tag_t* direct_model_tag) {
    return get_direct_model(bom_line_tag, dataset_name, direct_model_tag);
}
