// SPDX-License-Identifier: MIT
// TIFF strips for the tests: coding and decoding through the test host.
#include "support/tif_strips.hpp"

#include <algorithm>

#include "orveln1.h"
#include "support/test_host.hpp"
#include "tiff/tif_compressor.hpp"
#include "tiff/tif_decompressor.hpp"

namespace orveln1::test
{

tif_encoded tif_encode_bytes(const std::vector<uint8_t> &data, int32_t width)
{
    test_host host;
    const std::size_t w = static_cast<std::size_t>(width);
    const std::size_t rows = std::max<std::size_t>(1, (data.size() + w - 1) / w);
    host.fill_row = [&](uint8_t *buffer, int32_t index, int32_t count) {
        std::fill(buffer, buffer + count, 0);
        const std::size_t from = static_cast<std::size_t>(index) * w;
        if (from < data.size())
            std::copy_n(data.begin() + static_cast<std::ptrdiff_t>(from), std::min(w, data.size() - from), buffer);
    };
    const std::vector<uint8_t> header = image_header(width, static_cast<int32_t>(rows), 8);
    const int32_t r = tif_lzw_compress(test_host::callbacks(), header.data(), host.handle(), 0, 0,
                                       static_cast<int32_t>(rows), &test_host::get_row, host.handle(), 0);
    return {r, host.output};
}

tif_decoded tif_decode_strip(const std::vector<uint8_t> &strip, uint32_t row_bytes, uint32_t row_count,
                             const std::function<int32_t(int32_t, int)> &read_piece)
{
    test_host host;
    host.input = strip;
    host.read_piece = read_piece;
    host.put_row_bytes = row_bytes;
    host.record_puts = false;
    std::vector<uint8_t> read_buffer(ORVELN1_TIF_READ_BUFFER_BYTES);
    std::vector<uint8_t> row_buffer(row_bytes + ORVELN1_TIF_ROW_SLACK_BYTES, 0xEE);
    const int32_t r = tif_lzw_decompress(test_host::callbacks(), host.handle(), read_buffer.data(), 0, row_bytes,
                                         row_buffer.data(), row_count, host.handle());
    return {r, host.rows_joined(), host.put_count, host.reads.size()};
}

} // namespace orveln1::test
