// SPDX-License-Identifier: MIT
// Header fields read by offset, and the scan-line length rule at every depth.
#include <gtest/gtest.h>

#include <vector>

#include "boundary/image_header.hpp"
#include "support/image_kit.hpp"

using namespace orveln1;
using namespace orveln1::test;

namespace
{

// Rows pad to 4 bytes at every depth; depths no codec serves take the width unchanged, like depth
// 8; widths whose row sizes pass 32 bits are computed exactly, and so are block sizes beyond them.
TEST(padded_row_bytes, MatchesTheBitmapRule)
{
    const int64_t m = INT32_MAX; // the widest width a header holds
    struct {
        int64_t width;
        int depth;
        int64_t padded;
    } const cases[] = {{10, 1, 4},          {33, 1, 8},          {9, 4, 8},        {5, 8, 8}, {3, 16, 8},
                       {5, 24, 16},         {1, 32, 4},          {0, 24, 0},       {5, 2, 8}, {5, 0, 8},
                       {m, 32, 8589934588}, {m, 24, 6442450944}, {m, 1, 268435456}};
    for (const auto &c : cases)
        EXPECT_EQ(padded_row_bytes(c.width, c.depth), c.padded) << "width " << c.width << " depth " << c.depth;
    EXPECT_TRUE(block_size_fits(padded_row_bytes(1000, 32) * 6));
    EXPECT_FALSE(block_size_fits(padded_row_bytes(INT32_MAX, 8)));
    EXPECT_FALSE(block_size_fits(6 * padded_row_bytes(400000000, 8)));
    EXPECT_FALSE(block_size_fits(-1));
}

// Fields by offset, read from an odd address (no aligned loads); the palette through a header size
// the writer's tests do not use; transparency is bit 0x10 of the second colour byte alone.
TEST(image_header_fields, AreReadByOffsetAndThePaletteThroughTheHeaderSize)
{
    test_image image{
        .width = -2, .height = 300, .depth = 24, .pixels = {}, .transparent = true, .transparent_index = 0xC8};
    image.header_size = 52;
    image.compression = HEADER_COMPRESSION_SWAP_RB;
    std::vector<uint8_t> store = image.header();
    store.insert(store.begin(), 0);
    const image_header_view h = read_image_header(store.data() + 1);
    EXPECT_EQ(
        std::vector<int64_t>({h.size(), h.width(), h.height(), h.depth(), h.compression(), h.transparent_index()}),
        std::vector<int64_t>({52, -2, 300, 24, HEADER_COMPRESSION_SWAP_RB, 0xC8}));
    EXPECT_TRUE(h.has_transparency());
    const uint8_t *entry = h.palette_entry(200);
    EXPECT_EQ(std::vector<uint8_t>(entry, entry + 3),
              std::vector<uint8_t>({test_image::blue(200), test_image::green(200), test_image::red(200)}));
    store[1 + 33] = 0xEF;
    EXPECT_FALSE(read_image_header(store.data() + 1).has_transparency());
    store[1 + 33] = 0x10;
    store[1 + 34] = 0xFF;
    EXPECT_TRUE(read_image_header(store.data() + 1).has_transparency());
}

} // namespace
