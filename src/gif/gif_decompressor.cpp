// SPDX-License-Identifier: MIT
// The GIF LZW decompressor: codes from root_size + 1 to 12 bits, expanded through the shared decode
// table into the row block; each complete row is packed into the block's front slot, from where
// every row goes to the host, in interlace order when the image is interlaced.
#include "gif/gif_decompressor.hpp"

#include <algorithm>
#include <cstring>

#include "boundary/assert.hpp"
#include "boundary/compiler.hpp"
#include "boundary/image_header.hpp"
#include "boundary/memory.hpp"
#include "lzw/lzw_decode_loop.hpp"
#include "lzw/lzw_paths.hpp"
#include "orveln1.h"

namespace orveln1
{

// The host's buffer is sized by the public header; the reader relies on nothing more.
static_assert(GIF_READ_BUFFER_BYTES == ORVELN1_GIF_READ_BUFFER_BYTES);
static_assert(GIF_WINDOW_BYTES <= static_cast<uint32_t>(GIF_REFILL_BYTES));
static_assert(GIF_MAX_CODE_WIDTH + 7 <= 8 * static_cast<int>(GIF_WINDOW_BYTES));

namespace
{

// The longest string a table generation can hold, with room to spare: every entry defined since a
// clear is at most one byte longer than the longest before it, and at most 4096 - 4 entries are
// defined (root size 1).
constexpr uint32_t GIF_LONGEST_STRING = LZW_CODE_LIMIT;

// The row block: the row slot at its front, from which every row is handed out, and room for the
// pixels decoded and not yet in a row. Before a code is expanded fewer than `width` pixels wait, so
// that room holds width - 1 of them, the longest string and the junk a short store leaves.
// At depth 8 a row is its pixels, so they gather in the slot itself: a row that ends where it
// began is handed out where it was decoded, and only the pixels past the row's end move. At depths
// 1 and 4 the pixels gather after the slot and each row is packed into it.
constexpr int64_t gif_slot_bytes(int64_t row_bytes) noexcept
{
    return (row_bytes + 7) / 8 * 8;
}
constexpr int64_t gif_pending_bytes(int64_t width) noexcept
{
    return width + GIF_LONGEST_STRING + LZW_STORE_OVERRUN;
}
// No run left the pending pixels (see gif_rows::run_fill): more than any row block holds.
constexpr uint32_t GIF_NO_RUN = UINT32_MAX;
// A depth 8 row pads its width to a multiple of 4: at most this many zero bytes follow its pixels.
constexpr uint32_t GIF_ROW_PAD_MAX = 3;

// GIF's four interlace passes: first row and step of each.
constexpr int32_t GIF_PASS_FIRST_ROW[4] = {0, 4, 2, 1};
constexpr int32_t GIF_PASS_STEP[4] = {8, 8, 4, 2};

// Where rows go and how many went: the slot, where pixels gather, the geometry and the interlace
// position.
struct gif_rows {
    uint8_t *slot;
    uint8_t *pending;
    int32_t width;
    int32_t height;
    int32_t depth;
    int32_t row_bytes;
    bool interlaced;
    put_row_fn put_row;
    int32_t row_context;
    int32_t rows_done = 0;
    int pass = 0;
    int32_t pass_row = 0;
    // Depth 8: the slot's `width` bytes were all `uniform_byte` when a run left `uniform_fill`
    // pixels pending. Codes written since then lie from there to the pending pixels' end and the
    // junk past it; handing out rows any other way than by a run clears the flag.
    bool uniform = false;
    uint8_t uniform_byte = 0;
    uint32_t uniform_fill = 0;
    // Depth 8: the pending pixels below `run_fill` are all `run_byte`, as the last run left them
    // (GIF_NO_RUN when rows went out otherwise since). Every code adds pixels and only handing out
    // rows takes them away, so while the pending count is still run_fill no code came after it.
    uint32_t run_fill = GIF_NO_RUN;
    uint8_t run_byte = 0;
    // How roots are taken, as last judged (see gif_decode_codes).
    lzw_roots_path roots = lzw_roots_path::general;
    // Rows are packed by the SSE2 build (32-bit x86 whose CPU has it: see lzw_choose_paths).
    bool sse2 = false;
};

// gif_pack_row's work, for each build of it: for the module's floor, and on 32-bit x86 for SSE2,
// where the compiler packs 16 pixels at a time rather than one pair (4-bit images decoded at half
// the x86-64 module's speed without it).
ORVELN1_FORCEINLINE inline void gif_pack_row_with(uint8_t *slot, const uint8_t *pixels, int32_t width,
                                                  int32_t depth) noexcept
{
    if (depth == 1) {
        uint32_t bits = 0;
        int32_t taken = 0;
        int32_t out = 0;
        for (int32_t i = 0; i < width; ++i) {
            bits = bits << 1 | (pixels[i] & 1u);
            if (++taken == 8) {
                slot[out++] = static_cast<uint8_t>(bits);
                bits = 0;
                taken = 0;
            }
        }
        // The byte in progress, its unused low bits zero (a zero byte when the width is a multiple
        // of 8).
        slot[out] = static_cast<uint8_t>(bits << (8 - taken));
    } else if (depth == 4) {
        const int32_t pairs = width / 2;
        for (int32_t j = 0; j < pairs; ++j)
            slot[j] = static_cast<uint8_t>((pixels[2 * j] & 0x0Fu) << 4 | (pixels[2 * j + 1] & 0x0Fu));
        // At an odd width the last pixel has no partner: its low nibble is filler, and must not
        // carry the next row's first pixel.
        if (width & 1)
            slot[pairs] = static_cast<uint8_t>((pixels[width - 1] & 0x0Fu) << 4);
    } else if (slot != pixels) {
        std::memcpy(slot, pixels, static_cast<std::size_t>(width));
    }
}
#if defined(ORVELN1_HAVE_SSE2_WORDS)
ORVELN1_NOINLINE ORVELN1_SSE2_TARGET void gif_pack_row_sse2(uint8_t *slot, const uint8_t *pixels, int32_t width,
                                                            int32_t depth) noexcept
{
    gif_pack_row_with(slot, pixels, width, depth);
}
#endif

// Hands the row whose pixels start at `row` to the host through the slot: packed into it, or at
// depth 8 copied into it unless it is there already. A depth 8 row's padding, which the host may
// read, is zero during the call; the pixels of the next row that lie there come back after it.
// Returns put_row's result.
int32_t gif_hand_row(gif_rows &rows, const uint8_t *row) noexcept
{
    uint8_t *const slot = rows.slot;
    const auto width = static_cast<std::size_t>(rows.width);
    const int32_t index = rows.interlaced ? rows.pass_row : rows.rows_done;
    if (rows.depth != 8) {
#if defined(ORVELN1_HAVE_SSE2_WORDS)
        if (rows.sse2)
            gif_pack_row_sse2(slot, row, rows.width, rows.depth);
        else
#endif
            gif_pack_row(slot, row, rows.width, rows.depth);
        return rows.put_row(slot, rows.row_context, index, rows.row_bytes);
    }
    if (row != slot)
        std::memcpy(slot, row, width);
    const std::size_t pad = static_cast<std::size_t>(rows.row_bytes) - width;
    if (pad == 0)
        return rows.put_row(slot, rows.row_context, index, rows.row_bytes);
    uint8_t kept[GIF_ROW_PAD_MAX];
    std::memcpy(kept, slot + width, pad);
    std::memset(slot + width, 0, pad);
    const int32_t r = rows.put_row(slot, rows.row_context, index, rows.row_bytes);
    std::memcpy(slot + width, kept, pad);
    return r;
}

// Counts a row handed out; true when it was the image's last.
bool gif_row_done(gif_rows &rows) noexcept
{
    if (++rows.rows_done == rows.height)
        return true;
    if (rows.interlaced) {
        rows.pass_row += GIF_PASS_STEP[rows.pass];
        while (rows.pass_row >= rows.height && rows.pass < 3)
            rows.pass_row = GIF_PASS_FIRST_ROW[++rows.pass];
    }
    return false;
}

// What handing out rows came to: status 1 when the image is complete, the host's negative value,
// else 0; `fill` pixels wait at the front of the pending area.
struct gif_delivery {
    int32_t status;
    uint32_t fill;
};

// Hands every complete row among the `fill` pending pixels to the host through the slot, then
// moves the leftover pixels to the front of the pending area: once per code, not per row, so a
// long string on a narrow image costs no quadratic copying.
ORVELN1_NOINLINE gif_delivery gif_deliver_rows(gif_rows &rows, uint32_t fill) noexcept
{
    const auto width = static_cast<uint32_t>(rows.width);
    uint8_t *const pending = rows.pending;
    rows.uniform = false;
    rows.run_fill = GIF_NO_RUN;
    uint32_t front = 0;
    int32_t status = 0;
    while (fill - front >= width) {
        const int32_t r = gif_hand_row(rows, pending + front);
        if (r < 0)
            return {r, fill};
        front += width;
        if (gif_row_done(rows)) {
            status = 1;
            break;
        }
    }
    std::memmove(pending, pending + front, fill - front);
    return {status, fill - front};
}

// Depth 8: a run of `n` pixels `byte` (more than 8) after the `fill` pending pixels. Where it
// reaches the row's end it goes into the slot a row at a time and is handed out from there: each
// byte of the slot is written at most once for the whole run, and not at all where the slot holds
// the byte already, so that a flat image costs the host's calls and little more. Leaves the
// pixels pending at the slot's front, as every code does.
ORVELN1_NOINLINE gif_delivery gif_put_run(gif_rows &rows, uint32_t fill, uint32_t n, uint8_t byte) noexcept
{
    const auto width = static_cast<uint32_t>(rows.width);
    uint8_t *const slot = rows.slot;
    const bool held = rows.uniform && rows.uniform_byte == byte;
    // The pending pixels are this run's byte too (a run continued by a run of the same byte), or
    // there are none.
    const bool continued = fill == 0 || (fill == rows.run_fill && byte == rows.run_byte);
    rows.run_fill = GIF_NO_RUN;
    // Where the slot holds the byte, only codes written since the last run and their junk differ.
    const uint32_t row_left = width - fill < n ? width - fill : n;
    if (!held)
        std::memset(slot + fill, byte, row_left);
    else if (fill != rows.uniform_fill)
        std::memset(slot + fill, byte, std::min(LZW_STORE_OVERRUN, row_left));
    if (row_left == n) {
        if (continued) {
            rows.run_fill = fill + n;
            rows.run_byte = byte;
        }
        return {0, fill + n};
    }

    // The slot's bytes below `stale` may differ from the byte once this row is out; the rest of
    // it holds the byte. A run that continues a run leaves none: its row is its byte throughout,
    // which is how a flat image's slot comes to be known as uniform.
    uint32_t stale = (held && fill == rows.uniform_fill) || continued ? 0 : fill;
    rows.uniform = false;
    n -= row_left;
    for (;;) {
        const int32_t r = gif_hand_row(rows, slot);
        if (r < 0)
            return {r, 0};
        if (gif_row_done(rows))
            return {1, 0};
        if (n < width)
            break;
        // Once one row is out the slot holds nothing but the byte: the rows after it cost only
        // the host's call (no empty fill per row, which costs a flat image a third of its time on
        // a 32-bit target).
        if (stale != 0) {
            std::memset(slot, byte, stale);
            stale = 0;
        }
        n -= width;
    }
    if (stale != 0)
        std::memset(slot, byte, std::min(n, stale));
    if (n >= stale) {
        rows.uniform = true;
        rows.uniform_byte = byte;
        rows.uniform_fill = n;
    }
    rows.run_fill = n;
    rows.run_byte = byte;
    return {0, n};
}

// The code width and the next free code of one table generation. GIF decoders widen as soon as
// next_code reaches 2^width, never beyond 12 bits; once 4096 entries exist next_code stays at 4096
// and every code defines the spare entry 4096 again, which no 12-bit code can name.
struct gif_code_space {
    uint32_t code_width;
    uint32_t next_code;
    uint32_t width_limit;

    // The codes of the current width lie under this mask.
    [[nodiscard]] uint32_t code_mask() const noexcept { return width_limit - 1; }
    void widen() noexcept
    {
        ++code_width;
        width_limit <<= 1;
    }
    void advance() noexcept
    {
        if (next_code < LZW_CODE_LIMIT) {
            ++next_code;
            if (next_code == width_limit && code_width < static_cast<uint32_t>(GIF_MAX_CODE_WIDTH)) [[unlikely]]
                widen();
        }
    }
};

// What the data says after a generation: a clear code starts the next one; anything else ends
// decoding with `result` (one of the GIF_ENDED values, or the host's refusal).
constexpr int32_t GIF_CLEARED = 1;
// What a generation's code loop says when the pixels pending make a row or more.
constexpr int32_t GIF_ROW_FULL = 2;
// Decoding ended, for each gif_end its own value; the entry returns 0 for them all.
constexpr int32_t GIF_ENDED = 3;
constexpr int32_t gif_ended(gif_end stop) noexcept
{
    return GIF_ENDED + static_cast<int32_t>(stop);
}
// The end of decoding where the reader gave `code`, which is no code the table names.
constexpr int32_t gif_ended_at(uint32_t code) noexcept
{
    return gif_ended(code == GIF_SHORT_READ ? gif_end::input_ended : gif_end::unknown_code);
}

// The fixed parts of a decode: the host's input and the code space's start after a clear.
struct gif_input {
    const codec_callbacks &cb;
    int32_t io_handle;
    uint8_t *read_buffer;
    uint32_t clear_code;
    uint32_t first_width;
    lzw_paths paths;
};

// A table generation between its code loops: the code space, the string the last code gave, and
// the pixels decoded in all before its first code.
template <typename W> struct gif_generation {
    gif_code_space space;
    lzw_string_of<W> prev;
    uint64_t decoded_before;
};

// The GIF decoder's part of the shared code loop (lzw_decode_codes): codes read from the data
// sub-blocks, widening as soon as the next free code reaches 2^width, and strings expanded into the
// pending area, whose short stores leave junk past the string that the next one covers. The loop
// stops once the pending pixels make a row (GIF_ROW_FULL), at the next clear code (GIF_CLEARED) or
// at the end of decoding (a GIF_ENDED value, or the host's refusal). The reader, the pending count,
// the generation and the result are named by reference to locals of gif_decode_codes_loop: once
// inlined, the compiler holds them in registers as it would the locals themselves (held by value
// here, the i686 build spilled more and decoded up to 6 % slower).
//
// With `Roots`, codes below the clear code take a path of their own: a root names its own byte,
// and no table read is needed to know it. Content that does not compress is nearly all roots, so
// they take the shortest path: one byte stored and the entry the root before and this one make.
// Where roots are few, telling them apart costs every code a comparison for nothing; so the
// verdict (lzw_judge_roots, from the pixels and codes since the clear) is judged at each row
// handed out, and each loop has only its own path. W is the form the words are held in (see
// lzw_word.hpp).
template <typename W, bool Roots> struct gif_codes {
    using common_string = lzw_string_of<W>;
    // Only the length: expand reads the rest.
    struct entry {
        uint32_t length;
    };
    // Strings of 8 bytes take the common path too: one store writes them.
    static constexpr uint32_t long_from = LZW_SHORT_STRING + 1;

    const gif_input &in;
    lzw_decode_table_of<W> table;
    gif_rows &rows;
    gif_bit_reader &reader;
    uint32_t &fill;
    gif_code_space &space;
    lzw_string_of<W> &prev;
    int32_t &result;
    uint32_t width;
    uint8_t *pending;
    // Held apart from `in`, which the loop reads through a reference: one load less per code
    // where registers are few.
    uint8_t *read_buffer;
    // The row block ends here (see gif_pending_bytes).
    const uint8_t *room_end;
    // Runs that reach the row's end are written into the slot directly (depth 8 only).
    bool runs_in_slot;
    // Where the string of the code just read goes.
    uint8_t *out = nullptr;

    [[nodiscard]] ORVELN1_FORCEINLINE bool has_room() const noexcept { return fill < width; }
    // The rows are handed out by the generation's loop, between calls of this one.
    [[nodiscard]] ORVELN1_FORCEINLINE bool make_room() const noexcept { return false; }
    // GIF_SHORT_READ lies beyond every code: the data ends there.
    [[nodiscard]] ORVELN1_FORCEINLINE uint32_t read_code() noexcept
    {
        const uint32_t c = gif_read_code(in.cb, in.io_handle, reader, read_buffer, space.code_width, space.code_mask());
        out = pending + fill;
        return c;
    }
    [[nodiscard]] ORVELN1_FORCEINLINE uint32_t roots_below() const noexcept { return Roots ? in.clear_code : 0; }
    [[nodiscard]] ORVELN1_FORCEINLINE uint32_t next_code() const noexcept { return space.next_code; }

    // The roots that follow within the row and the bytes held stay in this short loop; where
    // nearly every code is a root (in_fours), four to a window while all four are roots and the
    // code width stays: one load, one test and one store of their bytes.
    ORVELN1_FORCEINLINE void take_root(uint32_t c) noexcept
    {
        table.define(space.next_code, prev, c);
        space.advance();
        *out = static_cast<uint8_t>(c);
        ++fill;
        const uint32_t code_width = space.code_width;
        const uint32_t mask = space.code_mask();
        const bool in_fours = rows.roots == lzw_roots_path::in_fours;
        while (in_fours && width - fill >= 4 && reader.bit_pos < reader.fast_end &&
               space.next_code + 4 < space.width_limit) {
            // A window of the target's width holds two codes, a 64-bit one all four; the second
            // window's bytes lie within the 8 bytes from the first code's.
            const lzw_window_word window = lzw_lsb_first::window(read_buffer, reader.bit_pos);
            const lzw_window_word later = LZW_WINDOW_BITS >= 7 + 4 * GIF_MAX_CODE_WIDTH
                                              ? window >> 2 * code_width
                                              : lzw_lsb_first::window(read_buffer, reader.bit_pos + 2 * code_width);
            const auto d0 = static_cast<uint32_t>(window) & mask;
            const auto d1 = static_cast<uint32_t>(window >> code_width) & mask;
            const auto d2 = static_cast<uint32_t>(later) & mask;
            const auto d3 = static_cast<uint32_t>(later >> code_width) & mask;
            // The clear code is a power of two, the roots all the codes below it.
            if ((d0 | d1 | d2 | d3) >= in.clear_code)
                break;
            reader.bit_pos += 4 * code_width;
            // Each entry is the root before followed by the next.
            table.set(space.next_code, lzw_word<W>(c | d0 << 8), 2);
            table.set(space.next_code + 1, lzw_word<W>(d0 | d1 << 8), 2);
            table.set(space.next_code + 2, lzw_word<W>(d1 | d2 << 8), 2);
            table.set(space.next_code + 3, lzw_word<W>(d2 | d3 << 8), 2);
            space.next_code += 4;
            lzw_detail::store4(pending + fill, d0 | d1 << 8 | d2 << 16 | d3 << 24);
            fill += 4;
            c = d3;
        }
        while (fill < width && reader.bit_pos < reader.fast_end) {
            const uint32_t d = gif_window_code(read_buffer, reader.bit_pos, space.code_mask());
            if (d >= in.clear_code)
                break;
            reader.bit_pos += space.code_width;
            table.set(space.next_code, lzw_word<W>(c | d << 8), 2);
            space.advance();
            pending[fill++] = static_cast<uint8_t>(d);
            c = d;
        }
        prev = {lzw_word<W>(c), 1, c};
    }

    // Hands out the rows a run reaches, the run's entry defined and counted.
    [[nodiscard]] ORVELN1_FORCEINLINE lzw_step take_run(const lzw_string_of<W> &run) noexcept
    {
        prev = run;
        space.advance();
        const gif_delivery d = gif_put_run(rows, fill, run.length, static_cast<uint8_t>(run.first));
        fill = d.fill;
        if (d.status == 0)
            return lzw_step::taken;
        result = d.status < 0 ? d.status : gif_ended(gif_end::complete);
        return lzw_step::stop;
    }

    // A control code, or a string longer than 8 bytes: a run that reaches the row's end, or any
    // run while the slot holds one byte, goes to gif_put_run; any other takes the common path.
    [[nodiscard]] ORVELN1_FORCEINLINE lzw_step take_long(uint32_t c, uint32_t n) noexcept
    {
        if (lzw_decode_table::is_control(n)) {
            result = c == in.clear_code ? GIF_CLEARED : gif_ended(gif_end::end_code);
            return lzw_step::stop;
        }
        lzw_string_of<W> s;
        if (runs_in_slot && (fill + n >= width || rows.uniform) && table.run_string(c, s)) {
            table.define(space.next_code, prev, s.first);
            return take_run(s);
        }
        return lzw_step::common;
    }

    [[nodiscard]] ORVELN1_FORCEINLINE entry look_up(uint32_t c) const noexcept { return {table.length(c)}; }
    [[nodiscard]] ORVELN1_FORCEINLINE lzw_string_of<W> common(uint32_t c, const entry &) noexcept
    {
        ORVELN1_ASSERT(fill < width);
        const lzw_string_of<W> s = table.expand(c, out, room_end);
        table.define(space.next_code, prev, s.first);
        return s;
    }

    [[nodiscard]] ORVELN1_FORCEINLINE lzw_step take_new(uint32_t c, lzw_string_of<W> &s) noexcept
    {
        if (runs_in_slot && prev.length >= LZW_SHORT_STRING && (fill + prev.length + 1 >= width || rows.uniform)) {
            table.define(c, prev, prev.first);
            if (table.run_string(c, s))
                return take_run(s);
        }
        ORVELN1_ASSERT(fill < width);
        s = table.expand_new(c, prev, out, fill, room_end);
        return lzw_step::common;
    }

    // A code the table cannot name yet, or no whole code left.
    ORVELN1_FORCEINLINE void unknown(uint32_t c) noexcept { result = gif_ended_at(c); }

    ORVELN1_FORCEINLINE void put(const lzw_string_of<W> &s) noexcept
    {
        fill += s.length;
        prev = s;
        space.advance();
    }
};

// The code loop of one table generation with its state given back; gif_decode_codes, below, is
// it as a function of its own for each form of the words.
template <typename W, bool Roots>
ORVELN1_FORCEINLINE inline int32_t gif_decode_codes_loop(const gif_input &in, gif_bit_reader &reader_state,
                                                         lzw_decode_table_of<W> table, gif_rows &rows,
                                                         uint32_t &fill_state, gif_generation<W> &generation) noexcept
{
    const auto width = static_cast<uint32_t>(rows.width);
    gif_bit_reader reader = reader_state;
    uint32_t fill = fill_state;
    gif_code_space space = generation.space;
    lzw_string_of<W> prev = generation.prev;
    int32_t result = GIF_ROW_FULL;
    gif_codes<W, Roots> d{in,
                          table,
                          rows,
                          reader,
                          fill,
                          space,
                          prev,
                          result,
                          width,
                          rows.pending,
                          in.read_buffer,
                          rows.pending + gif_pending_bytes(width),
                          rows.pending == rows.slot};
    lzw_decode_codes(d);
    reader_state = reader;
    fill_state = fill;
    generation.space = space;
    generation.prev = prev;
    return result;
}

template <bool Roots>
int32_t gif_decode_codes(const gif_input &in, gif_bit_reader &reader, lzw_decode_table table, gif_rows &rows,
                         uint32_t &fill, gif_generation<uint64_t> &generation) noexcept
{
    return gif_decode_codes_loop<uint64_t, Roots>(in, reader, table, rows, fill, generation);
}
#if defined(ORVELN1_HAVE_SSE2_WORDS)
template <bool Roots>
ORVELN1_SSE2_TARGET int32_t gif_decode_codes(const gif_input &in, gif_bit_reader &reader,
                                             lzw_decode_table_of<lzw_xmm_word> table, gif_rows &rows, uint32_t &fill,
                                             gif_generation<lzw_xmm_word> &generation) noexcept
{
    return gif_decode_codes_loop<lzw_xmm_word, Roots>(in, reader, table, rows, fill, generation);
}
#endif

// Decodes the codes of one table generation, from the one after a clear code to the next clear
// code or the end of the data; gif_decode_generation, below, for each form of the words.
template <typename W>
ORVELN1_FORCEINLINE inline int32_t gif_decode_generation_codes(const gif_input &in, gif_bit_reader &reader,
                                                               lzw_decode_table_of<W> table, gif_rows &rows,
                                                               uint32_t &fill) noexcept
{
    table.reset(in.clear_code);
    rows.uniform = false;
    gif_generation<W> generation{{in.first_width, in.clear_code + 2, 1u << in.first_width},
                                 {},
                                 static_cast<uint64_t>(rows.rows_done) * static_cast<uint32_t>(rows.width) + fill};

    // The code after a clear code names a byte: only the codes below 256 have been set since the
    // reset, so any other code ends the data, as does the end code; another clear code simply
    // clears again.
    const uint32_t c = gif_read_code(in.cb, in.io_handle, reader, in.read_buffer, generation.space.code_width,
                                     generation.space.code_mask());
    if (c == in.clear_code)
        return GIF_CLEARED;
    if (c == in.clear_code + 1)
        return gif_ended(gif_end::end_code);
    if (c >= LZW_ROOTS)
        return gif_ended_at(c);
    rows.pending[fill++] = static_cast<uint8_t>(c);
    generation.prev = {lzw_word<W>(c), 1, c};
    // At root size 1 the first free code already equals 2^width: widen right after this code.
    if (generation.space.next_code >= generation.space.width_limit)
        generation.space.widen();
    // Until a row's end judges the roots anew, the last generation's verdict holds.
    for (;;) {
        const int32_t r = rows.roots != lzw_roots_path::general
                              ? gif_decode_codes<true>(in, reader, table, rows, fill, generation)
                              : gif_decode_codes<false>(in, reader, table, rows, fill, generation);
        if (r != GIF_ROW_FULL)
            return r;
        const gif_delivery d = gif_deliver_rows(rows, fill);
        fill = d.fill;
        if (d.status != 0)
            return d.status < 0 ? d.status : gif_ended(gif_end::complete);
        // The codes so far: the root after the clear code, and one per entry defined since. Once
        // the table is full the entries stop counting and the share only falls.
        const uint64_t codes = generation.space.next_code - (in.clear_code + 2) + 1;
        const uint64_t decoded = static_cast<uint64_t>(rows.rows_done) * static_cast<uint32_t>(rows.width) + fill -
                                 generation.decoded_before;
        rows.roots = lzw_roots_verdict(in.paths, decoded, codes);
    }
}

int32_t gif_decode_generation(const gif_input &in, gif_bit_reader &reader, lzw_decode_table table, gif_rows &rows,
                              uint32_t &fill) noexcept
{
    return gif_decode_generation_codes<uint64_t>(in, reader, table, rows, fill);
}
#if defined(ORVELN1_HAVE_SSE2_WORDS)
ORVELN1_SSE2_TARGET int32_t gif_decode_generation(const gif_input &in, gif_bit_reader &reader,
                                                  lzw_decode_table_of<lzw_xmm_word> table, gif_rows &rows,
                                                  uint32_t &fill) noexcept
{
    return gif_decode_generation_codes<lzw_xmm_word>(in, reader, table, rows, fill);
}

// The table generations of the image data with the words in SSE2 registers, a path the CPU must be
// asked for (see lzw_choose_paths).
ORVELN1_NOINLINE ORVELN1_SSE2_TARGET int32_t gif_decode_sse2(const gif_input &in, gif_bit_reader &reader,
                                                             uint8_t *table_block, gif_rows &rows,
                                                             uint32_t &fill) noexcept
{
    const lzw_decode_table_of<lzw_xmm_word> table(table_block);
    int32_t r;
    do
        r = gif_decode_generation(in, reader, table, rows, fill);
    while (r == GIF_CLEARED);
    return r;
}
#endif

} // namespace

gif_refill_result gif_refill(const codec_callbacks &cb, int32_t io_handle, uint8_t *read_buffer) noexcept
{
    uint32_t held = 0;
    for (int i = 0; i < GIF_SUB_BLOCKS_PER_REFILL; ++i) {
        uint8_t length_byte = 0;
        if (cb.read(io_handle, &length_byte, 1) < 1)
            return gif_refill_result{held, true};
        const int32_t wanted = length_byte;
        const int32_t got = cb.read(io_handle, read_buffer + held, wanted);
        // A host that reports more than it was asked for has still placed only what was asked.
        const int32_t taken = got < 0 ? 0 : (got > wanted ? wanted : got);
        held += static_cast<uint32_t>(taken);
        // The zero-length sub-block terminates the image data: nothing after it is image data.
        if (taken < wanted || wanted == 0)
            return gif_refill_result{held, true};
    }
    return gif_refill_result{held, false};
}

gif_read_result gif_read_code_slow(const codec_callbacks &cb, int32_t io_handle, uint8_t *read_buffer,
                                   gif_bit_reader reader, uint32_t code_width) noexcept
{
    while (reader.bit_end - reader.bit_pos < code_width) {
        if (reader.ended)
            return {GIF_SHORT_READ, reader};
        const uint32_t carry_from = reader.bit_pos >> 3;
        const uint32_t carry = (reader.bit_end >> 3) - carry_from;
        std::memmove(read_buffer, read_buffer + carry_from, carry);
        const gif_refill_result r = gif_refill(cb, io_handle, read_buffer + carry);
        reader.bit_pos &= 7;
        reader.bit_end = (carry + r.held) * 8;
        reader.ended = r.ended;
        const uint32_t held_bytes = carry + r.held;
        reader.fast_end = held_bytes >= GIF_WINDOW_BYTES ? (held_bytes - GIF_WINDOW_BYTES + 1) * 8 : 0;
        if (r.held == 0)
            return {GIF_SHORT_READ, reader};
    }
    // Byte by byte, up to the end of the bytes held: at most 3 bytes hold a code.
    const uint32_t first = reader.bit_pos >> 3;
    const uint32_t last = (reader.bit_pos + code_width - 1) >> 3;
    uint32_t bits = 0;
    for (uint32_t b = last + 1; b-- > first;)
        bits = bits << 8 | read_buffer[b];
    const uint32_t code = (bits >> (reader.bit_pos & 7)) & ((1u << code_width) - 1);
    reader.bit_pos += code_width;
    return {code, reader};
}

void gif_pack_row(uint8_t *slot, const uint8_t *pixels, int32_t width, int32_t depth) noexcept
{
    gif_pack_row_with(slot, pixels, width, depth);
}

int32_t gif_lzw_decompress(const codec_callbacks &cb, int32_t io_handle, uint8_t *read_buffer, const void *image_header,
                           put_row_fn put_row, int32_t row_context, int32_t code_size_word) noexcept
{
    gif_end_report unused;
    return gif_lzw_decompress(cb, io_handle, read_buffer, image_header, put_row, row_context, code_size_word, false,
                              unused);
}

int32_t gif_lzw_decompress(const codec_callbacks &cb, int32_t io_handle, uint8_t *read_buffer, const void *image_header,
                           put_row_fn put_row, int32_t row_context, int32_t code_size_word, bool start_cleared,
                           gif_end_report &report) noexcept
{
    const image_header_view header = read_image_header(image_header);
    const int32_t width = header.width();
    const int32_t height = header.height();
    const int depth = static_cast<int16_t>(header.depth());
    // Only these depths have a scan-line layout that the row packer builds.
    if (depth != 1 && depth != 4 && depth != 8)
        return ERR_UNSUPPORTED_DEPTH;
    if (width < 1 || height < 1)
        return ERR_BAD_DATA;
    const int64_t row_bytes = padded_row_bytes(width, depth);
    const int64_t slot_bytes = gif_slot_bytes(row_bytes);
    const int64_t row_block_bytes = slot_bytes + gif_pending_bytes(width);
    if (!block_size_fits(row_block_bytes))
        return ERR_BAD_DATA;

    lzw_block table_block(LZW_DECODE_TABLE_BYTES);
    if (!table_block)
        return ERR_NO_MEMORY;
    const gif_code_size size = gif_settle_code_size(code_size_word);
    lzw_block row_block(static_cast<std::size_t>(row_block_bytes));
    if (!row_block)
        return ERR_NO_MEMORY;
    // Zeroed, so that the slot's bytes past a packed row, which the host reads, were never unset.
    std::memset(row_block.get(), 0, static_cast<std::size_t>(row_block_bytes));

    const auto clear_code = 1u << size.root_size;
    const gif_input in{
        cb, io_handle, read_buffer, clear_code, static_cast<uint32_t>(size.root_size) + 1, lzw_choose_paths()};
    uint8_t *const slot = row_block.get();
    uint8_t *const pending = depth == 8 ? slot : slot + slot_bytes;
    gif_rows rows{slot,    pending,    width, height, depth, static_cast<int32_t>(row_bytes), size.interlaced,
                  put_row, row_context};
    rows.sse2 = in.paths.sse2_words;
    // Until the first row's end judges them, roots take the general path, unless pinned.
    if (in.paths.roots != LZW_BY_DATA)
        rows.roots = static_cast<lzw_roots_path>(in.paths.roots);

    gif_bit_reader reader;
    const uint32_t first =
        gif_read_code(cb, io_handle, reader, read_buffer, in.first_width, gif_code_mask(in.first_width));
    report.leading_clear_code = first == clear_code;
    if (first != clear_code) {
        if (!start_cleared)
            return ERR_BAD_DATA;
        // The first generation reads this code again: its bits still lie just before bit_pos
        // (a short read took none).
        if (first != GIF_SHORT_READ)
            reader.bit_pos -= in.first_width;
    }

    uint32_t fill = 0;
    int32_t r;
#if defined(ORVELN1_HAVE_SSE2_WORDS)
    if (in.paths.sse2_words) {
        r = gif_decode_sse2(in, reader, table_block.get(), rows, fill);
    } else
#endif
    {
        const lzw_decode_table table(table_block.get());
        do
            r = gif_decode_generation(in, reader, table, rows, fill);
        while (r == GIF_CLEARED);
    }
    if (r < GIF_ENDED)
        return r;
    report.end = static_cast<gif_end>(r - GIF_ENDED);
    report.end_pixel = report.end == gif_end::complete
                           ? static_cast<uint64_t>(height) * static_cast<uint32_t>(width)
                           : static_cast<uint64_t>(rows.rows_done) * static_cast<uint32_t>(width) + fill;
    return 0;
}

} // namespace orveln1
