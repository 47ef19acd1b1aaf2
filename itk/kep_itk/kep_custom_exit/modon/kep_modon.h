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
 * Occurrence and absolute transform values (kep_bl_ask_plmxml_occ_xform,
 * kep_bl_ask_plmxml_abs_xform), their helpers (kep_get_matrix_str_from_modon,
 * kep_set_node_data_from_modon, kep_set_kep_node_data_from_bomline, kep_set_node_data) and the
 * node record kep_node_data_t of the absolute transform chain go here.
 */

/*
 * JT dataset tag value (kep_bl_ask_jt_ds_tag) and the search for the rendering dataset
 * (kep_get_direct_model) go here.
 */

#ifdef __cplusplus
}
#endif

#endif
