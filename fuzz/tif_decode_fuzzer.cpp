// SPDX-License-Identifier: MIT
// Fuzz target for TIFF strip decoding: arbitrary strip bytes, with the row length, row count,
// read piece size and a refused row taken from the input's last six bytes.
#include <memory>

#include "boundary/result_codes.hpp"
#include "codec_fuzz_support.hpp"
#include "orveln1.h"
#include "tiff/tif_decompressor.hpp"

using namespace orveln1;
using namespace codec_fuzz;

namespace
{

struct decode_host {
    byte_source strip;
    std::size_t piece;
    uint8_t *read_buffer;
    const uint8_t *row_buffer;
    uint32_t row_bytes;
    uint32_t rows;
    uint32_t refuse_at;
    uint32_t checksum;
};
decode_host host;

int32_t read_piece(int32_t io_handle, uint8_t *buffer, int32_t count)
{
    require(io_handle == 11);
    const std::ptrdiff_t at = buffer - host.read_buffer;
    require(at >= 0 && at <= 2 && count == TIF_READ_CHUNK_BYTES - at);
    return host.strip.take(buffer, count, host.piece);
}

int32_t put_row(const uint8_t *row, int32_t row_context, int32_t, int32_t fourth)
{
    require(row == host.row_buffer && row_context == 22 && fourth == 0);
    // The row is always the host's own buffer, which holds row_bytes and more; touching its ends
    // is enough, and keeps runs that owe thousands of long rows fast.
    host.checksum += row[0] + row[host.row_bytes - 1];
    return host.rows++ == host.refuse_at ? -7 : 0;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    constexpr std::size_t trailer = 6;
    if (size < trailer)
        return 0;
    const uint8_t *t = data + size - trailer;
    const uint32_t row_bytes = (static_cast<uint32_t>(t[0]) << 8 | t[1]) % 5000; // 0 is refused
    const uint32_t row_count = t[2] < 200 ? t[2] : (t[2] - 200u) * 100u;         // 0: no limit
    const std::size_t piece = t[3] == 0 ? TIF_READ_CHUNK_BYTES : t[3];
    const uint32_t refuse_at = t[4] == 0xFF ? UINT32_MAX : t[4];
    const int32_t first_row = static_cast<int32_t>(t[5]) - 128;

    // Host buffers at the end of exact-size blocks, so that any access past them is caught.
    auto read_buffer = std::make_unique<uint8_t[]>(ORVELN1_TIF_READ_BUFFER_BYTES);
    const std::size_t row_buffer_bytes = row_bytes + ORVELN1_TIF_ROW_SLACK_BYTES;
    auto row_buffer = std::make_unique<uint8_t[]>(row_buffer_bytes);
    host =
        decode_host{{data, size - trailer, 0}, piece, read_buffer.get(), row_buffer.get(), row_bytes, 0, refuse_at, 0};

    const codec_callbacks cb{read_piece, nullptr, put_row};
    const int32_t r =
        tif_lzw_decompress(cb, 11, read_buffer.get(), first_row, row_bytes, row_buffer.get(), row_count, 22);
    require(r == 1 || r == ERR_BAD_DATA || r == -7);
    require(row_count == 0 || host.rows <= row_count);
    require(r != -7 || host.rows == refuse_at + 1);
    require(memory_stats_now().live == 0);
    return 0;
}
