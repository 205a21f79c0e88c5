// SPDX-License-Identifier: MIT
// GIF image data decoding: the least-significant-bit-first code reader over data sub-blocks, the
// row packer for 1- and 4-bit scan lines, and the LZW decompressor behind decode_gif.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

#include "boundary/callbacks.hpp"
#include "boundary/result_codes.hpp"
#include "gif/gif_format.hpp"
#include "lzw/lzw_code_order.hpp"
#include "lzw/lzw_decode_table.hpp"
#include "lzw/lzw_target.hpp"

namespace orveln1
{

// What gif_read_code returns when the data holds no whole code any more: the host's input ran
// short, or the block terminator has been read. Above every code a 12-bit reader can give.
constexpr uint16_t GIF_SHORT_READ = 0x7FFF;

// A table generation has at most 4096 entries.
static_assert(1u << GIF_MAX_CODE_WIDTH == LZW_CODE_LIMIT);
// The code reader's fast path takes this many bytes with one load while that many are held.
constexpr uint32_t GIF_WINDOW_BYTES = 8;
// Bits left over from one refill for the next code are fewer than a code (at most 11) and end on a
// byte boundary, so they lie in at most two bytes; they move to the buffer's front before a refill.
constexpr int GIF_CARRY_BYTES = 2;

// The bytes one refill can place in read_buffer; with the carried bytes they fit the host's buffer.
constexpr int GIF_REFILL_BYTES = GIF_SUB_BLOCKS_PER_REFILL * GIF_MAX_SUB_BLOCK;
static_assert(GIF_CARRY_BYTES + GIF_REFILL_BYTES <= GIF_READ_BUFFER_BYTES);

// The code reader's state: positions in bits from read_buffer's first byte. The bytes the host
// delivered, behind the carried ones, end at bit_end; nothing past them is read.
struct gif_bit_reader {
    uint32_t bit_pos = 0;  // the next code's lowest bit
    uint32_t bit_end = 0;  // end of the bytes held (a multiple of 8)
    uint32_t fast_end = 0; // below it a code is read with one GIF_WINDOW_BYTES load
    bool ended = false;    // the terminator was read or the input ran short: no further refill
};

struct gif_refill_result {
    uint32_t held;
    bool ended;
};

// Reads up to GIF_SUB_BLOCKS_PER_REFILL sub-blocks into read_buffer from its front: per
// sub-block one read_fn call for the length byte and one for the data (the terminator's
// zero-byte data call included). A short or failed read keeps what was delivered and ends the
// input; so does the terminator.
[[nodiscard]] gif_refill_result gif_refill(const codec_callbacks &cb, int32_t io_handle, uint8_t *read_buffer) noexcept;

// A code and the reader after it.
struct gif_read_result {
    uint32_t code;
    gif_bit_reader reader;
};

// The slow path of gif_read_code, near the end of the bytes held: refills (carrying the unread
// bits to the front) while fewer than code_width bits are left and the input has not ended, then
// takes the code byte by byte. GIF_SHORT_READ when no whole code is left. The reader goes in and
// out by value, so that the decode loop keeps it in registers.
[[nodiscard]] gif_read_result gif_read_code_slow(const codec_callbacks &cb, int32_t io_handle, uint8_t *read_buffer,
                                                 gif_bit_reader reader, uint32_t code_width) noexcept;

// The low code_width bits, as a mask: 2^code_width - 1, which the decode loop holds already (one
// below the code space's next width step) rather than build from the width for every code.
[[nodiscard]] constexpr uint32_t gif_code_mask(uint32_t code_width) noexcept
{
    return (1u << code_width) - 1;
}

// The code under `code_mask` (gif_code_mask) at bit_pos, which lies below the reader's fast_end:
// the 8 bytes from bit_pos's byte are the reader's to load.
[[nodiscard]] inline uint32_t gif_window_code(const uint8_t *read_buffer, uint32_t bit_pos, uint32_t code_mask) noexcept
{
    return static_cast<uint32_t>(lzw_lsb_first::window(read_buffer, bit_pos)) & code_mask;
}

// Takes the next code of code_width bits (under code_mask), least significant bit first.
[[nodiscard]] inline uint32_t gif_read_code(const codec_callbacks &cb, int32_t io_handle, gif_bit_reader &reader,
                                            uint8_t *read_buffer, uint32_t code_width, uint32_t code_mask) noexcept
{
    ORVELN1_ASSERT(code_mask == gif_code_mask(code_width));
    if (reader.bit_pos < reader.fast_end) [[likely]] {
        const uint32_t code = gif_window_code(read_buffer, reader.bit_pos, code_mask);
        reader.bit_pos += code_width;
        return code;
    }
    const gif_read_result r = gif_read_code_slow(cb, io_handle, read_buffer, reader, code_width);
    reader = r.reader;
    return r.code;
}

// The two bytes that end an image descriptor and begin its data, taken as one little-endian
// word: the packed byte (interlace flag 0x40, colour table size field in bits 0-2) and the LZW
// minimum code size. A code size of 0 or above 8 falls back to the size field plus one, and the
// interlace flag is then dropped with the rest of the packed byte.
struct gif_code_size {
    int root_size;
    bool interlaced;
};
[[nodiscard]] constexpr gif_code_size gif_settle_code_size(int32_t code_size_word) noexcept
{
    uint32_t w = static_cast<uint32_t>(code_size_word) & 0xFFFF;
    if (w < 256)
        w = ((w & 7) + 1) * 256;
    if (w / 256 > 8)
        w = ((w & 7) + 1) * 256;
    return gif_code_size{static_cast<int>(w / 256), (w & 0x40) != 0};
}

// Packs width pixels (one byte each) into the row slot in the scan-line layout of the depth: 8
// pixels a byte at depth 1, 2 at depth 4, leftmost pixel in the high bits, one a byte at depth 8.
// At an odd width at depth 4 the last low nibble is 0; at a width that is a multiple of 8 at depth
// 1 a zero byte follows the packed bytes. The slot may be the pixels' own address (packing in place)
// or lie wholly apart from them.
void gif_pack_row(uint8_t *slot, const uint8_t *pixels, int32_t width, int32_t depth) noexcept;

// Decodes the image data of one GIF image, pulled through cb.read, into rows handed to put_row,
// every row from the same address: the front of the decoder's row block.
// Returns 0 when the image is complete or the data ends (the end code, a code the table cannot
// name, the input running short), ERR_NO_MEMORY, ERR_BAD_DATA (bad geometry, or the data does not
// begin with the clear code), ERR_UNSUPPORTED_DEPTH (depth not 1, 4 or 8), or the negative value
// put_row returned.
[[nodiscard]] int32_t gif_lzw_decompress(const codec_callbacks &cb, int32_t io_handle, uint8_t *read_buffer,
                                         const void *image_header, put_row_fn put_row, int32_t row_context,
                                         int32_t code_size_word) noexcept;

// Why decoding ended with 0.
enum class gif_end : uint8_t {
    complete,     // the image's last row went out; no code after the one that completed it was read
    end_code,     // the end code, before the image was complete
    unknown_code, // a code the table cannot name yet: above the next free code, or right after a
                  // clear code one above 255, which is no byte
    input_ended,  // no whole code left: the block terminator, or the host's input ran short
};

// What a decode that returned 0 says about where it stopped.
struct gif_end_report {
    gif_end end = gif_end::complete;
    // Pixels the codes gave before the stop, in the order the data holds them (rows top first, or
    // pass by pass when interlaced); width * height when complete.
    uint64_t end_pixel = 0;
    bool leading_clear_code = false; // the data's first code was the clear code
};

// The same decoder, saying in `report` why it stopped. start_cleared: data whose first code is not
// the clear code is decoded from the state a clear code leaves (that code is the first of the
// first table generation) instead of being refused with ERR_BAD_DATA.
[[nodiscard]] int32_t gif_lzw_decompress(const codec_callbacks &cb, int32_t io_handle, uint8_t *read_buffer,
                                         const void *image_header, put_row_fn put_row, int32_t row_context,
                                         int32_t code_size_word, bool start_cleared, gif_end_report &report) noexcept;

} // namespace orveln1
