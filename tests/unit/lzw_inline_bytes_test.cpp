// SPDX-License-Identifier: MIT
// The decoding core's inline fills and copies: for every length around the inline limit and its
// halves, exactly the string's bytes change, none before it and none past it.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <vector>

#include "lzw/lzw_decode_table.hpp"

using namespace orveln1;

namespace
{

TEST(inline_bytes, FillAndCopyWriteExactlyTheString)
{
    constexpr std::size_t guard = 16;
    // From the shortest string each takes to past the inline limit, through every store pattern's edges.
    for (uint32_t n = LZW_SHORT_STRING; n <= lzw_detail::LZW_INLINE_BYTES + 8; ++n) {
        SCOPED_TRACE(n);
        // A run, then a copy of the string right before it (as the previous string lies).
        std::vector<uint8_t> fill(guard + n + guard, 0xEE), copy(guard + 2 * n + guard, 0xEE);
        lzw_detail::fill_run(fill.data() + guard, 0x5A, n, fill.data() + guard + n);
        for (std::size_t i = 0; i < fill.size(); ++i)
            ASSERT_EQ(fill[i], i >= guard && i < guard + n ? 0x5A : 0xEE) << "fill at " << i;
        if (n < 2 * LZW_SHORT_STRING)
            continue;
        for (uint32_t i = 0; i < n; ++i)
            copy[guard + i] = static_cast<uint8_t>(i * 7 + 1);
        std::vector<uint8_t> want = copy;
        std::copy_n(copy.begin() + guard, n, want.begin() + guard + n);
        lzw_detail::copy_string(copy.data() + guard + n, copy.data() + guard, n, copy.data() + guard + 2 * n);
        ASSERT_EQ(copy, want);
    }
}

} // namespace

#if defined(ORVELN1_ASSERTIONS)
// The bounds are checked where the build says so: a fill shorter than its stores reach, or past
// the room it was given, stops the program rather than writing outside its string.
TEST(inline_bytes_death, BrokenBoundsStopTheProgram)
{
    std::vector<uint8_t> bytes(64, 0);
    EXPECT_DEATH(lzw_detail::fill_run(bytes.data(), 1, 4, bytes.data() + bytes.size()), "");
    EXPECT_DEATH(lzw_detail::fill_run(bytes.data() + 40, 1, 32, bytes.data() + bytes.size()), "");
    EXPECT_DEATH(lzw_detail::copy_string(bytes.data() + 8, bytes.data(), 16, bytes.data() + bytes.size()), "");
}
#endif
