// SPDX-License-Identifier: MIT
// Header fields read by offset, and the scan-line length rule at every depth.
#include <gtest/gtest.h>

#include <cstring>
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
                         ::testing::Values(row_case{10, 1, 4}, row_case{5, 4, 4}, row_case{5, 8, 8},
                                           row_case{5, 24, 16}, row_case{3, 16, 8}, row_case{0, 1, 0},
                                           row_case{0, 24, 0}, row_case{32, 1, 4}, row_case{33, 1, 8},
                                           row_case{8, 4, 4}, row_case{9, 4, 8}, row_case{1, 32, 4},
                                           // Depths no codec serves take the width unchanged, like depth 8.
                                           row_case{5, 2, 8}, row_case{5, 0, 8},
                                           // Widths whose row sizes pass 32 bits are computed exactly.
                                           row_case{INT32_MAX, 32, 8589934588LL}, row_case{INT32_MAX, 24, 6442450944LL},
                                           row_case{INT32_MAX, 8, 2147483648LL}, row_case{INT32_MAX, 1, 268435456LL}));

TEST(padded_row_bytes_limits, BlockSizesBeyond32BitsAreReported)
{
    EXPECT_TRUE(block_size_fits(padded_row_bytes(1000, 32) * 6));
    EXPECT_FALSE(block_size_fits(padded_row_bytes(INT32_MAX, 8)));
    EXPECT_FALSE(block_size_fits(6 * padded_row_bytes(400000000, 8)));
    EXPECT_FALSE(block_size_fits(-1));
}

// A bitmap info header of the given size with a palette of 256 entries behind it.
std::vector<uint8_t> make_header(uint32_t header_size)
{
    test_image image;
    image.width = -2;
    image.height = 300;
    image.depth = 24;
    image.compression = HEADER_COMPRESSION_SWAP_RB;
    image.transparent = true;
    image.transparent_index = 0xC8;
    image.header_size = header_size;
    return image.header();
}

using header_sizes = ::testing::TestWithParam<uint32_t>;

// The palette is found through the header size; read from an odd address (no aligned loads).
TEST_P(header_sizes, FieldsAndPaletteAreFoundThroughHeaderSize)
{
    const std::vector<uint8_t> bytes = make_header(GetParam());
    std::vector<uint8_t> store(1 + bytes.size());
    std::memcpy(store.data() + 1, bytes.data(), bytes.size());
    const image_header_view h = read_image_header(store.data() + 1);
    EXPECT_EQ(h.size(), GetParam());
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
}

INSTANTIATE_TEST_SUITE_P(Versions, header_sizes, ::testing::Values(40u, 52u, 56u, 108u, 124u));

TEST(image_header_fields, TransparencyIsBit0x10OfTheSecondColourByteOnly)
{
    std::vector<uint8_t> bytes = make_header(40);
    bytes[33] = 0xEF;
    EXPECT_FALSE(read_image_header(bytes.data()).has_transparency());
    bytes[33] = 0x10;
    bytes[34] = 0xFF;
    EXPECT_TRUE(read_image_header(bytes.data()).has_transparency());
}

} // namespace
