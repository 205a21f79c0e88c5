// SPDX-License-Identifier: MIT
// The GIF stream reader of the C++ interface: walks every record of a stream, checked against the
// bytes available at every step, and describes each image for decode_gif_data.
#include <algorithm>
#include <cstring>
#include <new>

#include "boundary/result_codes.hpp"
#include "gif/gif_format.hpp"
#include "orveln1.hpp"

namespace orveln1
{
namespace
{

constexpr std::size_t GIF_SIGNATURE_BYTES = 6;
constexpr std::size_t GIF_SCREEN_DESCRIPTOR_BYTES = 7;
constexpr std::size_t GIF_IMAGE_DESCRIPTOR_BYTES = 9; // after the separator
// A plain text extension is drawn like an image and so uses up the graphic control before it.
constexpr uint8_t GIF_PLAIN_TEXT_LABEL = 0x01;
constexpr unsigned GIF_DISPOSAL_SHIFT = 2;
constexpr unsigned GIF_DISPOSAL_MASK = 7;

// A cursor over the stream that refuses to step past its end.
struct cursor {
    std::span<const uint8_t> bytes;
    std::size_t pos = 0;

    [[nodiscard]] bool has(std::size_t n) const noexcept { return n <= bytes.size() - pos; }
    uint8_t byte() noexcept { return bytes[pos++]; }
    uint16_t le16() noexcept
    {
        const auto v = static_cast<uint16_t>(bytes[pos] | bytes[pos + 1] << 8);
        pos += 2;
        return v;
    }
    std::span<const uint8_t> take(std::size_t n) noexcept
    {
        const std::span<const uint8_t> s = bytes.subspan(pos, n);
        pos += n;
        return s;
    }
    // Steps over sub-blocks up to and including the zero-length terminator. False when the bytes
    // end first; the cursor then stands at the end.
    bool skip_sub_blocks() noexcept
    {
        for (;;) {
            if (!has(1))
                return false;
            const uint8_t n = byte();
            if (n == 0)
                return true;
            if (!has(n)) {
                pos = bytes.size();
                return false;
            }
            pos += n;
        }
    }
};

std::size_t colour_table_bytes(uint8_t packed) noexcept
{
    return 3u * (std::size_t{2} << (packed & GIF_COLOUR_TABLE_SIZE_MASK));
}

struct graphic_control {
    bool present = false;
    int32_t transparent_index = -1;
    int32_t delay = 0;
    int disposal = 0;
};

// Reads an extension after its introducer. The first sub-block of a graphic control extension
// holds the packed byte, the delay and the transparent index, which apply to the next image.
bool read_extension(cursor &in, graphic_control &control) noexcept
{
    if (!in.has(1))
        return false;
    const uint8_t label = in.byte();
    if (label == GIF_PLAIN_TEXT_LABEL)
        control = graphic_control{};
    if (label == GIF_GRAPHIC_CONTROL_LABEL && in.has(1) && in.bytes[in.pos] >= GIF_GRAPHIC_CONTROL_BLOCK_SIZE &&
        in.has(1 + std::size_t{in.bytes[in.pos]})) {
        const uint8_t *b = in.bytes.data() + in.pos + 1;
        control.present = true;
        control.disposal = static_cast<int>((b[0] >> GIF_DISPOSAL_SHIFT) & GIF_DISPOSAL_MASK);
        control.delay = b[1] | b[2] << 8;
        control.transparent_index = (b[0] & GIF_TRANSPARENT_COLOUR_FLAG) ? b[3] : -1;
    }
    return in.skip_sub_blocks();
}

int32_t walk(std::span<const uint8_t> bytes, gif_stream &out)
{
    cursor in{bytes};
    const auto stop = [&](int32_t code) {
        out.bytes_read = in.pos;
        return code;
    };
    if (!in.has(GIF_SIGNATURE_BYTES))
        return bytes.size() >= 3 && std::memcmp(bytes.data(), "GIF", 3) != 0 ? ORVELN1_ERR_NOT_GIF
                                                                             : ORVELN1_ERR_GIF_TRUNCATED;
    if (std::memcmp(bytes.data(), "GIF87a", GIF_SIGNATURE_BYTES) != 0 &&
        std::memcmp(bytes.data(), "GIF89a", GIF_SIGNATURE_BYTES) != 0)
        return ORVELN1_ERR_NOT_GIF;
    in.pos = GIF_SIGNATURE_BYTES;

    if (!in.has(GIF_SCREEN_DESCRIPTOR_BYTES))
        return stop(ORVELN1_ERR_GIF_TRUNCATED);
    out.screen_width = in.le16();
    out.screen_height = in.le16();
    const uint8_t screen_packed = in.byte();
    out.background_index = in.byte();
    in.pos += 1; // pixel aspect ratio
    if (screen_packed & GIF_COLOUR_TABLE_FLAG) {
        const std::size_t n = colour_table_bytes(screen_packed);
        if (!in.has(n))
            return stop(ORVELN1_ERR_GIF_TRUNCATED);
        out.global_colour_table = in.take(n);
    }

    graphic_control control;
    for (;;) {
        if (!in.has(1))
            return stop(ORVELN1_ERR_GIF_TRUNCATED);
        const uint8_t introducer = in.byte();
        if (introducer == GIF_TRAILER)
            return stop(out.images.empty() ? ORVELN1_ERR_GIF_NO_IMAGE : ORVELN1_OK);
        if (introducer == GIF_EXTENSION_INTRODUCER) {
            if (!read_extension(in, control))
                return stop(ORVELN1_ERR_GIF_TRUNCATED);
            continue;
        }
        if (introducer != GIF_IMAGE_SEPARATOR) {
            // The introducer is not taken: the walk stopped where the stray byte stands.
            --in.pos;
            return stop(ORVELN1_ERR_GIF_BAD_RECORD);
        }

        if (!in.has(GIF_IMAGE_DESCRIPTOR_BYTES))
            return stop(ORVELN1_ERR_GIF_TRUNCATED);
        gif_image image;
        image.left = in.le16();
        image.top = in.le16();
        image.width = in.le16();
        image.height = in.le16();
        const uint8_t packed = in.byte();
        image.interlaced = (packed & GIF_INTERLACE_FLAG) != 0;
        if (packed & GIF_COLOUR_TABLE_FLAG) {
            const std::size_t n = colour_table_bytes(packed);
            if (!in.has(n))
                return stop(ORVELN1_ERR_GIF_TRUNCATED);
            image.local_colour_table = true;
            image.colour_table = in.take(n);
        } else {
            image.colour_table = out.global_colour_table;
        }
        if (!in.has(1))
            return stop(ORVELN1_ERR_GIF_TRUNCATED);
        image.code_size_word = packed | in.byte() << 8;
        image.graphic_control = control.present;
        image.transparent_index = control.transparent_index;
        image.delay = control.delay;
        image.disposal = control.disposal;
        control = graphic_control{};

        const std::size_t data_start = in.pos;
        image.data_complete = in.skip_sub_blocks();
        image.sub_blocks = bytes.subspan(data_start, in.pos - data_start);
        out.images.push_back(image);
        if (!image.data_complete)
            return stop(ORVELN1_ERR_GIF_TRUNCATED);
    }
}

} // namespace

std::vector<colour> gif_image::palette() const
{
    std::vector<colour> entries(colour_table.size() / 3);
    for (std::size_t i = 0; i < entries.size(); ++i)
        entries[i] = colour{colour_table[3 * i], colour_table[3 * i + 1], colour_table[3 * i + 2]};
    return entries;
}

gif_image_data gif_image::data() const noexcept
{
    gif_image_data d;
    d.width = width;
    d.height = height;
    d.code_size_word = code_size_word;
    d.sub_blocks = sub_blocks;
    return d;
}

result<gif_stream> read_gif_stream(std::span<const uint8_t> bytes) noexcept
{
    result<gif_stream> out;
    try {
        out.code = walk(bytes, out.value);
    } catch (const std::bad_alloc &) {
        out.code = ERR_NO_MEMORY;
    }
    return out;
}

std::vector<std::span<const uint8_t>> gif_sub_block_contents(std::span<const uint8_t> sub_blocks)
{
    std::vector<std::span<const uint8_t>> contents;
    for (std::size_t at = 0; at < sub_blocks.size() && sub_blocks[at] != 0;) {
        const std::size_t n = std::min<std::size_t>(sub_blocks[at], sub_blocks.size() - at - 1);
        contents.push_back(sub_blocks.subspan(at + 1, n));
        at += 1 + n;
    }
    return contents;
}

} // namespace orveln1
