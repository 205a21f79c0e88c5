// SPDX-License-Identifier: MIT
// TIFF LZW strip decoding: the chunked code reader, and the decode loop that expands codes through
// the shared decode table into the row buffer and cuts it into rows.
#include "tiff/tif_decompressor.hpp"

#include <algorithm>

#include "boundary/memory.hpp"
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

// A short string goes out with one 8-byte store, whose bytes past the string are junk until the
// next string covers them. Should the strip end first, the unfinished row delivered after it must
// show the buffer as it was there. The shadow keeps those bytes: the row buffer byte at address a
// as it was before any junk store, at shadow[a mod 256], recorded 8 aligned bytes at a time ahead
// of the output position, so that the record does not wait on the previous one.
inline std::size_t tif_shadow_index(const uint8_t *p) noexcept
{
    return reinterpret_cast<uintptr_t>(p) % TIF_SHADOW_BYTES;
}
inline const uint8_t *tif_align_down(const uint8_t *p) noexcept
{
    return p - reinterpret_cast<uintptr_t>(p) % 8;
}
// Records the 8 bytes from `block`, an address that is a multiple of 8.
inline void tif_shadow_block(uint8_t *shadow, const uint8_t *block) noexcept
{
    std::memcpy(shadow + tif_shadow_index(block), block, 8);
}
// The shadow's records reach this far from the output position: the aligned block that begins
// within out + 8 to out + 15. While out is inside the row they stay inside the row buffer.
constexpr uint32_t TIF_SHADOW_REACH = 24;
static_assert(TIF_SHADOW_REACH - 1 <= TIF_ROW_SLACK_BYTES);
static_assert(LZW_STORE_OVERRUN < TIF_SHADOW_REACH);
// Records the 16 bytes from out, none of them junk: enough for the short strings after it.
inline void tif_shadow_from(uint8_t *shadow, const uint8_t *out) noexcept
{
    for (int i = 0; i < 16; ++i)
        shadow[tif_shadow_index(out + i)] = out[i];
}
// Puts back the 8 bytes from out, which junk stores may have covered.
inline void tif_shadow_restore(const uint8_t *shadow, uint8_t *out) noexcept
{
    for (int i = 0; i < 8; ++i)
        out[i] = shadow[tif_shadow_index(out + i)];
}
// Before a string of n bytes (8 or more) is written at out: records the two aligned blocks from
// the one holding out + n, which the next string's junk can reach. Nothing from out + n on is junk
// yet: earlier junk lies below out + 8. Recording before the string's stores keeps these loads off
// bytes still being stored (a fill or the chunks), which they would have to wait for.
inline void tif_shadow_before_long(uint8_t *shadow, const uint8_t *out, uint32_t n, const uint8_t *row_end) noexcept
{
    if (out + n < row_end) {
        tif_shadow_block(shadow, tif_align_down(out + n));
        tif_shadow_block(shadow, tif_align_down(out + n) + 8);
    }
}
// After a string of fewer than 8 bytes written at out: records the first aligned block from out + 8
// on, where its store did not reach. The blocks recorded so far reach at least that far, and the
// next string starts fewer than 8 bytes on.
inline void tif_shadow_after_short(uint8_t *shadow, const uint8_t *out) noexcept
{
    tif_shadow_block(shadow, tif_align_down(out + 15));
}

// The code width and the next free code of one table generation. TIFF widens one code early (see
// TIF_FIRST_WIDTH_LIMIT); once 4096 entries exist, next_code stays at 4096 and every code defines
// the spare entry 4096 again, which no code reads.
struct tif_code_space {
    uint32_t code_width = TIF_MIN_CODE_WIDTH;
    uint32_t next_code = TIF_FIRST_TABLE_CODE;
    uint32_t width_limit = TIF_FIRST_WIDTH_LIMIT;
    // next_code's value at which the width steps or the table fills.
    uint32_t event_code = TIF_FIRST_WIDTH_LIMIT - 1;

    void advance() noexcept
    {
        ++next_code;
        if (next_code == event_code) [[unlikely]] {
            if (next_code == width_limit - 1) {
                code_width += code_width < TIF_MAX_CODE_WIDTH ? 1 : 0;
                width_limit <<= 1;
            }
            if (next_code > static_cast<uint32_t>(TIF_CODE_LIMIT))
                next_code = TIF_CODE_LIMIT;
            event_code = std::min(width_limit - 1, static_cast<uint32_t>(TIF_CODE_LIMIT) + 1);
        }
    }
};

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
};

// Hands every complete row that has gathered in the row buffer to put_row, each from the start of
// the buffer. The bytes left over move to the front, over the tail of the last row delivered, as
// if every row had been shifted out in turn: an unfinished row delivered later shows that tail.
[[gnu::noinline]] tif_cut_result tif_cut_rows(const tif_rows &rows, std::size_t pending) noexcept
{
    uint8_t *const row_buffer = rows.buffer;
    const uint32_t row_bytes = rows.row_bytes;
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

// How a table generation ended: at a clear code (decoding goes on with the next generation), or
// for good with `result`; `finish` says the owed rows are still to be delivered. `out` is the
// output position either way.
constexpr int32_t TIF_CLEARED = 2;
struct tif_stop {
    int32_t result;
    bool finish;
    uint8_t *out;
};

// Decodes the codes of one table generation, from the one after a clear code to the next clear
// code or the end of the strip. The loop keeps what every code needs in locals: the reader's bit
// position and the bound below which it reads without a check, the code space, the previous string
// and the output position. Row cutting and refills leave the loop and come back.
tif_stop tif_decode_generation(const codec_callbacks &cb, int32_t io_handle, uint8_t *read_buffer,
                               tif_bit_reader &reader, lzw_decode_table table, uint8_t *shadow, tif_rows &rows,
                               uint8_t *out) noexcept
{
    table.reset(TIF_CLEAR_CODE);
    // The code after a clear code names a single byte: the reset defined nothing else. A repeated
    // clear code clears again, the end code ends the strip, and anything else (a failed read
    // included) is bad data.
    const int32_t literal = tif_read_code(cb, io_handle, read_buffer, reader, TIF_MIN_CODE_WIDTH);
    if (literal == TIF_CLEAR_CODE)
        return {TIF_CLEARED, false, out};
    if (literal == TIF_END_CODE)
        return {1, true, out};
    if (literal < 0 || literal >= static_cast<int32_t>(LZW_ROOTS))
        return {ERR_BAD_DATA, true, out};
    tif_shadow_restore(shadow, out);
    *out++ = static_cast<uint8_t>(literal);
    tif_shadow_from(shadow, out);

    const auto byte = static_cast<uint32_t>(literal);
    lzw_string prev{byte, 1, byte};
    tif_code_space space;
    uint8_t *const row_buffer = rows.buffer;
    uint8_t *const row_end = row_buffer + rows.row_bytes;
    uint32_t bit_pos = reader.bit_pos;
    uint32_t fast_end = tif_fast_end(reader);
    for (;;) {
        if (out >= row_end) {
            const tif_cut_result r = tif_cut_rows(rows, static_cast<std::size_t>(out - row_buffer));
            rows.delivered += r.rows;
            out -= static_cast<std::size_t>(r.rows) * rows.row_bytes;
            if (r.status != 0)
                return {r.status, false, out};
            tif_shadow_from(shadow, out);
        }

        uint32_t c;
        if (bit_pos < fast_end) [[likely]] {
            uint64_t window;
            std::memcpy(&window, read_buffer + (bit_pos >> 3), sizeof window);
            if constexpr (std::endian::native == std::endian::little)
                window = __builtin_bswap64(window);
            c = static_cast<uint32_t>((window << (bit_pos & 7)) >> (64 - space.code_width));
            bit_pos += space.code_width;
        } else {
            reader.bit_pos = bit_pos;
            // ERR_READ, as unsigned, lies beyond every code.
            c = static_cast<uint32_t>(
                tif_read_code(cb, io_handle, read_buffer, reader, static_cast<int>(space.code_width)));
            bit_pos = reader.bit_pos;
            fast_end = tif_fast_end(reader);
        }

        lzw_string s;
        if (c < space.next_code) [[likely]] {
            const uint32_t n = table.length(c);
            if (n >= LZW_SHORT_STRING) [[unlikely]] {
                if (lzw_decode_table::is_control(n)) {
                    reader.bit_pos = bit_pos;
                    return c == static_cast<uint32_t>(TIF_CLEAR_CODE) ? tif_stop{TIF_CLEARED, false, out}
                                                                      : tif_stop{1, true, out};
                }
                tif_shadow_before_long(shadow, out, n, row_end);
            }
            s = table.expand(c, out);
            table.define(space.next_code, prev, s.first);
        } else if (c == space.next_code) {
            if (prev.length + 1 >= LZW_SHORT_STRING)
                tif_shadow_before_long(shadow, out, prev.length + 1, row_end);
            s = table.expand_new(c, prev, out, static_cast<std::size_t>(out - row_buffer));
        } else {
            reader.bit_pos = bit_pos;
            return {ERR_BAD_DATA, true, out};
        }
        if (s.length < LZW_SHORT_STRING)
            tif_shadow_after_short(shadow, out);
        out += s.length;
        prev = s;
        space.advance();
    }
}

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
                           uint32_t row_bytes, uint8_t *row_buffer, uint32_t row_count, int32_t row_context) noexcept
{
    // With no bytes to a row no row is ever complete, and the strip would never end.
    if (row_bytes == 0)
        return ERR_BAD_DATA;
    lzw_block block(TIF_DECODE_TABLE_BYTES);
    if (!block)
        return ERR_NO_MEMORY;
    const lzw_decode_table table(block.get());
    uint8_t *const shadow = block.get() + TIF_SHADOW_OFFSET;

    tif_bit_reader reader{0, 0};
    if (tif_read_code(cb, io_handle, read_buffer, reader, TIF_MIN_CODE_WIDTH) != TIF_CLEAR_CODE)
        return ERR_BAD_DATA;

    tif_rows rows{cb, row_buffer, row_bytes, static_cast<uint32_t>(first_row), row_count, row_context};
    // Decoded bytes from row_buffer up to out wait for their row. While out < row_end, the
    // TIF_SHADOW_REACH bytes from out lie within the row_bytes + TIF_ROW_SLACK_BYTES of the buffer.
    uint8_t *out = row_buffer;
    tif_shadow_from(shadow, out);
    tif_stop stop;
    do {
        stop = tif_decode_generation(cb, io_handle, read_buffer, reader, table, shadow, rows, out);
        out = stop.out;
    } while (stop.result == TIF_CLEARED);
    if (!stop.finish)
        return stop.result;
    // The strip ended with out inside the unfinished row: put back what junk stores covered.
    tif_shadow_restore(shadow, out);
    return tif_deliver_missing_rows(rows, stop.result);
}

} // namespace orveln1
