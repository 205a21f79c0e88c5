// SPDX-License-Identifier: MIT
// The decoding core's inline fills and copies: for every length around the inline limit and its
// halves, exactly the string's bytes change, none before it and none past it.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "lzw/lzw_decode_table.hpp"

using namespace orveln1;

namespace
{

constexpr std::size_t GUARD = 16;
constexpr uint8_t GUARD_BYTE = 0xEE;
// From the shortest string each takes to past the inline limit, through every store pattern's edges.
constexpr uint32_t LONGEST = lzw_detail::LZW_INLINE_BYTES + 8;

TEST(inline_bytes, FillWritesExactlyTheRun)
{
    for (uint32_t n = LZW_SHORT_STRING; n <= LONGEST; ++n) {
        SCOPED_TRACE(n);
        std::vector<uint8_t> buffer(GUARD + n + GUARD, GUARD_BYTE);
        lzw_detail::fill_run(buffer.data() + GUARD, 0x5A, n);
        for (std::size_t i = 0; i < buffer.size(); ++i) {
            const bool inside = i >= GUARD && i < GUARD + n;
            ASSERT_EQ(buffer[i], inside ? 0x5A : GUARD_BYTE) << "at " << i;
        }
    }
}

TEST(inline_bytes, CopyWritesExactlyTheString)
{
    for (uint32_t n = 2 * LZW_SHORT_STRING; n <= LONGEST; ++n) {
        SCOPED_TRACE(n);
        // The source lies right before the destination, as the previous string does.
        std::vector<uint8_t> buffer(GUARD + 2 * n + GUARD, GUARD_BYTE);
        uint8_t *const from = buffer.data() + GUARD;
        for (uint32_t i = 0; i < n; ++i)
            from[i] = static_cast<uint8_t>(i * 7 + 1);
        lzw_detail::copy_string(from + n, from, n);
        for (uint32_t i = 0; i < n; ++i) {
            ASSERT_EQ(from[i], static_cast<uint8_t>(i * 7 + 1)) << "source at " << i;
            ASSERT_EQ(from[n + i], static_cast<uint8_t>(i * 7 + 1)) << "copy at " << i;
        }
        for (std::size_t i = 0; i < GUARD; ++i) {
            ASSERT_EQ(buffer[i], GUARD_BYTE);
            ASSERT_EQ(buffer[GUARD + 2 * n + i], GUARD_BYTE);
        }
    }
}

} // namespace
