// The flat key table behind the property tags: agrees with a reference map through growth, and
// keys that differ only in their high or low half stay apart.
#include "key_table.h"

#include <gtest/gtest.h>

#include <random>
#include <unordered_map>

namespace standin_test {
namespace {

using standin::detail::KeyTable;

TEST(KeyTableTest, AgreesWithAReferenceMap) {
    KeyTable table;
    std::unordered_map<uint64_t, uint32_t> reference;
    std::mt19937_64 random(5);
    EXPECT_EQ(table.find(1, 99u), 99u);  // empty table
    for (uint32_t step = 1; step <= 100000; ++step) {
        // (object << 32 | name) keys as the dispatcher makes them: few names, many objects.
        const uint64_t key = (static_cast<uint64_t>(random() % 50000) << 32) | (random() % 8);
        if (random() % 2 == 0) {
            table.insert(key, step);
            reference[key] = step;
        }
        const auto it = reference.find(key);
        ASSERT_EQ(table.find(key, 0u), it == reference.end() ? 0u : it->second) << "step " << step;
    }
    EXPECT_EQ(table.size(), reference.size());
    for (const auto& [key, value] : reference) {
        EXPECT_EQ(table.find(key, 0u), value);
    }
    table.clear();
    EXPECT_EQ(table.size(), 0u);
    EXPECT_EQ(table.find(reference.begin()->first, 7u), 7u);
}

}  // namespace
}  // namespace standin_test
