// SPDX-License-Identifier: MIT
// Fuzz target for the tool's JPEG reader: any bytes, read band by band from a stream (band height
// from the input's last byte) and whole from memory; when both read, the rows agree.
#include "jpeg_file.hpp"
#include "tool_fuzz_support.hpp"

using namespace tool_fuzz;

namespace
{

// The size in the first start-of-frame marker, or 0 when there is none: pictures larger than the
// limit are left alone, so that one input runs in milliseconds.
int64_t frame_pixels(const uint8_t *data, size_t size)
{
    for (size_t i = 0; i + 9 <= size; ++i) {
        const uint8_t m = data[i + 1];
        const bool frame = m >= 0xC0 && m <= 0xCF && m != 0xC4 && m != 0xC8 && m != 0xCC;
        if (data[i] == 0xFF && frame)
            return int64_t{data[i + 5] << 8 | data[i + 6]} * (data[i + 7] << 8 | data[i + 8]);
    }
    return 0;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (frame_pixels(data, size) > largest_whole_pixels)
        return 0;
    return read_steered(
        data, size, 19, [](std::FILE *stream) { return open_jpeg(stream); },
        [](std::span<const uint8_t> file) {
            picture p = read_jpeg(file);
            require(p.depth == 8 || p.depth == 24);
            return p;
        });
}
