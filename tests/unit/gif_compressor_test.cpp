// SPDX-License-Identifier: MIT
// The GIF LZW compressor: exact bytes of small images, the interlace order, width steps, restarts
// and sub-block cuts against greedy LZW, its blocks and refusals.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "gif/gif_compressor.hpp"
#include "support/code_streams.hpp"
#include "support/memory_instrumented.hpp"
#include "support/test_host.hpp"

using namespace orveln1;
using namespace orveln1::test;

namespace
{

// The pixels begin at `start` in each delivered row (nibbles at depth 4, else bytes); the height and
// the code size word are the image's unless given.
int32_t compress(const test_image &image, test_host &host, int32_t interlaced = 0, int32_t start = 0, int32_t first = 0,
                 int32_t height = -1, int32_t word = -1)
{
    const std::vector<uint8_t> header = image.header();
    return gif_lzw_compress(test_host::callbacks(), header.data(), host.handle(), start, first,
                            height < 0 ? image.height : height, &test_host::get_row, host.handle(), interlaced,
                            word < 0 ? image.depth * 256 + image.depth - 1 : word);
}

// One row of pixels, or one column when `tall`.
test_image row_of(int depth, std::vector<uint8_t> pixels, bool tall = false)
{
    test_image image = make_image(tall ? 1 : static_cast<int32_t>(pixels.size()),
                                  tall ? static_cast<int32_t>(pixels.size()) : 1, depth, image_kind::flat);
    image.pixels = std::move(pixels);
    return image;
}

// The codes as a decoder reads them. A sub-block is cut before a code whenever GIF_FLUSH_BITS or
// more bits wait, so its sizes follow from the code widths.
gif_code_walk walk(const std::vector<uint8_t> &out, int depth)
{
    gif_code_walk t = walk_gif_codes(out.data(), out.size(), depth);
    std::vector<int32_t> sizes;
    int64_t bits = 0, cut = 0;
    for (const uint8_t width : t.widths) {
        if (bits - cut * 8 >= GIF_FLUSH_BITS) {
            sizes.push_back(static_cast<int32_t>(bits / 8 - cut));
            cut = bits / 8;
        }
        bits += width;
    }
    sizes.push_back(static_cast<int32_t>((bits + 7) / 8 - cut));
    EXPECT_EQ(t.sub_block_sizes, sizes);
    return t;
}

// Small images whose whole image data is known; a column codes as the same row does.
TEST(gif_compressor, WritesExactlyTheseBytes)
{
    const std::vector<uint8_t> threes = {0x04, 0x70, 0xC8, 0x11, 0x01, 0x00, 0x3B};
    struct {
        test_image image;
        std::vector<uint8_t> bytes;
    } const cases[] = {{row_of(4, {3, 3, 3, 3}), threes},
                       {row_of(4, {3, 3, 3, 3}, true), threes},
                       {row_of(8, {7}), {0x04, 0x00, 0x0F, 0x04, 0x04, 0x00, 0x3B}}};
    for (const auto &c : cases) {
        SCOPED_TRACE(std::to_string(c.image.width) + "x" + std::to_string(c.image.height));
        test_host host(c.image);
        ASSERT_EQ(compress(c.image, host), 0);
        EXPECT_EQ(host.output, c.bytes);
        EXPECT_FALSE(host.bad_row_count);
    }
}

// At every length the end code ends the data, at whatever width the decoder has reached.
using gif_compressor_end_code = ::testing::TestWithParam<int>;

TEST_P(gif_compressor_end_code, DecoderReadsTheEndCodeAtItsOwnWidth)
{
    const int depth = GetParam();
    int widened_at_end = 0;
    for (int32_t length = 1; length <= 2600; ++length) {
        const test_image image = make_image(length, 1, depth, image_kind::noise, 7);
        test_host host(image);
        ASSERT_EQ(compress(image, host), 0);
        const gif_code_walk t = walk(host.output, depth);
        ASSERT_TRUE(t.ended) << "length " << length;
        ASSERT_EQ((t.bits_used + 7) / 8, t.bits_total / 8) << "length " << length;
        if (t.final_next == (1 << (t.final_width - 1)))
            ++widened_at_end;
    }
    // The sweep passes the case where a decoder widens for the end code alone.
    EXPECT_GT(widened_at_end, 0);
}

INSTANTIATE_TEST_SUITE_P(gif_compressor, gif_compressor_end_code, ::testing::Values(4, 8));

// Codes the image and expects the codes of greedy LZW, restarting where the coder restarts; returns
// them.
std::vector<uint16_t> expect_greedy_codes(const test_image &image)
{
    test_host host(image);
    EXPECT_EQ(compress(image, host), 0);
    const gif_code_walk t = walk(host.output, image.depth);
    EXPECT_TRUE(t.ended);
    gif_encode_options restart_early;
    restart_early.clear_after = GIF_ENCODER_LAST_LIMIT;
    const std::vector<uint8_t> greedy = sub_blocks(gif_reference_encode(image.pixels, image.depth, restart_early));
    std::vector<uint16_t> expected = walk_gif_codes(greedy.data(), greedy.size(), image.depth).codes;
    EXPECT_EQ(t.codes, expected);
    return expected;
}

// Bands of noise and of a repeated pattern make the dictionary change form between generations
// (nibbles into and out of the direct one): the codes are still the reference's greedy LZW.
using gif_compressor_forms = ::testing::TestWithParam<int>;
TEST_P(gif_compressor_forms, BandsOfShortAndLongStringsCodeAsGreedyLzw)
{
    const int depth = GetParam();
    const int32_t width = 256;
    const std::vector<uint8_t> noise = make_pixels(image_kind::noise, width, 80, 1 << depth, 5);
    const std::vector<uint8_t> pattern = make_pixels(image_kind::noise, 64, 1, 1 << depth, 9);
    test_image image{.width = width, .depth = depth, .pixels = {}};
    for (int band = 0; band < 2; ++band) {
        image.pixels.insert(image.pixels.end(), noise.begin(), noise.end());
        for (int32_t i = 0; i < width * 900; ++i)
            image.pixels.push_back(pattern[static_cast<std::size_t>(i % 64)]);
    }
    image.pixels.insert(image.pixels.end(), noise.begin(), noise.end());
    image.height = static_cast<int32_t>(image.pixels.size() / width);
    const std::vector<uint16_t> expected = expect_greedy_codes(image);
    EXPECT_GE(std::count(expected.begin(), expected.end(), 1u << depth), 8);
}
INSTANTIATE_TEST_SUITE_P(gif_compressor, gif_compressor_forms, ::testing::Values(4, 8));

// Long runs of a few values, in rows narrower and wider than the runs: runs that start a row are
// coded in a loop of their own, which follows stretches of consecutive codes, broken where another
// value's strings came between; the codes are still greedy LZW's.
TEST_P(gif_compressor_forms, LongRunsInRowsOfAnyWidthCodeAsGreedyLzw)
{
    for (const int32_t width : {5, 1000, 4099}) {
        SCOPED_TRACE("width " + std::to_string(width));
        test_image image{.width = width, .depth = GetParam(), .pixels = make_runs(300000, 7 + width, 1 << GetParam())};
        image.height = static_cast<int32_t>(image.pixels.size() / width);
        image.pixels.resize(static_cast<std::size_t>(image.height) * width);
        expect_greedy_codes(image);
    }
}

// Noise, then rows of one value: the dictionary fills and restarts at a place that moves with the
// amount of noise, for two of these amounts within the flat rows' own loop.
TEST(gif_compressor, RestartsWithinARunCodeAsGreedyLzw)
{
    int restarts_in_flat_rows = 0;
    for (const int32_t noise_pixels : {3000, 3500, 5000}) {
        SCOPED_TRACE("noise pixels " + std::to_string(noise_pixels));
        test_image image{.width = 2000,
                         .height = 200,
                         .depth = 8,
                         .pixels = make_pixels(image_kind::noise, noise_pixels, 1, 256, 3)};
        image.pixels.resize(2000 * 200, 9);
        const std::vector<uint16_t> expected = expect_greedy_codes(image);
        // The codes after the last clear code: those of the flat rows, when the clear came among them.
        const auto last_clear = std::find(expected.rbegin(), expected.rend(), 256u);
        restarts_in_flat_rows += std::distance(expected.rbegin(), last_clear) < 850 ? 1 : 0;
    }
    EXPECT_EQ(restarts_in_flat_rows, 2);
}

// Interlaced at every small height and a tall one: every row asked for once, in pass order, and
// four blocks.
TEST(gif_compressor, ObtainsExactlyFourBlocksAndEachRowInPassOrder)
{
    for (int32_t height = 1; height <= 701; height += height < 40 ? 1 : 660) {
        const test_image image = make_image(height % 2 == 0 ? 33 : 1, height, 8, image_kind::gradient);
        test_host host(image);
        memory_stats_reset();
        ASSERT_EQ(compress(image, host, 1), 0);
        EXPECT_EQ(memory_stats_now().obtained, 4);
        EXPECT_EQ(memory_stats_now().live, 0);
        EXPECT_EQ(host.values('g'), interlace_order(height)) << image.width << "x" << height;
        EXPECT_FALSE(host.bad_row_count);
    }
    EXPECT_EQ(interlaced_row(3, 1, 65535), 24);
}

TEST(gif_compressor, RefusesGeometryAndRootSizesItCannotCode)
{
    const test_image image = make_image(4, 4, 8, image_kind::flat);
    test_host host(image);
    const auto run = [&](int32_t start, int32_t first, int32_t height, int32_t word) {
        return compress(image, host, 0, start, first, height, word);
    };
    EXPECT_EQ(run(0, 0, 0, 0x807), ERR_BAD_DATA);
    EXPECT_EQ(run(-1, 0, 4, 0x807), ERR_BAD_DATA);
    EXPECT_EQ(run(0, 0, 4, 0x803), ERR_BAD_DATA);  // 8-bit pixels need 256 roots
    EXPECT_EQ(run(13, 0, 4, 0x807), ERR_BAD_DATA); // past the row block
    EXPECT_EQ(host.events.size(), 0u);
}

// 4-bit rows read from a nibble offset code the nibbles it picks: even offsets whole bytes from
// offset / 2; odd ones byte (offset + i) / 2 of pixel i, the high nibble when i is even.
TEST(gif_compressor, CodesThePixelsTheNibbleOffsetPicks)
{
    const test_image image = make_image(11, 6, 4, image_kind::noise);
    const auto encode = [](const test_image &im, int32_t offset) {
        test_host host(im);
        EXPECT_EQ(compress(im, host, 0, offset), 0);
        return host.output;
    };
    for (const int32_t start : {0, 1, 2, 3, 4}) {
        test_image picked = image;
        for (int32_t y = 0; y < image.height; ++y) {
            const std::vector<uint8_t> row = image.packed_row(y);
            for (int32_t i = 0; i < image.width; ++i) {
                const uint8_t b = row[static_cast<std::size_t>((start + i) / 2)];
                const bool high = start % 2 == 0 ? (start + i) % 2 == 0 : i % 2 == 0;
                picked.pixels[static_cast<std::size_t>(y * image.width + i)] = high ? b >> 4 : b & 0x0F;
            }
        }
        EXPECT_EQ(encode(image, start), encode(picked, 0)) << "offset " << start;
    }
}

} // namespace
