// SPDX-License-Identifier: MIT
// The two orders in which LZW codes are packed into bytes, as the decoders' fast readers take them:
// GIF from each byte's least significant bit up, TIFF from its most significant bit down. Each
// order loads a window of the target's width (lzw_window_word) at a code's first byte, with the
// code's first bit at the window's near end, and takes codes off it one after another.
#pragma once

#include <bit>
#include <cstdint>
#include <type_traits>

#include "lzw/lzw_target.hpp"

namespace orveln1
{

// A code width given as a constant (std::integral_constant) or at run time (uint32_t): the widest
// it can be, for choices the compiler makes once.
template <typename Width> constexpr uint32_t lzw_widest(uint32_t run_time_limit) noexcept
{
    if constexpr (std::is_integral_v<Width>)
        return run_time_limit;
    else
        return Width::value;
}

// GIF: the window's lowest bit is the code's first.
struct lzw_lsb_first {
    // The bits from bit_pos on: the 8 bytes from bit_pos's byte are the reader's to load, and at
    // least LZW_WINDOW_BITS - 7 of the window's bits are the stream's.
    [[nodiscard]] static lzw_window_word window(const uint8_t *bytes, uint32_t bit_pos) noexcept
    {
        return lzw_detail::load_window<std::endian::little>(bytes + (bit_pos >> 3)) >> (bit_pos & 7);
    }
    // The code of `width` bits that starts `skip` bits into the window.
    [[nodiscard]] static uint32_t code(lzw_window_word window, uint32_t skip, uint32_t width) noexcept
    {
        return static_cast<uint32_t>(window >> skip) & ((1u << width) - 1);
    }
};

// TIFF: the window's highest bit is the code's first.
struct lzw_msb_first {
    [[nodiscard]] static lzw_window_word window(const uint8_t *bytes, uint32_t bit_pos) noexcept
    {
        return lzw_detail::load_window<std::endian::big>(bytes + (bit_pos >> 3)) << (bit_pos & 7);
    }
    [[nodiscard]] static uint32_t code(lzw_window_word window, uint32_t skip, uint32_t width) noexcept
    {
        return static_cast<uint32_t>(window << skip >> (LZW_WINDOW_BITS - width));
    }
};

} // namespace orveln1
