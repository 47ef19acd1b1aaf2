/*
 * The extension's own statuses. Every other non-zero status a function of the extension returns is
 * the platform's error code of the first platform call that failed (its details are on the
 * platform's error stack); 0 is success.
 */
#ifndef KEP_STATUS_H
#define KEP_STATUS_H

/* Memory for a result or a working block could not be obtained (MEM_alloc or the standard
 * library's allocator). */
#define KEP_STATUS_NO_MEMORY 1
/* At least one object of the list had no box; the other objects were all tested. */
#define KEP_STATUS_OBJECT_WITHOUT_BOX 10002
/* The index of the object whose neighbours are sought is below 0 or not below the count. */
#define KEP_STATUS_INDEX_OUT_OF_RANGE 10003

#ifdef __cplusplus
namespace kep {
const int kNoMemory = KEP_STATUS_NO_MEMORY;
}  // namespace kep
#endif

#endif
