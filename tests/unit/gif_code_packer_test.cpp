// SPDX-License-Identifier: MIT
// The GIF compressor's hot-loop bit writer against codes packed one by one (the tests' bit packer)
// and cut where a sub-block is due: the same writes to the test host, the same final bytes.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "gif/gif_code_packer.hpp"
#include "gif/gif_compressor.hpp"
#include "support/code_streams.hpp"
#include "support/test_host.hpp"

using namespace orveln1;

namespace
{

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

// Puts the codes through the library's packer, writing to the host; returns the first failure (or
// 0) and the final sub-block bytes as the compressor would write them.
int32_t pack(const code_list &codes, test::test_host &host, std::vector<uint8_t> &last)
{
    std::vector<uint8_t> block(GIF_BLOCK_BUFFER_BYTES, 0);
    gif_code_packer packer;
    for (const auto &[code, width] : codes) {
        packer.code_width = width;
        if (const int32_t r = gif_pack_code(&test::test_host::write, block.data(), code, packer, host.handle()); r < 0)
            return r;
    }
    last.assign(block.begin(), block.begin() + packer.final_bytes());
    return 0;
}

// The writes the codes should make: the stream packed least significant bit first, a sub-block
// (its count byte, then its bytes) of every whole byte held whenever GIF_FLUSH_BITS or more bits
// wait before the next code; what is left after the last code stays in the block.
struct expected_writes {
    std::vector<int32_t> sizes;
    std::vector<uint8_t> bytes; // of every write, one after the other
    std::vector<uint8_t> last;

    explicit expected_writes(const code_list &codes)
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
        const std::vector<uint8_t> all = stream.bytes();
        for (std::size_t k = 1; k < cuts.size(); ++k) {
            sizes.insert(sizes.end(), {1, static_cast<int32_t>(cuts[k] - cuts[k - 1])});
            bytes.push_back(static_cast<uint8_t>(cuts[k] - cuts[k - 1]));
            bytes.insert(bytes.end(), all.begin() + static_cast<std::ptrdiff_t>(cuts[k - 1]),
                         all.begin() + static_cast<std::ptrdiff_t>(cuts[k]));
        }
        last.assign(all.begin() + static_cast<std::ptrdiff_t>(cuts.back()), all.end());
    }
};

using gif_code_packer_matches_reference = testing::TestWithParam<uint32_t>;

TEST_P(gif_code_packer_matches_reference, SameSubBlocksFlushPointsAndFinalBytes)
{
    // Every short length ends the stream at a different bit offset; the long one crosses flushes.
    const auto all = code_stream(GetParam(), 3000);
    for (std::size_t n = 1; n <= all.size(); n = n < 64 ? n + 1 : n * 3) {
        const code_list codes(all.begin(), all.begin() + static_cast<std::ptrdiff_t>(n));
        const expected_writes expected(codes);
        test::test_host host;
        std::vector<uint8_t> last;
        ASSERT_EQ(pack(codes, host, last), 0);
        EXPECT_EQ(host.values('w'), expected.sizes) << n << " codes";
        EXPECT_EQ(host.output, expected.bytes) << n << " codes";
        EXPECT_EQ(last, expected.last) << n << " codes";
    }
}

INSTANTIATE_TEST_SUITE_P(seeds, gif_code_packer_matches_reference, testing::Values(1u, 7u, 42u, 1234u, 99991u));

} // namespace
