// The representation filter's feature of the preflight check (kep_check_features.h).
#include <algorithm>
#include <cstddef>

#include "kep_check_features.h"

namespace kep_check {
namespace detail {

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
            // Set, but not to 1: a site that wrote "true", "ON" or "1 " may have meant it on.
            add(&f, Level::Note,
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

}  // namespace detail
}  // namespace kep_check
