// SPDX-License-Identifier: MIT
// Fuzz target for the tool's TIFF reader and describer: any bytes, read band by band through a
// descriptor and whole from memory (band height, page and threads from the input's last byte);
// when both read, the rows agree. The description of every page runs too.
#include "tiff_file.hpp"
#include "tool_fuzz_support.hpp"

using namespace tool_fuzz;
using namespace orveln1::tool;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    const uint8_t steer = data[size - 1];
    const int32_t band_rows = 1 + steer % 29;
    tiff_read_options options;
    options.page = (steer >> 5) & 1;
    options.threads = 1 + (steer >> 7);

    read_banded_and_whole(
        std::span(data, size), band_rows,
        [&]() -> std::unique_ptr<row_source> {
            const int fd = as_descriptor(data, size);
            if (fd < 0)
                return nullptr;
            int pages = 0;
            std::unique_ptr<row_source> source = open_tiff(fd, options, &pages);
            require(pages >= 1);
            return source;
        },
        [&](std::span<const uint8_t> file) { return read_tiff(file, options); });
    static_cast<void>(describe_tiff(std::span(data, size), nowhere()));
    require_no_block_left();
    return 0;
}
