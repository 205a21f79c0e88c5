// SPDX-License-Identifier: MIT
// TIFF LZW strip coding: argument checks, row preparation (byte order of 24- and 32-bit pixels),
// the coding loop over the rows' bytes as one sequence, and the packer's flush.
#include "tiff/tif_compressor.hpp"

#include <algorithm>
#include <bit>
#include <cstring>
#include <initializer_list>
#include <iterator>
#include <utility>

#include "boundary/compiler.hpp"
#include "boundary/image_header.hpp"
#include "boundary/memory.hpp"
#include "lzw/lzw_paths.hpp"
#include "lzw/string_table.hpp"
#include "tiff/tif_format.hpp"

namespace orveln1
{
namespace
{

// Where the rows come from and how each is turned into the bytes that are coded.
struct tif_row_source {
    get_row_fn get_row;
    int32_t row_context;
    uint8_t *row_block;
    uint8_t *row_copy;
    int32_t padded_bytes;
    int32_t row_offset;
    int32_t meaningful_bytes;
    int32_t swap_group;      // 3 or 4 when red and blue change places in groups of that many bytes, else 0
    bool swap_while_copying; // the copied bytes are whole groups inside the fetched row
};

bool tif_depth_served(int depth) noexcept
{
    switch (depth) {
    case 1:
    case 4:
    case 8:
    case 16:
    case 24:
    case 32:
        return true;
    default:
        return false;
    }
}

// Exchanges the first and third byte of each group of `group` bytes that starts below `bytes`.
// Groups count from the row's first byte; the last may reach two bytes past `bytes`.
void tif_swap_groups(uint8_t *row, int32_t bytes, int32_t group) noexcept
{
    for (int32_t i = 0; i < bytes; i += group)
        std::swap(row[i], row[i + 2]);
}

// Eight bytes as a word whose lowest byte is the first in memory, whatever the machine's order.
inline uint64_t tif_load_word(const uint8_t *p) noexcept
{
    uint64_t v;
    std::memcpy(&v, p, sizeof v);
    if constexpr (std::endian::native == std::endian::big)
        v = __builtin_bswap64(v);
    return v;
}
inline void tif_store_word(uint8_t *p, uint64_t v) noexcept
{
    if constexpr (std::endian::native == std::endian::big)
        v = __builtin_bswap64(v);
    std::memcpy(p, &v, sizeof v);
}

// Masks of the bytes at the given places of a word from tif_load_word.
consteval uint64_t tif_bytes_at(std::initializer_list<int> places) noexcept
{
    uint64_t mask = 0;
    for (const int place : places)
        mask |= uint64_t{0xFF} << (8 * place);
    return mask;
}

// Copies `bytes` (whole groups of `group`, 3 or 4) from `from` to `to` with the first and third
// byte of each group exchanged: what tif_swap_groups and a copy give, without a second pass over
// the row. Whole words at a time, which makes an RGB row's coding a few percent faster than an
// exchange a byte at a time: eight 3-byte groups in three words, two 4-byte groups in one. Each byte of a group
// moves by its place in the group, two places up, none, or two places down; in three words the
// groups straddle the words, and a byte crossing into the word before or after moves by six
// places.
void tif_copy_swapped(uint8_t *to, const uint8_t *from, int32_t bytes, int32_t group) noexcept
{
    int32_t i = 0;
    if (group == 3) {
        for (; bytes - i >= 24; i += 24) {
            const uint64_t w0 = tif_load_word(from + i);
            const uint64_t w1 = tif_load_word(from + i + 8);
            const uint64_t w2 = tif_load_word(from + i + 16);
            tif_store_word(to + i, (w0 & tif_bytes_at({1, 4, 7})) | (w0 & tif_bytes_at({0, 3})) << 16 |
                                       (w0 & tif_bytes_at({2, 5})) >> 16 | (w1 & tif_bytes_at({0})) << 48);
            tif_store_word(to + i + 8, (w1 & tif_bytes_at({2, 5})) | (w1 & tif_bytes_at({1, 4})) << 16 |
                                           (w1 & tif_bytes_at({3, 6})) >> 16 | (w0 & tif_bytes_at({6})) >> 48 |
                                           (w2 & tif_bytes_at({1})) << 48);
            tif_store_word(to + i + 16, (w2 & tif_bytes_at({0, 3, 6})) | (w2 & tif_bytes_at({2, 5})) << 16 |
                                            (w2 & tif_bytes_at({4, 7})) >> 16 | (w1 & tif_bytes_at({7})) >> 48);
        }
    } else {
        for (; bytes - i >= 8; i += 8) {
            const uint64_t w = tif_load_word(from + i);
            tif_store_word(to + i, (w & tif_bytes_at({1, 3, 5, 7})) | (w & tif_bytes_at({0, 4})) << 16 |
                                       (w & tif_bytes_at({2, 6})) >> 16);
        }
    }
    for (; i < bytes; i += group) {
        to[i] = from[i + 2];
        to[i + 1] = from[i + 1];
        to[i + 2] = from[i];
        if (group == 4)
            to[i + 3] = from[i + 3];
    }
}

// Fetches one row into the row block and puts its coded bytes into the row copy. Bitmap rows hold
// blue, green, red; TIFF RGB wants red first.
int32_t tif_prepare_row(const tif_row_source &src, uint32_t row_index) noexcept
{
    const int32_t r = src.get_row(src.row_context, src.row_block, static_cast<int32_t>(row_index), src.padded_bytes);
    if (r < 0)
        return r;
    if (src.swap_while_copying) {
        tif_copy_swapped(src.row_copy, src.row_block + src.row_offset, src.meaningful_bytes, src.swap_group);
        return 0;
    }
    if (src.swap_group != 0)
        tif_swap_groups(src.row_block, src.padded_bytes, src.swap_group);
    std::memcpy(src.row_copy, src.row_block + src.row_offset, static_cast<std::size_t>(src.meaningful_bytes));
    return 0;
}

// A generation's dictionary form is guessed from up to this many bytes around its start, by how
// often a byte repeats the byte 1, 2, 3 or 4 before it (samples of up to 4 bytes). Where one of
// those distances repeats in at least TIF_FORM_REPEATS_IN of TIF_FORM_REPEATS_OF bytes, the first
// extension inline pays. Measured on rows: flat colour and cartoons repeat in 19 of 20 bytes and
// smooth ramps and fine dither in 5 of 6, and code as fast or faster with the first extension
// inline; photographs and noise repeat in 1 of 100 to 1 of 2, and code a fifth to a half faster
// hashed.
constexpr std::size_t TIF_FORM_SAMPLE_BYTES = 256;
constexpr std::size_t TIF_FORM_STRIDES = 4; // tif_form_for compares at each distance in turn
constexpr uint32_t TIF_FORM_REPEATS_IN = 3;
constexpr uint32_t TIF_FORM_REPEATS_OF = 5;

// Everything the coding loop carries from one row to the next.
struct tif_coder {
    uint8_t *dict;
    uint8_t *code_buffer;
    write_fn write;
    int32_t io_handle;
    int32_t prefix;       // the string being extended; strings run on across row ends
    uint32_t next_code;   // the code the next new string gets
    uint32_t width_limit; // next_code value at which the code width steps up (or the table restarts)
    tif_bit_writer writer;
    dictionary_form form = dictionary_form::first; // the dictionary's form in this generation
    bool generation_ended = false;
    int8_t pinned_form = LZW_BY_DATA; // every generation's form pinned (see lzw_paths), or judged
};

// The form for a generation: as judged from its bytes, unless pinned.
dictionary_form tif_form_taken(const tif_coder &coder, dictionary_form judged) noexcept
{
    if (coder.pinned_form == LZW_BY_DATA)
        return judged;
    return coder.pinned_form != 0 ? dictionary_form::hashed : dictionary_form::first;
}

// Writes the whole bytes held. Returns the bits still held (the byte in progress, which the next
// code stores again at the front), or ERR_WRITE when write took fewer bytes.
int32_t tif_flush(write_fn write, const uint8_t *code_buffer, uint32_t bits_held, int32_t io_handle) noexcept
{
    const auto count = static_cast<int32_t>(bits_held >> 3);
    if (write(io_handle, code_buffer, count) != count)
        return ERR_WRITE;
    return static_cast<int32_t>(bits_held & 7);
}

// Appends one code, flushing first when 1000 bytes are held. Returns 0 or ERR_WRITE (nothing is
// then changed).
inline int32_t tif_put_code(const tif_coder &coder, tif_bit_writer &writer, uint32_t code) noexcept
{
    if (writer.bits_held >= static_cast<uint32_t>(TIF_FLUSH_BITS)) [[unlikely]] {
        const int32_t held = tif_flush(coder.write, coder.code_buffer, writer.bits_held, coder.io_handle);
        if (held < 0)
            return held;
        writer.bits_held = static_cast<uint32_t>(held);
    }
    writer.put(coder.code_buffer, code);
    return 0;
}

// The dictionary's form for bytes like the n (at most TIF_FORM_SAMPLE_BYTES) from p on: with the
// first extension inline where most bytes repeat one of the four before them (runs, flat colour,
// smooth ramps, in samples of 1 to 4 bytes), where nearly every byte extends the string along a
// first extension; else hashed, as for photographs and noise, where most searches miss or follow a
// later extension and one probe decides between found and new. A guess from the bytes alone: the
// codes are the same in either form.
dictionary_form tif_form_for(const uint8_t *p, std::size_t n) noexcept
{
    // Too few bytes to tell: the form that costs least on a guess gone wrong.
    if (n <= TIF_FORM_STRIDES)
        return dictionary_form::first;
    uint32_t repeats[TIF_FORM_STRIDES] = {};
    for (std::size_t i = TIF_FORM_STRIDES; i < n; ++i) {
        repeats[0] += p[i] == p[i - 1] ? 1 : 0;
        repeats[1] += p[i] == p[i - 2] ? 1 : 0;
        repeats[2] += p[i] == p[i - 3] ? 1 : 0;
        repeats[3] += p[i] == p[i - 4] ? 1 : 0;
    }
    const uint32_t most = *std::max_element(std::begin(repeats), std::end(repeats));
    return most * TIF_FORM_REPEATS_OF >= n * TIF_FORM_REPEATS_IN ? dictionary_form::first : dictionary_form::hashed;
}

// Codes the bytes from p up to end or to the next restart of the dictionary, and leaves p after
// the last byte coded: per byte extend the string, or emit it and add prefix+c, searching the
// dictionary in the generation's form. The state lives in locals, so that nothing but the
// dictionary and the code buffer is touched per byte, and goes back to `coder` on every way out.
template <dictionary_form form>
int32_t tif_code_generation(tif_coder &coder, const uint8_t *&p_out, const uint8_t *const end) noexcept
{
    uint8_t *const dict = coder.dict;
    const uint8_t *p = p_out;
    // With the first extension inline the string is held as its record's place, from which the
    // walk along first extensions loads directly; the hashed form holds its code.
    constexpr bool by_place = form == dictionary_form::first;
    auto code_of = [](uint32_t string) { return by_place ? string_table_code_at(string) : string; };
    auto string_of = [](uint32_t code) { return by_place ? string_table_place(code) : code; };
    uint32_t prefix = string_of(static_cast<uint32_t>(coder.prefix));
    uint32_t next_code = coder.next_code;
    uint32_t width_limit = coder.width_limit;
    tif_bit_writer writer = coder.writer;
    int32_t r = 0;
    while (p < end) {
        const uint8_t c = *p++;
        int32_t found;
        if constexpr (form == dictionary_form::hashed) {
            found = string_table_find_hashed(static_cast<int32_t>(prefix), c, dict);
        } else {
            uint32_t record;
            // The form is chosen for bytes that mostly extend along first extensions.
            if (string_table_find_first_placed(prefix, c, dict, record)) [[likely]]
                continue;
            found = string_table_find_later_placed(prefix, c, record, dict);
        }
        if (found >= 0) {
            prefix = string_of(static_cast<uint32_t>(found));
            continue;
        }
        if ((r = tif_put_code(coder, writer, code_of(prefix))) < 0)
            break;
        if constexpr (form == dictionary_form::hashed)
            next_code = static_cast<uint32_t>(
                string_table_add_hashed(found, static_cast<int32_t>(prefix), c, static_cast<int32_t>(next_code), dict));
        else
            next_code = static_cast<uint32_t>(string_table_add_placed(found, static_cast<int32_t>(code_of(prefix)), c,
                                                                      static_cast<int32_t>(next_code), dict));
        prefix = string_of(c);
        if (next_code >= width_limit) [[unlikely]] {
            if (writer.code_width == TIF_MAX_CODE_WIDTH) {
                if ((r = tif_put_code(coder, writer, TIF_CLEAR_CODE)) < 0)
                    break;
                next_code = TIF_FIRST_TABLE_CODE;
                writer.code_width = TIF_MIN_CODE_WIDTH;
                width_limit = 1u << TIF_MIN_CODE_WIDTH;
                coder.generation_ended = true;
                break;
            }
            ++writer.code_width;
            width_limit = writer.code_width == TIF_MAX_CODE_WIDTH ? TIF_ENCODER_LAST_LIMIT : 1u << writer.code_width;
        }
    }
    coder.prefix = static_cast<int32_t>(code_of(prefix));
    coder.next_code = next_code;
    coder.width_limit = width_limit;
    coder.writer = writer;
    p_out = p;
    return r;
}

// Codes the bytes [p, end). Each generation of the dictionary takes the form that suits the bytes
// around its start: those just coded or those to come in the span, whichever are more; with too
// few of either (a row's last byte is coded on its own) it keeps the form it has. Kept out of
// line: inlined into the row loop it competes for registers with the row fetching.
ORVELN1_NOINLINE int32_t tif_code_bytes(tif_coder &coder, const uint8_t *p, const uint8_t *const end) noexcept
{
    const uint8_t *const start = p;
    while (p < end) {
        const int32_t r = coder.form == dictionary_form::hashed
                              ? tif_code_generation<dictionary_form::hashed>(coder, p, end)
                              : tif_code_generation<dictionary_form::first>(coder, p, end);
        if (r < 0)
            return r;
        if (coder.generation_ended) {
            const std::size_t behind = std::min(static_cast<std::size_t>(p - start), TIF_FORM_SAMPLE_BYTES);
            const std::size_t ahead = std::min(static_cast<std::size_t>(end - p), TIF_FORM_SAMPLE_BYTES);
            if (std::max(behind, ahead) > TIF_FORM_STRIDES)
                coder.form =
                    tif_form_taken(coder, behind >= ahead ? tif_form_for(p - behind, behind) : tif_form_for(p, ahead));
            string_table_reset_form(coder.dict, coder.form);
            coder.generation_ended = false;
        }
    }
    return 0;
}

// Writes everything the code buffer holds, the byte in progress included.
int32_t tif_flush_all(const tif_coder &coder) noexcept
{
    const auto count = static_cast<int32_t>((coder.writer.bits_held + 7) / 8);
    if (coder.write(coder.io_handle, coder.code_buffer, count) != count)
        return ERR_WRITE;
    return 0;
}

// Ends the strip once every byte is coded: the string in progress, the end code, the flush.
int32_t tif_finish_strip(tif_coder &coder) noexcept
{
    tif_bit_writer &writer = coder.writer;
    int32_t r = tif_put_code(coder, writer, static_cast<uint32_t>(coder.prefix));
    if (r < 0)
        return r;
    // The decoder has defined one entry fewer than the coder by now and widens one code early: when
    // its next code reaches the step, the end code is read one bit wider.
    if (coder.next_code + 1 == coder.width_limit && writer.code_width < TIF_MAX_CODE_WIDTH)
        ++writer.code_width;
    r = tif_put_code(coder, writer, TIF_END_CODE);
    if (r < 0)
        return r;
    return tif_flush_all(coder);
}

} // namespace

int32_t tif_lzw_compress(const codec_callbacks &cb, const void *image_header, int32_t io_handle, int32_t row_offset,
                         int32_t spare, int32_t row_count, get_row_fn get_row, int32_t row_context,
                         int32_t first_row) noexcept
{
    (void)spare;
    const image_header_view header = read_image_header(image_header);
    const int depth = header.depth();
    if (!tif_depth_served(depth))
        return ERR_UNSUPPORTED_DEPTH;
    const int32_t width = header.width();
    if (width < 1)
        return ERR_BAD_DATA;
    const int64_t padded = padded_row_bytes(width, depth);
    const int64_t meaningful = unpadded_row_bytes(width, depth);
    const int64_t block_bytes = padded * TIF_ROW_BLOCK_ROWS;
    if (!block_size_fits(block_bytes))
        return ERR_BAD_DATA;
    if (row_offset < 0 || row_offset + meaningful > block_bytes)
        return ERR_BAD_DATA;

    lzw_block table(STRING_TABLE_BYTES);
    if (!table)
        return ERR_NO_MEMORY;
    lzw_block row_copy(static_cast<std::size_t>(block_bytes));
    if (!row_copy)
        return ERR_NO_MEMORY;
    lzw_block row_block(static_cast<std::size_t>(block_bytes));
    if (!row_block)
        return ERR_NO_MEMORY;
    // The coder reads past what get_row fills (a row offset, the last 24-bit group): zeroed, those
    // bytes make the strip a function of the rows alone.
    std::memset(row_block.get(), 0, static_cast<std::size_t>(block_bytes));
    lzw_block code_buffer(TIF_CODE_BUFFER_BYTES);
    if (!code_buffer)
        return ERR_NO_MEMORY;

    // Red and blue change places in 24-bit rows, and in 32-bit rows when the header asks. Where
    // the copied bytes are whole groups of the row get_row fills, they change places on the way to
    // the row copy; otherwise in the row block, whose groups count from the row's first byte, the
    // last reaching past the row.
    const int32_t swap_group = depth == 24                                                         ? 3
                               : depth == 32 && header.compression() == HEADER_COMPRESSION_SWAP_RB ? 4
                                                                                                   : 0;
    const tif_row_source src{get_row,
                             row_context,
                             row_block.get(),
                             row_copy.get(),
                             static_cast<int32_t>(padded),
                             row_offset,
                             static_cast<int32_t>(meaningful),
                             swap_group,
                             swap_group != 0 && row_offset % swap_group == 0 && row_offset + meaningful <= padded};
    uint32_t row_index = static_cast<uint32_t>(first_row);
    // The first row is always fetched, even for a row count of 0 or less.
    uint32_t rows_to_fetch = row_count > 1 ? static_cast<uint32_t>(row_count) - 1 : 0;
    int32_t r = tif_prepare_row(src, row_index);
    if (r < 0)
        return r;

    const uint8_t *const bytes = row_copy.get();
    const uint32_t row_end = static_cast<uint32_t>(meaningful);
    tif_coder coder{table.get(),
                    code_buffer.get(),
                    cb.write,
                    io_handle,
                    bytes[0],
                    TIF_FIRST_TABLE_CODE,
                    1u << TIF_MIN_CODE_WIDTH,
                    tif_bit_writer{0, 0, TIF_MIN_CODE_WIDTH}};
    coder.pinned_form = lzw_choose_paths().dictionary;
    coder.form =
        tif_form_taken(coder, tif_form_for(bytes, std::min(static_cast<std::size_t>(row_end), TIF_FORM_SAMPLE_BYTES)));
    string_table_reset_form(coder.dict, coder.form);
    r = tif_put_code(coder, coder.writer, TIF_CLEAR_CODE);
    if (r < 0)
        return r;

    // The rows' bytes form one sequence, its first byte the first prefix. The next row comes in as
    // soon as the last byte of a row has been taken, before that byte is looked up. A row count of
    // 0 or less codes the first byte of the first row and nothing more.
    uint32_t pos = 1;
    if (row_end == 1 && rows_to_fetch != 0) {
        --rows_to_fetch;
        pos = 0;
        if ((r = tif_prepare_row(src, ++row_index)) < 0)
            return r;
    }
    while (row_count > 0 && pos < row_end) {
        if ((r = tif_code_bytes(coder, bytes + pos, bytes + row_end - 1)) < 0)
            return r;
        const uint8_t c = bytes[row_end - 1];
        pos = row_end;
        if (rows_to_fetch != 0) {
            --rows_to_fetch;
            pos = 0;
            if ((r = tif_prepare_row(src, ++row_index)) < 0)
                return r;
        }
        if ((r = tif_code_bytes(coder, &c, &c + 1)) < 0)
            return r;
    }

    return tif_finish_strip(coder);
}

int32_t tif_lzw_compress_bytes(write_fn write, int32_t io_handle, const uint8_t *bytes, std::size_t size) noexcept
{
    lzw_block table(STRING_TABLE_BYTES);
    if (!table)
        return ERR_NO_MEMORY;
    lzw_block code_buffer(TIF_CODE_BUFFER_BYTES);
    if (!code_buffer)
        return ERR_NO_MEMORY;
    tif_coder coder{table.get(),
                    code_buffer.get(),
                    write,
                    io_handle,
                    size != 0 ? bytes[0] : 0,
                    TIF_FIRST_TABLE_CODE,
                    1u << TIF_MIN_CODE_WIDTH,
                    tif_bit_writer{0, 0, TIF_MIN_CODE_WIDTH}};
    coder.form = tif_form_for(bytes, std::min(size, TIF_FORM_SAMPLE_BYTES));
    string_table_reset_form(coder.dict, coder.form);
    int32_t r = tif_put_code(coder, coder.writer, TIF_CLEAR_CODE);
    if (r < 0)
        return r;
    if (size == 0) {
        r = tif_put_code(coder, coder.writer, TIF_END_CODE);
        return r < 0 ? r : tif_flush_all(coder);
    }
    if ((r = tif_code_bytes(coder, bytes + 1, bytes + size)) < 0)
        return r;
    return tif_finish_strip(coder);
}

} // namespace orveln1
