// The features of the preflight check (kep_check.h), each judged from the keys it reads.
// Internal to the check.
#ifndef KEP_CHECK_FEATURES_H
#define KEP_CHECK_FEATURES_H

#include <string>

#include "kep_check_read.h"

namespace kep_check {
namespace detail {

// What the representation filter leaves users, for the features that rely on it.
struct FilterState {
    std::string loss;  // empty while the filter chooses as it should
};

Feature check_loading(SiteReader& reader);
// *keys_set: both part mod-on keys are set (whether or not they name something).
Feature check_modon_parts(SiteReader& reader, bool* keys_set);
Feature check_modon_products(SiteReader& reader);
// The three keys of the representation filter; *state: what it leaves the features relying on it.
Feature check_filter(SiteReader& reader, FilterState* state);
// The four type keys of the 3D geometry set; *types_known: all four name dataset types.
Feature check_3d_boxes(SiteReader& reader, bool* types_known);
Feature check_aux_boxes(SiteReader& reader);
Feature check_jt(SiteReader& reader, bool modon_part_keys_set, const Feature& modon_parts,
                 const Feature& boxes_3d, const FilterState& filter);
Feature check_is_v0(SiteReader& reader, int version, const std::string& version_error);
Feature check_diagnostics();

}  // namespace detail
}  // namespace kep_check

#endif
