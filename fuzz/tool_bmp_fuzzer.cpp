// SPDX-License-Identifier: MIT
// Fuzz target for the tool's bitmap reader: any bytes, read band by band through a descriptor (band
// height from the input's last byte) and whole from memory; when both read, the rows agree.
#include "bmp_file.hpp"
#include "tool_fuzz_support.hpp"

using namespace tool_fuzz;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    return read_steered(
        data, size, 17, [](int fd) { return open_bmp(fd); },
        [](std::span<const uint8_t> file) { return read_bmp(file); });
}
