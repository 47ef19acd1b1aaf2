/*
 * Mod-on representations and line value overrides.
 *
 * A part may carry several datasets that stand for the same geometry in different
 * representations, told apart by a suffix of their object_name ("4711.LOD1/A"); and an assembly
 * above a part (its mod-on host) may carry representation datasets that describe the part along
 * one particular occurrence path. This subsystem picks the representation the site wants
 * (kep_filter_alt_rep_for_dataset), finds the mod-on host of a line and the host's datasets for
 * exactly that line (kep_get_modon_for_bomline, kep_check_for_mod_on), and works out the line
 * property values that rest on them.
 *
 * Calls lookup/ (preferences, related datasets, type filters, parent line) and the platform.
 * Every function writes its entry and exit lines, traces each call, makes no further traced call
 * after the first failure and returns that first status: 0 on success, the platform's code of the
 * first failed call, or 1 when memory for a working block cannot be obtained. A null result with
 * status 0 is the ordinary answer "nothing suits". Tags are the platform's objects; every array
 * handed out is one MEM_alloc block owned by the caller (released with one MEM_free). Out
 * parameters are reset on entry and must not be null.
 */
#ifndef KEP_MODON_H
#define KEP_MODON_H

#include <stddef.h>

#include "kep_platform.h"

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Alternative representation filter ----------------------------------------------------- */

/*
 * Chooses one of count_datasets candidates (the caller's array, only read; not read at all when
 * the count is 0) as steered by the preferences KEPAltRepList (entry 0: the master name, entries
 * 1 and on: the alternative names), KEPUseAltRepFilter ("1": use KEPActualAltRepList) and
 * KEPActualAltRepList (wanted names, the last one first). *dataset is the null tag on entry and
 * stays null when no candidate suits. Clears the platform's error stack before it returns, except
 * when the filter is on and KEPActualAltRepList is missing.
 */
int kep_filter_alt_rep_for_dataset(const tag_t* datasets, int count_datasets, tag_t* dataset);

/*
 * Representation suffix of a dataset name: of the part of the name before its last "/" (the whole
 * name when it has none), the text after the last ".". Returns 1 and sets *suffix_offset and
 * *suffix_length (the suffix is name + offset, length bytes, possibly 0) when there is a "." in
 * that part, else 0 with both set to 0. Any length of name; allocates nothing; a null name has
 * no suffix.
 */
int kep_alt_rep_suffix(const char* dataset_name, size_t* suffix_offset, size_t* suffix_length);

/* ---- Mod-on host lookup -------------------------------------------------------------------- */

/*
 * Walks from a line up to its top line and checks every ancestor with kep_check_for_mod_on for
 * datasets of type type_modOn, related to the ancestor's revision by relation_modOn, that describe
 * this line's occurrence path. When several ancestors qualify, the one nearest to the top line is
 * the host. Outputs are reset on entry and written only when a host is found: the host line, its
 * matching datasets (caller frees) and their count. After a failure no further ancestor is checked;
 * the outputs keep what the steps up to the failed one found. A line without an item id gives
 * empty outputs and the status of the attribute reads.
 */
int kep_get_modon_for_bomline(tag_t bomline_object_tag, const char* relation_modOn, const char* type_modOn,
                              tag_t* mod_on_host_tag, tag_t** datasets_mod_on, int* count_datasets_mod_on);

/*
 * Checks one ancestor (parent_bomline_tag) on the walk from a line whose item id is
 * source_part_number; child_bomline_tag is the ancestor's child on that walk. Appends a copy of
 * the child's occurrence name to way_to_root (a MEM_alloc text; the list owns it) and raises
 * *count_way_to_root by one; way_to_root must have room for that entry. A dataset matches when its
 * name begins with "<ancestor item id>.<source_part_number>.", its "KEPModOnInfo" named reference
 * is exactly one form and the form's "var2_way_to_root" list equals way_to_root entry by entry.
 * Outputs: every matching dataset (a block owned by the caller, null when the ancestor has no
 * related dataset at all), their count, and a flag set to 1 when at least one matched. When an
 * attribute read fails, nothing is appended and the error stack is left as it is; otherwise the
 * error stack is cleared before the return.
 */
int kep_check_for_mod_on(tag_t parent_bomline_tag, tag_t child_bomline_tag, const char* source_part_number,
                         const char* relation_modOn, const char* type_modOn, char** way_to_root,
                         int* count_way_to_root, tag_t** act_datasets_mod_on, int* act_count_datasets_mod_on,
                         int* mod_on_flag);

/* ---- Line value overrides ------------------------------------------------------------------ */
/*
 * The values of the line properties bl_plmxml_occ_xform, bl_plmxml_abs_xform and
 * bl_jt_dataset_tag, as the property methods hand them to the platform.
 *
 * Value slots: a transform value is a MEM_alloc text owned by the caller, or null. A value
 * function that replaces it releases the standing text with MEM_free and stores a new MEM_alloc
 * text that the caller then owns; otherwise it leaves the pointer as it was. A value pointer that
 * is itself null gives status 0 and nothing is done.
 *
 * Mod-on info form: the single "KEPModOnInfo" reference of a mod-on dataset. Its string lists
 * "var2_child_instname" and "var2_child_matrix" name the represented line's children by
 * occurrence name and give each child's transform text relative to that line. The lists count only
 * when both are there with the same number of entries; an entry matches a child when its name is
 * not null and equals the child's bl_occurrence_name exactly, and when several match, the last
 * one decides.
 */

/*
 * One level of the absolute transform chain: the occurrence name and the transform text (relative
 * to its parent) of one line, both MEM_alloc texts owned by the node and null until set. A chain
 * runs from the asked line's node (first made, child_node null) up to the top line's node (last
 * made, parent_node null).
 */
typedef struct kep_node_data_s {
    char* instance_name;
    char* matrix_text;
    struct kep_node_data_s* child_node;
    struct kep_node_data_s* parent_node;
} kep_node_data_t;

/*
 * Makes a node (MEM_alloc) with both texts null, linked above child_node (which may be null: the
 * first node of a chain). Returns null when no memory is left; child_node is then unchanged.
 */
kep_node_data_t* kep_node_data_create(kep_node_data_t* child_node);

/*
 * Releases a chain from its top node down along child_node: each node's two texts and the node.
 * top_node may be null. Works without recursion, whatever the depth.
 */
void kep_node_data_release(kep_node_data_t* top_node);

/*
 * Stores copies of instance_name and matrix_text in the node; a null text leaves its field as it
 * is, a replaced text is released first. Does nothing for a null node. Should no memory be left
 * for a copy, that field keeps its old text.
 */
void kep_set_node_data(kep_node_data_t* node, const char* instance_name, const char* matrix_text);

/*
 * Value of bl_plmxml_occ_xform for a line. When the line's parent has a mod-on host
 * (preferences KEPModOnProductDatasetRelation and KEPModOnProductDatasetType) and the
 * representation filter chooses one of the host's datasets, and the dataset's form lists the
 * line, the value is replaced by the matrix text that the form holds for it; otherwise (no host,
 * no dataset chosen, a form that does not list the line or cannot be read) it is left as it was. Status: 0 or
 * the first failed traced call; a missing preference is logged and returns without touching the value.
 */
int kep_bl_ask_plmxml_occ_xform(tag_t object_tag, char** value);

/*
 * Value of bl_plmxml_abs_xform for a line: when a mod-on representation applies to one of the
 * line's ancestors, the product T1 x ... x Tn of the occurrence transforms from the top line's
 * child down to the line, each taken from the representation chosen for its parent where that
 * lists it and from the line's standard value elsewhere, in the matrix text form. Otherwise the
 * value is left as it was. A failure after a representation was applied still stores the
 * recomputed value, and the failure is returned. Status 1 when no memory is left for a node.
 */
int kep_bl_ask_plmxml_abs_xform(tag_t object_tag, char** value);

/*
 * The matrix text that the form of act_parent_modon_tag (a mod-on dataset chosen for the parent
 * of act_child_tag) holds for the line act_child_tag. *matrix is null on entry and, when an entry
 * matches, a new MEM_alloc copy owned by the caller. A null tag gives status 0 and no text.
 */
int kep_get_matrix_str_from_modon(tag_t act_child_tag, tag_t act_parent_modon_tag, char** matrix);

/*
 * As kep_get_matrix_str_from_modon, but stores the line's occurrence name and each matching
 * entry's matrix text in node through kep_set_node_data. The node is untouched when nothing
 * matches; a null tag or node gives status 0.
 */
int kep_set_node_data_from_modon(tag_t act_child_tag, tag_t act_parent_modon_tag, kep_node_data_t* node);

/*
 * Stores the line's occurrence name and its bl_plmxml_occ_xform value (read as a client reads it)
 * in node, when both are there.
 */
int kep_set_kep_node_data_from_bomline(tag_t act_object_tag, kep_node_data_t* node);

/*
 * Value of bl_jt_dataset_tag for a line: the single "JTPART" reference of the "DirectModel"
 * dataset that bears the name of the representation the site prefers (the line's mod-on
 * representation under KEPModOnPartDatasetRelation and KEPModOnPartDatasetType, else one of its
 * 3D geometry datasets, chosen by the representation filter) and hangs by "IMAN_Rendering" on the
 * revision of the line that carries that representation. The value becomes the null tag when a
 * representation was picked but no such reference exists, and when nothing was picked but the
 * line has product structure datasets; otherwise it is left as it was (also for a null line or a
 * missing preference). Clears the error stack before it returns, except when a preference is
 * missing.
 */
int kep_bl_ask_jt_ds_tag(tag_t object_tag, tag_t* value);

/*
 * Searches the "DirectModel" datasets related by "IMAN_Rendering" to the revision of
 * bom_line_tag for the first one named dataset_name (exactly) that has exactly one "JTPART"
 * reference; *direct_model_tag is that reference, or the null tag. Clears the error stack before
 * it returns, except when the line's revision cannot be read.
 */
int kep_get_direct_model(tag_t bom_line_tag, const char* dataset_name, tag_t* direct_model_tag);

#ifdef __cplusplus
}

namespace kep {

class Step;

/* ---- The representation of a line --------------------------------------------------------- */
/*
 * A line's box and its JT dataset tag rest on one choice: with a mod-on host (preferences
 * KEPModOnPartDatasetRelation and KEPModOnPartDatasetType) the representation filter picks among
 * the host's datasets for the line, and the line's own 3D geometry datasets are not tried; without
 * one it picks among those. The two callers differ in the statement texts their traces show and
 * in how they take a missing preference or a failed call; they hand these in.
 */

// How a caller takes a missing preference and a failed call.
enum class RepresentationFailures {
    // Both preferences are asked (after a failure the second stays unread, so it is missing); a
    // missing preference, and any failure, leave nothing picked, and the caller goes on.
    NothingPicked,
    // A missing preference ends the caller at once (Representation::stop); the second preference
    // is asked only while nothing has failed; a dataset the filter hands back stays picked
    // whatever the status.
    StopAtMissingPreference,
};

// The statement texts of a caller's trace, and its way with failures.
struct RepresentationPolicy {
    const char* modon_statement;  // the kep_get_modon_for_bomline call
    // The kep_get_3dgeo_for_bomline call made when there is no host; null when the caller hands in
    // the line's 3D geometry datasets.
    const char* own_datasets_statement;
    const char* own_filter_statement;  // the filter over the line's own datasets
    RepresentationFailures failures;
    bool observed;  // the preferences, the host and the choice are told to the observer
};

struct Representation {
    tag_t dataset;  // the dataset picked; the null tag when none
    tag_t carrier;  // the line whose revision holds it: the mod-on host, else the line
    bool stop;      // a preference is missing and the policy ends the caller
};

// Picks the representation dataset of line. datasets and count_datasets are the line's 3D geometry
// datasets when the policy asks for none itself (only read). The calls are traced on step: none
// after a failure, whose status step keeps.
Representation pick_representation(tag_t line, const tag_t* datasets, int count_datasets,
                                   const RepresentationPolicy& policy, Step& step);

}  // namespace kep
#endif

#endif
