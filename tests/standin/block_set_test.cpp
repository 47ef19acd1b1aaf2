// The live-block set: every pointer added stays findable until erased, through growth and through
// the entries that erasing moves back.
#include "block_set.h"

#include <gtest/gtest.h>

#include <random>
#include <unordered_set>
#include <vector>

namespace standin_test {
namespace {

using standin::detail::BlockSet;

void* as_pointer(uintptr_t value) { return reinterpret_cast<void*>(value); }

// Random adds and removes checked against a reference set. Addresses are drawn from a small range
// so that probe runs collide, wrap around the end of the table and get cut by erasures; every
// erase and every membership answer must agree with the reference.
TEST(BlockSetTest, AgreesWithAReferenceSetUnderChurn) {
    for (const uintptr_t range : {uintptr_t{64}, uintptr_t{4096}, uintptr_t{1} << 20}) {
        SCOPED_TRACE("addresses below " + std::to_string(range * 16));
        BlockSet set;
        std::unordered_set<uintptr_t> reference;
        std::mt19937_64 random(7);
        for (int step = 0; step < 200000; ++step) {
            const uintptr_t key = (1 + random() % range) * 16;  // aligned like malloc's, never null
            if (random() % 3 == 0) {
                ASSERT_EQ(set.erase(as_pointer(key)), reference.erase(key) == 1) << "step " << step;
            } else {
                set.insert(as_pointer(key));
                reference.insert(key);
            }
            ASSERT_EQ(set.size(), reference.size()) << "step " << step;
        }
        std::unordered_set<uintptr_t> seen;
        set.for_each([&](void* p) { seen.insert(reinterpret_cast<uintptr_t>(p)); });
        EXPECT_EQ(seen, reference);
        for (const uintptr_t key : reference) {
            EXPECT_TRUE(set.erase(as_pointer(key)));
        }
        EXPECT_EQ(set.size(), 0u);
    }
}

TEST(BlockSetTest, NullAndUnknownPointersAreNotMembers) {
    BlockSet set;
    EXPECT_FALSE(set.erase(nullptr));
    EXPECT_FALSE(set.erase(as_pointer(0x1000)));  // empty set
    set.insert(as_pointer(0x1000));
    set.insert(as_pointer(0x1000));  // twice: still one entry
    EXPECT_EQ(set.size(), 1u);
    EXPECT_FALSE(set.erase(as_pointer(0x1008)));  // an interior address
    EXPECT_TRUE(set.erase(as_pointer(0x1000)));
    EXPECT_FALSE(set.erase(as_pointer(0x1000)));
    set.insert(as_pointer(0x2000));
    set.clear();
    EXPECT_EQ(set.size(), 0u);
    EXPECT_FALSE(set.erase(as_pointer(0x2000)));
}

}  // namespace
}  // namespace standin_test
