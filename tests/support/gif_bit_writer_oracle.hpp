// SPDX-License-Identifier: MIT
// The first GIF bit writer, kept in the tests as the oracle that the compressor's code packer is
// checked against.
#pragma once

#include <cstdint>

#include "boundary/callbacks.hpp"
#include "boundary/result_codes.hpp"
#include "gif/gif_compressor.hpp"

namespace orveln1
{

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
    if (writer.bits_held >= GIF_FLUSH_BITS) {
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

} // namespace orveln1
