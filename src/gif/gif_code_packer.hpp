// SPDX-License-Identifier: MIT
// The GIF compressor's bit writer in the form its hot loop uses: codes appended least significant
// bit first above the unfinished byte's bits, whole bytes stored straight into the sub-block buffer.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

#include "boundary/callbacks.hpp"
#include "gif/gif_compressor.hpp"

namespace orveln1
{

// GIF packs each code into the stream least significant bit first, every byte filled from bit 0
// up. gif_put_code reaches those bytes by reversing each code, assembling most significant bit
// first and reversing each finished byte; appending the plain code above the bits already held
// gives the same bytes with no table and no reversal. The sub-block bookkeeping is gif_put_code's:
// bits_held counts the bits of the sub-block being assembled, and a flush of bits_held / 8 bytes
// goes out when it reaches 2024 before a code is placed, so the sub-blocks and the write_fn calls
// are the same as well. The coding loop copies the three fields into locals for a row, so that
// they live in registers, and writes them back once.
struct gif_code_packer {
    uint32_t pending = 0;    // the unfinished byte's bits_held % 8 bits, the oldest in bit 0
    uint32_t bits_held = 0;  // bits of the sub-block, stored or pending
    uint32_t code_width = 0; // width of the next code

    // Appends one code of code_width bits. Whole bytes land in block_buffer at their final place;
    // the byte in progress is written too (its unset upper bits zero), so the buffer always holds
    // the sub-block as it would be written now.
    void put(uint8_t *block_buffer, uint32_t code) noexcept
    {
        const uint32_t at = bits_held >> 3;
        const uint32_t filled = bits_held & 7;
        // At most 7 + 12 bits: one 4-byte store carries them all. A code starts no later than byte
        // 252, so the store ends inside the 300-byte buffer.
        const uint32_t v = pending | code << filled;
        if constexpr (std::endian::native == std::endian::little) {
            std::memcpy(block_buffer + at, &v, 4);
        } else {
            block_buffer[at] = static_cast<uint8_t>(v);
            block_buffer[at + 1] = static_cast<uint8_t>(v >> 8);
            block_buffer[at + 2] = static_cast<uint8_t>(v >> 16);
            block_buffer[at + 3] = static_cast<uint8_t>(v >> 24);
        }
        bits_held += code_width;
        pending = v >> ((filled + code_width) & ~7u);
    }

    // Bytes of the final sub-block: every byte a bit of which is held.
    [[nodiscard]] uint32_t final_bytes() const noexcept { return (bits_held + 7) / 8; }
};
static_assert(GIF_FLUSH_BITS / 8 + 4 <= GIF_BLOCK_BUFFER_BYTES);

// Writes the bits_held / 8 whole bytes as one sub-block (count byte, then the bytes). Returns 0 or
// ERR_WRITE. Out of line: it runs once per 253 or 254 bytes. It takes the count by value, so that
// the packer's state never has its address taken and stays in registers in the coding loop.
[[nodiscard]] int32_t gif_packer_flush(write_fn write, const uint8_t *block_buffer, uint32_t bits_held,
                                       int32_t io_handle) noexcept;

// gif_put_code for the packer: flush first when more than 2023 bits are held, then append.
[[nodiscard]] inline int32_t gif_pack_code(write_fn write, uint8_t *block_buffer, uint32_t code,
                                           gif_code_packer &packer, int32_t io_handle) noexcept
{
    if (packer.bits_held >= static_cast<uint32_t>(GIF_FLUSH_BITS)) [[unlikely]] {
        const int32_t r = gif_packer_flush(write, block_buffer, packer.bits_held, io_handle);
        if (r < 0)
            return r;
        // The byte in progress, held in pending, is stored again by the next code at the front.
        packer.bits_held &= 7;
    }
    packer.put(block_buffer, code);
    return 0;
}

} // namespace orveln1
