// The occurrence and absolute transform values of a line, worked out from the mod-on
// representations of the product structure, and the node chain of the absolute transform.
#include <string.h>

#include "base/kep_matrix.h"
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

bool is_text(const char* s) { return s != nullptr && s[0] != '\0'; }

// What the log shows for a text that is not there.
const char* shown(const char* s) { return s != nullptr ? s : "(null)"; }

// A MEM_alloc copy of a text; null without memory.
char* copy_text(const char* s) {
    const size_t length = strlen(s);
    if (length >= 0x7fffffff) {
        return nullptr;
    }
    char* copy = static_cast<char*>(MEM_alloc(static_cast<int>(length + 1)));
    if (copy != nullptr) {
        memcpy(copy, s, length + 1);
    }
    return copy;
}

// The relation and the dataset type of the product structure's mod-on datasets.
struct ProductPreferences {
    kep::Text relation_modon_structure;
    kep::Text type_modon_structure;
};

// Reads both preferences. Returns false when one is missing (logged): the value function then
// returns at once with the status held, its value untouched. A failed read that still left a
// relation behind ends the step without asking for the type.
bool read_product_preferences(kep::Step& step, ProductPreferences& prefs) {
    step.call("kep_get_preference(\"KEPModOnProductDatasetRelation\", &relation_modon_structure)", [&] {
        return kep::ask_preference(KEP_PREF_MODON_PRODUCT_DATASET_RELATION, prefs.relation_modon_structure);
    });
    if (!is_text(prefs.relation_modon_structure.get())) {
        kep_log("could not retrieve KEPModOnProductDatasetRelation from preferences\n");
        return false;
    }
    if (!step.ok()) {
        return true;
    }
    step.call("kep_get_preference(\"KEPModOnProductDatasetType\", &type_modon_structure)", [&] {
        return kep::ask_preference(KEP_PREF_MODON_PRODUCT_DATASET_TYPE, prefs.type_modon_structure);
    });
    if (!is_text(prefs.type_modon_structure.get())) {
        kep_log("could not retrieve KEPModOnProductDatasetType from preferences\n");
        return false;
    }
    return true;
}

// Chooses one dataset of the mod-on host of `line` (null when there is none, nothing suits or a
// call failed). The host lookup and the filter are traced under the statement texts the caller
// hands in, as each value function names its own variables.
tag_t choose_modon_dataset(kep::Step& step, const char* host_statement, tag_t line,
                           const ProductPreferences& prefs) {
    tag_t mod_on_host_tag = NULLTAG;
    kep::Tags datasets_mod_on;
    step.call(host_statement, [&] {
        return kep::ask_modon(line, prefs.relation_modon_structure.get(), prefs.type_modon_structure.get(),
                              &mod_on_host_tag, datasets_mod_on);
    });
    if (!step.ok() || mod_on_host_tag == NULLTAG) {
        return NULLTAG;
    }
    tag_t dataset_mod_on_tag = NULLTAG;
    step.call("kep_filter_alt_rep_for_dataset(datasets_mod_on, count_datasets_mod_on, &dataset_mod_on_tag)",
              [&] {
                  return kep_filter_alt_rep_for_dataset(datasets_mod_on.get(), datasets_mod_on.count(),
                                                        &dataset_mod_on_tag);
              });
    return step.ok() ? dataset_mod_on_tag : NULLTAG;
}

// Reads the child lists of a mod-on dataset's form and hands every entry that names the child
// line to on_match(occurrence name, matrix text) in list order; the matrix text may be null.
// Statement texts and order are those of both functions that read the form.
template <class OnMatch>
void read_child_entries(kep::Step& step, tag_t act_child_tag, tag_t act_parent_modon_tag, OnMatch on_match) {
    kep::Text instance_name;
    step.call("AOM_ask_value_string(act_child_tag, bomAttr_occName, &instance_name)",
              [&] { return kep::ask_value_string(act_child_tag, bomAttr_occName, instance_name); });
    if (!instance_name) {
        return;
    }
    kep::Tags refs;
    step.call("AE_ask_all_dataset_named_refs(act_parent_modon_tag, \"KEPModOnInfo\", &count_refs, &refs)",
              [&] { return kep::ask_named_refs(act_parent_modon_tag, "KEPModOnInfo", refs); });
    if (!step.ok() || refs.count() != 1 || !refs || refs[0] == NULLTAG) {
        return;
    }
    const tag_t form_tag = refs[0];
    kep::Values form_child_instname;
    kep::Values form_child_matrix;
    step.call(
        "AOM_ask_value_strings(form_tag, \"var2_child_instname\", &count_form_child_instname, "
        "&form_child_instname)",
        [&] { return kep::ask_value_strings(form_tag, "var2_child_instname", form_child_instname); });
    step.call(
        "AOM_ask_value_strings(form_tag, \"var2_child_matrix\", &count_form_child_matrix, "
        "&form_child_matrix)",
        [&] { return kep::ask_value_strings(form_tag, "var2_child_matrix", form_child_matrix); });
    // Lists of different lengths do not say which matrix belongs to which name: they list nothing.
    if (!step.ok() || form_child_instname.count() != form_child_matrix.count()) {
        return;
    }
    for (int i = 0; i < form_child_instname.count(); ++i) {
        const char* name = form_child_instname[i];
        if (name != nullptr && strcmp(name, instance_name.get()) == 0) {
            on_match(instance_name.get(), form_child_matrix[i]);
        }
    }
}

// The node chain of one call; released from the top node down on every way out.
class NodeChain {
public:
    NodeChain() = default;
    ~NodeChain() { kep_node_data_release(top_); }
    NodeChain(const NodeChain&) = delete;
    NodeChain& operator=(const NodeChain&) = delete;

    // A new node above the one made before; null without memory.
    kep_node_data_t* add() {
        kep_node_data_t* node = kep_node_data_create(top_);
        if (node != nullptr) {
            top_ = node;
        }
        return node;
    }
    kep_node_data_t* top() const { return top_; }

private:
    kep_node_data_t* top_ = nullptr;
};

// Stores a new value in the caller's slot, releasing the standing one.
void replace_value(char** value, char* new_value) {
    kep::mem_free(*value);
    *value = new_value;
}

void log_value(const char* const* value) {
    if (value != nullptr && *value != nullptr) {
        kep_log("Value: [%s]\n", *value);
    }
}

int occ_xform(tag_t object_tag, char** value) {
    kep::FunctionTrace trace("kep_bl_ask_plmxml_occ_xform");
    if (object_tag == NULLTAG || value == nullptr) {
        log_value(value);
        return 0;
    }
    // A failed parent lookup counts as no parent: a top line keeps its value.
    tag_t parent_tag = NULLTAG;
    (void)kep_get_parent(object_tag, &parent_tag);
    if (parent_tag == NULLTAG) {
        log_value(value);
        return 0;
    }

    kep::Step step;
    ProductPreferences prefs;
    if (!read_product_preferences(step, prefs)) {
        kep::observe_occurrence(object_tag, kep::OccurrenceSource::Stored, NULLTAG);
        return step.status();
    }
    tag_t observed = NULLTAG;
    kep::OccurrenceSource source = kep::OccurrenceSource::Stored;
    if (step.ok()) {
        const tag_t dataset_mod_on_tag = choose_modon_dataset(
            step,
            "kep_get_modon_for_bomline(parent_tag,relation_modon_structure,type_modon_structure, "
            "&mod_on_host_tag,&datasets_mod_on,&count_datasets_mod_on)",
            parent_tag, prefs);
        if (dataset_mod_on_tag != NULLTAG) {
            kep_log("get child matrix from mod rep for child\n");
            // The representation's entry replaces the value only when the representation lists
            // the line. Otherwise the value passed in stands: under a post-action that is the
            // platform's own placement, which is still right for a child the representation does
            // not describe. An unreadable form is the same answer, not a failure of the property,
            // so the status is not passed on.
            char* listed = nullptr;
            (void)kep_get_matrix_str_from_modon(object_tag, dataset_mod_on_tag, &listed);
            if (listed != nullptr) {
                replace_value(value, listed);
            }
            observed = dataset_mod_on_tag;
            source = listed != nullptr ? kep::OccurrenceSource::Representation : kep::OccurrenceSource::Kept;
        }
    }
    kep::observe_occurrence(object_tag, source, observed);
    log_value(value);
    return step.status();
}

int abs_xform(tag_t object_tag, char** value) {
    kep::FunctionTrace trace("kep_bl_ask_plmxml_abs_xform");
    if (object_tag == NULLTAG || value == nullptr) {
        log_value(value);
        return 0;
    }
    kep::Step step;
    ProductPreferences prefs;
    if (!read_product_preferences(step, prefs)) {
        return step.status();
    }

    // The walk goes up from the line to its top line, one node per level. A representation found
    // for a level places the level below it, so it is written into the node made just before.
    NodeChain chain;
    tag_t act_object_tag = object_tag;
    tag_t below_line = NULLTAG;
    kep_node_data_t* below_node = nullptr;
    bool applied = false;
    bool complete = true;
    while (act_object_tag != NULLTAG) {
        kep_node_data_t* node = chain.add();
        if (node == nullptr) {
            // Without every level the product would be wrong: nothing is stored.
            step.latch(kNoMemory);
            complete = false;
            break;
        }
        // After a failure no more representations are looked up, but every level still gets its
        // standard values, so that a representation applied before the failure still counts.
        if (step.ok()) {
            const tag_t dataset_mod_on_tag = choose_modon_dataset(
                step,
                "kep_get_modon_for_bomline(act_object_tag,relation_modon_structure,type_modon_structure, "
                "&mod_on_host_tag,&datasets_mod_on,&count_datasets_mod_on)",
                act_object_tag, prefs);
            if (dataset_mod_on_tag != NULLTAG) {
                kep_log("get child matrix from mod rep for child\n");
                if (below_line != NULLTAG) {
                    (void)kep_set_node_data_from_modon(below_line, dataset_mod_on_tag, below_node);
                    applied = true;
                }
            }
        }
        kep_log("get matrix from standard\n");
        (void)kep_set_kep_node_data_from_bomline(act_object_tag, node);

        below_line = act_object_tag;
        below_node = node;
        tag_t parent_tag = NULLTAG;
        (void)kep_get_parent(act_object_tag, &parent_tag);
        act_object_tag = parent_tag;
    }

    if (applied && complete) {
        // T1 x T2 x ... x Tn from the top line's child down to the line; the top line's own
        // transform is not part of the absolute transform.
        kep_matrix_t accumulated;
        kep_matrix_identity(&accumulated);
        for (const kep_node_data_t* node = chain.top()->child_node; node != nullptr;
             node = node->child_node) {
            kep_log("InstName: [%s]\n", shown(node->instance_name));
            kep_log("Matrix:   [%s]\n", shown(node->matrix_text));
            kep_matrix_t level;
            kep_matrix_from_string(node->matrix_text, &level);
            kep_matrix_multiply(&accumulated, &level, &accumulated);
        }
        char* text = nullptr;
        kep_matrix_to_string(&accumulated, &text);
        if (text != nullptr) {
            replace_value(value, text);
        } else {
            step.latch(kNoMemory);
        }
    }
    log_value(value);
    return step.status();
}

int matrix_str_from_modon(tag_t act_child_tag, tag_t act_parent_modon_tag, char** matrix) {
    kep::FunctionTrace trace("kep_get_matrix_str_from_modon");
    if (matrix == nullptr) {
        return 0;
    }
    *matrix = nullptr;
    if (act_child_tag == NULLTAG || act_parent_modon_tag == NULLTAG) {
        return 0;
    }
    kep::Step step;
    kep::MemPtr<char> result;
    read_child_entries(step, act_child_tag, act_parent_modon_tag, [&](const char*, const char* matrix_text) {
        if (matrix_text == nullptr) {
            return;
        }
        result.reset(copy_text(matrix_text));
        if (!result) {
            step.latch(kNoMemory);
        }
    });
    *matrix = result.release();
    return step.status();
}

int node_data_from_modon(tag_t act_child_tag, tag_t act_parent_modon_tag, kep_node_data_t* node) {
    kep::FunctionTrace trace("kep_set_node_data_from_modon");
    if (act_child_tag == NULLTAG || act_parent_modon_tag == NULLTAG || node == nullptr) {
        return 0;
    }
    kep::Step step;
    read_child_entries(step, act_child_tag, act_parent_modon_tag,
                       [&](const char* instance_name, const char* matrix_text) {
                           kep_set_node_data(node, instance_name, matrix_text);
                       });
    return step.status();
}

int node_data_from_bomline(tag_t act_object_tag, kep_node_data_t* node) {
    kep::FunctionTrace trace("kep_set_kep_node_data_from_bomline");
    kep::Step step;
    kep::Text instance_name;
    kep::MemPtr<char> matrix;
    step.call("AOM_ask_value_string(act_object_tag, bomAttr_occName, &instance_name)",
              [&] { return kep::ask_value_string(act_object_tag, bomAttr_occName, instance_name); });
    // Read as a client reads it: where the extension overrides the property, this is its value.
    step.call("AOM_ask_value_string(act_object_tag, bomAttr_StandardOccTransform, &matrix)", [&] {
        return AOM_ask_value_string(act_object_tag, bomAttr_StandardOccTransform, matrix.out());
    });
    if (instance_name && matrix) {
        kep_set_node_data(node, instance_name.get(), matrix.get());
    }
    return step.status();
}

// Puts a copy of text into *field, releasing what was there; keeps the old text without memory.
void set_field(char** field, const char* text) {
    if (text == nullptr) {
        return;
    }
    char* copy = copy_text(text);
    if (copy != nullptr) {
        kep::mem_free(*field);
        *field = copy;
    }
}

}  // namespace

extern "C" {

kep_node_data_t* kep_node_data_create(kep_node_data_t* child_node) {
    kep_node_data_t* node =
        static_cast<kep_node_data_t*>(MEM_alloc(static_cast<int>(sizeof(kep_node_data_t))));
    if (node == nullptr) {
        return nullptr;
    }
    node->instance_name = nullptr;
    node->matrix_text = nullptr;
    node->child_node = child_node;
    node->parent_node = nullptr;
    if (child_node != nullptr) {
        child_node->parent_node = node;
    }
    return node;
}

void kep_node_data_release(kep_node_data_t* top_node) {
    kep_node_data_t* node = top_node;
    while (node != nullptr) {
        kep_node_data_t* const child = node->child_node;
        kep::mem_free(node->instance_name);
        kep::mem_free(node->matrix_text);
        kep::mem_free(node);
        node = child;
    }
}

void kep_set_node_data(kep_node_data_t* node, const char* instance_name, const char* matrix_text) {
    if (node == nullptr) {
        return;
    }
    set_field(&node->instance_name, instance_name);
    set_field(&node->matrix_text, matrix_text);
}

int kep_bl_ask_plmxml_occ_xform(tag_t object_tag, char** value) { return occ_xform(object_tag, value); }

int kep_bl_ask_plmxml_abs_xform(tag_t object_tag, char** value) { return abs_xform(object_tag, value); }

int kep_get_matrix_str_from_modon(tag_t act_child_tag, tag_t act_parent_modon_tag, char** matrix) {
    return matrix_str_from_modon(act_child_tag, act_parent_modon_tag, matrix);
}

int kep_set_node_data_from_modon(tag_t act_child_tag, tag_t act_parent_modon_tag, kep_node_data_t* node) {
    return node_data_from_modon(act_child_tag, act_parent_modon_tag, node);
}

int kep_set_kep_node_data_from_bomline(tag_t act_object_tag, kep_node_data_t* node) {
    return node_data_from_bomline(act_object_tag, node);
}

}  // extern "C"
