// SPDX-License-Identifier: MIT
// A run filled by 16-byte blocks at fixed places, for CPUs with 16-byte vectors (SSE2): the fill
// beside the plain one in lzw_bytes.hpp, taken where lzw_paths says the CPU has them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "boundary/assert.hpp"
#include "boundary/compiler.hpp"
#include "lzw/lzw_bytes.hpp"

namespace orveln1
{

// Run lengths are as random as the picture: a fill that fits its stores to the length branches on
// it, guessing wrong about as often as not, and stores placed by the length hold up the loads
// after them. So runs up to this long go out as four 16-byte blocks from their start, whatever
// their length, the blocks' bytes past the run read and stored back unchanged. Without 16-byte
// vectors the blocks would be split into bytes (about 380 instructions against 48).
constexpr uint32_t LZW_BLEND_FILL_BYTES = 64;

namespace lzw_detail
{

// Exactly n bytes of `byte` from out on, 8 <= n <= LZW_BLEND_FILL_BYTES; the bytes past them up to
// LZW_BLEND_FILL_BYTES from out, all before room_end, are stored back as they were. In a function
// built for SSE2 (every x86-64 one; on 32-bit x86 see ORVELN1_SSE2_TARGET).
ORVELN1_FORCEINLINE inline void fill_run_blended(uint8_t *out, uint8_t byte, uint32_t n,
                                                 const uint8_t *room_end) noexcept
{
    ORVELN1_ASSERT(n >= LZW_CHUNK && n <= LZW_BLEND_FILL_BYTES &&
                   LZW_BLEND_FILL_BYTES <= static_cast<std::size_t>(room_end - out));
    using block = uint8_t __attribute__((vector_size(16)));
    constexpr uint32_t block_bytes = sizeof(block);
    const block places = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};
    const block run_byte = block{} + byte;
    const block length = block{} + static_cast<uint8_t>(n);
    // Unrolled at -O2 as well, where a loop of four would stay a loop.
    ORVELN1_UNROLL(4)
    for (uint32_t at = 0; at < LZW_BLEND_FILL_BYTES; at += block_bytes) {
        block was;
        std::memcpy(&was, out + at, sizeof was);
        const block in_run = places + static_cast<uint8_t>(at) < length;
        const block now = (run_byte & in_run) | (was & ~in_run);
        std::memcpy(out + at, &now, sizeof now);
    }
}

} // namespace lzw_detail

} // namespace orveln1
