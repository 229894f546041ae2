// The paged count table: only pages that were written exist.
#include <gtest/gtest.h>

#include "core/count_table.hpp"

namespace {

TEST(CountTable, UntouchedPagesReadZeroAndAreSkipped) {
    occusim::CountTable t;
    ASSERT_TRUE(t.reset(std::int64_t{1} << 30));
    t.add(5, 1.0);
    t.add((std::int64_t{1} << 30) - 1, 2.0);
    EXPECT_EQ(t.get(12345678), 0.0);
    int visited = 0;
    double sum = 0;
    t.for_each([&](std::int64_t, double v) {
        visited++;
        sum += v;
    });
    EXPECT_EQ(visited, 2 * occusim::CountTable::PAGE); // two pages, not 2^30 entries
    EXPECT_EQ(sum, 3.0);
    EXPECT_FALSE(t.reset(-1));
}

} // namespace
