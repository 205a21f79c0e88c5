// SPDX-License-Identifier: MIT
// TIFF files through libtiff's tag and raw-strip functions, with the strips coded and decoded by
// orveln1 on all cores: LZW (and uncompressed) bilevel, palette, greyscale and RGB(A) images.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "orveln1.hpp"

namespace orveln1::tool
{

struct tiff_write_options {
    bool predictor = false; // horizontal differencing (predictor 2)
    unsigned threads = 0;   // 0: one per core
};

// What a TIFF file holds, for `orveln info` and the demo's table.
struct tiff_facts {
    std::string photometric;
    int bits_per_sample = 0;
    int samples_per_pixel = 0;
    uint32_t rows_per_strip = 0;
    uint32_t strips = 0;
    std::string compression;
    bool predictor = false;
    uint64_t compressed_bytes = 0; // sum of the strips' sizes
};

// Throws failure for anything that is not a TIFF this reader serves. facts, when given, is filled.
[[nodiscard]] picture read_tiff(std::span<const uint8_t> file, unsigned threads = 0, tiff_facts *facts = nullptr);
// Depths 1, 4, 8 (palette or greyscale), 24 and 32 (RGB plus an extra sample).
[[nodiscard]] std::vector<uint8_t> write_tiff(const picture &image, const tiff_write_options &options);

// Rows in one strip of about 8 KiB, and never fewer than one.
[[nodiscard]] uint32_t rows_per_strip_for(const picture &image);

} // namespace orveln1::tool
