// SPDX-License-Identifier: MIT
// The tests' images: indexed pixels of a few reproducible kinds, the bitmap info header and palette
// the codecs read, rows in the padded scan-line layout, and GIF's four-pass row order.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace orveln1::test
{

enum class image_kind { flat, noise, gradient, stripes };

// width x height pixels, each below `colours`, top row first. flat: every pixel is seed % colours;
// noise: a fixed pseudo-random sequence per seed.
[[nodiscard]] std::vector<uint8_t> make_pixels(image_kind kind, int32_t width, int32_t height, int colours,
                                               uint32_t seed = 1);
// `count` bytes of the given kind, every byte value possible.
[[nodiscard]] std::vector<uint8_t> make_bytes(image_kind kind, std::size_t count, uint32_t seed);

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
};

// An image of the given kind, every pixel below 2^depth.
[[nodiscard]] test_image make_image(int32_t width, int32_t height, int depth, image_kind kind, uint32_t seed = 1);

// The header alone, for codecs that read only the geometry, depth and compression.
[[nodiscard]] std::vector<uint8_t> image_header(int32_t width, int32_t height, int depth, uint32_t compression = 0);

// GIF's four-pass order of the rows of an image of the given height.
[[nodiscard]] std::vector<int32_t> interlace_order(int32_t height);

} // namespace orveln1::test
