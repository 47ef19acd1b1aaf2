// The three line values answered end to end: kep-host loads the example site with mod-on
// representations and the kep library, and reads bl_plmxml_occ_xform, bl_plmxml_abs_xform and
// bl_jt_dataset_tag as a client would, once with the platform's own methods (the extension adds
// post-actions) and once without them (the extension's methods alone give the values).
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>

#include "host_runner.h"
#include "kep_posix.h"
#include "kep_temp_dir.h"

namespace host_test {
namespace {

using nlohmann::json;

const char kSite[] = "examples/sites/modon.json";

// A copy of the example site with some entries replaced, written to a temporary file that is
// removed again with this object.
class SiteVariant {
public:
    explicit SiteVariant(const json& changes) {
        json site = json::parse(read_text(source_path(kSite)));
        for (const auto& change : changes.items()) {
            if (change.key() == "preferences") {
                for (const auto& pref : change.value().items()) {
                    site["preferences"][pref.key()] = pref.value();
                }
            } else {
                site[change.key()] = change.value();
            }
        }
        path_ = kep_test::temp_path("values.json");
        std::ofstream(path_) << site.dump(2);
    }
    ~SiteVariant() {
        if (!path_.empty()) {
            std::remove(path_.c_str());
        }
    }
    SiteVariant(const SiteVariant&) = delete;
    SiteVariant& operator=(const SiteVariant&) = delete;
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

struct Expect {
    const char* line;
    const char* property;
    json value;  // a text, an object id, or null
};

void expect_values(const std::string& site, const std::vector<Expect>& expects) {
    for (const Expect& e : expects) {
        SCOPED_TRACE(std::string(e.line) + " " + e.property);
        const HostRun run = run_host({"--site", site, "--stats", "ask", e.line, e.property});
        ASSERT_EQ(run.exit_code, 0) << run.err;
        const json result = run.json();
        EXPECT_EQ(result["status"], 0);
        EXPECT_EQ(result["value"], e.value) << run.out;
        EXPECT_EQ(result["stats"]["live_blocks"], 0) << run.out;
        EXPECT_EQ(result["stats"]["misuse"], 0) << run.out;
    }
}

const char kIdentity[] = "1 0 0 0 0 1 0 0 0 0 1 0 0 0 0 1";
const char kHingeMaster[] =
    "1 0 0 0 0 1 0 0 0 0 1 0 0 0.012 0 1";  // the hinge as the master representation places it
const char kHingeLod1[] = "1 0 0 0 0 1 0 0 0 0 1 0 0 0.011 0 1";
const char kHandleLod1[] = "1 0 0 0 0 1 0 0 0 0 1 0 0 0.055 0 1";

TEST(HostValues, WithThePlatformsOwnMethods) {
    const json null;
    expect_values(
        source_path(kSite),
        {
            // The top line has no parent; the door's parent has no representation.
            {"car", "bl_plmxml_occ_xform", "1 0 0 0 0 1 0 0 0 0 1 0 1 0 0 1"},
            {"door", "bl_plmxml_occ_xform", "0 1 0 0 -1 0 0 0 0 0 1 0 0.1 0 0 1"},
            // The body's representation of the door places the hinge and lists no handle: the
            // handle keeps the platform's placement.
            {"hinge", "bl_plmxml_occ_xform", kHingeMaster},
            {"handle", "bl_plmxml_occ_xform", "1 0 0 0 0 1 0 0 0 0 1 0 0 0.05 0 1"},
            // body x door x hinge', without the car's own transform.
            {"hinge", "bl_plmxml_abs_xform", "0 1 0 0 -1 0 0 0 0 0 1 0 0.08800000000000001 0 0.5 1"},
            // body x door x handle from the standard values: the door turns the handle's (0, 0.05, 0)
            // onto (-0.05, 0, 0).
            {"handle", "bl_plmxml_abs_xform", "0 1 0 0 -1 0 0 0 0 0 1 0 0.05 0 0.5 1"},
            // No representation above the wheel: the platform's value, the car included.
            {"wheel", "bl_plmxml_abs_xform", "1 0 0 0 0 1 0 0 0 0 1 0 1 0.7 0 1"},
            // The door carries the hinge's part representation and its rendering.
            {"hinge", "bl_jt_dataset_tag", "jt_door_hinge"},
            // Of two rendering datasets named like the master, the one with one reference.
            {"handle", "bl_jt_dataset_tag", "jt_handle"},
            // The rendering dataset's name differs in case only.
            {"wheel", "bl_jt_dataset_tag", null},
            // Assemblies with a structure dataset show no JT of their own.
            {"door", "bl_jt_dataset_tag", null},
            {"car", "bl_jt_dataset_tag", null},
            // Nothing to pick and no structure dataset: the platform's value.
            {"body", "bl_jt_dataset_tag", "std_jt_body"},
            // A host whose only representation the filter does not take: no fallback to
            // the bolt's own geometry, and the platform's value stays.
            {"bolt", "bl_jt_dataset_tag", "std_jt_bolt"},
        });
}

TEST(HostValues, WithoutPlatformMethods) {
    const SiteVariant site(json{{"line_methods", json::array()}});
    ASSERT_FALSE(site.path().empty());
    const json null;
    expect_values(site.path(), {
                                   {"car", "bl_plmxml_occ_xform", null},
                                   {"door", "bl_plmxml_occ_xform", null},
                                   {"hinge", "bl_plmxml_occ_xform", kHingeMaster},
                                   {"handle", "bl_plmxml_occ_xform", null},
                                   // Every other level reads null and counts as the identity.
                                   {"hinge", "bl_plmxml_abs_xform", kHingeMaster},
                                   {"handle", "bl_plmxml_abs_xform", kIdentity},
                                   {"wheel", "bl_plmxml_abs_xform", null},
                                   {"hinge", "bl_jt_dataset_tag", "jt_door_hinge"},
                                   {"handle", "bl_jt_dataset_tag", "jt_handle"},
                                   {"wheel", "bl_jt_dataset_tag", null},
                                   {"door", "bl_jt_dataset_tag", null},
                                   {"body", "bl_jt_dataset_tag", null},
                                   {"bolt", "bl_jt_dataset_tag", null},
                               });
}

// The site asks for the LOD1 representations: the door's LOD1 representation places both parts,
// the handle's LOD1 geometry brings its own rendering.
TEST(HostValues, AlternativeRepresentations) {
    const SiteVariant site(
        json{{"preferences", {{"KEPUseAltRepFilter", "1"}, {"KEPActualAltRepList", {"LOD1"}}}}});
    ASSERT_FALSE(site.path().empty());
    const json null;
    expect_values(site.path(), {
                                   {"hinge", "bl_plmxml_occ_xform", kHingeLod1},
                                   {"handle", "bl_plmxml_occ_xform", kHandleLod1},
                                   {"handle", "bl_jt_dataset_tag", "jt_handle_lod1"},
                                   // The hinge's part representation has no LOD1 variant: nothing is
                                   // picked, and the hinge keeps the platform's value (none).
                                   {"hinge", "bl_jt_dataset_tag", null},
                               });
}

TEST(HostValues, FailureReachesTheClient) {
    // The first preference scope query is the occurrence transform's first preference read.
    const HostRun run = run_host({"--site", source_path(kSite), "--stats", "--fail",
                                  "PREF_ask_search_scope@1=4242", "ask", "hinge", "bl_plmxml_occ_xform"});
    EXPECT_EQ(run.exit_code, 1) << run.err;
    const json result = run.json();
    EXPECT_EQ(result["status"], 4242);
    EXPECT_EQ(result["value"], json());
    EXPECT_EQ(result["stats"]["live_blocks"], 0);
    EXPECT_EQ(result["stats"]["misuse"], 0);
}

}  // namespace
}  // namespace host_test
