// SPDX-License-Identifier: MIT
// TIFF LZW strip decoding: 9- to 12-bit codes, most significant bit first, read from the host in
// 30000-byte chunks, expanded into the host's row buffer and handed over one row at a time.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "boundary/callbacks.hpp"
#include "boundary/result_codes.hpp"

namespace orveln1
{

constexpr int32_t TIF_CLEAR_CODE = 256;
constexpr int32_t TIF_END_CODE = 257;
constexpr int32_t TIF_FIRST_TABLE_CODE = 258;
constexpr int TIF_MIN_CODE_WIDTH = 9;
constexpr int TIF_MAX_CODE_WIDTH = 12;
// 12-bit codes name entries 0 to 4095; no entry above can ever be asked for.
constexpr int32_t TIF_CODE_LIMIT = 1 << TIF_MAX_CODE_WIDTH;

// The decode table's block keeps the size it has always had, room for 4662 entries of 9 bytes
// rounded up to a multiple of 4, so that a host sees the same memory use. The entries kept in it
// are smaller (tif_decode_table) and only the 4096 that a code can name are stored.
constexpr std::size_t TIF_DECODE_TABLE_BYTES = 41960;

// The read buffer takes a chunk plus the two bytes past it that the 4-byte code window can touch.
constexpr int32_t TIF_READ_BUFFER_BYTES = read_chunk_size + 2;
// The longest string a code names is that of code 4095: one byte per table code since the reset
// plus its root, 4095 - 258 + 2 bytes. The row buffer holds row_bytes plus this less one.
constexpr uint32_t TIF_LONGEST_STRING = TIF_CODE_LIMIT - TIF_FIRST_TABLE_CODE + 2;
constexpr uint32_t TIF_ROW_SLACK_BYTES = TIF_LONGEST_STRING - 1;

// The decode table: for every code a 64-bit word and a 16-bit string length, two arrays in the
// block. Strings are written into the row buffer with whole 8-byte stores, so a word holds bytes
// laid out as they go to memory, the lowest-addressed byte in the lowest bits:
// - a string of up to 8 bytes is held whole, its first byte lowest, the bytes past its end 0;
// - a longer string is cut, from its start, into 8 bytes and then chunks of 6, the last chunk 1 to
//   6 bytes long. Its word holds that last chunk in its top bytes and, in its low 16 bits, the
//   link: the code of the string without the last chunk (whose length is 8 plus a multiple of 6).
//   Writing it takes one store per chunk, from the last to the first, and one for the 8 bytes.
//   Codes need 13 bits of the link's 16; its top bit (the run flag) says the string without its
//   last byte is one byte repeated, so that a long run, where LZW strings grow longest, is
//   written with one fill.
// The clear and end codes have a length no string reaches, so they are told apart from strings
// only once a code is known not to be a short string.
constexpr uint32_t TIF_SHORT_STRING = 8;
constexpr uint32_t TIF_CHUNK = 6;
constexpr uint64_t TIF_LINK_BITS = 0xFFFF;
constexpr uint64_t TIF_LINK_MASK = 0x1FFF;
constexpr uint64_t TIF_RUN_FLAG = 0x8000;
// A byte appended to a long string goes to the word's top byte.
constexpr uint32_t TIF_TOP_BYTE_SHIFT = 56;
constexpr uint16_t TIF_CONTROL_LENGTH = 0xFFFF;
// Codes 0 to 4095, and 4096, the spare entry that a full table keeps redefining.
constexpr std::size_t TIF_TABLE_CODES = TIF_CODE_LIMIT + 1;
constexpr std::size_t TIF_LENGTHS_OFFSET = TIF_TABLE_CODES * sizeof(uint64_t);
// After the lengths, 256 bytes that keep row buffer bytes from before junk stores reached them.
constexpr std::size_t TIF_SHADOW_OFFSET = (TIF_LENGTHS_OFFSET + TIF_TABLE_CODES * sizeof(uint16_t) + 7) / 8 * 8;
constexpr std::size_t TIF_SHADOW_BYTES = 256;
static_assert(TIF_SHADOW_OFFSET + TIF_SHADOW_BYTES <= TIF_DECODE_TABLE_BYTES);
static_assert(TIF_LONGEST_STRING < TIF_CONTROL_LENGTH);

struct tif_decode_table {
    uint64_t *words;
    uint16_t *lengths;
};

// Position of the code reader in the read buffer, in bits from its first byte: `bit_pos` is the
// next code's first bit, `bit_end` the end of the bytes the host has delivered.
struct tif_bit_reader {
    uint32_t bit_pos;
    uint32_t bit_end;
};

// Brings more bytes into the read buffer once fewer than code_width bits are left. The one or two
// bytes that hold the unconsumed bits move to the front and the host is asked for the rest of a
// chunk behind them (30000, 29999 or 29998 bytes). Repeats until a code fits or the host delivers
// nothing (a result of 0 or below); the caller sees the latter as too few bits left.
[[nodiscard]] tif_bit_reader tif_refill(const codec_callbacks &cb, int32_t io_handle, uint8_t *read_buffer,
                                        tif_bit_reader reader, int code_width) noexcept;

// The next code of code_width bits, or ERR_READ when the host has no more bytes.
[[nodiscard]] inline int32_t tif_read_code(const codec_callbacks &cb, int32_t io_handle, uint8_t *read_buffer,
                                           tif_bit_reader &reader, int code_width) noexcept
{
    if (reader.bit_end - reader.bit_pos < static_cast<uint32_t>(code_width)) {
        reader = tif_refill(cb, io_handle, read_buffer, reader, code_width);
        if (reader.bit_end - reader.bit_pos < static_cast<uint32_t>(code_width))
            return ERR_READ;
    }
    // A code starts at most 7 bits into a byte and is at most 12 bits long, so four bytes hold it.
    // The window may reach two bytes past the delivered data; those bits are shifted out.
    uint32_t window;
    std::memcpy(&window, read_buffer + (reader.bit_pos >> 3), sizeof window);
    if constexpr (std::endian::native == std::endian::little)
        window = __builtin_bswap32(window);
    window <<= reader.bit_pos & 7;
    reader.bit_pos += static_cast<uint32_t>(code_width);
    return static_cast<int32_t>(window >> (32 - code_width));
}

// Sets the 256 single-byte strings and the clear and end codes. Table codes are defined anew after
// each reset, so they are left as they are.
void tif_reset_table(tif_decode_table table) noexcept;

// Decodes one strip, read through cb.read, into rows of row_bytes handed to cb.put_row with the
// indices first_row, first_row + 1, ... Returns 1 when row_count rows are delivered or the end
// code came (the missing rows are then delivered from the buffer as it stands); ERR_BAD_DATA for
// a row_bytes of 0, a strip that does not open with a clear code, a code beyond the next free one
// or data that runs out; ERR_NO_MEMORY; or the negative value put_row returned.
[[nodiscard]] int32_t tif_lzw_decompress(const codec_callbacks &cb, int32_t io_handle, uint8_t *read_buffer,
                                         int32_t first_row, uint32_t row_bytes, uint8_t *row_buffer, uint32_t row_count,
                                         int32_t row_context) noexcept;

} // namespace orveln1
