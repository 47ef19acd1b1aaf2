/*
 * Overrides of the BOM line properties bl_plmxml_occ_xform, bl_plmxml_abs_xform and
 * bl_jt_dataset_tag. Not bound yet: registration succeeds without taking anything over.
 */
#include "kep_registration.h"
#include "kep_trace.h"

extern "C" int kep_register_object_methods(void) {
    kep::FunctionTrace trace("kep_register_object_methods");
    return 0;
}
