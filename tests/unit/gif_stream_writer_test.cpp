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

// The signature (87a or 89a), the screen descriptor of a width x height image with a global table
// of 2^depth colours, the table, then `rest`.
std::vector<uint8_t> stream_head(uint8_t version, uint8_t width, uint8_t height, int depth, std::vector<uint8_t> rest)
{
    const auto flags = static_cast<uint8_t>(0x80 | (depth - 1));
    std::vector<uint8_t> out = {'G', 'I', 'F', '8', version, 'a', width, 0, height, 0, flags, 0, 0};
    const std::vector<uint8_t> table = test_image::colour_table(depth);
    out.insert(out.end(), table.begin(), table.end());
    out.insert(out.end(), rest.begin(), rest.end());
    return out;
}

// A two-pixel image, plain and interlaced, is this stream in these writes; a transparent index
// without the flag is ignored.
TEST(gif_writer, TwoPixelImageIsThisStream)
{
    for (const int32_t interlaced : {0, 1}) {
        const test_image image{.width = 2, .pixels = {0, 1}, .transparent_index = 9};
        test_host host(image);
        ASSERT_EQ(run_write_gif_stream(host, image, interlaced), 0);
        const auto flags = static_cast<uint8_t>(interlaced != 0 ? 0x47 : 0x07);
        EXPECT_EQ(host.output, stream_head('7', 2, 1, 8,
                                           {0x2C, 0, 0, 0, 0, 2, 0, 1, 0, flags, 8, 0x05, 0x00, 0x01, 0x04, 0x08, 0x08,
                                            0x00, 0x3B}));
        EXPECT_EQ(host.values('g'), std::vector<int32_t>{0});
        EXPECT_EQ(host.values('w'), (std::vector<int32_t>{6, 2, 2, 1, 1, 1, 768, 1, 2, 2, 2, 2, 2, 1, 5, 1, 1}));
    }
}

// The graphic control extension carries the index as given; the palette is read through the
// header size, and the extension's writes come between the table and the descriptor.
TEST(gif_writer, ExtensionCarriesTheIndexAsGiven)
{
    struct {
        int depth;
        uint8_t index;
        int32_t interlaced;
        uint32_t header_size;
    } const cases[] = {{4, 5, 0, 40}, {4, 5, 1, 40}, {4, 200, 0, 40}, {8, 0, 1, 124}, {8, 255, 0, 108}, {4, 15, 1, 56}};
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << "depth " << c.depth << " index " << int{c.index} << " interlaced "
                                        << c.interlaced << " header " << c.header_size);
        test_image image = make_image(5, 3, c.depth, image_kind::gradient);
        image.transparent = true;
        image.transparent_index = c.index;
        image.header_size = c.header_size;
        test_host host(image);
        ASSERT_EQ(run_write_gif_stream(host, image, c.interlaced), 0);
        const std::vector<uint8_t> &out = host.output;
        const int32_t table = 3 << c.depth;
        ASSERT_GT(out.size(), 13u + table + 8 + 11);
        const std::vector<uint8_t> head(out.begin(), out.begin() + 13 + table + 9);
        EXPECT_EQ(head, stream_head('9', 5, 3, c.depth, {0x21, 0xF9, 0x04, 0x01, 0x00, 0x00, c.index, 0x00, 0x2C}));
        EXPECT_EQ(out[13 + table + 17], (c.depth - 1) | (c.interlaced ? 0x40 : 0));
        EXPECT_EQ(out[13 + table + 18], c.depth);
        const std::vector<int32_t> sizes = host.values('w');
        EXPECT_EQ(std::vector<int32_t>(sizes.begin(), sizes.begin() + 17),
                  (std::vector<int32_t>{6, 2, 2, 1, 1, 1, table, 1, 1, 5, 1, 1, 2, 2, 2, 2, 2}));
    }
}

// After the descriptor the rows are asked for in order between sub-blocks, each sub-block a size
// write of 1 and a data write of 253 or 254, then the last sub-block, terminator and trailer.
TEST(gif_writer, CallSizesAndRowRequestsInterleaveAsTheStreamIsMade)
{
    const test_image image = make_image(200, 40, 8, image_kind::noise);
    test_host host(image);
    ASSERT_EQ(run_write_gif_stream(host, image, 0), 0);
    const std::vector<host_event> &ev = host.events;
    ASSERT_EQ(ev[13], (host_event{'g', 0}));
    std::size_t i = 14;
    int32_t rows = 1, blocks = 0;
    for (; i + 4 < ev.size(); ++i) {
        if (ev[i].kind == 'g') {
            ASSERT_EQ(ev[i].value, rows++);
            continue;
        }
        ASSERT_EQ(ev[i], (host_event{'w', 1}));
        ASSERT_EQ(ev[++i].kind, 'w');
        ASSERT_TRUE(ev[i].value == 253 || ev[i].value == 254) << ev[i].value;
        ++blocks;
    }
    EXPECT_EQ(rows, 40);
    EXPECT_GT(blocks, 20);
    ASSERT_EQ(i + 4, ev.size());
    for (const std::size_t j : {i, i + 2, i + 3})
        EXPECT_EQ(ev[j], (host_event{'w', 1})) << "event " << j;
    EXPECT_EQ(host.output.back(), 0x3B);
}

// Depth first, then each dimension: refused before any callback or block.
TEST(gif_writer, RefusalsCallNoCallback)
{
    struct {
        int32_t depth, width, height, result;
    } const cases[] = {{1, 4, 4, ERR_UNSUPPORTED_DEPTH},  {2, 4, 4, ERR_UNSUPPORTED_DEPTH},
                       {16, 4, 4, ERR_UNSUPPORTED_DEPTH}, {24, 0, 0, ERR_UNSUPPORTED_DEPTH},
                       {8, 0, 4, ERR_BAD_DATA},           {8, 4, 0, ERR_BAD_DATA},
                       {4, -1, 4, ERR_BAD_DATA},          {4, 4, -8, ERR_BAD_DATA},
                       {8, 65536, 1, ERR_BAD_DATA},       {8, 1, 65536, ERR_BAD_DATA}};
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << "depth " << c.depth << " " << c.width << "x" << c.height);
        const test_image image{.width = c.width, .height = c.height, .depth = c.depth, .pixels = {}};
        test_host host(image);
        memory_stats_reset();
        EXPECT_EQ(run_write_gif_stream(host, image, 0), c.result);
        EXPECT_TRUE(host.events.empty());
        EXPECT_EQ(memory_stats_now().obtained, 0);
    }
}

} // namespace
