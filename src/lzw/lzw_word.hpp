// SPDX-License-Identifier: MIT
// The decode table's 64-bit words as the decoders hold them in registers: a plain 64-bit integer,
// or, on 32-bit x86 with SSE2, the low half of a vector register.
#pragma once

#include <cstdint>
#include <cstring>

#include "boundary/compiler.hpp"

namespace orveln1
{

// The operations the decoders apply to a word, for both forms: built from a 32-bit value, its low
// 32 bits, shifts, and and or, loads and stores of the table's entries, and stores of its bytes to
// memory lowest first (see lzw_decode_table).
inline uint64_t lzw_word_of(uint64_t, uint32_t v) noexcept
{
    return v;
}
inline uint32_t lzw_low32(uint64_t w) noexcept
{
    return static_cast<uint32_t>(w);
}
inline uint64_t lzw_all_ones_if(uint64_t, bool on) noexcept
{
    return uint64_t{0} - uint64_t{on};
}
inline bool lzw_equal(uint64_t a, uint64_t b) noexcept
{
    return a == b;
}
// 8 copies of a byte.
inline uint64_t lzw_repeated(uint64_t, uint32_t byte) noexcept
{
    return byte * uint64_t{0x0101010101010101};
}
inline uint64_t lzw_load_word(uint64_t, const void *p) noexcept
{
    uint64_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}
inline void lzw_store_word(uint64_t *p, uint64_t w) noexcept
{
    *p = w;
}

#if defined(__i386__) && !defined(ORVELN1_NO_SSE2_WORDS)
// A 32-bit x86 target has 7 general registers and splits every 64-bit shift, or and load in two;
// the decoders' strings, previous strings and tails are 64-bit words, so their loops spill. With
// SSE2 (on every CPU since 2003, and required by Windows 8 and later) the words live in vector
// registers instead, one instruction each, and leave the general registers to the positions and
// codes. Only the low 64 bits carry the word; the upper half stays zero. The operations are plain
// vector arithmetic: in a function built for SSE2 they become SSE2 instructions, so only the
// decoders' entry points built for it (see lzw_sse2_target) may use this form.
struct lzw_xmm_word {
    using lanes = uint64_t __attribute__((vector_size(16)));
    using quarters = uint32_t __attribute__((vector_size(16)));
    lanes v;

    ORVELN1_FORCEINLINE friend lzw_xmm_word operator|(lzw_xmm_word a, lzw_xmm_word b) noexcept { return {a.v | b.v}; }
    ORVELN1_FORCEINLINE friend lzw_xmm_word operator&(lzw_xmm_word a, lzw_xmm_word b) noexcept { return {a.v & b.v}; }
    ORVELN1_FORCEINLINE friend lzw_xmm_word operator<<(lzw_xmm_word a, uint32_t n) noexcept { return {a.v << n}; }
    ORVELN1_FORCEINLINE friend lzw_xmm_word operator>>(lzw_xmm_word a, uint32_t n) noexcept { return {a.v >> n}; }
};

// Between a general register and a vector register in one movd each way. Tuned for no particular
// CPU, the compiler moves such values through memory instead (a choice made for CPUs long gone),
// and every code then waits on a store and a load.
ORVELN1_FORCEINLINE inline lzw_xmm_word lzw_word_of(lzw_xmm_word, uint32_t v) noexcept
{
    lzw_xmm_word w;
    __asm__("movd %1, %0" : "=x"(w.v) : "r"(v));
    return w;
}
ORVELN1_FORCEINLINE inline uint32_t lzw_low32(lzw_xmm_word w) noexcept
{
    uint32_t v;
    __asm__("movd %1, %0" : "=r"(v) : "x"(w.v));
    return v;
}
ORVELN1_FORCEINLINE inline lzw_xmm_word lzw_all_ones_if(lzw_xmm_word, bool on) noexcept
{
    const uint32_t m = 0u - uint32_t{on};
    return {reinterpret_cast<lzw_xmm_word::lanes>(lzw_xmm_word::quarters{m, m, 0, 0})};
}
ORVELN1_FORCEINLINE inline bool lzw_equal(lzw_xmm_word a, lzw_xmm_word b) noexcept
{
    const auto d = reinterpret_cast<lzw_xmm_word::quarters>(a.v ^ b.v);
    return (d[0] | d[1]) == 0;
}
ORVELN1_FORCEINLINE inline lzw_xmm_word lzw_repeated(lzw_xmm_word, uint32_t byte) noexcept
{
    const uint32_t m = byte * 0x01010101u;
    return {reinterpret_cast<lzw_xmm_word::lanes>(lzw_xmm_word::quarters{m, m, 0, 0})};
}
ORVELN1_FORCEINLINE inline lzw_xmm_word lzw_load_word(lzw_xmm_word, const void *p) noexcept
{
    // One movq from memory into the register. Written in plain C++, the compiler builds the vector
    // in memory first (two general-register loads, or a cleared slot), and the vector load that
    // follows cannot take the bytes from those smaller stores: it waits for them to reach the
    // cache, on every code.
    lzw_xmm_word w;
    __asm__("movq %1, %0" : "=x"(w.v) : "m"(*static_cast<const uint64_t *>(p)));
    return w;
}
ORVELN1_FORCEINLINE inline void lzw_store_word(uint64_t *p, lzw_xmm_word w) noexcept
{
    *p = w.v[0];
}
#define ORVELN1_HAVE_SSE2_WORDS 1
#endif

// Constructors by form: W is uint64_t or lzw_xmm_word.
template <typename W> ORVELN1_FORCEINLINE inline W lzw_word(uint32_t v) noexcept
{
    return lzw_word_of(W{}, v);
}
template <typename W> ORVELN1_FORCEINLINE inline W lzw_mask_if(bool on) noexcept
{
    return lzw_all_ones_if(W{}, on);
}
template <typename W> ORVELN1_FORCEINLINE inline W lzw_repeat_byte(uint32_t byte) noexcept
{
    return lzw_repeated(W{}, byte);
}
// The word of the 8 bytes at p, in the machine's byte order (a table entry, or bytes as stored).
template <typename W> ORVELN1_FORCEINLINE inline W lzw_load(const void *p) noexcept
{
    return lzw_load_word(W{}, p);
}

} // namespace orveln1
