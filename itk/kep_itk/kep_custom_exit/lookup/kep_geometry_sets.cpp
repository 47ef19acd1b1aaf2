/*
 * The datasets of a line's item revision that play one role, as the site's preferences define it:
 * the 3D geometry set and the auxiliary geometry set (every attached object of one of the
 * preferred types, under any relation) and the product structure set (the objects of one type
 * under one relation).
 *
 * The results are written only by the final filter; on every other way out they keep what the
 * caller put in them. A missing preference is no failure: its message is logged and the status
 * stays what it was. Everything read on the way is released before returning.
 */
#include "base/kep_observer.h"
#include "kep_mem.h"
#include "kep_trace.h"
#include "lookup/kep_lookup.h"
#include "lookup/kep_lookup_memo.h"
#include "lookup/kep_memo.h"

namespace {

// A type preference of a geometry set: the key, the statement text of its read and the message
// logged when it has no value.
struct TypeKey {
    const char* key;
    const char* statement;
    const char* missing;
};

#define KEP_TYPE_KEY(key, var) \
    { key, "kep_get_preference(\"" key "\", &" var ")", "Could not retrieve preference for " key "\n" }

const TypeKey kKeys3dgeo[] = {
    KEP_TYPE_KEY(KEP_PREF_PART_DATASET_TYPE, "type_part"),
    KEP_TYPE_KEY(KEP_PREF_MODEL_DATASET_TYPE, "type_model"),
    KEP_TYPE_KEY(KEP_PREF_CGR_DATASET_TYPE, "type_cgr"),
    KEP_TYPE_KEY(KEP_PREF_REP_DATASET_TYPE, "type_rep"),
};

const TypeKey kKeysAuxgeo[] = {
    KEP_TYPE_KEY(KEP_PREF_AUX_PART_DATASET_TYPE, "type_part"),
    KEP_TYPE_KEY(KEP_PREF_AUX_MODEL_DATASET_TYPE, "type_model"),
    KEP_TYPE_KEY(KEP_PREF_AUX_CGR_DATASET_TYPE, "type_cgr"),
    KEP_TYPE_KEY(KEP_PREF_AUX_REP_DATASET_TYPE, "type_rep"),
    KEP_TYPE_KEY(KEP_PREF_ARCHIVE_DATASET_TYPE, "type_archive"),
};

#undef KEP_TYPE_KEY

const int kMaxTypeKeys = 5;

bool has_text(const char* value) { return value != nullptr && value[0] != '\0'; }

// The line's item revision; null when the line has none or a lookup failed.
tag_t ask_revision(tag_t bomline_object_tag, kep::Step& step) {
    int revision_tag_attr = 0;
    tag_t primary_object = NULLTAG;
    step.call("BOM_line_look_up_attribute(bomAttr_lineItemRevTag,&revision_tag_attr)",
              [&] { return kep::ask_attribute_id(bomAttr_lineItemRevTag, &revision_tag_attr); });
    step.call("BOM_line_ask_attribute_tag(bomline_object_tag, revision_tag_attr, &primary_object)",
              [&] { return kep::ask_line_tag(bomline_object_tag, revision_tag_attr, &primary_object); });
    return primary_object;
}

// Every object attached to the line's revision whose type is named by one of the keys.
int geometry_set(const char* name, kep::GeometrySet set, tag_t bomline_object_tag, const TypeKey* keys,
                 int key_count, const char* filter_statement, tag_t** result, int* result_count) {
    kep::FunctionTrace trace(name);
    kep::Step step;

    const tag_t primary_object = ask_revision(bomline_object_tag, step);
    if (primary_object == NULLTAG) {
        kep_log("Could not retrieve primary object\n");
        kep::observe_no_revision(bomline_object_tag, set);
        return step.status();
    }

    kep::Tags datasets;
    step.call("kep_get_datasets(primary_object, NULL, &datasets, &count_datasets)",
              [&] { return kep::ask_datasets(primary_object, nullptr, datasets); });
    // The type preferences are read only when there is something to filter.
    kep::observe_related(primary_object, set, datasets.get(), datasets.count());
    if (datasets.count() <= 0) {
        return step.status();
    }

    kep::Text values[kMaxTypeKeys];
    // The slots point at the values above; the values stay held there.
    const char* type_array[kMaxTypeKeys] = {};
    for (int i = 0; i < key_count; ++i) {
        step.call(keys[i].statement, [&] { return kep::ask_preference(keys[i].key, values[i]); });
        kep::observe_preference(keys[i].key, values[i].get());
        // After a failure the keys not read count as missing, so the first of them is reported.
        if (!has_text(values[i].get())) {
            kep_log("%s", keys[i].missing);
            return step.status();
        }
        type_array[i] = values[i].get();
    }

    step.call(filter_statement, [&] {
        return kep_filter_datasets2(datasets.get(), datasets.count(), type_array, key_count, result,
                                    result_count);
    });
    kep::observe_geometry_set(bomline_object_tag, set, *result, *result_count);
    return step.status();
}

}  // namespace

extern "C" int kep_get_3dgeo_for_bomline(tag_t bomline_object_tag, tag_t** datasets_3dgeo,
                                         int* count_datasets_3dgeo) {
    return geometry_set("kep_get_3dgeo_for_bomline", kep::GeometrySet::ThreeD, bomline_object_tag, kKeys3dgeo,
                        4,
                        "kep_filter_datasets2(datasets, count_datasets, (const char **)type_array, 4, "
                        "datasets_3dgeo, count_datasets_3dgeo)",
                        datasets_3dgeo, count_datasets_3dgeo);
}

extern "C" int kep_get_auxgeo_for_bomline(tag_t bomline_object_tag, tag_t** datasets_auxgeo,
                                          int* count_datasets_auxgeo) {
    return geometry_set("kep_get_auxgeo_for_bomline", kep::GeometrySet::Auxiliary, bomline_object_tag,
                        kKeysAuxgeo, 5,
                        "kep_filter_datasets2(datasets, count_datasets, (const char **)type_array, 5, "
                        "datasets_auxgeo, count_datasets_auxgeo)",
                        datasets_auxgeo, count_datasets_auxgeo);
}

extern "C" int kep_get_structure_for_bomline(tag_t bomline_object_tag, tag_t** datasets_structure,
                                             int* count_datasets_structure) {
    kep::FunctionTrace trace("kep_get_structure_for_bomline");
    kep::Step step;

    const tag_t primary_object = ask_revision(bomline_object_tag, step);
    if (primary_object == NULLTAG) {
        // This message and the two below end without a line end.
        kep_log("Could not retrieve primary object");
        kep::observe_no_revision(bomline_object_tag, kep::GeometrySet::Structure);
        return step.status();
    }

    kep::Text relation_structure;
    step.call("kep_get_preference(\"" KEP_PREF_PRODUCT_DATASET_RELATION "\", &relation_structure)",
              [&] { return kep::ask_preference(KEP_PREF_PRODUCT_DATASET_RELATION, relation_structure); });
    kep::observe_preference(KEP_PREF_PRODUCT_DATASET_RELATION, relation_structure.get());
    if (!has_text(relation_structure.get())) {
        kep_log("Could not retrieve preference for " KEP_PREF_PRODUCT_DATASET_RELATION);
        return step.status();
    }

    kep::Tags datasets;
    step.call("kep_get_datasets(primary_object, relation_structure, &datasets, &count_datasets)",
              [&] { return kep::ask_datasets(primary_object, relation_structure.get(), datasets); });
    kep::observe_related(primary_object, kep::GeometrySet::Structure, datasets.get(), datasets.count());
    if (datasets.count() <= 0) {
        return step.status();
    }

    kep::Text type_structure;
    step.call("kep_get_preference(\"" KEP_PREF_PRODUCT_DATASET_TYPE "\", &type_structure)",
              [&] { return kep::ask_preference(KEP_PREF_PRODUCT_DATASET_TYPE, type_structure); });
    kep::observe_preference(KEP_PREF_PRODUCT_DATASET_TYPE, type_structure.get());
    if (!has_text(type_structure.get())) {
        kep_log("Could not retrieve preference for " KEP_PREF_PRODUCT_DATASET_TYPE);
        return step.status();
    }

    step.call(
        "kep_filter_datasets(datasets, count_datasets, type_structure, datasets_structure, "
        "count_datasets_structure)",
        [&] {
            return kep_filter_datasets(datasets.get(), datasets.count(), type_structure.get(),
                                       datasets_structure, count_datasets_structure);
        });
    kep::observe_geometry_set(bomline_object_tag, kep::GeometrySet::Structure, *datasets_structure,
                              *count_datasets_structure);
    return step.status();
}
