/*
 * The two preference readers: the first value of a preference and all values of a preference.
 *
 * Both read under the search scope TC_preference_all, so that a read does not depend on the scope
 * the caller has set, and put the caller's scope back afterwards. Neither caches: every call asks
 * the platform again, so a changed preference takes effect at its next use.
 */
#include "kep_mem.h"
#include "kep_trace.h"
#include "lookup/kep_lookup.h"
#include "lookup/kep_lookup_memo.h"
#include "lookup/kep_memo.h"

extern "C" int kep_get_preference(const char* pref_name, char** pref_value) {
    if (pref_value != nullptr) {
        *pref_value = nullptr;
    }
    kep::FunctionTrace trace("kep_get_preference");
    if (pref_name == nullptr) {
        return 0;
    }

    TC_preference_search_scope_t current_scope = TC_preference_all;
    int value_count = 0;
    kep::MemPtr<char> value;
    kep::Step step;

    step.call("PREF_ask_search_scope(&current_scope)", [&] { return PREF_ask_search_scope(&current_scope); });
    step.call("PREF_set_search_scope(TC_preference_all)",
              [&] { return PREF_set_search_scope(TC_preference_all); });
    // From here on the caller's scope has been replaced and must be put back on every way out.
    const bool scope_switched = step.ok();
    step.call("PREF_ask_value_count(pref_name, &value_count)",
              [&] { return PREF_ask_value_count(pref_name, &value_count); });
    if (value_count > 0) {
        // Only the first value of a multi-valued preference is read.
        step.call("PREF_ask_char_value(pref_name, 0, pref_value)",
                  [&] { return PREF_ask_char_value(pref_name, 0, value.out()); });
    }
    if (step.ok()) {
        step.call("PREF_set_search_scope(current_scope)",
                  [&] { return PREF_set_search_scope(current_scope); });
    } else if (scope_switched) {
        // A failed read must not leave the caller searching every scope. The restore is made
        // although a call has failed; the status handed back stays that first failure.
        kep::traced("PREF_set_search_scope(current_scope)",
                    [&] { return PREF_set_search_scope(current_scope); });
    }

    kep::clear_errors();
    if (value) {
        kep_log("preference[%s]=[%s] \n", pref_name, value.get());
    } else {
        kep_log("preference[%s] not found \n", pref_name);
    }
    if (pref_value != nullptr) {
        *pref_value = value.release();
    }
    return step.status();
}

extern "C" int kep_get_preference_list(const char* pref_name, int* list_count, char*** pref_values) {
    if (list_count != nullptr) {
        *list_count = 0;
    }
    if (pref_values != nullptr) {
        *pref_values = nullptr;
    }
    kep::FunctionTrace trace("kep_get_preference_list");
    // A null key names no preference: nothing is asked and the list stays empty.
    if (pref_name == nullptr) {
        return 0;
    }

    TC_preference_search_scope_t current_scope = TC_preference_all;
    int count = 0;
    kep::MemPtr<char*> values;
    kep::Step step;

    step.call("PREF_ask_search_scope(&current_scope)", [&] { return PREF_ask_search_scope(&current_scope); });
    // Without the caller's scope there is nothing to put back; setting current_scope now would
    // leave the caller searching every scope.
    const bool scope_known = step.ok();
    step.call("PREF_set_search_scope(TC_preference_all)",
              [&] { return PREF_set_search_scope(TC_preference_all); });
    step.call("PREF_ask_char_values(pref_name, list_count, pref_values)",
              [&] { return PREF_ask_char_values(pref_name, &count, values.out()); });
    if (!step.ok()) {
        count = 0;
        values.reset();
    }
    // The scope is put back whatever happened after it was saved, and only this restore decides
    // the status: a failed read reaches the caller as an empty list.
    int status = 0;
    if (scope_known) {
        status = kep::traced("PREF_set_search_scope(current_scope)",
                             [&] { return PREF_set_search_scope(current_scope); });
    }

    kep::clear_errors();
    kep_log("Found %d list entries\n", count);
    for (int i = 0; i < count; ++i) {
        kep_log(" %d: %s \n", i, values[i] != nullptr ? values[i] : "");
    }
    if (list_count != nullptr && pref_values != nullptr) {
        *list_count = count;
        *pref_values = values.release();
    }
    return status;
}

// ---- Through the call memo -------------------------------------------------------------------

namespace kep {

namespace {

// The answers of the two readers, kept for the call.
struct KeptPreference {
    const char* value;
};
const Topic<KeptPreference> kPreferenceTopic{TopicId::Preference};
const Topic<KeptTexts> kPreferenceListTopic{TopicId::PreferenceList};

}  // namespace

int ask_preference(const char* key, Text& value) {
    if (key == nullptr) {
        return kep_get_preference(key, value.out());
    }
    return ask_through(
        kPreferenceTopic, 0, key, nullptr, [&] { return kep_get_preference(key, value.out()); },
        [&](const KeptPreference& kept) {
            value.lend(kept.value);
            clear_errors();
            return 0;
        },
        [&](CallMemo& memo) { return Keep<KeptPreference>::record({kept_text(memo, value.get())}); });
}

int ask_preference_list(const char* key, TextList& values) {
    if (key == nullptr) {
        return kep_get_preference_list(key, values.count_out(), values.out());
    }
    return ask_through(
        kPreferenceListTopic, 0, key, nullptr,
        [&] { return kep_get_preference_list(key, values.count_out(), values.out()); },
        [&](const KeptTexts& kept) {
            values.lend(kept.texts, kept.count);
            clear_errors();
            return 0;
        },
        [&](CallMemo& memo) {
            return Keep<KeptTexts>::record(kept_texts(memo, values.get(), values.count()));
        },
        [&](const KeptTexts& kept) {
            if (kept.count > 0) {
                values.lend(kept.texts, kept.count);
            }
        });
}

}  // namespace kep
