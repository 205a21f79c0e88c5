// SPDX-License-Identifier: MIT
// The TIFF decoder takes stretches of strings shorter than 8 bytes in a loop of its own, chosen row
// by row: stretches cut by row ends, long strings, width steps and restarts, and rows where the
// choice flips, must all come back byte for byte.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "support/codec_runs.hpp"

using namespace orveln1::test;

namespace
{

struct short_case {
    const char *name;
    std::vector<uint8_t> (*make)();
    int32_t width;
};

// Three channels ramping at different rates: nearly every string is 2 or 3 bytes long.
std::vector<uint8_t> rgb_ramps(std::size_t pixels)
{
    std::vector<uint8_t> data;
    for (std::size_t i = 0; i < pixels; ++i) {
        data.push_back(static_cast<uint8_t>(i / 3));
        data.push_back(static_cast<uint8_t>(i / 5 + i % 2));
        data.push_back(static_cast<uint8_t>(i * 7 / 11));
    }
    return data;
}

std::vector<uint8_t> ramps()
{
    return rgb_ramps(20000);
}

// Long enough that the table restarts several times in the middle of stretches.
std::vector<uint8_t> ramps_past_restarts()
{
    return rgb_ramps(120000);
}

// Blocks of ramps and blocks of one byte, so that some rows are short strings throughout and
// others long runs: the choice of loop flips from row to row, and runs end stretches.
std::vector<uint8_t> ramps_and_runs()
{
    std::vector<uint8_t> data;
    for (int block = 0; block < 60; ++block) {
        const std::vector<uint8_t> r = rgb_ramps(static_cast<std::size_t>(40 + block * 13 % 300));
        data.insert(data.end(), r.begin(), r.end());
        data.insert(data.end(), static_cast<std::size_t>(block * 29 % 700), static_cast<uint8_t>(block));
    }
    return data;
}

// A few motifs of 9 to 14 bytes repeated between noise: strings of 8 bytes and more, and the code
// being defined, turn up inside stretches of short ones.
std::vector<uint8_t> motifs_in_noise()
{
    std::vector<uint8_t> data;
    uint32_t seed = 4242;
    for (int i = 0; i < 3000; ++i) {
        const int motif = i % 4;
        for (int j = 0; j < 9 + motif + i % 6; ++j)
            data.push_back(static_cast<uint8_t>(motif * 40 + j));
        for (int j = 0; j < i % 5; ++j) {
            seed = seed * 1103515245u + 12345u;
            data.push_back(static_cast<uint8_t>(seed >> 28));
        }
    }
    return data;
}

using tif_short_strings = testing::TestWithParam<short_case>;

TEST_P(tif_short_strings, StripsDecodeToTheBytesCoded)
{
    const short_case &c = GetParam();
    std::vector<uint8_t> data = c.make();
    const auto width = static_cast<std::size_t>(c.width);
    data.resize((data.size() + width - 1) / width * width, 0);
    const tif_encoded strip = tif_encode_bytes(data, c.width);
    ASSERT_EQ(strip.result, 0);
    const auto rows = static_cast<uint32_t>(data.size() / width);
    const tif_decoded back = tif_decode_strip(strip.strip, static_cast<uint32_t>(c.width), rows);
    EXPECT_EQ(back.result, 1);
    EXPECT_EQ(back.bytes, data);
}

// Row widths below 8 put string ends near the row buffer's front, where a whole 8-byte store
// would begin before it.
INSTANTIATE_TEST_SUITE_P(patterns, tif_short_strings,
                         testing::Values(short_case{"ramps_rgb_rows", ramps, 2304},
                                         short_case{"ramps_rows_of_7", ramps, 7},
                                         short_case{"ramps_rows_of_9", ramps, 9},
                                         short_case{"ramps_one_byte_rows", ramps, 1},
                                         short_case{"ramps_past_restarts", ramps_past_restarts, 768},
                                         short_case{"ramps_and_runs", ramps_and_runs, 64},
                                         short_case{"ramps_and_runs_wide", ramps_and_runs, 1000},
                                         short_case{"motifs_in_noise", motifs_in_noise, 101},
                                         short_case{"motifs_in_noise_rows_of_5", motifs_in_noise, 5}),
                         [](const testing::TestParamInfo<short_case> &p) { return std::string(p.param.name); });

} // namespace
