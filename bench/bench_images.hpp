// SPDX-License-Identifier: MIT
// The benchmark's image set: deterministic synthetic pictures and real pictures from the shared
// corpus, held as palette indices and in the two row layouts the codecs exchange.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace orveln1_bench
{

struct bench_image {
    std::string name;
    int width = 0;
    int height = 0;
    int depth = 8;                 // 4 or 8 bits per pixel
    std::vector<uint8_t> indices;  // one palette index per pixel, rows top to bottom
    std::vector<uint8_t> padded;   // bitmap rows: packed at depth 4, each padded to 4 bytes
    std::vector<uint8_t> unpadded; // the same rows without the filler: what a TIFF strip holds
    int padded_row_bytes = 0;
    int unpadded_row_bytes = 0;

    [[nodiscard]] std::size_t pixel_count() const { return indices.size(); }
};

// Synthetic side length: 1024 normally, 64 in the quick check.
[[nodiscard]] int synthetic_side(bool small);

// The synthetic images alone, side x side pixels each: gradient, photo-like noise, flat, uniform
// random, 16-colour blocks at 8 and at 4 bits, and a dithered 4-bit gradient.
[[nodiscard]] std::vector<bench_image> synthetic_images(int side);

// Every image of the set. Real pictures come from the corpus folder (cropped to the synthetic side
// in the quick check); an empty corpus_dir leaves them out, and files of the corpus that are not
// there or too short are named in missing.
[[nodiscard]] std::vector<bench_image> load_image_set(bool small, const std::string &corpus_dir,
                                                      std::vector<std::string> &missing);

// A photo-like 8-bit picture (gradient plus noise) of any size, for the memory measurements.
[[nodiscard]] bench_image synthetic_photo(int width, int height);

// Fills padded/unpadded from indices (after width, height and depth are set).
void lay_out_rows(bench_image &image);

// A header (bitmap info header plus a 256-entry palette) describing the image, as the exports read it.
[[nodiscard]] std::vector<uint8_t> make_image_header(const bench_image &image);

// Palette entry i of every image, as red, green, blue: a different red for every index, so that
// a decoder that expands to colours can be checked index by index.
struct rgb {
    uint8_t r, g, b;
};
[[nodiscard]] rgb palette_colour(int i);

} // namespace orveln1_bench
