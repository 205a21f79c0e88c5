// SPDX-License-Identifier: MIT
// The block helpers: fault injection at the k-th block and the counts that leak checks rely on.
#include <gtest/gtest.h>

#include "boundary/memory.hpp"
#include "support/memory_instrumented.hpp"

using namespace orveln1;

namespace
{

TEST(memory, KthAllocationFailsOnceAndOthersSucceed)
{
    memory_stats_reset();
    memory_fail_at(3);
    void *a = lzw_alloc(10);
    void *b = lzw_alloc(20);
    void *c = lzw_alloc(30);
    void *d = lzw_alloc(40);
    EXPECT_NE(a, nullptr);
    EXPECT_NE(b, nullptr);
    EXPECT_EQ(c, nullptr);
    EXPECT_NE(d, nullptr);
    EXPECT_EQ(memory_stats_now().live, 3);
    EXPECT_EQ(memory_stats_now().live_bytes, 70);
    lzw_free(a);
    lzw_free(b);
    lzw_free(d);
    EXPECT_EQ(memory_stats_now().live, 0);
    EXPECT_EQ(memory_stats_now().live_bytes, 0);
    EXPECT_EQ(memory_stats_now().peak_bytes, 70);
    EXPECT_EQ(memory_stats_now().obtained, 3);
}

TEST(memory, OwnerReleasesOnScopeExitAndFreeOfNullIsHarmless)
{
    memory_stats_reset();
    {
        lzw_block block(100);
        ASSERT_TRUE(block);
        EXPECT_EQ(memory_stats_now().live, 1);
    }
    EXPECT_EQ(memory_stats_now().live, 0);
    EXPECT_EQ(lzw_free(nullptr), 0);
}

TEST(memory, FillPatternMarksNewBlocks)
{
    memory_fill_pattern(0xA5);
    lzw_block block(64);
    memory_fill_pattern(-1);
    ASSERT_TRUE(block);
    for (int i = 0; i < 64; ++i)
        ASSERT_EQ(block.get()[i], 0xA5);
}

TEST(memory, ManyLiveBlocksKeepTheirSizes)
{
    memory_stats_reset();
    void *blocks[500];
    for (int i = 0; i < 500; ++i)
        blocks[i] = lzw_alloc(static_cast<std::size_t>(i + 1));
    EXPECT_EQ(memory_stats_now().live_bytes, 500 * 501 / 2);
    for (int i = 0; i < 500; i += 2)
        lzw_free(blocks[i]);
    for (int i = 1; i < 500; i += 2)
        lzw_free(blocks[i]);
    EXPECT_EQ(memory_stats_now().live_bytes, 0);
    EXPECT_EQ(memory_stats_now().live, 0);
}

} // namespace
