// SPDX-License-Identifier: MIT
// The GIF LZW compressor: pulls rows through get_row_fn, codes their pixels with variable-width
// LZW, and writes the data sub-blocks, the block terminator and the trailer through write_fn.
#pragma once

#include <cstdint>

#include "boundary/callbacks.hpp"
#include "boundary/result_codes.hpp"
#include "gif/gif_format.hpp"

namespace orveln1
{

// GIF data sub-blocks carry at most 255 bytes; a flush goes out once more than 2023 bits are held
// (253 whole bytes), so a code never starts beyond byte 252 and the buffer never holds more than
// 2035 bits. The block has room for that plus the two bytes a code placement may overwrite.
constexpr int GIF_BLOCK_BUFFER_BYTES = 300;
constexpr int GIF_FLUSH_BITS = 2024; // 253 * 8: flush when bits_held reaches this
// The last code added before the dictionary restarts: codes up to 4095 exist, but restarting at
// 4080 keeps the table well clear of the end.
constexpr int GIF_ENCODER_LAST_LIMIT = 4080;

// The source row to be written k-th (from 0) in an image of total rows: k itself when not
// interlaced, else GIF's four passes (rows 0, 8, 16..., then 4, 12..., then 2, 6..., then 1, 3...).
[[nodiscard]] constexpr int32_t interlaced_row(int32_t k, int32_t interlaced, int32_t total) noexcept
{
    if (interlaced == 0)
        return k;
    const int64_t kk = k;
    const int64_t rows_pass1 = (int64_t{total} + 7) / 8;
    const int64_t rows_pass12 = (int64_t{total} + 3) / 4;
    const int64_t rows_pass123 = (int64_t{total} + 1) / 2;
    if (8 * kk < total)
        return static_cast<int32_t>(8 * kk);
    if (8 * (kk - rows_pass1) + 4 < total)
        return static_cast<int32_t>(8 * (kk - rows_pass1) + 4);
    if (4 * (kk - rows_pass12) + 2 < total)
        return static_cast<int32_t>(4 * (kk - rows_pass12) + 2);
    return static_cast<int32_t>(2 * (kk - rows_pass123) + 1);
}

// Codes the rows first_row .. first_row + height - 1 (in interlace order when interlaced is not 0)
// of the image that image_header describes and writes the image data, block terminator and
// trailer through cb.write. The root size is (code_size_word & 7) + 1; start_offset is where the
// pixels begin in a delivered row (a nibble offset at depth 4, a byte offset otherwise).
// Returns 0; ERR_NO_MEMORY when a block cannot be had; ERR_WRITE on a short write; ERR_BAD_DATA
// for a geometry or root size the rows cannot be coded with; or get_row's negative result.
[[nodiscard]] int32_t gif_lzw_compress(const codec_callbacks &cb, const void *image_header, int32_t io_handle,
                                       int32_t start_offset, int32_t first_row, int32_t height, get_row_fn get_row,
                                       int32_t row_context, int32_t interlaced, int32_t code_size_word) noexcept;

} // namespace orveln1
