// SPDX-License-Identifier: MIT
// The GIF LZW decompressor: codes from root_size + 1 to 12 bits, strings expanded back to front
// straight into the row block, rows packed, placed in interlace order and handed to the host.
#include "gif/gif_decompressor.hpp"

#include <cstring>

#include "boundary/image_header.hpp"
#include "boundary/memory.hpp"

namespace orveln1
{
namespace
{

// The longest string a table generation can hold: every entry defined since a clear is at most one
// byte longer than the longest before it, and at most 4096 - 4 entries are defined (root size 1).
constexpr int32_t longest_string = GIF_TABLE_ENTRIES;
// A row's padded length exceeds its pixel count by at most 3 bytes, and the host reads that many
// from the row's address; the block keeps them inside it.
constexpr int32_t row_slack_bytes = 8;

// The decode table: per code its prefix code, its string length and its last byte, as three
// arrays in one block.
constexpr std::size_t table_prefix_offset = 0;
constexpr std::size_t table_length_offset = GIF_TABLE_ENTRIES * sizeof(uint16_t);
constexpr std::size_t table_suffix_offset = 2 * GIF_TABLE_ENTRIES * sizeof(uint16_t);
constexpr std::size_t table_bytes = table_suffix_offset + GIF_TABLE_ENTRIES;

// GIF's four interlace passes: first row and step of each.
constexpr int32_t pass_first_row[4] = {0, 4, 2, 1};
constexpr int32_t pass_step[4] = {8, 8, 4, 2};

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

void gif_pack_row(uint8_t *row, int32_t width, int32_t depth) noexcept
{
    if (depth == 1) {
        uint32_t bits = 0;
        int32_t taken = 0;
        int32_t out = 0;
        for (int32_t i = 0; i < width; ++i) {
            bits = bits << 1 | (row[i] & 1u);
            if (++taken == 8) {
                row[out++] = static_cast<uint8_t>(bits);
                bits = 0;
                taken = 0;
            }
        }
        // The byte in progress, its unused low bits zero (a zero byte when the width is a multiple
        // of 8; it lies inside the row's own pixels, which are spent).
        row[out] = static_cast<uint8_t>(bits << (8 - taken));
    } else if (depth == 4) {
        const int32_t pairs = width / 2;
        for (int32_t j = 0; j < pairs; ++j)
            row[j] = static_cast<uint8_t>((row[2 * j] & 0x0Fu) << 4 | (row[2 * j + 1] & 0x0Fu));
        // At an odd width the last pixel has no partner: its low nibble is filler, and must not
        // carry the next row's first pixel.
        if (width & 1)
            row[pairs] = static_cast<uint8_t>((row[width - 1] & 0x0Fu) << 4);
    }
}

int32_t gif_lzw_decompress(const codec_callbacks &cb, int32_t io_handle, uint8_t *read_buffer, const void *image_header,
                           put_row_fn put_row, int32_t row_context, int32_t code_size_word) noexcept
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
    const int64_t row_block_bytes = int64_t{width} + longest_string + row_slack_bytes;
    if (!block_size_fits(row_block_bytes))
        return ERR_BAD_DATA;

    lzw_block table(table_bytes);
    if (!table)
        return ERR_NO_MEMORY;
    const gif_code_size size = gif_settle_code_size(code_size_word);
    lzw_block rows(static_cast<std::size_t>(row_block_bytes));
    if (!rows)
        return ERR_NO_MEMORY;
    // Zeroed, so that the bytes past a row's pixels that the host reads were never left unset.
    std::memset(rows.get(), 0, static_cast<std::size_t>(row_block_bytes));

    auto *const prefix = reinterpret_cast<uint16_t *>(table.get() + table_prefix_offset);
    auto *const length = reinterpret_cast<uint16_t *>(table.get() + table_length_offset);
    uint8_t *const suffix = table.get() + table_suffix_offset;
    uint8_t *const out = rows.get();

    const int32_t row_bytes = static_cast<int32_t>(padded_row_bytes(width, depth));
    const uint32_t clear_code = 1u << size.root_size;
    const uint32_t end_code = clear_code + 1;
    const uint32_t first_width = static_cast<uint32_t>(size.root_size) + 1;
    const auto row_width = static_cast<uint32_t>(width);

    gif_bit_reader reader;
    reader.code_width = first_width;
    reader.code_mask = (1u << first_width) - 1;

    if (gif_read_code(cb, io_handle, reader, read_buffer) != clear_code)
        return ERR_BAD_DATA;

    uint32_t fill = 0; // decoded pixels waiting in out[0 .. fill)
    int32_t rows_done = 0;
    int pass = 0;
    int32_t pass_row = 0;

    // Hands every complete row to the host, then moves the leftover pixels to the front. Returns
    // 1 when the image is complete, a negative value from the host, else 0.
    auto deliver = [&]() -> int32_t {
        uint32_t front = 0;
        int32_t result = 0;
        while (fill - front >= row_width) {
            uint8_t *const row = out + front;
            gif_pack_row(row, width, depth);
            const int32_t r = put_row(row, row_context, size.interlaced ? pass_row : rows_done, row_bytes);
            if (r < 0)
                return r;
            front += row_width;
            if (++rows_done == height) {
                result = 1;
                break;
            }
            if (size.interlaced) {
                pass_row += pass_step[pass];
                while (pass_row >= height && pass < 3)
                    pass_row = pass_first_row[++pass];
            }
        }
        std::memmove(out, out + front, fill - front);
        fill -= front;
        return result;
    };

    for (;;) {
        // A clear code: every root is a one-byte string again.
        for (uint32_t i = 0; i < 256; ++i) {
            prefix[i] = static_cast<uint16_t>(i);
            length[i] = 1;
            suffix[i] = static_cast<uint8_t>(i);
        }
        uint32_t code_width = first_width;
        uint32_t next_code = clear_code + 2;
        uint32_t width_limit = 1u << code_width;
        reader.code_width = code_width;
        reader.code_mask = width_limit - 1;

        // The code after a clear code names a root. Only the roots (below 256) have been set since
        // the reset, so any other code ends the data, as does the end code; another clear code
        // simply clears again.
        uint32_t code = gif_read_code(cb, io_handle, reader, read_buffer);
        if (code == clear_code)
            continue;
        if (code == end_code || code >= 256)
            return 0;
        out[fill++] = static_cast<uint8_t>(code);
        uint32_t prev_code = code;
        // At root size 1 the first free code already equals 2^width: GIF decoders widen as soon
        // as next_code reaches 2^width, here right after this first code.
        if (next_code >= width_limit) {
            ++code_width;
            width_limit <<= 1;
            reader.code_width = code_width;
            reader.code_mask = width_limit - 1;
        }
        if (fill >= row_width) {
            const int32_t r = deliver();
            if (r != 0)
                return r < 0 ? r : 0;
        }

        for (;;) {
            code = gif_read_code(cb, io_handle, reader, read_buffer);
            uint32_t first_byte;
            if (code < clear_code) {
                // A root stands for itself: one pixel, no walk. Roots are never redefined.
                out[fill++] = static_cast<uint8_t>(code);
                first_byte = code;
            } else if (code < next_code) {
                if (code == clear_code)
                    break;
                if (code == end_code)
                    return 0;
                // Back to front from the stored length: the walk takes exactly that many steps,
                // whatever the prefix links say, so no stream can move a write outside its place.
                const uint32_t n = length[code];
                uint8_t *p = out + fill + n;
                uint32_t k = code;
                for (uint32_t i = 0; i < n; ++i) {
                    *--p = suffix[k];
                    k = prefix[k] & (GIF_TABLE_ENTRIES - 1);
                }
                first_byte = out[fill];
                fill += n;
            } else if (code == next_code) {
                // The entry this step defines: the previous string plus its own first byte.
                const uint32_t n = length[prev_code];
                uint8_t *p = out + fill + n;
                uint32_t k = prev_code;
                for (uint32_t i = 0; i < n; ++i) {
                    *--p = suffix[k];
                    k = prefix[k] & (GIF_TABLE_ENTRIES - 1);
                }
                first_byte = out[fill];
                out[fill + n] = static_cast<uint8_t>(first_byte);
                fill += n + 1;
            } else {
                // A code the table cannot name yet, or no whole code left: the data ends here.
                return 0;
            }
            // A full table defines nothing more: no 12-bit code could name entry 4096.
            if (next_code < GIF_TABLE_ENTRIES) {
                prefix[next_code] = static_cast<uint16_t>(prev_code);
                suffix[next_code] = static_cast<uint8_t>(first_byte);
                length[next_code] = static_cast<uint16_t>(length[prev_code] + 1);
                ++next_code;
                // GIF decoders widen when next_code reaches 2^width, and never beyond 12 bits.
                if (next_code >= width_limit && code_width < GIF_MAX_CODE_WIDTH) {
                    ++code_width;
                    width_limit <<= 1;
                    reader.code_width = code_width;
                    reader.code_mask = width_limit - 1;
                }
            }
            prev_code = code;
            if (fill >= row_width) {
                const int32_t r = deliver();
                if (r != 0)
                    return r < 0 ? r : 0;
            }
        }
    }
}

} // namespace orveln1
