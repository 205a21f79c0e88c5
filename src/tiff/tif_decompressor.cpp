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

// The length of the clear and end codes' entries: longer than any string.
constexpr uint32_t tif_control_length = TIF_LENGTH_MASK;

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

// The entry for the string of prev_code (whose entry is prev and whose first byte is prev_first)
// followed by one byte, all but that byte: tif_complete puts it where prev_first is kept in the
// meantime, for a code that names the entry being defined. The run flag is prev's, kept only if
// the byte repeats the run.
inline tif_decode_entry tif_extend(uint32_t prev_code, tif_decode_entry prev, uint8_t prev_first) noexcept
{
    return uint64_t{prev_code} | (prev & 0xFFFF) << TIF_GRAND_SHIFT | (prev & TIF_RUN_FLAG) |
           uint64_t{tif_entry_length(prev) + 1} << TIF_LENGTH_SHIFT | uint64_t{prev_first} << TIF_SUFFIX_SHIFT |
           uint64_t{tif_entry_suffix(prev)} << TIF_PREFIX_SUFFIX_SHIFT;
}

// The entry tif_extend began, ended by byte: a run only when the string it extends is one and
// byte repeats it (a run's last byte is all its bytes).
inline tif_decode_entry tif_complete(tif_decode_entry partial, uint8_t byte) noexcept
{
    const tif_decode_entry e = (partial & ~(uint64_t{0xFF} << TIF_SUFFIX_SHIFT)) | uint64_t{byte} << TIF_SUFFIX_SHIFT;
    return byte == tif_entry_prefix_suffix(partial) ? e : e & ~TIF_RUN_FLAG;
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
    // The clear and end codes get an entry no string can have, so that the decode loop tells
    // them apart only once a code is known not to be a short string.
    table[TIF_CLEAR_CODE] = uint64_t{tif_control_length} << TIF_LENGTH_SHIFT;
    table[TIF_END_CODE] = table[TIF_CLEAR_CODE];
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
    if (tif_read_code(cb, io_handle, read_buffer, reader, TIF_MIN_CODE_WIDTH) != TIF_CLEAR_CODE)
        return ERR_BAD_DATA;

    // The decode loop keeps only what every code needs in locals: the reader's bit position and
    // the bound below which it may read without a check, the code width, the next free code, the
    // entry the next code defines (less its last byte) and the output position. Row cutting,
    // refills, width steps and clear codes leave the loop and come back.
    uint8_t *out = row_buffer; // decoded bytes from row_buffer up to out wait for their row
    uint8_t *const row_end = row_buffer + row_bytes;
    uint32_t delivered = 0; // rows handed over; the next one's index is first_row + delivered
    uint32_t bit_pos = reader.bit_pos;
    uint32_t fast_end = tif_fast_end(reader);
    int32_t result = 1;

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
        *out++ = static_cast<uint8_t>(literal);
        // The entry that the next code defines, all but its last byte and the run flag's final
        // say: the previous code's string followed by one byte.
        tif_decode_entry next =
            tif_extend(static_cast<uint32_t>(literal), tif_root_entry(static_cast<uint32_t>(literal)),
                       static_cast<uint8_t>(literal));

        for (;;) {
            if (out >= row_end) {
                const tif_cut_result r =
                    tif_cut_rows(cb, row_buffer, row_bytes, static_cast<std::size_t>(out - row_buffer),
                                 static_cast<uint32_t>(first_row) + delivered, row_count - delivered, row_context);
                delivered += r.rows;
                out -= static_cast<std::size_t>(r.rows) * row_bytes;
                if (r.status != 0)
                    return r.status;
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

            tif_decode_entry entry; // c's
            uint32_t length;
            uint8_t first;
            if (c < next_code) [[likely]] {
                entry = table[c];
                length = tif_entry_length(entry);
                if (length <= 2) [[likely]] {
                    // A root or a root and one byte: the entry holds the whole string.
                    first = length == 1 ? tif_entry_suffix(entry) : tif_entry_prefix_suffix(entry);
                    out[0] = first;
                    out[length - 1] = tif_entry_suffix(entry);
                } else if (length == tif_control_length) [[unlikely]] {
                    if (c == TIF_CLEAR_CODE)
                        break;
                    goto finish;
                } else if ((entry & TIF_RUN_FLAG) != 0 && length >= tif_fill_at_least) {
                    first = tif_entry_suffix(entry);
                    std::memset(out, first, length);
                } else {
                    tif_write_string(table, out + length, c, length);
                    first = out[0];
                }
            } else if (c == next_code) {
                // The code being defined: the previous string followed by its own first byte.
                first = tif_entry_suffix(next);
                entry = tif_complete(next, first);
                length = tif_entry_length(entry);
                if ((entry & TIF_RUN_FLAG) != 0 && length >= tif_fill_at_least) {
                    std::memset(out, first, length);
                } else {
                    tif_write_string(table, out + length - 1, static_cast<uint16_t>(next), length - 1);
                    out[length - 1] = first;
                }
            } else {
                result = ERR_BAD_DATA;
                goto finish;
            }
            out += length;

            table[next_code] = tif_complete(next, first);
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
            next = tif_extend(c, entry, first);
        }
    }
finish:
    return tif_deliver_missing_rows(cb, row_buffer, delivered, row_count, static_cast<uint32_t>(first_row) + delivered,
                                    row_context, result);
}

} // namespace orveln1
