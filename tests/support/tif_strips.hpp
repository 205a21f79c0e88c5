// SPDX-License-Identifier: MIT
// TIFF strips for the tests: strips coded from plain bytes and strips decoded through the test
// host, with exact-size host buffers so overruns show.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

namespace orveln1::test
{

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
// Decodes a strip into rows of row_bytes, reads served in the pieces that read_piece chooses
// (all that fit when empty). The row buffer starts filled with 0xEE.
tif_decoded tif_decode_strip(const std::vector<uint8_t> &strip, uint32_t row_bytes, uint32_t row_count,
                             const std::function<int32_t(int32_t, int)> &read_piece = {});

} // namespace orveln1::test
