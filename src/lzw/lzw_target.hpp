// SPDX-License-Identifier: MIT
// What the codecs take from the target machine and the compiler: the width of a bit window that
// one register holds, and the attributes that keep the hot loops' shape.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>
#include <type_traits>

namespace orveln1
{

// A code reader takes its codes from a word loaded at the code's first byte. On a 64-bit target
// that word is 64 bits and holds several codes; a 32-bit target splits every 64-bit load, shift
// and byte swap in two (a double shift through memory, for want of registers), so there the window
// is 32 bits: still enough for one code (at most 7 bits in, at most 12 long) or two.
using lzw_window_word = std::conditional_t<sizeof(void *) >= 8, uint64_t, uint32_t>;
constexpr uint32_t LZW_WINDOW_BITS = 8 * sizeof(lzw_window_word);
static_assert(LZW_WINDOW_BITS >= 7 + 2 * 12);

// Whether two long strings are written by one walk of both their chunks (expand_pair). That walk
// holds two links, two ends and two output places at once, more than the registers a 32-bit
// target has free: the 32-bit DLL decoded a gradient at 0.87x with it.
constexpr bool LZW_PAIRED_WALKS = sizeof(void *) >= 8;

namespace lzw_detail
{

template <typename W> W byte_swapped(W v) noexcept
{
    if constexpr (sizeof(W) == 8)
        return __builtin_bswap64(v);
    else
        return __builtin_bswap32(v);
}

// The window at p, its first byte lowest (First little: GIF takes codes from the least significant
// bit up) or highest (First big: TIFF takes them from the most significant bit down).
template <std::endian First> inline lzw_window_word load_window(const uint8_t *p) noexcept
{
    lzw_window_word v;
    std::memcpy(&v, p, sizeof v);
    if constexpr (std::endian::native != First)
        v = byte_swapped(v);
    return v;
}

} // namespace lzw_detail

} // namespace orveln1
