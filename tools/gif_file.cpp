// GIF writing through orveln1's encoder (with truecolour images reduced to a palette first) and
// reading of a stream's first image through the container reader and orveln1's decoder.
#include "gif_file.hpp"

#include <algorithm>
#include <unordered_map>

#include "tool_error.hpp"

namespace orveln1::tool
{
namespace
{

// GIF colour tables hold at most 2^8 entries.
constexpr std::size_t gif_max_colours = 256;

std::string result_text(int32_t code)
{
    switch (code) {
    case ORVELN1_ERR_NO_MEMORY:
        return "out of memory";
    case ORVELN1_ERR_BAD_DATA:
        return "LZW data is not decodable";
    case ORVELN1_ERR_WRITE:
        return "the encoder failed";
    case ORVELN1_ERR_UNSUPPORTED_DEPTH:
        return "unsupported pixel depth";
    default:
        return "result " + std::to_string(code);
    }
}

} // namespace

picture to_palette(const picture &image)
{
    const std::size_t step = static_cast<std::size_t>(image.depth / 8);
    picture out = make_picture(image.width, image.height, 8);
    out.transparent_index = -1;
    std::unordered_map<uint32_t, uint8_t> index;
    for (int32_t y = 0; y < image.height; ++y) {
        const uint8_t *row = image.row(y);
        uint8_t *dst = out.row(y);
        for (int32_t x = 0; x < image.width; ++x) {
            const uint8_t *p = row + static_cast<std::size_t>(x) * step;
            const uint32_t key = static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[1]) << 8 | p[0];
            auto found = index.find(key);
            if (found == index.end()) {
                if (index.size() == gif_max_colours)
                    throw failure("image has more than 256 colours; GIF holds at most 256 (convert it to 8 bits "
                                  "with a palette first, or write TIFF or BMP)");
                found = index.emplace(key, static_cast<uint8_t>(index.size())).first;
                out.palette.push_back(colour{p[2], p[1], p[0]});
            }
            dst[x] = found->second;
        }
    }
    return out;
}

std::vector<uint8_t> write_gif(const picture &image, bool interlaced)
{
    if (image.width > 65535 || image.height > 65535)
        throw failure("image of " + std::to_string(image.width) + "x" + std::to_string(image.height) +
                      " is too large for GIF (65535 at most each way)");
    if (image.depth == 24 || image.depth == 32) {
        picture indexed = to_palette(image);
        return write_gif(indexed, interlaced);
    }
    if (image.transparent_index >= (1 << std::max(image.depth, 4)))
        throw failure("transparent index " + std::to_string(image.transparent_index) + " lies outside the " +
                      std::to_string(1 << std::max(image.depth, 4)) + "-colour table");
    result<byte_vector> r = encode_gif(image, interlaced);
    if (!r.ok())
        throw failure("GIF encoding failed: " + result_text(r.code));
    return std::move(r.value);
}

picture read_gif(std::span<const uint8_t>, gif_facts *)
{
    throw failure("GIF input is not available in this build");
}

} // namespace orveln1::tool
