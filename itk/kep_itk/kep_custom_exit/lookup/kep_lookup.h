/*
 * Lookup helpers: preference reading and the table of every preference key the extension reads,
 * datasets related to an object and type filters, the geometry dataset sets of a line.
 *
 * Calls only the platform. Every function writes its entry and exit lines, traces each call,
 * makes no further traced call after the first failure and returns that first status (0 on
 * success). Everything handed out is a MEM_alloc block owned by the caller:
 *   - a single preference value: one text (null when the preference has no value);
 *   - a preference list: one block holding the array of texts (released with one MEM_free);
 *   - a list of tags: one array (released with one MEM_free).
 * A missing preference is no failure: the function logs "could not retrieve ..." / "Could not
 * retrieve ..." and returns 0 without a result.
 */
#ifndef KEP_LOOKUP_H
#define KEP_LOOKUP_H

#include "kep_platform.h"

/* ---- The preference table: every key the extension reads. --------------------------------- */
/* Representation filter: master then alternative names; the switch and the wanted names. */
#define KEP_PREF_ALT_REP_LIST "KEPAltRepList"
#define KEP_PREF_USE_ALT_REP_FILTER "KEPUseAltRepFilter"
#define KEP_PREF_ACTUAL_ALT_REP_LIST "KEPActualAltRepList"
/* Mod-on datasets of part geometry and of product structure: relation and dataset type. */
#define KEP_PREF_MODON_PART_DATASET_RELATION "KEPModOnPartDatasetRelation"
#define KEP_PREF_MODON_PART_DATASET_TYPE "KEPModOnPartDatasetType"
#define KEP_PREF_MODON_PRODUCT_DATASET_RELATION "KEPModOnProductDatasetRelation"
#define KEP_PREF_MODON_PRODUCT_DATASET_TYPE "KEPModOnProductDatasetType"
/* The four types of a line's 3D geometry set. */
#define KEP_PREF_PART_DATASET_TYPE "KEPPartDatasetType"
#define KEP_PREF_MODEL_DATASET_TYPE "KEPModelDatasetType"
#define KEP_PREF_CGR_DATASET_TYPE "KEPCgrDatasetType"
#define KEP_PREF_REP_DATASET_TYPE "KEPRepDatasetType"
/* The five types of a line's auxiliary geometry set. */
#define KEP_PREF_AUX_PART_DATASET_TYPE "KEPAuxPartDatasetType"
#define KEP_PREF_AUX_MODEL_DATASET_TYPE "KEPAuxModelDatasetType"
#define KEP_PREF_AUX_CGR_DATASET_TYPE "KEPAuxCgrDatasetType"
#define KEP_PREF_AUX_REP_DATASET_TYPE "KEPAuxRepDatasetType"
#define KEP_PREF_ARCHIVE_DATASET_TYPE "KEPArchiveDatasetType"
/* Relation and type of a line's product structure datasets. */
#define KEP_PREF_PRODUCT_DATASET_RELATION "KEPProductDatasetRelation"
#define KEP_PREF_PRODUCT_DATASET_TYPE "KEPProductDatasetType"

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Preferences ------------------------------------------------------------------------- */
/* First value of a preference (also of a multi-valued one); null when it has none or pref_name is
 * null. Read under TC_preference_all; the caller's scope is put back also after a failed read.
 * Returns the status of the first failed call; the error stack is cleared before returning. */
int kep_get_preference(const char* pref_name, char** pref_value);
/* Every value of a preference; count 0 and null when none, when pref_name is null or when the read
 * failed. The caller's scope is always put back, and the status is that of this restore alone: a
 * failed read reaches the caller as an empty list. The error stack is cleared before returning. */
int kep_get_preference_list(const char* pref_name, int* list_count, char*** pref_values);

/* ---- Related datasets and type filters -------------------------------------------------- */
/* Secondary objects of object under the named relation (null or empty: every relation). A relation
 * name the platform does not know lists nothing (status 0, empty list). The error stack is cleared
 * before returning. */
int kep_get_datasets(tag_t object, const char* relation, tag_t** datasets, int* count_datasets);
/* The datasets whose type name equals type_name exactly, in input order. The result is always
 * allocated (room for count_datasets), also when nothing is kept; after a failed type query it holds
 * what was kept before. When memory for it cannot be obtained, nothing is asked, the result stays
 * null and the status is 1. The error stack is cleared before returning. */
int kep_filter_datasets(const tag_t* datasets, int count_datasets, const char* type_name,
                        tag_t** filtered_datasets, int* count_filtered);
/* The same with any of the first type_count names; a dataset is kept at most once. */
int kep_filter_datasets2(const tag_t* datasets, int count_datasets, const char** type_array, int type_count,
                         tag_t** filtered_datasets, int* count_filtered);
/* Parent line of a line; null for a top line and after a failure. Clears the error stack. */
int kep_get_parent(tag_t line, tag_t* parent);

/* ---- Geometry dataset sets of a line ------------------------------------------------------ */
/* The 3D geometry set (four type keys), the auxiliary geometry set (five type keys), both over
 * every object attached to the line's revision, and the product structure set (one relation key and
 * one type key). The results are written only by the final filter; on every other way out they keep
 * what the caller passed, which should be null and 0. A missing key is logged and returns 0. */
int kep_get_3dgeo_for_bomline(tag_t bomline_object_tag, tag_t** datasets_3dgeo, int* count_datasets_3dgeo);
int kep_get_auxgeo_for_bomline(tag_t bomline_object_tag, tag_t** datasets_auxgeo, int* count_datasets_auxgeo);
int kep_get_structure_for_bomline(tag_t bomline_object_tag, tag_t** datasets_structure,
                                  int* count_datasets_structure);

#ifdef __cplusplus
}
#endif

#endif
