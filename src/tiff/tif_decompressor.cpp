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

// Runs shorter than this are walked like any string: a fill call costs more than a short walk.
constexpr uint32_t tif_fill_at_least = 16;

// Writes the string of code k, n bytes (at least 1), back to front so that it ends just before
// end: two bytes per entry read, the last byte of an odd-length string being a root, whose code is
// its byte. The walk takes exactly n bytes whatever the links say.
inline void tif_write_string(const tif_decode_entry *table, uint8_t *end, uint32_t k, uint32_t n) noexcept
{
    while (n > 1) {
        const tif_decode_entry e = table[k];
        end[-1] = static_cast<uint8_t>(e >> TIF_SUFFIX_SHIFT);
        end[-2] = static_cast<uint8_t>(e >> TIF_PREFIX_SUFFIX_SHIFT);
        end -= 2;
        n -= 2;
        k = static_cast<uint16_t>(e >> TIF_GRAND_SHIFT);
    }
    if (n != 0)
        end[-1] = static_cast<uint8_t>(k);
}

// The entry for the string of prev_code (whose entry is prev) followed by byte, which begins a
// string whose first byte is first: a run when prev's string is one and byte repeats it.
inline tif_decode_entry tif_extend(uint32_t prev_code, tif_decode_entry prev, uint8_t prev_first, uint8_t byte) noexcept
{
    const uint64_t run = byte == prev_first ? prev & TIF_RUN_FLAG : 0;
    return uint64_t{prev_code} | (prev & 0xFFFF) << TIF_GRAND_SHIFT | run |
           uint64_t{tif_entry_length(prev) + 1} << TIF_LENGTH_SHIFT | uint64_t{byte} << TIF_SUFFIX_SHIFT |
           uint64_t{tif_entry_suffix(prev)} << TIF_PREFIX_SUFFIX_SHIFT;
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
tif_cut_result tif_cut_rows(const codec_callbacks &cb, uint8_t *row_buffer, uint32_t row_bytes, std::size_t pending,
                            uint32_t row_index, uint32_t rows_wanted, int32_t row_context) noexcept
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

void tif_reset_table(tif_decode_entry *table) noexcept
{
    for (uint32_t n = 0; n < 256; ++n)
        table[n] = tif_root_entry(n);
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
    auto *table = reinterpret_cast<tif_decode_entry *>(block.get());

    tif_bit_reader reader{0, 0};
    int code_width = TIF_MIN_CODE_WIDTH;
    if (tif_read_code(cb, io_handle, read_buffer, reader, code_width) != TIF_CLEAR_CODE)
        return ERR_BAD_DATA;

    std::size_t pending = 0;
    uint32_t delivered = 0; // rows handed over; the next one's index is first_row + delivered
    uint32_t next_code = TIF_FIRST_TABLE_CODE;
    uint32_t width_limit = TIF_FIRST_WIDTH_LIMIT;
    uint32_t prev_code = 0;
    // The previous code's entry and first byte, kept at hand for the entry the next code defines.
    tif_decode_entry prev = 0;
    uint8_t prev_first = 0;
    int32_t result = 1;

    // Each pass starts right after a clear code.
    for (;;) {
        tif_reset_table(table);
        next_code = TIF_FIRST_TABLE_CODE;
        width_limit = TIF_FIRST_WIDTH_LIMIT;
        code_width = TIF_MIN_CODE_WIDTH;

        // The code after a clear code names a single byte: the reset defined nothing else. A
        // repeated clear code clears again, the end code ends the strip, and anything else (a
        // failed read included) is bad data.
        const int32_t literal = tif_read_code(cb, io_handle, read_buffer, reader, code_width);
        if (literal == TIF_CLEAR_CODE)
            continue;
        if (literal == TIF_END_CODE)
            goto finish;
        if (literal < 0 || literal > 0xFF) {
            result = ERR_BAD_DATA;
            goto finish;
        }
        row_buffer[pending++] = static_cast<uint8_t>(literal);
        prev_code = static_cast<uint32_t>(literal);
        prev = table[prev_code];
        prev_first = static_cast<uint8_t>(literal);

        for (;;) {
            if (pending >= row_bytes) {
                const tif_cut_result r =
                    tif_cut_rows(cb, row_buffer, row_bytes, pending, static_cast<uint32_t>(first_row) + delivered,
                                 row_count - delivered, row_context);
                delivered += r.rows;
                pending -= static_cast<std::size_t>(r.rows) * row_bytes;
                if (r.status != 0)
                    return r.status;
            }

            const int32_t code = tif_read_code(cb, io_handle, read_buffer, reader, code_width);
            // ERR_READ, as unsigned, lies beyond every code.
            const uint32_t c = static_cast<uint32_t>(code);
            uint8_t *const out = row_buffer + pending;
            tif_decode_entry entry; // c's
            uint32_t length;
            uint8_t first;
            if (c < 256) {
                // A root: one byte, its entry fixed since the reset.
                *out = static_cast<uint8_t>(c);
                entry = tif_root_entry(c);
                length = 1;
                first = static_cast<uint8_t>(c);
            } else if (c == TIF_CLEAR_CODE) {
                break;
            } else if (c == TIF_END_CODE) {
                goto finish;
            } else if (c < next_code) {
                entry = table[c];
                length = tif_entry_length(entry);
                if ((entry & TIF_RUN_FLAG) != 0 && length >= tif_fill_at_least)
                    std::memset(out, tif_entry_suffix(entry), length);
                else
                    tif_write_string(table, out + length, c, length);
                first = out[0];
            } else if (c == next_code) {
                // The code being defined: the previous string followed by its own first byte.
                first = prev_first;
                entry = tif_extend(prev_code, prev, prev_first, first);
                length = tif_entry_length(entry);
                if ((entry & TIF_RUN_FLAG) != 0 && length >= tif_fill_at_least) {
                    std::memset(out, first, length);
                } else {
                    tif_write_string(table, out + length - 1, prev_code, length - 1);
                    out[length - 1] = first;
                }
            } else {
                result = ERR_BAD_DATA;
                goto finish;
            }
            pending += length;

            // Once 4096 entries exist no code can name a new one: stop defining and decode on.
            if (next_code < static_cast<uint32_t>(TIF_CODE_LIMIT)) {
                table[next_code] = c == next_code ? entry : tif_extend(prev_code, prev, prev_first, first);
                ++next_code;
                if (next_code == width_limit - 1) {
                    code_width += code_width < TIF_MAX_CODE_WIDTH ? 1 : 0;
                    width_limit <<= 1;
                }
            }
            prev_code = c;
            prev = entry;
            prev_first = first;
        }
    }
finish:
    return tif_deliver_missing_rows(cb, row_buffer, delivered, row_count, static_cast<uint32_t>(first_row) + delivered,
                                    row_context, result);
}

} // namespace orveln1
