// SPDX-License-Identifier: MIT
// Fuzz target for the GIF decompressor: arbitrary image data, steered by the input's last seven
// bytes (width, height, depth choice, code_size_word), with the host's read buffer at the end of
// a block of exactly the documented size so that any read or write past it is caught.
#include <memory>

#include "codec_fuzz_support.hpp"
#include "gif/gif_decompressor.hpp"
#include "orveln1.h"

using namespace orveln1;
using namespace codec_fuzz;

namespace
{

constexpr std::size_t steering_bytes = 7;

struct fuzz_input {
    byte_source source;
    int32_t width;
    int32_t height;
    int64_t rows;
};
thread_local fuzz_input *current = nullptr;

int32_t read_input(int32_t, uint8_t *buffer, int32_t count)
{
    return current->source.take(buffer, count);
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
    fuzz_input in{{data, size - steering_bytes, 0}, steer[0] | steer[1] << 8, steer[2] | steer[3] << 8, 0};
    const int32_t code_size_word = steer[5] | steer[6] << 8;
    const auto header = test::image_header(in.width, in.height, steered_gif_depth(steer[4]));

    auto read_buffer = std::make_unique<uint8_t[]>(ORVELN1_GIF_READ_BUFFER_BYTES);
    current = &in;
    codec_callbacks cb;
    cb.read = read_input;
    const int32_t r = gif_lzw_decompress(cb, 0, read_buffer.get(), header.data(), take_row, 0, code_size_word);
    current = nullptr;
    require(r <= 0 && memory_stats_now().live == 0);
    return 0;
}
