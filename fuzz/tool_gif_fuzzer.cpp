// SPDX-License-Identifier: MIT
// Fuzz target for the tool's GIF reader and describer: any bytes; the image to read comes from the
// input's last byte. Image data without a clear code in front is read from the cleared state.
#include "gif_file.hpp"
#include "tool_fuzz_support.hpp"

using namespace tool_fuzz;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    const int image = data[size - 1] % 4;
    const std::span<const uint8_t> file(data, size);
    // Only streams whose images are all small are decoded, so that one input runs in milliseconds.
    const auto small = [](const gif_image &g) { return int64_t{g.width} * g.height <= largest_whole_pixels; };
    if (std::ranges::all_of(read_gif_stream(file).value.images, small)) {
        try {
            int images = 0;
            const picture p = read_gif(file, image, &images);
            require_whole(p);
            require(image < images);
            require(p.transparent_index < static_cast<int>(p.palette.size()));
        } catch (const failure &) {
        }
        static_cast<void>(describe_gif(file, nowhere()));
    }
    require(memory_stats_now().live == 0);
    return 0;
}
