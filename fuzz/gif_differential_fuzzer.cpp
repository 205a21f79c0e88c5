// SPDX-License-Identifier: MIT
// Differential fuzz target for decode_gif: arbitrary image data, decoded through the entry point
// and by the byte-at-a-time reference model, must give the host the same rows and the same result.
// The input's last eight bytes steer: width, height, depth, code_size_word and the refused row.
#include "codec_fuzz_support.hpp"
#include "orveln1.h"

using namespace codec_fuzz;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size)
{
    if (size < 8)
        return 0;
    const uint8_t *steer = data + size - 8;
    // Small images (0 to 299 pixels each way, 0 refused), so that the model stays quick.
    const int32_t width = (steer[0] | steer[1] << 8) % 300;
    const int32_t height = (steer[2] | steer[3] << 8) % 300;
    const int depth = steered_gif_depth(steer[4]);
    const int32_t code_size_word = steer[5] | steer[6] << 8;
    const int64_t refuse_at = steer[7] == 0xFF ? -1 : steer[7];

    const std::vector<uint8_t> sub_blocks(data, data + size - 8);
    const reference_decode expected =
        gif_reference_decode(sub_blocks, {width, height, depth, code_size_word}, {refuse_at, refusal});
    const auto header = image_header(width, height, depth);
    auto read_buffer = std::make_unique<uint8_t[]>(ORVELN1_GIF_READ_BUFFER_BYTES);
    input = {sub_blocks.data(), sub_blocks.size()};
    check = {"gif_differential", &expected, refuse_at};
    set_callbacks(read_input, nullptr, 0, nullptr);
    const auto take_row = [](const uint8_t *row, int32_t, int32_t row_index, int32_t row_bytes) {
        return check.row(row, row_index, row_bytes, static_cast<std::size_t>(row_bytes));
    };
    check.finish(decode_gif(0, read_buffer.get(), header.data(), take_row, 0, code_size_word));
    return 0;
}
