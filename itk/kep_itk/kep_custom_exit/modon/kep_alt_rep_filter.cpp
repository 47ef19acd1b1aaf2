// The alternative representation filter: picks from a set of candidate datasets the one whose
// representation (the suffix of its name) the site's preferences ask for.
#include <string.h>

#include "base/kep_observer.h"
#include "kep_mem.h"
#include "kep_trace.h"
#include "lookup/kep_lookup.h"
#include "lookup/kep_lookup_memo.h"
#include "lookup/kep_memo.h"
#include "modon/kep_modon.h"

namespace {

bool is_text(const char* s) { return s != nullptr && s[0] != '\0'; }

// The suffix as a text of its own (for the log and the comparisons); null when the name has
// none, or when no memory is left, which counts as no suffix as well.
char* suffix_copy(const char* name) {
    size_t offset = 0;
    size_t length = 0;
    if (kep_alt_rep_suffix(name, &offset, &length) == 0 || length >= 0x7fffffff) {
        return nullptr;
    }
    char* suffix = static_cast<char*>(MEM_alloc(static_cast<int>(length + 1)));
    if (suffix != nullptr) {
        memcpy(suffix, name + offset, length);
        suffix[length] = '\0';
    }
    return suffix;
}

// What the site asks for, read from the three preferences. The wanted names point into the
// preference lists; the lists own them.
struct Preferences {
    kep::TextList alt_rep_list;  // entry 0: master name; 1 and on: alternative names
    kep::Text use_alt_rep_filter;
    kep::TextList actual_alt_rep_list;

    const char* master() const { return alt_rep_list.count() > 0 ? alt_rep_list[0] : nullptr; }

    // Index of the alternative name equal to suffix, or -1.
    int alternative_index(const char* suffix) const {
        for (int i = 1; i < alt_rep_list.count(); ++i) {
            if (alt_rep_list[i] != nullptr && strcmp(alt_rep_list[i], suffix) == 0) {
                return i;
            }
        }
        return -1;
    }
};

// kNext: not this one; otherwise chosen, by its suffix or as a master dataset.
enum class Verdict { kNext, kSuffix, kMaster };

// Judges one candidate for the wanted name W. Alternative representation datasets can only be
// chosen by their own name; every other dataset (no suffix, or an unlisted one) is a master
// dataset and can only be chosen by the master name.
Verdict judge(const Preferences& prefs, const char* name, const char* wanted) {
    kep_log("DatasetName: %s \n", name);
    kep::MemPtr<char> suffix(suffix_copy(name));
    if (suffix) {
        kep_log("possible AltRep: %s \n", suffix.get());
        if (prefs.alternative_index(suffix.get()) >= 0) {
            kep_log("AltRep: %s \n", suffix.get());
            if (strcmp(suffix.get(), wanted) == 0) {
                kep_log("exact alt rep match found \n");
                return Verdict::kSuffix;
            }
            return Verdict::kNext;
        }
    }
    const char* master = prefs.master();
    if (master != nullptr && strcmp(wanted, master) == 0) {
        kep_log("exact MASTER match found \n");
        return Verdict::kMaster;
    }
    return Verdict::kNext;
}

int filter_alt_rep(const tag_t* datasets, int count_datasets, tag_t* dataset) {
    kep::FunctionTrace trace("kep_filter_alt_rep_for_dataset");
    *dataset = NULLTAG;
    kep::Step step;
    Preferences prefs;

    step.call("kep_get_preference_list(\"KEPAltRepList\", &count_alt_rep_list, &alt_rep_list)",
              [&] { return kep::ask_preference_list(KEP_PREF_ALT_REP_LIST, prefs.alt_rep_list); });
    step.call("kep_get_preference(\"KEPUseAltRepFilter\", &use_alt_rep_filter)",
              [&] { return kep::ask_preference(KEP_PREF_USE_ALT_REP_FILTER, prefs.use_alt_rep_filter); });
    kep::observe_preference_list(KEP_PREF_ALT_REP_LIST, prefs.alt_rep_list.get(), prefs.alt_rep_list.count());
    kep::observe_filter_switch(KEP_PREF_USE_ALT_REP_FILTER, prefs.use_alt_rep_filter.get());

    // The names to try, most wanted last.
    const char* const* wanted = nullptr;
    int count_wanted = 0;
    const char* master = prefs.master();
    if (prefs.use_alt_rep_filter && strcmp(prefs.use_alt_rep_filter.get(), "1") == 0) {
        step.call(
            "kep_get_preference_list(\"KEPActualAltRepList\", &count_actual_alt_rep_list, "
            "&actual_set_alt_rep_list)",
            [&] {
                return kep::ask_preference_list(KEP_PREF_ACTUAL_ALT_REP_LIST, prefs.actual_alt_rep_list);
            });
        if (prefs.actual_alt_rep_list.count() <= 0 || !prefs.actual_alt_rep_list) {
            // Not a platform failure and deliberately left without clearing the error stack.
            kep_log("could not retrieve the preference KEPActualAltRepList\n");
            kep::observe_filter_choice(NULLTAG, nullptr, kep::FilterReason::NoActualList);
            return step.status();
        }
        kep::observe_preference_list(KEP_PREF_ACTUAL_ALT_REP_LIST, prefs.actual_alt_rep_list.get(),
                                     prefs.actual_alt_rep_list.count());
        wanted = prefs.actual_alt_rep_list.get();
        count_wanted = prefs.actual_alt_rep_list.count();
    } else if (master != nullptr) {
        wanted = &master;
        count_wanted = 1;
    }

    // Precedence: wanted name first (last entry first), then the candidates' order.
    bool chosen = false;
    for (int w = count_wanted - 1; w >= 0 && !chosen; --w) {
        if (!is_text(wanted[w])) {
            continue;
        }
        for (int j = 0; j < count_datasets && !chosen; ++j) {
            kep::Text object_name;
            step.call("AOM_ask_value_string(datasets[j],\"object_name\",&object_name)",
                      [&] { return kep::ask_value_string(datasets[j], "object_name", object_name); });
            if (!is_text(object_name.get())) {
                continue;
            }
            const Verdict verdict = judge(prefs, object_name.get(), wanted[w]);
            if (verdict != Verdict::kNext) {
                *dataset = datasets[j];
                chosen = true;
                kep::observe_filter_choice(datasets[j], wanted[w],
                                           verdict == Verdict::kSuffix ? kep::FilterReason::SuffixWanted
                                                                       : kep::FilterReason::MasterWanted);
            }
        }
    }

    if (!chosen) {
        // A lone candidate is taken as it is only when the site names no representations at all.
        if (prefs.alt_rep_list.count() <= 0 && count_datasets == 1) {
            *dataset = datasets[0];
            kep_log("default dataset found\n");
            kep::observe_filter_choice(datasets[0], nullptr, kep::FilterReason::LoneCandidate);
        } else {
            kep_log("correct dataset not found\n");
            kep::observe_filter_choice(
                NULLTAG, nullptr,
                count_datasets == 0 ? kep::FilterReason::NoCandidates : kep::FilterReason::NoneWanted);
        }
    }

    kep::clear_errors();
    return step.status();
}

}  // namespace

extern "C" int kep_alt_rep_suffix(const char* dataset_name, size_t* suffix_offset, size_t* suffix_length) {
    *suffix_offset = 0;
    *suffix_length = 0;
    if (dataset_name == nullptr) {
        return 0;
    }
    // The revision part after the last "/" is not part of the representation name.
    const char* end = strrchr(dataset_name, '/');
    if (end == nullptr) {
        end = dataset_name + strlen(dataset_name);
    }
    for (const char* p = end; p != dataset_name; --p) {
        if (p[-1] == '.') {
            *suffix_offset = static_cast<size_t>(p - dataset_name);
            *suffix_length = static_cast<size_t>(end - p);
            return 1;
        }
    }
    return 0;
}

extern "C" int kep_filter_alt_rep_for_dataset(const tag_t* datasets, int count_datasets, tag_t* dataset) {
    return filter_alt_rep(datasets, count_datasets, dataset);
}
