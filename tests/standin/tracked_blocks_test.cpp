// The live-block set and the block pool: every block stays known until freed, through growth, and
// a free of anything that is no live block is recognised as such.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "block_pool.h"
#include "block_set.h"

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

using standin::detail::BlockPool;

// Random allocations of every class and frees of live blocks, checked against a reference: no two
// live blocks overlap (each is filled with its own byte and checked when freed), every block is
// aligned, and the live count agrees.
TEST(BlockPoolTest, LiveBlocksNeverOverlapAndFreedOnesAreReused) {
    BlockPool pool;
    std::mt19937_64 random(11);
    std::unordered_map<void*, std::pair<size_t, unsigned char>> live;
    std::vector<void*> order;
    for (int step = 0; step < 100000; ++step) {
        if (!order.empty() && random() % 2 == 0) {
            const size_t k = random() % order.size();
            void* p = order[k];
            order[k] = order.back();
            order.pop_back();
            const auto [size, fill] = live.at(p);
            for (size_t i = 0; i < size; ++i) {
                ASSERT_EQ(static_cast<unsigned char*>(p)[i], fill) << "block overwritten, step " << step;
            }
            ASSERT_EQ(pool.release(p), BlockPool::Release::Freed);
            live.erase(p);
        } else {
            const size_t size = random() % (BlockPool::kLargest + 1);
            void* p = pool.allocate(size);
            ASSERT_EQ(reinterpret_cast<uintptr_t>(p) % BlockPool::kGranule, 0u);
            ASSERT_EQ(live.count(p), 0u) << "a live block handed out again";
            const auto fill = static_cast<unsigned char>(step);
            std::memset(p, fill, size);
            live[p] = {size, fill};
            order.push_back(p);
        }
        ASSERT_EQ(pool.live(), live.size());
    }
}

TEST(BlockPoolTest, FreesOfWhatIsNoLiveBlockAreRecognised) {
    BlockPool pool;
    int on_stack = 0;
    EXPECT_EQ(pool.release(&on_stack), BlockPool::Release::NotPooled);  // no slab yet
    char* a = static_cast<char*>(pool.allocate(40));
    char* b = static_cast<char*>(pool.allocate(0));  // a block of its own
    EXPECT_NE(a, b);
    EXPECT_EQ(pool.release(a + 8), BlockPool::Release::NotABlock);   // inside a block
    EXPECT_EQ(pool.release(a + 48), BlockPool::Release::NotABlock);  // never handed out
    EXPECT_EQ(pool.release(&on_stack), BlockPool::Release::NotPooled);
    EXPECT_EQ(pool.release(a), BlockPool::Release::Freed);
    EXPECT_EQ(pool.release(a), BlockPool::Release::NotABlock);  // freed twice
    EXPECT_EQ(pool.live(), 1u);
    EXPECT_EQ(pool.allocate(33), a);  // the last freed block of the class comes back first
    pool.clear();
    EXPECT_EQ(pool.live(), 0u);
    EXPECT_EQ(pool.release(b), BlockPool::Release::NotPooled);
}

}  // namespace
}  // namespace standin_test
