/* Datasets and their named references. */
#ifndef STANDIN_AE_DATASET_H
#define STANDIN_AE_DATASET_H
#include <tc/tc.h>
#define AE_reference_size_c 32
TC_EXTERN_C_BEGIN
TC_API int AE_ask_all_dataset_named_refs(tag_t dataset, const char reference_name[AE_reference_size_c + 1],
                                         int* nFound, tag_t** referenced_object);
TC_API int AE_ask_dataset(tag_t dataset, tag_t* last_dataset);
TC_EXTERN_C_END
#endif
