// SPDX-License-Identifier: MIT
// Fuzz target for the GIF decompressor: arbitrary image data, steered by the input's last seven
// bytes (width, height, depth choice, code_size_word), with the host's read buffer at the end of
// a block of exactly the documented size so that any read or write past it is caught.
#include "codec_fuzz_support.hpp"
#include "gif/gif_decompressor.hpp"
#include "orveln1.h"

using namespace codec_fuzz;

namespace
{
int32_t height = 0;
int32_t rows = 0;
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size)
{
    if (size < 7)
        return 0;
    const uint8_t *steer = data + size - 7;
    input = {data, size - 7};
    height = steer[2] | steer[3] << 8;
    rows = 0;
    const auto header = image_header(steer[0] | steer[1] << 8, height, steered_gif_depth(steer[4]));
    auto read_buffer = std::make_unique<uint8_t[]>(ORVELN1_GIF_READ_BUFFER_BYTES);
    const auto take_row = [](const uint8_t *row, int32_t, int32_t row_index, int32_t row_bytes) {
        // Every row inside the image, never more rows than it has; the host may read the whole
        // padded row, so every byte must be inside the block and set.
        require(row_index >= 0 && row_index < height && ++rows <= height);
        volatile uint32_t sum = 0;
        for (int32_t i = 0; i < row_bytes; ++i)
            sum = sum + row[i];
        return int32_t{0};
    };
    const int32_t r = gif_lzw_decompress({read_input, nullptr, nullptr}, 0, read_buffer.get(), header.data(), take_row,
                                         0, steer[5] | steer[6] << 8);
    require(r <= 0 && memory_stats_now().live == 0);
    return 0;
}
