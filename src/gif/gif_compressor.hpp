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
constexpr int gif_block_buffer_bytes = 300;
constexpr int gif_flush_bits = 2024; // 253 * 8: flush when bits_held reaches this
// The widest GIF code, and the last code added before the dictionary restarts: codes up to 4095
// exist, but restarting at 4080 keeps the table well clear of the end.
constexpr int gif_max_code_width = 12;
constexpr int gif_last_code = 4080;

// The bit writer's state: bits of block_buffer not yet written, and the width of the next code.
struct gif_bit_writer {
    uint16_t bits_held;
    uint16_t code_width;
};

// The byte with its eight bits in reverse order (0x01 -> 0x80).
[[nodiscard]] constexpr uint8_t reverse_byte_bits(uint8_t byte) noexcept
{
    unsigned b = byte;
    b = (b & 0xF0u) >> 4 | (b & 0x0Fu) << 4;
    b = (b & 0xCCu) >> 2 | (b & 0x33u) << 2;
    b = (b & 0xAAu) >> 1 | (b & 0x55u) << 1;
    return static_cast<uint8_t>(b);
}

// Fills table[i] = reverse_byte_bits(i) for every byte value.
void build_bit_reverse_table(uint8_t *table) noexcept;

// The low `width` bits of code in reverse order (widths 4 to 12), through two table lookups.
[[nodiscard]] inline uint16_t reverse_code_bits(uint16_t code, int width, const uint8_t *bit_reverse_table) noexcept
{
    const unsigned reversed16 =
        static_cast<unsigned>(bit_reverse_table[code & 0xFFu]) << 8 | bit_reverse_table[(code >> 8) & 0xFFu];
    return static_cast<uint16_t>(reversed16 >> (16 - width));
}

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

namespace gif_detail
{
// Writes the first bits_held / 8 bytes of block_buffer as one sub-block (count byte, then the
// bytes in stream bit order) and moves the unfinished byte to the front. Out of line: it runs once
// per 253 or 254 bytes of output.
[[nodiscard]] int32_t gif_flush_block(write_fn write, uint8_t *block_buffer, gif_bit_writer &writer, int32_t io_handle,
                                      const uint8_t *bit_reverse_table) noexcept;
} // namespace gif_detail

// Adds one code of writer.code_width bits to block_buffer, flushing a sub-block first when more
// than 2023 bits are held. Codes are bit-reversed and assembled most significant bit first; each
// finished byte is reversed again as it is written, which is GIF's least-significant-first packing.
// Returns 0, or ERR_WRITE when a flush write is short.
[[nodiscard]] inline int32_t gif_put_code(write_fn write, uint8_t *block_buffer, uint16_t code, gif_bit_writer &writer,
                                          int32_t io_handle, const uint8_t *bit_reverse_table) noexcept
{
    if (writer.bits_held >= gif_flush_bits) {
        const int32_t r = gif_detail::gif_flush_block(write, block_buffer, writer, io_handle, bit_reverse_table);
        if (r < 0)
            return r;
    }
    const unsigned p = writer.bits_held / 8u;
    const unsigned o = writer.bits_held % 8u;
    const unsigned w = writer.code_width;
    // The code's bits, first one leftmost, lined up in a 24-bit window that starts at byte p.
    const uint32_t window = static_cast<uint32_t>(reverse_code_bits(code, static_cast<int>(w), bit_reverse_table))
                            << (24u - o - w);
    block_buffer[p] = static_cast<uint8_t>(block_buffer[p] | (window >> 16));
    block_buffer[p + 1] = static_cast<uint8_t>(window >> 8);
    if (o + w > 16)
        block_buffer[p + 2] = static_cast<uint8_t>(window);
    writer.bits_held = static_cast<uint16_t>(writer.bits_held + w);
    return 0;
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
