// The mod-on host lookup: the walk from a line up to its top line, and the check of one ancestor
// for datasets that describe the line along exactly the occurrence path walked so far.
#include <string.h>

#include <memory>
#include <utility>
#include <vector>

#include "base/kep_local.h"
#include "base/kep_observer.h"
#include "base/kep_status.h"
#include "kep_mem.h"
#include "kep_trace.h"
#include "lookup/kep_lookup.h"
#include "lookup/kep_lookup_memo.h"
#include "lookup/kep_memo.h"
#include "modon/kep_modon.h"
#include "modon/kep_modon_memo.h"

namespace {

using kep::kNoMemory;

// Slots of the way-to-root list at the start; the list doubles whenever a walk needs more, so
// that no depth of structure is beyond it.
const int kWayToRootSlots = 1024;

bool is_text(const char* s) { return s != nullptr && s[0] != '\0'; }

// A null text reads as the empty one.
const char* text_or_empty(const char* s) { return s != nullptr ? s : ""; }

char* copy_text(const char* s) {
    const char* text = text_or_empty(s);
    const size_t length = strlen(text);
    char* copy = static_cast<char*>(MEM_alloc(static_cast<int>(length + 1)));
    if (copy != nullptr) {
        memcpy(copy, text, length + 1);
    }
    return copy;
}

// "<host item id>.<line item id>." in a block of exactly its size; null without memory.
char* modon_prefix(const char* host_item_id, const char* line_item_id) {
    const size_t host_length = strlen(host_item_id);
    const size_t line_length = strlen(line_item_id);
    char* prefix = static_cast<char*>(MEM_alloc(static_cast<int>(host_length + line_length + 3)));
    if (prefix != nullptr) {
        memcpy(prefix, host_item_id, host_length);
        prefix[host_length] = '.';
        memcpy(prefix + host_length + 1, line_item_id, line_length);
        prefix[host_length + 1 + line_length] = '.';
        prefix[host_length + line_length + 2] = '\0';
    }
    return prefix;
}

bool begins_with(const char* name, const char* prefix) { return strncmp(name, prefix, strlen(prefix)) == 0; }

// The form's occurrence path equals the way walked: same length, equal entry by entry.
bool path_matches(const kep::Values& form_path, char* const* way_to_root, int count_way_to_root) {
    if (form_path.count() != count_way_to_root) {
        return false;
    }
    for (int i = 0; i < count_way_to_root; ++i) {
        if (strcmp(text_or_empty(form_path[i]), text_or_empty(way_to_root[i])) != 0) {
            return false;
        }
    }
    return true;
}

// The way-to-root list of one walk: MEM_alloc'd slots, each a MEM_alloc'd copy of an occurrence
// name, released together.
class WayToRoot {
public:
    ~WayToRoot() {
        for (int i = 0; i < count_; ++i) {
            kep::mem_free(slots_[i]);
        }
        kep::mem_free(slots_);
    }
    // Makes room for one more entry; false when no memory is left.
    bool reserve_one() {
        if (count_ < capacity_) {
            return true;
        }
        const int capacity = capacity_ == 0 ? kWayToRootSlots : capacity_ * 2;
        if (capacity <= capacity_ || capacity > 0x7fffffff / static_cast<int>(sizeof(char*))) {
            return false;
        }
        char** slots = kep::mem_alloc_array<char*>(capacity);
        if (slots == nullptr) {
            return false;
        }
        memset(slots, 0, sizeof(char*) * static_cast<size_t>(capacity));
        if (count_ > 0) {
            memcpy(slots, slots_, sizeof(char*) * static_cast<size_t>(count_));
        }
        kep::mem_free(slots_);
        slots_ = slots;
        capacity_ = capacity;
        return true;
    }
    char** slots() const { return slots_; }
    int* count() { return &count_; }

private:
    char** slots_ = nullptr;
    int count_ = 0;
    int capacity_ = 0;
};

// Whether name begins with "<host item id>.<line item id>.", the prefix of the datasets that
// describe the line; null ids read as empty ones.
bool named_for(const char* name, const char* host_item_id, const char* line_item_id) {
    const char* host = text_or_empty(host_item_id);
    const char* line = text_or_empty(line_item_id);
    const size_t host_length = strlen(host);
    const size_t line_length = strlen(line);
    return strncmp(name, host, host_length) == 0 && name[host_length] == '.' &&
           strncmp(name + host_length + 1, line, line_length) == 0 &&
           name[host_length + 1 + line_length] == '.';
}

// ---- The walk's view of the lines above a line, kept for the call ---------------------------------
// What the walk from any line below `line` asks of `line` and the lines above it, kept once per
// call for each relation and dataset type: each line's item id and the names of its mod-on
// candidates (the datasets of that type related to its revision), and the nearest line above
// that has candidates. Building it asks exactly the walk's questions of each line (item id,
// revision, related objects and their filter, candidate names, the line's occurrence name when it
// has a parent, its parent), each once per call.
struct HostChain {
    const char* item_id;       // null when the line has none
    const char* const* names;  // the candidates' names, null entries included
    int name_count;
    const HostChain* above;  // the nearest line above with candidates, or null
};

// The chains, kept about lines.
const kep::Topic<HostChain> kChainTopic{kep::TopicId::HostChain};

// A failed question of the chain: no answer resting on it is kept; the walk asks it again and
// handles it.
const HostChain* chain_failed() noexcept {
    kep::refuse_keeping();
    return nullptr;
}

// Asks what the walk asks of `line` alone and keeps it with `above` (the kept chain of its parent).
const HostChain* build_chain(kep::CallMemo& memo, tag_t line, tag_t parent, const HostChain* above,
                             int item_id_attr, int occurrence_name_attr, int revision_tag_attr,
                             const char* relation, const char* type) {
    kep::Text item_id;
    kep::Text occurrence_name;
    tag_t revision = NULLTAG;
    if (kep::ask_line_string(line, item_id_attr, item_id) != 0 ||
        (parent != NULLTAG && kep::ask_line_string(line, occurrence_name_attr, occurrence_name) != 0) ||
        kep::ask_line_tag(line, revision_tag_attr, &revision) != 0) {
        return chain_failed();
    }
    kep::Tags datasets;
    kep::Tags candidates;
    if (kep::ask_datasets(revision, relation, datasets) != 0 ||
        (datasets.count() > 0 && kep::ask_filtered(datasets, type, candidates) != 0)) {
        return nullptr;  // traced inside the lookup
    }
    const HostChain* chain = kep::keep(memo, kChainTopic, line, relation, type, [&] {
        const char** names = candidates.count() > 0 ? kep::kept_records<const char*>(
                                                          memo, static_cast<size_t>(candidates.count()))
                                                    : nullptr;
        for (int i = 0; i < candidates.count(); ++i) {
            kep::Text name;
            if (kep::ask_value_string(candidates[i], "object_name", name) != 0) {
                return kep::Keep<HostChain>::nothing();
            }
            names[i] = kep::kept_text(memo, name.get());
        }
        return kep::Keep<HostChain>::record(
            HostChain{kep::kept_text(memo, item_id.get()), names, candidates.count(),
                      above != nullptr && above->name_count == 0 ? above->above : above});
    });
    return chain != nullptr ? chain : chain_failed();
}

// The chain of `line`; null without a memo or when a question failed (its entry may be on the error
// stack).
const HostChain* ask_host_chain(tag_t line, const char* relation, const char* type) {
    kep::CallMemo* memo = kep::active_memo();
    int item_id_attr = 0;
    int occurrence_name_attr = 0;
    int revision_tag_attr = 0;
    int parent_tag_attr = 0;
    if (memo == nullptr) {
        return nullptr;
    }
    if (kep::ask_attribute_id(bomAttr_itemId, &item_id_attr) != 0 ||
        kep::ask_attribute_id(bomAttr_occName, &occurrence_name_attr) != 0 ||
        kep::ask_attribute_id(bomAttr_lineItemRevTag, &revision_tag_attr) != 0 ||
        kep::ask_attribute_id(bomAttr_lineParentTag, &parent_tag_attr) != 0) {
        return chain_failed();
    }
    // The lines from `line` up to the first whose chain is kept (or the top line), bottom first;
    // then their chains from the top down, each resting on the one above it.
    try {
        std::vector<std::pair<tag_t, tag_t>, kep::LocalAllocator<std::pair<tag_t, tag_t>>>
            pending;  // line, parent
        const HostChain* above = nullptr;
        for (tag_t x = line; x != NULLTAG;) {
            if (const HostChain* kept = kep::find_kept(*memo, kChainTopic, x, relation, type)) {
                above = kept;
                break;
            }
            tag_t parent = NULLTAG;
            if (kep::ask_line_tag(x, parent_tag_attr, &parent) != 0) {
                return chain_failed();
            }
            pending.emplace_back(x, parent);
            x = parent;
        }
        for (size_t i = pending.size(); i-- > 0;) {
            above = build_chain(*memo, pending[i].first, pending[i].second, above, item_id_attr,
                                occurrence_name_attr, revision_tag_attr, relation, type);
            if (above == nullptr) {
                return nullptr;
            }
        }
        return above;
    } catch (...) {
        return chain_failed();
    }
}

// With the call's memo: true when no ancestor of `line` (whose parent is `parent`) has a candidate
// named for the line, so that the walk would find no host. Asks what the walk would ask (the
// line's occurrence name, and through the kept chain each ancestor's answers, once per call) but
// keeps no way-to-root list. False at the first candidate named for the line and after a failed
// question, which the walk then asks again and handles; the error stack is then cleared, as
// kep_get_parent just left it, so that it holds what the walk leaves and nothing more. False
// without a memo.
bool no_host_on_walk(tag_t line, tag_t parent, const char* source_part_number, const char* relation_modOn,
                     const char* type_modOn) {
    if (kep::active_memo() == nullptr) {
        return false;
    }
    if (parent == NULLTAG) {
        return true;
    }
    int occurrence_name_attr = 0;
    kep::Text instance_name;
    if (kep::ask_attribute_id(bomAttr_occName, &occurrence_name_attr) != 0 ||
        kep::ask_line_string(line, occurrence_name_attr, instance_name) != 0) {
        kep::refuse_keeping();
        kep::clear_errors();  // the walk has asked nothing yet: its stack is as kep_get_parent left it
        return false;
    }
    const HostChain* chain = ask_host_chain(parent, relation_modOn, type_modOn);
    if (chain == nullptr) {
        kep::clear_errors();  // the same: the walk asks again what failed, and leaves what it leaves
        return false;
    }
    for (const HostChain* c = chain; c != nullptr; c = c->above) {
        for (int i = 0; i < c->name_count; ++i) {
            if (is_text(c->names[i]) && named_for(c->names[i], c->item_id, source_part_number)) {
                return false;
            }
        }
    }
    return true;
}

// After no_host_on_walk ruled out every ancestor: what the walk's own questions would have told an
// observer, from the answers the chain kept (each ancestor's related objects under the relation,
// from the line's parent up), asking nothing. False when one of them is not kept; the walk then
// runs and tells them itself.
bool tell_walk_decisions(tag_t parent, const char* relation_modOn) {
    if (!kep::datasets_retell_decisions()) {
        return true;  // nobody listens, or nothing to tell
    }
    const kep::CallMemo& memo = *kep::active_memo();
    int revision_tag_attr = 0;
    int parent_tag_attr = 0;
    if (!kep::known_attribute_id(memo, bomAttr_lineItemRevTag, &revision_tag_attr) ||
        !kep::known_attribute_id(memo, bomAttr_lineParentTag, &parent_tag_attr)) {
        return false;
    }
    try {
        std::vector<tag_t, kep::LocalAllocator<tag_t>> revisions;
        for (tag_t line = parent; line != NULLTAG;) {
            tag_t revision = NULLTAG;
            tag_t above = NULLTAG;
            if (!kep::known_line_tag(memo, line, revision_tag_attr, &revision) ||
                !kep::known_line_tag(memo, line, parent_tag_attr, &above)) {
                return false;
            }
            revisions.push_back(revision);
            line = above;
        }
        return kep::retell_datasets(revisions.data(), revisions.size(), relation_modOn);
    } catch (...) {
        return false;
    }
}

int check_for_mod_on(tag_t parent_bomline_tag, tag_t child_bomline_tag, const char* source_part_number,
                     const char* relation_modOn, const char* type_modOn, char** way_to_root,
                     int* count_way_to_root, tag_t** act_datasets_mod_on, int* act_count_datasets_mod_on,
                     int* mod_on_flag) {
    kep::FunctionTrace trace("kep_check_for_mod_on");
    *act_datasets_mod_on = nullptr;
    *act_count_datasets_mod_on = 0;
    *mod_on_flag = 0;
    kep::Step step;

    const tag_t bomline_parent_object = parent_bomline_tag;
    const tag_t bomline_object_tag = child_bomline_tag;
    int item_id_attr = 0;
    int occurrence_name_attr = 0;
    int revision_tag_attr = 0;
    kep::Text parent_part_number;
    kep::Text instance_name;
    tag_t parent_object = NULLTAG;
    step.call("BOM_line_look_up_attribute(bomAttr_itemId, &item_id_attr)",
              [&] { return kep::ask_attribute_id(bomAttr_itemId, &item_id_attr); });
    step.call("BOM_line_ask_attribute_string(bomline_parent_object, item_id_attr, &parent_part_number)",
              [&] { return kep::ask_line_string(bomline_parent_object, item_id_attr, parent_part_number); });
    step.call("BOM_line_look_up_attribute(bomAttr_occName, &occurrence_name_attr)",
              [&] { return kep::ask_attribute_id(bomAttr_occName, &occurrence_name_attr); });
    step.call("BOM_line_ask_attribute_string(bomline_object_tag, occurrence_name_attr, &instance_name)",
              [&] { return kep::ask_line_string(bomline_object_tag, occurrence_name_attr, instance_name); });
    step.call("BOM_line_look_up_attribute(bomAttr_lineItemRevTag,&revision_tag_attr)",
              [&] { return kep::ask_attribute_id(bomAttr_lineItemRevTag, &revision_tag_attr); });
    step.call("BOM_line_ask_attribute_tag(bomline_parent_object, revision_tag_attr, &parent_object)",
              [&] { return kep::ask_line_tag(bomline_parent_object, revision_tag_attr, &parent_object); });
    if (!step.ok()) {
        // The step ends here, the way walked so far unchanged; the failure stays on the error stack.
        return step.status();
    }

    // The list keeps its own copy; the caller made room for it.
    way_to_root[*count_way_to_root] = copy_text(instance_name.get());
    *count_way_to_root += 1;

    kep::MemPtr<char> prefix(
        modon_prefix(text_or_empty(parent_part_number.get()), text_or_empty(source_part_number)));
    if (!prefix) {
        kep::clear_errors();
        return kNoMemory;
    }

    kep::Tags datasets;
    step.call("kep_get_datasets(parent_object, relation_modOn, &datasets, &count_datasets)",
              [&] { return kep::ask_datasets(parent_object, relation_modOn, datasets); });

    kep::Tags datasets_mod_on_help;
    kep::MemPtr<tag_t> matching;
    int count_matching = 0;
    if (datasets.count() > 0) {
        step.call(
            "kep_filter_datasets(datasets, count_datasets, type_modOn, &datasets_mod_on_help, "
            "&count_datasets_mod_on_help)",
            [&] { return kep::ask_filtered(datasets, type_modOn, datasets_mod_on_help); });
        const int count_datasets_mod_on_help = datasets_mod_on_help.count();
        matching.reset(kep::mem_alloc_array<tag_t>(count_datasets_mod_on_help));
        if (!matching) {
            step.latch(kNoMemory);
        }

        for (int i = 0; i < count_datasets_mod_on_help; ++i) {
            const tag_t candidate = datasets_mod_on_help[i];
            kep::Text dataset_name;
            step.call("AOM_ask_value_string(datasets_mod_on_help[i], \"object_name\", &dataset_name)",
                      [&] { return kep::ask_value_string(candidate, "object_name", dataset_name); });
            // Only names that carry the prefix cost further platform calls.
            if (!is_text(dataset_name.get()) || !begins_with(dataset_name.get(), prefix.get())) {
                continue;
            }
            kep::Tags refs;
            step.call(
                "AE_ask_all_dataset_named_refs(datasets_mod_on_help[i], \"KEPModOnInfo\", &count_refs, "
                "&refs)",
                [&] { return kep::ask_named_refs(candidate, "KEPModOnInfo", refs); });
            if (!step.ok() || refs.count() != 1) {
                continue;
            }
            const tag_t form_tag = refs[0];
            kep::Values form_way_to_root;
            step.call(
                "AOM_ask_value_strings(form_tag, \"var2_way_to_root\", &count_form_way_to_root, "
                "&form_way_to_root)",
                [&] { return kep::ask_value_strings(form_tag, "var2_way_to_root", form_way_to_root); });
            if (step.ok() && path_matches(form_way_to_root, way_to_root, *count_way_to_root)) {
                *mod_on_flag = 1;
                matching[count_matching] = candidate;
                count_matching += 1;
            }
        }
    }

    *act_datasets_mod_on = matching.release();
    *act_count_datasets_mod_on = count_matching;
    kep::clear_errors();
    return step.status();
}

int get_modon_for_bomline(tag_t bomline_object_tag, const char* relation_modOn, const char* type_modOn,
                          tag_t* mod_on_host_tag, tag_t** datasets_mod_on, int* count_datasets_mod_on) {
    kep::FunctionTrace trace("kep_get_modon_for_bomline");
    *mod_on_host_tag = NULLTAG;
    *datasets_mod_on = nullptr;
    *count_datasets_mod_on = 0;
    kep::Step step;

    int item_id_attr = 0;
    kep::Text source_part_number;
    step.call("BOM_line_look_up_attribute(bomAttr_itemId, &item_id_attr)",
              [&] { return kep::ask_attribute_id(bomAttr_itemId, &item_id_attr); });
    step.call("BOM_line_ask_attribute_string(bomline_object_tag, item_id_attr, &source_part_number)",
              [&] { return kep::ask_line_string(bomline_object_tag, item_id_attr, source_part_number); });
    if (!is_text(source_part_number.get())) {
        kep_log("Could not retrieve source_part_number\n");
        return step.status();
    }
    if (!step.ok()) {
        return step.status();
    }

    // A failed parent lookup ends the walk like a missing parent; its status is not passed on.
    tag_t parent_bomline_tag = NULLTAG;
    (void)kep_get_parent(bomline_object_tag, &parent_bomline_tag);

    // Every ancestor ruled out without building the way-to-root list: the walk would find nothing.
    // An observer hears the decisions of the walk's questions, not those of the chain's.
    bool no_host = false;
    {
        const kep::Unheard unheard;
        no_host = no_host_on_walk(bomline_object_tag, parent_bomline_tag, source_part_number.get(),
                                  relation_modOn, type_modOn);
    }
    if (no_host && tell_walk_decisions(parent_bomline_tag, relation_modOn)) {
        return step.status();
    }

    WayToRoot way_to_root;
    tag_t host = NULLTAG;
    kep::MemPtr<tag_t> host_datasets;
    int count_host_datasets = 0;
    tag_t child_bomline_tag = bomline_object_tag;
    // Every ancestor up to the top line is checked and a later find replaces an earlier one, so
    // the host nearest to the top wins. After a failure nothing more is asked, so the walk ends.
    while (parent_bomline_tag != NULLTAG && step.ok()) {
        if (!way_to_root.reserve_one()) {
            step.latch(kNoMemory);
            break;
        }
        char** const way_to_root_slots = way_to_root.slots();
        int* const count_way_to_root = way_to_root.count();
        kep::MemPtr<tag_t> act_datasets_mod_on;
        int act_count_datasets_mod_on = 0;
        int mod_on_flag = 0;
        step.call(
            "kep_check_for_mod_on(parent_bomline_tag, child_bomline_tag, source_part_number, relation_modOn, "
            "type_modOn, way_to_root, &count_way_to_root, &act_datasets_mod_on, &act_count_datasets_mod_on, "
            "&mod_on_flag)",
            [&] {
                return kep_check_for_mod_on(parent_bomline_tag, child_bomline_tag, source_part_number.get(),
                                            relation_modOn, type_modOn, way_to_root_slots, count_way_to_root,
                                            act_datasets_mod_on.out(), &act_count_datasets_mod_on,
                                            &mod_on_flag);
            });
        if (mod_on_flag != 0) {
            host = parent_bomline_tag;
            host_datasets.reset(act_datasets_mod_on.release());
            count_host_datasets = act_count_datasets_mod_on;
        }
        if (!step.ok()) {
            break;
        }
        child_bomline_tag = parent_bomline_tag;
        parent_bomline_tag = NULLTAG;
        (void)kep_get_parent(child_bomline_tag, &parent_bomline_tag);
    }

    if (host != NULLTAG) {
        *mod_on_host_tag = host;
        *datasets_mod_on = host_datasets.release();
        *count_datasets_mod_on = count_host_datasets;
    }
    return step.status();
}

}  // namespace

extern "C" int kep_check_for_mod_on(tag_t parent_bomline_tag, tag_t child_bomline_tag,
                                    const char* source_part_number, const char* relation_modOn,
                                    const char* type_modOn, char** way_to_root, int* count_way_to_root,
                                    tag_t** act_datasets_mod_on, int* act_count_datasets_mod_on,
                                    int* mod_on_flag) {
    return check_for_mod_on(parent_bomline_tag, child_bomline_tag, source_part_number, relation_modOn,
                            type_modOn, way_to_root, count_way_to_root, act_datasets_mod_on,
                            act_count_datasets_mod_on, mod_on_flag);
}

extern "C" int kep_get_modon_for_bomline(tag_t bomline_object_tag, const char* relation_modOn,
                                         const char* type_modOn, tag_t* mod_on_host_tag,
                                         tag_t** datasets_mod_on, int* count_datasets_mod_on) {
    return get_modon_for_bomline(bomline_object_tag, relation_modOn, type_modOn, mod_on_host_tag,
                                 datasets_mod_on, count_datasets_mod_on);
}

// ---- Through the call memo -------------------------------------------------------------------

namespace {

// A whole lookup's answer: the host, its datasets, and whether the lookup cleared the error stack.
struct KeptModon {
    tag_t host;
    kep::KeptTags datasets;
    bool clears;
};
const kep::Topic<KeptModon> kModonTopic{kep::TopicId::Modon};

}  // namespace

namespace kep {

int ask_modon(tag_t line, const char* relation, const char* type, tag_t* host, Tags& datasets) {
    return ask_through(
        kModonTopic, line, relation, type,
        [&] {
            return kep_get_modon_for_bomline(line, relation, type, host, datasets.out(),
                                             datasets.count_out());
        },
        [&](const KeptModon& kept) {
            *host = kept.host;
            datasets.lend(kept.datasets.tags, kept.datasets.count, kept.datasets.id);
            if (kept.clears) {
                clear_errors();
            }
            return 0;
        },
        [&](CallMemo& memo) {
            // The lookup ends by clearing the error stack unless the line has no item id.
            int item_id_attr = 0;
            const char* item_id = nullptr;
            const bool clears = known_attribute_id(memo, bomAttr_itemId, &item_id_attr) &&
                                known_line_string(memo, line, item_id_attr, &item_id) && item_id != nullptr &&
                                item_id[0] != '\0';
            return Keep<KeptModon>::record(
                KeptModon{*host, kept_tags(memo, datasets.get(), datasets.count()), clears});
        },
        [&](const KeptModon& kept) {
            if (kept.datasets.count > 0) {
                datasets.lend(kept.datasets.tags, kept.datasets.count, kept.datasets.id);
            }
        });
}

}  // namespace kep
