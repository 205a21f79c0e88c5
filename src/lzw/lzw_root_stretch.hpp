// SPDX-License-Identifier: MIT
// A path for a stretch of roots, in either code order. A root (a code below the first control
// code) names its own byte, so it needs no table read: each takes one byte stored and the entry
// that the root before and it make. For content that does not compress, nearly all codes are
// roots; there they are taken four to a window where all four are roots, with one load, one test
// and one store of their bytes. The stretch ends before the code space's next width step, which
// suits the TIFF decoder, whose stretches are bounded so anyway; the GIF decoder keeps a loop that
// widens as it goes, as its 16-colour images decode faster that way.
#pragma once

#include <cstdint>

#include "boundary/assert.hpp"
#include "boundary/compiler.hpp"
#include "lzw/lzw_bytes.hpp"
#include "lzw/lzw_code_order.hpp"
#include "lzw/lzw_decode_table.hpp"

namespace orveln1
{

// A stretch of roots as it goes: the next code's bit position, the next free code, the root before
// the next code and where its byte goes.
struct lzw_roots_state {
    uint32_t bit_pos;
    uint32_t next_code;
    uint32_t last;
    uint8_t *out;
};

// Takes roots in Order for as long as they come with no check due: each code starts below
// bit_bound, where one window load stays within the bytes held and the code space's width and the
// table's fullness stay as they are, and its byte goes below out_end. `roots` is the first control
// code, a power of two: the roots are all the codes below it. With `in_fours`, four to a window
// while all four are roots and lie within both bounds, then one at a time. Stops before the first
// code that is not a root, leaving it unread.
template <typename Order, typename W, typename Width>
ORVELN1_FORCEINLINE inline void lzw_take_roots(lzw_decode_table_of<W> table, const uint8_t *read_buffer,
                                               uint32_t bit_bound, const uint8_t *out_end, uint32_t roots,
                                               Width code_width, bool in_fours, lzw_roots_state &state) noexcept
{
    uint32_t bit_pos = state.bit_pos;
    uint32_t next_code = state.next_code;
    uint32_t c = state.last;
    uint8_t *out = state.out;
    ORVELN1_ASSERT((roots & (roots - 1)) == 0 && roots <= LZW_ROOTS);
    // A window of the target's width holds two codes, a 64-bit one all four: they start at most 7
    // bits in. The second window's bytes lie within the 8 bytes from the first code's.
    constexpr bool one_window = 7 + 4 * lzw_widest<Width>(12) <= LZW_WINDOW_BITS;
    while (in_fours && out_end - out >= 4 && bit_pos + 3 * code_width < bit_bound) {
        const lzw_window_word window = Order::window(read_buffer, bit_pos);
        const lzw_window_word later = one_window ? window : Order::window(read_buffer, bit_pos + 2 * code_width);
        const uint32_t later_skip = one_window ? 2 * code_width : 0;
        const uint32_t d0 = Order::code(window, 0, code_width);
        const uint32_t d1 = Order::code(window, code_width, code_width);
        const uint32_t d2 = Order::code(later, later_skip, code_width);
        const uint32_t d3 = Order::code(later, later_skip + code_width, code_width);
        if ((d0 | d1 | d2 | d3) >= roots)
            break;
        bit_pos += 4 * code_width;
        // Each entry is the root before followed by the next.
        table.set(next_code, lzw_word<W>(c | d0 << 8), 2);
        table.set(next_code + 1, lzw_word<W>(d0 | d1 << 8), 2);
        table.set(next_code + 2, lzw_word<W>(d1 | d2 << 8), 2);
        table.set(next_code + 3, lzw_word<W>(d2 | d3 << 8), 2);
        next_code += 4;
        lzw_detail::store4(out, d0 | d1 << 8 | d2 << 16 | d3 << 24);
        out += 4;
        c = d3;
    }
    while (out < out_end && bit_pos < bit_bound) {
        const uint32_t d = Order::code(Order::window(read_buffer, bit_pos), 0, code_width);
        if (d >= roots)
            break;
        bit_pos += code_width;
        table.set(next_code, lzw_word<W>(c | d << 8), 2);
        ++next_code;
        *out++ = static_cast<uint8_t>(d);
        c = d;
    }
    state = {bit_pos, next_code, c, out};
}

} // namespace orveln1
