// SPDX-License-Identifier: MIT
// The block accounting, failure injection and fill pattern that every leak and fault check relies
// on, and the owner that releases on scope exit.
#include <gtest/gtest.h>

#include "boundary/memory.hpp"
#include "support/memory_instrumented.hpp"

using namespace orveln1;

namespace
{

TEST(memory, KthAllocationFailsOnceSizesAreAccountedAndOwnersRelease)
{
    memory_stats_reset();
    memory_fail_at(2);
    memory_fill_pattern(0xA5);
    void *first = lzw_alloc(10);
    EXPECT_EQ(lzw_alloc(20), nullptr);
    {
        lzw_block block(64);
        memory_fill_pattern(-1);
        ASSERT_TRUE(block);
        for (int i = 0; i < 64; ++i)
            ASSERT_EQ(block.get()[i], 0xA5);
        EXPECT_EQ(memory_stats_now().obtained, 2);
        EXPECT_EQ(memory_stats_now().live_bytes, 74);
    }
    EXPECT_EQ(memory_stats_now().live, 1);
    EXPECT_EQ(lzw_free(first), 0);
    EXPECT_EQ(lzw_free(nullptr), 0);
    EXPECT_EQ(memory_stats_now().live_bytes, 0);
    EXPECT_EQ(memory_stats_now().peak_bytes, 74);
}

} // namespace
