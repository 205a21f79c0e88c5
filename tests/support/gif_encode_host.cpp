// SPDX-License-Identifier: MIT
// Test host for the GIF encoders: image construction, recording callbacks with failure injection,
// giflib as the reading peer, and a code-level reader of the written image data.
#include "support/gif_encode_host.hpp"

#include <gif_lib.h>

#include <algorithm>
#include <cstring>

namespace orveln1::gif_encode_test
{

namespace
{

void put_le32(std::vector<uint8_t> &v, std::size_t at, uint32_t x)
{
    for (int i = 0; i < 4; ++i)
        v[at + static_cast<std::size_t>(i)] = static_cast<uint8_t>(x >> (8 * i));
}

constexpr int max_hosts = 64;
encode_host *hosts[max_hosts] = {};

encode_host *host_at(int32_t handle)
{
    return handle >= 0 && handle < max_hosts ? hosts[handle] : nullptr;
}

} // namespace

std::vector<uint8_t> encode_image::header() const
{
    std::vector<uint8_t> h(header_size + 256 * 4, 0);
    put_le32(h, 0, header_size);
    put_le32(h, 4, static_cast<uint32_t>(width));
    put_le32(h, 8, static_cast<uint32_t>(height));
    h[12] = 1;
    h[14] = static_cast<uint8_t>(depth);
    h[15] = static_cast<uint8_t>(depth >> 8);
    h[32] = transparent_index;
    h[33] = transparent ? 0x10 : 0x00;
    for (int i = 0; i < 256; ++i) {
        uint8_t *q = h.data() + header_size + 4 * i;
        q[0] = blue(i);
        q[1] = green(i);
        q[2] = red(i);
        q[3] = 0xEE;
    }
    return h;
}

std::vector<uint8_t> encode_image::packed_row(int32_t y) const
{
    const int64_t unpadded = depth == 4 ? (int64_t{width} + 1) / 2 : width;
    std::vector<uint8_t> row(static_cast<std::size_t>((unpadded + 3) / 4 * 4), 0xA7);
    const uint8_t *p = pixels.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(width);
    if (depth == 4) {
        for (int32_t x = 0; x < width; x += 2) {
            const uint8_t hi = p[x];
            const uint8_t lo = x + 1 < width ? p[x + 1] : 0x0B;
            row[static_cast<std::size_t>(x / 2)] = static_cast<uint8_t>(hi << 4 | lo);
        }
    } else {
        std::memcpy(row.data(), p, static_cast<std::size_t>(width));
    }
    return row;
}

encode_image make_image(int32_t width, int32_t height, int depth, image_kind kind, uint32_t seed)
{
    encode_image image;
    image.width = width;
    image.height = height;
    image.depth = depth;
    image.pixels.resize(static_cast<std::size_t>(width) * static_cast<std::size_t>(height));
    const uint32_t mask = (1u << depth) - 1;
    uint32_t state = seed * 2654435761u + 12345u;
    for (int32_t y = 0; y < height; ++y) {
        for (int32_t x = 0; x < width; ++x) {
            uint32_t v = 0;
            switch (kind) {
            case image_kind::flat:
                v = seed;
                break;
            case image_kind::noise:
                state = state * 1664525u + 1013904223u;
                v = state >> 24;
                break;
            case image_kind::gradient:
                v = static_cast<uint32_t>((x * 3 + y * 5) / 7);
                break;
            case image_kind::stripes:
                v = static_cast<uint32_t>((x / 3 + y) % 5);
                break;
            }
            image.pixels[static_cast<std::size_t>(y) * static_cast<std::size_t>(width) + static_cast<std::size_t>(x)] =
                static_cast<uint8_t>(v & mask);
        }
    }
    return image;
}

encode_host::encode_host(const encode_image &image) : image_(image), handle_(-1)
{
    for (int i = 0; i < max_hosts; ++i) {
        if (hosts[i] == nullptr) {
            hosts[i] = this;
            handle_ = i;
            break;
        }
    }
}

encode_host::~encode_host()
{
    if (handle_ >= 0)
        hosts[handle_] = nullptr;
}

codec_callbacks encode_host::callbacks()
{
    codec_callbacks cb;
    cb.write = &encode_host::write;
    return cb;
}

int32_t encode_host::write(int32_t io_handle, const uint8_t *buffer, int32_t count)
{
    encode_host *h = host_at(io_handle);
    if (h == nullptr)
        return -1;
    if (h->failed_)
        ++h->calls_after_failure;
    ++h->writes;
    h->events.push_back({'w', count});
    int32_t taken = count;
    if (h->fail_write_at == h->writes) {
        taken = std::max(0, count - h->short_by);
        h->failed_ = true;
    }
    h->output.insert(h->output.end(), buffer, buffer + taken);
    return taken;
}

int32_t encode_host::get_row(int32_t row_context, uint8_t *buffer, int32_t row_index, int32_t count)
{
    encode_host *h = host_at(row_context);
    if (h == nullptr)
        return -1;
    if (h->failed_)
        ++h->calls_after_failure;
    ++h->row_requests;
    h->events.push_back({'r', row_index});
    h->rows_requested.push_back(row_index);
    if (h->fail_row_at == h->row_requests) {
        h->failed_ = true;
        return h->row_failure;
    }
    if (row_index < 0 || row_index >= h->image_.height)
        return -77;
    const std::vector<uint8_t> row = h->image_.packed_row(row_index);
    if (static_cast<std::size_t>(count) != row.size())
        h->bad_row_count = true;
    std::memcpy(buffer, row.data(), std::min(row.size(), static_cast<std::size_t>(count)));
    return count;
}

std::vector<int32_t> write_sizes(const std::vector<host_event> &events)
{
    std::vector<int32_t> sizes;
    for (const host_event &e : events)
        if (e.kind == 'w')
            sizes.push_back(e.value);
    return sizes;
}

namespace
{
struct memory_source {
    const std::vector<uint8_t> *bytes;
    std::size_t at;
};

int read_memory(GifFileType *gif, GifByteType *buffer, int count)
{
    auto *src = static_cast<memory_source *>(gif->UserData);
    const std::size_t left = src->bytes->size() - src->at;
    const std::size_t n = std::min(left, static_cast<std::size_t>(count));
    std::memcpy(buffer, src->bytes->data() + src->at, n);
    src->at += n;
    return static_cast<int>(n);
}
} // namespace

giflib_result decode_with_giflib(const std::vector<uint8_t> &gif)
{
    giflib_result result;
    memory_source src{&gif, 0};
    int error = 0;
    GifFileType *file = DGifOpen(&src, read_memory, &error);
    if (file == nullptr) {
        result.error = GifErrorString(error);
        return result;
    }
    if (DGifSlurp(file) != GIF_OK || file->ImageCount != 1) {
        const char *text = GifErrorString(file->Error);
        result.error = text != nullptr ? text : "slurp failed";
        DGifCloseFile(file, &error);
        return result;
    }
    const SavedImage &image = file->SavedImages[0];
    result.width = image.ImageDesc.Width;
    result.height = image.ImageDesc.Height;
    result.interlaced = image.ImageDesc.Interlace;
    if (file->SColorMap != nullptr) {
        result.colour_count = file->SColorMap->ColorCount;
        for (int i = 0; i < file->SColorMap->ColorCount; ++i) {
            result.colours.push_back(file->SColorMap->Colors[i].Red);
            result.colours.push_back(file->SColorMap->Colors[i].Green);
            result.colours.push_back(file->SColorMap->Colors[i].Blue);
        }
    }
    GraphicsControlBlock gcb;
    if (DGifSavedExtensionToGCB(file, 0, &gcb) == GIF_OK)
        result.transparent_index = gcb.TransparentColor;
    // giflib's slurp reads an interlaced image's passes into their own rows, top row first.
    result.pixels.assign(image.RasterBits, image.RasterBits + static_cast<std::size_t>(result.width) *
                                                                  static_cast<std::size_t>(result.height));
    result.ok = true;
    DGifCloseFile(file, &error);
    return result;
}

code_trace trace_gif_codes(const uint8_t *data, std::size_t size, int root_size)
{
    code_trace trace;
    std::vector<uint8_t> bytes;
    std::size_t at = 0;
    while (at < size) {
        const uint8_t n = data[at++];
        if (n == 0)
            break;
        trace.sub_block_sizes.push_back(n);
        const std::size_t take = std::min<std::size_t>(n, size - at);
        bytes.insert(bytes.end(), data + at, data + at + take);
        at += take;
    }
    trace.trailer_at = at;
    trace.bits_total = static_cast<int64_t>(bytes.size()) * 8;
    const int clear = 1 << root_size;
    int width = root_size + 1;
    int next = clear + 2;
    bool first_after_clear = true;
    int64_t bit = 0;
    while (true) {
        if (bit + width > trace.bits_total) {
            trace.overran = true;
            break;
        }
        int code = 0;
        for (int i = 0; i < width; ++i, ++bit)
            code |= ((bytes[static_cast<std::size_t>(bit / 8)] >> (bit % 8)) & 1) << i;
        trace.codes.push_back(static_cast<uint16_t>(code));
        trace.widths.push_back(static_cast<uint8_t>(width));
        if (code == clear) {
            width = root_size + 1;
            next = clear + 2;
            first_after_clear = true;
            continue;
        }
        if (code == clear + 1) {
            trace.ended = true;
            trace.final_next = next;
            trace.final_width = width;
            break;
        }
        if (!first_after_clear && next < 4096) {
            ++next;
            if (next == (1 << width) && width < 12)
                ++width;
        }
        first_after_clear = false;
    }
    trace.bits_used = bit;
    return trace;
}

} // namespace orveln1::gif_encode_test
