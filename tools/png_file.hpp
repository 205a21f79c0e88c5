// SPDX-License-Identifier: MIT
// PNG files through libpng: every colour type read into a picture (16-bit samples reduced to 8),
// and pictures written as palette, greyscale, RGB or RGBA PNG.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <span>
#include <vector>

#include "orveln1.hpp"
#include "row_source.hpp"
#include "tiff_file.hpp"

namespace orveln1::tool
{

// Throws failure for a file libpng cannot read. fourth, when given, tells whether a 32-bit result
// carries alpha (PNG alpha is unassociated).
[[nodiscard]] picture read_png(std::span<const uint8_t> file, sample_meaning *fourth = nullptr,
                               std::function<void(double)> progress = {});
// The same from an open file (which the source takes over and closes), read as the rows are wanted,
// so that neither the file nor, unless it is interlaced, the picture is ever held whole. progress
// hears of a whole read.
[[nodiscard]] std::unique_ptr<row_source> open_png(std::FILE *stream, sample_meaning *fourth = nullptr,
                                                   std::function<void(double)> progress = {});
// A palette picture keeps its palette (a grey ramp becomes a greyscale PNG) and its transparent
// index; a 32-bit picture is RGBA when its fourth byte is alpha, RGB otherwise.
// progress hears of the rows written.
[[nodiscard]] std::vector<uint8_t> write_png(const picture &image, sample_meaning fourth,
                                             const std::function<void(double)> &progress = {});

} // namespace orveln1::tool
