// SPDX-License-Identifier: MIT
// TIFF LZW strip coding: rows pulled through get_row, coded with the encoder string table, packed
// most significant bit first and written through cb.write in pieces of 1000 or 1001 bytes.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "boundary/callbacks.hpp"
#include "boundary/result_codes.hpp"

namespace orveln1
{

// Output waits in a 2100-byte code buffer and goes out once 1000 whole bytes are held; the
// flush test comes before each code, so at most 1001 bytes and a partial one are ever held.
constexpr std::size_t TIF_CODE_BUFFER_BYTES = 2100;
constexpr int32_t TIF_FLUSH_BITS = 8000;
// Rows are held in blocks of six padded rows: a row offset and the 3-byte exchange at depth 24
// may reach past the padded length, and stay inside the block.
constexpr int64_t TIF_ROW_BLOCK_ROWS = 6;
// The encoder clears the table once it has handed out code 4079, so that 12 bits always
// suffice and decoders that widen early never see a 13-bit step.
constexpr int32_t TIF_ENCODER_LAST_LIMIT = 4080;

// The packer: codes appended most significant bit first. The byte in progress is kept in
// `pending` (its bits_held % 8 bits at the top) and stored again with each code, so the code
// buffer always holds the bytes as they would be written now and never needs clearing.
struct tif_bit_writer {
    uint32_t pending;
    uint32_t bits_held;
    uint32_t code_width;

    void put(uint8_t *code_buffer, uint32_t code) noexcept
    {
        const uint32_t at = bits_held >> 3;
        const uint32_t filled = bits_held & 7;
        // At most 7 + 12 bits: one 4-byte store carries them all, and it starts no later than
        // byte 1001, far inside the buffer.
        const uint32_t v = pending | code << (32 - code_width - filled);
        // The stream is most significant byte first: the word as a big-endian host holds it.
        const uint32_t stored = std::endian::native == std::endian::little ? __builtin_bswap32(v) : v;
        std::memcpy(code_buffer + at, &stored, 4);
        bits_held += code_width;
        pending = v << ((filled + code_width) & ~7u);
    }
};
static_assert(TIF_FLUSH_BITS / 8 + 1 + 4 <= static_cast<int32_t>(TIF_CODE_BUFFER_BYTES));

// Codes rows first_row to first_row + row_count - 1 (at least the first) of the image that
// image_header describes into one strip: bytes row_offset onward of each row, as many as the
// row's pixels fill. Returns 0; ERR_UNSUPPORTED_DEPTH for a depth other than 1, 4, 8, 16, 24 or
// 32; ERR_BAD_DATA for a width below 1, a row too large to hold or a row_offset that puts the
// coded bytes outside the row block; ERR_NO_MEMORY; ERR_WRITE; or get_row's negative value.
// `spare` is part of the interface and has no effect.
[[nodiscard]] int32_t tif_lzw_compress(const codec_callbacks &cb, const void *image_header, int32_t io_handle,
                                       int32_t row_offset, int32_t spare, int32_t row_count, get_row_fn get_row,
                                       int32_t row_context, int32_t first_row) noexcept;

// Codes `size` bytes from `bytes` on as one strip, read in place: the sequence a strip of rows
// holds, without rows. No bytes give a strip of a clear code and the end code. Returns 0;
// ERR_NO_MEMORY; or ERR_WRITE.
[[nodiscard]] int32_t tif_lzw_compress_bytes(write_fn write, int32_t io_handle, const uint8_t *bytes,
                                             std::size_t size) noexcept;

} // namespace orveln1
