// SPDX-License-Identifier: MIT
// Fuzz target for the tool's bitmap reader: any bytes, read band by band through a descriptor (band
// height from the input's last byte) and whole from memory; when both read, the rows agree.
#include "bmp_file.hpp"
#include "tool_error.hpp"
#include "tool_fuzz_support.hpp"

using namespace tool_fuzz;
using namespace orveln1::tool;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    const int32_t band_rows = 1 + data[size - 1] % 17;
    picture banded;
    try {
        const int fd = as_descriptor(data, size);
        if (fd < 0)
            return 0;
        std::unique_ptr<row_source> source = open_bmp(fd);
        read_in_bands(*source, band_rows);
        if (pixels_of(source->shape()) <= largest_whole_pixels)
            banded = open_bmp(as_descriptor(data, size))->take_all();
    } catch (const failure &) {
    }
    try {
        const picture whole = read_bmp(std::span(data, size));
        require_whole(whole);
        if (!banded.pixels.empty())
            require(whole.pixels == banded.pixels && whole.palette == banded.palette);
    } catch (const failure &) {
    }
    require_no_block_left();
    return 0;
}
