// SPDX-License-Identifier: MIT
// Fuzz target for the tool's bitmap reader: any bytes, read band by band through a descriptor (band
// height from the input's last byte) and whole from memory; when both read, the rows agree.
#include "bmp_file.hpp"
#include "tool_fuzz_support.hpp"

using namespace tool_fuzz;
using namespace orveln1::tool;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    const int32_t band_rows = 1 + data[size - 1] % 17;
    read_banded_and_whole(
        std::span(data, size), band_rows,
        [&]() -> std::unique_ptr<row_source> {
            const int fd = as_descriptor(data, size);
            return fd < 0 ? nullptr : open_bmp(fd);
        },
        [](std::span<const uint8_t> file) { return read_bmp(file); });
    require_no_block_left();
    return 0;
}
