// SPDX-License-Identifier: MIT
// Fuzz target for the tool's PNG reader: any bytes, read band by band from a stream (band height
// from the input's last byte) and whole from memory; when both read, the rows agree.
#include "png_file.hpp"
#include "tool_fuzz_support.hpp"

using namespace tool_fuzz;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    return read_steered(
        data, size, 23, [](std::FILE *stream) { return open_png(stream); },
        [](std::span<const uint8_t> file) { return read_png(file); });
}
