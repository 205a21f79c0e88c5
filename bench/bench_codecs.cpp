// SPDX-License-Identifier: MIT
// The codec calls that the benchmarks time: orveln1's exports driven by copying callbacks over
// memory, and the peer libraries on in-memory streams.
#include "bench_codecs.hpp"

#include <algorithm>
#include <cstring>

#include <gif_lib.h>
#include <stb/stb_image.h>
#include <tiffio.h>

#include "orveln1.h"
#include "orveln1.hpp"

namespace orveln1_bench
{
namespace
{

// The host side of orveln1's callbacks. Calls never overlap, so one record serves every call; the
// callbacks do nothing but move bytes.
struct host_io {
    const uint8_t *in = nullptr;
    std::size_t in_left = 0;
    std::vector<uint8_t> *out = nullptr;
    const uint8_t *rows_in = nullptr;
    uint8_t *rows_out = nullptr;
    std::size_t row_stride = 0;
    int32_t rows = 0;
};
host_io io;

int32_t host_read(int32_t, uint8_t *buffer, int32_t count)
{
    const std::size_t n = std::min(io.in_left, static_cast<std::size_t>(count > 0 ? count : 0));
    std::memcpy(buffer, io.in, n);
    io.in += n;
    io.in_left -= n;
    return static_cast<int32_t>(n);
}

int32_t host_write(int32_t, const uint8_t *buffer, int32_t count)
{
    io.out->insert(io.out->end(), buffer, buffer + count);
    return count;
}

int32_t host_put_row(const uint8_t *row, int32_t, int32_t row_index, int32_t)
{
    if (row_index >= 0 && row_index < io.rows)
        std::memcpy(io.rows_out + static_cast<std::size_t>(row_index) * io.row_stride, row, io.row_stride);
    return 0;
}

int32_t host_get_row(int32_t, uint8_t *buffer, int32_t row_index, int32_t count)
{
    std::memcpy(buffer, io.rows_in + static_cast<std::size_t>(row_index) * io.row_stride,
                static_cast<std::size_t>(count));
    return 0;
}

// Host buffers of the decoders, sized as the interface asks.
std::vector<uint8_t> &read_buffer()
{
    static std::vector<uint8_t> buffer(ORVELN1_TIF_READ_BUFFER_BYTES + ORVELN1_GIF_READ_BUFFER_BYTES);
    return buffer;
}

} // namespace

int rows_per_strip(const bench_image &image, std::size_t strip_bytes)
{
    const std::size_t rows = strip_bytes / static_cast<std::size_t>(image.unpadded_row_bytes);
    return static_cast<int>(std::clamp<std::size_t>(rows, 1, static_cast<std::size_t>(image.height)));
}

void ours_register_callbacks()
{
    set_callbacks(host_read, host_write, 0, host_put_row);
}

bool ours_gif_encode(const bench_image &image, const std::vector<uint8_t> &header, std::vector<uint8_t> &gif)
{
    gif.clear();
    io.out = &gif;
    io.rows_in = image.padded.data();
    io.row_stride = static_cast<std::size_t>(image.padded_row_bytes);
    return encode_gif(0, header.data(), host_get_row, 0) == 0;
}

bool ours_gif_decode(const bench_image &image, const std::vector<uint8_t> &header, const std::vector<uint8_t> &gif,
                     std::vector<uint8_t> &padded_out)
{
    const orveln1::result<orveln1::gif_stream> stream = orveln1::read_gif_stream(gif);
    if (!stream.ok())
        return false;
    const orveln1::gif_image &data = stream.value.images.front();
    padded_out.resize(image.padded.size());
    io.in = data.sub_blocks.data();
    io.in_left = data.sub_blocks.size();
    io.rows_out = padded_out.data();
    io.row_stride = static_cast<std::size_t>(image.padded_row_bytes);
    io.rows = image.height;
    return decode_gif(0, read_buffer().data(), header.data(), host_put_row, 0, data.code_size_word) == 0;
}

bool ours_tif_encode(const bench_image &image, const std::vector<uint8_t> &header, int strip_rows, strip_set &strips)
{
    strips.clear();
    io.out = &strips.bytes;
    io.rows_in = image.padded.data();
    io.row_stride = static_cast<std::size_t>(image.padded_row_bytes);
    for (int first = 0; first < image.height; first += strip_rows) {
        const int rows = std::min(strip_rows, image.height - first);
        if (encode_tif(header.data(), 0, 0, 0, rows, host_get_row, 0, first) != 0)
            return false;
        strips.starts.push_back(strips.bytes.size());
    }
    return true;
}

bool ours_tif_decode(const bench_image &image, const strip_set &strips, int strip_rows,
                     std::vector<uint8_t> &unpadded_out)
{
    static std::vector<uint8_t> row_buffer;
    const auto row_bytes = static_cast<uint32_t>(image.unpadded_row_bytes);
    row_buffer.resize(row_bytes + ORVELN1_TIF_ROW_SLACK_BYTES);
    unpadded_out.resize(image.unpadded.size());
    io.rows_out = unpadded_out.data();
    io.row_stride = row_bytes;
    io.rows = image.height;
    for (std::size_t s = 0; s < strips.count(); ++s) {
        io.in = strips.bytes.data() + strips.starts[s];
        io.in_left = strips.starts[s + 1] - strips.starts[s];
        const int first = static_cast<int>(s) * strip_rows;
        const auto rows = static_cast<uint32_t>(std::min(strip_rows, image.height - first));
        if (decode_tif(0, read_buffer().data(), first, row_bytes, row_buffer.data(), rows, 0) != 1)
            return false;
    }
    return true;
}

// giflib ---------------------------------------------------------------------------------------

namespace
{

struct memory_source {
    const std::vector<uint8_t> *bytes;
    std::size_t at;
};

int giflib_read(GifFileType *file, GifByteType *buffer, int count)
{
    auto *src = static_cast<memory_source *>(file->UserData);
    const std::size_t n = std::min(static_cast<std::size_t>(count), src->bytes->size() - src->at);
    std::memcpy(buffer, src->bytes->data() + src->at, n);
    src->at += n;
    return static_cast<int>(n);
}

int giflib_write(GifFileType *file, const GifByteType *buffer, int count)
{
    auto *out = static_cast<std::vector<uint8_t> *>(file->UserData);
    out->insert(out->end(), buffer, buffer + count);
    return count;
}

} // namespace

bool giflib_encode(const bench_image &image, std::vector<uint8_t> &gif)
{
    gif.clear();
    int error = 0;
    GifFileType *file = EGifOpen(&gif, giflib_write, &error);
    if (file == nullptr)
        return false;
    const int colours = 1 << image.depth;
    GifColorType palette[256];
    for (int i = 0; i < colours; ++i) {
        const rgb c = palette_colour(i);
        palette[i] = GifColorType{c.r, c.g, c.b};
    }
    ColorMapObject *map = GifMakeMapObject(colours, palette);
    bool ok = map != nullptr && EGifPutScreenDesc(file, image.width, image.height, image.depth, 0, map) == GIF_OK &&
              EGifPutImageDesc(file, 0, 0, image.width, image.height, false, nullptr) == GIF_OK;
    // EGifPutLine masks the pixels in place to the colour depth; they are within it already.
    auto *pixels = const_cast<GifPixelType *>(image.indices.data());
    for (int y = 0; ok && y < image.height; ++y)
        ok = EGifPutLine(file, pixels + static_cast<std::size_t>(y) * static_cast<std::size_t>(image.width),
                         image.width) == GIF_OK;
    GifFreeMapObject(map);
    return EGifCloseFile(file, &error) == GIF_OK && ok;
}

bool giflib_decode(const bench_image &image, const std::vector<uint8_t> &gif, std::vector<uint8_t> &indices_out)
{
    memory_source src{&gif, 0};
    int error = 0;
    GifFileType *file = DGifOpen(&src, giflib_read, &error);
    if (file == nullptr)
        return false;
    indices_out.resize(image.indices.size());
    bool ok = false;
    GifRecordType type;
    while (DGifGetRecordType(file, &type) == GIF_OK && type != TERMINATE_RECORD_TYPE) {
        if (type == EXTENSION_RECORD_TYPE) {
            int code = 0;
            GifByteType *ext = nullptr;
            if (DGifGetExtension(file, &code, &ext) != GIF_OK)
                break;
            while (ext != nullptr)
                if (DGifGetExtensionNext(file, &ext) != GIF_OK)
                    break;
        } else if (type == IMAGE_DESC_RECORD_TYPE) {
            if (DGifGetImageDesc(file) != GIF_OK || file->Image.Width != image.width ||
                file->Image.Height != image.height || file->Image.Interlace)
                break;
            ok = true;
            for (int y = 0; ok && y < image.height; ++y)
                ok = DGifGetLine(file, indices_out.data() + static_cast<std::size_t>(y) * image.width, image.width) ==
                     GIF_OK;
            break;
        }
    }
    DGifCloseFile(file, &error);
    return ok;
}

// stb_image ------------------------------------------------------------------------------------

bool stb_decode(const bench_image &image, const std::vector<uint8_t> &gif, std::vector<uint8_t> &indices_out)
{
    int w = 0, h = 0, channels = 0;
    stbi_uc *rgba = stbi_load_from_memory(gif.data(), static_cast<int>(gif.size()), &w, &h, &channels, 0);
    if (rgba == nullptr)
        return false;
    const bool ok = w == image.width && h == image.height && channels >= 3;
    if (ok) {
        // The red of the bench palette is the index itself.
        indices_out.resize(image.indices.size());
        for (std::size_t i = 0; i < indices_out.size(); ++i)
            indices_out[i] = rgba[i * static_cast<std::size_t>(channels)];
    }
    stbi_image_free(rgba);
    return ok;
}

// libtiff --------------------------------------------------------------------------------------

namespace
{

struct memory_file {
    std::vector<uint8_t> *bytes;
    std::size_t at;
};

tmsize_t tiff_read(thandle_t h, void *buffer, tmsize_t count)
{
    auto *f = static_cast<memory_file *>(h);
    const std::size_t n =
        std::min(static_cast<std::size_t>(count), f->bytes->size() - std::min(f->at, f->bytes->size()));
    std::memcpy(buffer, f->bytes->data() + f->at, n);
    f->at += n;
    return static_cast<tmsize_t>(n);
}

tmsize_t tiff_write(thandle_t h, void *buffer, tmsize_t count)
{
    auto *f = static_cast<memory_file *>(h);
    const auto n = static_cast<std::size_t>(count);
    if (f->bytes->size() < f->at + n)
        f->bytes->resize(f->at + n);
    std::memcpy(f->bytes->data() + f->at, buffer, n);
    f->at += n;
    return count;
}

toff_t tiff_seek(thandle_t h, toff_t offset, int whence)
{
    auto *f = static_cast<memory_file *>(h);
    if (whence == SEEK_SET)
        f->at = offset;
    else if (whence == SEEK_CUR)
        f->at += offset;
    else
        f->at = f->bytes->size() + offset;
    return f->at;
}

int tiff_close(thandle_t)
{
    return 0;
}

toff_t tiff_size(thandle_t h)
{
    return static_cast<memory_file *>(h)->bytes->size();
}

int tiff_map(thandle_t h, void **base, toff_t *size)
{
    auto *f = static_cast<memory_file *>(h);
    *base = f->bytes->data();
    *size = f->bytes->size();
    return 1;
}

void tiff_unmap(thandle_t, void *, toff_t) {}

TIFF *tiff_open(memory_file &f, const char *mode)
{
    TIFFSetWarningHandler(nullptr);
    return TIFFClientOpen("memory", mode, &f, tiff_read, tiff_write, tiff_seek, tiff_close, tiff_size, tiff_map,
                          tiff_unmap);
}

void set_tags(TIFF *tif, const bench_image &image, int strip_rows)
{
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, static_cast<uint32_t>(image.width));
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, static_cast<uint32_t>(image.height));
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, static_cast<uint16_t>(image.depth));
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, static_cast<uint16_t>(1));
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, static_cast<uint16_t>(PHOTOMETRIC_MINISBLACK));
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, static_cast<uint16_t>(PLANARCONFIG_CONTIG));
    TIFFSetField(tif, TIFFTAG_COMPRESSION, static_cast<uint16_t>(COMPRESSION_LZW));
    TIFFSetField(tif, TIFFTAG_PREDICTOR, static_cast<uint16_t>(PREDICTOR_NONE));
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, static_cast<uint32_t>(strip_rows));
}

} // namespace

struct libtiff_reader {
    std::vector<uint8_t> bytes;
    memory_file file;
    TIFF *tif;
};

bool libtiff_encode(const bench_image &image, int strip_rows, std::vector<uint8_t> &file)
{
    file.clear();
    memory_file f{&file, 0};
    TIFF *tif = tiff_open(f, "w");
    if (tif == nullptr)
        return false;
    set_tags(tif, image, strip_rows);
    bool ok = true;
    const std::size_t strip_bytes = static_cast<std::size_t>(strip_rows) * image.unpadded_row_bytes;
    uint32_t s = 0;
    for (std::size_t at = 0; ok && at < image.unpadded.size(); at += strip_bytes, ++s) {
        const std::size_t n = std::min(strip_bytes, image.unpadded.size() - at);
        // libtiff's encoder reads the strip and leaves it as it was.
        ok = TIFFWriteEncodedStrip(tif, s, const_cast<uint8_t *>(image.unpadded.data() + at),
                                   static_cast<tmsize_t>(n)) >= 0;
    }
    TIFFClose(tif);
    return ok;
}

libtiff_reader *libtiff_open(const std::vector<uint8_t> &file)
{
    auto *r = new libtiff_reader{file, {}, nullptr};
    r->file = memory_file{&r->bytes, 0};
    r->tif = tiff_open(r->file, "rm");
    if (r->tif == nullptr) {
        delete r;
        return nullptr;
    }
    return r;
}

void libtiff_close(libtiff_reader *reader)
{
    if (reader != nullptr)
        TIFFClose(reader->tif);
    delete reader;
}

bool libtiff_decode(libtiff_reader *reader, std::vector<uint8_t> &unpadded_out)
{
    const tmsize_t strip_size = TIFFStripSize(reader->tif);
    const uint32_t strips = TIFFNumberOfStrips(reader->tif);
    uint32_t height = 0, width = 0;
    TIFFGetField(reader->tif, TIFFTAG_IMAGELENGTH, &height);
    TIFFGetField(reader->tif, TIFFTAG_IMAGEWIDTH, &width);
    const auto total = static_cast<std::size_t>(TIFFScanlineSize(reader->tif)) * height;
    unpadded_out.resize(total);
    std::size_t at = 0;
    for (uint32_t s = 0; s < strips; ++s) {
        const tmsize_t n = TIFFReadEncodedStrip(reader->tif, s, unpadded_out.data() + at,
                                                std::min<tmsize_t>(strip_size, static_cast<tmsize_t>(total - at)));
        if (n < 0)
            return false;
        at += static_cast<std::size_t>(n);
    }
    return at == total;
}

bool libtiff_raw_strips(const std::vector<uint8_t> &file, strip_set &strips)
{
    libtiff_reader *r = libtiff_open(file);
    if (r == nullptr)
        return false;
    strips.clear();
    bool ok = true;
    for (uint32_t s = 0; ok && s < TIFFNumberOfStrips(r->tif); ++s) {
        const tmsize_t n = TIFFRawStripSize(r->tif, s);
        const std::size_t at = strips.bytes.size();
        strips.bytes.resize(at + static_cast<std::size_t>(n));
        ok = n > 0 && TIFFReadRawStrip(r->tif, s, strips.bytes.data() + at, n) == n;
        strips.starts.push_back(strips.bytes.size());
    }
    libtiff_close(r);
    return ok;
}

bool libtiff_wrap_strips(const bench_image &image, int strip_rows, const strip_set &strips, std::vector<uint8_t> &file)
{
    file.clear();
    memory_file f{&file, 0};
    TIFF *tif = tiff_open(f, "w");
    if (tif == nullptr)
        return false;
    set_tags(tif, image, strip_rows);
    bool ok = true;
    for (std::size_t s = 0; ok && s < strips.count(); ++s)
        ok = TIFFWriteRawStrip(tif, static_cast<uint32_t>(s),
                               const_cast<uint8_t *>(strips.bytes.data() + strips.starts[s]),
                               static_cast<tmsize_t>(strips.starts[s + 1] - strips.starts[s])) >= 0;
    TIFFClose(tif);
    return ok;
}

} // namespace orveln1_bench
