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

struct row_case {
    int64_t width;
    int depth;
    int64_t padded;
};

using padded_row_bytes_cases = ::testing::TestWithParam<row_case>;

TEST_P(padded_row_bytes_cases, MatchesTheBitmapRule)
{
    const row_case c = GetParam();
    EXPECT_EQ(padded_row_bytes(c.width, c.depth), c.padded) << "width " << c.width << " depth " << c.depth;
}

INSTANTIATE_TEST_SUITE_P(Examples, padded_row_bytes_cases,
                         ::testing::Values(row_case{10, 1, 4}, row_case{33, 1, 8}, row_case{9, 4, 8}, row_case{5, 8, 8},
                                           row_case{3, 16, 8}, row_case{5, 24, 16}, row_case{1, 32, 4},
                                           row_case{0, 24, 0},
                                           // Depths no codec serves take the width unchanged, like depth 8.
                                           row_case{5, 2, 8}, row_case{5, 0, 8},
                                           // Widths whose row sizes pass 32 bits are computed exactly.
                                           row_case{INT32_MAX, 32, 8589934588LL}, row_case{INT32_MAX, 24, 6442450944LL},
                                           row_case{INT32_MAX, 1, 268435456LL}));

TEST(padded_row_bytes_limits, BlockSizesBeyond32BitsAreReported)
{
    EXPECT_TRUE(block_size_fits(padded_row_bytes(1000, 32) * 6));
    EXPECT_FALSE(block_size_fits(padded_row_bytes(INT32_MAX, 8)));
    EXPECT_FALSE(block_size_fits(6 * padded_row_bytes(400000000, 8)));
    EXPECT_FALSE(block_size_fits(-1));
}

// Fields by offset, read from an odd address (no aligned loads); the palette through a header size
// the writer's tests do not use; transparency is bit 0x10 of the second colour byte alone.
TEST(image_header_fields, AreReadByOffsetAndThePaletteThroughTheHeaderSize)
{
    test_image image;
    image.width = -2;
    image.height = 300;
    image.depth = 24;
    image.compression = HEADER_COMPRESSION_SWAP_RB;
    image.transparent = true;
    image.transparent_index = 0xC8;
    image.header_size = 52;
    const std::vector<uint8_t> bytes = image.header();
    std::vector<uint8_t> store = {0};
    store.insert(store.end(), bytes.begin(), bytes.end());
    const image_header_view h = read_image_header(store.data() + 1);
    EXPECT_EQ(h.size(), 52u);
    EXPECT_EQ(h.width(), -2);
    EXPECT_EQ(h.height(), 300);
    EXPECT_EQ(h.depth(), 24);
    EXPECT_EQ(h.compression(), HEADER_COMPRESSION_SWAP_RB);
    EXPECT_EQ(h.transparent_index(), 0xC8);
    EXPECT_TRUE(h.has_transparency());
    const uint8_t *entry = h.palette_entry(200);
    EXPECT_EQ(entry[0], test_image::blue(200));
    EXPECT_EQ(entry[1], test_image::green(200));
    EXPECT_EQ(entry[2], test_image::red(200));
    store[1 + 33] = 0xEF;
    EXPECT_FALSE(read_image_header(store.data() + 1).has_transparency());
    store[1 + 33] = 0x10;
    store[1 + 34] = 0xFF;
    EXPECT_TRUE(read_image_header(store.data() + 1).has_transparency());
}

} // namespace
