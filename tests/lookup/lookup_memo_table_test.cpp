// The memo's table of answers and its arena, on their own: answers found after the table grows,
// every answer of an object dropped also where its run wraps round the end of the table, and
// kept blocks that are aligned, apart and unmoved.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "lookup/kep_memo_table.h"

namespace lookup_memo_table_test {
namespace {

using kep::memo_detail::Answer;
using kep::memo_detail::Answers;
using kep::memo_detail::Arena;
using kep::memo_detail::Key;
using kep::memo_detail::number_answer;

uint64_t value_of(uint32_t object, uint32_t question) { return uint64_t{object} * 1000 + question; }

// Objects 1..objects, each asked `questions` questions (1..questions); then every object whose
// number is a multiple of erase_every is dropped. The first table has 4096 slots and is kept at
// most three quarters full: 3000 answers fill it so that runs reach round its end, 10000 make it
// grow twice.
TEST(MemoTable, FindsWhatIsLeftAfterGrowthAndErasure) {
    struct Case {
        const char* name;
        uint32_t objects;
        uint32_t questions;
        uint32_t erase_every;  // 0: none
    };
    const Case cases[] = {
        {"one answer", 1, 1, 0},
        {"grows once", 3072, 1, 0},
        {"grows twice", 2500, 4, 0},
        {"every other object dropped, runs wrapping", 1000, 3, 2},
        {"every object dropped", 600, 5, 1},
        {"site-wide answers (object 0) stay", 0, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Answers table;
        for (uint32_t q = 1; q <= 20; ++q) {  // site-wide answers, never dropped
            table.insert(Key{0, q}, number_answer(q));
        }
        for (uint32_t o = 1; o <= c.objects; ++o) {
            for (uint32_t q = 1; q <= c.questions; ++q) {
                table.insert(Key{o, q}, number_answer(value_of(o, q) + 1));
                table.insert(Key{o, q}, number_answer(value_of(o, q)));  // a second answer replaces the first
            }
        }
        for (uint32_t o = 1; c.erase_every != 0 && o <= c.objects; ++o) {
            if (o % c.erase_every == 0) {
                table.erase_object(o);
            }
        }
        for (uint32_t o = 1; o <= c.objects; ++o) {
            const bool dropped = c.erase_every != 0 && o % c.erase_every == 0;
            for (uint32_t q = 1; q <= c.questions; ++q) {
                Answer a{};
                ASSERT_EQ(table.find(Key{o, q}, &a), !dropped) << "object " << o << " question " << q;
                if (!dropped) {
                    ASSERT_EQ(a.number, value_of(o, q));
                }
            }
            Answer a{};
            EXPECT_FALSE(table.find(Key{o, c.questions + 1}, &a));  // never asked
        }
        for (uint32_t q = 1; q <= 20; ++q) {
            Answer a{};
            ASSERT_TRUE(table.find(Key{0, q}, &a));
            EXPECT_EQ(a.number, q);
        }
    }
}

// Blocks of every size the memo asks for, small ones packed into shared blocks and large ones in
// blocks of their own: each aligned, none overlapping another, none moved by later ones.
TEST(MemoArena, BlocksAreAlignedApartAndStay) {
    struct Request {
        size_t bytes;
        size_t alignment;
    };
    const Request requests[] = {{1, 1}, {8, 8},      {3, 1},  {16, 8},     {24, 8}, {65536, 8},
                                {5, 4}, {100000, 8}, {40, 8}, {65000, 16}, {7, 1},  {4, 4}};
    Arena arena;
    std::vector<std::pair<unsigned char*, size_t>> blocks;
    for (size_t round = 0; round < 3; ++round) {
        for (const Request& r : requests) {
            auto* p = static_cast<unsigned char*>(arena.allocate(r.bytes, r.alignment));
            ASSERT_NE(p, nullptr);
            EXPECT_EQ(reinterpret_cast<uintptr_t>(p) % r.alignment, 0u) << r.bytes << " bytes";
            std::memset(p, static_cast<int>(blocks.size() & 0xff), r.bytes);
            blocks.emplace_back(p, r.bytes);
        }
    }
    for (size_t i = 0; i < blocks.size(); ++i) {
        const unsigned char mark = static_cast<unsigned char>(i & 0xff);
        for (size_t k = 0; k < blocks[i].second; ++k) {
            ASSERT_EQ(blocks[i].first[k], mark) << "block " << i << " overwritten at " << k;
        }
    }
    // Texts and lists: copies, null for nothing.
    EXPECT_EQ(arena.text(nullptr), nullptr);
    const char* text = arena.text("VAR2BBInfo");
    EXPECT_STREQ(text, "VAR2BBInfo");
    const uint32_t tags[] = {7, 8, 9};
    const uint32_t* copy = arena.copy(tags, 3);
    ASSERT_NE(copy, nullptr);
    EXPECT_NE(copy, tags);
    EXPECT_EQ(std::vector<uint32_t>(copy, copy + 3), std::vector<uint32_t>(tags, tags + 3));
    EXPECT_EQ(arena.copy(tags, 0), nullptr);
}

}  // namespace
}  // namespace lookup_memo_table_test
