// The site the fault sweep runs every entry point on: small, but with every kind of data the
// deepest paths read.
//
//   w1: top (asm/A)                    structure ds_asm (box), aux aux_asm (box, DESIGN),
//    |                                 aux aux_visu (VISUALIZATION, huge box)
//    +- sub SUB1 (sub/A)               structure ds_sub (box); product mod-on datasets for mid:
//    |   |                             mo_mid "SUB.MID.1", mo_mid_lod1 "SUB.MID.LOD1",
//    |   |                             mo_other "SUB.OTHER.1"; part mod-on datasets for leaf:
//    |   |                             mp_leaf "SUB.PART.1", mp_leaf_lod1 "SUB.PART.LOD1" (boxes);
//    |   |                             DirectModel dm_sub_two (two JTPART), dm_sub (one JTPART)
//    |   +- mid MID1 (mid/A)           nothing attached: no box
//    |   |   +- leaf LEAF1 (part/A)    3D ds_part "PART/A", ds_part_lod1 "PART.LOD1/A" (boxes)
//    |   |      packed: leafp LEAF1    (packed into leaf: parent mid)
//    |   +- bare BARE1 (bare/A)        aux aux_bare and archive arch_bare (boxes, merged)
//    +- (asm/A also carries mo_top "ASM.MID.1", whose path MID9/SUB1 matches nothing)
//
// ds_plain is an object of the class Dataset itself, which hands the tests the type's tag.
// Preferences: every key set; KEPAltRepList MASTER, LOD1, LOD2 with the filter on and
// KEPActualAltRepList MASTER, LOD1, so LOD1 representations win. The platform version is below
// the threshold, so the Dataset property is created at registration. The callers' search scope
// is 4.
#ifndef SWEEP_SITE_H
#define SWEEP_SITE_H

#include <string>

#include "kep_site_text.h"

namespace sweep_test {

// The site with the platform's own line methods as given ("line_methods" JSON list).
inline std::string sweep_site_json(const std::string& line_methods) {
    return std::string(R"({
  "platform": { "version": 80000200, "search_scope": 4 },
  "types": { "Part3D": "Dataset", "Model3D": "Dataset", "Tess3D": "Dataset", "Rep3D": "Dataset",
             "AuxPart": "Dataset", "Archive": "Dataset", "Assembly3D": "Dataset",
             "DirectModel": "Dataset", "KEPModOnProduct": "Dataset", "KEPModOnPart": "Dataset",
             "KEPModOnInfoForm": "Form", "BBForm": "Form", "TypeForm": "Form", "JtFile": "Form" },
  "line_methods": )") +
           line_methods + R"(,
  "preferences": {
    "KEPAltRepList": ["MASTER", "LOD1", "LOD2"],
    "KEPUseAltRepFilter": "1",
    "KEPActualAltRepList": ["MASTER", "LOD1"],
    "KEPModOnProductDatasetRelation": "KEPModOnProductRel",
    "KEPModOnProductDatasetType": "KEPModOnProduct",
    "KEPModOnPartDatasetRelation": "KEPModOnPartRel",
    "KEPModOnPartDatasetType": "KEPModOnPart",
    "KEPPartDatasetType": "Part3D",
    "KEPModelDatasetType": "Model3D",
    "KEPCgrDatasetType": "Tess3D",
    "KEPRepDatasetType": "Rep3D",
    "KEPAuxPartDatasetType": "AuxPart",
    "KEPAuxModelDatasetType": "Model3D",
    "KEPAuxCgrDatasetType": "Tess3D",
    "KEPAuxRepDatasetType": "Rep3D",
    "KEPArchiveDatasetType": "Archive",
    "KEPProductDatasetRelation": "IMAN_specification",
    "KEPProductDatasetType": "Assembly3D"
  },
  "objects": {
    )" + kep_test::revisions({"asm", "sub", "mid", "part", "bare"}) +
           R"(,

    "ds_asm": { "type": "Assembly3D", "name": "ASM/A", "refs": { "VAR2BBInfo": ["bb_asm"] } },
    "aux_asm": { "type": "AuxPart", "name": "ASM/A aux",
                 "refs": { "VAR2BBInfo": ["bb_aux_asm"], "VAR2TypeInfo": ["ti_design"] } },
    "aux_visu": { "type": "AuxPart", "name": "ASM/A visu",
                  "refs": { "VAR2BBInfo": ["bb_huge"], "VAR2TypeInfo": ["ti_visu"] } },
    "ds_sub": { "type": "Assembly3D", "name": "SUB/A", "refs": { "VAR2BBInfo": ["bb_sub"] } },
    "ds_part": { "type": "Part3D", "name": "PART/A", "refs": { "VAR2BBInfo": ["bb_part"] } },
    "ds_part_lod1": { "type": "Part3D", "name": "PART.LOD1/A", "refs": { "VAR2BBInfo": ["bb_part_lod1"] } },
    "aux_bare": { "type": "AuxPart", "name": "BARE/A aux", "refs": { "VAR2BBInfo": ["bb_bare"] } },
    "arch_bare": { "type": "Archive", "name": "BARE/A archive", "refs": { "VAR2BBInfo": ["bb_arch"] } },

    "mo_mid": { "type": "KEPModOnProduct", "name": "SUB.MID.1", "refs": { "KEPModOnInfo": ["fi_mo_mid"] } },
    "mo_mid_lod1": { "type": "KEPModOnProduct", "name": "SUB.MID.LOD1",
                     "refs": { "KEPModOnInfo": ["fi_mo_mid_lod1"] } },
    "mo_other": { "type": "KEPModOnProduct", "name": "SUB.OTHER.1", "refs": { "KEPModOnInfo": ["fi_mo_mid"] } },
    "mo_top": { "type": "KEPModOnProduct", "name": "ASM.MID.1", "refs": { "KEPModOnInfo": ["fi_mo_top"] } },
    "mp_leaf": { "type": "KEPModOnPart", "name": "SUB.PART.1",
                 "refs": { "KEPModOnInfo": ["fi_mp_leaf"], "VAR2BBInfo": ["bb_mp"] } },
    "mp_leaf_lod1": { "type": "KEPModOnPart", "name": "SUB.PART.LOD1",
                      "refs": { "KEPModOnInfo": ["fi_mp_leaf"], "VAR2BBInfo": ["bb_mp_lod1"] } },
    "dm_sub_two": { "type": "DirectModel", "name": "SUB.PART.LOD1", "refs": { "JTPART": ["jt_a", "jt_b"] } },
    "dm_sub": { "type": "DirectModel", "name": "SUB.PART.LOD1", "refs": { "JTPART": ["jt_sub"] } },
    "dm_part": { "type": "DirectModel", "name": "PART.LOD1/A", "refs": { "JTPART": ["jt_part"] } },
    "jt_a": { "type": "JtFile" }, "jt_b": { "type": "JtFile" }, "jt_sub": { "type": "JtFile" },
    "jt_part": { "type": "JtFile" },
    "ds_plain": { "type": "Dataset", "name": "PLAIN/A" },

    "fi_mo_mid": { "type": "KEPModOnInfoForm", "attributes": {
      "var2_way_to_root": ["MID1"],
      "var2_child_instname": ["LEAF1"],
      "var2_child_matrix": ["1 0 0 0 0 1 0 0 0 0 1 0 0 0.25 0 1"] } },
    "fi_mo_mid_lod1": { "type": "KEPModOnInfoForm", "attributes": {
      "var2_way_to_root": ["MID1"],
      "var2_child_instname": ["LEAF1", "OTHER", "LEAF1"],
      "var2_child_matrix": ["1 0 0 0 0 1 0 0 0 0 1 0 0 0.5 0 1", "1 0 0 0 0 1 0 0 0 0 1 0 9 9 9 1",
                            "0 1 0 0 -1 0 0 0 0 0 1 0 0 0.75 0 1"] } },
    "fi_mo_top": { "type": "KEPModOnInfoForm", "attributes": { "var2_way_to_root": ["MID9", "SUB1"] } },
    "fi_mp_leaf": { "type": "KEPModOnInfoForm", "attributes": { "var2_way_to_root": ["LEAF1", "MID1"] } },
    "ti_design": { "type": "TypeForm", "attributes": { "var2_type": "DESIGN" } },
    "ti_visu": { "type": "TypeForm", "attributes": { "var2_type": "VISUALIZATION" } },

    )" +
           kep_test::box_forms({{"bb_asm", {-1, -1, -1, 4, 4, 4}},
                                {"bb_aux_asm", {-2, 0, 0, 0, 1, 1}},
                                {"bb_huge", {-100, -100, -100, 100, 100, 100}},
                                {"bb_sub", {0, 0, 0, 2, 2, 1}},
                                {"bb_part", {0, 0, 0, 0.1, 0.1, 0.1}},
                                {"bb_part_lod1", {0, 0, 0, 0.2, 0.2, 0.2}},
                                {"bb_mp", {0, 0, 0, 0.3, 0.3, 0.3}},
                                {"bb_mp_lod1", {0, 0, 0, 0.4, 0.4, 0.4}},
                                {"bb_bare", {0, 0, 0, 1, 1, 1}},
                                {"bb_arch", {0.5, -1, 0, 2, 0.5, 3}}}) +
           R"(
  },
  "relation_types": ["KEPModOnProductRel", "KEPModOnPartRel"],
  "relations": [
    ["asm/A", "IMAN_specification", "ds_asm"],
    ["asm/A", "IMAN_reference", "aux_asm"],
    ["asm/A", "IMAN_reference", "aux_visu"],
    ["asm/A", "KEPModOnProductRel", "mo_top"],
    ["sub/A", "IMAN_specification", "ds_sub"],
    ["sub/A", "KEPModOnProductRel", "mo_mid"],
    ["sub/A", "KEPModOnProductRel", "mo_other"],
    ["sub/A", "KEPModOnProductRel", "mo_mid_lod1"],
    ["sub/A", "KEPModOnPartRel", "mp_leaf"],
    ["sub/A", "KEPModOnPartRel", "mp_leaf_lod1"],
    ["sub/A", "IMAN_Rendering", "dm_sub_two"],
    ["sub/A", "IMAN_Rendering", "dm_sub"],
    ["part/A", "IMAN_specification", "ds_part"],
    ["part/A", "IMAN_specification", "ds_part_lod1"],
    ["part/A", "IMAN_Rendering", "dm_part"],
    ["bare/A", "IMAN_reference", "aux_bare"],
    ["bare/A", "IMAN_specification", "arch_bare"]
  ],
  "windows": {
    "w1": { "id": "top", "revision": "asm/A", "occurrence_name": "TOP", "children": [
      { "id": "sub", "revision": "sub/A", "occurrence_name": "SUB1",
        "transform": "1 0 0 0 0 1 0 0 0 0 1 0 0 0 1 1", "children": [
        { "id": "mid", "revision": "mid/A", "occurrence_name": "MID1",
          "transform": "0 1 0 0 -1 0 0 0 0 0 1 0 1 0 0 1", "children": [
          { "id": "leaf", "revision": "part/A", "occurrence_name": "LEAF1",
            "transform": "1 0 0 0 0 1 0 0 0 0 1 0 0 0.5 0 1",
            "packed": [ { "id": "leafp", "revision": "part/A", "occurrence_name": "LEAF1",
                          "transform": "1 0 0 0 0 1 0 0 0 0 1 0 0 1.5 0 1" } ] } ] },
        { "id": "bare", "revision": "bare/A", "occurrence_name": "BARE1",
          "transform": "1 0 0 0 0 1 0 0 0 0 1 0 3 0 0 1" } ] } ] }
  }
})";
}

// Every line property has a platform method: the extension adds post-actions.
inline std::string sweep_site_post_actions() {
    return sweep_site_json(R"(["bl_plmxml_occ_xform", "bl_plmxml_abs_xform", "bl_jt_dataset_tag"])");
}

// No line property has a platform method: the extension registers its own methods.
inline std::string sweep_site_own_methods() { return sweep_site_json("[]"); }

// One property with a platform method, two without: both registration branches in one run.
inline std::string sweep_site_mixed() { return sweep_site_json(R"(["bl_plmxml_abs_xform"])"); }

}  // namespace sweep_test

#endif
