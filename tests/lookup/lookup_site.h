// The site the lookup tests run on, and the fixture that loads it.
//
//   top (asm/A)              ds_prod      Assembly3D  IMAN_specification
//                            ds_prod_ref  Assembly3D  IMAN_reference
//                            ds_asm_part  Part3D      IMAN_specification
//   +- l_part (part/A)       ds_part      Part3D      IMAN_specification
//   |                        ds_model     Model3D     IMAN_Rendering
//   |                        ds_lower     part3d      IMAN_specification   (type differs in case)
//   |                        form1        BBForm      IMAN_reference       (not a dataset)
//   |                        ds_tess       Tess3D      IMAN_specification
//   |                        ds_aux       AuxPart     IMAN_reference
//   |                        ds_archive   Archive     IMAN_specification
//   |                        ds_rep       Rep3D       IMAN_reference
//   +- l_bare (bare/A)       nothing attached
//
// The callers' search scope is 4 (site), so a test can see whether a reader put it back.
#ifndef LOOKUP_SITE_H
#define LOOKUP_SITE_H

#include <gtest/gtest.h>
#include <standin/control.h>

#include <string>
#include <vector>

#include "kep_fixture.h"
#include "kep_site_text.h"
#include "lookup/kep_lookup.h"

namespace lookup_test {

inline std::string site_json() {
    return R"({
  "platform": { "search_scope": 4 },
  "types": { "Part3D": "Dataset", "Model3D": "Dataset", "part3d": "Dataset", "Tess3D": "Dataset",
             "Rep3D": "Dataset", "AuxPart": "Dataset", "Archive": "Dataset", "Assembly3D": "Dataset",
             "BBForm": "Form" },
  "objects": {)" +
           kep_test::revisions({"asm", "part", "bare"}) + R"(,
    "ds_prod": { "type": "Assembly3D", "name": "ASM/A" },
    "ds_prod_ref": { "type": "Assembly3D", "name": "ASM/A ref" },
    "ds_asm_part": { "type": "Part3D", "name": "ASM/A part" },
    "ds_part": { "type": "Part3D", "name": "PART/A" },
    "ds_model": { "type": "Model3D", "name": "PART/A model" },
    "ds_lower": { "type": "part3d", "name": "PART/A lower" },
    "form1": { "type": "BBForm", "name": "bb" },
    "ds_tess": { "type": "Tess3D", "name": "PART/A tess" },
    "ds_aux": { "type": "AuxPart", "name": "PART/A aux" },
    "ds_archive": { "type": "Archive", "name": "PART/A archive" },
    "ds_rep": { "type": "Rep3D", "name": "PART/A rep" }
  },
  "relations": [
    ["asm/A", "IMAN_specification", "ds_prod"],
    ["asm/A", "IMAN_reference", "ds_prod_ref"],
    ["asm/A", "IMAN_specification", "ds_asm_part"],
    ["part/A", "IMAN_specification", "ds_part"],
    ["part/A", "IMAN_Rendering", "ds_model"],
    ["part/A", "IMAN_specification", "ds_lower"],
    ["part/A", "IMAN_reference", "form1"],
    ["part/A", "IMAN_specification", "ds_tess"],
    ["part/A", "IMAN_reference", "ds_aux"],
    ["part/A", "IMAN_specification", "ds_archive"],
    ["part/A", "IMAN_reference", "ds_rep"]
  ],
  "windows": {
    "w1": { "id": "top", "revision": "asm/A", "children": [
      { "id": "l_part", "revision": "part/A" },
      { "id": "l_bare", "revision": "bare/A" } ] }
  }
})";
}

// The preferences of a complete site: every type and relation key the lookups read.
inline void set_all_preferences() {
    standin::set_preference(KEP_PREF_PART_DATASET_TYPE, {"Part3D"});
    standin::set_preference(KEP_PREF_MODEL_DATASET_TYPE, {"Model3D"});
    standin::set_preference(KEP_PREF_CGR_DATASET_TYPE, {"Tess3D"});
    standin::set_preference(KEP_PREF_REP_DATASET_TYPE, {"Rep3D"});
    standin::set_preference(KEP_PREF_AUX_PART_DATASET_TYPE, {"AuxPart"});
    standin::set_preference(KEP_PREF_AUX_MODEL_DATASET_TYPE, {"Model3D"});
    standin::set_preference(KEP_PREF_AUX_CGR_DATASET_TYPE, {"Tess3D"});
    standin::set_preference(KEP_PREF_AUX_REP_DATASET_TYPE, {"Rep3D"});
    standin::set_preference(KEP_PREF_ARCHIVE_DATASET_TYPE, {"Archive"});
    standin::set_preference(KEP_PREF_PRODUCT_DATASET_RELATION, {"IMAN_specification"});
    standin::set_preference(KEP_PREF_PRODUCT_DATASET_TYPE, {"Assembly3D"});
}

inline tag_t tag(const std::string& id) { return standin::tag_of(id); }

// Site ids of a list of tags, in order.
inline std::vector<std::string> ids(const tag_t* tags, int count) {
    std::vector<std::string> out;
    for (int i = 0; i < count && tags != nullptr; ++i) {
        out.push_back(standin::id_of(tags[i]));
    }
    return out;
}

// Tags of a list of site ids, in order.
inline std::vector<tag_t> tags(const std::vector<std::string>& site_ids) {
    std::vector<tag_t> out;
    for (const std::string& id : site_ids) {
        out.push_back(standin::tag_of(id));
    }
    return out;
}

class LookupTest : public kep_test::KepFixture {
protected:
    void SetUp() override {
        KepFixture::SetUp();
        ASSERT_NO_FATAL_FAILURE(load_site(site_json()));
    }
    // Console only, with the statement trace.
    static void console_with_trace() { set_switches("ON", nullptr, "ON"); }
};

}  // namespace lookup_test

#endif
