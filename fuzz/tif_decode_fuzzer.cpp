// SPDX-License-Identifier: MIT
// Fuzz target for TIFF strip decoding: arbitrary strip bytes, with the row length, row count,
// read piece size and a refused row taken from the input's last six bytes.
#include "boundary/result_codes.hpp"
#include "codec_fuzz_support.hpp"
#include "orveln1.h"
#include "tiff/tif_decompressor.hpp"

using namespace codec_fuzz;

namespace
{
const uint8_t *read_buffer = nullptr;
const uint8_t *row_buffer = nullptr;
uint32_t row_bytes = 0;
uint32_t rows = 0;
uint32_t refuse_at = 0;
uint32_t checksum = 0;

int32_t read_piece(int32_t io_handle, uint8_t *buffer, int32_t count)
{
    const std::ptrdiff_t at = buffer - read_buffer;
    require(io_handle == 11 && at >= 0 && at <= 2 && count == TIF_READ_CHUNK_BYTES - at);
    return input.take(buffer, count);
}

int32_t put_row(const uint8_t *row, int32_t row_context, int32_t, int32_t fourth)
{
    require(row == row_buffer && row_context == 22 && fourth == 0);
    // The row is always the host's own buffer, which holds row_bytes and more; touching its ends
    // is enough, and keeps runs that owe thousands of long rows fast.
    checksum += row[0] + row[row_bytes - 1];
    return rows++ == refuse_at ? refusal : 0;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 6)
        return 0;
    const uint8_t *t = data + size - 6;
    row_bytes = (static_cast<uint32_t>(t[0]) << 8 | t[1]) % 5000;        // 0 is refused
    const uint32_t row_count = t[2] < 200 ? t[2] : (t[2] - 200u) * 100u; // 0: no limit
    input = {data, size - 6, 0, static_cast<std::size_t>(t[3] == 0 ? TIF_READ_CHUNK_BYTES : t[3])};
    refuse_at = t[4] == 0xFF ? UINT32_MAX : t[4];
    rows = 0;
    // Host buffers at the end of exact-size blocks, so that any access past them is caught.
    auto read_block = std::make_unique<uint8_t[]>(ORVELN1_TIF_READ_BUFFER_BYTES);
    auto row_block = std::make_unique<uint8_t[]>(row_bytes + ORVELN1_TIF_ROW_SLACK_BYTES);
    read_buffer = read_block.get();
    row_buffer = row_block.get();

    const int32_t r = tif_lzw_decompress({read_piece, nullptr, put_row}, 11, read_block.get(),
                                         static_cast<int32_t>(t[5]) - 128, row_bytes, row_block.get(), row_count, 22);
    require(r == 1 || r == ERR_BAD_DATA || r == refusal);
    require(row_count == 0 || rows <= row_count);
    require(r != refusal || rows == refuse_at + 1);
    require(memory_stats_now().live == 0);
    return 0;
}
