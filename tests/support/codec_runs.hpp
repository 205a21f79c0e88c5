// SPDX-License-Identifier: MIT
// The codecs run against the test host with buffers of exactly the documented sizes, and TIFF
// strips coded from and decoded to plain bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "support/image_kit.hpp"
#include "support/test_host.hpp"

namespace orveln1::test
{

// GIF image data from host.input through the decompressor; the read buffer is a block of its own.
int32_t run_gif_decompress(test_host &host, const std::vector<uint8_t> &header, int32_t code_size_word,
                           uint8_t *read_buffer = nullptr);
// The same through the decode_gif entry point and its registered read callback, as a host calls it.
int32_t run_decode_gif(test_host &host, const std::vector<uint8_t> &header, int32_t code_size_word);
// A strip from host.input into rows of row_bytes; buffers given or the host's own (rows 0xEE-filled).
int32_t run_tif_decompress(test_host &host, int32_t first_row, uint32_t row_bytes, uint32_t row_count,
                           uint8_t *read_buffer = nullptr, uint8_t *row_buffer = nullptr);
// Rows from the host's get_row coded as one strip.
int32_t run_tif_compress(test_host &host, const std::vector<uint8_t> &header, int32_t row_count, int32_t first_row = 0,
                         int32_t row_offset = 0, int32_t spare = 0);
// The whole GIF stream of the image, its rows served by the host.
int32_t run_write_gif_stream(test_host &host, const test_image &image, int32_t interlaced);

struct tif_encoded {
    int32_t result;
    std::vector<uint8_t> strip;
};
// Codes `data` as rows of an 8-bit image `width` bytes wide (the last row zero-filled).
tif_encoded tif_encode_bytes(const std::vector<uint8_t> &data, int32_t width);

struct tif_decoded {
    int32_t result;
    std::vector<uint8_t> bytes; // the rows put, joined
    std::size_t rows;
    std::size_t reads;
};
// A strip into rows of row_bytes, read in the pieces read_piece chooses (all that fit when empty).
tif_decoded tif_decode_strip(const std::vector<uint8_t> &strip, uint32_t row_bytes, uint32_t row_count,
                             const std::function<int32_t(int32_t, int)> &read_piece = {});

} // namespace orveln1::test
