// SPDX-License-Identifier: MIT
// PNG files through libpng: every colour type read into a picture (16-bit samples reduced to 8),
// and pictures written as palette, greyscale, RGB or RGBA PNG.
#pragma once

#include <cstdint>
#include <cstdio>
#include <span>
#include <vector>

#include "orveln1.hpp"
#include "tiff_file.hpp"

namespace orveln1::tool
{

// Throws failure for a file libpng cannot read. fourth, when given, tells whether a 32-bit result
// carries alpha (PNG alpha is unassociated).
[[nodiscard]] picture read_png(std::span<const uint8_t> file, sample_meaning *fourth = nullptr);
// The same from an open file, read as libpng goes, so that the file is never held whole.
[[nodiscard]] picture read_png(std::FILE *stream, sample_meaning *fourth = nullptr);
// A palette picture keeps its palette (a grey ramp becomes a greyscale PNG) and its transparent
// index; a 32-bit picture is RGBA when its fourth byte is alpha, RGB otherwise.
[[nodiscard]] std::vector<uint8_t> write_png(const picture &image, sample_meaning fourth);

} // namespace orveln1::tool
