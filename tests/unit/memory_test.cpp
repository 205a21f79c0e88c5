// SPDX-License-Identifier: MIT
// The block helpers and the accounting that every leak and fault-injection check relies on.
#include <gtest/gtest.h>

#include "boundary/memory.hpp"
#include "support/memory_instrumented.hpp"

using namespace orveln1;

namespace
{

// Only the k-th block fails; sizes stay right with many blocks live and released out of order.
TEST(memory, KthAllocationFailsOnceAndSizesAreAccounted)
{
    memory_stats_reset();
    memory_fail_at(3);
    void *blocks[500];
    for (int i = 0; i < 500; ++i)
        blocks[i] = lzw_alloc(static_cast<std::size_t>(i + 1));
    EXPECT_NE(blocks[1], nullptr);
    EXPECT_EQ(blocks[2], nullptr);
    EXPECT_NE(blocks[3], nullptr);
    EXPECT_EQ(memory_stats_now().obtained, 499);
    EXPECT_EQ(memory_stats_now().live_bytes, 500 * 501 / 2 - 3);
    for (int i = 0; i < 500; i += 2)
        lzw_free(blocks[i]);
    for (int i = 1; i < 500; i += 2)
        lzw_free(blocks[i]);
    EXPECT_EQ(memory_stats_now().live_bytes, 0);
    EXPECT_EQ(memory_stats_now().live, 0);
    EXPECT_EQ(memory_stats_now().peak_bytes, 500 * 501 / 2 - 3);
}

// The owner releases on scope exit, freeing null is harmless, and the fill pattern marks new blocks.
TEST(memory, OwnerReleasesOnScopeExitAndFillPatternMarksNewBlocks)
{
    memory_stats_reset();
    memory_fill_pattern(0xA5);
    {
        lzw_block block(64);
        memory_fill_pattern(-1);
        ASSERT_TRUE(block);
        EXPECT_EQ(memory_stats_now().live, 1);
        for (int i = 0; i < 64; ++i)
            ASSERT_EQ(block.get()[i], 0xA5);
    }
    EXPECT_EQ(memory_stats_now().live, 0);
    EXPECT_EQ(lzw_free(nullptr), 0);
}

} // namespace
