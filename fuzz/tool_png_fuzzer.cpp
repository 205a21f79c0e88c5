// SPDX-License-Identifier: MIT
// Fuzz target for the tool's PNG reader: any bytes, read band by band from a stream (band height
// from the input's last byte) and whole from memory; when both read, the rows agree.
#include "png_file.hpp"
#include "tool_fuzz_support.hpp"

using namespace tool_fuzz;
using namespace orveln1::tool;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    const int32_t band_rows = 1 + data[size - 1] % 23;
    read_banded_and_whole(
        std::span(data, size), band_rows,
        [&]() -> std::unique_ptr<row_source> {
            std::FILE *stream = as_stream(data, size);
            return stream == nullptr ? nullptr : open_png(stream);
        },
        [](std::span<const uint8_t> file) { return read_png(file); });
    require_no_block_left();
    return 0;
}
