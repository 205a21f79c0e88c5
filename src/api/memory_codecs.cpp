// SPDX-License-Identifier: MIT
// The in-memory C++ interface: each call hands the codec its own callbacks, which find the call's
// buffers through a thread-local pointer, so calls on different threads never share state.
#include "orveln1.hpp"

#include <algorithm>
#include <array>
#include <cstring>
#include <new>

#include "api/current_call.hpp"
#include "boundary/callbacks.hpp"
#include "boundary/image_header.hpp"
#include "boundary/result_codes.hpp"
#include "gif/gif_decompressor.hpp"
#include "gif/gif_format.hpp"
#include "gif/gif_stream_writer.hpp"
#include "tiff/tif_compressor.hpp"
#include "tiff/tif_decompressor.hpp"

namespace orveln1
{
namespace
{

// Bytes of the bitmap info header that the codecs read, and the palette room after it.
constexpr uint32_t BITMAP_HEADER_BYTES = 40;
constexpr int MAX_PALETTE_ENTRIES = 256;
// Result a host callback gives to stop the codec when the host itself failed.
constexpr int32_t HOST_REFUSAL = -1000;

// A header followed by its palette, laid out as the codecs read it.
struct header_block {
    std::array<uint8_t, BITMAP_HEADER_BYTES + MAX_PALETTE_ENTRIES * PALETTE_ENTRY_BYTES> bytes{};

    header_block(int32_t width, int32_t height, int depth, const std::vector<colour> &palette, int transparent)
    {
        put32(HEADER_SIZE_OFFSET, BITMAP_HEADER_BYTES);
        put32(HEADER_WIDTH_OFFSET, static_cast<uint32_t>(width));
        put32(HEADER_HEIGHT_OFFSET, static_cast<uint32_t>(height));
        bytes[12] = 1; // planes
        bytes[HEADER_DEPTH_OFFSET] = static_cast<uint8_t>(depth);
        if (transparent >= 0) {
            bytes[HEADER_TRANSPARENT_INDEX_OFFSET] = static_cast<uint8_t>(transparent);
            bytes[HEADER_FLAGS_OFFSET] = HEADER_TRANSPARENT_FLAG;
        }
        const std::size_t entries = std::min<std::size_t>(palette.size(), MAX_PALETTE_ENTRIES);
        for (std::size_t i = 0; i < entries; ++i) {
            uint8_t *entry = bytes.data() + BITMAP_HEADER_BYTES + i * PALETTE_ENTRY_BYTES;
            entry[0] = palette[i].blue;
            entry[1] = palette[i].green;
            entry[2] = palette[i].red;
        }
    }
    void put32(int offset, uint32_t value)
    {
        for (int i = 0; i < 4; ++i)
            bytes[static_cast<std::size_t>(offset + i)] = static_cast<uint8_t>(value >> (8 * i));
    }
    void set_compression(uint32_t value) { put32(HEADER_COMPRESSION_OFFSET, value); }
    [[nodiscard]] const void *get() const noexcept { return bytes.data(); }
};

// Everything one call's callbacks need. Only the fields of the running call's kind are used.
struct call_state {
    // Compressed input.
    std::span<const uint8_t> input;
    std::size_t input_pos = 0;
    // Compressed output.
    byte_vector *output = nullptr;
    bool out_of_memory = false;
    // Rows in.
    const picture *source = nullptr;
    bool widen_1_to_4 = false;
    const tif_strip_format *strip = nullptr;
    // Rows out.
    picture *target = nullptr;
    int32_t first_row = 0;
    int32_t row_limit = 0; // rows first_row .. row_limit - 1 are accepted
    std::vector<uint8_t> *delivered = nullptr;
};

thread_local call_state *current = nullptr;

int32_t ORVELN1_CDECL read_input(int32_t, uint8_t *buffer, int32_t count)
{
    call_state &s = *current;
    if (count <= 0)
        return 0;
    const std::size_t left = s.input.size() - s.input_pos;
    const std::size_t n = std::min(left, static_cast<std::size_t>(count));
    if (n > 0)
        std::memcpy(buffer, s.input.data() + s.input_pos, n);
    // The TIFF decoder takes any non-zero result as a full chunk; zeros past the data keep what it
    // then decodes the same from run to run.
    std::memset(buffer + n, 0, static_cast<std::size_t>(count) - n);
    s.input_pos += n;
    return static_cast<int32_t>(n);
}

int32_t ORVELN1_CDECL write_output(int32_t, const uint8_t *buffer, int32_t count)
{
    call_state &s = *current;
    if (count <= 0)
        return 0;
    try {
        s.output->insert(s.output->end(), buffer, buffer + count);
    } catch (const std::bad_alloc &) {
        s.out_of_memory = true;
        return 0;
    }
    return count;
}

// Copies one stored row out, widening depth 1 to depth 4 (one pixel a nibble) when asked.
int32_t ORVELN1_CDECL get_picture_row(int32_t, uint8_t *buffer, int32_t row_index, int32_t count)
{
    const call_state &s = *current;
    const picture &image = *s.source;
    if (row_index < 0 || row_index >= image.height)
        return HOST_REFUSAL;
    const uint8_t *row = image.row(row_index);
    const auto wanted = static_cast<std::size_t>(count);
    if (!s.widen_1_to_4) {
        std::memcpy(buffer, row, std::min(wanted, image.stride()));
        return 0;
    }
    std::memset(buffer, 0, wanted);
    for (int32_t x = 0; x < image.width && static_cast<std::size_t>(x / 2) < wanted; ++x) {
        const int bit = (row[x / 8] >> (7 - x % 8)) & 1;
        buffer[x / 2] |= static_cast<uint8_t>(x % 2 == 0 ? bit << 4 : bit);
    }
    return 0;
}

int32_t ORVELN1_CDECL put_gif_row(const uint8_t *row, int32_t, int32_t row_index, int32_t)
{
    call_state &s = *current;
    picture &image = *s.target;
    // The decoder counts rows past the height when the data holds more pixels than the image.
    if (row_index < 0 || row_index >= image.height)
        return 0;
    std::memcpy(image.row(row_index), row, static_cast<std::size_t>(image.width));
    (*s.delivered)[static_cast<std::size_t>(row_index)] = 1;
    return 0;
}

int samples_per_pixel(int depth) noexcept
{
    return depth / 8;
}

// Rows of a strip go to the caller with the predictor undone and red-green-blue turned back into
// the bitmap order, so that a decoded strip equals the rows the encoder was given.
int32_t ORVELN1_CDECL put_strip_row(const uint8_t *row, int32_t, int32_t row_index, int32_t)
{
    const call_state &s = *current;
    if (row_index < s.first_row || row_index >= s.row_limit)
        return 0;
    picture &image = *s.target;
    uint8_t *out = image.row(row_index);
    const auto length = static_cast<std::size_t>(unpadded_row_bytes(image.width, image.depth));
    std::memcpy(out, row, length);
    const tif_strip_format &f = *s.strip;
    if (f.horizontal_predictor)
        undo_horizontal_predictor(out, length, samples_per_pixel(f.depth));
    if (f.depth == 24 || (f.depth == 32 && f.swap_red_blue_32)) {
        const std::size_t step = f.depth / 8;
        for (std::size_t i = 0; i + 2 < length; i += step)
            std::swap(out[i], out[i + 2]);
    }
    return 0;
}

// Rows for the TIFF encoder: as stored, with the predictor applied when asked. The encoder itself
// turns blue-green-red into red-green-blue, and differences are the same in either order.
int32_t ORVELN1_CDECL get_strip_row(int32_t, uint8_t *buffer, int32_t row_index, int32_t count)
{
    const call_state &s = *current;
    const picture &image = *s.source;
    if (row_index < 0 || row_index >= image.height)
        return HOST_REFUSAL;
    std::memcpy(buffer, image.row(row_index), std::min(static_cast<std::size_t>(count), image.stride()));
    if (s.strip->horizontal_predictor) {
        const auto length = static_cast<std::size_t>(unpadded_row_bytes(image.width, image.depth));
        apply_horizontal_predictor(buffer, length, samples_per_pixel(image.depth));
    }
    return 0;
}

gif_stop stop_of(gif_end end) noexcept
{
    switch (end) {
    case gif_end::end_code:
        return gif_stop::end_code;
    case gif_end::unknown_code:
        return gif_stop::unknown_code;
    case gif_end::input_ended:
        return gif_stop::data_ended;
    case gif_end::complete:
        break;
    }
    return gif_stop::complete;
}

bool depth_has_rows(int depth) noexcept
{
    return depth == 1 || depth == 4 || depth == 8 || depth == 16 || depth == 24 || depth == 32;
}

bool predictor_fits(const tif_strip_format &f) noexcept
{
    return !f.horizontal_predictor || f.depth == 8 || f.depth == 24 || f.depth == 32;
}

} // namespace

std::size_t row_stride(int32_t width, int depth) noexcept
{
    return static_cast<std::size_t>(padded_row_bytes(width, depth));
}

std::size_t picture::stride() const noexcept
{
    return row_stride(width, depth);
}

picture make_picture(int32_t width, int32_t height, int depth)
{
    picture p;
    p.width = width;
    p.height = height;
    p.depth = depth;
    p.pixels.assign(row_stride(width, depth) * static_cast<std::size_t>(std::max(height, 0)), 0);
    return p;
}

void undo_horizontal_predictor(uint8_t *row, std::size_t row_bytes, int samples) noexcept
{
    const auto step = static_cast<std::size_t>(samples);
    for (std::size_t i = step; i < row_bytes; ++i)
        row[i] = static_cast<uint8_t>(row[i] + row[i - step]);
}

void apply_horizontal_predictor(uint8_t *row, std::size_t row_bytes, int samples) noexcept
{
    const auto step = static_cast<std::size_t>(samples);
    for (std::size_t i = row_bytes; i-- > step;)
        row[i] = static_cast<uint8_t>(row[i] - row[i - step]);
}

result<byte_vector> encode_gif_file(const picture &image, bool interlaced) noexcept
{
    result<byte_vector> out;
    if (image.depth != 1 && image.depth != 4 && image.depth != 8) {
        out.code = ERR_UNSUPPORTED_DEPTH;
        return out;
    }
    if (image.width < 1 || image.height < 1 || image.width > GIF_MAX_SIDE || image.height > GIF_MAX_SIDE ||
        image.pixels.size() < image.stride() * static_cast<std::size_t>(image.height) ||
        image.transparent_index >= MAX_PALETTE_ENTRIES) {
        out.code = ERR_BAD_DATA;
        return out;
    }
    const bool widen = image.depth == 1;
    const int depth = widen ? 4 : image.depth;
    const header_block header(image.width, image.height, depth, image.palette, image.transparent_index);

    call_state state;
    state.output = &out.value;
    state.source = &image;
    state.widen_1_to_4 = widen;
    const codec_callbacks cb{nullptr, write_output, nullptr};
    int32_t r = 0;
    {
        const current_call<call_state> scope(current, state);
        r = write_gif_stream(cb, 0, header.get(), get_picture_row, 0, interlaced ? 1 : 0);
    }
    out.code = state.out_of_memory ? ERR_NO_MEMORY : r;
    if (!out.ok())
        out.value.clear();
    return out;
}

result<gif_decoded> decode_gif_data(const gif_image_data &data, gif_decode_options options) noexcept
{
    result<gif_decoded> out;
    if (data.width < 1 || data.height < 1 || data.width > GIF_MAX_SIDE || data.height > GIF_MAX_SIDE) {
        out.code = ERR_BAD_DATA;
        return out;
    }
    try {
        out.value.image = make_picture(data.width, data.height, 8);
        std::vector<uint8_t> read_buffer(GIF_READ_BUFFER_BYTES);
        std::vector<uint8_t> delivered(static_cast<std::size_t>(data.height), 0);
        const header_block header(data.width, data.height, 8, {}, -1);

        call_state state;
        state.input = data.sub_blocks;
        state.target = &out.value.image;
        state.delivered = &delivered;
        const codec_callbacks cb{read_input, nullptr, nullptr};
        gif_end_report report;
        {
            const current_call<call_state> scope(current, state);
            out.code = gif_lzw_decompress(cb, 0, read_buffer.data(), header.get(), put_gif_row, 0, data.code_size_word,
                                          options.start_cleared, report);
        }
        out.value.rows_delivered = static_cast<int32_t>(std::count(delivered.begin(), delivered.end(), 1));
        out.value.stop = stop_of(report.end);
        out.value.stop_pixel = static_cast<int64_t>(report.end_pixel);
        out.value.leading_clear_code = report.leading_clear_code;
    } catch (const std::bad_alloc &) {
        out.code = ERR_NO_MEMORY;
    }
    if (!out.ok())
        out.value = gif_decoded{};
    return out;
}

result<gif_decoded> decode_gif_file(std::span<const uint8_t> file, int image_index, gif_decode_options options) noexcept
{
    result<gif_decoded> out;
    if (image_index < 0) {
        out.code = ORVELN1_ERR_GIF_NO_IMAGE;
        return out;
    }
    try {
        const result<gif_stream> stream = read_gif_stream(file);
        const auto index = static_cast<std::size_t>(image_index);
        if (index >= stream.value.images.size()) {
            out.code = stream.ok() ? ORVELN1_ERR_GIF_NO_IMAGE : stream.code;
            return out;
        }
        const gif_image &image = stream.value.images[index];
        out = decode_gif_data(image.data(), options);
        if (out.ok()) {
            out.value.image.palette = image.palette();
            out.value.image.transparent_index = image.transparent_index;
        }
    } catch (const std::bad_alloc &) {
        out = result<gif_decoded>{};
        out.code = ERR_NO_MEMORY;
    }
    return out;
}

result<byte_vector> encode_tif_strip(const picture &image, const tif_strip_format &format, int32_t first_row,
                                     int32_t row_count) noexcept
{
    result<byte_vector> out;
    if (!depth_has_rows(format.depth) || !predictor_fits(format) || format.depth != image.depth) {
        out.code = ERR_UNSUPPORTED_DEPTH;
        return out;
    }
    if (format.width != image.width || image.width < 1 || row_count < 1 || first_row < 0 ||
        first_row > image.height - row_count ||
        image.pixels.size() < image.stride() * static_cast<std::size_t>(image.height)) {
        out.code = ERR_BAD_DATA;
        return out;
    }
    header_block header(image.width, image.height, image.depth, {}, -1);
    if (format.swap_red_blue_32)
        header.set_compression(HEADER_COMPRESSION_SWAP_RB);

    call_state state;
    state.output = &out.value;
    state.source = &image;
    state.strip = &format;
    const codec_callbacks cb{nullptr, write_output, nullptr};
    int32_t r = 0;
    {
        const current_call<call_state> scope(current, state);
        r = tif_lzw_compress(cb, header.get(), 0, 0, 0, row_count, get_strip_row, 0, first_row);
    }
    out.code = state.out_of_memory ? ERR_NO_MEMORY : r;
    if (!out.ok())
        out.value.clear();
    return out;
}

int32_t decode_tif_strip(std::span<const uint8_t> strip, const tif_strip_format &format, picture &image,
                         int32_t first_row, int32_t row_count) noexcept
{
    if (!depth_has_rows(format.depth) || !predictor_fits(format) || format.depth != image.depth)
        return ERR_UNSUPPORTED_DEPTH;
    if (format.width != image.width || image.width < 1 || row_count < 1 || first_row < 0 ||
        first_row > image.height - row_count ||
        image.pixels.size() < image.stride() * static_cast<std::size_t>(image.height))
        return ERR_BAD_DATA;
    const auto row_bytes = static_cast<std::size_t>(unpadded_row_bytes(image.width, image.depth));
    if (!block_size_fits(static_cast<int64_t>(row_bytes + TIF_ROW_SLACK_BYTES)))
        return ERR_BAD_DATA;
    try {
        std::vector<uint8_t> read_buffer(TIF_READ_BUFFER_BYTES);
        std::vector<uint8_t> row_buffer(row_bytes + TIF_ROW_SLACK_BYTES);
        call_state state;
        state.input = strip;
        state.target = &image;
        state.strip = &format;
        state.first_row = first_row;
        state.row_limit = first_row + row_count;
        const codec_callbacks cb{read_input, nullptr, put_strip_row};
        const current_call<call_state> scope(current, state);
        return tif_lzw_decompress(cb, 0, read_buffer.data(), first_row, static_cast<uint32_t>(row_bytes),
                                  row_buffer.data(), static_cast<uint32_t>(row_count), 0);
    } catch (const std::bad_alloc &) {
        return ERR_NO_MEMORY;
    }
}

} // namespace orveln1
