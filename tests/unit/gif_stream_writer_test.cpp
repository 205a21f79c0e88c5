// SPDX-License-Identifier: MIT
// The GIF stream writer: exact streams and write sizes, transparency, the palette through the
// header size, refusals before any callback (giflib reads its pixels back in peer/).
#include <gtest/gtest.h>

#include "gif/gif_compressor.hpp"
#include "support/codec_runs.hpp"
#include "support/memory_instrumented.hpp"

using namespace orveln1;
using namespace orveln1::test;

namespace
{

using gif_writer_interlace = ::testing::TestWithParam<int32_t>;

TEST_P(gif_writer_interlace, TwoPixelImageIsThisStream)
{
    const int32_t interlaced = GetParam();
    test_image image;
    image.width = 2;
    image.pixels = {0, 1};
    image.transparent_index = 9; // ignored without the flag
    test_host host(image);
    ASSERT_EQ(run_write_gif_stream(host, image, interlaced), 0);
    std::vector<uint8_t> expected = {'G', 'I', 'F', '8', '7', 'a', 2, 0, 1, 0, 0x87, 0, 0};
    const std::vector<uint8_t> table = test_image::colour_table(8);
    expected.insert(expected.end(), table.begin(), table.end());
    const std::vector<uint8_t> tail = {
        0x2C, 0,    0,    0,    0,    2,    0,    1,    0,   static_cast<uint8_t>(interlaced ? 0x47 : 0x07),
        8,    0x05, 0x00, 0x01, 0x04, 0x08, 0x08, 0x00, 0x3B};
    expected.insert(expected.end(), tail.begin(), tail.end());
    EXPECT_EQ(host.output, expected);
    EXPECT_EQ(host.values('g'), std::vector<int32_t>{0});
    EXPECT_EQ(host.values('w'), (std::vector<int32_t>{6, 2, 2, 1, 1, 1, 768, 1, 2, 2, 2, 2, 2, 1, 5, 1, 1}));
}

INSTANTIATE_TEST_SUITE_P(gif_writer, gif_writer_interlace, ::testing::Values(0, 1));

struct transparency_case {
    int depth;
    uint8_t index;
    int32_t interlaced;
    uint32_t header_size;
};

using gif_writer_transparency = ::testing::TestWithParam<transparency_case>;

TEST_P(gif_writer_transparency, ExtensionCarriesTheIndexAsGiven)
{
    const transparency_case c = GetParam();
    test_image image = make_image(5, 3, c.depth, image_kind::gradient);
    image.transparent = true;
    image.transparent_index = c.index;
    image.header_size = c.header_size;
    test_host host(image);
    ASSERT_EQ(run_write_gif_stream(host, image, c.interlaced), 0);
    const std::vector<uint8_t> &out = host.output;
    const std::size_t table_bytes = 3u << c.depth;
    ASSERT_GT(out.size(), 13 + table_bytes + 8 + 11);
    EXPECT_EQ(std::string(out.begin(), out.begin() + 6), "GIF89a");
    EXPECT_EQ(out[10], 0x80 | (c.depth - 1));
    EXPECT_EQ(std::vector<uint8_t>(out.begin() + 13, out.begin() + 13 + static_cast<long>(table_bytes)),
              test_image::colour_table(c.depth));
    const std::size_t ext = 13 + table_bytes;
    EXPECT_EQ(std::vector<uint8_t>(out.begin() + static_cast<long>(ext), out.begin() + static_cast<long>(ext) + 9),
              (std::vector<uint8_t>{0x21, 0xF9, 0x04, 0x01, 0x00, 0x00, c.index, 0x00, 0x2C}));
    EXPECT_EQ(out[ext + 17], (c.depth - 1) | (c.interlaced ? 0x40 : 0));
    EXPECT_EQ(out[ext + 18], c.depth);
    const std::vector<int32_t> sizes = host.values('w');
    const std::vector<int32_t> head = {6, 2, 2, 1, 1, 1, static_cast<int32_t>(table_bytes), 1, 1, 5, 1,
                                       1, 2, 2, 2, 2, 2};
    EXPECT_EQ(std::vector<int32_t>(sizes.begin(), sizes.begin() + static_cast<long>(head.size())), head);
}

INSTANTIATE_TEST_SUITE_P(gif_writer, gif_writer_transparency,
                         ::testing::Values(transparency_case{4, 5, 0, 40}, transparency_case{4, 5, 1, 40},
                                           transparency_case{4, 200, 0, 40}, transparency_case{8, 0, 1, 124},
                                           transparency_case{8, 255, 0, 108}, transparency_case{4, 15, 1, 56}));

TEST(gif_writer, CallSizesAndRowRequestsInterleaveAsTheStreamIsMade)
{
    const test_image image = make_image(200, 40, 8, image_kind::noise);
    test_host host(image);
    ASSERT_EQ(run_write_gif_stream(host, image, 0), 0);
    const std::vector<host_event> &ev = host.events;
    // The first row is asked for after the descriptor and before any image data.
    ASSERT_EQ(ev[13], (host_event{'g', 0}));
    std::size_t i = 14;
    int32_t rows = 1, blocks = 0;
    while (i < ev.size() && !(ev[i].kind == 'w' && i + 4 == ev.size())) {
        if (ev[i].kind == 'g') {
            ASSERT_EQ(ev[i].value, rows++);
            ++i;
            continue;
        }
        ASSERT_EQ(ev[i], (host_event{'w', 1}));
        ASSERT_EQ(ev[i + 1].kind, 'w');
        ASSERT_TRUE(ev[i + 1].value == 253 || ev[i + 1].value == 254) << ev[i + 1].value;
        ++blocks;
        i += 2;
    }
    EXPECT_EQ(rows, 40);
    EXPECT_GT(blocks, 20);
    ASSERT_EQ(i + 4, ev.size());
    EXPECT_EQ(ev[i], (host_event{'w', 1}));
    EXPECT_EQ(ev[i + 2], (host_event{'w', 1}));
    EXPECT_EQ(ev[i + 3], (host_event{'w', 1}));
    EXPECT_EQ(host.output.back(), 0x3B);
}

struct refusal_case {
    int depth;
    int32_t width, height;
    int32_t result;
};

using gif_writer_refusal = ::testing::TestWithParam<refusal_case>;

TEST_P(gif_writer_refusal, NoCallbackIsCalled)
{
    const refusal_case c = GetParam();
    test_image image;
    image.depth = c.depth;
    image.width = c.width;
    image.height = c.height;
    test_host host(image);
    memory_stats_reset();
    EXPECT_EQ(run_write_gif_stream(host, image, 0), c.result);
    EXPECT_TRUE(host.events.empty());
    EXPECT_EQ(memory_stats_now().obtained, 0);
}

INSTANTIATE_TEST_SUITE_P(
    gif_writer, gif_writer_refusal,
    ::testing::Values(refusal_case{1, 4, 4, ERR_UNSUPPORTED_DEPTH}, refusal_case{2, 4, 4, ERR_UNSUPPORTED_DEPTH},
                      refusal_case{16, 4, 4, ERR_UNSUPPORTED_DEPTH}, refusal_case{24, 0, 0, ERR_UNSUPPORTED_DEPTH},
                      refusal_case{8, 0, 4, ERR_BAD_DATA}, refusal_case{8, 4, 0, ERR_BAD_DATA},
                      refusal_case{4, -1, 4, ERR_BAD_DATA}, refusal_case{4, 4, -8, ERR_BAD_DATA},
                      refusal_case{8, 65536, 1, ERR_BAD_DATA}, refusal_case{8, 1, 65536, ERR_BAD_DATA}));

} // namespace
