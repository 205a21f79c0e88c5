// SPDX-License-Identifier: MIT
// The sub-block flush of the GIF compressor's hot-loop bit writer.
#include "gif/gif_code_packer.hpp"

#include "boundary/result_codes.hpp"

namespace orveln1
{

int32_t gif_packer_flush(write_fn write, const uint8_t *block_buffer, uint32_t bits_held, int32_t io_handle) noexcept
{
    const uint32_t m = bits_held / 8; // 253 or 254
    const uint8_t count = static_cast<uint8_t>(m);
    if (write(io_handle, &count, 1) != 1)
        return ERR_WRITE;
    if (write(io_handle, block_buffer, static_cast<int32_t>(m)) != static_cast<int32_t>(m))
        return ERR_WRITE;
    return 0;
}

} // namespace orveln1
