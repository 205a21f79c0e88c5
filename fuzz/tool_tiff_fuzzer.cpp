// SPDX-License-Identifier: MIT
// Fuzz target for the tool's TIFF reader and describer: any bytes, read band by band through a
// descriptor and whole from memory (band height, page and threads from the input's last byte);
// when both read, the rows agree. The description of every page runs too.
#include "tiff_file.hpp"
#include "tool_fuzz_support.hpp"

using namespace tool_fuzz;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    tiff_read_options options;
    options.page = (data[size - 1] >> 5) & 1;
    options.threads = 1 + (data[size - 1] >> 7);
    read_steered(
        data, size, 29,
        [&](int fd) {
            int pages = 0;
            std::unique_ptr<row_source> source = open_tiff(fd, options, &pages);
            require(pages >= 1);
            return source;
        },
        [&](std::span<const uint8_t> file) { return read_tiff(file, options); });
    static_cast<void>(describe_tiff(std::span(data, size), nowhere()));
    require(memory_stats_now().live == 0);
    return 0;
}
