// SPDX-License-Identifier: MIT
// GIF files: the first image of a stream read through the container reader and orveln1's decoder,
// and pictures written as single-image GIF streams by orveln1's encoder.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "orveln1.hpp"

namespace orveln1::tool
{

// What a GIF file holds, for `orveln info` and the demo's table.
struct gif_facts {
    int32_t screen_width = 0;
    int32_t screen_height = 0;
    int min_code_size = 0;
    bool interlaced = false;
    bool local_colour_table = false;
    int colour_table_entries = 0;
    int transparent_index = -1;
    uint64_t compressed_bytes = 0; // the image's LZW data, without sub-block length bytes
    int32_t rows_complete = 0;
};

// Throws failure for a stream the reader cannot take, or image data that does not decode.
[[nodiscard]] picture read_gif(std::span<const uint8_t> file, gif_facts *facts = nullptr);

// Depth 1, 4 or 8 pictures go out as they are; 24- and 32-bit ones are reduced to a palette when
// they hold 256 colours or fewer (failure otherwise).
[[nodiscard]] std::vector<uint8_t> write_gif(const picture &image, bool interlaced);

// A palette picture with the same colours as a 24- or 32-bit one; failure beyond 256 colours.
[[nodiscard]] picture to_palette(const picture &image);

} // namespace orveln1::tool
