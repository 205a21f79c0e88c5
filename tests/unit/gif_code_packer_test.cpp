// SPDX-License-Identifier: MIT
// The GIF compressor's hot-loop bit writer against the reference bit writer gif_put_code: the same
// sub-blocks, flushed at the same codes, the same final bytes, and a short write at the same point.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "boundary/result_codes.hpp"
#include "gif/gif_code_packer.hpp"
#include "gif/gif_compressor.hpp"
#include "support/gif_bit_writer_oracle.hpp"

using namespace orveln1;

namespace
{

// Every write, as its bytes, in order; a write can be made to fail by its index.
struct recorded_writes {
    std::vector<std::vector<uint8_t>> calls;
    int fail_at = -1;
};
recorded_writes *recorder = nullptr;

int32_t record_write(int32_t, const uint8_t *buffer, int32_t count)
{
    recorder->calls.emplace_back(buffer, buffer + count);
    if (static_cast<int>(recorder->calls.size()) - 1 == recorder->fail_at)
        return count - 1;
    return count;
}

// A code stream that visits every width from 3 to 12 in runs long enough to cross flushes.
std::vector<std::pair<uint16_t, uint16_t>> code_stream(uint32_t seed, int count)
{
    std::vector<std::pair<uint16_t, uint16_t>> codes;
    for (int i = 0; i < count; ++i) {
        seed = seed * 1664525u + 1013904223u;
        const auto width = static_cast<uint16_t>(3 + (i < 64 ? i * 7 : i / 97) % 10);
        codes.emplace_back(static_cast<uint16_t>((seed >> 8) & ((1u << width) - 1)), width);
    }
    return codes;
}

// Puts the codes with one writer or the other; returns the first failure (or 0) and the final
// sub-block bytes as the compressor would write them.
int32_t run(bool packer_side, const std::vector<std::pair<uint16_t, uint16_t>> &codes, std::vector<uint8_t> &last)
{
    std::vector<uint8_t> block(GIF_BLOCK_BUFFER_BYTES, 0);
    uint8_t reverse[256];
    build_bit_reverse_table(reverse);
    gif_bit_writer reference{0, 0};
    gif_code_packer packer;
    for (const auto &[code, width] : codes) {
        int32_t r;
        if (packer_side) {
            packer.code_width = width;
            r = gif_pack_code(record_write, block.data(), code, packer, 1);
        } else {
            reference.code_width = width;
            r = gif_put_code(record_write, block.data(), code, reference, 1, reverse);
        }
        if (r < 0)
            return r;
    }
    const uint32_t count = packer_side ? packer.final_bytes() : (reference.bits_held + 7u) / 8u;
    last.assign(block.begin(), block.begin() + count);
    if (!packer_side)
        for (uint8_t &b : last)
            b = reverse[b];
    return 0;
}

using gif_code_packer_matches_reference = testing::TestWithParam<uint32_t>;

TEST_P(gif_code_packer_matches_reference, SameSubBlocksFlushPointsAndFinalBytes)
{
    // Every short length ends the stream at a different bit offset; the long one crosses flushes.
    const auto all = code_stream(GetParam(), 3000);
    for (std::size_t n = 1; n <= all.size(); n = n < 64 ? n + 1 : n * 3) {
        const std::vector<std::pair<uint16_t, uint16_t>> codes(all.begin(),
                                                               all.begin() + static_cast<std::ptrdiff_t>(n));
        recorded_writes expected, actual;
        std::vector<uint8_t> expected_last, actual_last;
        recorder = &expected;
        ASSERT_EQ(run(false, codes, expected_last), 0);
        recorder = &actual;
        ASSERT_EQ(run(true, codes, actual_last), 0);
        EXPECT_EQ(actual.calls, expected.calls) << n << " codes";
        EXPECT_EQ(actual_last, expected_last) << n << " codes";
    }
}

TEST_P(gif_code_packer_matches_reference, ShortWriteStopsAtTheSameCall)
{
    const auto codes = code_stream(GetParam(), 4000);
    for (int fail_at : {0, 1, 2, 5}) {
        recorded_writes expected, actual;
        expected.fail_at = actual.fail_at = fail_at;
        std::vector<uint8_t> unused;
        recorder = &expected;
        const int32_t want = run(false, codes, unused);
        recorder = &actual;
        EXPECT_EQ(run(true, codes, unused), want);
        EXPECT_EQ(want, ERR_WRITE);
        EXPECT_EQ(actual.calls, expected.calls) << "failing write " << fail_at;
    }
}

INSTANTIATE_TEST_SUITE_P(seeds, gif_code_packer_matches_reference, testing::Values(1u, 7u, 42u, 1234u, 99991u));

} // namespace
