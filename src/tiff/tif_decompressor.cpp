// SPDX-License-Identifier: MIT
// TIFF LZW strip decoding: the chunked code reader, the table reset and the decode loop that
// expands codes back to front into the row buffer and cuts it into rows.
#include "tiff/tif_decompressor.hpp"

#include <algorithm>

#include "boundary/memory.hpp"

namespace orveln1
{
namespace
{

// TIFF widens one code early: the decoder steps to 10, 11 and 12 bits when next_code reaches
// 511, 1023 and 2047, one before the width would require it, because the encoder that the format
// grew up with widened that early.
constexpr uint32_t TIF_FIRST_WIDTH_LIMIT = 1u << TIF_MIN_CODE_WIDTH;

// The lengths array follows the words in the block.
inline uint16_t *tif_lengths(uint64_t *words) noexcept
{
    return reinterpret_cast<uint16_t *>(words + TIF_TABLE_CODES);
}

// A short string goes out with one 8-byte store, whose bytes past the string are junk until the
// next string covers them. Should the strip end first, the unfinished row delivered after it must
// show the buffer as it was there. The shadow keeps those bytes: the row buffer byte at address a
// as it was before any junk store, at shadow[a mod 256], recorded 8 aligned bytes at a time ahead
// of the output position, so that the record does not wait on the previous one.
inline uint8_t *tif_shadow(uint64_t *words) noexcept
{
    return reinterpret_cast<uint8_t *>(words) + TIF_SHADOW_OFFSET;
}
inline std::size_t tif_shadow_index(const uint8_t *p) noexcept
{
    return reinterpret_cast<uintptr_t>(p) % TIF_SHADOW_BYTES;
}
// Records the 8 bytes from `block`, an address that is a multiple of 8.
inline void tif_shadow_block(uint64_t *words, const uint8_t *block) noexcept
{
    std::memcpy(tif_shadow(words) + tif_shadow_index(block), block, 8);
}
inline const uint8_t *tif_align_down(const uint8_t *p) noexcept
{
    return p - reinterpret_cast<uintptr_t>(p) % 8;
}
// Records the 16 bytes from out, none of them junk: enough for the short strings after it.
inline void tif_shadow_from(uint64_t *words, const uint8_t *out) noexcept
{
    for (int i = 0; i < 16; ++i)
        tif_shadow(words)[tif_shadow_index(out + i)] = out[i];
}
// Puts back the 8 bytes from out, which junk stores may have covered.
inline void tif_shadow_restore(uint64_t *words, uint8_t *out) noexcept
{
    for (int i = 0; i < 8; ++i)
        out[i] = tif_shadow(words)[tif_shadow_index(out + i)];
}

// Words go to memory lowest byte first, whatever the machine's byte order.
inline void tif_store8(uint8_t *p, uint64_t v) noexcept
{
    if constexpr (std::endian::native == std::endian::big)
        v = __builtin_bswap64(v);
    std::memcpy(p, &v, sizeof v);
}

// Bytes in the last chunk of a string longer than 8 bytes: 1 to 6.
constexpr uint32_t tif_last_chunk(uint32_t length) noexcept
{
    return (length - TIF_SHORT_STRING - 1) % TIF_CHUNK + 1;
}

// Where the byte that completes a string of `length` bytes goes in the word begun from it.
constexpr uint32_t tif_append_shift(uint32_t length) noexcept
{
    return length < TIF_SHORT_STRING ? length * 8 : TIF_TOP_BYTE_SHIFT;
}

// The word of a string of more than 8 bytes, code `code` and word `word`, extended by one byte
// still to come (placed at the top); `run` says the string is one byte repeated.
constexpr uint64_t tif_extend_long(uint32_t code, uint64_t word, uint32_t length, bool run) noexcept
{
    const uint64_t flag = run ? TIF_RUN_FLAG : 0;
    if (tif_last_chunk(length) == TIF_CHUNK)
        return code | flag; // the new last chunk starts after this string: it is the link
    // Same link, the last chunk one byte lower to make room at the top.
    return ((word >> 8) & ~TIF_LINK_BITS) | (word & TIF_LINK_MASK) | flag;
}

// Whether the string of a word `word` and `length` bytes (more than 8) is one byte repeated: all
// but its last byte are (the run flag), and the last two bytes are equal.
inline bool tif_is_run(const uint64_t *words, uint64_t word, uint32_t length) noexcept
{
    if ((word & TIF_RUN_FLAG) == 0)
        return false;
    const uint64_t before_last =
        tif_last_chunk(length) >= 2 ? word >> 48 : words[word & TIF_LINK_MASK] >> TIF_TOP_BYTE_SHIFT;
    return static_cast<uint8_t>(before_last) == static_cast<uint8_t>(word >> TIF_TOP_BYTE_SHIFT);
}

// Writes the string of a word `word` and `length` bytes (more than 8) into out to out + length,
// exactly: each chunk's store puts the link and zeros below the chunk, inside the string, where
// the store of the chunk before it lands next. Returns the string's first byte.
inline uint8_t tif_write_long(const uint64_t *words, uint8_t *out, uint64_t word, uint32_t length) noexcept
{
    uint8_t *end = out + length;
    tif_store8(end - 8, word);
    end -= tif_last_chunk(length);
    while (end - out > static_cast<std::ptrdiff_t>(TIF_SHORT_STRING)) {
        word = words[word & TIF_LINK_MASK];
        tif_store8(end - 8, word);
        end -= TIF_CHUNK;
    }
    word = words[word & TIF_LINK_MASK];
    tif_store8(out, word);
    return static_cast<uint8_t>(word);
}

// Below the returned bit position a code can be read with one 8-byte load that stays within the
// delivered bytes and the two the read buffer has past a chunk (bit_end is whole bytes).
inline uint32_t tif_fast_end(const tif_bit_reader &reader) noexcept
{
    const uint32_t end_bytes = reader.bit_end >> 3;
    return end_bytes > 5 ? (end_bytes - 5) * 8 : 0;
}

// What cutting rows came to: status 0 to go on, 1 when the last row asked for went out, or the
// negative value put_row refused with; `rows` rows were delivered either way.
struct tif_cut_result {
    int32_t status;
    uint32_t rows;
};

// Hands every complete row that has gathered in the row buffer to put_row, each from the start of
// the buffer. The bytes left over move to the front, over the tail of the last row delivered, as
// if every row had been shifted out in turn: an unfinished row delivered later shows that tail.
[[gnu::noinline]] tif_cut_result tif_cut_rows(const codec_callbacks &cb, uint8_t *row_buffer, uint32_t row_bytes,
                                              std::size_t pending, uint32_t row_index, uint32_t rows_wanted,
                                              int32_t row_context) noexcept
{
    std::size_t offset = 0;
    uint32_t rows = 0;
    for (;;) {
        // Later rows lie at least row_bytes in, so they never overlap the front.
        if (offset != 0)
            std::memcpy(row_buffer, row_buffer + offset, row_bytes);
        const int32_t r = cb.put_row(row_buffer, row_context, static_cast<int32_t>(row_index + rows), 0);
        if (r < 0)
            return {r, rows};
        ++rows;
        offset += row_bytes;
        pending -= row_bytes;
        // The row count is met by equality only, so a row count of 0 never ends the strip here.
        if (rows == rows_wanted)
            return {1, rows};
        if (pending < row_bytes)
            break;
    }
    std::memcpy(row_buffer, row_buffer + offset, pending);
    return {0, rows};
}

// The strip ended early (end code or bad data): the rows still owed go out as the row buffer
// stands, each holding the bytes decoded for the unfinished row. A refusal stops them.
int32_t tif_deliver_missing_rows(const codec_callbacks &cb, const uint8_t *row_buffer, uint32_t delivered,
                                 uint32_t row_count, uint32_t row_index, int32_t row_context, int32_t result) noexcept
{
    for (; delivered < row_count; ++delivered, ++row_index) {
        const int32_t r = cb.put_row(row_buffer, row_context, static_cast<int32_t>(row_index), 0);
        if (r < 0)
            return r;
    }
    return result;
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

        const int32_t asked = read_chunk_size - static_cast<int32_t>(carry);
        const int32_t got = cb.read(io_handle, read_buffer + carry, asked);
        // Only the bytes delivered are decoded; no result can claim more than was asked, and a
        // negative one is a failed read.
        if (got <= 0)
            break;
        reader.bit_end += static_cast<uint32_t>(std::min(got, asked)) * 8;
    }
    return reader;
}

void tif_reset_table(tif_decode_table table) noexcept
{
    for (uint32_t n = 0; n < 256; ++n) {
        table.words[n] = n;
        table.lengths[n] = 1;
    }
    table.lengths[TIF_CLEAR_CODE] = TIF_CONTROL_LENGTH;
    table.lengths[TIF_END_CODE] = TIF_CONTROL_LENGTH;
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
    const tif_decode_table table{reinterpret_cast<uint64_t *>(block.get()),
                                 tif_lengths(reinterpret_cast<uint64_t *>(block.get()))};
    // Both arrays are reached from the words' address, so that the loop spends one register on them.
    uint64_t *const words = table.words;

    tif_bit_reader reader{0, 0};
    if (tif_read_code(cb, io_handle, read_buffer, reader, TIF_MIN_CODE_WIDTH) != TIF_CLEAR_CODE)
        return ERR_BAD_DATA;

    // The decode loop keeps only what every code needs in locals: the reader's bit position and
    // the bound below which it may read without a check, the code width, the next free code, the
    // word and length the next entry starts from, and the output position. Row cutting, refills,
    // width steps and clear codes leave the loop and come back.
    uint8_t *out = row_buffer; // decoded bytes from row_buffer up to out wait for their row
    uint8_t *const row_end = row_buffer + row_bytes;
    uint32_t delivered = 0; // rows handed over; the next one's index is first_row + delivered
    uint32_t bit_pos = reader.bit_pos;
    uint32_t fast_end = tif_fast_end(reader);
    int32_t result = 1;
    // Junk past a short string (see tif_shadow) lies below out + 8; the shadow holds the bytes
    // from out to out + 8 at least, as they were. While out < row_end, the 24 bytes from out
    // lie within the row_bytes + 3838 that the row buffer has.
    tif_shadow_from(words, out);

    // Each pass starts right after a clear code.
    for (;;) {
        tif_reset_table(table);
        uint32_t code_width = TIF_MIN_CODE_WIDTH;
        uint32_t next_code = TIF_FIRST_TABLE_CODE;
        uint32_t width_limit = TIF_FIRST_WIDTH_LIMIT;
        // next_code's value at which the width steps or the table fills. Once the 4096 entries
        // a code can name exist, every code lands there: next_code goes back to 4096, and the
        // entry each code defines goes to the spare entry 4096, which no code reads.
        uint32_t event_code = width_limit - 1;

        // The code after a clear code names a single byte: the reset defined nothing else. A
        // repeated clear code clears again, the end code ends the strip, and anything else (a
        // failed read included) is bad data.
        reader.bit_pos = bit_pos;
        const int32_t literal = tif_read_code(cb, io_handle, read_buffer, reader, TIF_MIN_CODE_WIDTH);
        bit_pos = reader.bit_pos;
        fast_end = tif_fast_end(reader);
        if (literal == TIF_CLEAR_CODE)
            continue;
        if (literal == TIF_END_CODE)
            goto finish;
        if (literal < 0 || literal > 0xFF) {
            result = ERR_BAD_DATA;
            goto finish;
        }
        tif_shadow_restore(words, out);
        *out++ = static_cast<uint8_t>(literal);
        tif_shadow_from(words, out);
        // The word and length of the previous code's string: the next entry is it and one byte.
        uint64_t prev_word = static_cast<uint32_t>(literal);
        uint32_t prev_length = 1;

        for (;;) {
            if (out >= row_end) {
                const tif_cut_result r =
                    tif_cut_rows(cb, row_buffer, row_bytes, static_cast<std::size_t>(out - row_buffer),
                                 static_cast<uint32_t>(first_row) + delivered, row_count - delivered, row_context);
                delivered += r.rows;
                out -= static_cast<std::size_t>(r.rows) * row_bytes;
                if (r.status != 0)
                    return r.status;
                tif_shadow_from(words, out);
            }

            uint32_t c;
            if (bit_pos < fast_end) [[likely]] {
                // A code starts at most 7 bits into a byte: the 8 bytes at its first byte hold it.
                uint64_t window;
                std::memcpy(&window, read_buffer + (bit_pos >> 3), sizeof window);
                if constexpr (std::endian::native == std::endian::little)
                    window = __builtin_bswap64(window);
                c = static_cast<uint32_t>((window << (bit_pos & 7)) >> (64 - code_width));
                bit_pos += code_width;
            } else {
                reader.bit_pos = bit_pos;
                // ERR_READ, as unsigned, lies beyond every code.
                c = static_cast<uint32_t>(
                    tif_read_code(cb, io_handle, read_buffer, reader, static_cast<int>(code_width)));
                bit_pos = reader.bit_pos;
                fast_end = tif_fast_end(reader);
            }

            if (c >= next_code) [[unlikely]] {
                if (c != next_code) {
                    result = ERR_BAD_DATA;
                    goto finish;
                }
                // The code being defined: the previous string followed by its own first byte. It
                // still lies just before out unless a row cut took part of it away.
                const std::size_t waiting = static_cast<std::size_t>(out - row_buffer);
                const bool prev_run = prev_length >= TIF_SHORT_STRING && (prev_word & TIF_RUN_FLAG) != 0;
                uint8_t first;
                if (waiting >= prev_length || (prev_run && waiting != 0)) {
                    first = prev_run ? out[-1] : out[-static_cast<std::ptrdiff_t>(prev_length)];
                } else {
                    uint64_t w = prev_word;
                    if (prev_length >= TIF_SHORT_STRING) {
                        uint32_t k = static_cast<uint32_t>(w & TIF_LINK_MASK);
                        while (tif_lengths(words)[k] > TIF_SHORT_STRING)
                            k = static_cast<uint32_t>(words[k] & TIF_LINK_MASK);
                        w = words[k];
                    }
                    first = static_cast<uint8_t>(w);
                }
                words[c] = prev_word | uint64_t{first} << tif_append_shift(prev_length);
                tif_lengths(words)[c] = static_cast<uint16_t>(prev_length + 1);
                if (prev_length >= 2 * TIF_SHORT_STRING && waiting >= prev_length) {
                    // Strings that repeat the previous one and its first byte come in long runs,
                    // ever longer: copy the previous one. A run stays a run.
                    std::memcpy(out, out - prev_length, prev_length);
                    out[prev_length] = first;
                    const uint32_t n = prev_length + 1;
                    prev_word = tif_extend_long(c, words[c], n, prev_run);
                    prev_length = n;
                    out += n;
                    if (out < row_end) {
                        // Nothing junk from out on; out is more than 8 bytes into the buffer.
                        tif_shadow_block(words, tif_align_down(out));
                        tif_shadow_block(words, tif_align_down(out) + 8);
                    }
                    goto defined;
                }
            }
            {
                const uint32_t n = tif_lengths(words)[c];
                const uint64_t w = words[c];
                uint8_t first;
                if (n < TIF_SHORT_STRING) [[likely]] {
                    tif_store8(out, w);
                    first = static_cast<uint8_t>(w);
                    // The first aligned block from out + 8 on: no junk there yet. The
                    // blocks recorded so far reach at least that far, and the next string
                    // starts fewer than 8 bytes on.
                    tif_shadow_block(words, tif_align_down(out + 15));
                    words[next_code] = prev_word | uint64_t{first} << tif_append_shift(prev_length);
                    tif_lengths(words)[next_code] = static_cast<uint16_t>(prev_length + 1);
                    prev_word = w;
                } else if (n == TIF_CONTROL_LENGTH) [[unlikely]] {
                    if (c == TIF_CLEAR_CODE)
                        break;
                    goto finish;
                } else {
                    bool run;
                    uint64_t word_after;
                    if (n == TIF_SHORT_STRING) {
                        tif_store8(out, w);
                        first = static_cast<uint8_t>(w);
                        run = w == first * uint64_t{0x0101010101010101};
                        word_after = c | (run ? TIF_RUN_FLAG : 0);
                    } else {
                        run = tif_is_run(words, w, n);
                        if (run) {
                            first = static_cast<uint8_t>(w >> TIF_TOP_BYTE_SHIFT);
                            std::memset(out, first, n);
                        } else {
                            first = tif_write_long(words, out, w, n);
                        }
                        word_after = tif_extend_long(c, w, n, run);
                    }
                    words[next_code] = prev_word | uint64_t{first} << tif_append_shift(prev_length);
                    tif_lengths(words)[next_code] = static_cast<uint16_t>(prev_length + 1);
                    prev_word = word_after;
                    if (out + n < row_end) {
                        tif_shadow_block(words, tif_align_down(out + n));
                        tif_shadow_block(words, tif_align_down(out + n) + 8);
                    }
                }
                out += n;
                prev_length = n;
            }
        defined:
            ++next_code;
            if (next_code == event_code) [[unlikely]] {
                // One code early, as TIFF has it (see TIF_FIRST_WIDTH_LIMIT).
                if (next_code == width_limit - 1) {
                    code_width += code_width < TIF_MAX_CODE_WIDTH ? 1 : 0;
                    width_limit <<= 1;
                }
                // Once 4096 entries exist no code can name a new one: stop defining and decode on.
                if (next_code > static_cast<uint32_t>(TIF_CODE_LIMIT))
                    next_code = TIF_CODE_LIMIT;
                event_code = std::min(width_limit - 1, static_cast<uint32_t>(TIF_CODE_LIMIT) + 1);
            }
        }
    }
finish:
    // The strip ended with out inside the unfinished row: put back what junk stores covered.
    tif_shadow_restore(words, out);
    return tif_deliver_missing_rows(cb, row_buffer, delivered, row_count, static_cast<uint32_t>(first_row) + delivered,
                                    row_context, result);
}

} // namespace orveln1
