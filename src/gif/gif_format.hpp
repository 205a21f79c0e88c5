// SPDX-License-Identifier: MIT
// Bytes of the GIF stream's records that both the stream writer and the host-side reader name.
#pragma once

#include <cstdint>

namespace orveln1
{

// Introducers of the records that may follow the logical screen descriptor.
constexpr uint8_t gif_extension_introducer = 0x21;
constexpr uint8_t gif_image_separator = 0x2C;
// The trailer byte that closes a GIF stream.
constexpr uint8_t gif_trailer = 0x3B;
// Label of the graphic control extension, the record that carries transparency.
constexpr uint8_t gif_graphic_control_label = 0xF9;
// The graphic control block is 4 bytes: packed byte, delay (2), transparent index.
constexpr uint8_t gif_graphic_control_block_size = 4;
// Bit of the graphic control packed byte saying that the transparent index is meant.
constexpr uint8_t gif_transparent_colour_flag = 0x01;
// Packed bytes of the screen and image descriptors: a colour table follows, whose size field (the
// low three bits, s) gives 2^(s + 1) entries.
constexpr uint8_t gif_colour_table_flag = 0x80;
constexpr uint8_t gif_colour_table_size_mask = 0x07;
// Bit of the image descriptor's packed byte for rows stored in four-pass order.
constexpr uint8_t gif_interlace_flag = 0x40;

} // namespace orveln1
