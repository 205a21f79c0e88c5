// SPDX-License-Identifier: MIT
// The GIF stream writer: everything up to the LZW minimum code size in stream order, every write
// checked, then the compressor for the image data, terminator and trailer.
#include "gif/gif_stream_writer.hpp"

#include "boundary/image_header.hpp"
#include "boundary/result_codes.hpp"
#include "gif/gif_compressor.hpp"
#include "gif/gif_format.hpp"

namespace orveln1
{

namespace
{

constexpr uint8_t GIF87A_SIGNATURE[6] = {'G', 'I', 'F', '8', '7', 'a'};
// The graphic control extension, the one GIF89a feature used, needs the later signature.
constexpr uint8_t GIF89A_SIGNATURE[6] = {'G', 'I', 'F', '8', '9', 'a'};

struct le16 {
    uint8_t bytes[2];
};
constexpr le16 to_le16(uint32_t v) noexcept
{
    return le16{{static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8)}};
}

} // namespace

int32_t write_gif_stream(const codec_callbacks &cb, int32_t io_handle, const void *image_header, get_row_fn get_row,
                         int32_t row_context, int32_t interlaced) noexcept
{
    const image_header_view header = read_image_header(image_header);
    const int depth = header.depth();
    // Only nibble and byte pixels are unpacked, and a colour table never exceeds 256 entries.
    if (depth != 4 && depth != 8)
        return ERR_UNSUPPORTED_DEPTH;
    const int32_t width = header.width();
    const int32_t height = header.height();
    if (width < 1 || width > GIF_MAX_SIDE || height < 1 || height > GIF_MAX_SIDE)
        return ERR_BAD_DATA;

    const write_fn write = cb.write;
    auto put = [&](const void *bytes, int32_t count) {
        return write(io_handle, static_cast<const uint8_t *>(bytes), count) == count;
    };

    const le16 w = to_le16(static_cast<uint32_t>(width));
    const le16 h = to_le16(static_cast<uint32_t>(height));
    const uint8_t screen_packed = static_cast<uint8_t>(GIF_COLOUR_TABLE_FLAG | (depth - 1));
    const uint8_t zero = 0;
    // All six pieces of the header group go out before their results are judged.
    bool ok = put(header.has_transparency() ? GIF89A_SIGNATURE : GIF87A_SIGNATURE, 6);
    ok &= put(w.bytes, 2);
    ok &= put(h.bytes, 2);
    ok &= put(&screen_packed, 1);
    ok &= put(&zero, 1); // background colour index
    ok &= put(&zero, 1); // no pixel aspect ratio
    if (!ok)
        return ERR_WRITE;

    const int entries = 1 << depth;
    static_assert(GIF_MAX_COLOUR_TABLE_ENTRIES == 256);
    uint8_t colour_table[3 * GIF_MAX_COLOUR_TABLE_ENTRIES];
    for (int i = 0; i < entries; ++i) {
        const uint8_t *quad = header.palette_entry(i); // blue, green, red, reserved
        colour_table[3 * i] = quad[2];
        colour_table[3 * i + 1] = quad[1];
        colour_table[3 * i + 2] = quad[0];
    }
    if (!put(colour_table, 3 * entries))
        return ERR_WRITE;

    if (header.has_transparency()) {
        const uint8_t block[5] = {GIF_GRAPHIC_CONTROL_BLOCK_SIZE, GIF_TRANSPARENT_COLOUR_FLAG, 0, 0,
                                  header.transparent_index()};
        if (!put(&GIF_EXTENSION_INTRODUCER, 1) || !put(&GIF_GRAPHIC_CONTROL_LABEL, 1) || !put(block, 5) ||
            !put(&zero, 1))
            return ERR_WRITE;
    }

    if (!put(&GIF_IMAGE_SEPARATOR, 1))
        return ERR_WRITE;

    // The descriptor's packed byte (no local table; the size field carries d - 1 all the same) and
    // the minimum code size, one little-endian pair; without the interlace bit it is the
    // compressor's code_size_word.
    const int32_t code_size_word = depth * 256 + (depth - 1);
    const le16 packed_and_code_size =
        to_le16(static_cast<uint32_t>(code_size_word) | (interlaced != 0 ? GIF_INTERLACE_FLAG : 0u));
    const le16 origin = to_le16(0);
    ok = put(origin.bytes, 2);
    ok &= put(origin.bytes, 2);
    ok &= put(w.bytes, 2);
    ok &= put(h.bytes, 2);
    ok &= put(packed_and_code_size.bytes, 2);
    if (!ok)
        return ERR_WRITE;

    const int32_t r =
        gif_lzw_compress(cb, image_header, io_handle, 0, 0, height, get_row, row_context, interlaced, code_size_word);
    return r < 0 ? ERR_WRITE : 0;
}

} // namespace orveln1
