// SPDX-License-Identifier: MIT
// How the decoders put decoded bytes in memory: whole 8-byte words lowest byte first, and runs
// and copies of strings inline with plain stores (the fill that every target has; see
// lzw_fill_sse2.hpp for the one by 16-byte blocks).
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "boundary/assert.hpp"
#include "boundary/compiler.hpp"
#include "lzw/lzw_word.hpp"

namespace orveln1
{

// Strings are written in chunks of this many bytes, one 8-byte store each.
constexpr uint32_t LZW_CHUNK = 8;

namespace lzw_detail
{

// Words go to memory lowest byte first, whatever the machine's byte order.
inline void store8(uint8_t *p, uint64_t v) noexcept
{
    if constexpr (std::endian::native == std::endian::big)
        v = __builtin_bswap64(v);
    std::memcpy(p, &v, sizeof v);
}

#if defined(ORVELN1_HAVE_SSE2_WORDS)
ORVELN1_FORCEINLINE inline void store8(uint8_t *p, lzw_xmm_word w) noexcept
{
    const uint64_t v = w.v[0];
    std::memcpy(p, &v, sizeof v);
}
#endif

// Four bytes, the lowest of v first: the bytes of four roots at once.
inline void store4(uint8_t *p, uint32_t v) noexcept
{
    if constexpr (std::endian::native == std::endian::big)
        v = __builtin_bswap32(v);
    std::memcpy(p, &v, sizeof v);
}

// Strings up to this long are copied, and runs up to LZW_INLINE_FILL_BYTES filled, inline with
// whole 8-byte stores rather than by a library call: most copies and runs are this short, and a
// call costs more than the stores. The stores overlap so that none goes before the first byte or
// past the last. Runs go further: a run's stores need no loads, and chains of runs (flat areas in
// young tables, as in 8 KiB strips) often come to 33 to 64 bytes.
constexpr uint32_t LZW_INLINE_BYTES = 4 * LZW_CHUNK;
constexpr uint32_t LZW_INLINE_FILL_BYTES = 8 * LZW_CHUNK;

inline uint64_t load8(const uint8_t *p) noexcept
{
    uint64_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

// Exactly n bytes of `byte` from out on, 8 <= n, all before room_end.
inline void fill_run(uint8_t *out, uint8_t byte, uint32_t n, const uint8_t *room_end) noexcept
{
    ORVELN1_ASSERT(n >= LZW_CHUNK && n <= static_cast<std::size_t>(room_end - out));
    if (n > LZW_INLINE_FILL_BYTES) {
        std::memset(out, byte, n);
        return;
    }
    // The same in either byte order.
    const uint64_t v = byte * uint64_t{0x0101010101010101};
    std::memcpy(out, &v, sizeof v);
    std::memcpy(out + n - 8, &v, sizeof v);
    if (n > 2 * LZW_CHUNK) {
        std::memcpy(out + 8, &v, sizeof v);
        std::memcpy(out + n - 16, &v, sizeof v);
    }
    if (n > 4 * LZW_CHUNK) {
        std::memcpy(out + 16, &v, sizeof v);
        std::memcpy(out + 24, &v, sizeof v);
        std::memcpy(out + n - 24, &v, sizeof v);
        std::memcpy(out + n - 32, &v, sizeof v);
    }
}

// Exactly n bytes copied from `from` to out, 16 <= n, the two not overlapping, all before room_end.
inline void copy_string(uint8_t *out, const uint8_t *from, uint32_t n, const uint8_t *room_end) noexcept
{
    ORVELN1_ASSERT(n >= 2 * LZW_CHUNK && from + n <= out && n <= static_cast<std::size_t>(room_end - out));
    if (n > LZW_INLINE_BYTES) {
        std::memcpy(out, from, n);
        return;
    }
    // All loads first: the compiler cannot know the stores miss the source, and would otherwise
    // reload after each one.
    const uint64_t a = load8(from);
    const uint64_t b = load8(from + 8);
    const uint64_t c = load8(from + n - 16);
    const uint64_t d = load8(from + n - 8);
    std::memcpy(out, &a, sizeof a);
    std::memcpy(out + 8, &b, sizeof b);
    std::memcpy(out + n - 16, &c, sizeof c);
    std::memcpy(out + n - 8, &d, sizeof d);
}

} // namespace lzw_detail

} // namespace orveln1
