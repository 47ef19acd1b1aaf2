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
#include "kep_check.h"

#include <algorithm>

#include "kep_check_features.h"

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
    using namespace detail;
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
