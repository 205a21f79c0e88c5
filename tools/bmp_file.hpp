// SPDX-License-Identifier: MIT
// Windows bitmap files: reading 1-, 4-, 8-, 24- and 32-bit uncompressed bitmaps (either row order)
// into a picture, and writing a picture back as a bottom-up bitmap.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <vector>

#include "orveln1.hpp"
#include "row_source.hpp"

namespace orveln1::tool
{

// Largest image the tool takes from any file, so that a hostile header cannot ask for more memory
// than a real picture needs (about 1 GiB of 32-bit pixels).
constexpr int64_t max_image_pixels = int64_t{1} << 28;
constexpr int32_t max_image_side = 1 << 20;

// Throws failure for anything that is not a bitmap this reader serves.
[[nodiscard]] picture read_bmp(std::span<const uint8_t> file);
// The same through a descriptor of a regular file (which the source takes over and closes), read
// a band of rows at a time so that neither the file nor the picture is held whole. progress hears
// of a whole read.
[[nodiscard]] std::unique_ptr<row_source> open_bmp(int fd, std::function<void(double)> progress = {});
// Depths 1, 4, 8, 24 and 32; throws failure for others.
[[nodiscard]] std::vector<uint8_t> write_bmp(const picture &image);

} // namespace orveln1::tool
