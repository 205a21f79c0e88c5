// SPDX-License-Identifier: MIT
// Round-trip fuzz target for the GIF codec: an arbitrary 4- or 8-bit image, plain or interlaced,
// goes through the stream writer, the stream reader and the decompressor, and must come back
// exactly, row for row. The last four input bytes choose width, depth, interlace and transparency;
// the rest are the pixels.
#include "boundary/image_header.hpp"
#include "codec_fuzz_support.hpp"
#include "gif/gif_decompressor.hpp"
#include "gif/gif_stream_writer.hpp"
#include "orveln1.h"
#include "orveln1.hpp"

using namespace codec_fuzz;

namespace
{
int32_t width = 0;
int32_t height = 0;
int depth = 8;
int32_t row_bytes = 0;
std::vector<uint8_t> rows; // height rows of row_bytes, in bitmap layout
std::vector<uint8_t> stream;
std::vector<uint8_t> decoded;
std::vector<int> delivered;

int32_t give_row(int32_t, uint8_t *buffer, int32_t row_index, int32_t count)
{
    require(row_index >= 0 && row_index < height && count == row_bytes);
    std::memcpy(buffer, rows.data() + static_cast<std::size_t>(row_index) * row_bytes, row_bytes);
    return 0;
}

int32_t put_row(const uint8_t *row, int32_t, int32_t row_index, int32_t count)
{
    require(row_index >= 0 && row_index < height && count == row_bytes && delivered[row_index]++ == 0);
    std::memcpy(decoded.data() + static_cast<std::size_t>(row_index) * row_bytes, row, row_bytes);
    return 0;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size)
{
    if (size < 5)
        return 0;
    const uint8_t *steer = data + size - 4;
    const std::size_t pixels = size - 4;
    depth = (steer[2] & 1) ? 4 : 8;
    const bool interlaced = (steer[2] & 2) != 0;
    const bool transparent = (steer[2] & 4) != 0;
    // Bytes of pixel data per row: the width follows from it and the depth.
    const std::size_t data_per_row = 1 + (static_cast<std::size_t>(steer[0] | steer[1] << 8) % pixels);
    width = static_cast<int32_t>(depth == 4 ? data_per_row * 2 - (steer[3] & 1) : data_per_row);
    height = static_cast<int32_t>((pixels + data_per_row - 1) / data_per_row);
    row_bytes = static_cast<int32_t>(padded_row_bytes(width, depth));
    rows.assign(static_cast<std::size_t>(row_bytes) * height, 0);
    for (std::size_t i = 0; i < pixels; ++i)
        rows[(i / data_per_row) * row_bytes + i % data_per_row] = data[i];

    const std::vector<uint8_t> header = test_image{.width = width,
                                                   .height = height,
                                                   .depth = depth,
                                                   .pixels = {},
                                                   .transparent = transparent,
                                                   .transparent_index = steer[3]}
                                            .header();

    stream.clear();
    const codec_callbacks cb{read_input, [](int32_t, const uint8_t *buffer, int32_t count) {
                                 stream.insert(stream.end(), buffer, buffer + count);
                                 return count;
                             }};
    require(write_gif_stream(cb, 0, header.data(), give_row, 0, interlaced ? 1 : 0) == 0);

    const result<gif_stream> read = read_gif_stream(stream);
    require(read.code == 0 && read.value.images.size() == 1 && read.value.bytes_read == stream.size());
    const gif_image &info = read.value.images[0];
    require(info.width == width && info.height == height && info.interlaced == interlaced &&
            info.transparent_index == (transparent ? steer[3] : -1) && info.data_complete);
    input = {stream.data(), stream.size(), static_cast<std::size_t>(info.sub_blocks.data() - stream.data())};
    decoded.assign(rows.size(), 0);
    delivered.assign(static_cast<std::size_t>(height), 0);
    std::vector<uint8_t> read_buffer(ORVELN1_GIF_READ_BUFFER_BYTES);
    require(gif_lzw_decompress(cb, 0, read_buffer.data(), header.data(), put_row, 0, info.code_size_word) == 0);
    for (int d : delivered)
        require(d == 1);
    // The decoder may stop before the last sub-block (once every row is out) but must never take
    // the trailer, which lies past the block terminator, for image data.
    require(input.pos < stream.size() && memory_stats_now().live == 0);
    // Only the pixels of a row carry meaning: the filler after them, and at depth 4 the low nibble
    // after an odd width's last pixel, are the host's and not coded.
    const std::size_t whole = static_cast<std::size_t>(depth == 4 ? width / 2 : width);
    for (std::size_t at = 0; at < rows.size(); at += static_cast<std::size_t>(row_bytes))
        require(std::memcmp(&rows[at], &decoded[at], whole) == 0 &&
                (depth == 8 || (width & 1) == 0 || (rows[at + whole] & 0xF0) == (decoded[at + whole] & 0xF0)));
    return 0;
}
