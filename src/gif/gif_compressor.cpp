// SPDX-License-Identifier: MIT
// The GIF LZW compressor: four working blocks, one pass over the pixels, codes packed into data
// sub-blocks of 253 or 254 bytes, then the final sub-block, the block terminator and the trailer.
#include "gif/gif_compressor.hpp"

#include <cstring>

#include "boundary/compiler.hpp"
#include "boundary/image_header.hpp"
#include "boundary/memory.hpp"
#include "gif/gif_code_packer.hpp"
#include "lzw/lzw_paths.hpp"
#include "lzw/string_table.hpp"

namespace orveln1
{

namespace
{

// Unpacks one delivered row into one pixel a byte: nibbles at depth 4, leftmost pixel in the high
// nibble; bytes as they stand at any other depth.
inline void unpack_row(const uint8_t *source, uint8_t *pixels, int32_t width, int depth, int32_t start_offset) noexcept
{
    if (depth == 4 && start_offset % 2 == 0) {
        // Whole bytes, two pixels each: a loop the compiler vectorises.
        const uint8_t *const from = source + start_offset / 2;
        const int32_t pairs = width / 2;
        for (int32_t j = 0; j < pairs; ++j) {
            pixels[2 * j] = static_cast<uint8_t>(from[j] >> 4);
            pixels[2 * j + 1] = static_cast<uint8_t>(from[j] & 0x0F);
        }
        if (width & 1)
            pixels[width - 1] = static_cast<uint8_t>(from[pairs] >> 4);
    } else if (depth == 4) {
        for (int32_t i = 0; i < width; ++i) {
            const uint8_t b = source[(start_offset + i) / 2];
            pixels[i] = (i & 1) == 0 ? static_cast<uint8_t>(b >> 4) : static_cast<uint8_t>(b & 0x0F);
        }
    } else {
        std::memcpy(pixels, source + start_offset, static_cast<std::size_t>(width));
    }
}

// The row blocks hold four scan lines' worth, as the host's rows may be read at an offset.
constexpr int64_t GIF_ROW_BLOCK_ROWS = 4;

// A generation of the dictionary whose strings averaged fewer pixels than this (in tenths) is
// followed by a hashed one. Photographs average 2 to 3.5 pixels a code, and code a tenth to a sixth
// faster in the hashed form; images of runs and repeats average 5 and more, and code two to three
// times faster with the first extension inline.
constexpr uint32_t GIF_HASHED_BELOW_TENTHS = 40;
// For nibble pixels the short form is the direct one, whose rows outgrow the first level cache but
// spare a mispredicted branch on most codes: worth it below this many pixels a code (dithered
// images average 13), not on images of long runs (cartoons, 30), whose records stay cached.
constexpr uint32_t GIF_DIRECT_BELOW_TENTHS = 200;

// A run of at least this many pixels, where a row's coding starts or resumes, is coded in a loop of
// its own (see code_generation).
constexpr std::ptrdiff_t GIF_RUN_LOOP_PIXELS = 256;

// Everything the coding loop carries from one row to the next.
struct gif_coder {
    uint8_t *table;
    uint8_t *block_buffer;
    write_fn write;
    int32_t io_handle;
    uint32_t clear_code;
    uint32_t first_free_code;
    uint32_t first_width;
    int32_t prefix;     // the string being extended; strings run on across row ends
    uint32_t next_code; // the code the next new string gets
    uint32_t widen_at;  // next_code value at which the code width steps up (or the table restarts)
    gif_code_packer packer;
    uint32_t generation_pixels = 0;                       // pixels coded since the dictionary's last restart
    uint32_t short_below = 0;                             // generations of fewer pixels than this ...
    dictionary_form short_form = dictionary_form::hashed; // ... are followed by one in this form
    dictionary_form form = dictionary_form::first;        // the dictionary's form in this generation
    bool generation_ended = false;
    int8_t pinned_form = LZW_BY_DATA; // the forms after the first pinned (see lzw_paths), or judged
};

// Codes pixels from p up to end or to the next restart of the dictionary, and leaves p after the
// last pixel coded: per pixel extend the string, or emit it and add prefix+s, searching the
// dictionary in the generation's form. GIF decoders define one entry
// per code after the first and widen when their next code reaches 2^width, one code behind the
// encoder, so the encoder widens right after code 2^width itself has been added. The state lives
// in locals, so that nothing but the dictionary and the sub-block buffer is touched per pixel, and
// goes back to `coder` on every way out.
//
// `InRun`: the pixels all repeat one value (form first only). After each emitted code, and at the
// start, the run's first extensions are then followed by string_table_follow_run, several a step.
// A loop of its own, so that the general one keeps its shape.
template <dictionary_form form, bool InRun = false>
int32_t code_generation(gif_coder &coder, const uint8_t *&p_out, const uint8_t *const end) noexcept
{
    static_assert(!InRun || form == dictionary_form::first);
    uint8_t *const table = coder.table;
    uint8_t *const block_buffer = coder.block_buffer;
    const uint8_t *p = p_out;
    // With the first extension inline the string is held as its record's place, from which the
    // walk along first extensions loads directly; the other forms hold its code.
    constexpr bool by_place = form == dictionary_form::first;
    auto code_of = [](uint32_t string) { return by_place ? string_table_code_at(string) : string; };
    auto string_of = [](uint32_t code) { return by_place ? string_table_place(code) : code; };
    uint32_t prefix = string_of(static_cast<uint32_t>(coder.prefix));
    uint32_t next_code = coder.next_code;
    uint32_t widen_at = coder.widen_at;
    gif_code_packer packer = coder.packer;
    if constexpr (InRun)
        p = string_table_follow_run(prefix, p, end, table);
    int32_t r = 0;
    // Emits one code, flushing a full sub-block first; a failed write leaves the loop.
    auto emit = [&](uint32_t code) ORVELN1_FORCEINLINE -> bool {
        if (packer.bits_held >= static_cast<uint32_t>(GIF_FLUSH_BITS)) [[unlikely]] {
            r = gif_packer_flush(coder.write, block_buffer, packer.bits_held, coder.io_handle);
            if (r < 0)
                return false;
            packer.bits_held &= 7;
        }
        packer.put(block_buffer, code);
        return true;
    };
    while (p < end) {
        const uint8_t s = *p++;
        int32_t found;
        if constexpr (form == dictionary_form::direct) {
            found = string_table_find_direct(prefix, s, table);
        } else if constexpr (form == dictionary_form::hashed) {
            found = string_table_find_hashed(static_cast<int32_t>(prefix), s, table);
        } else {
            uint32_t record;
            if (string_table_find_first_placed(prefix, s, table, record))
                continue;
            found = string_table_find_later_placed(prefix, s, record, table);
        }
        if (found >= 0) {
            prefix = string_of(static_cast<uint32_t>(found));
            continue;
        }
        if (!emit(code_of(prefix)))
            break;
        if constexpr (form == dictionary_form::direct)
            next_code =
                static_cast<uint32_t>(string_table_add_direct(prefix, s, static_cast<int32_t>(next_code), table));
        else if constexpr (form == dictionary_form::hashed)
            next_code = static_cast<uint32_t>(string_table_add_hashed(found, static_cast<int32_t>(prefix), s,
                                                                      static_cast<int32_t>(next_code), table));
        else
            next_code = static_cast<uint32_t>(string_table_add_placed(found, static_cast<int32_t>(code_of(prefix)), s,
                                                                      static_cast<int32_t>(next_code), table));
        prefix = string_of(s);
        if (next_code == widen_at) [[unlikely]] {
            if (packer.code_width == GIF_MAX_CODE_WIDTH) {
                // Code 4080 is the last one added: restart, telling the decoder with a 12-bit clear.
                if (!emit(coder.clear_code))
                    break;
                packer.code_width = coder.first_width;
                next_code = coder.first_free_code;
                widen_at = (1u << packer.code_width) + 1;
                coder.generation_ended = true;
                break;
            }
            ++packer.code_width;
            widen_at = (packer.code_width == GIF_MAX_CODE_WIDTH ? GIF_ENCODER_LAST_LIMIT : 1u << packer.code_width) + 1;
        }
        if constexpr (InRun)
            p = string_table_follow_run(prefix, p, end, table);
    }
    coder.prefix = static_cast<int32_t>(code_of(prefix));
    coder.next_code = next_code;
    coder.widen_at = widen_at;
    coder.packer = packer;
    p_out = p;
    return r;
}

// After a restart: the next generation's form, judged from the one that ended, and its dictionary
// emptied.
inline void start_generation(gif_coder &coder) noexcept
{
    const bool short_form =
        coder.pinned_form == LZW_BY_DATA ? coder.generation_pixels < coder.short_below : coder.pinned_form != 0;
    coder.form = short_form ? coder.short_form : dictionary_form::first;
    string_table_reset_form(coder.table, coder.form);
    coder.generation_pixels = 0;
    coder.generation_ended = false;
}

// Codes the pixels [p, end) where the first extensions are inline and a run of at least
// GIF_RUN_LOOP_PIXELS starts at p (flat areas, backgrounds): that run, up to its end or a restart
// of the dictionary, in a loop of its own, kept out of line so that the general loops keep their
// registers and layout (with the check inside code_pixels, the gradient coded 6 % slower). Leaves
// p after the pixels coded, where there is no such run unchanged.
ORVELN1_NOINLINE int32_t code_run(gif_coder &coder, const uint8_t *&p, const uint8_t *const end) noexcept
{
    const uint8_t *const from = p;
    const uint8_t *const run_end = string_table_run_end(p, end);
    if (run_end - p < GIF_RUN_LOOP_PIXELS)
        return 0;
    const int32_t r = code_generation<dictionary_form::first, true>(coder, p, run_end);
    coder.generation_pixels += static_cast<uint32_t>(p - from);
    if (r == 0 && coder.generation_ended)
        start_generation(coder);
    return r;
}

// Codes the pixels [p, end). Each generation of the dictionary takes the form that suits the last
// one: the short form (hashed, or direct for nibble pixels) when its strings were short, else the
// first extension inline. Kept out of line:
// inlined into the row loop it competes for registers with the row fetching.
ORVELN1_NOINLINE int32_t code_pixels(gif_coder &coder, const uint8_t *p, const uint8_t *const end) noexcept
{
    while (p < end) {
        const uint8_t *const from = p;
        int32_t r;
        switch (coder.form) {
        case dictionary_form::direct:
            r = code_generation<dictionary_form::direct>(coder, p, end);
            break;
        case dictionary_form::hashed:
            r = code_generation<dictionary_form::hashed>(coder, p, end);
            break;
        default:
            r = code_generation<dictionary_form::first>(coder, p, end);
            break;
        }
        if (r < 0)
            return r;
        coder.generation_pixels += static_cast<uint32_t>(p - from);
        if (coder.generation_ended)
            start_generation(coder);
    }
    return 0;
}

} // namespace

int32_t gif_lzw_compress(const codec_callbacks &cb, const void *image_header, int32_t io_handle, int32_t start_offset,
                         int32_t first_row, int32_t height, get_row_fn get_row, int32_t row_context, int32_t interlaced,
                         int32_t code_size_word) noexcept
{
    const image_header_view header = read_image_header(image_header);
    const int32_t width = header.width();
    const int depth = header.depth();
    const int root_size = (code_size_word & 7) + 1;
    const int64_t row_bytes = padded_row_bytes(width, depth);
    const int64_t row_block_bytes = GIF_ROW_BLOCK_ROWS * row_bytes;
    const int64_t end_row = int64_t{first_row} + height;
    // Every pixel must be a root of the code space, every row request must name a row that the
    // host can have, and the unpacking must stay inside the source block.
    const int64_t source_end = depth == 4 ? (int64_t{start_offset} + width + 1) / 2 : int64_t{start_offset} + width;
    const int pixel_bits = depth == 4 ? 4 : 8;
    if (width < 1 || height < 1 || first_row < 0 || end_row > INT32_MAX || start_offset < 0 || root_size < pixel_bits ||
        !block_size_fits(row_block_bytes) || source_end > row_block_bytes)
        return ERR_BAD_DATA;

    // Nibble pixels are below 16: the block has room for the direct form as well.
    const bool nibbles = depth == 4;
    static_assert(STRING_DIRECT_TABLE_BYTES >= STRING_TABLE_BYTES);
    lzw_block dictionary(nibbles ? STRING_DIRECT_TABLE_BYTES : STRING_TABLE_BYTES);
    if (!dictionary)
        return ERR_NO_MEMORY;
    uint8_t *const table = dictionary.get();
    string_table_reset(table);

    const uint16_t clear_code = static_cast<uint16_t>(1u << root_size);
    const uint16_t end_code = static_cast<uint16_t>(clear_code + 1);
    const uint16_t first_free_code = static_cast<uint16_t>(clear_code + 2);
    const uint16_t first_width = static_cast<uint16_t>(root_size + 1);

    lzw_block pixel_block(static_cast<std::size_t>(row_block_bytes));
    if (!pixel_block)
        return ERR_NO_MEMORY;
    lzw_block source_block(static_cast<std::size_t>(row_block_bytes));
    if (!source_block)
        return ERR_NO_MEMORY;
    lzw_block output_block(GIF_BLOCK_BUFFER_BYTES);
    if (!output_block)
        return ERR_NO_MEMORY;
    uint8_t *const pixels = pixel_block.get();
    uint8_t *const source = source_block.get();
    uint8_t *const block_buffer = output_block.get();
    std::memset(block_buffer, 0, GIF_BLOCK_BUFFER_BYTES);

    const write_fn write = cb.write;
    const int32_t end = static_cast<int32_t>(end_row);
    const int32_t request_bytes = static_cast<int32_t>(row_bytes);
    auto fetch_row = [&](int32_t k) -> int32_t {
        const int32_t r = get_row(row_context, source, interlaced_row(k, interlaced, end), request_bytes);
        if (r < 0)
            return r;
        unpack_row(source, pixels, width, depth, start_offset);
        return 0;
    };

    int32_t k = first_row;
    int32_t r = fetch_row(k);
    if (r < 0)
        return r;
    gif_coder coder{table,
                    block_buffer,
                    write,
                    io_handle,
                    clear_code,
                    first_free_code,
                    first_width,
                    pixels[0],
                    first_free_code,
                    (1u << first_width) + 1,
                    gif_code_packer{0, 0, first_width}};
    // A generation adds the codes first_free_code to GIF_ENCODER_LAST_LIMIT. The first one has the
    // first extension inline: nothing is known of the image yet.
    const uint32_t generation_codes = GIF_ENCODER_LAST_LIMIT + 1u - first_free_code;
    coder.short_below = (nibbles ? GIF_DIRECT_BELOW_TENTHS : GIF_HASHED_BELOW_TENTHS) * generation_codes / 10;
    coder.short_form = nibbles ? dictionary_form::direct : dictionary_form::hashed;
    coder.pinned_form = lzw_choose_paths().dictionary;
    r = gif_pack_code(write, block_buffer, clear_code, coder.packer, io_handle);
    if (r < 0)
        return r;

    // The first pixel, taken as the prefix, ends its row too when the image is one pixel wide.
    int32_t x = 1;
    if (width == 1) {
        ++k;
        if (k < end && (r = fetch_row(k)) < 0)
            return r;
        x = 0;
    }
    while (k < end) {
        const uint8_t *row = pixels + x;
        if (coder.form == dictionary_form::first && (r = code_run(coder, row, pixels + width - 1)) < 0)
            return r;
        if ((r = code_pixels(coder, row, pixels + width - 1)) < 0)
            return r;
        // The row's last pixel: the next row is asked for before this pixel is coded.
        const uint8_t s = pixels[width - 1];
        ++k;
        if (k < end && (r = fetch_row(k)) < 0)
            return r;
        if ((r = code_pixels(coder, &s, &s + 1)) < 0)
            return r;
        x = 0;
    }

    gif_code_packer &writer = coder.packer;
    if ((r = gif_pack_code(write, block_buffer, static_cast<uint16_t>(coder.prefix), writer, io_handle)) < 0)
        return r;
    // Reading that last code, a decoder defines one more entry; when that brings its next code to
    // 2^width it widens before the end code, so the end code goes out one bit wider too.
    if (coder.next_code + 1 == coder.widen_at && writer.code_width < GIF_MAX_CODE_WIDTH)
        ++writer.code_width;
    if ((r = gif_pack_code(write, block_buffer, end_code, writer, io_handle)) < 0)
        return r;

    const unsigned count = writer.final_bytes(); // 1 to 255
    const uint8_t count_byte = static_cast<uint8_t>(count);
    static constexpr uint8_t GIF_BLOCK_TERMINATOR = 0x00;
    if (write(io_handle, &count_byte, 1) != 1)
        return ERR_WRITE;
    if (write(io_handle, block_buffer, static_cast<int32_t>(count)) != static_cast<int32_t>(count))
        return ERR_WRITE;
    if (write(io_handle, &GIF_BLOCK_TERMINATOR, 1) != 1)
        return ERR_WRITE;
    if (write(io_handle, &GIF_TRAILER, 1) != 1)
        return ERR_WRITE;
    return 0;
}

} // namespace orveln1
