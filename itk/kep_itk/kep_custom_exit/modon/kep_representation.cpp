// The representation of a line: the one dataset that the mod-on host lookup and the alternative
// representation filter pick, for a line's box and for its JT dataset tag alike.
#include "base/kep_observer.h"
#include "kep_mem.h"
#include "kep_trace.h"
#include "lookup/kep_lookup.h"
#include "lookup/kep_lookup_memo.h"
#include "lookup/kep_memo.h"
#include "modon/kep_modon.h"

namespace {

bool has_text(const char* value) { return value != nullptr && value[0] != '\0'; }

// One of the two preferences, told to the observer when it observes; false, and logged, when the
// preference is missing.
bool ask_key(const char* key, const char* statement, kep::Text& value, bool observed, kep::Step& step) {
    step.call(statement, [&] { return kep::ask_preference(key, value); });
    if (observed) {
        kep::observe_preference(key, value.get());
    }
    if (!has_text(value.get())) {
        kep_log("could not retrieve %s from preferences\n", key);
        return false;
    }
    return true;
}

}  // namespace

namespace kep {

Representation pick_representation(tag_t line, const tag_t* datasets, int count_datasets,
                                   const RepresentationPolicy& policy, Step& step) {
    const bool go_on = policy.failures == RepresentationFailures::NothingPicked;
    Representation picked{NULLTAG, NULLTAG, false};

    Text relation_modon_3dgeo;
    if (!ask_key(KEP_PREF_MODON_PART_DATASET_RELATION,
                 "kep_get_preference(\"" KEP_PREF_MODON_PART_DATASET_RELATION "\", &relation_modon_3dgeo)",
                 relation_modon_3dgeo, policy.observed, step)) {
        picked.stop = !go_on;
        return picked;
    }
    Text type_modon_3dgeo;
    if ((go_on || step.ok()) &&
        !ask_key(KEP_PREF_MODON_PART_DATASET_TYPE,
                 "kep_get_preference(\"" KEP_PREF_MODON_PART_DATASET_TYPE "\", &type_modon_3dgeo)",
                 type_modon_3dgeo, policy.observed, step)) {
        picked.stop = !go_on;
        return picked;
    }

    tag_t mod_on_host_tag = NULLTAG;
    Tags datasets_mod_on;
    step.call(policy.modon_statement, [&] {
        // Asked once per line and call: the answers on its way are kept, not its own.
        return kep_get_modon_for_bomline(line, relation_modon_3dgeo.get(), type_modon_3dgeo.get(),
                                         &mod_on_host_tag, datasets_mod_on.out(),
                                         datasets_mod_on.count_out());
    });
    if (policy.observed) {
        observe_mod_on_host(mod_on_host_tag, datasets_mod_on.get(), datasets_mod_on.count());
    }

    // With a mod-on host only its datasets count: when the filter rejects them all, nothing is
    // picked, and the line's own 3D geometry datasets are not tried instead.
    if (mod_on_host_tag != NULLTAG) {
        step.call(
            "kep_filter_alt_rep_for_dataset(datasets_mod_on, count_datasets_mod_on, &dataset_mod_on_tag)",
            [&] {
                return kep_filter_alt_rep_for_dataset(datasets_mod_on.get(), datasets_mod_on.count(),
                                                      &picked.dataset);
            });
        picked.carrier = mod_on_host_tag;
    } else {
        MemPtr<tag_t> datasets_3dgeo;
        int count_datasets_3dgeo = 0;
        if (policy.own_datasets_statement != nullptr) {
            step.call(policy.own_datasets_statement, [&] {
                return kep_get_3dgeo_for_bomline(line, datasets_3dgeo.out(), &count_datasets_3dgeo);
            });
            datasets = datasets_3dgeo.get();
            count_datasets = count_datasets_3dgeo;
        }
        step.call(policy.own_filter_statement,
                  [&] { return kep_filter_alt_rep_for_dataset(datasets, count_datasets, &picked.dataset); });
        picked.carrier = line;
    }
    if (go_on && !step.ok()) {
        picked.dataset = NULLTAG;
    }
    if (policy.observed) {
        observe_representation(line, picked.dataset);
    }
    return picked;
}

}  // namespace kep
