// SPDX-License-Identifier: MIT
// The TIFF decoder's fast paths (runs of one byte as a fill, stretches of strings under 8 bytes in a
// loop of their own chosen row by row) against the patterns that take them or nearly do: every
// strip comes back byte for byte.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "support/codec_runs.hpp"

using namespace orveln1::test;

namespace
{

struct pattern_case {
    const char *name;
    std::vector<uint8_t> (*make)();
    int32_t width;
};

// `count` pieces: piece i is run(i) bytes of the value byte(i), then tail(i) bytes of noise.
template <class Run, class Byte, class Tail>
std::vector<uint8_t> runs_and_noise(int count, Run run, Byte byte, Tail tail)
{
    std::vector<uint8_t> data;
    uint32_t seed = 4242;
    for (int i = 0; i < count; ++i) {
        data.insert(data.end(), static_cast<std::size_t>(run(i)), static_cast<uint8_t>(byte(i)));
        for (int j = 0; j < tail(i); ++j) {
            seed = seed * 1103515245u + 12345u;
            data.push_back(static_cast<uint8_t>(seed >> 24));
        }
    }
    return data;
}

// Runs of growing length, each closed by a different byte, so that the table holds entries that
// are a run followed by one other byte: those must not be taken for runs.
std::vector<uint8_t> runs_closed_by_other_bytes()
{
    std::vector<uint8_t> data;
    for (int length = 1; length < 90; ++length) {
        data.insert(data.end(), static_cast<std::size_t>(length), static_cast<uint8_t>(length % 3));
        data.push_back(static_cast<uint8_t>(200 + length % 5));
    }
    return data;
}

// The same byte value before and after a different one: a run entry and its non-run extensions
// meet the same first byte.
std::vector<uint8_t> run_other_run()
{
    std::vector<uint8_t> data;
    for (int i = 0; i < 60; ++i) {
        data.insert(data.end(), 37, 'a');
        data.push_back('b');
        data.insert(data.end(), static_cast<std::size_t>(i), 'a');
    }
    return data;
}

// Runs of 15, 16 and 17 bytes (either side of the fill threshold) mixed with noise.
std::vector<uint8_t> runs_at_the_threshold()
{
    return runs_and_noise(
        400, [](int i) { return 15 + i % 3; }, [](int i) { return i % 7; }, [](int) { return 3; });
}

// Long runs of one byte that start part way into rows, after noise or a run of another byte: the
// row buffer's front holds the run's byte from an earlier run except where later bytes went.
std::vector<uint8_t> runs_over_leftovers()
{
    return runs_and_noise(
        300, [](int i) { return 20 + i * 37 % 260; }, [](int i) { return i % 11 == 0 ? 'b' : 'a'; },
        [](int i) { return i % 4 * 5; });
}

// Long runs that end at every distance up to 40 bytes before the end of a 256-byte row, the rest of
// the row noise: chains of codes that each lengthen a run stop short of the row's end, at it, or
// would cross it.
std::vector<uint8_t> runs_ending_near_row_ends()
{
    return runs_and_noise(
        400, [](int i) { return 256 - i % 41; }, [](int i) { return i / 3 % 4; }, [](int i) { return i % 41; });
}

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

const auto ramps = [] { return rgb_ramps(20000); };

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

// One value for longer than a table generation: the run strings reach thousands of bytes and the
// table restarts in the middle.
const auto one_value = [] { return std::vector<uint8_t>(3 * 3839 * 2, 0x5A); };

using tif_decode_patterns = testing::TestWithParam<pattern_case>;

TEST_P(tif_decode_patterns, StripsDecodeToTheBytesCoded)
{
    const pattern_case &c = GetParam();
    std::vector<uint8_t> data = c.make();
    data.resize((data.size() + static_cast<std::size_t>(c.width) - 1) / static_cast<std::size_t>(c.width) *
                    static_cast<std::size_t>(c.width),
                0);
    const tif_encoded strip = tif_encode_bytes(data, c.width);
    ASSERT_EQ(strip.result, 0);
    const auto rows = static_cast<uint32_t>(data.size() / static_cast<std::size_t>(c.width));
    const tif_decoded back = tif_decode_strip(strip.strip, static_cast<uint32_t>(c.width), rows);
    EXPECT_EQ(back.result, 1);
    EXPECT_EQ(back.bytes, data);
}

INSTANTIATE_TEST_SUITE_P(
    patterns, tif_decode_patterns,
    testing::Values(pattern_case{"closed_runs_wide_rows", runs_closed_by_other_bytes, 1000},
                    pattern_case{"closed_runs_one_byte_rows", runs_closed_by_other_bytes, 1},
                    pattern_case{"run_other_run", run_other_run, 77}, pattern_case{"restarts", one_value, 4096},
                    pattern_case{"restarts_narrow_rows", one_value, 3},
                    pattern_case{"threshold", runs_at_the_threshold, 64},
                    pattern_case{"runs_over_leftovers", runs_over_leftovers, 97},
                    pattern_case{"runs_near_row_ends", runs_ending_near_row_ends, 256},
                    pattern_case{"runs_near_row_ends_wider_rows", runs_ending_near_row_ends, 263},
                    pattern_case{"runs_near_row_ends_short_rows", runs_ending_near_row_ends, 40},
                    // Row widths below 8 put string ends near the row buffer's front, where a whole
                    // 8-byte store would begin before it.
                    pattern_case{"ramps_rgb_rows", ramps, 2304}, pattern_case{"ramps_rows_of_7", ramps, 7},
                    pattern_case{"ramps_rows_of_9", ramps, 9}, pattern_case{"ramps_one_byte_rows", ramps, 1},
                    // Long enough that the table restarts several times in the middle of stretches.
                    pattern_case{"ramps_past_restarts", [] { return rgb_ramps(120000); }, 768},
                    pattern_case{"ramps_and_runs", ramps_and_runs, 64},
                    pattern_case{"ramps_and_runs_wide", ramps_and_runs, 1000},
                    pattern_case{"motifs_in_noise", motifs_in_noise, 101},
                    pattern_case{"motifs_in_noise_rows_of_5", motifs_in_noise, 5}),
    [](const testing::TestParamInfo<pattern_case> &p) { return std::string(p.param.name); });

} // namespace
