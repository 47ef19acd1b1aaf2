/* Names of the BOM line class and of its attributes. */
#ifndef STANDIN_BOM_BOM_ATTR_H
#define STANDIN_BOM_BOM_ATTR_H
#define bomClass_line "BOMLine"
#define bomAttr_lineItemRevTag "bl_revision"
#define bomAttr_lineParentTag "bl_parent"
#define bomAttr_itemId "bl_item_item_id"
#define bomAttr_occName "bl_occurrence_name"
#define bomAttr_StandardOccTransform "bl_plmxml_occ_xform"
#define bomAttr_StandardAbsTransform "bl_plmxml_abs_xform"
#define bomAttr_JTDatasetTag "bl_jt_dataset_tag"
#endif
