// The features of the preflight check (kep_check_features.h) but the representation filter
// (kep_check_filter.cpp).
#include "kep_check_features.h"

#include <algorithm>
#include <cstring>

namespace kep_check {
namespace detail {
namespace {

// A relation key and the type key that goes with it, with what is lost while either is unset and
// while either names nothing known. True when both are set.
bool relation_and_type(SiteReader& reader, Feature* f, const char* relation, const char* type,
                       const std::string& unset, const std::string& unknown) {
    const Key relation_state = relation_key(reader, f, relation, unset, unknown);
    const Key type_state = type_key(reader, f, type, unset, unknown);
    return relation_state != Key::Unset && type_state != Key::Unset;
}

}  // namespace

Feature check_loading(SiteReader& reader) {
    Feature f{"Loading the extension", {}};
    std::vector<std::string> libraries;
    std::string error;
    if (!reader.values("TC_customization_libraries", &libraries, &error)) {
        add(&f, Level::Missing, error);
    } else if (std::find(libraries.begin(), libraries.end(), kLibraryName) == libraries.end()) {
        add(&f, Level::Missing,
            std::string("TC_customization_libraries does not name ") + kLibraryName +
                (libraries.empty() ? "" : " (it names " + shown_list(libraries) + ")") +
                ": the server does not load the extension, and none of the features below is there");
    } else {
        add(&f, Level::Ok,
            std::string("TC_customization_libraries names ") + kLibraryName + ": the server loads lib" +
                kLibraryName + " and calls " + kLibraryName + "_register_callbacks");
    }
    return f;
}

Feature check_modon_parts(SiteReader& reader, bool* keys_set) {
    Feature f{"Mod-on representations of parts", {}};
    *keys_set = relation_and_type(
        reader, &f, "KEPModOnPartDatasetRelation", "KEPModOnPartDatasetType",
        "a line that has 3D geometry datasets gets no box at all, and bl_jt_dataset_tag keeps the "
        "platform's value on every line",
        "no mod-on dataset of a part is found: every line takes its box and bl_jt_dataset_tag from its own "
        "3D geometry");
    return f;
}

Feature check_modon_products(SiteReader& reader) {
    Feature f{"Mod-on representations of products", {}};
    relation_and_type(
        reader, &f, "KEPModOnProductDatasetRelation", "KEPModOnProductDatasetType",
        "bl_plmxml_occ_xform and bl_plmxml_abs_xform keep the platform's stored transforms, and the "
        "searches place no line by a mod-on representation",
        "no mod-on dataset of a product is found: bl_plmxml_occ_xform and bl_plmxml_abs_xform keep the "
        "platform's stored transforms, and the searches place no line by a mod-on representation");
    return f;
}

// The four type keys of the 3D geometry set; check_site adds what the representation path needs
// besides. *types_known: all four name dataset types.
Feature check_3d_boxes(SiteReader& reader, bool* types_known) {
    Feature f{"Boxes from 3D geometry", {}};
    const std::string unset =
        "no line gets a box from its 3D geometry datasets (KEPPartDatasetType, KEPModelDatasetType, "
        "KEPCgrDatasetType and KEPRepDatasetType are all needed); such lines fall back to the boxes of "
        "their auxiliary and structure datasets, and no JT dataset tag comes from a line's own geometry";
    const std::string unknown =
        "lines whose 3D geometry datasets are of the type meant get no box from them: they take their boxes "
        "from auxiliary and structure datasets, where they have any, and get no JT dataset tag from them";
    *types_known = true;
    for (const char* key :
         {"KEPPartDatasetType", "KEPModelDatasetType", "KEPCgrDatasetType", "KEPRepDatasetType"}) {
        const Key type = type_key(reader, &f, key, unset, unknown);
        *types_known = *types_known && type == Key::Known;
        if (type == Key::Unset) {
            break;  // the extension stops at the first missing type; so does the report
        }
    }
    return f;
}

Feature check_aux_boxes(SiteReader& reader) {
    Feature f{"Boxes from auxiliary and structure datasets", {}};
    const std::string aux_unset =
        "no line gets a box from its auxiliary geometry datasets (KEPAuxPartDatasetType, "
        "KEPAuxModelDatasetType, KEPAuxCgrDatasetType, KEPAuxRepDatasetType and KEPArchiveDatasetType are "
        "all needed)";
    const std::string aux_unknown =
        "datasets of the type meant give no auxiliary box: a line that would take its box from them has "
        "none, or a smaller one";
    for (const char* key : {"KEPAuxPartDatasetType", "KEPAuxModelDatasetType", "KEPAuxCgrDatasetType",
                            "KEPAuxRepDatasetType", "KEPArchiveDatasetType"}) {
        if (type_key(reader, &f, key, aux_unset, aux_unknown) == Key::Unset) {
            break;
        }
    }
    relation_and_type(
        reader, &f, "KEPProductDatasetRelation", "KEPProductDatasetType",
        "no line gets a box from its product structure datasets, and an assembly keeps the platform's "
        "bl_jt_dataset_tag where no dataset is picked for it",
        "no product structure dataset is found: no line gets a box from one, and an assembly keeps the "
        "platform's bl_jt_dataset_tag where no dataset is picked for it");
    return f;
}

Feature check_jt(SiteReader& reader, bool modon_part_keys_set, const Feature& modon_parts,
                 const Feature& boxes_3d, const FilterState& filter) {
    Feature f{"JT dataset tags", {}};
    std::string error;
    if (reader.relation_known("IMAN_Rendering", &error)) {
        add(&f, Level::Ok, "IMAN_Rendering is a relation type: DirectModel datasets are found under it");
    } else {
        add(&f, Level::Missing,
            "IMAN_Rendering is not a relation type the platform knows" +
                (error.empty() ? "" : " (" + error + ")") +
                ": the extension lists nothing under it, so bl_jt_dataset_tag reads the null tag wherever a "
                "dataset is picked");
    }
    switch (reader.type_kind("DirectModel")) {
        case TypeKind::Unknown:
        case TypeKind::NotDataset:
            add(&f, Level::Missing,
                "DirectModel is not a dataset type the platform knows: bl_jt_dataset_tag reads the null tag "
                "wherever a dataset is picked");
            break;
        case TypeKind::Dataset:
            add(&f, Level::Ok, "DirectModel is a dataset type: its JTPART reference gives the tag");
            break;
        case TypeKind::Type:
            add(&f, Level::Ok, "DirectModel is a type: its JTPART reference gives the tag");
            break;
    }
    if (!modon_part_keys_set) {
        add(&f, Level::Missing,
            "needs KEPModOnPartDatasetRelation and KEPModOnPartDatasetType set: bl_jt_dataset_tag keeps the "
            "platform's value on every line");
    } else {
        needs(
            &f, modon_parts,
            "a line whose representation is a mod-on dataset of a part gets its JT dataset tag from its own "
            "geometry instead, or none");
    }
    needs(&f, boxes_3d,
          "a line without a mod-on representation may get no JT dataset tag from its own geometry");
    if (!filter.loss.empty()) {
        add(&f, Level::Missing,
            "needs Representation filter: " + filter.loss +
                "; where none is chosen, bl_jt_dataset_tag keeps the platform's value or reads null");
    }
    return f;
}
Feature check_is_v0(SiteReader& reader, int version, const std::string& version_error) {
    Feature f{"var2_is_v0 on datasets", {}};
    if (!version_error.empty()) {
        add(&f, Level::Missing, "the platform version could not be asked: " + version_error);
    } else if (version < kVersionThreshold) {
        add(&f, Level::Ok,
            "platform version " + std::to_string(version) +
                " is below 80000300: the extension creates var2_is_v0 on Dataset when it starts");
    } else {
        add(&f, Level::Ok,
            "platform version " + std::to_string(version) +
                ": the data model must define var2_is_v0 on Dataset (a logical run-time property)");
    }
    std::string error;
    if (reader.has_method("Dataset", "var2_is_v0", PROP_ask_value_logical_msg, &error)) {
        add(&f, Level::Ok, "var2_is_v0 has its getter: a read tells whether a dataset is its own version 0");
    } else {
        add(&f, Level::Missing,
            "var2_is_v0 has no getter on Dataset" + (error.empty() ? "" : " (" + error + ")") +
                ": reads of it do not tell whether a dataset is its own version 0; the extension is not "
                "loaded, or its registration failed" +
                (version >= kVersionThreshold ? " (is var2_is_v0 defined on Dataset?)" : ""));
    }
    return f;
}

Feature check_diagnostics() {
    Feature f{"Diagnostics", {}};
    struct Switch {
        const char* name;
        const char* on;
        const char* off;
    };
    const Switch switches[] = {
        {"ZODORE_DEBUG", "the trace goes to standard error", "no trace on standard error"},
        {"ZODORE_SYSLOG", "the trace goes to the system log", "no trace in the system log"},
        {"ZODORE_ITKLOG", "the trace shows every platform call (where one of the two above is ON)",
         "the trace does not show the platform calls"},
    };
    bool on[3] = {false, false, false};
    for (int i = 0; i < 3; ++i) {
        const Switch& s = switches[i];
        const char* value = TC_getenv(s.name);
        on[i] = value != nullptr && std::strcmp(value, "ON") == 0;
        if (on[i]) {
            add(&f, Level::Ok, std::string(s.name) + " is ON: " + s.on);
        } else if (value == nullptr) {
            add(&f, Level::Ok, std::string(s.name) + " is not set: " + s.off);
        } else {
            add(&f, Level::Note,
                std::string(s.name) + " = " + shown(value) + ": only the exact value ON switches it on, so " +
                    s.off);
        }
    }
    if (on[2] && !on[0] && !on[1]) {
        add(&f, Level::Note,
            "ZODORE_ITKLOG is ON while ZODORE_DEBUG and ZODORE_SYSLOG are not: nothing is written, since the "
            "trace lines need one of the two; the economical path stays on");
    } else if (on[0] || on[1]) {
        add(&f, Level::Note,
            "with the trace on, the economical path is off: within a search or a property read the extension "
            "keeps no answer and asks the platform every question anew, which is slower");
    }
    return f;
}

}  // namespace detail
}  // namespace kep_check
