// SPDX-License-Identifier: MIT
// The codes, widths and read size of TIFF LZW strips that both the strip encoder and decoder name.
#pragma once

#include <cstdint>

namespace orveln1
{

// Codes 0..255 are the byte values; the two after them reset the table and end the strip, and the
// table's own codes start behind those.
constexpr int32_t TIF_CLEAR_CODE = 256;
constexpr int32_t TIF_END_CODE = 257;
constexpr int32_t TIF_FIRST_TABLE_CODE = 258;
// Codes are 9 bits wide after every clear code and never wider than 12.
constexpr int TIF_MIN_CODE_WIDTH = 9;
constexpr int TIF_MAX_CODE_WIDTH = 12;
// 12-bit codes name entries 0 to 4095; no entry above can ever be asked for.
constexpr int32_t TIF_CODE_LIMIT = 1 << TIF_MAX_CODE_WIDTH;

// Bytes that one decoder refill asks of read_fn: the host's read buffer is sized for this chunk.
constexpr int32_t TIF_READ_CHUNK_BYTES = 30000;

} // namespace orveln1
