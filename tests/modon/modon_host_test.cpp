// The mod-on host lookup: which ancestor is the host and which of its datasets describe the line,
// the exact trace, structures deeper than any fixed list, and the fault sweeps of both functions.
#include <base_utils/Mem.h>

#include <cstring>

#include "modon_site.h"

namespace modon_test {
namespace {

// A representation dataset under a revision of the structure below, with one "KEPModOnInfo" form
// per path in `forms`.
struct ModOnDataset {
    std::string id;
    std::string owner;  // revision id
    std::string name;
    std::vector<Strings> forms;
    std::string type = "ModOnRep";
    std::string relation = "KEPModOnRel";
};

// top (TOP) -> h0 (ASM0, "H0") -> h (ASM1, "H1") -> p (SUB, "P1") -> l (PART2, "L1")
struct Occurrences {
    std::string h0 = "H0";
    std::string h = "H1";
    std::string p = "P1";
    std::string l = "L1";
};

std::string host_site(const std::vector<ModOnDataset>& datasets, const Occurrences& occ = Occurrences(),
                      const std::string& line_item = "PART2") {
    std::string objects =
        R"("top/A": {"type": "ItemRevision", "item_id": "TOP"},
           "asm0/A": {"type": "ItemRevision", "item_id": "ASM0"},
           "asm1/A": {"type": "ItemRevision", "item_id": "ASM1"},
           "sub/A": {"type": "ItemRevision", "item_id": "SUB"},
           "part2/A": {"type": "ItemRevision", "item_id": )" +
        quoted(line_item) + "}";
    std::string relations;
    for (const ModOnDataset& d : datasets) {
        Strings form_ids;
        for (size_t i = 0; i < d.forms.size(); ++i) {
            const std::string form_id = d.id + "_form" + std::to_string(i);
            form_ids.push_back(form_id);
            objects += ", " + quoted(form_id) +
                       R"(: {"type": "ModOnForm", "attributes": {"var2_way_to_root": )" +
                       json_list(d.forms[i]) + "}}";
        }
        objects += ", " + quoted(d.id) + ": {\"type\": " + quoted(d.type) + ", \"name\": " + quoted(d.name);
        if (!form_ids.empty()) {
            objects += ", \"refs\": {\"KEPModOnInfo\": " + json_list(form_ids) + "}";
        }
        objects += "}";
        relations += (relations.empty() ? "" : ", ") + json_list({d.owner, d.relation, d.id});
    }
    auto line = [](const char* id, const char* revision, const std::string& occurrence) {
        return std::string("{\"id\": \"") + id + "\", \"revision\": \"" + revision +
               "\", \"occurrence_name\": " + quoted(occurrence);
    };
    const std::string window = line("top", "top/A", "TOP") + ", \"children\": [" +
                               line("h0", "asm0/A", occ.h0) + ", \"children\": [" +
                               line("h", "asm1/A", occ.h) + ", \"children\": [" + line("p", "sub/A", occ.p) +
                               ", \"children\": [" + line("l", "part2/A", occ.l) + "}]}]}]}]}";
    return R"({"types": {"ModOnRep": "Dataset", "OtherRep": "Dataset", "ModOnForm": "Form"},
               "relation_types": ["KEPModOnRel", "IMAN_reference"],
               "objects": {)" +
           objects + "}, \"relations\": [" + relations + "], \"windows\": {\"w1\": " + window + "}}";
}

struct Walk {
    int status = -1;
    std::string host;  // id, "" for none
    Strings datasets;  // ids
};

// Runs the walk for a line and releases what it hands out.
Walk walk(const std::string& line_id, const char* relation = "KEPModOnRel", const char* type = "ModOnRep") {
    Walk w;
    tag_t host = 4711;  // must be reset
    tag_t* datasets = reinterpret_cast<tag_t*>(16);
    int count = -1;
    w.status = kep_get_modon_for_bomline(standin::tag_of(line_id), relation, type, &host, &datasets, &count);
    w.host = standin::id_of(host);
    EXPECT_EQ(datasets == nullptr, count == 0) << "array and count disagree";
    if (host == NULLTAG) {
        EXPECT_EQ(datasets, nullptr);
    }
    for (int i = 0; i < count && datasets != nullptr; ++i) {
        w.datasets.push_back(standin::id_of(datasets[i]));
    }
    MEM_free(datasets);
    return w;
}

class HostTest : public kep_test::KepFixture {};

struct HostCase {
    const char* title;
    std::vector<ModOnDataset> datasets;
    const char* host;  // "" for none
    Strings matching;
};

const Strings kPathAtH = {"L1", "P1"};  // the way from l up to h's child

TEST_F(HostTest, FindsTheHostOfTheOccurrencePath) {
    const HostCase cases[] = {
        // L1 under P1 under host ASM1.
        {"worked example", {{"m1", "asm1/A", "ASM1.PART2.1", {kPathAtH}}}, "h", {"m1"}},
        {"extra form entry", {{"m1", "asm1/A", "ASM1.PART2.1", {{"L1", "P1", "H1"}}}}, "", {}},
        {"missing form entry", {{"m1", "asm1/A", "ASM1.PART2.1", {{"L1"}}}}, "", {}},
        {"reordered form entries", {{"m1", "asm1/A", "ASM1.PART2.1", {{"P1", "L1"}}}}, "", {}},
        {"occurrence names are case-sensitive", {{"m1", "asm1/A", "ASM1.PART2.1", {{"L1", "p1"}}}}, "", {}},
        {"empty form", {{"m1", "asm1/A", "ASM1.PART2.1", {{}}}}, "", {}},
        {"prefix of another host item", {{"m1", "asm1/A", "ASM10.PART2.1", {kPathAtH}}}, "", {}},
        {"prefix of another line item", {{"m1", "asm1/A", "ASM1.PART22.1", {kPathAtH}}}, "", {}},
        {"prefix case differs", {{"m1", "asm1/A", "asm1.PART2.1", {kPathAtH}}}, "", {}},
        {"name equal to the prefix", {{"m1", "asm1/A", "ASM1.PART2.", {kPathAtH}}}, "h", {"m1"}},
        {"name one short of the prefix", {{"m1", "asm1/A", "ASM1.PART2", {kPathAtH}}}, "", {}},
        {"empty name", {{"m1", "asm1/A", "", {kPathAtH}}}, "", {}},
        {"two KEPModOnInfo references", {{"m1", "asm1/A", "ASM1.PART2.1", {kPathAtH, kPathAtH}}}, "", {}},
        {"no KEPModOnInfo reference", {{"m1", "asm1/A", "ASM1.PART2.1", {}}}, "", {}},
        {"another dataset type", {{"m1", "asm1/A", "ASM1.PART2.1", {kPathAtH}, "OtherRep"}}, "", {}},
        {"another relation",
         {{"m1", "asm1/A", "ASM1.PART2.1", {kPathAtH}, "ModOnRep", "IMAN_reference"}},
         "",
         {}},
        {"every matching dataset, in order",
         {{"m1", "asm1/A", "ASM1.PART2.b", {kPathAtH}},
          {"m2", "asm1/A", "ASM1.PART2.c", {{"L1"}}},
          {"m3", "asm1/A", "ASM1.PART2.a", {kPathAtH}}},
         "h",
         {"m1", "m3"}},
        {"two qualifying ancestors: the one nearer the top",
         {{"m1", "asm1/A", "ASM1.PART2.1", {kPathAtH}},
          {"m0", "asm0/A", "ASM0.PART2.1", {{"L1", "P1", "H1"}}}},
         "h0",
         {"m0"}},
        {"three qualifying ancestors up to the top line",
         {{"ms", "sub/A", "SUB.PART2.1", {{"L1"}}},
          {"m1", "asm1/A", "ASM1.PART2.1", {kPathAtH}},
          {"mt", "top/A", "TOP.PART2.1", {{"L1", "P1", "H1", "H0"}}}},
         "top",
         {"mt"}},
        {"only the parent qualifies", {{"ms", "sub/A", "SUB.PART2.1", {{"L1"}}}}, "p", {"ms"}},
        {"a dataset with the right path under the wrong ancestor",
         {{"m1", "asm0/A", "ASM1.PART2.1", {kPathAtH}}},
         "",
         {}},
    };
    for (const HostCase& c : cases) {
        SCOPED_TRACE(c.title);
        standin::reset();
        ASSERT_NO_FATAL_FAILURE(load_site(host_site(c.datasets)));
        const Walk w = walk("l");
        EXPECT_EQ(w.status, 0);
        EXPECT_EQ(w.host, c.host);
        EXPECT_EQ(w.datasets, c.matching);
        EXPECT_TRUE(standin::errors().empty());
        expect_clean();
    }
}

// The cheap name test keeps the reference and form reads away from datasets of other hosts.
TEST_F(HostTest, NoFormIsReadForANameWithoutThePrefix) {
    ASSERT_NO_FATAL_FAILURE(load_site(host_site({{"m1", "asm1/A", "ASM10.PART2.1", {kPathAtH}}})));
    standin::reset_counters();
    EXPECT_EQ(walk("l").host, "");
    EXPECT_EQ(standin::call_count("AOM_ask_value_string"), 1);
    EXPECT_EQ(standin::call_count("AE_ask_all_dataset_named_refs"), 0);
    EXPECT_EQ(standin::call_count("AOM_ask_value_strings"), 0);
    expect_clean();
}

TEST_F(HostTest, OccurrenceNamesAreComparedExactly) {
    struct Case {
        const char* title;
        Occurrences occ;
        Strings form;
        const char* host;
    } const cases[] = {
        {"empty occurrence name matches an empty entry", {"H0", "H1", "P1", ""}, {"", "P1"}, "h"},
        {"empty occurrence name is no wildcard", {"H0", "H1", "P1", ""}, {"L1", "P1"}, ""},
        {"empty entry is no wildcard", {"H0", "H1", "P1", "L1"}, {"", "P1"}, ""},
        {"trailing blank counts", {"H0", "H1", "P1 ", "L1"}, {"L1", "P1"}, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.title);
        standin::reset();
        ASSERT_NO_FATAL_FAILURE(load_site(host_site({{"m1", "asm1/A", "ASM1.PART2.1", {c.form}}}, c.occ)));
        EXPECT_EQ(walk("l").host, c.host);
        expect_clean();
    }
}

TEST_F(HostTest, LinesWithoutAWalk) {
    const std::vector<ModOnDataset> top_dataset = {{"mt", "top/A", "TOP.TOP.1", {{"TOP"}}}};

    // The top line has no ancestor to check.
    ASSERT_NO_FATAL_FAILURE(load_site(host_site(top_dataset)));
    set_switches("ON", nullptr, nullptr);
    standin::reset_counters();
    Walk w;
    std::string console = capture_console([&] { w = walk("top"); });
    EXPECT_EQ(w.status, 0);
    EXPECT_EQ(w.host, "");
    EXPECT_EQ(standin::call_count("AE_ask_all_dataset_named_refs") +
                  standin::call_count("GRM_list_secondary_objects_only"),
              0);
    EXPECT_EQ(console.find("kep_check_for_mod_on"), std::string::npos);
    expect_clean();

    // A line whose item id is empty is not looked up at all.
    standin::reset();
    ASSERT_NO_FATAL_FAILURE(
        load_site(host_site({{"m1", "asm1/A", "ASM1..1", {kPathAtH}}}, Occurrences(), "")));
    console = capture_console([&] { w = walk("l"); });
    EXPECT_EQ(w.status, 0);
    EXPECT_EQ(w.host, "");
    EXPECT_EQ(own_lines(console),
              ">>> kep_get_modon_for_bomline\n"
              "    Could not retrieve source_part_number\n"
              "<<< kep_get_modon_for_bomline\n");
    expect_clean();
}

TEST_F(HostTest, TraceOfTheWorkedExample) {
    ASSERT_NO_FATAL_FAILURE(load_site(host_site({{"m1", "asm1/A", "ASM1.PART2.1", {kPathAtH}}})));
    set_switches("ON", nullptr, "ON");
    Walk w;
    const std::string console = capture_console([&] { w = walk("l"); });
    EXPECT_EQ(w.host, "h");
    const std::string check_step =
        "    executing [    kep_check_for_mod_on(parent_bomline_tag, child_bomline_tag, source_part_number, "
        "relation_modOn, type_modOn, way_to_root, &count_way_to_root, &act_datasets_mod_on, "
        "&act_count_datasets_mod_on, &mod_on_flag)    ]\n"
        "    >>> kep_check_for_mod_on\n"
        "    <<< kep_check_for_mod_on\n"
        "    >>> kep_get_parent\n"
        "    <<< kep_get_parent\n";
    EXPECT_EQ(own_lines(console),
              ">>> kep_get_modon_for_bomline\n"
              "    executing [    BOM_line_look_up_attribute(bomAttr_itemId, &item_id_attr)    ]\n"
              "    executing [    BOM_line_ask_attribute_string(bomline_object_tag, item_id_attr, "
              "&source_part_number)    ]\n"
              "    >>> kep_get_parent\n"
              "    <<< kep_get_parent\n" +
                  check_step + check_step + check_step + check_step + "<<< kep_get_modon_for_bomline\n");

    // One step, called directly as the walk calls it at h: the way so far is L1.
    standin::reset();
    kep_support_reset_state();
    ASSERT_NO_FATAL_FAILURE(load_site(host_site({{"m1", "asm1/A", "ASM1.PART2.1", {kPathAtH}}})));
    set_switches("ON", nullptr, "ON");
    char* way[2] = {static_cast<char*>(MEM_alloc(3)), nullptr};
    std::strcpy(way[0], "L1");
    int count_way = 1;
    tag_t* matching = nullptr;
    int count_matching = -1;
    int flag = -1;
    const std::string step_console = capture_console([&] {
        EXPECT_EQ(kep_check_for_mod_on(standin::tag_of("h"), standin::tag_of("p"), "PART2", "KEPModOnRel",
                                       "ModOnRep", way, &count_way, &matching, &count_matching, &flag),
                  0);
    });
    EXPECT_EQ(flag, 1);
    ASSERT_EQ(count_matching, 1);
    EXPECT_EQ(matching[0], standin::tag_of("m1"));
    ASSERT_EQ(count_way, 2);
    EXPECT_STREQ(way[1], "P1");
    MEM_free(matching);
    MEM_free(way[0]);
    MEM_free(way[1]);
    EXPECT_EQ(
        own_lines(step_console),
        ">>> kep_check_for_mod_on\n"
        "    executing [    BOM_line_look_up_attribute(bomAttr_itemId, &item_id_attr)    ]\n"
        "    executing [    BOM_line_ask_attribute_string(bomline_parent_object, item_id_attr, "
        "&parent_part_number)    ]\n"
        "    executing [    BOM_line_look_up_attribute(bomAttr_occName, &occurrence_name_attr)    ]\n"
        "    executing [    BOM_line_ask_attribute_string(bomline_object_tag, occurrence_name_attr, "
        "&instance_name)    "
        "]\n"
        "    executing [    BOM_line_look_up_attribute(bomAttr_lineItemRevTag,&revision_tag_attr)    ]\n"
        "    executing [    BOM_line_ask_attribute_tag(bomline_parent_object, revision_tag_attr, "
        "&parent_object)    ]\n"
        "    executing [    kep_get_datasets(parent_object, relation_modOn, &datasets, &count_datasets)    "
        "]\n"
        "    >>> kep_get_datasets\n"
        "    <<< kep_get_datasets\n"
        "    executing [    kep_filter_datasets(datasets, count_datasets, type_modOn, &datasets_mod_on_help, "
        "&count_datasets_mod_on_help)    ]\n"
        "    >>> kep_filter_datasets\n"
        "    <<< kep_filter_datasets\n"
        "    executing [    AOM_ask_value_string(datasets_mod_on_help[i], \"object_name\", &dataset_name)    "
        "]\n"
        "    executing [    AE_ask_all_dataset_named_refs(datasets_mod_on_help[i], \"KEPModOnInfo\", "
        "&count_refs, "
        "&refs)    ]\n"
        "    executing [    AOM_ask_value_strings(form_tag, \"var2_way_to_root\", &count_form_way_to_root, "
        "&form_way_to_root)    ]\n"
        "<<< kep_check_for_mod_on\n");
    expect_clean();
}

// What one step hands back besides the flag: an array only when the ancestor has related datasets.
TEST_F(HostTest, StepOutputs) {
    struct Case {
        const char* title;
        std::vector<ModOnDataset> datasets;
        bool array;
        int count;
    } const cases[] = {
        {"nothing related", {}, false, 0},
        {"related but not matching", {{"m1", "asm1/A", "ASM1.PART2.1", {{"L1"}}}}, true, 0},
        {"related but of another type", {{"m1", "asm1/A", "ASM1.PART2.1", {kPathAtH}, "OtherRep"}}, true, 0},
        {"matching", {{"m1", "asm1/A", "ASM1.PART2.1", {kPathAtH}}}, true, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.title);
        standin::reset();
        ASSERT_NO_FATAL_FAILURE(load_site(host_site(c.datasets)));
        char* way[2] = {static_cast<char*>(MEM_alloc(3)), nullptr};
        std::strcpy(way[0], "L1");
        int count_way = 1;
        tag_t* matching = reinterpret_cast<tag_t*>(16);
        int count_matching = -1;
        int flag = -1;
        EXPECT_EQ(kep_check_for_mod_on(standin::tag_of("h"), standin::tag_of("p"), "PART2", "KEPModOnRel",
                                       "ModOnRep", way, &count_way, &matching, &count_matching, &flag),
                  0);
        EXPECT_EQ(matching != nullptr, c.array);
        EXPECT_EQ(count_matching, c.count);
        EXPECT_EQ(flag, c.count > 0 ? 1 : 0);
        EXPECT_EQ(count_way, 2);
        MEM_free(matching);
        MEM_free(way[0]);
        MEM_free(way[1]);
        expect_clean();
    }
}

// A line more than 1,024 levels below its host: the way-to-root list must hold every level, and
// the host must still be found with its full path.
TEST_F(HostTest, StructureDeeperThanTheFirstListBlock) {
    const int depth = 1100;  // lines between the host and the line, the line included
    Strings path;            // the way from the line up to the host's child
    for (int i = depth; i >= 1; --i) {
        path.push_back("n" + std::to_string(i));
    }
    std::string chain = "{\"id\": \"c" + std::to_string(depth) +
                        "\", \"revision\": \"part2/A\", \"occurrence_name\": \"n" + std::to_string(depth) +
                        "\"}";
    for (int i = depth - 1; i >= 1; --i) {
        chain = "{\"id\": \"c" + std::to_string(i) + "\", \"revision\": \"mid/A\", \"occurrence_name\": \"n" +
                std::to_string(i) + "\", \"children\": [" + chain + "]}";
    }
    const std::string site =
        R"({"types": {"ModOnRep": "Dataset", "ModOnForm": "Form"},
            "objects": {
              "top/A": {"type": "ItemRevision", "item_id": "TOP"},
              "asm1/A": {"type": "ItemRevision", "item_id": "ASM1"},
              "mid/A": {"type": "ItemRevision", "item_id": "MID"},
              "part2/A": {"type": "ItemRevision", "item_id": "PART2"},
              "f1": {"type": "ModOnForm", "attributes": {"var2_way_to_root": )" +
        json_list(path) + R"(}},
              "m1": {"type": "ModOnRep", "name": "ASM1.PART2.deep", "refs": {"KEPModOnInfo": ["f1"]}}},
            "relations": [["asm1/A", "KEPModOnRel", "m1"]],
            "windows": {"w1": {"id": "top", "revision": "top/A", "children": [
              {"id": "h", "revision": "asm1/A", "occurrence_name": "H", "children": [)" +
        chain + "]}]}}}";
    ASSERT_NO_FATAL_FAILURE(load_site(site));
    const Walk w = walk("c" + std::to_string(depth));
    EXPECT_EQ(w.status, 0);
    EXPECT_EQ(w.host, "h");
    EXPECT_EQ(w.datasets, Strings{"m1"});
    expect_clean();
}

// The first statement of a failure block tells where the failed call was made.
bool in_parent_lookup(const FirstFailure& f) { return f.function == "kep_get_parent"; }
bool in_step_attribute_reads(const FirstFailure& f) {
    return f.function == "kep_check_for_mod_on" && f.statement.compare(0, 4, "BOM_") == 0;
}

// The site of the sweeps: matches at h and h0, a near miss at p, so that every kind of call is made.
std::string sweep_site() {
    return host_site({{"ms", "sub/A", "SUB.PART2.1", {{"X1"}}},
                      {"mo", "sub/A", "SUB.OTHER.1", {{"L1"}}},
                      {"m1", "asm1/A", "ASM1.PART2.1", {kPathAtH}},
                      {"m2", "asm1/A", "ASM1.PART2.2", {kPathAtH, kPathAtH}},
                      {"m0", "asm0/A", "ASM0.PART2.1", {{"L1", "P1", "H1"}}}});
}

TEST_F(HostTest, FaultSweepOfTheWalk) {
    std::vector<std::string> consoles;
    std::vector<Walk> walks;
    kep_test::FaultCase c;
    c.name = "kep_get_modon_for_bomline";
    c.setup = [] {
        standin::reset();
        load_site(sweep_site());
        set_switches("ON", nullptr, "ON");
    };
    c.run = [&] {
        Walk w;
        consoles.push_back(capture_console([&] { w = walk("l"); }));
        walks.push_back(w);
        return w.status;
    };
    // A step sizes its result by the type-filtered list even when the filter failed part-way.
    c.may_follow_failure = {"MEM_alloc"};
    // Not every failure is wiped: the walk's own reads and a step's attribute reads leave theirs.
    c.clears_errors = false;
    c.expected_status = [&](const kep_test::FaultRun& r, const kep_test::FaultRun& baseline) {
        if (!r.traced_failure) {
            return baseline.status;
        }
        // A failed parent lookup ends the walk like the top line; its status is not passed on.
        return in_parent_lookup(first_failure(consoles[static_cast<size_t>(r.k)]))
                   ? 0
                   : static_cast<int>(standin::kErrInjected);
    };
    const std::vector<kep_test::FaultRun> runs = kep_test::run_fault_sweep(c);
    ASSERT_GT(runs.size(), 20u);
    EXPECT_EQ(walks[0].host, "h0");
    for (const kep_test::FaultRun& r : runs) {
        if (r.k == 0 || !r.traced_failure) {
            continue;
        }
        SCOPED_TRACE("failing call " + std::to_string(r.k) + " (" + r.failed_op + ")");
        const FirstFailure f = first_failure(consoles[static_cast<size_t>(r.k)]);
        const bool kept = f.function == "kep_get_modon_for_bomline" || in_step_attribute_reads(f);
        EXPECT_EQ(r.errors.size(), kept ? 1u : 0u) << f.function << ": " << f.statement;
        // A failure never makes a host out of nothing: the result is the baseline's or an earlier
        // find (h before h0 is reached), or none.
        const Walk& w = walks[static_cast<size_t>(r.k)];
        EXPECT_TRUE(w.host.empty() || (w.host == "h" && w.datasets == Strings{"m1"}) ||
                    (w.host == "h0" && w.datasets == Strings{"m0"}))
            << w.host;
    }
}

TEST_F(HostTest, FaultSweepOfOneStep) {
    std::vector<std::string> consoles;
    std::vector<int> appended;
    kep_test::FaultCase c;
    c.name = "kep_check_for_mod_on";
    c.setup = [] {
        standin::reset();
        load_site(sweep_site());
        set_switches("ON", nullptr, "ON");
    };
    c.run = [&] {
        char* way[2] = {static_cast<char*>(MEM_alloc(3)), nullptr};
        std::strcpy(way[0], "L1");
        int count_way = 1;
        tag_t* matching = nullptr;
        int count_matching = 0;
        int flag = 0;
        int status = 0;
        consoles.push_back(capture_console([&] {
            status = kep_check_for_mod_on(standin::tag_of("h"), standin::tag_of("p"), "PART2", "KEPModOnRel",
                                          "ModOnRep", way, &count_way, &matching, &count_matching, &flag);
        }));
        appended.push_back(count_way - 1);
        EXPECT_EQ(flag != 0, count_matching > 0);
        MEM_free(matching);
        MEM_free(way[0]);
        MEM_free(way[1]);
        return status;
    };
    c.may_follow_failure = {"MEM_alloc"};
    c.clears_errors = false;
    const std::vector<kep_test::FaultRun> runs = kep_test::run_fault_sweep(c);
    ASSERT_GT(runs.size(), 10u);
    EXPECT_EQ(appended[0], 1);
    for (const kep_test::FaultRun& r : runs) {
        if (r.k == 0 || !r.traced_failure) {
            continue;
        }
        SCOPED_TRACE("failing call " + std::to_string(r.k) + " (" + r.failed_op + ")");
        const FirstFailure f = first_failure(consoles[static_cast<size_t>(r.k)]);
        // A failed attribute read ends the step before the way grows, and leaves its error.
        const bool early = in_step_attribute_reads(f);
        EXPECT_EQ(appended[static_cast<size_t>(r.k)], early ? 0 : 1) << f.statement;
        EXPECT_EQ(r.errors.size(), early ? 1u : 0u) << f.statement;
    }
}

}  // namespace
}  // namespace modon_test
