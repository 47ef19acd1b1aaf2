// The economical path (switches off, each platform question asked once per call) against the
// literal path (forced) over generated sites: the same answers, statuses and error stacks, under
// faults too, and no question asked twice within one search.
#include <bom/bom.h>
#include <gtest/gtest.h>
#include <kep_support_internal.h>
#include <standin/control.h>
#include <tc/emh.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "base/kep_observer.h"
#include "kep_explain.h"
#include "kep_fixture.h"
#include "kep_posix.h"
#include "kep_sweep.h"
#include "lookup/kep_memo.h"
#include "registration/kep_registration.h"

namespace economy_test {
namespace {

using kep_test::generated_site;
using standin::UserArg;

struct Site {
    std::string options;                                                        // generator options
    std::vector<std::pair<std::string, std::vector<std::string>>> preferences;  // changed after loading
};

// A fresh process's state on the site: switches off, the extension registered.
void load(const Site& site) {
    std::string error;
    ASSERT_TRUE(standin::load_site(generated_site(site.options), "generated site", &error)) << error;
    for (const auto& p : site.preferences) {
        standin::set_preference(p.first, p.second);
    }
    for (const char* name : {"ZODORE_DEBUG", "ZODORE_SYSLOG", "ZODORE_ITKLOG"}) {
        standin::hide_env(name);
    }
    kep_support_reset_state();
    ASSERT_EQ(kep_register_callbacks(), 0);
    ASSERT_EQ(standin::run_all_exits(), 0);
}

std::vector<tag_t> lines_of_site() {
    std::vector<tag_t> lines;
    for (const auto& entry : standin::all_ids()) {
        if (standin::kind_of(entry.second) == "BOMLine") {
            lines.push_back(entry.second);
        }
    }
    return lines;
}

std::string ids(const std::vector<tag_t>& tags) {
    std::string text;
    for (tag_t t : tags) {
        text += standin::id_of(t) + " ";
    }
    return text;
}

int volume_search(const std::vector<double>& box, std::vector<tag_t>* found) {
    bool handed_back = false;
    return standin::call_service("kep_userservice_volume_search",
                                 {UserArg{UserArg::Tag, standin::tag_of("w1")},
                                  UserArg{UserArg::Double, 0, 5.0}, UserArg{UserArg::DoubleArray, 0, 0, box}},
                                 found, &handed_back);
}

// The error stack as it stands, after an answer: " | [op] [op]" (nothing when it is empty).
std::string stack() {
    std::string text;
    for (const standin::ErrorEntry& e : standin::errors()) {
        text += " [" + std::to_string(e.severity) + " " + std::to_string(e.code) + " " + e.text + "]";
    }
    return text.empty() ? text : " |" + text;
}

const std::vector<double> kWholeVehicle = {-1, -1, -1, 4, 1, 1.5};
const std::vector<double> kCorner = {-0.8, -0.9, -0.3, 0.6, 0.1, 0.4};

// Everything a client sees of the site: both searches and the three line properties, one text
// per question ("what: status value").
std::vector<std::string> answers() {
    std::vector<std::string> out;
    const std::vector<tag_t> lines = lines_of_site();
    for (const auto& box : {kWholeVehicle, kCorner}) {
        std::vector<tag_t> found;
        const int status = volume_search(box, &found);
        out.push_back("volume: " + std::to_string(status) + " " + ids(found) + stack());
    }
    for (size_t first = 0; first < lines.size(); first += lines.size() / 4 + 1) {
        std::vector<tag_t> selected(lines.begin() + static_cast<long>(first),
                                    lines.begin() + static_cast<long>(std::min(first + 3, lines.size())));
        std::vector<tag_t> found;
        bool handed_back = false;
        const int status = standin::call_service(
            "kep_userservice_neighbourhood_search",
            {UserArg{UserArg::Tag, standin::tag_of("w1")}, UserArg{UserArg::Double, 0, 20.0},
             UserArg{UserArg::TagArray, 0, 0, {}, selected}},
            &found, &handed_back);
        out.push_back("neighbourhood " + ids(selected) + ": " + std::to_string(status) + " " + ids(found) +
                      stack());
    }
    for (tag_t line : lines) {
        for (const char* property : {"bl_plmxml_occ_xform", "bl_plmxml_abs_xform"}) {
            char* value = nullptr;
            const int status = standin::ask_string(line, property, &value);
            out.push_back(standin::id_of(line) + " " + property + ": " + std::to_string(status) + " " +
                          (value != nullptr ? value : "(null)") + stack());
            MEM_free(value);
        }
        tag_t jt = NULLTAG;
        const int status = standin::ask_tag(line, "bl_jt_dataset_tag", &jt);
        out.push_back(standin::id_of(line) + " bl_jt_dataset_tag: " + std::to_string(status) + " " +
                      standin::id_of(jt) + stack());
    }
    return out;
}

// Runs fn on one path; nothing may be left live or freed twice.
template <class F>
auto on_path(bool literal, F&& fn) -> decltype(fn()) {
    kep::force_literal_path(literal);
    const int live_before = standin::live_blocks();
    auto result = fn();
    kep::force_literal_path(false);
    EXPECT_EQ(standin::live_blocks(), live_before) << (literal ? "literal" : "economical") << " path";
    EXPECT_EQ(standin::misuse_count(), 0) << (literal ? "literal" : "economical") << " path";
    return result;
}

void expect_same(const std::vector<std::string>& literal, const std::vector<std::string>& economical,
                 const std::string& label) {
    ASSERT_EQ(literal.size(), economical.size()) << label;
    for (size_t i = 0; i < literal.size(); ++i) {
        ASSERT_EQ(literal[i], economical[i]) << label << ", answer " << i;
    }
}

const std::vector<Site> kSites = {
    {"--lines 300 --seed 3", {}},
    {"--lines 400 --seed 11 --packed-share 0.3 --modon-share 0.6 --depth 4", {}},
    {"--lines 240 --seed 5 --depth 12 --fanout 2 --modon-share 0.5", {}},
    // The representation filter on, LOD wanted before the master and after it.
    {"--lines 300 --seed 7 --modon-share 0.4",
     {{"KEPUseAltRepFilter", {"1"}}, {"KEPActualAltRepList", {"MASTER", "LOD1"}}}},
    {"--lines 300 --seed 7 --modon-share 0.4",
     {{"KEPUseAltRepFilter", {"1"}}, {"KEPActualAltRepList", {"LOD1", "MASTER"}}}},
    // Missing preferences: the filter switched on without its list, mod-on and structure types.
    {"--lines 300 --seed 9 --modon-share 0.4",
     {{"KEPUseAltRepFilter", {"1"}}, {"KEPModOnPartDatasetType", {}}, {"KEPProductDatasetType", {}}}},
    {"--lines 200 --seed 2", {{"KEPModOnProductDatasetRelation", {}}, {"KEPAuxCgrDatasetType", {}}}},
};

TEST(Economy, SameAnswersAsTheLiteralPath) {
    for (const Site& site : kSites) {
        SCOPED_TRACE(site.options);
        standin::reset();
        ASSERT_NO_FATAL_FAILURE(load(site));
        const auto literal = on_path(true, answers);
        const auto economical = on_path(false, answers);
        expect_same(literal, economical, site.options);
    }
}

// A fault that hits every call of one operation, or every call about one object, meets the same
// questions on both paths, so the statuses, answers and error stacks are the same too. (A lasting
// fault of EMH_clear_errors is left out: each failed clear leaves its own entry, and a lookup
// answered from the memo clears once where the lookup itself clears at every level.)
TEST(Economy, SameAnswersUnderLastingFaults) {
    const Site site = {"--lines 40 --seed 4 --depth 4 --modon-share 0.6", {}};
    standin::reset();
    ASSERT_NO_FATAL_FAILURE(load(site));
    const std::vector<tag_t> lines = lines_of_site();
    const tag_t deep = lines.back();
    const auto entry_points = [&] {
        std::vector<std::string> out;
        std::vector<tag_t> found;
        EMH_clear_errors();
        const int volume = volume_search(kWholeVehicle, &found);
        out.push_back("volume: " + std::to_string(volume) + " " + ids(found) + stack());
        const auto read = [&](tag_t line, const char* property) {
            EMH_clear_errors();
            char* value = nullptr;
            const int status = standin::ask_string(line, property, &value);
            out.push_back(standin::id_of(line) + " " + property + ": " + std::to_string(status) + " " +
                          (value != nullptr ? value : "(null)") + stack());
            MEM_free(value);
        };
        read(deep, "bl_plmxml_abs_xform");
        for (tag_t line : lines) {
            read(line, "bl_plmxml_occ_xform");
        }
        return out;
    };
    std::vector<std::function<void()>> faults;
    for (const std::string op :
         {"AE_ask_all_dataset_named_refs", "AOM_ask_value_double", "AOM_ask_value_string",
          "AOM_ask_value_strings", "BOM_line_ask_attribute_string", "BOM_line_ask_attribute_tag",
          "BOM_line_ask_child_lines", "BOM_line_ask_packed_lines", "BOM_line_look_up_attribute",
          "GRM_find_relation_type", "GRM_list_secondary_objects_only", "PREF_ask_char_value",
          "PREF_ask_char_values", "PREF_ask_value_count", "PREF_set_search_scope", "TCTYPE_ask_name",
          "TCTYPE_ask_object_type"}) {
        faults.push_back([op] { standin::fail_call(op, 0); });
    }
    for (const auto& entry : standin::all_ids()) {
        const tag_t object = entry.second;
        faults.push_back([object] { standin::fail_object("", object); });
    }
    for (size_t f = 0; f < faults.size(); ++f) {
        standin::clear_faults();
        standin::clear_syslog();
        faults[f]();
        const auto literal = on_path(true, entry_points);
        const auto economical = on_path(false, entry_points);
        expect_same(literal, economical, "fault " + std::to_string(f));
        standin::clear_faults();
    }
}

// The small site and the two entry point runs the fault tests fail one call or allocation of.
const Site kFaultSite = {"--lines 30 --seed 6 --depth 4 --modon-share 0.6", {}};

std::vector<std::pair<std::string, std::function<int()>>> fault_runs() {
    return {{"volume search",
             [] {
                 std::vector<tag_t> found;
                 return volume_search(kWholeVehicle, &found);
             }},
            {"absolute transform", [] {
                 char* value = nullptr;
                 const int status =
                     standin::ask_string(lines_of_site().back(), "bl_plmxml_abs_xform", &value);
                 MEM_free(value);
                 return status;
             }}};
}

// One failed call at a time: whatever fails, no crash, no leak, no misuse, and the status is the
// injected one or the clean run's.
TEST(Economy, EveryFailedCallIsHandled) {
    const Site site = kFaultSite;
    const auto runs = fault_runs();
    for (const auto& run : runs) {
        kep_test::FaultCase c;
        c.name = run.first;
        c.setup = [&] {
            standin::reset();
            load(site);
        };
        c.run = run.second;
        c.guard_rule = false;  // failures the lookups do not pass on are followed by further calls
        c.clears_errors = false;
        // A failed clear or error stack read changes nothing else: every clear is made on both paths.
        c.expected_status = [](const kep_test::FaultRun& r, const kep_test::FaultRun& baseline) {
            return r.status == standin::kErrInjected ? r.status : baseline.status;
        };
        const auto sweep = kep_test::run_fault_sweep(c);
        EXPECT_GT(sweep.size(), 20u) << run.first;
    }
}

// One MEM_alloc at a time answers null on the economical path: whichever, no crash, no leak, no
// misuse, and the status is 0 or 1 (no memory), as on the literal path (tests/sweep/).
TEST(Economy, EveryFailedAllocationIsHandled) {
    const Site site = kFaultSite;
    const auto runs = fault_runs();
    for (const auto& run : runs) {
        standin::reset();
        ASSERT_NO_FATAL_FAILURE(load(site));
        standin::reset_counters();
        run.second();
        const long allocations = standin::call_count("MEM_alloc");
        EXPECT_GT(allocations, 5) << run.first;
        for (long m = 1; m <= allocations; ++m) {
            standin::reset();
            ASSERT_NO_FATAL_FAILURE(load(site));
            const int live_before = standin::live_blocks();
            standin::fail_call("MEM_alloc", static_cast<int>(m));
            const int status = run.second();
            standin::clear_faults();
            const std::string where = run.first + ", allocation " + std::to_string(m);
            EXPECT_TRUE(status == 0 || status == 1) << where << ": status " << status;
            EXPECT_EQ(standin::live_blocks(), live_before) << where;
            EXPECT_EQ(standin::misuse_count(), 0) << where;
        }
    }
}

// Within one search each question reaches the platform at most once: bounds per operation from
// what the site holds, far below what the literal path asks.
TEST(Economy, EachQuestionOncePerSearch) {
    standin::reset();
    ASSERT_NO_FATAL_FAILURE(load({"--lines 500 --seed 8 --modon-share 0.3", {}}));
    long lines = 0, datasets = 0, forms = 0, objects = 0;
    for (const auto& entry : standin::all_ids()) {
        const std::string kind = standin::kind_of(entry.second);
        lines += kind == "BOMLine";
        datasets += kind == "Dataset";
        forms += kind == "Form";
        objects += kind == "ItemRevision" || kind == "Dataset" || kind == "Form";
    }
    const long preference_keys = 18;
    struct Bound {
        const char* op;
        long most;
    };
    const std::vector<Bound> bounds = {
        {"BOM_line_look_up_attribute", 4},
        {"BOM_line_ask_attribute_tag", 2 * lines},     // parent, revision
        {"BOM_line_ask_attribute_string", 2 * lines},  // item id, occurrence name
        {"BOM_line_ask_child_lines", lines},
        {"BOM_line_ask_packed_lines", lines},
        {"AOM_ask_value_string", 2 * lines + datasets + forms},  // transform and name; names, roles
        {"AOM_ask_value_strings", 3 * forms},
        {"AOM_ask_value_double", 6 * forms},
        {"AE_ask_all_dataset_named_refs", 4 * datasets},
        {"TCTYPE_ask_object_type", datasets},
        {"TCTYPE_ask_name", datasets},
        {"GRM_find_relation_type", 3},
        {"GRM_list_secondary_objects_only", 4 * objects},
        {"PREF_ask_value_count", preference_keys},
        {"PREF_ask_char_values", preference_keys},
    };
    const auto calls_of_search = [](bool literal) {
        return on_path(literal, [] {
            standin::reset_counters();
            std::vector<tag_t> found;
            EXPECT_EQ(volume_search(kWholeVehicle, &found), 0);
            return standin::call_counts();
        });
    };
    auto economical = calls_of_search(false);
    for (const Bound& b : bounds) {
        EXPECT_LE(economical[b.op], b.most) << b.op;
    }
    // The bounds mean something: the literal path asks far more. A clear is no question: the
    // economical path clears once for each lookup it answers, where the lookup would clear.
    auto literal = calls_of_search(true);
    EXPECT_GT(literal["BOM_line_look_up_attribute"], 4 * lines);
    EXPECT_LE(economical["EMH_clear_errors"], literal["EMH_clear_errors"]);
    EXPECT_GT(economical["EMH_clear_errors"], lines);
}

// The path follows what can be written: the trace switch alone writes nothing, so it keeps the
// economical path, on every system alike (the preflight's switch notes say the same).
TEST(Economy, OnlyAnOutputSwitchTurnsTheEconomicalPathOff) {
    struct Row {
        std::vector<std::pair<const char*, const char*>> env;
        bool economical;
    };
    const std::vector<Row> rows = {
        {{}, true},
        {{{"ZODORE_ITKLOG", "ON"}}, true},
        {{{"ZODORE_SYSLOG", "on"}, {"ZODORE_ITKLOG", "ON"}}, true},
        {{{"ZODORE_SYSLOG", "ON"}}, false},
        {{{"ZODORE_SYSLOG", "ON"}, {"ZODORE_ITKLOG", "ON"}}, false},
    };
    for (const Row& row : rows) {
        standin::reset();
        ASSERT_NO_FATAL_FAILURE(load({"--lines 60 --seed 4", {}}));
        std::string label;
        for (const auto& e : row.env) {
            standin::set_env(e.first, e.second);
            label += std::string(e.first) + "=" + e.second + " ";
        }
        kep_support_reset_state();  // the switches are read afresh, as in a new process
        standin::reset_counters();
        std::vector<tag_t> found;
        EXPECT_EQ(volume_search(kWholeVehicle, &found), 0) << label;
        EXPECT_EQ(standin::call_counts()["BOM_line_look_up_attribute"] <= 4, row.economical) << label;
    }
}

// Nothing is kept from one search to the next: a changed preference counts at once.
TEST(Economy, ChangedPreferenceTakesEffectAtTheNextSearch) {
    const std::vector<std::pair<std::string, std::vector<std::string>>> changes = {
        {"KEPPartDatasetType", {"NoSuchType"}},
        {"KEPUseAltRepFilter", {"1"}},
        {"KEPModOnPartDatasetType", {}},
    };
    for (const auto& change : changes) {
        SCOPED_TRACE(change.first);
        standin::reset();
        ASSERT_NO_FATAL_FAILURE(load({"--lines 300 --seed 12 --modon-share 0.5", {}}));
        std::vector<tag_t> before, after, literal;
        ASSERT_EQ(volume_search(kCorner, &before), 0);
        standin::set_preference(change.first, change.second);
        ASSERT_EQ(volume_search(kCorner, &after), 0);
        on_path(true, [&] { return volume_search(kCorner, &literal); });
        EXPECT_EQ(ids(after), ids(literal));
        EXPECT_NE(ids(after), ids(before));
    }
}

// An observer set on the thread changes nothing a client or the platform sees: the same answers,
// statuses, error stacks, platform calls and (with the trace on) statement trace, on both paths.
TEST(Economy, AnObserverChangesNothing) {
    struct CountingObserver : kep::Observer {
        long notes = 0;
        void note(const kep::Note&) noexcept override { ++notes; }
    };
    struct Run {
        std::vector<std::string> answers;
        std::map<std::string, long> calls;
        std::string trace;
    };
    const Site site = {"--lines 200 --seed 11 --packed-share 0.3 --modon-share 0.6 --depth 4", {}};
    for (const char* mode : {"literal", "economical", "traced"}) {
        SCOPED_TRACE(mode);
        const auto run = [&](kep::Observer* observer) {
            standin::reset();
            load(site);
            if (std::string(mode) == "traced") {
                standin::set_env("ZODORE_SYSLOG", "ON");
                standin::set_env("ZODORE_ITKLOG", "ON");
                kep_support_reset_state();
            }
            standin::reset_counters();
            standin::clear_syslog();
            std::unique_ptr<kep::Observing> observing(observer != nullptr ? new kep::Observing(observer)
                                                                          : nullptr);
            Run r;
            r.answers = on_path(std::string(mode) == "literal", answers);
            r.calls = standin::call_counts();
            r.trace = standin::syslog();
            return r;
        };
        const Run plain = run(nullptr);
        CountingObserver observer;
        const Run observed = run(&observer);
        EXPECT_GT(observer.notes, 0);
        expect_same(plain.answers, observed.answers, mode);
        EXPECT_EQ(plain.calls, observed.calls);
        EXPECT_EQ(plain.trace, observed.trace);
    }
}

// The explanation walks with the call memo and hears every decision all the same: its texts, JSON
// and window accounts are those of the literal path, byte for byte, on the sites above, on a deep
// chain, under a wide parent, and with mod-on relations the platform does not know (whose decisions
// the economical host lookup would otherwise skip).
TEST(Economy, TheExplanationIsTheSameOnBothPaths) {
    std::vector<Site> sites = kSites;
    sites.push_back({"--lines 200 --seed 4 --depth 5 --modon-share 0.6",
                     {{"KEPModOnPartDatasetRelation", {"NO_SUCH_RELATION"}},
                      {"KEPModOnProductDatasetRelation", {"NO_SUCH_RELATION"}}}});
    sites.push_back({"--lines 120 --seed 8 --depth 60 --fanout 1 --modon-share 0.5", {}});
    sites.push_back({"--lines 150 --seed 9 --depth 2 --fanout 150", {}});
    const auto explain = [](tag_t line, const kep_explain_query_t* query, int format) {
        char* text = nullptr;
        const int status = kep_explain_line(line, query, format, &text);
        const std::string out = std::to_string(status) + " " + (text != nullptr ? text : "(null)") + stack();
        MEM_free(text);
        return out;
    };
    for (const Site& site : sites) {
        SCOPED_TRACE(site.options);
        standin::reset();
        ASSERT_NO_FATAL_FAILURE(load(site));
        const std::vector<tag_t> lines = lines_of_site();
        const auto explanations = [&] {
            std::vector<std::string> out;
            kep_explain_query_t box{};
            box.kind = KEP_EXPLAIN_QUERY_BOX;
            std::copy(kCorner.begin(), kCorner.end(), box.box);
            box.delta_mm = 5;
            kep_explain_query_t near{};
            near.kind = KEP_EXPLAIN_QUERY_NEAR;
            near.near_lines = lines.data();
            near.near_count = static_cast<int>(std::min<size_t>(3, lines.size()));
            near.delta_mm = 20;
            for (size_t i = 0; i < lines.size(); i += lines.size() / 6 + 1) {
                out.push_back(explain(lines[i], &box, KEP_EXPLAIN_JSON));
                out.push_back(explain(lines[i], &near, KEP_EXPLAIN_TEXT));
            }
            out.push_back(explain(lines.back(), nullptr, KEP_EXPLAIN_TEXT));
            out.push_back(explain(lines.back(), &box, KEP_EXPLAIN_WINDOW));
            out.push_back(explain(lines.back(), &box, KEP_EXPLAIN_WINDOW_LEAN));
            // The lean account is the whole one less each line's absolute placement, its box_dataset
            // and every field that is null or an empty list.
            std::string lean = out[out.size() - 2];
            for (const char* field : {", \"absolute\": (null|\\[[^\\]]*\\])",
                                      ", \"box_dataset\": (null|[0-9]+)", ", \"[a-z_]+\": (null|\\[\\])"}) {
                lean = std::regex_replace(lean, std::regex(field), "");
            }
            EXPECT_EQ(lean, out.back());
            return out;
        };
        const auto literal = on_path(true, explanations);
        const auto economical = on_path(false, explanations);
        expect_same(literal, economical, site.options);
    }
}

// A search asked to keep its walk is the same search, with the same calls, and the account of its
// window that takes the walk is the account a walk of its own gives, byte for byte: after either
// search, lean or whole, when nothing was searched, when the account names no window, asked twice,
// and after a search that fails at each of its calls in turn (the account is then taken with the
// faults lifted, as kep-host takes it). Nothing is left behind.
TEST(Economy, TheKeptWalkGivesTheWindowsOwnAccount) {
    for (const Site& site : {kSites[0], Site{"--lines 150 --seed 9 --depth 3 --modon-share 0.5", {}}}) {
        SCOPED_TRACE(site.options);
        standin::reset();
        ASSERT_NO_FATAL_FAILURE(load(site));
        const tag_t window = standin::tag_of("w1");
        tag_t top = NULLTAG;
        ASSERT_EQ(BOM_ask_window_top_line(window, &top), 0);
        const std::vector<tag_t> lines = lines_of_site();
        const auto account = [&](int format, tag_t in_window) {
            kep_explain_query_t query{};
            query.kind = KEP_EXPLAIN_QUERY_BOX;
            std::copy(kCorner.begin(), kCorner.end(), query.box);
            query.delta_mm = 5;
            query.window = in_window;
            char* text = nullptr;
            const int status = kep_explain_line(top, &query, format, &text);
            const std::string out =
                std::to_string(status) + " " + (text != nullptr ? text : "(null)") + stack();
            MEM_free(text);
            return out;
        };
        const auto keep = [](int format) {
            char* none = nullptr;
            EXPECT_EQ(kep_explain_line(NULLTAG, nullptr, format, &none), 0);
            EXPECT_EQ(none, nullptr);
        };
        const auto volume = [] {
            std::vector<tag_t> found;
            standin::reset_counters();
            const int status = volume_search(kCorner, &found);
            return std::to_string(status) + " " + ids(found) + stack() + " " +
                   std::to_string(standin::failable_calls());
        };
        const auto neighbourhood = [&] {
            std::vector<tag_t> found;
            bool handed_back = false;
            standin::call_service("kep_userservice_neighbourhood_search",
                                  {UserArg{UserArg::Tag, window}, UserArg{UserArg::Double, 0, 20.0},
                                   UserArg{UserArg::TagArray, 0, 0, {}, {lines.begin(), lines.begin() + 3}}},
                                  &found, &handed_back);
        };
        const std::string own = account(KEP_EXPLAIN_WINDOW, window);
        const std::string own_lean = account(KEP_EXPLAIN_WINDOW_LEAN, window);
        const std::string searched = volume();
        const int blocks = standin::live_blocks();

        struct Case {
            const char* name;
            int keep;
            std::function<void()> before;
            int format;
            tag_t window;
        };
        const int whole = KEP_EXPLAIN_KEEP_NEXT_WALK;
        const int lean = KEP_EXPLAIN_KEEP_NEXT_WALK_LEAN;
        const auto same_search = [&] { EXPECT_EQ(volume(), searched); };
        const std::vector<Case> cases = {
            {"volume search", whole, same_search, KEP_EXPLAIN_WINDOW, window},
            {"volume search, lean", whole, same_search, KEP_EXPLAIN_WINDOW_LEAN, window},
            {"volume search kept lean, lean", lean, same_search, KEP_EXPLAIN_WINDOW_LEAN, window},
            {"volume search kept lean, whole", lean, same_search, KEP_EXPLAIN_WINDOW, window},
            {"neighbourhood search, lean", whole, neighbourhood, KEP_EXPLAIN_WINDOW_LEAN, window},
            {"neighbourhood search kept lean, lean", lean, neighbourhood, KEP_EXPLAIN_WINDOW_LEAN, window},
            {"nothing searched", whole, [] {}, KEP_EXPLAIN_WINDOW, window},
            {"no window in the query", whole, [&] { volume(); }, KEP_EXPLAIN_WINDOW, NULLTAG},
        };
        for (const Case& c : cases) {
            SCOPED_TRACE(c.name);
            keep(c.keep);
            c.before();
            const std::string& expected = c.format == KEP_EXPLAIN_WINDOW ? own : own_lean;
            EXPECT_EQ(account(c.format, c.window), expected);
            EXPECT_EQ(account(c.format, window), expected);  // nothing kept is left for a second one
        }
        const long calls = std::stol(searched.substr(searched.rfind(' ') + 1));
        bool lean_kept = false;  // every other run keeps its walk lean, for a lean account
        for (long k = 1; k <= calls; k += calls / 25 + 1, lean_kept = !lean_kept) {
            SCOPED_TRACE("the search's call " + std::to_string(k) + " fails");
            keep(lean_kept ? lean : whole);
            standin::reset_counters();
            standin::fail_nth_any(k);
            std::vector<tag_t> found;
            volume_search(kCorner, &found);
            standin::clear_faults();
            EMH_clear_errors();
            EXPECT_EQ(account(lean_kept ? KEP_EXPLAIN_WINDOW_LEAN : KEP_EXPLAIN_WINDOW, window),
                      lean_kept ? own_lean : own);
        }
        EXPECT_EQ(standin::live_blocks(), blocks);
    }
}

}  // namespace
}  // namespace economy_test
