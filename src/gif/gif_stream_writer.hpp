// SPDX-License-Identifier: MIT
// The GIF stream writer behind encode_gif and encode_gifi: header, screen descriptor, colour
// table, transparency extension and image descriptor, then the compressor's image data.
#pragma once

#include <cstdint>

#include "boundary/callbacks.hpp"

namespace orveln1
{

// Writes one complete single-image GIF stream of the image that image_header describes, its rows
// taken through get_row, interlaced when interlaced is not 0. Returns 0; ERR_UNSUPPORTED_DEPTH for
// a depth other than 4 and 8, ERR_BAD_DATA for a width or height outside 1..65535 (both before any
// callback is called); ERR_WRITE for every other failure (short write, no memory, a refused row).
[[nodiscard]] int32_t write_gif_stream(const codec_callbacks &cb, int32_t io_handle, const void *image_header,
                                       get_row_fn get_row, int32_t row_context, int32_t interlaced) noexcept;

} // namespace orveln1
