// SPDX-License-Identifier: MIT
// TIFF LZW strip coding: argument checks, row preparation (byte order of 24- and 32-bit pixels),
// the coding loop over the rows' bytes as one sequence, and the packer's flush.
#include "tiff/tif_compressor.hpp"

#include <cstring>
#include <utility>

#include "boundary/image_header.hpp"
#include "boundary/memory.hpp"
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
    int depth;
    bool swap_32;
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

// Fetches one row into the row block and puts its coded bytes into the row copy. Bitmap rows hold
// blue, green, red; TIFF RGB wants red first.
int32_t tif_prepare_row(const tif_row_source &src, uint32_t row_index) noexcept
{
    const int32_t r = src.get_row(src.row_context, src.row_block, static_cast<int32_t>(row_index), src.padded_bytes);
    if (r < 0)
        return r;
    if (src.depth == 24)
        tif_swap_groups(src.row_block, src.padded_bytes, 3);
    else if (src.swap_32)
        tif_swap_groups(src.row_block, src.padded_bytes, 4);
    std::memcpy(src.row_copy, src.row_block + src.row_offset, static_cast<std::size_t>(src.meaningful_bytes));
    return 0;
}

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
};

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

// Codes the bytes [p, end): per byte extend the string, or emit it and add prefix+c. The state
// lives in locals for the span, so that nothing but the dictionary and the code buffer is touched
// per byte, and goes back to `coder` on every way out. Kept out of line: inlined into the row loop
// it competes for registers with the row fetching.
[[gnu::noinline]] int32_t tif_code_bytes(tif_coder &coder, const uint8_t *p, const uint8_t *const end) noexcept
{
    uint8_t *const dict = coder.dict;
    auto prefix = static_cast<uint32_t>(coder.prefix);
    uint32_t next_code = coder.next_code;
    uint32_t width_limit = coder.width_limit;
    tif_bit_writer writer = coder.writer;
    int32_t r = 0;
    for (; p < end; ++p) {
        const uint8_t c = *p;
        uint32_t record;
        if (string_table_find_first(prefix, c, dict, record))
            continue;
        const int32_t found = string_table_find_later(static_cast<int32_t>(prefix), c, record, dict);
        if (found >= 0) {
            prefix = static_cast<uint32_t>(found);
            continue;
        }
        if ((r = tif_put_code(coder, writer, static_cast<uint32_t>(prefix))) < 0)
            break;
        next_code = static_cast<uint32_t>(
            string_table_add(found, static_cast<int32_t>(prefix), c, static_cast<int32_t>(next_code), dict));
        prefix = c;
        if (next_code >= width_limit) [[unlikely]] {
            if (writer.code_width == TIF_MAX_CODE_WIDTH) {
                if ((r = tif_put_code(coder, writer, TIF_CLEAR_CODE)) < 0)
                    break;
                string_table_reset(dict);
                next_code = TIF_FIRST_TABLE_CODE;
                writer.code_width = TIF_MIN_CODE_WIDTH;
            } else {
                ++writer.code_width;
            }
            width_limit = writer.code_width == TIF_MAX_CODE_WIDTH ? TIF_ENCODER_LAST_LIMIT : 1u << writer.code_width;
        }
    }
    coder.prefix = static_cast<int32_t>(prefix);
    coder.next_code = next_code;
    coder.width_limit = width_limit;
    coder.writer = writer;
    return r;
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
    string_table_reset(table.get());
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

    const tif_row_source src{get_row,
                             row_context,
                             row_block.get(),
                             row_copy.get(),
                             static_cast<int32_t>(padded),
                             row_offset,
                             static_cast<int32_t>(meaningful),
                             depth,
                             depth == 32 && header.compression() == HEADER_COMPRESSION_SWAP_RB};
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

    tif_bit_writer &writer = coder.writer;
    r = tif_put_code(coder, writer, static_cast<uint32_t>(coder.prefix));
    if (r < 0)
        return r;
    // The decoder has defined one entry fewer than the coder by now and widens one code early: when
    // its next code reaches the step, the end code is read one bit wider.
    if (coder.next_code + 1 == coder.width_limit && writer.code_width < TIF_MAX_CODE_WIDTH)
        ++writer.code_width;
    r = tif_put_code(coder, writer, TIF_END_CODE);
    if (r < 0)
        return r;
    const auto count = static_cast<int32_t>((writer.bits_held + 7) / 8);
    if (cb.write(io_handle, code_buffer.get(), count) != count)
        return ERR_WRITE;
    return 0;
}

} // namespace orveln1
