/*
 * Objects related to an object, the two type filters over such lists, and the parent of a line.
 *
 * Each function clears the platform's error stack before it returns, so that a failure it traced
 * does not linger for its caller. Lists handed out are single MEM_alloc blocks of tags.
 */
#include <cstring>

#include "base/kep_observer.h"
#include "base/kep_status.h"
#include "kep_mem.h"
#include "kep_trace.h"
#include "lookup/kep_lookup.h"
#include "lookup/kep_lookup_memo.h"
#include "lookup/kep_memo.h"

namespace {

using kep::kNoMemory;

// The two filters differ only in the test a type name must pass.
template <class Match>
int filter_by_type(const tag_t* datasets, int count_datasets, Match&& matches, tag_t** filtered_datasets,
                   int* count_filtered) {
    char current_type_name[TCTYPE_name_size_c + 1] = "";
    // Allocated once at full input size, also when nothing will be kept: callers release the
    // result of every call.
    kep::MemPtr<tag_t> kept(kep::mem_alloc_array<tag_t>(count_datasets));
    if (!kept) {
        // No room for the result: nothing is asked, and the status says why.
        kep::clear_errors();
        return kNoMemory;
    }
    int count_kept = 0;
    kep::Step step;

    for (int i = 0; i < count_datasets && step.ok() && datasets != nullptr; ++i) {
        tag_t dataset_type = NULLTAG;
        step.call("TCTYPE_ask_object_type (datasets[i], &dataset_type)",
                  [&] { return kep::ask_object_type(datasets[i], &dataset_type); });
        step.call("TCTYPE_ask_name(dataset_type, current_type_name)",
                  [&] { return kep::ask_type_name(dataset_type, current_type_name); });
        current_type_name[TCTYPE_name_size_c] = '\0';
        if (step.ok() && matches(current_type_name)) {
            kept[count_kept++] = datasets[i];
        }
    }

    // A failed type query ends the filtering; what was kept until then is handed out with it.
    kep::clear_errors();
    if (filtered_datasets != nullptr && count_filtered != nullptr) {
        *filtered_datasets = kept.release();
        *count_filtered = count_kept;
    }
    return step.status();
}

}  // namespace

extern "C" int kep_get_datasets(tag_t object, const char* relation, tag_t** datasets, int* count_datasets) {
    if (datasets != nullptr) {
        *datasets = nullptr;
    }
    if (count_datasets != nullptr) {
        *count_datasets = 0;
    }
    kep::FunctionTrace trace("kep_get_datasets");

    tag_t relation_type = NULLTAG;
    kep::Step step;
    if (relation != nullptr && relation[0] != '\0') {
        step.call("GRM_find_relation_type(relation, &relation_type)",
                  [&] { return kep::ask_relation_type(relation, &relation_type); });
        if (!step.ok()) {
            kep::clear_errors();
            return step.status();
        }
        // The platform answers an unknown name with the null type, which would list the objects
        // under every relation: a misspelt relation name must narrow the lookup to nothing, not
        // widen it to everything.
        if (relation_type == NULLTAG) {
            kep_log("relation type [%s] not found, no related objects listed\n", relation);
            kep::observe_unknown_relation(object, relation);
            kep::clear_errors();
            return 0;
        }
    }

    int count = 0;
    kep::MemPtr<tag_t> list;
    step.call("GRM_list_secondary_objects_only(object, relation_type, count_datasets, datasets)",
              [&] { return GRM_list_secondary_objects_only(object, relation_type, &count, list.out()); });
    kep::clear_errors();
    if (step.ok() && datasets != nullptr && count_datasets != nullptr) {
        *datasets = list.release();
        *count_datasets = count;
    }
    return step.status();
}

extern "C" int kep_filter_datasets(const tag_t* datasets, int count_datasets, const char* type_name,
                                   tag_t** filtered_datasets, int* count_filtered) {
    if (filtered_datasets != nullptr) {
        *filtered_datasets = nullptr;
    }
    if (count_filtered != nullptr) {
        *count_filtered = 0;
    }
    kep::FunctionTrace trace("kep_filter_datasets");
    return filter_by_type(
        datasets, count_datasets,
        [&](const char* name) { return type_name != nullptr && std::strcmp(name, type_name) == 0; },
        filtered_datasets, count_filtered);
}

extern "C" int kep_filter_datasets2(const tag_t* datasets, int count_datasets, const char** type_array,
                                    int type_count, tag_t** filtered_datasets, int* count_filtered) {
    if (filtered_datasets != nullptr) {
        *filtered_datasets = nullptr;
    }
    if (count_filtered != nullptr) {
        *count_filtered = 0;
    }
    kep::FunctionTrace trace("kep_filter_datasets2");
    return filter_by_type(
        datasets, count_datasets,
        [&](const char* name) {
            // One equal name is enough; a dataset is kept once however many names equal its type.
            for (int t = 0; t < type_count && type_array != nullptr; ++t) {
                if (type_array[t] != nullptr && std::strcmp(name, type_array[t]) == 0) {
                    return true;
                }
            }
            return false;
        },
        filtered_datasets, count_filtered);
}

extern "C" int kep_get_parent(tag_t line, tag_t* parent) {
    if (parent != nullptr) {
        *parent = NULLTAG;
    }
    kep::FunctionTrace trace("kep_get_parent");

    int parent_tag_attr = 0;
    tag_t parent_object = NULLTAG;
    kep::Step step;
    step.call("BOM_line_look_up_attribute(bomAttr_lineParentTag, &parent_tag_attr)",
              [&] { return kep::ask_attribute_id(bomAttr_lineParentTag, &parent_tag_attr); });
    step.call("BOM_line_ask_attribute_tag(object_tag, parent_tag_attr, &parent_object)",
              [&] { return kep::ask_line_tag(line, parent_tag_attr, &parent_object); });
    kep::clear_errors();
    // The top line of a structure has the null parent; callers stop their upward walk there.
    if (step.ok() && parent != nullptr) {
        *parent = parent_object;
    }
    return step.status();
}

// ---- Through the call memo -------------------------------------------------------------------

namespace kep {

namespace {

// Related objects of an object, and a kept list filtered by type, kept for the call.
const Topic<KeptTags> kDatasetsTopic{TopicId::Datasets};
const Topic<KeptTags> kFilteredTopic{TopicId::Filtered};

// Hands out a kept list in place of a list of the caller's own.
void lend_list(Tags& list, const KeptTags& kept) {
    if (kept.count > 0) {
        list.lend(kept.tags, kept.count, kept.id);
    }
}

}  // namespace

int ask_datasets(tag_t object, const char* relation, Tags& datasets) {
    return ask_through(
        kDatasetsTopic, object, relation, nullptr,
        [&] { return kep_get_datasets(object, relation, datasets.out(), datasets.count_out()); },
        [&](const KeptTags& kept) {
            datasets.lend(kept.tags, kept.count, kept.id);
            clear_errors();
            return 0;
        },
        [&](CallMemo& memo) {
            return Keep<KeptTags>::record(kept_tags(memo, datasets.get(), datasets.count()));
        },
        [&](const KeptTags& kept) { lend_list(datasets, kept); });
}

int ask_filtered(const Tags& datasets, const char* type_name, Tags& filtered) {
    const auto ask = [&] {
        return kep_filter_datasets(datasets.get(), datasets.count(), type_name, filtered.out(),
                                   filtered.count_out());
    };
    // Only a kept list can be named (by its number) in a kept answer.
    if (datasets.kept_list() == 0) {
        return ask();
    }
    return ask_through(
        kFilteredTopic, datasets.kept_list(), type_name, nullptr, ask,
        [&](const KeptTags& kept) {
            filtered.lend(kept.tags, kept.count, kept.id);
            clear_errors();
            return 0;
        },
        [&](CallMemo& memo) {
            return Keep<KeptTags>::record(kept_tags(memo, filtered.get(), filtered.count()));
        },
        [&](const KeptTags& kept) { lend_list(filtered, kept); });
}

bool datasets_retell_decisions() noexcept {
    const CallMemo* memo = active_memo();
    return memo != nullptr && observer() != nullptr && kept_with_decisions(*memo, TopicId::Datasets);
}

bool retell_datasets(const tag_t* objects, size_t count, const char* relation) noexcept {
    const CallMemo* memo = active_memo();
    if (memo == nullptr) {
        return false;
    }
    for (size_t i = 0; i < count; ++i) {
        memo_detail::Answer kept{};
        if (!memo_detail::find(*memo,
                               memo_detail::topic_question(TopicId::Datasets, objects[i], relation, nullptr),
                               &kept)) {
            return false;
        }
    }
    for (size_t i = 0; i < count; ++i) {
        memo_detail::retell(*memo,
                            memo_detail::topic_question(TopicId::Datasets, objects[i], relation, nullptr));
    }
    return true;
}

}  // namespace kep
