// SPDX-License-Identifier: MIT
// Fuzz target for the GIF decompressor: arbitrary image data, steered by the input's last seven
// bytes (width, height, depth choice, code_size_word), with the host's read buffer at the end of
// a block of exactly the documented size so that any read or write past it is caught.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>

#include "gif/gif_decompressor.hpp"
#include "orveln1.h"
#include "support/memory_instrumented.hpp"

using namespace orveln1;

namespace
{

constexpr std::size_t steering_bytes = 7;

struct fuzz_input {
    const uint8_t *data;
    std::size_t size;
    std::size_t pos;
    int32_t width;
    int32_t height;
    int64_t rows;
};
thread_local fuzz_input *current = nullptr;

int32_t read_input(int32_t, uint8_t *buffer, int32_t count)
{
    fuzz_input &in = *current;
    std::size_t n = count < 0 ? 0 : static_cast<std::size_t>(count);
    if (n > in.size - in.pos)
        n = in.size - in.pos;
    for (std::size_t i = 0; i < n; ++i)
        buffer[i] = in.data[in.pos + i];
    in.pos += n;
    return static_cast<int32_t>(n);
}

int32_t take_row(const uint8_t *row, int32_t, int32_t row_index, int32_t row_bytes)
{
    fuzz_input &in = *current;
    // Every row inside the image, never more rows than the image has.
    if (row_index < 0 || row_index >= in.height || ++in.rows > in.height)
        std::abort();
    // The host may read the whole padded row: every byte must be inside the block and set.
    volatile uint32_t sum = 0;
    for (int32_t i = 0; i < row_bytes; ++i)
        sum = sum + row[i];
    return 0;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size)
{
    if (size < steering_bytes)
        return 0;
    const uint8_t *steer = data + size - steering_bytes;
    fuzz_input in{data, size - steering_bytes, 0, steer[0] | steer[1] << 8, steer[2] | steer[3] << 8, 0};
    // Mostly depths the decoder serves; now and then any value, to reach the refusals.
    constexpr int served[4] = {8, 4, 1, 8};
    const int depth = (steer[4] & 0x80) ? (steer[4] & 0x3F) : served[steer[4] & 3];
    const int32_t code_size_word = steer[5] | steer[6] << 8;

    uint8_t header[40] = {};
    header[0] = 40;
    for (int i = 0; i < 4; ++i) {
        header[4 + i] = static_cast<uint8_t>(static_cast<uint32_t>(in.width) >> (8 * i));
        header[8 + i] = static_cast<uint8_t>(static_cast<uint32_t>(in.height) >> (8 * i));
    }
    header[14] = static_cast<uint8_t>(depth);

    auto read_buffer = std::make_unique<uint8_t[]>(ORVELN1_GIF_READ_BUFFER_BYTES);
    current = &in;
    codec_callbacks cb;
    cb.read = read_input;
    const int32_t r = gif_lzw_decompress(cb, 0, read_buffer.get(), header, take_row, 0, code_size_word);
    current = nullptr;
    if (r > 0 || memory_stats_now().live != 0)
        std::abort();
    return 0;
}
