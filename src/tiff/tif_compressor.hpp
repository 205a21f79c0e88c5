// SPDX-License-Identifier: MIT
// TIFF LZW strip coding: rows pulled through get_row, coded with the encoder string table, packed
// most significant bit first and written through cb.write in pieces of 1000 or 1001 bytes.
#pragma once

#include <cstddef>
#include <cstdint>

#include "boundary/callbacks.hpp"
#include "boundary/result_codes.hpp"

namespace orveln1
{

// Output waits in a 2100-byte code buffer and goes out once 1000 whole bytes are held; the
// flush test comes before each code, so at most 1001 bytes and a partial one are ever held.
constexpr std::size_t TIF_CODE_BUFFER_BYTES = 2100;
constexpr int32_t TIF_FLUSH_BITS = 8000;
constexpr std::size_t TIF_CODE_BUFFER_CLEAN_BYTES = 2000;
// Rows are held in blocks of six padded rows: a row offset and the 3-byte exchange at depth 24
// may reach past the padded length, and stay inside the block.
constexpr int64_t TIF_ROW_BLOCK_ROWS = 6;
// The encoder clears the table once it has handed out code 4079, so that 12 bits always
// suffice and decoders that widen early never see a 13-bit step.
constexpr int32_t TIF_ENCODER_LAST_LIMIT = 4080;

// The packer: the width of the next code and the bits held in the code buffer.
struct tif_bit_writer {
    int32_t code_width;
    int32_t bits_held;
};

// Writes the whole bytes held and keeps the partial byte at the front, the rest zeroed so that the
// next codes can be ORed in. Returns the new bits_held, or ERR_WRITE when write took fewer bytes.
[[nodiscard]] int32_t tif_flush(const codec_callbacks &cb, uint8_t *code_buffer, int32_t bits_held,
                                int32_t io_handle) noexcept;

// Appends one code of writer.code_width bits, flushing first when 1000 bytes are held. Returns 0,
// or ERR_WRITE when that flush failed (nothing is then changed).
[[nodiscard]] inline int32_t tif_put_code(const codec_callbacks &cb, uint8_t *code_buffer, int32_t code,
                                          tif_bit_writer &writer, int32_t io_handle) noexcept
{
    if (writer.bits_held >= TIF_FLUSH_BITS) {
        const int32_t held = tif_flush(cb, code_buffer, writer.bits_held, io_handle);
        if (held < 0)
            return held;
        writer.bits_held = held;
    }
    // The code takes the code_width bits that start r bits below the top of byte i: the top of
    // byte i is ORed in (its high r bits are the previous code's), the bytes after are overwritten.
    const uint32_t r = static_cast<uint32_t>(writer.bits_held) & 7;
    uint8_t *p = code_buffer + (writer.bits_held >> 3);
    const uint32_t v = static_cast<uint32_t>(code) << (32 - writer.code_width - static_cast<int32_t>(r));
    p[0] = static_cast<uint8_t>(p[0] | v >> 24);
    p[1] = static_cast<uint8_t>(v >> 16);
    if (r + static_cast<uint32_t>(writer.code_width) > 16)
        p[2] = static_cast<uint8_t>(v >> 8);
    writer.bits_held += writer.code_width;
    return 0;
}

// Codes rows first_row to first_row + row_count - 1 (at least the first) of the image that
// image_header describes into one strip: bytes row_offset onward of each row, as many as the
// row's pixels fill. Returns 0; ERR_UNSUPPORTED_DEPTH for a depth other than 1, 4, 8, 16, 24 or
// 32; ERR_BAD_DATA for a width below 1, a row too large to hold or a row_offset that puts the
// coded bytes outside the row block; ERR_NO_MEMORY; ERR_WRITE; or get_row's negative value.
// `spare` is part of the interface and has no effect.
[[nodiscard]] int32_t tif_lzw_compress(const codec_callbacks &cb, const void *image_header, int32_t io_handle,
                                       int32_t row_offset, int32_t spare, int32_t row_count, get_row_fn get_row,
                                       int32_t row_context, int32_t first_row) noexcept;

} // namespace orveln1
