// The preflight check (kep_check.h): what the extension will find on a site and what users see
// because of it.
//
// What follows from each value is what the extension does with it at run time: a single-valued
// key counts as missing when it is undefined or its first value is empty, and only its first value
// counts; the 3D geometry and the auxiliary geometry sets need every one of their type keys, or
// they stay empty for every line; a type name that no dataset can have (unknown, misspelt, with a
// stray blank, or no dataset type) matches nothing; a relation name the platform does not know
// lists nothing; a line with 3D geometry datasets takes its box from the representation path
// only, which needs the mod-on keys of parts set and a representation filter that chooses.
//
// A feature is usable only when it gives every line what it would give with the site's names
// spelt right: host_check_test holds each verdict against the searches and line values.
#if defined(KEP_REAL_PLATFORM) && !defined(IPLIB)
#define IPLIB none
#endif

#include "kep_check.h"

// The platform's operations as the extension sees them, with the declarations that later
// releases dropped from their headers (PREF_set_search_scope among them).
#include <kep_platform.h>

#include <algorithm>
#include <cctype>
#include <cstddef>
#include <cstring>

namespace kep_check {

// "status N: <newest text on the error stack>", then the stack is cleared.
std::string platform_error(int status) {
    std::string text = "status " + std::to_string(status);
    int count = 0;
    const int* severities = nullptr;
    const int* codes = nullptr;
    const char** texts = nullptr;
    if (EMH_ask_errors(&count, &severities, &codes, &texts) == ITK_ok && count > 0 && texts != nullptr &&
        texts[count - 1] != nullptr) {
        text += ": ";
        text += texts[count - 1];
    }
    EMH_clear_errors();
    return text;
}

const char kLibraryName[] = "kep";

namespace {

// At or above this platform version the data model must define var2_is_v0 itself.
const int kVersionThreshold = 80000300;

std::string joined(const std::vector<std::string>& values) {
    std::string text;
    for (size_t i = 0; i < values.size(); ++i) {
        text += (i == 0 ? "" : ", ") + values[i];
    }
    return text;
}

// What a type name names: no type, a type that no dataset can have, a dataset type, or a type of
// which the platform cannot tell whether it is one (when Dataset has no var2_is_v0 getter to ask
// by).
enum class TypeKind { Unknown, NotDataset, Dataset, Type };

// Reads what the extension reads, the way it reads it: preferences under the all-locations
// search scope (the caller's scope is put back when the reader goes), relation types by name.
class SiteReader {
public:
    SiteReader() {
        scope_saved_ = PREF_ask_search_scope(&saved_scope_) == ITK_ok;
        if (!scope_saved_) {
            EMH_clear_errors();
        } else if (PREF_set_search_scope(TC_preference_all) != ITK_ok) {
            EMH_clear_errors();
        }
    }
    ~SiteReader() {
        if (scope_saved_ && PREF_set_search_scope(saved_scope_) != ITK_ok) {
            EMH_clear_errors();
        }
    }
    SiteReader(const SiteReader&) = delete;
    SiteReader& operator=(const SiteReader&) = delete;

    // Every value of a key; false with *error set when the read fails.
    bool values(const char* key, std::vector<std::string>* values, std::string* error) {
        values->clear();
        int count = 0;
        char** texts = nullptr;
        const int status = PREF_ask_char_values(key, &count, &texts);
        if (status != ITK_ok) {
            MEM_free(texts);
            *error = "reading " + std::string(key) + " failed with " + platform_error(status);
            return false;
        }
        for (int i = 0; i < count && texts != nullptr; ++i) {
            values->push_back(texts[i] != nullptr ? texts[i] : "");
        }
        MEM_free(texts);  // one block: the array and its texts
        return true;
    }

    // Whether the platform knows a relation type of that name.
    bool relation_known(const std::string& name, std::string* error) {
        tag_t relation = NULLTAG;
        const int status = GRM_find_relation_type(name.c_str(), &relation);
        if (status != ITK_ok) {
            *error = platform_error(status);
            return false;
        }
        return relation != NULLTAG;
    }

    // Whether the platform knows a type of that name: asking for a method of a type that does not
    // exist fails, asking one of a type that does succeeds (with or without a method).
    bool type_known(const std::string& name) {
        METHOD_id_t method;
        method.reserved = 0;
        method.id = nullptr;
        const int status =
            METHOD_find_prop_method(name.c_str(), "object_name", PROP_ask_value_string_msg, &method);
        if (status != ITK_ok) {
            EMH_clear_errors();
            return false;
        }
        return true;
    }

    // A dataset type is one that the getter of var2_is_v0, registered on Dataset, serves: the
    // platform finds the method for every type below Dataset and for no other.
    TypeKind type_kind(const std::string& name) {
        if (!type_known(name)) {
            return TypeKind::Unknown;
        }
        if (dataset_getter_ < 0) {
            std::string error;
            dataset_getter_ = has_method("Dataset", "var2_is_v0", PROP_ask_value_logical_msg, &error) ? 1 : 0;
        }
        if (dataset_getter_ == 0) {
            return TypeKind::Type;
        }
        METHOD_id_t method;
        method.reserved = 0;
        method.id = nullptr;
        if (METHOD_find_prop_method(name.c_str(), "var2_is_v0", PROP_ask_value_logical_msg, &method) !=
            ITK_ok) {
            EMH_clear_errors();
            return TypeKind::NotDataset;
        }
        return method.id != nullptr ? TypeKind::Dataset : TypeKind::NotDataset;
    }

    // Whether a method is registered for reading a property of a type.
    bool has_method(const char* type, const char* property, const char* message, std::string* error) {
        METHOD_id_t method;
        method.reserved = 0;
        method.id = nullptr;
        const int status = METHOD_find_prop_method(type, property, message, &method);
        if (status != ITK_ok) {
            *error = platform_error(status);
            return false;
        }
        return method.id != nullptr;
    }

private:
    TC_preference_search_scope_t saved_scope_ = TC_preference_all;
    bool scope_saved_ = false;
    int dataset_getter_ = -1;  // whether Dataset has the getter of var2_is_v0; -1 until asked
};

void add(Feature* feature, Level level, const std::string& text) {
    feature->findings.push_back({level, text});
}

bool blank_ends(const std::string& value) {
    return !value.empty() && (std::isspace(static_cast<unsigned char>(value.front())) != 0 ||
                              std::isspace(static_cast<unsigned char>(value.back())) != 0);
}

// A value as the site holds it, quoted when it is empty or has a blank at either end, so that a
// stray blank shows.
std::string shown(const std::string& value) {
    return value.empty() || blank_ends(value) ? "\"" + value + "\"" : value;
}

std::string shown_list(const std::vector<std::string>& values) {
    std::vector<std::string> texts;
    for (const std::string& value : values) {
        texts.push_back(shown(value));
    }
    return joined(texts);
}

// A single-valued key as the extension reads it: its first value only.
struct Single {
    bool read = false;     // false: the read failed (reported as missing)
    bool defined = false;  // the key has at least one value
    std::string value;     // the first value, "" when there is none
};

Single single(SiteReader& reader, Feature* feature, const char* key) {
    Single single;
    std::vector<std::string> values;
    std::string error;
    if (!reader.values(key, &values, &error)) {
        add(feature, Level::Missing, error);
        return single;
    }
    single.read = true;
    single.defined = !values.empty();
    if (single.defined) {
        single.value = values[0];
    }
    if (values.size() > 1) {
        add(feature, Level::Note,
            std::string(key) + " holds " + std::to_string(values.size()) + " values (" + shown_list(values) +
                "): the extension reads the first only, " + shown(values[0]));
    }
    return single;
}

// How a key that names a type or a relation stands.
enum class Key {
    Unset,    // undefined, empty or unreadable: the extension treats it as missing
    Unknown,  // names nothing the extension can find (no such type or relation, or no dataset type)
    Known,
};

Key report_unset(Feature* feature, const char* key, const Single& single, const std::string& effect) {
    if (single.read) {
        add(feature, Level::Missing,
            std::string(key) +
                (single.defined ? " is empty (its first value, the one the extension reads): "
                                : " is not set: ") +
                effect);
    }
    return Key::Unset;
}

std::string blank_hint(const std::string& value) {
    return blank_ends(value) ? " (mind the blank at its start or end)" : "";
}

// A key naming a dataset type. `unset_effect`: what users see when it is not set; `unknown_effect`:
// when it names a type that no dataset can have.
Key type_key(SiteReader& reader, Feature* feature, const char* key, const std::string& unset_effect,
             const std::string& unknown_effect) {
    const Single value = single(reader, feature, key);
    if (value.value.empty()) {
        return report_unset(feature, key, value, unset_effect);
    }
    const std::string named = std::string(key) + " = " + shown(value.value);
    switch (reader.type_kind(value.value)) {
        case TypeKind::Unknown:
            add(feature, Level::Missing,
                named + ", a type the platform does not know" + blank_hint(value.value) +
                    ": no dataset is of that type, so " + unknown_effect);
            return Key::Unknown;
        case TypeKind::NotDataset:
            add(feature, Level::Missing,
                named + ", a type that is not a dataset type: no dataset is of that type, so " +
                    unknown_effect);
            return Key::Unknown;
        case TypeKind::Dataset:
        case TypeKind::Type:
            break;
    }
    add(feature, Level::Ok, named);
    return Key::Known;
}

// A key naming a relation type. The extension lists nothing under a relation name the platform
// does not know, so that a misspelt name narrows a lookup instead of widening it to every relation.
Key relation_key(SiteReader& reader, Feature* feature, const char* key, const std::string& unset_effect,
                 const std::string& unknown_effect) {
    const Single value = single(reader, feature, key);
    if (value.value.empty()) {
        return report_unset(feature, key, value, unset_effect);
    }
    const std::string named = std::string(key) + " = " + shown(value.value);
    std::string error;
    if (reader.relation_known(value.value, &error)) {
        add(feature, Level::Ok, named);
        return Key::Known;
    }
    add(feature, Level::Missing,
        named +
            (error.empty() ? ", a relation type the platform does not know" + blank_hint(value.value)
                           : ", which could not be looked up (" + error + ")") +
            ": the extension lists nothing under it, so " + unknown_effect);
    return Key::Unknown;
}

// A dependency: the feature does not work as it should while `other` does not.
void needs(Feature* feature, const Feature& other, const std::string& effect) {
    if (!other.usable()) {
        add(feature, Level::Missing, "needs " + other.name + ": " + effect);
    }
}

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

// What the representation filter leaves users, for the features that rely on it.
struct FilterState {
    std::string loss;  // empty while the filter chooses as it should
};

Feature check_modon_parts(SiteReader& reader, bool* keys_set) {
    Feature f{"Mod-on representations of parts", {}};
    const std::string unset =
        "a line that has 3D geometry datasets gets no box at all, and bl_jt_dataset_tag keeps the "
        "platform's value on every line";
    const std::string unknown =
        "no mod-on dataset of a part is found: every line takes its box and bl_jt_dataset_tag from its own "
        "3D geometry";
    const Key relation = relation_key(reader, &f, "KEPModOnPartDatasetRelation", unset, unknown);
    const Key type = type_key(reader, &f, "KEPModOnPartDatasetType", unset, unknown);
    *keys_set = relation != Key::Unset && type != Key::Unset;
    return f;
}

Feature check_modon_products(SiteReader& reader) {
    Feature f{"Mod-on representations of products", {}};
    const std::string unset =
        "bl_plmxml_occ_xform and bl_plmxml_abs_xform keep the platform's stored transforms, and the "
        "searches place no line by a mod-on representation";
    const std::string unknown =
        "no mod-on dataset of a product is found: bl_plmxml_occ_xform and bl_plmxml_abs_xform keep the "
        "platform's stored transforms, and the searches place no line by a mod-on representation";
    relation_key(reader, &f, "KEPModOnProductDatasetRelation", unset, unknown);
    type_key(reader, &f, "KEPModOnProductDatasetType", unset, unknown);
    return f;
}

// The three keys of the representation filter, judged the way kep_filter_alt_rep_for_dataset uses
// them: the wanted names are tried from the last to the first, an empty one is skipped, and a
// wanted name picks a dataset only when it is the master name (master datasets) or one of the
// alternative names (datasets with that suffix).
Feature check_filter(SiteReader& reader, FilterState* state) {
    Feature f{"Representation filter", {}};
    std::vector<std::string> alt_reps;
    std::string error;
    const bool alt_reps_read = reader.values("KEPAltRepList", &alt_reps, &error);
    if (!alt_reps_read) {
        add(&f, Level::Missing, error);
    }
    const size_t before_use = f.findings.size();
    const Single use = single(reader, &f, "KEPUseAltRepFilter");
    const std::vector<Finding> use_notes(f.findings.begin() + static_cast<std::ptrdiff_t>(before_use),
                                         f.findings.end());
    f.findings.resize(before_use);
    const bool on = use.value == "1";
    const std::string master = alt_reps.empty() ? "" : alt_reps[0];

    const std::string lost_by_off_or_on =
        on ? "master datasets are never chosen" : "no dataset is ever chosen";
    if (!alt_reps_read) {
        state->loss = "the representation preferences could not be read";
    } else if (alt_reps.empty()) {
        add(&f, Level::Missing,
            "KEPAltRepList is not set: there is no master representation name; a line with one candidate "
            "dataset uses it whatever its name, a line with two or more gets no box from them, no JT "
            "dataset tag and no mod-on placement");
        state->loss = "of two or more candidate datasets none is chosen";
    } else if (master.empty()) {
        add(&f, Level::Missing,
            "KEPAltRepList = " + shown_list(alt_reps) +
                ": its first value, the master representation name, is empty, so " + lost_by_off_or_on +
                ": lines lose their boxes from 3D geometry and mod-on parts, their JT dataset tags and "
                "their mod-on placements");
        state->loss = lost_by_off_or_on;
    } else {
        std::string text =
            "KEPAltRepList = " + shown_list(alt_reps) + ": " + master + " is the master representation";
        if (alt_reps.size() > 1) {
            text += "; the name suffixes " +
                    shown_list(std::vector<std::string>(alt_reps.begin() + 1, alt_reps.end())) +
                    " mark alternative representations";
        }
        add(&f, Level::Ok, text);
    }
    for (size_t i = 1; i < alt_reps.size(); ++i) {
        const std::string& name = alt_reps[i];
        if (name.empty()) {
            add(&f, Level::Note,
                "KEPAltRepList: the empty alternative name marks only datasets whose name has an empty "
                "suffix (such as 4711./A) as alternative representations");
        } else if (name.find('.') != std::string::npos) {
            add(&f, Level::Note,
                "KEPAltRepList: the alternative name " + shown(name) +
                    " is never a name suffix (a suffix holds no \".\"), so it marks no dataset");
        }
    }

    f.findings.insert(f.findings.end(), use_notes.begin(), use_notes.end());
    if (!use.read && state->loss.empty()) {
        state->loss = "the representation preferences could not be read";
    } else if (use.read) {
        if (!use.defined) {
            add(&f, Level::Note,
                "KEPUseAltRepFilter is not set: the filter is off; the master representation is used");
        } else if (on) {
            add(&f, Level::Ok, "KEPUseAltRepFilter = 1: the filter is on; KEPActualAltRepList decides");
        } else {
            add(&f, Level::Ok,
                "KEPUseAltRepFilter = " + shown(use.value) +
                    ": the filter is off (only the value 1 switches it on); the master representation is "
                    "used");
        }
    }

    std::vector<std::string> actual;
    if (!reader.values("KEPActualAltRepList", &actual, &error)) {
        add(&f, Level::Missing, error);
        if (on && state->loss.empty()) {
            state->loss = "the representation preferences could not be read";
        }
    } else if (actual.empty()) {
        if (on) {
            add(&f, Level::Missing,
                "KEPActualAltRepList is not set while KEPUseAltRepFilter is 1: the filter never picks a "
                "dataset, so no line gets a box from 3D geometry, a JT dataset tag or a mod-on placement");
            state->loss = "no dataset is ever chosen";
        } else {
            add(&f, Level::Note,
                "KEPActualAltRepList is not set: it is used only when KEPUseAltRepFilter is 1");
        }
    } else if (!on || alt_reps.empty()) {
        // Without alternative and master names the filter chooses by name nothing at all; what
        // KEPAltRepList's finding says holds whatever the wanted names are.
        add(&f, Level::Ok,
            "KEPActualAltRepList = " + shown_list(actual) +
                (on ? ": tried from the last entry to the first"
                    : ": used only when KEPUseAltRepFilter is 1"));
    } else {
        add(&f, Level::Ok,
            "KEPActualAltRepList = " + shown_list(actual) + ": tried from the last entry (" +
                shown(actual.back()) + ") to the first");
        std::vector<std::string> empty_or_unmatched;
        bool any_match = false;
        bool master_wanted = false;
        for (const std::string& name : actual) {
            const bool alternative =
                !name.empty() && std::find(alt_reps.begin() + 1, alt_reps.end(), name) != alt_reps.end();
            const bool is_master = !name.empty() && name == master;
            master_wanted = master_wanted || is_master;
            if (alternative || is_master) {
                any_match = true;
            } else {
                empty_or_unmatched.push_back(name);
            }
        }
        if (!empty_or_unmatched.empty()) {
            add(&f, any_match ? Level::Note : Level::Missing,
                "KEPActualAltRepList: " + shown_list(empty_or_unmatched) +
                    (empty_or_unmatched.size() == 1 ? " is" : " are") +
                    " neither the master name nor an alternative name of KEPAltRepList (an empty entry is "
                    "skipped): no dataset is ever chosen by " +
                    (empty_or_unmatched.size() == 1 ? "it" : "them"));
        }
        if (!any_match) {
            add(&f, Level::Missing,
                "KEPActualAltRepList names nothing the filter can choose: no line gets a box from 3D "
                "geometry "
                "or mod-on parts, a JT dataset tag or a mod-on placement");
            state->loss = "no dataset is ever chosen";
        } else if (!master_wanted && !master.empty()) {
            add(&f, Level::Missing,
                "KEPActualAltRepList does not name the master representation " + master +
                    ": master datasets are never chosen, so a line without a wanted alternative "
                    "representation gets no box from 3D geometry or mod-on parts, no JT dataset tag and no "
                    "mod-on placement");
            if (state->loss.empty()) {
                state->loss = "master datasets are never chosen";
            }
        }
    }
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
    const std::string structure_unset =
        "no line gets a box from its product structure datasets, and an assembly keeps the platform's "
        "bl_jt_dataset_tag where no dataset is picked for it";
    const std::string structure_unknown =
        "no product structure dataset is found: no line gets a box from one, and an assembly keeps the "
        "platform's bl_jt_dataset_tag where no dataset is picked for it";
    relation_key(reader, &f, "KEPProductDatasetRelation", structure_unset, structure_unknown);
    type_key(reader, &f, "KEPProductDatasetType", structure_unset, structure_unknown);
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

const char* level_word(Level level) {
    switch (level) {
        case Level::Ok:
            return "ok     ";
        case Level::Note:
            return "note   ";
        case Level::Missing:
            return "missing";
    }
    return "";
}

}  // namespace

bool Feature::usable() const {
    return std::none_of(findings.begin(), findings.end(),
                        [](const Finding& finding) { return finding.level == Level::Missing; });
}

bool Report::usable() const {
    return std::all_of(features.begin(), features.end(),
                       [](const Feature& feature) { return feature.usable(); });
}

Report check_site() {
    Report report;
    std::string version_error;
    const int status = ITK_ask_version(&report.version);
    if (status != ITK_ok) {
        report.version = 0;
        version_error = platform_error(status);
    }
    SiteReader reader;
    Feature loading = check_loading(reader);
    bool modon_part_keys_set = false;
    Feature modon_parts = check_modon_parts(reader, &modon_part_keys_set);
    Feature modon_products = check_modon_products(reader);
    FilterState filter_state;
    Feature filter = check_filter(reader, &filter_state);
    bool types_3d_known = false;
    Feature boxes_3d = check_3d_boxes(reader, &types_3d_known);
    Feature boxes_aux = check_aux_boxes(reader);
    Feature jt = check_jt(reader, modon_part_keys_set, modon_parts, boxes_3d, filter_state);
    // The representation path of a line's box needs the mod-on keys of parts set (a relation or
    // type that finds nothing only means that every line uses its own geometry) and a filter that
    // chooses. Mod-on datasets of parts give a box only to a line with 3D geometry datasets of its
    // own.
    if (!modon_part_keys_set) {
        add(&boxes_3d, Level::Missing,
            "needs KEPModOnPartDatasetRelation and KEPModOnPartDatasetType set: a line that has 3D geometry "
            "datasets gets no box");
    }
    if (!filter_state.loss.empty()) {
        const std::string loss = "needs Representation filter: " + filter_state.loss;
        add(&boxes_3d, Level::Missing, loss + ", and a line whose candidates are not chosen gets no box");
        add(&modon_parts, Level::Missing,
            loss + "; a mod-on dataset that is not chosen gives no box or JT dataset tag");
        add(&modon_products, Level::Missing,
            loss + "; a mod-on dataset that is not chosen gives no transform");
    }
    if (!types_3d_known) {
        add(&modon_parts, Level::Missing,
            "needs Boxes from 3D geometry: a line takes its box from a mod-on dataset of a part only when it "
            "has 3D geometry datasets of its own, so lines without them get no box from it (their "
            "bl_jt_dataset_tag still comes from it)");
    }
    Feature is_v0 = check_is_v0(reader, report.version, version_error);
    // In the order a reader meets them: what loads the extension, the searches, the line values.
    report.features = {loading, boxes_3d, boxes_aux, modon_parts,        modon_products,
                       filter,  jt,       is_v0,     check_diagnostics()};
    return report;
}

void write_report(const Report& report, std::ostream& out) {
    out << "Preflight check of the site";
    if (report.version != 0) {
        out << " (platform version " << report.version << ")";
    }
    out << "\nWhat follows is what the extension will do with the site's preferences and data model. The\n"
           "diagnostics switches are read from the environment of the process that runs this check, not\n"
           "from the server's: set them here as the server processes have them.\n";
    int unusable = 0;
    for (const Feature& feature : report.features) {
        out << "\n" << feature.name << ": " << (feature.usable() ? "usable" : "NOT USABLE") << "\n";
        for (const Finding& finding : feature.findings) {
            out << "  " << level_word(finding.level) << "  " << finding.text << "\n";
        }
        unusable += feature.usable() ? 0 : 1;
    }
    out << "\n";
    if (unusable == 0) {
        out << "Everything is usable.\n";
    } else {
        out << unusable << " of " << report.features.size()
            << " features are not usable: see the lines marked missing.\n";
    }
}

int run_check(std::ostream& out) {
    const Report report = check_site();
    write_report(report, out);
    return report.usable() ? 0 : 1;
}

}  // namespace kep_check
