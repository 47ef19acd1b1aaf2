// The alternative representation filter: which candidate the preferences choose, its messages,
// the exact trace, names beyond any fixed buffer and the fault sweep.
#include <base_utils/Mem.h>
#include <tc/emh.h>

#include <optional>

#include "modon_site.h"

namespace modon_test {
namespace {

using Opt = std::optional<Strings>;

class FilterTest : public kep_test::KepFixture {
protected:
    // Candidates d0, d1, ... of one dataset type, named in order.
    static std::string site(const Strings& names) {
        std::string objects;
        for (size_t i = 0; i < names.size(); ++i) {
            objects += (i == 0 ? "" : ", ") + quoted("d" + std::to_string(i)) +
                       ": {\"type\": \"Part3D\", \"name\": " + quoted(names[i]) + "}";
        }
        return "{\"types\": {\"Part3D\": \"Dataset\"}, \"objects\": {" + objects + "}}";
    }
    static void set_preferences(const Opt& alt_rep_list, const std::optional<std::string>& use_filter,
                                const Opt& actual_list) {
        if (alt_rep_list) {
            standin::set_preference("KEPAltRepList", *alt_rep_list);
        }
        if (use_filter) {
            standin::set_preference("KEPUseAltRepFilter", {*use_filter});
        }
        if (actual_list) {
            standin::set_preference("KEPActualAltRepList", *actual_list);
        }
    }
    static std::vector<tag_t> candidates(size_t n) {
        std::vector<tag_t> tags;
        for (size_t i = 0; i < n; ++i) {
            tags.push_back(standin::tag_of("d" + std::to_string(i)));
        }
        return tags;
    }
};

const Strings kMasterLod = {"MASTER", "LOD1", "LOD2"};

struct FilterCase {
    const char* title;
    Opt alt_rep_list;  // nullopt: the preference is not defined
    std::optional<std::string> use_filter;
    Opt actual_list;
    Strings names;        // the candidates, in array order
    int chosen;           // index of the chosen candidate, -1 for none
    const char* message;  // a line the choice writes
    int name_reads;       // object_name reads expected, -1: not checked
};

TEST_F(FilterTest, ChoosesByPreferences) {
    const FilterCase cases[] = {
        {"no candidates", kMasterLod, {}, {}, {}, -1, "correct dataset not found\n", 0},
        {"no list, one candidate: taken without reading its name",
         {},
         {},
         {},
         {"4711.LOD1/A"},
         0,
         "default dataset found\n",
         0},
        {"no list, two candidates", {}, {}, {}, {"4711/A", "4712/A"}, -1, "correct dataset not found\n", -1},
        {"filter off: the master",
         kMasterLod,
         {},
         {},
         {"4711.LOD1/A", "4711/A"},
         1,
         "exact MASTER match found \n",
         2},
        {"filter off never takes an alternative",
         kMasterLod,
         {},
         {},
         {"4711.LOD1/A"},
         -1,
         "correct dataset not found\n",
         1},
        {"filter off: first master of several",
         kMasterLod,
         {},
         {},
         {"4711/A", "4712/A"},
         0,
         "exact MASTER match found \n",
         1},
        {"last wanted entry first: LOD1",
         kMasterLod,
         "1",
         Strings{"MASTER", "LOD1"},
         {"4711/A", "4711.LOD1/A"},
         1,
         "exact alt rep match found \n",
         2},
        {"last wanted entry first: MASTER",
         kMasterLod,
         "1",
         Strings{"LOD1", "MASTER"},
         {"4711/A", "4711.LOD1/A"},
         0,
         "exact MASTER match found \n",
         1},
        {"wanted name without a candidate: the next one, names read again",
         kMasterLod,
         "1",
         Strings{"LOD1", "LOD2"},
         {"4711.LOD1/A", "4711/A"},
         0,
         "exact alt rep match found \n",
         3},
        {"empty wanted name skipped",
         kMasterLod,
         "1",
         Strings{"LOD1", ""},
         {"4711/A", "4711.LOD1/A"},
         1,
         "exact alt rep match found \n",
         2},
        {"filter value \"1 \" is off",
         kMasterLod,
         "1 ",
         Strings{"LOD1"},
         {"4711.LOD1/A", "4711/A"},
         1,
         "exact MASTER match found \n",
         -1},
        {"filter value \"true\" is off",
         kMasterLod,
         "true",
         Strings{"LOD1"},
         {"4711.LOD1/A", "4711/A"},
         1,
         "exact MASTER match found \n",
         -1},
        {"filter value \"01\" is off",
         kMasterLod,
         "01",
         Strings{"LOD1"},
         {"4711.LOD1/A", "4711/A"},
         1,
         "exact MASTER match found \n",
         -1},
        {"unlisted suffix counts as master",
         kMasterLod,
         {},
         {},
         {"4711.LOD3/A"},
         0,
         "exact MASTER match found \n",
         1},
        {"suffixes are case-sensitive: lod1 is a master",
         Strings{"MASTER", "LOD1"},
         {},
         {},
         {"4711.lod1/A"},
         0,
         "exact MASTER match found \n",
         1},
        {"suffixes are case-sensitive: lod1 is no LOD1",
         Strings{"MASTER", "LOD1"},
         "1",
         Strings{"LOD1"},
         {"4711.lod1/A", "4711.LOD1/A"},
         1,
         "exact alt rep match found \n",
         2},
        {"wanted names are case-sensitive: master is not MASTER",
         kMasterLod,
         "1",
         Strings{"master"},
         {"4711/A"},
         -1,
         "correct dataset not found\n",
         1},
        {"filter on without wanted names: nothing, even for one candidate",
         kMasterLod,
         "1",
         {},
         {"4711/A"},
         -1,
         "could not retrieve the preference KEPActualAltRepList\n",
         0},
        {"filter on, empty wanted list",
         kMasterLod,
         "1",
         Strings{},
         {"4711/A"},
         -1,
         "could not retrieve the preference KEPActualAltRepList\n",
         0},
        {"filter on, no list: no master name, one candidate by default",
         {},
         "1",
         Strings{"MASTER"},
         {"4711/A"},
         0,
         "default dataset found\n",
         1},
        {"empty names are never chosen by name",
         kMasterLod,
         {},
         {},
         {"", "4711/A"},
         1,
         "exact MASTER match found \n",
         2},
        {"an empty name alone", kMasterLod, {}, {}, {""}, -1, "correct dataset not found\n", 1},
        {"empty master name: no wanted name at all",
         Strings{"", "LOD1"},
         {},
         {},
         {"4711/A"},
         -1,
         "correct dataset not found\n",
         0},
        {"suffix before the revision only: 4711/A.1 is a master",
         Strings{"MASTER", "1"},
         {},
         {},
         {"4711/A.1"},
         0,
         "exact MASTER match found \n",
         1},
    };
    for (const FilterCase& c : cases) {
        SCOPED_TRACE(c.title);
        standin::reset();
        kep_support_reset_state();
        ASSERT_NO_FATAL_FAILURE(load_site(site(c.names)));
        set_switches("ON", nullptr, nullptr);
        set_preferences(c.alt_rep_list, c.use_filter, c.actual_list);
        const std::vector<tag_t> datasets = candidates(c.names.size());
        tag_t chosen = 4711;  // must be reset
        int status = -1;
        const std::string console = capture_console([&] {
            status =
                kep_filter_alt_rep_for_dataset(datasets.data(), static_cast<int>(datasets.size()), &chosen);
        });
        EXPECT_EQ(status, 0);
        EXPECT_EQ(chosen, c.chosen < 0 ? NULLTAG : datasets[static_cast<size_t>(c.chosen)]);
        EXPECT_NE(console.find(std::string("    ") + c.message), std::string::npos) << console;
        if (c.name_reads >= 0) {
            EXPECT_EQ(standin::call_count("AOM_ask_value_string"), c.name_reads);
        }
        expect_clean();
    }
}

// Suffix rule: cut at the last "/", then the text after the last ".".
TEST(AltRepSuffix, OfNames) {
    struct Case {
        const char* name;
        const char* suffix;  // null: none
    } const cases[] = {
        {"4711.LOD1/A", "LOD1"}, {"4711/A", nullptr}, {"4711/A.1", nullptr}, {"4711.X", "X"},
        {"4711.", ""},           {"4711./A", ""},     {".LOD1", "LOD1"},     {"a.b.c/d/e", "c/d"},
        {"", nullptr},           {"/A", nullptr},     {"x.y/", "y"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        size_t offset = 99;
        size_t length = 99;
        const int found = kep_alt_rep_suffix(c.name, &offset, &length);
        EXPECT_EQ(found, c.suffix != nullptr ? 1 : 0);
        EXPECT_EQ(std::string(c.name + offset, length), c.suffix != nullptr ? c.suffix : "");
    }
    size_t offset = 1;
    size_t length = 1;
    EXPECT_EQ(kep_alt_rep_suffix(nullptr, &offset, &length), 0);
    EXPECT_EQ(offset + length, 0u);
}

// A name that does not fit a 1023-character buffer keeps the suffix of the whole name: cutting it
// would turn an alternative into a master (or drop the revision cut).
TEST_F(FilterTest, LongNameIsJudgedByItsWholeSuffix) {
    const std::string long_alternative = std::string(1500, 'x') + ".LOD1/A";
    const std::string long_revision = "4711.LOD1/" + std::string(3000, 'r');
    const std::string long_master = std::string(1023, 'm') + "/A";
    struct Case {
        std::string name;
        std::optional<std::string> use_filter;
        bool chosen;
    } const cases[] = {
        {long_alternative, "1", true},     {long_alternative, std::nullopt, false},
        {long_revision, "1", true},        {long_revision, std::nullopt, false},
        {long_master, std::nullopt, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name.substr(0, 12) + "... of " + std::to_string(c.name.size()));
        standin::reset();
        ASSERT_NO_FATAL_FAILURE(load_site(site({c.name, "4711.LOD2/A"})));
        set_preferences(kMasterLod, c.use_filter, Strings{"LOD1"});
        const std::vector<tag_t> datasets = candidates(2);
        tag_t chosen = NULLTAG;
        EXPECT_EQ(kep_filter_alt_rep_for_dataset(datasets.data(), 2, &chosen), 0);
        EXPECT_EQ(chosen, c.chosen ? datasets[0] : NULLTAG);
        expect_clean();
    }
}

TEST_F(FilterTest, TraceOfAChoiceByTheLastWantedName) {
    ASSERT_NO_FATAL_FAILURE(load_site(site({"4711/A", "4711.LOD1/A"})));
    set_preferences(kMasterLod, "1", Strings{"MASTER", "LOD1"});
    set_switches("ON", nullptr, "ON");
    const std::vector<tag_t> datasets = candidates(2);
    tag_t chosen = NULLTAG;
    const std::string console =
        capture_console([&] { EXPECT_EQ(kep_filter_alt_rep_for_dataset(datasets.data(), 2, &chosen), 0); });
    EXPECT_EQ(chosen, datasets[1]);
    EXPECT_EQ(
        own_lines(console),
        ">>> kep_filter_alt_rep_for_dataset\n"
        "    executing [    kep_get_preference_list(\"KEPAltRepList\", &count_alt_rep_list, &alt_rep_list)   "
        " ]\n"
        "    >>> kep_get_preference_list\n"
        "    <<< kep_get_preference_list\n"
        "    executing [    kep_get_preference(\"KEPUseAltRepFilter\", &use_alt_rep_filter)    ]\n"
        "    >>> kep_get_preference\n"
        "    <<< kep_get_preference\n"
        "    executing [    kep_get_preference_list(\"KEPActualAltRepList\", &count_actual_alt_rep_list, "
        "&actual_set_alt_rep_list)    ]\n"
        "    >>> kep_get_preference_list\n"
        "    <<< kep_get_preference_list\n"
        "    executing [    AOM_ask_value_string(datasets[j],\"object_name\",&object_name)    ]\n"
        "    DatasetName: 4711/A \n"
        "    executing [    AOM_ask_value_string(datasets[j],\"object_name\",&object_name)    ]\n"
        "    DatasetName: 4711.LOD1/A \n"
        "    possible AltRep: LOD1 \n"
        "    AltRep: LOD1 \n"
        "    exact alt rep match found \n"
        "<<< kep_filter_alt_rep_for_dataset\n");
    expect_clean();
}

TEST_F(FilterTest, FaultSweep) {
    const Strings names = {"4711.LOD2/A", "4711/A", "4711.LOD1/A"};
    std::vector<std::string> consoles;
    kep_test::FaultCase c;
    c.name = "kep_filter_alt_rep_for_dataset";
    c.setup = [&] {
        standin::reset();
        load_site(site(names));
        // LOD3 names no candidate, so every name is read once before MASTER chooses 4711/A.
        set_preferences(kMasterLod, "1", Strings{"LOD2", "MASTER", "LOD3"});
        set_switches("ON", nullptr, "ON");
    };
    c.run = [&] {
        const std::vector<tag_t> datasets = candidates(names.size());
        tag_t chosen = NULLTAG;
        int status = 0;
        consoles.push_back(capture_console([&] {
            status =
                kep_filter_alt_rep_for_dataset(datasets.data(), static_cast<int>(datasets.size()), &chosen);
        }));
        return status;
    };
    // The list reader passes on only the status of its final scope restore; a failed read before it
    // gives an empty list and the filter goes on with it. Checked below instead.
    c.may_follow_failure = {
        "MEM_alloc",           "PREF_ask_search_scope", "PREF_set_search_scope", "PREF_ask_value_count",
        "PREF_ask_char_value", "PREF_ask_char_values",  "AOM_ask_value_string"};
    auto passed_on = [&](const kep_test::FaultRun& r) {
        const FirstFailure f = first_failure(consoles[static_cast<size_t>(r.k)]);
        return r.traced_failure && !(f.function == "kep_get_preference_list" &&
                                     f.statement != "PREF_set_search_scope(current_scope)");
    };
    c.expected_status = [&](const kep_test::FaultRun& r, const kep_test::FaultRun& baseline) {
        if (!r.traced_failure) {
            return baseline.status;
        }
        return passed_on(r) ? static_cast<int>(standin::kErrInjected) : 0;
    };
    const std::vector<kep_test::FaultRun> runs = kep_test::run_fault_sweep(c);
    ASSERT_GT(runs.size(), 10u);
    EXPECT_EQ(runs[0].count("AOM_ask_value_string"), 5);
    for (const kep_test::FaultRun& r : runs) {
        if (r.k == 0 || !passed_on(r)) {
            continue;
        }
        // Once a status is passed on, nothing more is asked; a preference reader still puts the
        // caller's search scope back.
        const bool in_reader =
            first_failure(consoles[static_cast<size_t>(r.k)]).function.compare(0, 18, "kep_get_preference") ==
            0;
        for (const std::string& op : r.calls_after_failure()) {
            EXPECT_TRUE(op == "MEM_free" || op == "EMH_ask_errors" || op == "EMH_clear_errors" ||
                        op == "TC_getenv" || (in_reader && op == "PREF_set_search_scope"))
                << "failing call " << r.k << " (" << r.failed_op << "): " << op << " after it";
        }
    }
}

}  // namespace
}  // namespace modon_test
