// SPDX-License-Identifier: MIT
// TIFF LZW strip decoding: the chunked code reader, and the decode loop that expands codes through
// the shared decode table into the row buffer and cuts it into rows.
#include "tiff/tif_decompressor.hpp"

#include <algorithm>
#include <type_traits>

#include "boundary/assert.hpp"
#include "boundary/compiler.hpp"
#include "boundary/memory.hpp"
#include "lzw/lzw_decode_loop.hpp"
#include "lzw/lzw_fill_sse2.hpp"
#include "lzw/lzw_paths.hpp"
#include "lzw/lzw_root_stretch.hpp"
#include "lzw/lzw_target.hpp"
#include "orveln1.h"

namespace orveln1
{

// The host's buffers are sized by the public header; the decoder relies on nothing more.
static_assert(TIF_READ_BUFFER_BYTES == ORVELN1_TIF_READ_BUFFER_BYTES);
static_assert(TIF_ROW_SLACK_BYTES == ORVELN1_TIF_ROW_SLACK_BYTES);

namespace
{

// TIFF widens one code early: the decoder steps to 10, 11 and 12 bits when next_code reaches
// 511, 1023 and 2047, one before the width would require it, because the encoder that the format
// grew up with widened that early.
constexpr uint32_t TIF_FIRST_WIDTH_LIMIT = 1u << TIF_MIN_CODE_WIDTH;

// The fast code read takes 8 bytes at the code's first byte, which holds any code: it starts at
// most 7 bits in and is at most 12 bits long. Those 8 bytes must lie within the delivered bytes
// and the read buffer's tail.
constexpr uint32_t TIF_WINDOW_BYTES = 8;
static_assert(TIF_WINDOW_BYTES > TIF_READ_TAIL_BYTES);

// Below the returned bit position a code can be read with one 8-byte load that stays within the
// delivered bytes and the read buffer's tail past them (bit_end is whole bytes).
inline uint32_t tif_fast_end(const tif_bit_reader &reader) noexcept
{
    constexpr uint32_t behind = TIF_WINDOW_BYTES - TIF_READ_TAIL_BYTES - 1;
    const uint32_t end_bytes = reader.bit_end >> 3;
    return end_bytes > behind ? (end_bytes - behind) * 8 : 0;
}

// A string shorter than 8 bytes goes out with one 8-byte store that ends where the string ends,
// so no store changes a byte past the decoded ones: an unfinished row delivered after an early end
// shows the row buffer's earlier bytes there as they were. The store's bytes below the string are
// the decoded bytes already in place, stored again unchanged; the decoder keeps the last
// TIF_TAIL_BYTES decoded bytes in a word for it (the tail). Row cutting keeps the last decoded
// bytes at the end of the bytes it moves to the front, so the tail stays true across it.
constexpr uint32_t TIF_TAIL_BYTES = 8;
static_assert(LZW_SHORT_STRING <= TIF_TAIL_BYTES);

// The tail after a string of n bytes (1 to 7) of word w.
template <typename W> ORVELN1_FORCEINLINE inline W tif_tail_after_short(W tail, W w, uint32_t n) noexcept
{
    // 8 * n is 8 to 56, and so is 64 - 8 * n: the mask only shows the shift stays in range.
    const uint32_t bits = 8 * n;
    return tail >> bits | w << ((8 * TIF_TAIL_BYTES - bits) & 63);
}

// The tail after the bytes from `from` up to `to`, just written in order.
template <typename W>
ORVELN1_FORCEINLINE inline W tif_tail_after_bytes(W tail, const uint8_t *from, const uint8_t *to) noexcept
{
    if (to - from >= static_cast<std::ptrdiff_t>(TIF_TAIL_BYTES)) {
        W last = lzw_load<W>(to - TIF_TAIL_BYTES);
        if constexpr (std::endian::native == std::endian::big)
            last = __builtin_bswap64(last);
        return last;
    }
    for (; from < to; ++from)
        tail = tail >> 8 | lzw_word<W>(*from) << (8 * TIF_TAIL_BYTES - 8);
    return tail;
}

// Writes the short string that ends at end (the tail after it): one store, or at the row
// buffer's front, where the store would begin before the buffer, only the tail's bytes from
// the front on. `whole_from` is row_buffer + TIF_TAIL_BYTES, which the caller keeps at hand.
template <typename W>
ORVELN1_FORCEINLINE inline void tif_put_short(uint8_t *row_buffer, const uint8_t *whole_from, uint8_t *end,
                                              W tail) noexcept
{
    if (end >= whole_from) [[likely]] {
        lzw_detail::store8(end - TIF_TAIL_BYTES, tail);
        return;
    }
    uint8_t bytes[TIF_TAIL_BYTES];
    lzw_detail::store8(bytes, tail);
    const auto k = static_cast<std::size_t>(end - row_buffer);
    std::memcpy(row_buffer, bytes + TIF_TAIL_BYTES - k, k);
}

// A run that ends within the row goes out, where `Blended`, as 16-byte blocks at fixed places from
// its start (lzw_fill_sse2.hpp), the blocks' bytes past the run stored back unchanged (see
// TIF_TAIL_BYTES); runs up to LZW_BLEND_FILL_BYTES go that way. The blocks reach that far from the
// run's start, which lies within the row, so they stay within the row buffer's slack.
static_assert(TIF_ROW_SLACK_BYTES >= LZW_BLEND_FILL_BYTES);

// Exactly n bytes of `byte` from out on, 8 <= n, out + n within the row (row_end); room_end is the
// row buffer's end.
template <bool Blended>
ORVELN1_FORCEINLINE inline void tif_fill_run(uint8_t *out, uint8_t byte, uint32_t n, const uint8_t *row_end,
                                             const uint8_t *room_end) noexcept
{
    ORVELN1_ASSERT(n >= LZW_CHUNK && n <= static_cast<std::size_t>(row_end - out));
    if (Blended && n <= LZW_BLEND_FILL_BYTES) {
        lzw_detail::fill_run_blended(out, byte, n, room_end);
        return;
    }
    lzw_detail::fill_run(out, byte, n, room_end);
}

// The code width and the next free code of one table generation. TIFF widens one code early (see
// TIF_FIRST_WIDTH_LIMIT); once 4096 entries exist, next_code stays at 4096 and every code defines
// the spare entry 4096 again, which no code reads.
struct tif_code_space {
    uint32_t code_width = TIF_MIN_CODE_WIDTH;
    // The right shift that takes a code from the top of a window (see tif_window_code).
    uint32_t window_shift = LZW_WINDOW_BITS - TIF_MIN_CODE_WIDTH;
    uint32_t next_code = TIF_FIRST_TABLE_CODE;
    uint32_t width_limit = TIF_FIRST_WIDTH_LIMIT;
    // next_code's value at which the width steps or the table fills.
    uint32_t event_code = TIF_FIRST_WIDTH_LIMIT - 1;

    // Counts the entry a code defined. What next_code reaching event_code calls for waits for
    // settle, which the decoder calls before it reads the next code.
    void advance() noexcept { ++next_code; }

    void settle() noexcept
    {
        if (next_code == event_code) {
            if (next_code == width_limit - 1) {
                code_width += code_width < TIF_MAX_CODE_WIDTH ? 1 : 0;
                window_shift = LZW_WINDOW_BITS - code_width;
                width_limit <<= 1;
            }
            if (next_code > static_cast<uint32_t>(TIF_CODE_LIMIT))
                next_code = TIF_CODE_LIMIT;
            event_code = std::min(width_limit - 1, static_cast<uint32_t>(TIF_CODE_LIMIT) + 1);
        }
    }

    // After a settle and one code read: how many more codes can be read before settle has work.
    [[nodiscard]] uint32_t codes_before_event() const noexcept { return event_code - next_code - 1; }
};

// The code at bit_pos, which lies below tif_fast_end; window_shift is LZW_WINDOW_BITS less the
// code width.
inline uint32_t tif_window_code(const uint8_t *read_buffer, uint32_t bit_pos, uint32_t window_shift) noexcept
{
    return static_cast<uint32_t>(lzw_msb_first::window(read_buffer, bit_pos) >> window_shift);
}

// A generation's first verdict on its roots (see lzw_judge_roots) rests on the literal after the
// clear code alone, a root, so it always says roots four to a window; it holds for this many codes
// only, and the next is judged from them and holds to the next width step. Held for the whole
// first step (250 codes), it sent the short strings of a young table the roots' way and kept them
// from the short strings' loop: in strips of 8 KiB, up to a quarter of the decoding time.
constexpr uint32_t TIF_FIRST_VERDICT_CODES = 32;

// Below this many bytes per code on average, stretches of short strings are long enough to take
// their own loop.
constexpr uint32_t TIF_SHORT_LOOP_BYTES = 4;
// A string at least this long is written together with a long string after it (see tif_take_long),
// or has the code after it that repeats it copied before rows are cut (tif_copy_before_cut):
// shorter walks end before the second one's loads could overlap them, and cost little to repeat.
constexpr uint32_t TIF_PAIRED_FROM = 128;

// The stretch loop counts the codes it may take before either bound needs a check with shifts:
// it takes 16 bits a code, at least any code's width, and 8 bytes a string, more than any string
// it takes.
constexpr int TIF_COUNT_CODE_BITS_LOG2 = 4;
constexpr int TIF_COUNT_STRING_BYTES_LOG2 = 3;
static_assert((1u << TIF_COUNT_CODE_BITS_LOG2) >= TIF_MAX_CODE_WIDTH);
static_assert((1u << TIF_COUNT_STRING_BYTES_LOG2) == LZW_SHORT_STRING);

// The loop state of a stretch of short strings (see tif_short_codes).
template <typename W> struct tif_short_state {
    uint32_t bit_pos;
    uint32_t next_code;
    // The previous string, shorter than 8 bytes: its word and length.
    W prev_word;
    uint32_t prev_length;
    uint8_t *out;
    W tail;
};

// Decodes codes for as long as each gives a string shorter than 8 bytes, with no check due: the
// code lies below bit_bound (so it needs no refill and the code space no settling) and the output
// position below row_end. Images of gradual change are nearly all such codes, so they take a loop
// of their own whose few values fit in registers, where the general loop keeps its many in memory.
// Its stores begin at or after the row buffer's front: state.out is TIF_TAIL_BYTES in or more.
// Stops before the first code that needs anything else, leaving it unread. The code width is
// fixed within a stretch, and as a constant it takes no register. The loop is a function of its own
// (tif_short_codes, below) for each form of the words.
template <typename W, uint32_t code_width>
ORVELN1_FORCEINLINE inline void tif_short_codes_loop(lzw_decode_table_of<W> table, const uint8_t *read_buffer,
                                                     uint32_t bit_bound, const uint8_t *row_end,
                                                     tif_short_state<W> &state) noexcept
{
    uint32_t bit_pos = state.bit_pos;
    uint32_t next_code = state.next_code;
    W prev_word = state.prev_word;
    uint32_t prev_length = state.prev_length;
    uint8_t *out = state.out;
    W tail = state.tail;
    constexpr uint32_t window_shift = LZW_WINDOW_BITS - code_width;
    // One window holds two codes: they start at most 7 bits in.
    static_assert(7 + 2 * code_width <= LZW_WINDOW_BITS);
    for (;;) {
        // The codes that may follow with neither bound checked: each of them still lies below
        // bit_bound, and as every string here is shorter than 8 bytes, each still starts below
        // row_end. One count for both bounds leaves each code a single check. The count is quick
        // to find, by shifts (see TIF_COUNT_CODE_BITS_LOG2); near either bound it runs out early,
        // and the last codes there go one at a time.
        const std::ptrdiff_t by_bits =
            (static_cast<int32_t>(bit_bound) - static_cast<int32_t>(bit_pos)) >> TIF_COUNT_CODE_BITS_LOG2;
        const std::ptrdiff_t by_room = (row_end - out) >> TIF_COUNT_STRING_BYTES_LOG2;
        std::ptrdiff_t count = std::min(by_bits, by_room);
        if (count <= 0) {
            if (bit_pos >= bit_bound || out >= row_end)
                break;
            count = 1;
        }
        // Takes code c if it gives a short string; else leaves it unread and returns false.
        const auto take = [&](uint32_t c) ORVELN1_FORCEINLINE {
            W w;
            uint32_t n;
            if (c < next_code) [[likely]] {
                // Control codes have a length no string reaches, so this check stops them too.
                n = table.length(c);
                w = table.word(c);
            } else if (c == next_code) {
                // The previous string followed by its own first byte.
                n = prev_length + 1;
                w = prev_word | (prev_word & lzw_word<W>(0xFF)) << (8 * prev_length);
            } else {
                return false;
            }
            if (n >= LZW_SHORT_STRING) [[unlikely]]
                return false;
            bit_pos += code_width;
            table.set(next_code, prev_word | (w & lzw_word<W>(0xFF)) << (8 * prev_length), prev_length + 1);
            ++next_code;
            tail = tif_tail_after_short(tail, w, n);
            out += n;
            lzw_detail::store8(out - TIF_TAIL_BYTES, tail);
            prev_word = w;
            prev_length = n;
            return true;
        };
        for (; count >= 2; count -= 2) {
            const lzw_window_word window = lzw_msb_first::window(read_buffer, bit_pos);
            if (!take(static_cast<uint32_t>(window >> window_shift)))
                break;
            if (!take(static_cast<uint32_t>(window << code_width >> window_shift))) {
                --count;
                break;
            }
        }
        // One code left: the count's odd one, or one that stopped a pair after its first, which
        // stops the stretch here again.
        if (count == 1 && take(tif_window_code(read_buffer, bit_pos, window_shift)))
            count = 0;
        // A count left over: a code that needs anything else stopped the stretch.
        if (count != 0)
            break;
    }
    state = {bit_pos, next_code, prev_word, prev_length, out, tail};
}

template <uint32_t code_width>
ORVELN1_NOINLINE void tif_short_codes(lzw_decode_table table, const uint8_t *read_buffer, uint32_t bit_bound,
                                      const uint8_t *row_end, tif_short_state<uint64_t> &state) noexcept
{
    tif_short_codes_loop<uint64_t, code_width>(table, read_buffer, bit_bound, row_end, state);
}
#if defined(ORVELN1_HAVE_SSE2_WORDS)
template <uint32_t code_width>
ORVELN1_NOINLINE ORVELN1_SSE2_TARGET void
tif_short_codes(lzw_decode_table_of<lzw_xmm_word> table, const uint8_t *read_buffer, uint32_t bit_bound,
                const uint8_t *row_end, tif_short_state<lzw_xmm_word> &state) noexcept
{
    tif_short_codes_loop<lzw_xmm_word, code_width>(table, read_buffer, bit_bound, row_end, state);
}
#endif

// Calls f with the code width in force, as a std::integral_constant: the stretch loops take it as
// a constant. Forced inline, as the paths that call it are.
template <typename F> ORVELN1_FORCEINLINE inline void tif_with_code_width(uint32_t code_width, F &&f) noexcept
{
    static_assert(TIF_MIN_CODE_WIDTH == 9 && TIF_MAX_CODE_WIDTH == 12);
    switch (code_width) {
    case 9:
        return f(std::integral_constant<uint32_t, 9>{});
    case 10:
        return f(std::integral_constant<uint32_t, 10>{});
    case 11:
        return f(std::integral_constant<uint32_t, 11>{});
    default:
        return f(std::integral_constant<uint32_t, 12>{});
    }
}

// The roots that follow while no check is due, four to a window (see lzw_take_roots), at a code
// width the loop takes as a constant.
template <uint32_t code_width>
ORVELN1_NOINLINE void tif_root_codes(lzw_decode_table table, const uint8_t *read_buffer, uint32_t bit_bound,
                                     const uint8_t *row_end, lzw_roots_state &state) noexcept
{
    lzw_take_roots<lzw_msb_first>(table, read_buffer, bit_bound, row_end, LZW_ROOTS,
                                  std::integral_constant<uint32_t, code_width>{}, true, state);
}

// What cutting rows came to: status 0 to go on, 1 when the last row asked for went out, or the
// negative value put_row refused with; `rows` rows were delivered either way.
struct tif_cut_result {
    int32_t status;
    uint32_t rows;
};

// Where rows go: the host's row buffer, the rows owed and how many went out.
struct tif_rows {
    const codec_callbacks &cb;
    uint8_t *buffer;
    uint32_t row_bytes;
    uint32_t first_row;
    uint32_t row_count;
    int32_t row_context;
    uint32_t delivered = 0;
    // Set by a run: every byte of the front's row_bytes is `uniform_byte` except, at most, those
    // from `uniform_at` up to `uniform_end` or the output position, whichever is further: bytes
    // left from the row before and codes decoded since. Decoded bytes only go at and before the
    // output position, so this holds until rows are cut (which moves bytes to the front) or a run
    // of another byte is written.
    bool uniform = false;
    uint8_t uniform_byte = 0;
    uint8_t *uniform_at = nullptr;
    uint8_t *uniform_end = nullptr;
};

// Hands every complete row that has gathered in the row buffer to put_row, each from the start of
// the buffer. The bytes left over move to the front, over the tail of the last row delivered, as
// if every row had been shifted out in turn: an unfinished row delivered later shows that tail.
ORVELN1_NOINLINE tif_cut_result tif_cut_rows(tif_rows &rows, std::size_t pending) noexcept
{
    uint8_t *const row_buffer = rows.buffer;
    const uint32_t row_bytes = rows.row_bytes;
    // A row that ends exactly at the front's end goes out unmoved: one that holds a single byte
    // throughout leaves the front so.
    rows.uniform = rows.uniform && pending == row_bytes && rows.uniform_at == row_buffer + row_bytes;
    rows.uniform_at = row_buffer;
    rows.uniform_end = row_buffer;
    const uint32_t row_index = rows.first_row + rows.delivered;
    const uint32_t rows_wanted = rows.row_count - rows.delivered;
    std::size_t offset = 0;
    uint32_t done = 0;
    for (;;) {
        // Later rows lie at least row_bytes in, so they never overlap the front.
        if (offset != 0)
            std::memcpy(row_buffer, row_buffer + offset, row_bytes);
        const int32_t r = rows.cb.put_row(row_buffer, rows.row_context, static_cast<int32_t>(row_index + done), 0);
        if (r < 0)
            return {r, done};
        ++done;
        offset += row_bytes;
        pending -= row_bytes;
        // The row count is met by equality only, so a row count of 0 never ends the strip here.
        if (done == rows_wanted)
            return {1, done};
        if (pending < row_bytes)
            break;
    }
    std::memcpy(row_buffer, row_buffer + offset, pending);
    return {0, done};
}

// A run of n bytes of `byte` from out on. Within the row it is filled in place, or skipped where
// the front holds the byte already. Past the row's end the buffer's bytes and the rows handed over
// are those that writing the run whole and tif_cut_rows would give, but every row of the run after
// the first is the byte throughout, so the front is filled with it once and handed over again,
// and the bytes left over are the byte at the front. Bytes the front holds already are not
// written again. Returns, besides what cutting came to, the run's end, where output goes on: the
// decode loop keeps its output position in a register, which a reference would take from it.
struct tif_run_result {
    tif_cut_result cut;
    uint8_t *out;
};
ORVELN1_NOINLINE tif_run_result tif_put_run(tif_rows &rows, uint8_t *out, uint32_t n, uint8_t byte) noexcept
{
    uint8_t *const front = rows.buffer;
    const uint32_t row_bytes = rows.row_bytes;
    const auto in_row = static_cast<std::size_t>(front + row_bytes - out);
    const std::size_t here = std::min<std::size_t>(n, in_row);
    // The front's bytes before out that may not hold the byte: those of the row before out, or,
    // where the front holds the byte, those from uniform_at on.
    uint8_t *stale = front;
    if (rows.uniform && rows.uniform_byte == byte) {
        stale = rows.uniform_at;
        // Only bytes left from the row before, below uniform_end, may differ at and past out.
        if (rows.uniform_end > out)
            std::memset(out, byte, std::min(here, static_cast<std::size_t>(rows.uniform_end - out)));
        if (stale == out && n <= in_row)
            rows.uniform_at = out + n;
    } else {
        std::memset(out, byte, here);
        rows.uniform = false;
    }
    if (n <= in_row)
        return {{0, 0}, out + n};
    const uint32_t row_index = rows.first_row + rows.delivered;
    const uint32_t rows_wanted = rows.row_count - rows.delivered;
    std::size_t left = n - in_row;
    uint32_t done = 0;
    for (;;) {
        const int32_t r = rows.cb.put_row(front, rows.row_context, static_cast<int32_t>(row_index + done), 0);
        if (r < 0)
            return {{r, done}, out};
        ++done;
        // As in tif_cut_rows, the row count is met by equality only.
        if (done == rows_wanted)
            return {{1, done}, out};
        if (left < row_bytes)
            break;
        std::memset(stale, byte, static_cast<std::size_t>(out - stale));
        stale = out;
        left -= row_bytes;
    }
    // The bytes left over hold the byte; the front's bytes past them stay as the last row had them,
    // so those from there to out may still differ.
    uint8_t *const end = front + left;
    std::memset(stale, byte, static_cast<std::size_t>(std::max(std::min(end, out), stale) - stale));
    rows.uniform = true;
    rows.uniform_byte = byte;
    rows.uniform_at = end;
    rows.uniform_end = stale == out ? end : std::max(end, out);
    return {{0, done}, end};
}

// The strip ended early (end code or bad data): the rows still owed go out as the row buffer
// stands, each holding the bytes decoded for the unfinished row. A refusal stops them.
int32_t tif_deliver_missing_rows(const tif_rows &rows, int32_t result) noexcept
{
    for (uint32_t k = rows.delivered; k < rows.row_count; ++k) {
        const int32_t r = rows.cb.put_row(rows.buffer, rows.row_context, static_cast<int32_t>(rows.first_row + k), 0);
        if (r < 0)
            return r;
    }
    return result;
}

// The string a code just produced, in the form that defines the entry after it: that entry's
// word is `word` with the appended byte shifted up by `shift`, its record `record` (the string's
// link bits and length plus one). `long_first` is the first byte of a string of 8 bytes or more;
// a shorter string's word begins with it, and the common path does not set it.
template <typename W> struct tif_prev {
    W word;
    uint32_t shift;
    uint32_t record;
    uint32_t long_first;

    ORVELN1_FORCEINLINE static tif_prev of(const lzw_string_of<W> &s) noexcept
    {
        return {s.word, lzw_detail::append_shift(s.length), s.link_bits | (s.length + 1), s.first};
    }
    ORVELN1_FORCEINLINE void set_short(W w, uint32_t n) noexcept
    {
        word = w;
        shift = 8 * n;
        record = n + 1;
    }
    [[nodiscard]] ORVELN1_FORCEINLINE uint32_t length() const noexcept { return (record & LZW_LENGTH_MASK) - 1; }
    [[nodiscard]] ORVELN1_FORCEINLINE uint32_t first() const noexcept
    {
        return length() < LZW_SHORT_STRING ? static_cast<uint8_t>(lzw_low32(word)) : long_first;
    }
    [[nodiscard]] ORVELN1_FORCEINLINE lzw_string_of<W> string() const noexcept
    {
        return {word, length(), first(), record & ~LZW_LENGTH_MASK};
    }
};

// Decoded bytes waiting for their row run from the row buffer's front up to `at`; `tail` holds
// the last TIF_TAIL_BYTES of them (its bytes for places before the front mean nothing).
struct tif_output {
    uint8_t *at;
    uint64_t tail;
    bool short_judged;
};

// How a table generation ended: at a clear code (decoding goes on with the next generation), or
// for good with `result`; `finish` says the owed rows are still to be delivered.
constexpr int32_t TIF_CLEARED = 2;
struct tif_stop {
    int32_t result;
    bool finish;
};

// What a table generation's decode works with and never changes: the host's input, the table, where
// rows go and the row buffer's bounds. The host's row buffer ends at room_end: a string starts
// before the row's end and is at most TIF_LONGEST_STRING long. `whole_from` is row_buffer +
// TIF_TAIL_BYTES (see tif_put_short); `produced_before` the strip's decoded bytes before this
// generation.
template <typename W> struct tif_generation_input {
    const codec_callbacks &cb;
    int32_t io_handle;
    uint8_t *read_buffer;
    tif_bit_reader &reader;
    // A handle to the table's block: defining entries leaves the handle as it is.
    mutable lzw_decode_table_of<W> table;
    tif_rows &rows;
    const lzw_paths &paths;
    uint8_t *row_buffer;
    uint8_t *row_end;
    const uint8_t *room_end;
    const uint8_t *whole_from;
    uint64_t produced_before;
};

// What every code of a generation needs: the reader's bit position, the bound below which it reads
// without a check, the code space, the previous string, the output position and tail, and the
// verdicts on the paths. Each path of the decode loop below takes it and hands it on; all of them
// are forced inline into the loop, so that the compiler keeps the state in registers.
template <typename W> struct tif_loop_state {
    uint32_t bit_pos;
    uint32_t fast_end;
    // Below bit_bound a code is read with no check: it lies below fast_end and the code space
    // needs no settling before it. 0 sends the first code the slow way, which sets the bound.
    uint32_t bit_bound;
    tif_code_space space;
    tif_prev<W> prev;
    uint8_t *out;
    W tail;
    // Codes below this take the roots' path of their own (tif_take_root): LZW_ROOTS when roots are
    // so many among this generation's codes that they are worth it (lzw_judge_roots), else 0, which
    // no code is below, so that one comparison decides; roots_in_fours when that path takes them
    // four to a window. Judged where bit_bound is set, from what is known there anyway: the bytes
    // decoded and the codes read since the reset.
    uint32_t roots_path_below;
    bool roots_in_fours;
    // Whether stretches of short strings take a loop of their own (tif_short_codes): judged at
    // each row cut from the bytes per code since the cut before, and carried over from the
    // generation before. Where long strings are common the stretches between them are short, and
    // entering and leaving the loop would cost more than it saves. A stretch may begin below
    // short_bound: bit_bound where the loop is taken (it also needs the roots' path off), else 0,
    // so that one comparison decides.
    bool short_judged;
    uint32_t short_bound;
    uint64_t produced_at_cut;
    uint32_t codes_at_cut;
    // Set by the path that ends the generation.
    tif_stop stop;

    ORVELN1_FORCEINLINE void set_short_bound() noexcept
    {
        short_bound = short_judged && roots_path_below == 0 ? bit_bound : 0;
    }
    // The next code while no check is due.
    [[nodiscard]] ORVELN1_FORCEINLINE uint32_t take_code(const uint8_t *read_buffer) noexcept
    {
        const uint32_t c = tif_window_code(read_buffer, bit_pos, space.window_shift);
        bit_pos += space.code_width;
        return c;
    }
    // Whether the next code, while no check is due, is the one the current step defines.
    [[nodiscard]] ORVELN1_FORCEINLINE bool next_is_new(const uint8_t *read_buffer) const noexcept
    {
        return bit_pos < bit_bound && tif_window_code(read_buffer, bit_pos, space.window_shift) == space.next_code;
    }
};

// Whether the rows that the output up to `end` completes are fewer than the rows still wanted:
// decoding then goes on past them, and the next code may be taken before they are handed over.
template <typename W>
ORVELN1_FORCEINLINE inline bool tif_rows_go_on(const tif_generation_input<W> &in, const uint8_t *end) noexcept
{
    return static_cast<uint64_t>(end - in.row_buffer) <
           uint64_t{in.rows.row_count - in.rows.delivered} * in.rows.row_bytes;
}

// The code c that the current step defines, the previous string (8 bytes or more, not a run) and its
// first byte: copied where the previous string lies whole before out, else expanded; its entry
// defined.
template <typename W>
ORVELN1_FORCEINLINE inline void tif_put_repeat(const tif_generation_input<W> &in, tif_loop_state<W> &s,
                                               uint32_t c) noexcept
{
    const lzw_string_of<W> str =
        in.table.expand_new(c, s.prev.string(), s.out, static_cast<std::size_t>(s.out - in.row_buffer), in.room_end);
    s.out += str.length;
    // The previous string, 7 bytes or more, ends the tail; its first byte follows.
    s.tail = tif_tail_after_short(s.tail, lzw_word<W>(str.first), 1);
    s.prev = tif_prev<W>::of(str);
    s.space.advance();
}

// Before rows are cut after a long string that went past the row's end: where the next code is the
// one the current step defines (the string again and its first byte, as one colour of 2-byte to
// 4-byte pixels codes), it is copied from the string now, while the string lies whole before out.
// Once the rows are cut it would be walked again.
template <typename W>
ORVELN1_FORCEINLINE inline void tif_copy_before_cut(const tif_generation_input<W> &in, tif_loop_state<W> &s) noexcept
{
    const uint32_t n = s.prev.length();
    if (n < TIF_PAIRED_FROM || (s.prev.record & LZW_RUN_FLAG) != 0 || s.bit_pos >= s.bit_bound ||
        n >= static_cast<std::size_t>(in.room_end - s.out) || n > static_cast<std::size_t>(s.out - in.row_buffer) ||
        tif_window_code(in.read_buffer, s.bit_pos, s.space.window_shift) != s.space.next_code ||
        !tif_rows_go_on(in, s.out))
        return;
    s.bit_pos += s.space.code_width;
    tif_put_repeat(in, s, s.space.next_code);
}

// The output has reached the row's end: hands the complete rows over and judges the short strings'
// loop from the bytes per code since the last cut. False when decoding stops.
template <typename W>
ORVELN1_FORCEINLINE inline bool tif_cut(const tif_generation_input<W> &in, tif_loop_state<W> &s) noexcept
{
    tif_copy_before_cut(in, s);
    tif_rows &rows = in.rows;
    const tif_cut_result r = tif_cut_rows(rows, static_cast<std::size_t>(s.out - in.row_buffer));
    rows.delivered += r.rows;
    s.out -= static_cast<std::size_t>(r.rows) * rows.row_bytes;
    if (r.status != 0) {
        s.stop = {r.status, false};
        return false;
    }
    const uint64_t produced =
        uint64_t{rows.delivered} * rows.row_bytes + static_cast<std::size_t>(s.out - in.row_buffer);
    // A full table's next_code can step back by one (see settle); no entries were counted.
    const uint32_t codes = s.space.next_code > s.codes_at_cut ? s.space.next_code - s.codes_at_cut : 0;
    s.short_judged = in.paths.short_strings == LZW_BY_DATA
                         ? produced - s.produced_at_cut < uint64_t{codes} * TIF_SHORT_LOOP_BYTES
                         : in.paths.short_strings != 0;
    s.set_short_bound();
    s.produced_at_cut = produced;
    s.codes_at_cut = s.space.next_code;
    return true;
}

// The next code where a check is due: settles the code space, reads (refilling when the bytes held
// run out), then sets the bound of the codes that follow unchecked and judges the roots anew.
template <typename W>
ORVELN1_FORCEINLINE inline uint32_t tif_read_checked(const tif_generation_input<W> &in, tif_loop_state<W> &s) noexcept
{
    s.space.settle();
    uint32_t c;
    if (s.bit_pos < s.fast_end) {
        c = s.take_code(in.read_buffer);
    } else {
        in.reader.bit_pos = s.bit_pos;
        // ERR_READ, as unsigned, lies beyond every code.
        c = static_cast<uint32_t>(
            tif_read_code(in.cb, in.io_handle, in.read_buffer, in.reader, static_cast<int>(s.space.code_width)));
        s.bit_pos = in.reader.bit_pos;
        s.fast_end = tif_fast_end(in.reader);
    }
    // The codes so far: the literal after the clear code, and one per entry defined since. Once
    // the table is full the entries stop counting and the share only falls.
    const uint64_t codes = s.space.next_code - TIF_FIRST_TABLE_CODE + 1;
    const uint32_t stretch =
        codes == 1 ? std::min(s.space.codes_before_event(), TIF_FIRST_VERDICT_CODES) : s.space.codes_before_event();
    s.bit_bound = std::min(s.fast_end, s.bit_pos + stretch * s.space.code_width);
    const uint64_t produced = uint64_t{in.rows.delivered} * in.rows.row_bytes +
                              static_cast<std::size_t>(s.out - in.row_buffer) - in.produced_before;
    const lzw_roots_path roots = lzw_roots_verdict(in.paths, produced, codes);
    s.roots_path_below = roots == lzw_roots_path::general ? 0 : LZW_ROOTS;
    s.roots_in_fours = roots == lzw_roots_path::in_fours;
    s.set_short_bound();
    return c;
}

// A root, on the roots' path. A root names its own byte, and no table read is needed to know it.
// Content that does not compress is nearly all roots, so they take the shortest path: one byte
// stored, which touches nothing past the decoded bytes, and the entry the root before and this one
// make. Where nearly every code is a root (roots_in_fours), the roots that follow while no check is
// due go on in a loop of their own, four to a window (tif_root_codes), and the tail is taken from
// the bytes once they are written rather than carried from code to code.
template <typename W>
ORVELN1_FORCEINLINE inline void tif_take_root(const tif_generation_input<W> &in, tif_loop_state<W> &s,
                                              uint32_t c) noexcept
{
    in.table.set(s.space.next_code, s.prev.word | lzw_word<W>(c) << s.prev.shift, s.prev.record);
    s.space.advance();
    if (s.roots_in_fours) {
        *s.out = static_cast<uint8_t>(c);
        lzw_roots_state roots{s.bit_pos, s.space.next_code, c, s.out + 1};
        tif_with_code_width(s.space.code_width, [&](auto width) {
            tif_root_codes<width()>(lzw_decode_table(in.table.block()), in.read_buffer, s.bit_bound, in.row_end, roots);
        });
        s.bit_pos = roots.bit_pos;
        s.space.next_code = roots.next_code;
        s.tail = tif_tail_after_bytes(s.tail, s.out, roots.out);
        s.out = roots.out;
        s.prev.set_short(lzw_word<W>(roots.last), 1);
        return;
    }
    // Stretches of roots are short here: they stay in this loop, whose few values all fit in
    // registers, the tail carried from code to code.
    uint8_t *at = s.out;
    W last_eight = tif_tail_after_short(s.tail, lzw_word<W>(c), 1);
    *at++ = static_cast<uint8_t>(c);
    while (at < in.row_end && s.bit_pos < s.bit_bound) {
        const uint32_t d = tif_window_code(in.read_buffer, s.bit_pos, s.space.window_shift);
        if (d >= LZW_ROOTS)
            break;
        s.bit_pos += s.space.code_width;
        // The entry is the root before followed by this one.
        in.table.set(s.space.next_code, lzw_word<W>(c | d << 8), 2);
        s.space.advance();
        last_eight = tif_tail_after_short(last_eight, lzw_word<W>(d), 1);
        *at++ = static_cast<uint8_t>(d);
        c = d;
    }
    s.out = at;
    s.tail = last_eight;
    s.prev.set_short(lzw_word<W>(c), 1);
}

// A run that goes past the row's end, or any run while the front holds one byte, handed over by
// tif_put_run; its entry is defined, and it becomes the previous string. The codes after it that
// each name the string before them followed by its first byte (the form a long stretch of one byte
// takes) lengthen the run: while no check is due they are taken here and the whole stretch goes out
// in one piece, as it would one code at a time. False when decoding stops.
template <typename W>
ORVELN1_FORCEINLINE inline bool tif_put_runs(const tif_generation_input<W> &in, tif_loop_state<W> &s,
                                             lzw_string_of<W> run) noexcept
{
    uint32_t length = run.length;
    while (s.next_is_new(in.read_buffer)) {
        s.bit_pos += s.space.code_width;
        run = in.table.template extend_run<true>(s.space.next_code, run);
        s.space.advance();
        length += run.length;
    }
    s.prev = tif_prev<W>::of(run);
    const tif_run_result put = tif_put_run(in.rows, s.out, length, static_cast<uint8_t>(run.first));
    const tif_cut_result r = put.cut;
    s.out = put.out;
    in.rows.delivered += r.rows;
    s.tail = lzw_repeat_byte<W>(run.first);
    if (r.status != 0)
        s.stop = {r.status, false};
    return r.status == 0;
}

// A run that ends within the row, its entry defined and counted, whose bytes are still to be
// written from out on. The codes after it that each name the string before them followed by its
// first byte lengthen the run; while no check is due and the run stays within the row they are
// taken here and the bytes go out in one fill. Flat areas decode as chains of such codes, each of
// which would otherwise take a pass of the general loop and a copy of the string before it. The
// first of a chain starts from a run of any length, the rest from one a byte longer each (see
// extend_long).
template <typename W, bool Blended>
ORVELN1_FORCEINLINE inline void tif_fill_runs(const tif_generation_input<W> &in, tif_loop_state<W> &s,
                                              lzw_string_of<W> run) noexcept
{
    uint32_t unwritten = run.length;
    const auto more = [&] {
        return s.bit_pos < s.bit_bound && s.out + unwritten + run.length + 1 <= in.row_end &&
               tif_window_code(in.read_buffer, s.bit_pos, s.space.window_shift) == s.space.next_code;
    };
    if (more()) {
        s.bit_pos += s.space.code_width;
        run = in.table.extend_run(s.space.next_code, run);
        s.space.advance();
        unwritten += run.length;
        while (more()) {
            s.bit_pos += s.space.code_width;
            run = in.table.template extend_run<true>(s.space.next_code, run);
            s.space.advance();
            unwritten += run.length;
        }
    }
    tif_fill_run<Blended>(s.out, static_cast<uint8_t>(run.first), unwritten, in.row_end, in.room_end);
    s.out += unwritten;
    s.tail = lzw_repeat_byte<W>(run.first);
    s.prev = tif_prev<W>::of(run);
}

// A code of the table whose string (`n` bytes) is 8 bytes or more, or a control code. False when
// decoding stops.
template <typename W, bool Blended>
ORVELN1_FORCEINLINE inline bool tif_take_long(const tif_generation_input<W> &in, tif_loop_state<W> &s, uint32_t c,
                                              uint32_t n) noexcept
{
    if (lzw_decode_table::is_control(n)) {
        s.stop = c == static_cast<uint32_t>(TIF_CLEAR_CODE) ? tif_stop{TIF_CLEARED, false} : tif_stop{1, true};
        return false;
    }
    lzw_string_of<W> str;
    if (in.table.run_string(c, str)) {
        in.table.set(s.space.next_code, s.prev.word | lzw_word<W>(str.first) << s.prev.shift, s.prev.record);
        s.space.advance();
        if (s.out + n > in.row_end || in.rows.uniform)
            return tif_put_runs(in, s, str);
        tif_fill_runs<W, Blended>(in, s, str);
        return true;
    }
    ORVELN1_ASSERT(s.out < in.row_end);
    // A long string followed, while no check is due, by another long one: the two are taken
    // together. One the table already holds is written in one walk with this one (expand_pair); the
    // one this step defines (the previous string and this one's first byte) is copied from the
    // output, where those bytes lie from the previous string's start when no rows were cut since.
    // The second may start past the row's end, in the room kept after it, unless the rows that the
    // first completes are the last ones wanted: decoding ends there, before the next code is read.
    if (LZW_PAIRED_WALKS && n >= TIF_PAIRED_FROM && s.bit_pos < s.bit_bound &&
        (s.out + n < in.row_end || tif_rows_go_on(in, s.out + n))) {
        const uint32_t d = tif_window_code(in.read_buffer, s.bit_pos, s.space.window_shift);
        const uint32_t before = s.prev.length();
        lzw_string_of<W> second;
        const bool copied = d == s.space.next_code && before >= 2 * LZW_SHORT_STRING &&
                            (s.prev.record & LZW_RUN_FLAG) == 0 &&
                            before < static_cast<std::size_t>(s.out - in.row_buffer) &&
                            before < static_cast<std::size_t>(in.room_end - s.out) - n;
        if (copied || (d < s.space.next_code && in.table.expand_pair(c, d, s.out, in.room_end, str, second))) {
            if (copied)
                str = in.table.expand(c, s.out, in.room_end);
            s.bit_pos += s.space.code_width;
            in.table.set(s.space.next_code, s.prev.word | lzw_word<W>(str.first) << s.prev.shift, s.prev.record);
            s.space.advance();
            if (copied)
                second = in.table.copy_defined(d, s.out + n, s.out - before, in.room_end);
            const tif_prev<W> between = tif_prev<W>::of(str);
            in.table.set(s.space.next_code, between.word | lzw_word<W>(second.first) << between.shift, between.record);
            s.space.advance();
            s.tail = in.table.last_eight(d);
            s.out += n + second.length;
            s.prev = tif_prev<W>::of(second);
            return true;
        }
    }
    s.tail = in.table.last_eight(c);
    str = in.table.expand(c, s.out, in.room_end);
    in.table.set(s.space.next_code, s.prev.word | lzw_word<W>(str.first) << s.prev.shift, s.prev.record);
    s.out += n;
    s.prev = tif_prev<W>::of(str);
    s.space.advance();
    return true;
}

// The code that the current step defines, where the previous string is 8 bytes or more (`n`).
// False when decoding stops.
template <typename W, bool Blended>
ORVELN1_FORCEINLINE inline bool tif_take_new_long(const tif_generation_input<W> &in, tif_loop_state<W> &s, uint32_t c,
                                                  uint32_t n) noexcept
{
    lzw_string_of<W> str;
    if (s.out + n > in.row_end || in.rows.uniform) {
        in.table.define(c, s.prev.string(), s.prev.first());
        if (in.table.run_string(c, str)) {
            s.space.advance();
            return tif_put_runs(in, s, str);
        }
    }
    if ((s.prev.record & LZW_RUN_FLAG) != 0) {
        const lzw_string_of<W> run = in.table.extend_run(c, s.prev.string());
        s.space.advance();
        tif_fill_runs<W, Blended>(in, s, run);
        return true;
    }
    ORVELN1_ASSERT(s.out < in.row_end);
    tif_put_repeat(in, s, c);
    return true;
}

// A string shorter than 8 bytes (word `w`, `n` bytes), its entry defined. A short string often
// starts a stretch of them, which goes on in a loop of its own where that is judged worth it. Its
// stores need not check the row buffer's front.
template <typename W>
ORVELN1_FORCEINLINE inline void tif_take_short(const tif_generation_input<W> &in, tif_loop_state<W> &s, W w,
                                               uint32_t n) noexcept
{
    s.tail = tif_tail_after_short(s.tail, w, n);
    s.out += n;
    tif_put_short(in.row_buffer, in.whole_from, s.out, s.tail);
    s.prev.set_short(w, n);
    s.space.advance();
    if (s.bit_pos < s.short_bound && s.out >= in.whole_from) {
        tif_short_state<W> st{s.bit_pos, s.space.next_code, w, n, s.out, s.tail};
        tif_with_code_width(s.space.code_width, [&](auto width) {
            tif_short_codes<width()>(in.table, in.read_buffer, s.bit_bound, in.row_end, st);
        });
        s.bit_pos = st.bit_pos;
        s.space.next_code = st.next_code;
        s.prev.set_short(st.prev_word, st.prev_length);
        s.out = st.out;
        s.tail = st.tail;
    }
}

// The TIFF decoder's part of the shared code loop (lzw_decode_codes): codes read with one check per
// code against the bit bound, widening one code early, and strings written exactly, a short one by
// one store that ends where it ends (see TIF_TAIL_BYTES). Row cutting, refills, roots, strings of 8
// bytes or more and runs each take a path of their own above. `Blended` says how runs within the
// row are filled (see tif_fill_run).
template <typename W, bool Blended> struct tif_codes {
    // A string's word and length: the table's entry is read whole before its length is tested, as
    // the word is wanted on the common path (the 32-bit DLL decoded photographs 4 % slower with
    // the word read after the test).
    struct common_string {
        W word;
        uint32_t length;
    };
    using entry = common_string;
    static constexpr uint32_t long_from = LZW_SHORT_STRING;

    const tif_generation_input<W> &in;
    tif_loop_state<W> &s;
    lzw_decode_table_of<W> table;

    [[nodiscard]] ORVELN1_FORCEINLINE bool has_room() const noexcept { return s.out < in.row_end; }
    [[nodiscard]] ORVELN1_FORCEINLINE bool make_room() noexcept { return tif_cut(in, s); }
    [[nodiscard]] ORVELN1_FORCEINLINE uint32_t read_code() noexcept
    {
        if (s.bit_pos < s.bit_bound) [[likely]]
            return s.take_code(in.read_buffer);
        return tif_read_checked(in, s);
    }
    [[nodiscard]] ORVELN1_FORCEINLINE uint32_t roots_below() const noexcept { return s.roots_path_below; }
    [[nodiscard]] ORVELN1_FORCEINLINE uint32_t next_code() const noexcept { return s.space.next_code; }
    ORVELN1_FORCEINLINE void take_root(uint32_t c) noexcept { tif_take_root(in, s, c); }
    [[nodiscard]] ORVELN1_FORCEINLINE lzw_step take_long(uint32_t c, uint32_t n) noexcept
    {
        return tif_take_long<W, Blended>(in, s, c, n) ? lzw_step::taken : lzw_step::stop;
    }
    [[nodiscard]] ORVELN1_FORCEINLINE entry look_up(uint32_t c) const noexcept
    {
        return {table.word(c), table.length(c)};
    }
    [[nodiscard]] ORVELN1_FORCEINLINE common_string common(uint32_t, const entry &e) noexcept
    {
        table.set(s.space.next_code, s.prev.word | (e.word & lzw_word<W>(0xFF)) << s.prev.shift, s.prev.record);
        return e;
    }
    [[nodiscard]] ORVELN1_FORCEINLINE lzw_step take_new(uint32_t c, common_string &str) noexcept
    {
        const uint32_t n = s.prev.record & LZW_LENGTH_MASK;
        if (n >= LZW_SHORT_STRING)
            return tif_take_new_long<W, Blended>(in, s, c, n) ? lzw_step::taken : lzw_step::stop;
        // A string this short begins its word.
        const W w = s.prev.word | lzw_word<W>(lzw_low32(s.prev.word) & 0xFF) << s.prev.shift;
        table.set(c, w, s.prev.record);
        str = {w, n};
        return lzw_step::common;
    }
    // A failed read is told apart from a code beyond the next free one only here, where decoding
    // has stopped anyway; tif_lzw_decompress reports both as bad data.
    ORVELN1_FORCEINLINE void unknown(uint32_t c) noexcept
    {
        s.stop = {c == static_cast<uint32_t>(ERR_READ) ? ERR_READ : ERR_BAD_DATA, true};
    }
    ORVELN1_FORCEINLINE void put(const common_string &str) noexcept { tif_take_short(in, s, str.word, str.length); }
};

// Decodes the codes of one table generation, from the one after a clear code to the next clear
// code or the end of the strip, by the shared code loop (tif_codes). W is the form the words are
// held in (see lzw_word.hpp).
template <typename W, bool Blended>
ORVELN1_FORCEINLINE inline tif_stop
tif_decode_generation(const codec_callbacks &cb, int32_t io_handle, uint8_t *read_buffer, tif_bit_reader &reader,
                      lzw_decode_table_of<W> table, tif_rows &rows, tif_output &output, const lzw_paths &paths) noexcept
{
    table.reset(TIF_CLEAR_CODE);
    // The code after a clear code names a single byte: the reset defined nothing else. A repeated
    // clear code clears again, the end code ends the strip, and anything else (a failed read
    // included) is bad data.
    const int32_t literal = tif_read_code(cb, io_handle, read_buffer, reader, TIF_MIN_CODE_WIDTH);
    if (literal == TIF_CLEAR_CODE)
        return {TIF_CLEARED, false};
    if (literal == TIF_END_CODE)
        return {1, true};
    if (literal == ERR_READ)
        return {ERR_READ, true};
    if (literal < 0 || literal >= static_cast<int32_t>(LZW_ROOTS))
        return {ERR_BAD_DATA, true};
    const auto byte = static_cast<uint32_t>(literal);
    uint8_t *const row_buffer = rows.buffer;
    uint8_t *const row_end = row_buffer + rows.row_bytes;
    const uint64_t produced_before =
        uint64_t{rows.delivered} * rows.row_bytes + static_cast<std::size_t>(output.at - row_buffer);
    const tif_generation_input<W> in{cb,
                                     io_handle,
                                     read_buffer,
                                     reader,
                                     table,
                                     rows,
                                     paths,
                                     row_buffer,
                                     row_end,
                                     row_end + TIF_ROW_SLACK_BYTES,
                                     row_buffer + TIF_TAIL_BYTES,
                                     produced_before};
    tif_loop_state<W> s{reader.bit_pos,
                        tif_fast_end(reader),
                        0,
                        {},
                        tif_prev<W>::of({lzw_word<W>(byte), 1, byte}),
                        output.at,
                        tif_tail_after_short(lzw_load<W>(&output.tail), lzw_word<W>(byte), 1),
                        0,
                        false,
                        output.short_judged,
                        0,
                        produced_before,
                        TIF_FIRST_TABLE_CODE - 1,
                        {}};
    *s.out++ = static_cast<uint8_t>(byte);
    tif_codes<W, Blended> d{in, s, table};
    lzw_decode_codes(d);
    reader.bit_pos = s.bit_pos;
    output.at = s.out;
    lzw_store_word(&output.tail, s.tail);
    output.short_judged = s.short_judged;
    return s.stop;
}

// What the decode of a strip works with, past its first clear code.
struct tif_strip_args {
    const codec_callbacks &cb;
    int32_t io_handle;
    uint8_t *read_buffer;
    tif_bit_reader &reader;
    uint8_t *table_block;
    tif_rows &rows;
    tif_output &output;
    const lzw_paths &paths;
};

// Decodes the table generations of a strip, after its first clear code, until it ends.
template <typename W, bool Blended>
ORVELN1_FORCEINLINE inline tif_stop tif_decode_generations(const tif_strip_args &a) noexcept
{
    const lzw_decode_table_of<W> table(a.table_block);
    tif_stop stop;
    do {
        stop = tif_decode_generation<W, Blended>(a.cb, a.io_handle, a.read_buffer, a.reader, table, a.rows, a.output,
                                                 a.paths);
    } while (stop.result == TIF_CLEARED);
    return stop;
}

// One function for each path of the decode loop that lzw_choose_paths can pick: the plain one,
// which every target has; the blended fill where every CPU of the target has SSE2; the words in
// SSE2 registers and the blended fill, built for SSE2, where the CPU must be asked.
ORVELN1_NOINLINE tif_stop tif_decode_plain(const tif_strip_args &a) noexcept
{
    return tif_decode_generations<uint64_t, false>(a);
}
#if defined(__x86_64__)
ORVELN1_NOINLINE tif_stop tif_decode_blended(const tif_strip_args &a) noexcept
{
    return tif_decode_generations<uint64_t, true>(a);
}
#endif
#if defined(ORVELN1_HAVE_SSE2_WORDS)
ORVELN1_NOINLINE ORVELN1_SSE2_TARGET tif_stop tif_decode_sse2(const tif_strip_args &a) noexcept
{
    return tif_decode_generations<lzw_xmm_word, true>(a);
}
#endif

} // namespace

tif_bit_reader tif_refill(const codec_callbacks &cb, int32_t io_handle, uint8_t *read_buffer, tif_bit_reader reader,
                          int code_width) noexcept
{
    while (reader.bit_end - reader.bit_pos < static_cast<uint32_t>(code_width)) {
        // Fewer than 12 bits are left, all in the last one or two delivered bytes.
        const uint32_t left = reader.bit_end - reader.bit_pos;
        const uint32_t carry = (left + 7) / 8;
        const uint32_t carry_from = reader.bit_end / 8 - carry;
        std::memmove(read_buffer, read_buffer + carry_from, carry);
        reader.bit_pos -= carry_from * 8;
        reader.bit_end = carry * 8;

        const int32_t asked = TIF_READ_CHUNK_BYTES - static_cast<int32_t>(carry);
        const int32_t got = cb.read(io_handle, read_buffer + carry, asked);
        // Only the bytes delivered are decoded; no result can claim more than was asked, and a
        // negative one is a failed read.
        if (got <= 0)
            break;
        reader.bit_end += static_cast<uint32_t>(std::min(got, asked)) * 8;
    }
    return reader;
}

int32_t tif_lzw_decompress(const codec_callbacks &cb, int32_t io_handle, uint8_t *read_buffer, int32_t first_row,
                           uint32_t row_bytes, uint8_t *row_buffer, uint32_t row_count, int32_t row_context,
                           tif_strip_end *end) noexcept
{
    // With no bytes to a row no row is ever complete, and the strip would never end.
    if (row_bytes == 0)
        return ERR_BAD_DATA;
    lzw_block block(TIF_DECODE_TABLE_BYTES);
    if (!block)
        return ERR_NO_MEMORY;

    tif_bit_reader reader{0, 0};
    const int32_t first = tif_read_code(cb, io_handle, read_buffer, reader, TIF_MIN_CODE_WIDTH);
    if (first != TIF_CLEAR_CODE) {
        if (end != nullptr)
            *end = {0, first == ERR_READ};
        return ERR_BAD_DATA;
    }

    tif_rows rows{cb, row_buffer, row_bytes, static_cast<uint32_t>(first_row), row_count, row_context};
    const lzw_paths paths = lzw_choose_paths();
    tif_output output{row_buffer, 0, paths.short_strings != 0};
    const tif_strip_args args{cb, io_handle, read_buffer, reader, block.get(), rows, output, paths};
    tif_stop stop;
#if defined(ORVELN1_HAVE_SSE2_WORDS)
    if (paths.sse2_words)
        stop = tif_decode_sse2(args);
    else
#elif defined(__x86_64__)
    if (paths.blended_fill)
        stop = tif_decode_blended(args);
    else
#endif
        stop = tif_decode_plain(args);
    // Only decoding stops with ERR_READ and `finish`; a host's refusal of the same value is passed on.
    const bool ran_out = stop.finish && stop.result == ERR_READ;
    if (ran_out)
        stop.result = ERR_BAD_DATA;
    if (end != nullptr)
        *end = {static_cast<uint32_t>(output.at - row_buffer), ran_out};
    if (!stop.finish)
        return stop.result;
    return tif_deliver_missing_rows(rows, stop.result);
}

} // namespace orveln1
