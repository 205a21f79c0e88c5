// SPDX-License-Identifier: MIT
// TIFF files through libtiff's tag and raw-strip functions, with the strips coded and decoded by
// orveln1 on all cores: LZW (and uncompressed) bilevel, palette, greyscale and RGB(A) images.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "orveln1.hpp"
#include "row_source.hpp"

namespace orveln1::tool
{

// What the fourth byte of a 32-bit picture holds, as TIFF's ExtraSamples names it.
enum class sample_meaning { unspecified, associated_alpha, unassociated_alpha };

struct tiff_read_options {
    unsigned threads = 0; // 0: one per core
    int page = 0;
    std::function<void(double)> progress;
};

struct tiff_write_options {
    bool predictor = false; // horizontal differencing (predictor 2)
    unsigned threads = 0;   // 0: one per core
    sample_meaning fourth = sample_meaning::unspecified;
    std::function<void(double)> progress;
};

// Reads one page. Throws failure for anything that is not a TIFF this reader serves. pages and
// fourth, when given, receive the number of pages and the meaning of a fourth sample.
[[nodiscard]] picture read_tiff(std::span<const uint8_t> file, const tiff_read_options &options = {},
                                int *pages = nullptr, sample_meaning *fourth = nullptr);
// The same through a descriptor of a regular file (which the source takes over and closes), read a
// band of strips at a time so that neither the file nor the picture is ever held whole.
[[nodiscard]] std::unique_ptr<row_source> open_tiff(int fd, const tiff_read_options &options = {}, int *pages = nullptr,
                                                    sample_meaning *fourth = nullptr);
// Depths 1, 4, 8 (palette or greyscale), 24 and 32 (RGB plus an extra sample), whole in memory.
[[nodiscard]] std::vector<uint8_t> write_tiff(const picture &image, const tiff_write_options &options);
// The same into a seekable descriptor, a few strips at a time, taking the rows from source as they
// are needed, so that neither the picture nor the coded file is ever held whole.
void write_tiff_file(int fd, row_source &source, const tiff_write_options &options);

// Whether the horizontal predictor pays for this picture: 8-bit greyscale and RGB(A) samples,
// where neighbours differ little; palette indices have no such order.
[[nodiscard]] bool predictor_suits(const picture &image);
// Whether a palette picture's colours are the grey ramp that a greyscale TIFF stands for.
[[nodiscard]] bool is_grey_palette(const picture &image);

// Rows in one strip of about 1 MiB, and never fewer than one.
[[nodiscard]] uint32_t rows_per_strip_for(const picture &image);

// Prints a description of every page of a TIFF file to out, reading only the tags and, to count
// complete rows, libtiff's own decoding of each strip or tile. Returns false when the file is not
// a readable TIFF at all (after printing why).
bool describe_tiff(std::span<const uint8_t> file, std::FILE *out);

} // namespace orveln1::tool
