// SPDX-License-Identifier: MIT
// GIF image data decoding: the least-significant-bit-first code reader over data sub-blocks, the
// row packer for 1- and 4-bit scan lines, and the LZW decompressor behind decode_gif.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

#include "boundary/callbacks.hpp"
#include "boundary/result_codes.hpp"

namespace orveln1
{

// What gif_read_code returns when the data holds no whole code any more: the host's input ran
// short, or the block terminator has been read. Above every code a 12-bit reader can give.
constexpr uint16_t GIF_SHORT_READ = 0x7FFF;

// Codes are at most 12 bits wide, so a table generation has at most 4096 entries.
constexpr int GIF_MAX_CODE_WIDTH = 12;
constexpr int GIF_TABLE_ENTRIES = 1 << GIF_MAX_CODE_WIDTH;

// One refill reads at most this many data sub-blocks: the TIFF chunk size over the largest
// sub-block (30000 / 255 = 117), capped at 30.
constexpr int GIF_SUB_BLOCKS_PER_REFILL = read_chunk_size / 255 < 30 ? read_chunk_size / 255 : 30;
// Largest data sub-block: its length is one byte.
constexpr int GIF_MAX_SUB_BLOCK = 255;
// The bytes one refill can place in read_buffer. The host's buffer is documented as 7653 bytes;
// the reader never needs more than this.
constexpr int GIF_REFILL_BYTES = GIF_SUB_BLOCKS_PER_REFILL * GIF_MAX_SUB_BLOCK;
constexpr int GIF_READ_BUFFER_BYTES = 7653;
static_assert(GIF_REFILL_BYTES <= GIF_READ_BUFFER_BYTES);

// The code reader's state. Bits not yet taken wait in an accumulator, least significant first,
// and are topped up one byte at a time from the sub-block data held in read_buffer, so that no
// byte is touched before its bits are needed and none past the bytes the host delivered.
struct gif_bit_reader {
    uint64_t bits = 0;      // untaken bits, the next code's lowest bit in bit 0
    uint32_t bit_count = 0; // how many of them are valid (at most 63); the bits above them, when
                            // set, are those of the next bytes of read_buffer, already in place
    uint32_t pos = 0;       // next byte of read_buffer to take
    uint32_t held = 0;      // bytes of read_buffer the last refill placed
    uint32_t code_width = 0;
    uint32_t code_mask = 0;
    bool ended = false; // the terminator was read or the input ran short: no further refill
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

// Takes the next code of reader.code_width bits, refilling when the held bits run out. Returns
// GIF_SHORT_READ when the input holds no whole code any more. Inline: the decoder's loop keeps
// the reader in registers and pays a call only per refill.
[[nodiscard]] inline uint16_t gif_read_code(const codec_callbacks &cb, int32_t io_handle, gif_bit_reader &reader,
                                            uint8_t *read_buffer) noexcept
{
    // Eight whole bytes still held: take as many as fit in the window with one load. The bits of
    // a partly taken byte land where the byte-wise path below would put them again.
    if (reader.bit_count < reader.code_width && reader.held - reader.pos >= 8) [[likely]] {
        uint64_t next8 = 0;
        if constexpr (std::endian::native == std::endian::little) {
            std::memcpy(&next8, read_buffer + reader.pos, sizeof next8);
        } else {
            for (int i = 7; i >= 0; --i)
                next8 = next8 << 8 | read_buffer[reader.pos + static_cast<uint32_t>(i)];
        }
        reader.bits |= next8 << reader.bit_count;
        const uint32_t taken = (63 - reader.bit_count) >> 3;
        reader.pos += taken;
        reader.bit_count += taken * 8;
    }
    while (reader.bit_count < reader.code_width) {
        if (reader.pos == reader.held) {
            if (reader.ended)
                return GIF_SHORT_READ;
            const gif_refill_result r = gif_refill(cb, io_handle, read_buffer);
            reader.pos = 0;
            reader.held = r.held;
            reader.ended = r.ended;
            if (r.held == 0)
                return GIF_SHORT_READ;
        }
        reader.bits |= static_cast<uint64_t>(read_buffer[reader.pos++]) << reader.bit_count;
        reader.bit_count += 8;
    }
    const uint16_t code = static_cast<uint16_t>(reader.bits & reader.code_mask);
    reader.bits >>= reader.code_width;
    reader.bit_count -= reader.code_width;
    return code;
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

// Packs the first width pixels (one byte each) of row in place into the scan-line layout of the
// depth: 8 pixels a byte at depth 1, 2 at depth 4, leftmost pixel in the high bits. At an odd
// width at depth 4 the last low nibble is 0; at a width that is a multiple of 8 at depth 1 a zero
// byte follows the packed bytes. Depths other than 1 and 4 leave the row as it is.
void gif_pack_row(uint8_t *row, int32_t width, int32_t depth) noexcept;

// Decodes the image data of one GIF image, pulled through cb.read, into rows handed to put_row.
// Returns 0 when the image is complete or the data ends (the end code, a code the table cannot
// name, the input running short), ERR_NO_MEMORY, ERR_BAD_DATA (bad geometry, or the data does not
// begin with the clear code), ERR_UNSUPPORTED_DEPTH (depth not 1, 4 or 8), or the negative value
// put_row returned.
[[nodiscard]] int32_t gif_lzw_decompress(const codec_callbacks &cb, int32_t io_handle, uint8_t *read_buffer,
                                         const void *image_header, put_row_fn put_row, int32_t row_context,
                                         int32_t code_size_word) noexcept;

} // namespace orveln1
