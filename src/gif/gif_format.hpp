// SPDX-License-Identifier: MIT
// Bytes and limits of the GIF stream's records and image data that the stream writer, the LZW coder
// and decoder and the host-side reader name.
#pragma once

#include <cstdint>

namespace orveln1
{

// Introducers of the records that may follow the logical screen descriptor.
constexpr uint8_t GIF_EXTENSION_INTRODUCER = 0x21;
constexpr uint8_t GIF_IMAGE_SEPARATOR = 0x2C;
// The trailer byte that closes a GIF stream.
constexpr uint8_t GIF_TRAILER = 0x3B;
// Label of the graphic control extension, the record that carries transparency.
constexpr uint8_t GIF_GRAPHIC_CONTROL_LABEL = 0xF9;
// The graphic control block is 4 bytes: packed byte, delay (2), transparent index.
constexpr uint8_t GIF_GRAPHIC_CONTROL_BLOCK_SIZE = 4;
// Bit of the graphic control packed byte saying that the transparent index is meant.
constexpr uint8_t GIF_TRANSPARENT_COLOUR_FLAG = 0x01;
// Packed bytes of the screen and image descriptors: a colour table follows, whose size field (the
// low three bits, s) gives 2^(s + 1) entries.
constexpr uint8_t GIF_COLOUR_TABLE_FLAG = 0x80;
constexpr uint8_t GIF_COLOUR_TABLE_SIZE_MASK = 0x07;
constexpr int GIF_MAX_COLOUR_TABLE_ENTRIES = 256;
// Bit of the image descriptor's packed byte for rows stored in four-pass order.
constexpr uint8_t GIF_INTERLACE_FLAG = 0x40;
// Widths and heights are 16-bit fields: larger images cannot be described.
constexpr int32_t GIF_MAX_SIDE = 65535;

// Codes are at most 12 bits wide, so a table generation has at most 4096 entries.
constexpr int GIF_MAX_CODE_WIDTH = 12;
// Image data travels in sub-blocks of at most 255 bytes: the length is one byte.
constexpr int GIF_MAX_SUB_BLOCK = 255;
// One decoder refill reads at most this many sub-blocks (7650 bytes) into the host's read buffer,
// which is documented as 7653 bytes: the refill and the bits carried from the one before fit.
constexpr int GIF_SUB_BLOCKS_PER_REFILL = 30;
constexpr int GIF_READ_BUFFER_BYTES = 7653;

} // namespace orveln1
