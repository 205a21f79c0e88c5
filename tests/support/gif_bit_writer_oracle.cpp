// SPDX-License-Identifier: MIT
// The oracle bit writer's out-of-line parts: the reversal table and the sub-block flush.
#include "support/gif_bit_writer_oracle.hpp"

#include <cstring>

namespace orveln1
{

void build_bit_reverse_table(uint8_t *table) noexcept
{
    for (int i = 0; i < 256; ++i)
        table[i] = reverse_byte_bits(static_cast<uint8_t>(i));
}

namespace gif_detail
{

int32_t gif_flush_block(write_fn write, uint8_t *block_buffer, gif_bit_writer &writer, int32_t io_handle,
                        const uint8_t *bit_reverse_table) noexcept
{
    const unsigned m = writer.bits_held / 8u; // 253 or 254
    const unsigned rest = writer.bits_held % 8u;
    for (unsigned i = 0; i < m; ++i)
        block_buffer[i] = bit_reverse_table[block_buffer[i]];
    const uint8_t count = static_cast<uint8_t>(m);
    if (write(io_handle, &count, 1) != 1)
        return ERR_WRITE;
    if (write(io_handle, block_buffer, static_cast<int32_t>(m)) != static_cast<int32_t>(m))
        return ERR_WRITE;
    // A code that ends on a byte boundary leaves the byte after it as it was, and the next code is
    // OR-ed into that byte: the written bytes must go back to zero. The unwritten bits of byte m
    // are its upper `rest` bits, still in assembly order.
    const uint8_t carried = static_cast<uint8_t>(block_buffer[m] & (0xFF00u >> rest));
    std::memset(block_buffer, 0, m);
    block_buffer[0] = carried;
    writer.bits_held = static_cast<uint16_t>(rest);
    return 0;
}

} // namespace gif_detail

} // namespace orveln1
