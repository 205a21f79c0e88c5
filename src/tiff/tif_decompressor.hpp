// SPDX-License-Identifier: MIT
// TIFF LZW strip decoding: 9- to 12-bit codes, most significant bit first, read from the host in
// 30000-byte chunks, expanded into the host's row buffer and handed over one row at a time.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "boundary/callbacks.hpp"
#include "boundary/result_codes.hpp"
#include "lzw/lzw_decode_table.hpp"
#include "tiff/tif_format.hpp"

namespace orveln1
{

// The decoder's block: the shared decode table (lzw_decode_table.hpp), rounded up to 8 bytes, and
// TIF_SPARE_BYTES unused (TIF_DECODE_TABLE_BYTES below).
// The read buffer takes a chunk plus the bytes past it that the code window can touch: a code
// starts at most 7 bits into a byte and is at most 12 bits long, so the 4-byte window of the last
// code that fits in a chunk reaches 2 bytes past it.
constexpr int32_t TIF_READ_TAIL_BYTES = 2;
constexpr int32_t TIF_READ_BUFFER_BYTES = TIF_READ_CHUNK_BYTES + TIF_READ_TAIL_BYTES;
// The longest string a code names is that of code 4095: one byte per table code since the reset
// plus its root, 4095 - 258 + 2 = 3839 bytes. The row buffer holds row_bytes plus this less one: a string
// starts at most one byte before the row's end.
constexpr uint32_t TIF_LONGEST_STRING = (TIF_CODE_LIMIT - 1) - TIF_FIRST_TABLE_CODE + 2;
constexpr uint32_t TIF_ROW_SLACK_BYTES = TIF_LONGEST_STRING - 1;

// The block once held 256 bytes after the table for the row buffer; they stay, so that the
// decoder's working memory is the fixed size it has always been.
constexpr std::size_t TIF_SPARE_BYTES = 256;
constexpr std::size_t TIF_DECODE_TABLE_BYTES = (LZW_DECODE_TABLE_BYTES + 7) / 8 * 8 + TIF_SPARE_BYTES;
static_assert(TIF_DECODE_TABLE_BYTES == 49424);
static_assert(TIF_LONGEST_STRING < LZW_CONTROL_LENGTH);

// Position of the code reader in the read buffer, in bits from its first byte: `bit_pos` is the
// next code's first bit, `bit_end` the end of the bytes the host has delivered.
struct tif_bit_reader {
    uint32_t bit_pos;
    uint32_t bit_end;
};

// Brings more bytes into the read buffer once fewer than code_width bits are left. The one or two
// bytes that hold the unconsumed bits move to the front and the host is asked for the rest of a
// chunk behind them (30000, 29999 or 29998 bytes). Repeats until a code fits or the host delivers
// nothing (a result of 0 or below); the caller sees the latter as too few bits left.
[[nodiscard]] tif_bit_reader tif_refill(const codec_callbacks &cb, int32_t io_handle, uint8_t *read_buffer,
                                        tif_bit_reader reader, int code_width) noexcept;

// The next code of code_width bits, or ERR_READ when the host has no more bytes.
[[nodiscard]] inline int32_t tif_read_code(const codec_callbacks &cb, int32_t io_handle, uint8_t *read_buffer,
                                           tif_bit_reader &reader, int code_width) noexcept
{
    if (reader.bit_end - reader.bit_pos < static_cast<uint32_t>(code_width)) {
        reader = tif_refill(cb, io_handle, read_buffer, reader, code_width);
        if (reader.bit_end - reader.bit_pos < static_cast<uint32_t>(code_width))
            return ERR_READ;
    }
    // A code starts at most 7 bits into a byte and is at most 12 bits long, so four bytes hold it.
    // The window may reach two bytes past the delivered data; those bits are shifted out.
    uint32_t window;
    std::memcpy(&window, read_buffer + (reader.bit_pos >> 3), sizeof window);
    if constexpr (std::endian::native == std::endian::little)
        window = __builtin_bswap32(window);
    window <<= reader.bit_pos & 7;
    reader.bit_pos += static_cast<uint32_t>(code_width);
    return static_cast<int32_t>(window >> (32 - code_width));
}

// Where decoding stopped, for a caller that takes the strip's bytes as one sequence rather than as
// rows: the bytes of the unfinished row, which wait at the row buffer's front, and whether the data
// ran out before an end code (the result is then ERR_BAD_DATA, as for any other damage).
struct tif_strip_end {
    uint32_t unfinished_bytes = 0;
    bool data_ran_out = false;
};

// Decodes one strip, read through cb.read, into rows of row_bytes handed to cb.put_row with the
// indices first_row, first_row + 1, ... Returns 1 when row_count rows are delivered or the end
// code came (the missing rows are then delivered from the buffer as it stands); ERR_BAD_DATA for
// a row_bytes of 0, a strip that does not open with a clear code, a code beyond the next free one
// or data that runs out; ERR_NO_MEMORY; or the negative value put_row returned. When `end` is
// given it is filled in on every way out after the first code was asked for.
[[nodiscard]] int32_t tif_lzw_decompress(const codec_callbacks &cb, int32_t io_handle, uint8_t *read_buffer,
                                         int32_t first_row, uint32_t row_bytes, uint8_t *row_buffer, uint32_t row_count,
                                         int32_t row_context, tif_strip_end *end = nullptr) noexcept;

} // namespace orveln1
