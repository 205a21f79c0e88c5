// SPDX-License-Identifier: MIT
// Fuzz target for TIFF strip coding: arbitrary rows (depth, width, byte order and row offset from
// the input's last four bytes) through encode then decode must come back as the bytes coded.
#include "boundary/image_header.hpp"
#include "boundary/result_codes.hpp"
#include "codec_fuzz_support.hpp"
#include "orveln1.h"
#include "tiff/tif_compressor.hpp"
#include "tiff/tif_decompressor.hpp"

using namespace codec_fuzz;

namespace
{
std::span<const uint8_t> pixels;
std::size_t padded = 0;
std::size_t meaningful = 0;
int32_t next_row = 0;
std::vector<uint8_t> strip;
std::vector<uint8_t> decoded;

// The input's bytes as rows of `padded` bytes, zeros past its end.
uint8_t pixel(std::size_t row, std::size_t at)
{
    const std::size_t from = row * padded + at;
    return from < pixels.size() ? pixels[from] : 0;
}

int32_t get_row(int32_t row_context, uint8_t *buffer, int32_t row_index, int32_t count)
{
    require(row_context == 5 && row_index == next_row++ && static_cast<std::size_t>(count) == padded);
    for (std::size_t i = 0; i < padded; ++i)
        buffer[i] = pixel(static_cast<std::size_t>(row_index), i);
    return 0;
}

int32_t write_out(int32_t io_handle, const uint8_t *buffer, int32_t count)
{
    // Flushes write 1000 or 1001 bytes; the last piece can reach 1002 (the end code after a
    // partial byte).
    require(io_handle == 3 && count > 0 && count <= 1002);
    strip.insert(strip.end(), buffer, buffer + count);
    return count;
}

int32_t put_row(const uint8_t *row, int32_t, int32_t, int32_t)
{
    decoded.insert(decoded.end(), row, row + meaningful);
    return 0;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 4)
        return 0;
    const uint8_t *t = data + size - 4;
    static const int depths[] = {1, 4, 8, 16, 24, 32};
    const int depth = depths[t[0] % 6];
    const uint32_t compression = (t[0] & 0x80) != 0 ? HEADER_COMPRESSION_SWAP_RB : 0;
    const int32_t width = 1 + ((t[1] << 8 | t[2]) % 700);
    const int32_t row_offset = t[3] & 7;

    pixels = std::span(data, size - 4);
    padded = static_cast<std::size_t>(padded_row_bytes(width, depth));
    meaningful = static_cast<std::size_t>(unpadded_row_bytes(width, depth));
    next_row = 0;
    strip.clear();
    decoded.clear();
    const int32_t rows = static_cast<int32_t>(std::max<std::size_t>(1, (pixels.size() + padded - 1) / padded));
    const std::vector<uint8_t> header = image_header(width, rows, depth, compression);

    memory_stats_reset();
    const codec_callbacks cb{read_input, write_out, put_row};
    require(tif_lzw_compress(cb, header.data(), 3, row_offset, 0, rows, get_row, 5, 0) == 0 && next_row == rows);
    require(memory_stats_now().live == 0 && memory_stats_now().obtained == 4);

    input = {strip.data(), strip.size()};
    auto read_buffer = std::make_unique<uint8_t[]>(ORVELN1_TIF_READ_BUFFER_BYTES);
    auto row_buffer = std::make_unique<uint8_t[]>(meaningful + ORVELN1_TIF_ROW_SLACK_BYTES);
    const int32_t d = tif_lzw_decompress(cb, 7, read_buffer.get(), 0, static_cast<uint32_t>(meaningful),
                                         row_buffer.get(), static_cast<uint32_t>(rows), 9);
    require(d == 1 && decoded.size() == meaningful * static_cast<std::size_t>(rows));
    if (row_offset != 0)
        return 0; // the bytes past a row's own are covered by the unit tests

    // Without an offset the coded bytes are each row's own, 24-bit (and marked 32-bit) pixels red
    // first.
    const std::size_t group = depth == 24 ? 3 : (depth == 32 && compression != 0) ? 4 : 0;
    for (std::size_t row = 0; row < static_cast<std::size_t>(rows); ++row)
        for (std::size_t i = 0; i < meaningful; ++i) {
            const std::size_t at = group == 0 ? i : i % group == 0 ? i + 2 : i % group == 2 ? i - 2 : i;
            require(decoded[row * meaningful + i] == pixel(row, at));
        }
    return 0;
}
