// The fault sweep over every function the platform calls: the entry point, the three exits, the
// Dataset type registration and getter, the three line properties read through the post-actions
// and through the extension's own methods, and the two user services. Each runs on the sweep site
// (sweep_site.h) where it takes its deepest path; sweep_driver.h says what every run is checked
// for. With KEP_SWEEP_TABLE=1 in the environment the program prints the table at the end.
#include <base_utils/Mem.h>
#include <gtest/gtest.h>
#include <standin/control.h>
#include <tccore/custom.h>
#include <tccore/tctype.h>

#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "kep_explain.h"
#include "kep_fixture.h"
#include "registration/kep_registration.h"
#include "sweep_driver.h"
#include "sweep_site.h"

namespace sweep_test {
namespace {

tag_t tag(const char* id) { return standin::tag_of(id); }

void load(const std::string& json) {
    std::string error;
    if (!standin::load_site(json, "sweep site", &error)) {
        ADD_FAILURE() << error;
    }
}

// The exits registered, as the platform finds them after loading the library.
void load_with_exits(const std::string& json) {
    load(json);
    EXPECT_EQ(kep_register_callbacks(), 0);
}

int g_decision = 0;

int run_exit(const char* name) {
    g_decision = 0;
    return standin::run_exit(name, &g_decision);
}

std::string decision_is_two() {
    return g_decision == ALL_CUSTOMIZATIONS ? "" : "decision " + std::to_string(g_decision) + ", not 2";
}

// Calls a type registration function as the platform does: the type's tag in the argument list.
int call_registration(METHOD_function_t fn, tag_t type, ...) {
    METHOD_message_t message{};
    message.object = type;
    message.object_tag = type;
    va_list args;
    va_start(args, type);
    const int status = fn(&message, args);
    va_end(args);
    return status;
}

tag_t g_dataset_type = NULLTAG;

int read_string(const char* line, const char* property) {
    char* value = nullptr;
    const int status = standin::ask_string(tag(line), property, &value);
    MEM_free(value);
    return status;
}

int read_tag(const char* line, const char* property) {
    tag_t value = NULLTAG;
    return standin::ask_tag(tag(line), property, &value);
}

// The line properties bound the way the site's platform methods decide.
void load_with_line_methods(const std::string& json) {
    load(json);
    EXPECT_EQ(kep_register_object_methods(), 0);
}

void load_with_services() {
    load(sweep_site_post_actions());
    EXPECT_EQ(kep_register_object_methods(), 0);
    EXPECT_EQ(kep_register_userservice_methods(), 0);
}

int call_service(const char* name, const std::vector<standin::UserArg>& args) {
    std::vector<tag_t> returned;
    bool handed_back = false;
    return standin::call_service(name, args, &returned, &handed_back);
}

std::vector<EntryPoint> entry_points() {
    std::vector<EntryPoint> all;
    all.push_back({"kep_register_callbacks", "the three exits", [] { load(sweep_site_mixed()); },
                   [] { return kep_register_callbacks(); }, nullptr});
    all.push_back({"exit USER_init_module", "decision only", [] { load_with_exits(sweep_site_mixed()); },
                   [] { return run_exit("USER_init_module"); }, decision_is_two});
    all.push_back({"exit USER_register_properties", "table, then Dataset set-up below the version threshold",
                   [] { load_with_exits(sweep_site_mixed()); },
                   [] { return run_exit("USER_register_properties"); }, decision_is_two});
    all.push_back({"exit USERSERVICE_register_methods", "line properties (both branches), then services",
                   [] { load_with_exits(sweep_site_mixed()); },
                   [] { return run_exit("USERSERVICE_register_methods"); }, decision_is_two});
    all.push_back({"kep_register_runtime_property_is_v0", "creates the property, registers the getter",
                   [] {
                       load(sweep_site_mixed());
                       g_dataset_type = NULLTAG;
                       EXPECT_EQ(TCTYPE_ask_object_type(tag("ds_plain"), &g_dataset_type), 0);
                   },
                   [] {
                       return call_registration(kep_register_runtime_property_is_v0, g_dataset_type,
                                                g_dataset_type);
                   },
                   nullptr});
    all.push_back({"var2_is_v0 getter", "own version 0, diagnostics on (name read)",
                   [] {
                       load_with_exits(sweep_site_mixed());
                       EXPECT_EQ(run_exit("USER_register_properties"), 0);
                   },
                   [] {
                       bool value = false;
                       return standin::ask_logical(tag("ds_part"), KEP_PROP_IS_V0, &value);
                   },
                   nullptr});

    struct LineCase {
        const char* property;
        bool tag_valued;
    };
    const LineCase line_cases[] = {
        {"bl_plmxml_occ_xform", false}, {"bl_plmxml_abs_xform", false}, {"bl_jt_dataset_tag", true}};
    for (const bool own : {false, true}) {
        for (const LineCase& c : line_cases) {
            const std::string property = c.property;
            const bool tag_valued = c.tag_valued;
            all.push_back({property + (own ? " (own method)" : " (post-action)"),
                           "leaf: mod-on host two levels up, LOD1 representations",
                           [own] {
                               load_with_line_methods(own ? sweep_site_own_methods()
                                                          : sweep_site_post_actions());
                           },
                           [property, tag_valued] {
                               return tag_valued ? read_tag("leaf", property.c_str())
                                                 : read_string("leaf", property.c_str());
                           },
                           nullptr});
        }
    }

    all.push_back(
        {"kep_userservice_volume_search", "whole window, packed line, every box path", load_with_services,
         [] {
             return call_service("kep_userservice_volume_search",
                                 {{standin::UserArg::Tag, tag("w1")},
                                  {standin::UserArg::Double, 0, 5.0},
                                  {standin::UserArg::DoubleArray, 0, 0.0, {-10, -10, -10, 10, 10, 10}}});
         },
         nullptr});
    // The same search keeping its walk for the window's account: the recording frees what it took
    // and passes every status on, whichever call fails.
    all.push_back(
        {"kep_userservice_volume_search (walk kept)", "as above, asked to keep its walk", load_with_services,
         [] {
             char* none = nullptr;
             kep_explain_line(NULLTAG, nullptr, KEP_EXPLAIN_KEEP_NEXT_WALK, &none);
             return call_service("kep_userservice_volume_search",
                                 {{standin::UserArg::Tag, tag("w1")},
                                  {standin::UserArg::Double, 0, 5.0},
                                  {standin::UserArg::DoubleArray, 0, 0.0, {-10, -10, -10, 10, 10, 10}}});
         },
         nullptr});
    all.push_back(
        {"kep_userservice_neighbourhood_search", "two selected lines, packed line", load_with_services,
         [] {
             return call_service("kep_userservice_neighbourhood_search",
                                 {{standin::UserArg::Tag, tag("w1")},
                                  {standin::UserArg::Double, 0, 500.0},
                                  {standin::UserArg::TagArray, 0, 0.0, {}, {tag("leaf"), tag("bare")}}});
         },
         nullptr});
    return all;
}

class EntryPointSweep : public kep_test::KepFixture, public ::testing::WithParamInterface<size_t> {};

TEST_P(EntryPointSweep, EveryFailedCallIsHandled) {
    const EntryPoint entry = entry_points()[GetParam()];
    const SweepResult result = sweep_entry_point(entry);
    EXPECT_EQ(result.failures, 0) << entry.name;
    for (const std::string& finding : result.findings) {
        ADD_FAILURE() << entry.name << ": " << finding;
    }
    // Every entry point but the one that makes no platform call was made to fail somewhere.
    if (entry.name != "exit USER_init_module") {
        EXPECT_GT(result.injected, 0) << entry.name;
    }
}

std::string entry_test_name(const ::testing::TestParamInfo<size_t>& info) {
    std::string name = entry_points()[info.param].name;
    for (char& ch : name) {
        if (!std::isalnum(static_cast<unsigned char>(ch))) {
            ch = '_';
        }
    }
    return name;
}

INSTANTIATE_TEST_SUITE_P(All, EntryPointSweep, ::testing::Range<size_t>(0, entry_points().size()),
                         entry_test_name);

// Prints the table when the program runs with KEP_SWEEP_TABLE=1 (make sweep).
class TablePrinter : public ::testing::Environment {
public:
    void TearDown() override {
        const char* flag = std::getenv("KEP_SWEEP_TABLE");
        if (flag != nullptr && std::string(flag) == "1") {
            std::printf("\n%s", sweep_table().c_str());
            for (const SweepResult& r : sweep_results()) {
                for (const std::string& f : r.findings) {
                    std::printf("  %s: %s\n", r.name.c_str(), f.c_str());
                }
            }
        }
    }
};

const ::testing::Environment* const g_table_printer = ::testing::AddGlobalTestEnvironment(new TablePrinter);

}  // namespace
}  // namespace sweep_test
