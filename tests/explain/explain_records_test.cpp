// The records of a whole window's walk give back each line's box lookup and placement exactly as a
// tree of whole accounts would: the last account of a line stands, and what the walk told of a
// line's placement after other lines adds to what it told before.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <utility>
#include <vector>

#include "registration/kep_explain_account.h"

namespace {

using kep::explain::BoxAccount;
using kep::explain::Placement;

void expect_same(const BoxAccount& a, const BoxAccount& b, tag_t line) {
    SCOPED_TRACE(line);
    EXPECT_EQ(a.steps, b.steps);
    EXPECT_EQ(a.reason, b.reason);
    EXPECT_EQ(a.reasons, b.reasons);
    EXPECT_EQ(a.path, b.path);
    EXPECT_EQ(a.dataset, b.dataset);
    EXPECT_EQ(a.has_box, b.has_box);
    EXPECT_EQ(std::vector<double>(a.box, a.box + 6), std::vector<double>(b.box, b.box + 6));
    EXPECT_EQ(a.names_wanted, b.names_wanted);
    EXPECT_EQ(a.datasets, b.datasets);
    EXPECT_EQ(a.ignored, b.ignored);
    EXPECT_EQ(a.mod_on_host, b.mod_on_host);
    EXPECT_EQ(a.choice, b.choice);
    EXPECT_EQ(a.open, b.open);
    EXPECT_EQ(a.done, b.done);
    EXPECT_EQ(a.related, b.related);
    EXPECT_EQ(a.related_seen, b.related_seen);
    EXPECT_EQ(a.preferences, b.preferences);
    EXPECT_EQ(a.structure_listed, b.structure_listed);
    EXPECT_EQ(a.unknown_relation, b.unknown_relation);
    EXPECT_EQ(a.box_forms_asked, b.box_forms_asked);
}

BoxAccount plain(tag_t dataset, const char* path, const char* choice) {
    BoxAccount a;
    a.path = path;
    a.dataset = dataset;
    a.has_box = true;
    for (int i = 0; i < 6; ++i) {
        a.box[i] = dataset + i * 0.5;
    }
    a.datasets = {dataset, dataset + 1};
    a.names_wanted = {dataset, 7, 8};
    a.related = {dataset + 2};
    a.related_seen = true;
    a.mod_on_host = dataset % 2 == 0 ? 0U : 99U;
    a.choice = choice;
    a.done = true;
    return a;
}

TEST(ExplainRecords, GiveBackEachLinesLastAccountAndPlacement) {
    // Box lookups in the order a walk takes them: plain ones of every path and choice, preferences
    // read, whole ones (reasons, visualisation left out, forms asked, a lookup left open), lines
    // taken twice and lines out of the order of their tags.
    std::vector<std::pair<tag_t, BoxAccount>> taken;
    taken.emplace_back(10, plain(100, "representation", "master"));
    taken.emplace_back(11, plain(101, "collection", ""));
    taken.emplace_back(12, plain(102, "representation", "_wanted_suffix"));
    BoxAccount read = plain(103, "", "lone");
    read.has_box = false;
    read.preferences = {{"KEY_A", "a"}, {"KEY_B", ""}, {"KEY_A", "a"}};
    taken.emplace_back(13, read);
    BoxAccount reasoned = plain(104, "representation", "master");
    reasoned.has_box = false;
    reasoned.reason = "no dataset";
    reasoned.reasons = {"no dataset", "and another"};
    reasoned.ignored = {5};
    reasoned.box_forms_asked = {6};
    reasoned.structure_listed = {9};
    reasoned.unknown_relation = true;
    taken.emplace_back(14, reasoned);
    BoxAccount open = plain(105, "collection", "");
    open.open = true;
    open.done = false;
    taken.emplace_back(15, open);
    taken.emplace_back(11, plain(106, "representation", "master"));  // the second stands
    taken.emplace_back(3, plain(107, "collection", ""));
    taken.emplace_back(14, plain(108, "collection", ""));

    kep::explain::BoxRecords records;
    std::map<tag_t, BoxAccount> literal;
    for (auto& t : taken) {
        literal[t.first] = t.second;
        records.add(t.first, t.second);
    }
    records.settle();
    ASSERT_EQ(records.size(), literal.size());
    size_t i = 0;
    BoxAccount back;  // one account taken into line after line, as the window's account does
    for (const auto& l : literal) {
        EXPECT_EQ(records.line(i++), l.first);
        ASSERT_TRUE(records.take(l.first, &back));
        expect_same(back, l.second, l.first);
    }
    BoxAccount none;
    EXPECT_FALSE(records.take(4, &none));
    // An account reset for the next line is a fresh one.
    reasoned.reset();
    expect_same(reasoned, BoxAccount(), 14);

    // Placements: each note sets what it tells, over what was told of the line before.
    kep::explain::PlacementRecords placements;
    std::map<tag_t, Placement> told;
    double absolute[16];
    const auto place = [&](tag_t line, bool packed, bool unreadable, double at) {
        std::fill(absolute, absolute + 16, at);
        placements.placed(line, packed, true, unreadable, absolute);
        Placement& p = told[line];
        p.met = p.has_text = true;
        p.packed = packed;
        p.unreadable = unreadable;
        std::copy(absolute, absolute + 16, p.absolute);
    };
    const auto occurrence = [&](tag_t line, kep::OccurrenceSource source, tag_t dataset) {
        placements.occurrence(line, source, dataset);
        told[line].source = kep::explain::source_word(source);
        told[line].dataset = dataset;
    };
    const auto method = [&](tag_t line, bool own) {
        placements.method(line, own);
        told[line].method_told = true;
        told[line].own_method = own;
    };
    method(20, true);
    occurrence(20, kep::OccurrenceSource::Representation, 200);
    place(20, false, false, 1.5);
    place(22, true, true, 2.5);
    method(21, false);                                 // no placement told of 21
    occurrence(20, kep::OccurrenceSource::Kept, 201);  // 20 again, after others
    place(19, false, false, 3.5);
    occurrence(23, kep::OccurrenceSource::Stored, 0);
    placements.settle();
    ASSERT_EQ(placements.size(), told.size());
    i = 0;
    for (const auto& t : told) {
        SCOPED_TRACE(t.first);
        EXPECT_EQ(placements.line(i++), t.first);
        EXPECT_TRUE(placements.has(t.first));
        Placement p;
        ASSERT_TRUE(placements.find(t.first, &p));
        EXPECT_EQ(p.met, t.second.met);
        EXPECT_EQ(p.packed, t.second.packed);
        EXPECT_EQ(p.has_text, t.second.has_text);
        EXPECT_EQ(p.unreadable, t.second.unreadable);
        EXPECT_EQ(p.source, t.second.source);
        EXPECT_EQ(p.dataset, t.second.dataset);
        EXPECT_EQ(p.method_told, t.second.method_told);
        EXPECT_EQ(p.own_method, t.second.own_method);
        EXPECT_EQ(std::vector<double>(p.absolute, p.absolute + 16),
                  std::vector<double>(t.second.absolute, t.second.absolute + 16));
    }
    Placement missing;
    EXPECT_FALSE(placements.find(18, &missing));
    EXPECT_FALSE(placements.has(18));
}

}  // namespace
