/*
 * Geometry and spatial search: transform matrices and their text form, bounding boxes, the node
 * list that collects lines with boxes, and the oriented-box neighbourhood computation.
 *
 * The matrices (base/kep_matrix.h) sit on the floor below everything, so that the line values of
 * modon/ can use them without the rest; this header hands them on.
 *
 * Ownership: every text, box, node and object record handed out is a MEM_alloc block owned by
 * the receiver (MEM_free); a node list belongs to whoever holds its head and is released with
 * kep_node_list_release. The node operations write no entry or exit lines and call the platform
 * only for memory.
 *
 * Statuses: the node operations report none. x7ComputeNeighbourhood returns 0, or
 * KEP_STATUS_OBJECT_WITHOUT_BOX (10002) when some object of the list had no box (the results
 * over the others are still complete), or KEP_STATUS_INDEX_OUT_OF_RANGE (10003) when the index
 * of the object whose neighbours are sought lies outside the list.
 */
#ifndef KEP_GEOMETRY_H
#define KEP_GEOMETRY_H

#include "base/kep_matrix.h"
#include "base/kep_status.h"
#include "kep_platform.h"

#ifdef __cplusplus
namespace kep {
// The client gives distances in millimetres; boxes and transforms are in metres.
const double kMillimetresToBoxUnits = 0.001;
}  // namespace kep

extern "C" {
#endif

/* An axis-aligned box in the coordinates of the part it describes. Values are kept as stored:
 * nothing checks that x1 <= x2, and no unit is attached. */
typedef struct kep_bbox_s {
    double x1;
    double y1;
    double z1;
    double x2;
    double y2;
    double z2;
} kep_bbox_t;

/* One line with a box: the part box, rows 0 to 2 of the line's absolute transform (row-major,
 * m00 m01 m02 m03 m10 ... m23; row 3 is implied as (0, 0, 0, 1)), and BB, 1 when the record
 * holds a box and 0 when not. */
typedef struct kep_object3d_s {
    kep_bbox_t bbox;
    double matrix[12];
    int BB;
} kep_object3d_t;

/* Element of a node list: the BOM line, its object record (owned by the node) and the next
 * node (null at the end). */
typedef struct kep_node_s {
    tag_t tag;
    kep_object3d_t* object;
    struct kep_node_s* next;
} kep_node_t;

/* ---- Node list ----------------------------------------------------------------------------- */

/* Makes a node for line tag with a new object record (the six values of box, rows 0 to 2 of
 * matrix, BB 1) in front of head and returns it as the new head. The caller keeps box and
 * matrix. Lines therefore come out of the list in the reverse order of their adding. Should
 * the platform's allocator fail, or box or matrix be null, head is returned unchanged. */
kep_node_t* kep_node_list_prepend(kep_node_t* head, tag_t tag, const kep_bbox_t* box,
                                  const kep_matrix_t* matrix);

/* Frees every node of the list and its object record. head may be null. */
void kep_node_list_release(kep_node_t* head);

/* Fills object with the query box of a volume search: the six values of box (x1 y1 z1 x2 y2 z2)
 * in identity orientation, no translation, BB 1. */
void kep_query_object(const double* box, kep_object3d_t* object);

/* ---- Boxes of datasets and lines ------------------------------------------------------------
 * A dataset carries its box in the form behind its named reference "VAR2BBInfo" (attributes
 * var2_bb_x1 .. var2_bb_z2) and its role in the form behind "VAR2TypeInfo" (var2_type). Each
 * function writes its entry and exit lines, traces every call, makes no further traced call after
 * the first failure and returns that first status (0 on success, 1 when memory for a box cannot be
 * obtained). No box is no failure: the status is 0 and the box stays null. The error stack is
 * left as the failed call left it. */

/* *is_visu becomes 1 when the dataset has exactly one "VAR2TypeInfo" form and its var2_type is
 * exactly "VISUALIZATION", else 0 (also after a failure). */
int kep_is_visu_dataset(tag_t dataset_tag, int* is_visu);

/* *bbox becomes a new box (MEM_alloc, owned by the caller) read from the dataset's one
 * "VAR2BBInfo" form, or null when the dataset has none, several, or a null reference. A failed
 * read of one of the six values gives no box and the failure's status. A box with a value that is
 * not a finite number is no box either (logged, status 0). */
int kep_get_bbox_for_dataset(tag_t dataset_tag, kep_bbox_t** bbox);

/* The box of a BOM line; *bbox is reset on entry and becomes a new box (owned by the caller) or
 * stays null. A line with 3D geometry datasets takes the box of the one representation dataset
 * that the mod-on host lookup and the alternative representation filter pick (preferences
 * KEPModOnPartDatasetRelation and KEPModOnPartDatasetType; either missing means no box). A line
 * without them takes the union of the boxes of its auxiliary geometry and product structure
 * datasets, visualisation datasets left out. The two ways never mix. A lookup that fails hands
 * back no box. */
int kep_get_bbox_for_bomline(tag_t line, kep_bbox_t** bbox);

/* ---- Structure walk -------------------------------------------------------------------------
 * The walk goes from the window's top line down through every child line and every packed line,
 * asks each line's box and places it by the line's absolute transform: the parent's absolute
 * transform times the line's bl_plmxml_occ_xform (an absent or unreadable value counts as the
 * identity). A line is met before its children, children in the platform's order, and the packed
 * lines of a child right after the child's own subtree, each placed under the transform of the
 * line being walked (not under the child). The walk keeps its pending lines on the heap, so the
 * depth of a structure costs no stack; the trace is that of a walk in which every line is one
 * nested call of kep_get_child_lines. After the first failure nothing more is asked anywhere in
 * the walk; the failure's status is returned and the lines collected before it are kept. */

/* Every line of the window that has a box. On return *count is the number of such lines; when it
 * is above 0, *object_list is a new array of *count + 1 pointers whose entries 0 .. *count - 1
 * are new object records and whose last entry is a spare null slot for the caller (the volume
 * search puts its query object there), and *tag_list a new array of *count line tags, entry i the
 * line of record i. Both lists run in the reverse of the order in which the walk met the lines,
 * so the top line, when it has a box, comes last. The caller owns both arrays and every record
 * (MEM_free each). When *count is 0 both lists are left untouched. A window without a top line
 * gives 0 and no lines. After a failure of the walk the lines collected before it are handed out
 * with the failure's status; 1 when memory for the lists cannot be obtained (no lists then). */
int kep_get_lines_with_bbox(tag_t bom_window_tag, int* count, kep_object3d_t*** object_list,
                            tag_t** tag_list);

/* Adds line (whose absolute transform is matrix, read only) and everything below it to the node
 * list *node_list, each line that has a box as a new node at the head. Returns the first failure's
 * status (1 when memory for a node or for the walk cannot be obtained); the nodes added before the
 * failure stay in the list. */
int kep_get_child_lines(tag_t line, const kep_matrix_t* matrix, kep_node_t** node_list);

/* ---- Neighbourhood ------------------------------------------------------------------------- */

/* Finds the objects whose oriented boxes overlap the box of objects[index_a] enlarged by delta
 * on every side along its own axes. Each box is the object's part box placed by its matrix;
 * boxes that touch count as overlapping. A body whose centre, orientation or extents are not all
 * finite numbers overlaps nothing: it is never reported, and as A it finds nothing.
 *
 * objects holds n pointers (read only; a null entry counts as an object without box); results
 * must have room for n entries. On return results[0 .. *result_count - 1] hold the positions
 * of the overlapping objects in ascending order; index_a itself is never among them. Entries
 * from *result_count on may have been written as scratch.
 *
 * Statuses: 0; KEP_STATUS_OBJECT_WITHOUT_BOX when another object had no box (it is skipped);
 * KEP_STATUS_INDEX_OUT_OF_RANGE when index_a is outside 0 .. n - 1 (nothing is read, no result).
 * An object A without box gives status 0 and no result. The call is bracketed by entry and exit
 * lines; every step is logged while logging is on. */
int x7ComputeNeighbourhood(int index_a, int n, double delta, const kep_object3d_t* const* objects,
                           int* results, int* result_count);

#ifdef __cplusplus
}
#endif

#endif
