// SPDX-License-Identifier: MIT
// The GIF container reader: the records before the first image's LZW data, checked against the
// bytes available at every step.
#include "gif_container.hpp"

#include <cstring>

#include "gif/gif_format.hpp"

namespace orveln1
{
namespace
{

constexpr std::size_t signature_bytes = 6;
constexpr std::size_t screen_descriptor_bytes = 7;
constexpr std::size_t image_descriptor_bytes = 9; // after the separator

// A cursor over the stream that refuses to step past its end.
struct cursor {
    const uint8_t *data;
    std::size_t size;
    std::size_t pos;

    [[nodiscard]] bool has(std::size_t n) const { return n <= size - pos; }
    uint8_t byte() { return data[pos++]; }
    uint16_t le16()
    {
        const auto v = static_cast<uint16_t>(data[pos] | data[pos + 1] << 8);
        pos += 2;
        return v;
    }
};

std::size_t colour_table_bytes(uint8_t packed)
{
    return 3u * (std::size_t{2} << (packed & gif_colour_table_size_mask));
}

} // namespace

int32_t gif_read_container(const uint8_t *data, std::size_t size, gif_image_info &info)
{
    info = gif_image_info{};
    cursor in{data, size, 0};
    if (!in.has(signature_bytes))
        return size >= 3 && std::memcmp(data, "GIF", 3) != 0 ? GIF_CONTAINER_NOT_GIF : GIF_CONTAINER_TRUNCATED;
    if (std::memcmp(data, "GIF87a", signature_bytes) != 0 && std::memcmp(data, "GIF89a", signature_bytes) != 0)
        return GIF_CONTAINER_NOT_GIF;
    in.pos = signature_bytes;

    if (!in.has(screen_descriptor_bytes))
        return GIF_CONTAINER_TRUNCATED;
    info.screen_width = in.le16();
    info.screen_height = in.le16();
    const uint8_t screen_packed = in.byte();
    in.pos += 2; // background colour index, pixel aspect ratio
    std::vector<uint8_t> global_table;
    if (screen_packed & gif_colour_table_flag) {
        const std::size_t n = colour_table_bytes(screen_packed);
        if (!in.has(n))
            return GIF_CONTAINER_TRUNCATED;
        global_table.assign(data + in.pos, data + in.pos + n);
        in.pos += n;
    }

    for (;;) {
        if (!in.has(1))
            return GIF_CONTAINER_TRUNCATED;
        const uint8_t introducer = in.byte();
        if (introducer == gif_trailer)
            return GIF_CONTAINER_NO_IMAGE;
        if (introducer == gif_extension_introducer) {
            if (!in.has(1))
                return GIF_CONTAINER_TRUNCATED;
            const uint8_t label = in.byte();
            bool first = true;
            // Sub-blocks up to the zero-length terminator; the first one of a graphic control
            // extension carries the transparency, which applies to the next image.
            for (;;) {
                if (!in.has(1))
                    return GIF_CONTAINER_TRUNCATED;
                const uint8_t n = in.byte();
                if (n == 0)
                    break;
                if (!in.has(n))
                    return GIF_CONTAINER_TRUNCATED;
                if (first && label == gif_graphic_control_label && n >= gif_graphic_control_block_size)
                    info.transparent_index = (data[in.pos] & gif_transparent_colour_flag) ? data[in.pos + 3] : -1;
                first = false;
                in.pos += n;
            }
            continue;
        }
        if (introducer != gif_image_separator)
            return GIF_CONTAINER_BAD_BLOCK;

        if (!in.has(image_descriptor_bytes))
            return GIF_CONTAINER_TRUNCATED;
        info.left = in.le16();
        info.top = in.le16();
        info.width = in.le16();
        info.height = in.le16();
        info.packed_byte = in.byte();
        info.interlaced = (info.packed_byte & gif_interlace_flag) != 0;
        if (info.packed_byte & gif_colour_table_flag) {
            const std::size_t n = colour_table_bytes(info.packed_byte);
            if (!in.has(n))
                return GIF_CONTAINER_TRUNCATED;
            info.local_colour_table = true;
            info.colour_table.assign(data + in.pos, data + in.pos + n);
            in.pos += n;
        } else {
            info.colour_table = std::move(global_table);
        }
        if (!in.has(1))
            return GIF_CONTAINER_TRUNCATED;
        info.min_code_size = in.byte();
        info.code_size_word = info.packed_byte | info.min_code_size << 8;
        info.data_offset = in.pos;
        return GIF_CONTAINER_OK;
    }
}

} // namespace orveln1
