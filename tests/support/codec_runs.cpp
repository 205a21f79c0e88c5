// SPDX-License-Identifier: MIT
// The codecs run against the test host, and TIFF strips coded and decoded through it.
#include "support/codec_runs.hpp"

#include <algorithm>
#include <memory>

#include "gif/gif_decompressor.hpp"
#include "gif/gif_stream_writer.hpp"
#include "orveln1.h"
#include "tiff/tif_compressor.hpp"
#include "tiff/tif_decompressor.hpp"

namespace orveln1::test
{

int32_t run_gif_decompress(test_host &host, const std::vector<uint8_t> &header, int32_t code_size_word,
                           uint8_t *read_buffer)
{
    auto own = std::make_unique<uint8_t[]>(ORVELN1_GIF_READ_BUFFER_BYTES);
    return gif_lzw_decompress(test_host::callbacks(), host.handle(), read_buffer ? read_buffer : own.get(),
                              header.data(), &test_host::put_row, host.handle(), code_size_word);
}

int32_t run_decode_gif(test_host &host, const std::vector<uint8_t> &header, int32_t code_size_word)
{
    auto buffer = std::make_unique<uint8_t[]>(ORVELN1_GIF_READ_BUFFER_BYTES);
    // The spare word is stored and must change nothing.
    set_callbacks(&test_host::read, nullptr, 0x7FFFFFFF, nullptr);
    const int32_t r =
        decode_gif(host.handle(), buffer.get(), header.data(), &test_host::put_row, host.handle(), code_size_word);
    set_callbacks(nullptr, nullptr, 0, nullptr);
    return r;
}

int32_t run_tif_decompress(test_host &host, int32_t first_row, uint32_t row_bytes, uint32_t row_count,
                           uint8_t *read_buffer, uint8_t *row_buffer)
{
    host.put_row_bytes = row_bytes;
    std::vector<uint8_t> own_read(read_buffer ? 0 : ORVELN1_TIF_READ_BUFFER_BYTES);
    std::vector<uint8_t> own_row(row_buffer ? 0 : row_bytes + ORVELN1_TIF_ROW_SLACK_BYTES, 0xEE);
    return tif_lzw_decompress(test_host::callbacks(), host.handle(), read_buffer ? read_buffer : own_read.data(),
                              first_row, row_bytes, row_buffer ? row_buffer : own_row.data(), row_count, host.handle());
}

int32_t run_tif_compress(test_host &host, const std::vector<uint8_t> &header, int32_t row_count, int32_t first_row,
                         int32_t row_offset, int32_t spare)
{
    return tif_lzw_compress(test_host::callbacks(), header.data(), host.handle(), row_offset, spare, row_count,
                            &test_host::get_row, host.handle(), first_row);
}

int32_t run_write_gif_stream(test_host &host, const test_image &image, int32_t interlaced)
{
    host.serve_image(image);
    const std::vector<uint8_t> header = image.header();
    return write_gif_stream(test_host::callbacks(), host.handle(), header.data(), &test_host::get_row, host.handle(),
                            interlaced);
}

tif_encoded tif_encode_bytes(const std::vector<uint8_t> &data, int32_t width)
{
    test_host host;
    const auto w = static_cast<std::size_t>(width);
    const auto rows = static_cast<int32_t>(std::max<std::size_t>(1, (data.size() + w - 1) / w));
    host.serve_bytes(data, w);
    return {run_tif_compress(host, image_header(width, rows, 8), rows), host.output};
}

tif_decoded tif_decode_strip(const std::vector<uint8_t> &strip, uint32_t row_bytes, uint32_t row_count,
                             const std::function<int32_t(int32_t, int)> &read_piece)
{
    test_host host;
    host.input = strip;
    host.read_piece = read_piece;
    host.record_puts = false;
    // Braced: the run comes first, then what it left in the host.
    return {run_tif_decompress(host, 0, row_bytes, row_count), host.rows_joined(), host.put_count, host.reads.size()};
}

} // namespace orveln1::test
