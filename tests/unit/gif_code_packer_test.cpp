// SPDX-License-Identifier: MIT
// The GIF compressor's hot-loop bit writer against codes packed one by one (the tests' bit packer)
// and cut where a sub-block is due: the same writes, the same final bytes, a short write ending it.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "boundary/result_codes.hpp"
#include "gif/gif_code_packer.hpp"
#include "gif/gif_compressor.hpp"
#include "support/code_streams.hpp"

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

using code_list = std::vector<std::pair<uint16_t, uint16_t>>; // code, width

// A code stream that visits every width from 3 to 12 in runs long enough to cross flushes.
code_list code_stream(uint32_t seed, int count)
{
    code_list codes;
    for (int i = 0; i < count; ++i) {
        seed = seed * 1664525u + 1013904223u;
        const auto width = static_cast<uint16_t>(3 + (i < 64 ? i * 7 : i / 97) % 10);
        codes.emplace_back(static_cast<uint16_t>((seed >> 8) & ((1u << width) - 1)), width);
    }
    return codes;
}

// Puts the codes through the library's packer; returns the first failure (or 0) and the final
// sub-block bytes as the compressor would write them.
int32_t pack(const code_list &codes, std::vector<uint8_t> &last)
{
    std::vector<uint8_t> block(GIF_BLOCK_BUFFER_BYTES, 0);
    gif_code_packer packer;
    for (const auto &[code, width] : codes) {
        packer.code_width = width;
        if (const int32_t r = gif_pack_code(record_write, block.data(), code, packer, 1); r < 0)
            return r;
    }
    last.assign(block.begin(), block.begin() + packer.final_bytes());
    return 0;
}

// The writes the codes should make: the stream packed least significant bit first, a sub-block
// (its count byte, then its bytes) of every whole byte held whenever GIF_FLUSH_BITS or more bits
// wait before the next code; what is left after the last code stays in the block.
recorded_writes expected_writes(const code_list &codes, std::vector<uint8_t> &last)
{
    test::bit_packer stream(test::bit_order::lsb_first);
    std::vector<std::size_t> cuts = {0};
    uint64_t bits = 0;
    for (const auto &[code, width] : codes) {
        if (bits - cuts.back() * 8 >= static_cast<uint64_t>(GIF_FLUSH_BITS))
            cuts.push_back(static_cast<std::size_t>(bits / 8));
        stream.put(code, width);
        bits += width;
    }
    const std::vector<uint8_t> bytes = stream.bytes();
    recorded_writes out;
    for (std::size_t k = 1; k < cuts.size(); ++k) {
        out.calls.push_back({static_cast<uint8_t>(cuts[k] - cuts[k - 1])});
        out.calls.emplace_back(bytes.begin() + static_cast<std::ptrdiff_t>(cuts[k - 1]),
                               bytes.begin() + static_cast<std::ptrdiff_t>(cuts[k]));
    }
    last.assign(bytes.begin() + static_cast<std::ptrdiff_t>(cuts.back()), bytes.end());
    return out;
}

using gif_code_packer_matches_reference = testing::TestWithParam<uint32_t>;

TEST_P(gif_code_packer_matches_reference, SameSubBlocksFlushPointsAndFinalBytes)
{
    // Every short length ends the stream at a different bit offset; the long one crosses flushes.
    const auto all = code_stream(GetParam(), 3000);
    for (std::size_t n = 1; n <= all.size(); n = n < 64 ? n + 1 : n * 3) {
        const code_list codes(all.begin(), all.begin() + static_cast<std::ptrdiff_t>(n));
        std::vector<uint8_t> expected_last, actual_last;
        const recorded_writes expected = expected_writes(codes, expected_last);
        recorded_writes actual;
        recorder = &actual;
        ASSERT_EQ(pack(codes, actual_last), 0);
        EXPECT_EQ(actual.calls, expected.calls) << n << " codes";
        EXPECT_EQ(actual_last, expected_last) << n << " codes";
    }
}

TEST_P(gif_code_packer_matches_reference, ShortWriteStopsAtTheSameCall)
{
    const auto codes = code_stream(GetParam(), 4000);
    std::vector<uint8_t> unused;
    const recorded_writes all = expected_writes(codes, unused);
    for (int fail_at : {0, 1, 2, 5}) {
        ASSERT_LT(fail_at, static_cast<int>(all.calls.size()));
        recorded_writes actual;
        actual.fail_at = fail_at;
        recorder = &actual;
        EXPECT_EQ(pack(codes, unused), ERR_WRITE);
        // Nothing is written after the short write.
        EXPECT_EQ(actual.calls, decltype(all.calls)(all.calls.begin(), all.calls.begin() + fail_at + 1))
            << "failing write " << fail_at;
    }
}

INSTANTIATE_TEST_SUITE_P(seeds, gif_code_packer_matches_reference, testing::Values(1u, 7u, 42u, 1234u, 99991u));

} // namespace
