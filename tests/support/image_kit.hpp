// SPDX-License-Identifier: MIT
// The tests' images: reproducible pixels, the header and palette the codecs read, scan lines, and
// GIF's row order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace orveln1::test
{

enum class image_kind { flat, noise, gradient, stripes };

// width x height pixels below `colours`, top row first (flat: seed % colours; noise: seeded).
[[nodiscard]] std::vector<uint8_t> make_pixels(image_kind kind, int32_t width, int32_t height, int colours,
                                               uint32_t seed = 1);
// `count` bytes of the given kind, every byte value possible.
[[nodiscard]] std::vector<uint8_t> make_bytes(image_kind kind, std::size_t count, uint32_t seed);

// `count` bytes in runs of six values below `colours`: short runs and runs of hundreds to thousands
// of bytes, so that the runs of one value are coded in stretches that other values interrupt.
[[nodiscard]] std::vector<uint8_t> make_runs(std::size_t count, uint32_t seed, int colours = 256);

// An indexed image with what its header says about it.
struct test_image {
    int32_t width = 1;
    int32_t height = 1;
    int depth = 8;
    std::vector<uint8_t> pixels; // one palette index a pixel (depths 1 to 8)
    bool transparent = false;
    uint8_t transparent_index = 0;
    uint32_t header_size = 40; // distance from the header to the palette
    uint32_t compression = 0;

    // The bitmap info header followed by a palette of 256 entries (blue, green, red, reserved).
    [[nodiscard]] std::vector<uint8_t> header() const;
    // Row y in the packed layout (depth 4 or 8), padded to a multiple of 4 bytes.
    [[nodiscard]] std::vector<uint8_t> packed_row(int32_t y) const;
    // Palette entry i's red, green and blue as the header gives them.
    [[nodiscard]] static uint8_t red(int i) { return static_cast<uint8_t>(i * 7 + 1); }
    [[nodiscard]] static uint8_t green(int i) { return static_cast<uint8_t>(i * 13 + 2); }
    [[nodiscard]] static uint8_t blue(int i) { return static_cast<uint8_t>(255 - i * 3); }
    // The first 2^depth palette entries as a GIF colour table holds them: red, green, blue.
    [[nodiscard]] static std::vector<uint8_t> colour_table(int depth);
};

// An image of the given kind, every pixel below 2^depth.
[[nodiscard]] test_image make_image(int32_t width, int32_t height, int depth, image_kind kind, uint32_t seed = 1);

// The header alone, for codecs that read only the geometry, depth and compression.
[[nodiscard]] std::vector<uint8_t> image_header(int32_t width, int32_t height, int depth, uint32_t compression = 0);

// The order GIF stores rows in: the four passes when interlaced, else top to bottom.
[[nodiscard]] inline std::vector<int32_t> interlace_order(int32_t height, bool interlaced = true)
{
    std::vector<int32_t> order;
    // Passes 0 to 3 are the interlaced ones; pass 4 is every row.
    const int32_t first[5] = {0, 4, 2, 1, 0}, step[5] = {8, 8, 4, 2, 1};
    for (int pass = interlaced ? 0 : 4; pass < (interlaced ? 4 : 5); ++pass)
        for (int32_t r = first[pass]; r < height; r += step[pass])
            order.push_back(r);
    return order;
}

// Pixel x of a row in the scan-line layout at depth 1, 4 or 8: the leftmost pixel in the high bits.
[[nodiscard]] inline uint8_t index_at(const uint8_t *row, int32_t x, int depth)
{
    const auto bit = static_cast<std::size_t>(x) * static_cast<std::size_t>(depth);
    return static_cast<uint8_t>((row[bit / 8] >> (8 - depth - static_cast<int>(bit % 8))) & ((1 << depth) - 1));
}

// One pixel a byte into the scan-line layout at depth 1, 4 or 8, as a decoder hands a row over
// (the bits past the last pixel and the padding 0).
[[nodiscard]] inline std::vector<uint8_t> scan_line(const uint8_t *pixels, std::size_t width, int depth)
{
    std::vector<uint8_t> row((width * static_cast<std::size_t>(depth) + 31) / 32 * 4, 0);
    for (std::size_t x = 0, bit = 0; x < width; ++x, bit += static_cast<std::size_t>(depth))
        row[bit / 8] |=
            static_cast<uint8_t>((pixels[x] & ((1 << depth) - 1)) << (8 - depth - static_cast<int>(bit % 8)));
    return row;
}

} // namespace orveln1::test
