// The preflight check (kep_check.h): what the extension will find on a site and what users see
// because of it.
//
// What follows from each value is what the extension does with it at run time: a single-valued
// key counts as missing when it is undefined or its first value is empty; the 3D geometry and the
// auxiliary geometry sets need every one of their type keys, or they stay empty for every line; a
// line with 3D geometry datasets takes its box from the representation path only, which needs
// the mod-on keys of parts and the representation filter; an unknown relation name makes the
// platform list the datasets under every relation.
#if defined(KEP_REAL_PLATFORM) && !defined(IPLIB)
#define IPLIB none
#endif

#include "kep_check.h"

// The platform's operations as the extension sees them, with the declarations that later
// releases dropped from their headers (PREF_set_search_scope among them).
#include <kep_platform.h>

#include <algorithm>
#include <cstring>

namespace kep_check {

const char kLibraryName[] = "kep";

namespace {

// At or above this platform version the data model must define var2_is_v0 itself.
const int kVersionThreshold = 80000300;

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

std::string joined(const std::vector<std::string>& values) {
    std::string text;
    for (size_t i = 0; i < values.size(); ++i) {
        text += (i == 0 ? "" : ", ") + values[i];
    }
    return text;
}

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
};

void add(Feature* feature, Level level, const std::string& text) {
    feature->findings.push_back({level, text});
}

// A single-valued key: its first value, or "" when it is undefined, empty or cannot be read. A
// read that fails is reported as missing with the platform's reason.
std::string single(SiteReader& reader, Feature* feature, const char* key) {
    std::vector<std::string> values;
    std::string error;
    if (!reader.values(key, &values, &error)) {
        add(feature, Level::Missing, error);
        return "";
    }
    return values.empty() ? "" : values[0];
}

// One dataset type key: set (noting a type the platform does not know) or missing with `effect`.
bool type_key(SiteReader& reader, Feature* feature, const char* key, const std::string& effect) {
    const size_t before = feature->findings.size();
    const std::string value = single(reader, feature, key);
    if (value.empty()) {
        if (feature->findings.size() == before) {
            add(feature, Level::Missing, std::string(key) + " is not set: " + effect);
        }
        return false;
    }
    if (reader.type_known(value)) {
        add(feature, Level::Ok, std::string(key) + " = " + value);
    } else {
        add(feature, Level::Note,
            std::string(key) + " = " + value + ", a type the platform does not know: no dataset matches it");
    }
    return true;
}

// One relation key: set (noting a relation type the platform does not know) or missing.
bool relation_key(SiteReader& reader, Feature* feature, const char* key, const std::string& effect) {
    const size_t before = feature->findings.size();
    const std::string value = single(reader, feature, key);
    if (value.empty()) {
        if (feature->findings.size() == before) {
            add(feature, Level::Missing, std::string(key) + " is not set: " + effect);
        }
        return false;
    }
    std::string error;
    if (reader.relation_known(value, &error)) {
        add(feature, Level::Ok, std::string(key) + " = " + value);
    } else {
        add(feature, Level::Note,
            std::string(key) + " = " + value +
                (error.empty() ? ", a relation type the platform does not know"
                               : ", which could not be looked up (" + error + ")") +
                ": the platform then lists the datasets under every relation");
    }
    return true;
}

// A dependency: the feature does not work while `other` does not.
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
                (libraries.empty() ? "" : " (it names " + joined(libraries) + ")") +
                ": the server does not load the extension, and none of the features below is there");
    } else {
        add(&f, Level::Ok,
            std::string("TC_customization_libraries names ") + kLibraryName + ": the server loads lib" +
                kLibraryName + " and calls " + kLibraryName + "_register_callbacks");
    }
    return f;
}

Feature check_modon_parts(SiteReader& reader) {
    Feature f{"Mod-on representations of parts", {}};
    const std::string effect =
        "a line that has 3D geometry datasets gets no box at all, and bl_jt_dataset_tag keeps the "
        "platform's value on every line";
    relation_key(reader, &f, "KEPModOnPartDatasetRelation", effect);
    type_key(reader, &f, "KEPModOnPartDatasetType", effect);
    return f;
}

Feature check_modon_products(SiteReader& reader) {
    Feature f{"Mod-on representations of products", {}};
    const std::string effect =
        "bl_plmxml_occ_xform and bl_plmxml_abs_xform keep the platform's stored transforms, and the "
        "searches place no line by a mod-on representation";
    relation_key(reader, &f, "KEPModOnProductDatasetRelation", effect);
    type_key(reader, &f, "KEPModOnProductDatasetType", effect);
    return f;
}

Feature check_filter(SiteReader& reader) {
    Feature f{"Representation filter", {}};
    std::vector<std::string> alt_reps;
    std::string error;
    if (!reader.values("KEPAltRepList", &alt_reps, &error)) {
        add(&f, Level::Missing, error);
    } else if (alt_reps.empty()) {
        add(&f, Level::Missing,
            "KEPAltRepList is not set: there is no master representation name; a line with one candidate "
            "dataset uses it whatever its name, a line with two or more gets no box from them, no JT "
            "dataset tag and no mod-on placement");
    } else {
        std::string text =
            "KEPAltRepList = " + joined(alt_reps) + ": " + alt_reps[0] + " is the master representation";
        if (alt_reps.size() > 1) {
            text += "; the name suffixes " +
                    joined(std::vector<std::string>(alt_reps.begin() + 1, alt_reps.end())) +
                    " mark alternative representations";
        }
        add(&f, Level::Ok, text);
    }

    const size_t before = f.findings.size();
    const std::string use = single(reader, &f, "KEPUseAltRepFilter");
    const bool on = use == "1";
    if (f.findings.size() == before) {
        if (use.empty()) {
            add(&f, Level::Note,
                "KEPUseAltRepFilter is not set: the filter is off; the master representation is used");
        } else if (on) {
            add(&f, Level::Ok, "KEPUseAltRepFilter = 1: the filter is on; KEPActualAltRepList decides");
        } else {
            add(&f, Level::Ok,
                "KEPUseAltRepFilter = " + use +
                    ": the filter is off (only the value 1 switches it on); the master representation is "
                    "used");
        }
    }

    std::vector<std::string> actual;
    if (!reader.values("KEPActualAltRepList", &actual, &error)) {
        add(&f, Level::Missing, error);
    } else if (actual.empty()) {
        if (on) {
            add(&f, Level::Missing,
                "KEPActualAltRepList is not set while KEPUseAltRepFilter is 1: the filter never picks a "
                "dataset, so no line gets a box from 3D geometry, a JT dataset tag or a mod-on placement");
        } else {
            add(&f, Level::Note,
                "KEPActualAltRepList is not set: it is used only when KEPUseAltRepFilter is 1");
        }
    } else {
        add(&f, Level::Ok,
            "KEPActualAltRepList = " + joined(actual) +
                (on ? ": tried from the last entry (" + actual.back() + ") to the first"
                    : ": used only when KEPUseAltRepFilter is 1"));
    }
    return f;
}

// The type keys only; check_site adds what the representation path needs besides.
Feature check_3d_boxes(SiteReader& reader) {
    Feature f{"Boxes from 3D geometry", {}};
    const std::string effect =
        "no line gets a box from its 3D geometry datasets (KEPPartDatasetType, KEPModelDatasetType, "
        "KEPCgrDatasetType and KEPRepDatasetType are all needed); such lines fall back to the boxes of "
        "their auxiliary and structure datasets, and no JT dataset tag comes from a line's own geometry";
    for (const char* key :
         {"KEPPartDatasetType", "KEPModelDatasetType", "KEPCgrDatasetType", "KEPRepDatasetType"}) {
        if (!type_key(reader, &f, key, effect)) {
            break;  // the extension stops at the first missing type; so does the report
        }
    }
    return f;
}

Feature check_aux_boxes(SiteReader& reader) {
    Feature f{"Boxes from auxiliary and structure datasets", {}};
    const std::string aux_effect =
        "no line gets a box from its auxiliary geometry datasets (KEPAuxPartDatasetType, "
        "KEPAuxModelDatasetType, KEPAuxCgrDatasetType, KEPAuxRepDatasetType and KEPArchiveDatasetType are "
        "all needed)";
    for (const char* key : {"KEPAuxPartDatasetType", "KEPAuxModelDatasetType", "KEPAuxCgrDatasetType",
                            "KEPAuxRepDatasetType", "KEPArchiveDatasetType"}) {
        if (!type_key(reader, &f, key, aux_effect)) {
            break;
        }
    }
    const std::string structure_effect =
        "no line gets a box from its product structure datasets, and an assembly keeps the platform's "
        "bl_jt_dataset_tag where no dataset is picked for it";
    relation_key(reader, &f, "KEPProductDatasetRelation", structure_effect);
    type_key(reader, &f, "KEPProductDatasetType", structure_effect);
    return f;
}

Feature check_jt(SiteReader& reader, const Feature& modon_parts, const Feature& boxes_3d,
                 const Feature& filter) {
    Feature f{"JT dataset tags", {}};
    std::string error;
    if (reader.relation_known("IMAN_Rendering", &error)) {
        add(&f, Level::Ok, "IMAN_Rendering is a relation type: DirectModel datasets are found under it");
    } else {
        add(&f, Level::Note,
            "IMAN_Rendering is not a relation type the platform knows" +
                (error.empty() ? "" : " (" + error + ")") +
                ": DirectModel datasets are looked for under every relation");
    }
    if (reader.type_known("DirectModel")) {
        add(&f, Level::Ok, "DirectModel is a type: its JTPART reference gives the tag");
    } else {
        add(&f, Level::Missing,
            "DirectModel is not a type the platform knows: bl_jt_dataset_tag reads the null tag wherever a "
            "dataset is picked");
    }
    needs(&f, modon_parts, "bl_jt_dataset_tag keeps the platform's value on every line");
    needs(&f, boxes_3d,
          "a line without a mod-on representation gets no JT dataset tag from its own geometry");
    needs(&f, filter, "no dataset is picked where there is more than one candidate");
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
    for (const Switch& s : switches) {
        const char* value = TC_getenv(s.name);
        const bool on = value != nullptr && std::strcmp(value, "ON") == 0;
        add(&f, Level::Ok, std::string(s.name) + (on ? " is ON: " : " is not ON: ") + (on ? s.on : s.off));
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
    Feature modon_parts = check_modon_parts(reader);
    Feature modon_products = check_modon_products(reader);
    Feature filter = check_filter(reader);
    Feature boxes_3d = check_3d_boxes(reader);
    Feature boxes_aux = check_aux_boxes(reader);
    Feature jt = check_jt(reader, modon_parts, boxes_3d, filter);
    needs(&boxes_3d, modon_parts, "a line that has 3D geometry datasets gets no box");
    needs(&boxes_3d, filter, "a line with more than one candidate dataset gets no box");
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
    out << "\n";
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
