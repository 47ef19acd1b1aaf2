// The reasons of a line without a box: the table of their words, and the reasons past the first,
// gathered once the walk is over from what the walk told and from reads of the explanation's own.
#include "registration/kep_explain_reasons.h"

#include <algorithm>
#include <cstring>

#include "kep_mem.h"
#include "lookup/kep_lookup.h"
#include "registration/kep_explain_account.h"

namespace kep {
namespace {

const ReasonRow kRows[] = {
    {Reason::MissingPreference, "missing preference ", "missing preference KEY"},
    {Reason::NoDataset, "no dataset of the configured types", "no dataset of the configured types"},
    {Reason::UnknownRelation, "unknown relation ", "unknown relation NAME"},
    {Reason::NotUnderRelation, "not under the relation: ",
     "not under the relation: dataset ... is related to the revision, but not under "
     "KEPProductDatasetRelation"},
    {Reason::FilterChoseNothing,
     "the representation filter chose no dataset: ", "the representation filter chose no dataset: ..."},
    {Reason::NoForm, "no form: dataset ", "no form: dataset ... has no VAR2BBInfo form"},
    {Reason::SearchCallFailed, "the search's call ", "the search's call OP failed with status N"},
    {Reason::NotFinite, "values not finite: ", "values not finite: ..."},
    {Reason::OnlyVisualisation, "only visualisation datasets", "only visualisation datasets"},
    {Reason::NotWalked, "not walked: ", "not walked: ... is packed into the top line"},
    {Reason::NoRevision, "the line has no item revision", "the line has no item revision"},
};

}  // namespace

const ReasonRow* reason_rows(int* count) noexcept {
    *count = static_cast<int>(sizeof kRows / sizeof kRows[0]);
    return kRows;
}

const char* reason_lead(Reason reason) noexcept {
    for (const ReasonRow& row : kRows) {
        if (row.reason == reason) {
            return row.lead;
        }
    }
    return "";
}

}  // namespace kep

KEP_EXPLAIN_NAMESPACE_BEGIN
namespace {

bool reason_begins(const Str& text, Reason reason) {
    const Str lead = reason_lead(reason);
    return text.compare(0, lead.size(), lead) == 0;
}

// The name of an object's type; "" when it cannot be read (the failure is cleared).
Str type_name_of(tag_t object) {
    tag_t type = NULLTAG;
    char name[TCTYPE_name_size_c + 1] = "";
    if (TCTYPE_ask_object_type(object, &type) != 0 || TCTYPE_ask_name(type, name) != 0) {
        EMH_clear_errors();
        return "";
    }
    name[TCTYPE_name_size_c] = '\0';
    return name;
}

// The first value of a preference; "" when it has none or the read fails (the failure is cleared).
Str preference_read_here(const char* key) {
    int count = 0;
    kep::MemPtr<char> value;
    if (PREF_ask_value_count(key, &count) != 0 || count < 1 ||
        PREF_ask_char_value(key, 0, value.out()) != 0) {
        EMH_clear_errors();
        return "";
    }
    return value ? value.get() : "";
}

// A preference as the walk read it, else as the explanation reads it.
Str preference_of(const BoxAccount& box, const char* key) {
    for (const auto& p : box.preferences) {
        if (p.first == key) {
            return p.second;
        }
    }
    return preference_read_here(key);
}

// Whether a dataset is marked a visualisation dataset, read as the collection reads it; false when
// the mark cannot be read (the failure is cleared).
bool visualisation_here(tag_t dataset) {
    int count = 0;
    kep::MemPtr<tag_t> forms;
    if (AE_ask_all_dataset_named_refs(dataset, "VAR2TypeInfo", &count, forms.out()) != 0) {
        EMH_clear_errors();
        return false;
    }
    if (count != 1 || !forms || forms.get()[0] == NULLTAG) {
        return false;
    }
    kep::MemPtr<char> type;
    if (AOM_ask_value_string(forms.get()[0], "var2_type", type.out()) != 0) {
        EMH_clear_errors();
        return false;
    }
    return type && std::strcmp(type.get(), "VISUALIZATION") == 0;
}

// What the datasets that the collection did not look at would give once the listed causes are
// fixed: whether one of them is asked for its box, and the visualisation datasets among them.
struct Hidden {
    bool asked = false;
    Vec<tag_t> visualisation;
};

// A dataset the collection meets once the listed causes are fixed: a visualisation dataset is left
// out; another one without its single box form is a reason.
void hidden_dataset(tag_t dataset, Hidden& hidden, Vec<Str>& reasons) {
    if (visualisation_here(dataset)) {
        hidden.visualisation.push_back(dataset);
        return;
    }
    hidden.asked = true;
    int count = 0;
    kep::MemPtr<tag_t> forms;
    if (AE_ask_all_dataset_named_refs(dataset, "VAR2BBInfo", &count, forms.out()) != 0) {
        EMH_clear_errors();
        return;
    }
    if (count != 1 || !forms || forms.get()[0] == NULLTAG) {
        reasons.push_back(no_form_reason(dataset, count));
    }
}

bool met(const BoxAccount& box, tag_t dataset) {
    const auto in = [dataset](const Vec<tag_t>& tags) {
        return std::find(tags.begin(), tags.end(), dataset) != tags.end();
    };
    return in(box.box_forms_asked) || in(box.ignored) || in(box.datasets);
}

// The auxiliary geometry datasets hidden by a missing type preference of their set: those of the
// types the set's other preferences name, told right after that preference. Which type the missing
// one will name is not known, so the datasets of that type are not looked at.
void auxiliary_reasons(Explanation& e, Hidden& hidden) {
    static const char* const kKeys[] = {KEP_PREF_AUX_PART_DATASET_TYPE, KEP_PREF_AUX_MODEL_DATASET_TYPE,
                                        KEP_PREF_AUX_CGR_DATASET_TYPE, KEP_PREF_AUX_REP_DATASET_TYPE,
                                        KEP_PREF_ARCHIVE_DATASET_TYPE};
    BoxAccount& box = e.box;
    Str missing;
    for (const auto& p : box.preferences) {
        for (const char* key : kKeys) {
            if (p.first == key && p.second.empty()) {
                missing = p.first;
            }
        }
    }
    if (missing.empty()) {
        return;
    }
    Vec<Str> types;
    for (const char* key : kKeys) {
        const Str value = preference_of(box, key);
        if (!value.empty()) {
            types.push_back(value);
        }
    }
    Vec<Str> reasons;
    for (size_t i = 0; i < box.related.size(); ++i) {
        if (std::find(types.begin(), types.end(), e.related_types[i]) != types.end() &&
            !met(box, box.related[i])) {
            hidden_dataset(box.related[i], hidden, reasons);
        }
    }
    auto at =
        std::find(box.reasons.begin(), box.reasons.end(), reason_lead(Reason::MissingPreference) + missing);
    at = at == box.reasons.end() ? at : at + 1;
    box.reasons.insert(at, reasons.begin(), reasons.end());
}

// The product structure datasets the search did not look at: those of the configured type related
// to the revision under another relation than the configured one (or under any, when the platform
// knows no relation of the configured name), and their box forms. A visualisation dataset among
// them is no reason: moving it would give no box.
void structure_reasons(Explanation& e, Hidden& hidden) {
    BoxAccount& box = e.box;
    const Str relation = preference_of(box, KEP_PREF_PRODUCT_DATASET_RELATION);
    const Str type = preference_of(box, KEP_PREF_PRODUCT_DATASET_TYPE);
    if (relation.empty() || type.empty()) {
        return;  // told as a missing preference when the walk read it
    }
    for (size_t i = 0; i < box.related.size(); ++i) {
        const tag_t dataset = box.related[i];
        if (e.related_types[i] != type || std::find(box.structure_listed.begin(), box.structure_listed.end(),
                                                    dataset) != box.structure_listed.end()) {
            continue;
        }
        if (visualisation_here(dataset)) {
            hidden.visualisation.push_back(dataset);
            continue;
        }
        if (!box.unknown_relation) {
            Str text = reason_lead(Reason::NotUnderRelation);
            text += "dataset @" + tag_text(dataset);
            text += " of type \"" + type;
            text += "\" is related to the revision, but not under \"" + relation;
            text += "\" (" KEP_PREF_PRODUCT_DATASET_RELATION ")";
            box.reasons.push_back(text);
        }
        hidden_dataset(dataset, hidden, box.reasons);
    }
}

}  // namespace

Str no_form_reason(tag_t dataset, int count) {
    return reason_lead(Reason::NoForm) + ("@" + tag_text(dataset)) +
           (count == 0  ? " has no VAR2BBInfo form"
            : count > 1 ? " has " + to_text(count) + " VAR2BBInfo forms, not one"
                        : Str(" has a null VAR2BBInfo reference"));
}

void gather_reasons(Explanation& e) {
    BoxAccount& box = e.box;
    for (const tag_t t : box.related) {
        e.related_types.push_back(type_name_of(t));
    }
    // Visualisation datasets are a reason only when every dataset the collection met is one: a
    // dataset that is none was asked for its box, and what it lacks is told.
    Vec<Str> reasons;
    bool visualisation_told = !box.box_forms_asked.empty();
    for (const Str& r : box.reasons) {
        if (reason_begins(r, Reason::OnlyVisualisation)) {
            if (visualisation_told) {
                continue;
            }
            visualisation_told = true;
        }
        reasons.push_back(r);
    }
    box.reasons = std::move(reasons);
    if (box.path == "collection" && e.revision != NULLTAG && box.related_seen) {
        Hidden hidden;
        auxiliary_reasons(e, hidden);
        structure_reasons(e, hidden);
        // When every dataset the collection would meet is a visualisation dataset, that is the reason.
        const bool told = std::any_of(box.reasons.begin(), box.reasons.end(), [](const Str& r) {
            return reason_begins(r, Reason::OnlyVisualisation);
        });
        if (!told && !hidden.asked && box.box_forms_asked.empty() && !hidden.visualisation.empty()) {
            box.reasons.push_back(reason_lead(Reason::OnlyVisualisation) +
                                  (": @" + tag_text(hidden.visualisation.front()) + " is one"));
        }
    }
    if (box.reasons.empty()) {
        box.reasons.push_back(reason_lead(Reason::NoDataset));
    }
    box.reason = box.reasons.front();
}

void settle_box(Explanation& e) {
    if (e.status != 0) {
        e.box.has_box = e.box.has_box && e.object != nullptr;  // a failure, not a reason
    } else if (!e.box.done && e.box.reason.empty()) {
        e.box.reason = e.walk_status != 0 ? "the walk failed with status " + to_text(e.walk_status) +
                                                " before it asked for this line's box"
                                          : "the walk did not reach this line";
    } else if (e.box.has_box && e.object == nullptr) {
        e.box.has_box = false;
        e.box.reason = "the box lookup failed (status " + to_text(e.walk_status) + ")";
    } else if (!e.box.has_box && e.box.done && e.not_walked.empty()) {
        gather_reasons(e);
        return;
    }
    e.box.reasons.clear();
    if (!e.box.has_box) {
        e.box.reasons.push_back(e.box.reason);
    }
}

Str set_name(kep::GeometrySet set) {
    switch (set) {
        case kep::GeometrySet::ThreeD:
            return "3D geometry";
        case kep::GeometrySet::Auxiliary:
            return "auxiliary geometry";
        case kep::GeometrySet::Structure:
            return "product structure";
    }
    return "";
}
Str source_word(kep::OccurrenceSource source) {
    switch (source) {
        case kep::OccurrenceSource::Stored:
            return "stored";
        case kep::OccurrenceSource::Representation:
            return "representation";
        case kep::OccurrenceSource::Kept:
            return "kept";
    }
    return "";
}
Str filter_words(const kep::decision::FilterChoice& c) {
    switch (c.reason) {
        case kep::FilterReason::SuffixWanted:
            return "its suffix is the wanted alternative representation (" +
                   Str(c.wanted != nullptr ? c.wanted : "") + ")";
        case kep::FilterReason::MasterWanted:
            return "it is a master dataset and the master representation is wanted (" +
                   Str(c.wanted != nullptr ? c.wanted : "") + ")";
        case kep::FilterReason::LoneCandidate:
            return "the only candidate, taken because KEPAltRepList is empty";
        case kep::FilterReason::NoActualList:
            return "the representation filter is on but KEPActualAltRepList names no representation";
        case kep::FilterReason::NoCandidates:
            return "no candidates";
        case kep::FilterReason::NoneWanted:
            return "no candidate is of a wanted representation";
    }
    return "";
}

KEP_EXPLAIN_NAMESPACE_END
