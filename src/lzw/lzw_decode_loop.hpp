// SPDX-License-Identifier: MIT
// The code loop that both LZW decoders run over a table generation. Per code it makes room for the
// output when a row is full, reads the code, and splits it by what the code names: a root (where
// the decoder gives roots a path of their own), a table string the common path takes, a long
// string or a control code, the string the current step defines (KwKwK), or a code the table
// cannot name yet. How each of these is written out, how codes are read and how the code width
// steps are the decoder's: it gives them as a policy, whose state the loop holds in registers once
// everything is inlined into the decoder's own loop function.
#pragma once

#include <cstdint>

#include "boundary/compiler.hpp"

namespace orveln1
{

// What a step of the loop came to: decoding stops (the policy holds why), the code is taken, or
// it goes on by the common path.
enum class lzw_step : uint8_t { stop, taken, common };

// Decodes codes until the policy stops it. D provides:
// - `look_up(c)`: what the loop reads of the table for code c (below the next free one) before
//   anything else, a `D::entry` with the string's `length`; and `D::long_from`: strings of this
//   length or more, and the control codes (whose length is above every string's), go to
//   take_long;
// - `has_room()`: the output can take a string; else `make_room()` hands out rows, false when
//   decoding stops;
// - `read_code()`: the next code, a value above every code when none is left;
// - `roots_below()`: codes below it are roots taken by `take_root(c)` (0 where roots take the
//   common path);
// - `next_code()`: the code the current step defines;
// - `take_long(c, n)`: a string of n bytes or a control code;
// - `common(c, e)`: a table string by the common path, e what look_up gave: written, its entry
//   defined; it returns what `put` takes;
// - `take_new(c, s)`: the code the current step defines; on lzw_step::common, s is for `put`;
// - `unknown(c)`: a code above the next free one, or no code left: decoding stops;
// - `put(s)`: the common path's end, where the output and the previous string move on.
template <typename D> ORVELN1_FORCEINLINE inline void lzw_decode_codes(D &d) noexcept
{
    for (;;) {
        if (!d.has_room()) [[unlikely]] {
            if (!d.make_room())
                return;
        }
        const uint32_t c = d.read_code();
        if (c < d.roots_below()) {
            d.take_root(c);
            continue;
        }
        typename D::common_string s;
        if (c < d.next_code()) [[likely]] {
            const typename D::entry e = d.look_up(c);
            const uint32_t n = e.length;
            if (n >= D::long_from) [[unlikely]] {
                const lzw_step step = d.take_long(c, n);
                if (step == lzw_step::stop)
                    return;
                if (step == lzw_step::taken)
                    continue;
            }
            s = d.common(c, e);
        } else if (c == d.next_code()) {
            const lzw_step step = d.take_new(c, s);
            if (step == lzw_step::stop)
                return;
            if (step == lzw_step::taken)
                continue;
        } else {
            d.unknown(c);
            return;
        }
        d.put(s);
    }
}

} // namespace orveln1
