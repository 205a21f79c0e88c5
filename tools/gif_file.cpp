// SPDX-License-Identifier: MIT
// GIF writing through orveln1's encoder (with truecolour images reduced to a palette first) and
// reading of a stream's first image through the container reader and orveln1's decoder.
#include "gif_file.hpp"

#include <algorithm>
#include <unordered_map>

#include "bmp_file.hpp"
#include "gif_container.hpp"
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

picture read_gif(std::span<const uint8_t> file, gif_facts *facts)
{
    gif_image_info info;
    switch (gif_read_container(file.data(), file.size(), info)) {
    case GIF_CONTAINER_OK:
        break;
    case GIF_CONTAINER_NOT_GIF:
        throw failure("not a GIF file");
    case GIF_CONTAINER_TRUNCATED:
        throw failure("truncated GIF: the file ends before the image data");
    case GIF_CONTAINER_NO_IMAGE:
        throw failure("GIF without an image");
    default:
        throw failure("damaged GIF: a record of unknown kind before the image");
    }
    if (facts != nullptr) {
        facts->screen_width = info.screen_width;
        facts->screen_height = info.screen_height;
        facts->min_code_size = info.min_code_size;
        facts->interlaced = info.interlaced;
        facts->local_colour_table = info.local_colour_table;
        facts->colour_table_entries = static_cast<int>(info.colour_table.size() / 3);
        facts->transparent_index = info.transparent_index;
        // The LZW data: the sub-blocks' contents up to the terminator or the end of the file.
        for (std::size_t at = info.data_offset; at < file.size() && file[at] != 0; at += 1 + file[at])
            facts->compressed_bytes += std::min<std::size_t>(file[at], file.size() - at - 1);
    }
    if (info.width < 1 || info.height < 1)
        throw failure("GIF image of " + std::to_string(info.width) + "x" + std::to_string(info.height) +
                      " has no pixels");
    if (int64_t{info.width} * info.height > max_image_pixels)
        throw failure("GIF image is too large");

    gif_image_data data;
    data.width = info.width;
    data.height = info.height;
    data.code_size_word = info.code_size_word;
    data.sub_blocks = file.subspan(std::min(info.data_offset, file.size()));
    result<gif_decoded> decoded = decode_gif(data);
    if (!decoded.ok())
        throw failure("GIF image data: " + result_text(decoded.code));
    if (facts != nullptr)
        facts->rows_complete = decoded.value.rows_delivered;
    if (decoded.value.rows_delivered < info.height)
        throw failure("GIF image data ends after " + std::to_string(decoded.value.rows_delivered) + " of " +
                      std::to_string(info.height) + " rows");

    picture &indices = decoded.value.image;
    const std::size_t entries = info.colour_table.size() / 3;
    for (std::size_t i = 0; i < entries; ++i)
        indices.palette.push_back(
            colour{info.colour_table[3 * i], info.colour_table[3 * i + 1], info.colour_table[3 * i + 2]});
    indices.transparent_index = info.transparent_index;
    // Small colour tables give 1- or 4-bit pictures, as long as every pixel lies inside the table.
    uint8_t highest = 0;
    for (int32_t y = 0; y < indices.height; ++y)
        for (int32_t x = 0; x < indices.width; ++x)
            highest = std::max(highest, indices.row(y)[x]);
    const int depth = entries <= 2 && highest < 2 ? 1 : entries <= 16 && highest < 16 ? 4 : 8;
    if (depth == 8)
        return std::move(indices);
    picture packed = make_picture(indices.width, indices.height, depth);
    packed.palette = indices.palette;
    packed.transparent_index = indices.transparent_index;
    for (int32_t y = 0; y < indices.height; ++y) {
        const uint8_t *src = indices.row(y);
        uint8_t *dst = packed.row(y);
        for (int32_t x = 0; x < indices.width; ++x) {
            if (depth == 4)
                dst[x / 2] |= static_cast<uint8_t>(x % 2 == 0 ? src[x] << 4 : src[x]);
            else
                dst[x / 8] |= static_cast<uint8_t>(src[x] << (7 - x % 8));
        }
    }
    return packed;
}

} // namespace orveln1::tool
