// SPDX-License-Identifier: MIT
// Fuzz target for the GIF stream reader: any bytes are walked without a read outside them, every
// span it gives lies inside them in stream order, and each small image decodes through decode_gif_data
// and decode_gif_file alike (and alike started cleared, when its data begins with a clear code),
// stopping where its rows end, with no block left behind.
#include "codec_fuzz_support.hpp"
#include "orveln1.hpp"

using namespace codec_fuzz;

namespace
{

// Images larger than this are walked but not decoded, so that one input runs in milliseconds.
constexpr int64_t largest_decoded_pixels = 1 << 16;

bool inside(std::span<const uint8_t> part, const uint8_t *data, std::size_t size)
{
    return part.empty() || (part.data() >= data && part.size() <= size &&
                            static_cast<std::size_t>(part.data() - data) <= size - part.size());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size)
{
    const std::span<const uint8_t> bytes(data, size);
    const result<gif_stream> r = read_gif_stream(bytes);
    require(r.code == 0 || r.code == ORVELN1_ERR_NOT_GIF || r.code == ORVELN1_ERR_GIF_TRUNCATED ||
            r.code == ORVELN1_ERR_GIF_BAD_RECORD || r.code == ORVELN1_ERR_GIF_NO_IMAGE);
    const gif_stream &s = r.value;
    require(s.bytes_read <= size);
    require(r.code != 0 || (s.bytes_read > 0 && data[s.bytes_read - 1] == 0x3B && !s.images.empty()));
    require(inside(s.global_colour_table, data, size));
    const uint8_t *previous_end = data;
    for (std::size_t k = 0; k < s.images.size(); ++k) {
        const gif_image &im = s.images[k];
        require(inside(im.colour_table, data, size) && inside(im.sub_blocks, data, size));
        require(im.sub_blocks.data() >= previous_end);
        previous_end = im.sub_blocks.data() + im.sub_blocks.size();
        // Only the last image may end without its terminator, and only when the bytes ran out.
        require(im.data_complete
                    ? !im.sub_blocks.empty() && im.sub_blocks.back() == 0
                    : k + 1 == s.images.size() && r.code == ORVELN1_ERR_GIF_TRUNCATED && previous_end == data + size);
        if (int64_t{im.width} * im.height > largest_decoded_pixels)
            continue;
        const result<gif_decoded> d = decode_gif_data(im.data());
        require(d.code == 0 || d.code == ORVELN1_ERR_BAD_DATA);
        require(d.value.rows_delivered >= 0 && d.value.rows_delivered <= im.height);
        // Rows go out whole, in the data's order: the stop lies in the row after the last one.
        const int64_t pixels = int64_t{im.width} * im.height;
        require(!d.ok() ||
                (d.value.leading_clear_code && d.value.stop_pixel >= 0 &&
                 (d.value.stop == gif_stop::complete ? d.value.stop_pixel == pixels : d.value.stop_pixel < pixels) &&
                 d.value.rows_delivered == d.value.stop_pixel / im.width));
        // Started cleared, data with a leading clear code decodes as it does without; data without
        // one is no longer refused.
        const result<gif_decoded> c = decode_gif_data(im.data(), {.start_cleared = true});
        require(c.code == 0 || (im.width < 1 || im.height < 1));
        require(d.ok() == (c.ok() && c.value.leading_clear_code));
        require(!d.ok() || (c.value.stop == d.value.stop && c.value.stop_pixel == d.value.stop_pixel &&
                            c.value.image.pixels == d.value.image.pixels));
        const result<gif_decoded> f = decode_gif_file(bytes, static_cast<int>(k));
        require(f.code == d.code && f.value.rows_delivered == d.value.rows_delivered &&
                f.value.image.pixels == d.value.image.pixels &&
                f.value.image.transparent_index == (d.ok() ? im.transparent_index : -1));
    }
    require(decode_gif_file(bytes, static_cast<int>(s.images.size())).code ==
            (r.code == 0 ? ORVELN1_ERR_GIF_NO_IMAGE : r.code));
    require(memory_stats_now().live == 0);
    return 0;
}
