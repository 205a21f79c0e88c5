// SPDX-License-Identifier: MIT
// Fuzz target for the tool's PNG reader: any bytes, read band by band from a stream (band height
// from the input's last byte) and whole from memory; when both read, the rows agree.
#include "png_file.hpp"
#include "tool_error.hpp"
#include "tool_fuzz_support.hpp"

using namespace tool_fuzz;
using namespace orveln1::tool;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    const int32_t band_rows = 1 + data[size - 1] % 23;
    picture banded;
    bool small = false;
    try {
        std::FILE *stream = as_stream(data, size);
        if (stream == nullptr)
            return 0;
        std::unique_ptr<row_source> source = open_png(stream);
        read_in_bands(*source, band_rows);
        small = pixels_of(source->shape()) <= largest_whole_pixels;
        if (small) {
            std::FILE *again = as_stream(data, size);
            if (again != nullptr)
                banded = open_png(again)->take_all();
        }
    } catch (const failure &) {
    }
    if (small) {
        try {
            const picture whole = read_png(std::span(data, size));
            require_whole(whole);
            if (!banded.pixels.empty())
                require(whole.pixels == banded.pixels && whole.palette == banded.palette &&
                        whole.transparent_index == banded.transparent_index);
        } catch (const failure &) {
        }
    }
    require_no_block_left();
    return 0;
}
