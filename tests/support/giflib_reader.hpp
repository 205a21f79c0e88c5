// SPDX-License-Identifier: MIT
// giflib as the tests' reading peer: a whole GIF in memory read back to its geometry, palette,
// transparency and pixels.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace orveln1::test
{

struct giflib_result {
    bool ok = false;
    std::string error;
    int32_t width = 0, height = 0;
    bool interlaced = false;
    int transparent_index = -1; // -1: no transparency
    int colour_count = 0;
    std::vector<uint8_t> colours; // red, green, blue per entry
    std::vector<uint8_t> pixels;  // top row first, de-interlaced
};
[[nodiscard]] giflib_result decode_with_giflib(const std::vector<uint8_t> &gif);

} // namespace orveln1::test
