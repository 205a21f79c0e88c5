// SPDX-License-Identifier: MIT
// TIFF strip helpers for the tests: code packing at decoder widths, coding and decoding through
// the fake host.
#include "support/tif_strips.hpp"

#include <algorithm>

#include "orveln1.h"
#include "support/host_fakes.hpp"
#include "tiff/tif_compressor.hpp"
#include "tiff/tif_decompressor.hpp"

namespace orveln1::test
{

std::vector<uint8_t> tif_strip_from_codes(const std::vector<uint32_t> &codes)
{
    std::vector<sized_code> sized;
    int width = 9;
    uint32_t next = 258;
    bool after_clear = false;
    for (uint32_t c : codes) {
        sized.push_back({c, width});
        if (c == 256) {
            width = 9;
            next = 258;
            after_clear = true;
        } else if (c != 257) {
            if (after_clear) {
                after_clear = false;
            } else if (next < 4096) {
                ++next;
                width = next >= 2047 ? 12 : next >= 1023 ? 11 : next >= 511 ? 10 : 9;
            }
        }
    }
    return pack_codes(sized, true);
}

tif_encoded tif_encode_bytes(const std::vector<uint8_t> &data, int32_t width)
{
    fake_host host;
    const std::size_t w = static_cast<std::size_t>(width);
    const std::size_t rows = std::max<std::size_t>(1, (data.size() + w - 1) / w);
    host.fill_row = [&](uint8_t *buffer, int32_t index, int32_t count) {
        std::fill(buffer, buffer + count, 0);
        const std::size_t from = static_cast<std::size_t>(index) * w;
        if (from < data.size())
            std::copy_n(data.begin() + static_cast<std::ptrdiff_t>(from), std::min(w, data.size() - from), buffer);
    };
    const std::vector<uint8_t> header = make_image_header(width, static_cast<int32_t>(rows), 8);
    const int32_t r = tif_lzw_compress(fake_host::callbacks(), header.data(), host.handle(), 0, 0,
                                       static_cast<int32_t>(rows), fake_host::get_row(), host.handle(), 0);
    return {r, host.output};
}

tif_decoded tif_decode_strip(const std::vector<uint8_t> &strip, uint32_t row_bytes, uint32_t row_count,
                             const std::function<int32_t(int32_t, int)> &read_piece)
{
    fake_host host;
    host.input = strip;
    host.read_piece = read_piece;
    host.put_row_bytes = row_bytes;
    host.record_puts = false;
    std::vector<uint8_t> read_buffer(ORVELN1_TIF_READ_BUFFER_BYTES);
    std::vector<uint8_t> row_buffer(row_bytes + ORVELN1_TIF_ROW_SLACK_BYTES, 0xEE);
    const int32_t r = tif_lzw_decompress(fake_host::callbacks(), host.handle(), read_buffer.data(), 0, row_bytes,
                                         row_buffer.data(), row_count, host.handle());
    return {r, host.rows_joined(), host.put_count, host.reads.size()};
}

} // namespace orveln1::test
