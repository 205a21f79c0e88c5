// SPDX-License-Identifier: MIT
// Round-trip fuzz target for the GIF codec: an arbitrary 4- or 8-bit image, plain or interlaced,
// goes through the stream writer, the stream reader and the decompressor, and must come back
// exactly, row for row. The last four input bytes choose width, depth, interlace and transparency;
// the rest are the pixels.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "boundary/image_header.hpp"
#include "codec_fuzz_support.hpp"
#include "gif/gif_decompressor.hpp"
#include "gif/gif_stream_writer.hpp"
#include "orveln1.h"
#include "orveln1.hpp"

using namespace orveln1;
using namespace codec_fuzz;

namespace
{

constexpr std::size_t steering_bytes = 4;

struct round_trip {
    int32_t width = 0;
    int32_t height = 0;
    int depth = 8;
    int64_t row_bytes = 0;
    std::vector<uint8_t> rows; // height rows of row_bytes, in bitmap layout
    std::vector<uint8_t> stream;
    byte_source stream_read;
    std::vector<uint8_t> decoded;
    std::vector<int> delivered;
};
thread_local round_trip *current = nullptr;

int32_t give_row(int32_t, uint8_t *buffer, int32_t row_index, int32_t count)
{
    round_trip &t = *current;
    require(row_index >= 0 && row_index < t.height && count == t.row_bytes);
    std::memcpy(buffer, t.rows.data() + static_cast<std::size_t>(row_index) * t.row_bytes, t.row_bytes);
    return 0;
}

int32_t take_bytes(int32_t, const uint8_t *buffer, int32_t count)
{
    current->stream.insert(current->stream.end(), buffer, buffer + count);
    return count;
}

int32_t read_bytes(int32_t, uint8_t *buffer, int32_t count)
{
    return current->stream_read.take(buffer, count);
}

int32_t put_row(const uint8_t *row, int32_t, int32_t row_index, int32_t row_bytes)
{
    round_trip &t = *current;
    require(row_index >= 0 && row_index < t.height && row_bytes == t.row_bytes && t.delivered[row_index]++ == 0);
    std::memcpy(t.decoded.data() + static_cast<std::size_t>(row_index) * t.row_bytes, row, row_bytes);
    return 0;
}

// The pixels of a row that carry meaning: the filler after them, and at depth 4 the low nibble
// after an odd width's last pixel, are the host's and not coded.
bool rows_match(const round_trip &t)
{
    const std::size_t whole = static_cast<std::size_t>(t.depth == 4 ? t.width / 2 : t.width);
    for (int32_t y = 0; y < t.height; ++y) {
        const uint8_t *a = t.rows.data() + static_cast<std::size_t>(y) * t.row_bytes;
        const uint8_t *b = t.decoded.data() + static_cast<std::size_t>(y) * t.row_bytes;
        if (std::memcmp(a, b, whole) != 0)
            return false;
        if (t.depth == 4 && (t.width & 1) && (a[whole] & 0xF0) != (b[whole] & 0xF0))
            return false;
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size)
{
    if (size < steering_bytes + 1)
        return 0;
    const uint8_t *steer = data + size - steering_bytes;
    const std::size_t pixels = size - steering_bytes;
    round_trip t;
    t.depth = (steer[2] & 1) ? 4 : 8;
    const bool interlaced = (steer[2] & 2) != 0;
    const bool transparent = (steer[2] & 4) != 0;
    // Bytes of pixel data per row: the width follows from it and the depth.
    const std::size_t data_per_row = 1 + (static_cast<std::size_t>(steer[0] | steer[1] << 8) % pixels);
    t.width = static_cast<int32_t>(t.depth == 4 ? data_per_row * 2 - (steer[3] & 1) : data_per_row);
    t.height = static_cast<int32_t>((pixels + data_per_row - 1) / data_per_row);
    t.row_bytes = padded_row_bytes(t.width, t.depth);
    t.rows.assign(static_cast<std::size_t>(t.row_bytes * t.height), 0);
    for (std::size_t i = 0; i < pixels; ++i)
        t.rows[(i / data_per_row) * t.row_bytes + i % data_per_row] = data[i];

    test::test_image image;
    image.width = t.width;
    image.height = t.height;
    image.depth = t.depth;
    image.transparent = transparent;
    image.transparent_index = steer[3];
    const std::vector<uint8_t> header = image.header();

    current = &t;
    codec_callbacks cb;
    cb.write = take_bytes;
    cb.read = read_bytes;
    require(write_gif_stream(cb, 0, header.data(), give_row, 0, interlaced ? 1 : 0) == 0);

    const result<gif_stream> stream = read_gif_stream(t.stream);
    require(stream.code == 0 && stream.value.images.size() == 1 && stream.value.bytes_read == t.stream.size());
    const gif_image &info = stream.value.images[0];
    require(info.width == t.width && info.height == t.height && info.interlaced == interlaced &&
            info.transparent_index == (transparent ? steer[3] : -1) && info.data_complete);
    t.stream_read = byte_source{t.stream.data(), t.stream.size(),
                                static_cast<std::size_t>(info.sub_blocks.data() - t.stream.data())};
    t.decoded.assign(t.rows.size(), 0);
    t.delivered.assign(static_cast<std::size_t>(t.height), 0);
    std::vector<uint8_t> read_buffer(ORVELN1_GIF_READ_BUFFER_BYTES);
    require(gif_lzw_decompress(cb, 0, read_buffer.data(), header.data(), put_row, 0, info.code_size_word) == 0);
    current = nullptr;
    for (int d : t.delivered)
        require(d == 1);
    // The decoder may stop before the last sub-block (once every row is out) but must never take
    // the trailer, which lies past the block terminator, for image data.
    require(t.stream_read.pos < t.stream.size() && rows_match(t) && memory_stats_now().live == 0);
    return 0;
}
