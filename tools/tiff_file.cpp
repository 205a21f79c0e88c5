// SPDX-License-Identifier: MIT
// TIFF reading and writing: libtiff handles the file structure over an in-memory stream, orveln1
// codes the strips in parallel, and libtiff's raw-strip functions move the coded bytes.
#include "tiff_file.hpp"

#include <tiffio.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>

#include "bmp_file.hpp"
#include "parallel.hpp"
#include "tool_error.hpp"

namespace orveln1::tool
{
namespace
{

// Aimed-for size of one uncompressed strip: small enough to spread over cores and to keep each
// coder's working set in cache, the size libtiff itself picks by default.
constexpr uint32_t strip_target_bytes = 8192;

// libtiff reports through process-wide handlers; the tool keeps the last message for its own error.
thread_local std::string last_tiff_error;

void on_tiff_error(const char *module, const char *format, va_list args)
{
    char text[512];
    std::vsnprintf(text, sizeof text, format, args);
    last_tiff_error = (module != nullptr && *module != '\0') ? std::string(module) + ": " + text : text;
}

void on_tiff_warning(const char *, const char *, va_list) {}

void install_tiff_handlers()
{
    TIFFSetErrorHandler(on_tiff_error);
    TIFFSetWarningHandler(on_tiff_warning);
}

// A memory stream libtiff reads from or writes to.
struct memory_stream {
    std::vector<uint8_t> data;
    std::span<const uint8_t> input;
    bool writing = false;
    uint64_t pos = 0;

    [[nodiscard]] uint64_t size() const { return writing ? data.size() : input.size(); }
};

tmsize_t stream_read(thandle_t h, void *buffer, tmsize_t count)
{
    auto &s = *static_cast<memory_stream *>(h);
    const uint8_t *base = s.writing ? s.data.data() : s.input.data();
    if (count < 0 || s.pos >= s.size())
        return 0;
    const uint64_t n = std::min<uint64_t>(static_cast<uint64_t>(count), s.size() - s.pos);
    std::memcpy(buffer, base + s.pos, n);
    s.pos += n;
    return static_cast<tmsize_t>(n);
}

tmsize_t stream_write(thandle_t h, void *buffer, tmsize_t count)
{
    auto &s = *static_cast<memory_stream *>(h);
    if (!s.writing || count <= 0)
        return 0;
    const uint64_t end = s.pos + static_cast<uint64_t>(count);
    if (end > s.data.size())
        s.data.resize(end);
    std::memcpy(s.data.data() + s.pos, buffer, static_cast<std::size_t>(count));
    s.pos = end;
    return count;
}

toff_t stream_seek(thandle_t h, toff_t offset, int whence)
{
    auto &s = *static_cast<memory_stream *>(h);
    uint64_t base = 0;
    if (whence == SEEK_CUR)
        base = s.pos;
    else if (whence == SEEK_END)
        base = s.size();
    s.pos = base + offset;
    return s.pos;
}

int stream_close(thandle_t)
{
    return 0;
}

toff_t stream_size(thandle_t h)
{
    return static_cast<memory_stream *>(h)->size();
}

int stream_map(thandle_t, void **, toff_t *)
{
    return 0;
}

void stream_unmap(thandle_t, void *, toff_t) {}

struct tiff_closer {
    void operator()(TIFF *t) const { TIFFClose(t); }
};
using tiff_ptr = std::unique_ptr<TIFF, tiff_closer>;

tiff_ptr open_stream(memory_stream &stream, const char *mode)
{
    install_tiff_handlers();
    last_tiff_error.clear();
    TIFF *t = TIFFClientOpen("orveln", mode, &stream, stream_read, stream_write, stream_seek, stream_close, stream_size,
                             stream_map, stream_unmap);
    if (t == nullptr)
        throw failure(last_tiff_error.empty() ? "not a TIFF file"
                                              : "not a readable TIFF file (" + last_tiff_error + ")");
    return tiff_ptr(t);
}

const char *compression_name(uint16_t c)
{
    switch (c) {
    case COMPRESSION_NONE:
        return "none";
    case COMPRESSION_LZW:
        return "LZW";
    case COMPRESSION_CCITTRLE:
    case COMPRESSION_CCITTFAX3:
    case COMPRESSION_CCITTFAX4:
        return "CCITT";
    case COMPRESSION_JPEG:
    case COMPRESSION_OJPEG:
        return "JPEG";
    case COMPRESSION_PACKBITS:
        return "PackBits";
    case COMPRESSION_ADOBE_DEFLATE:
    case COMPRESSION_DEFLATE:
        return "Deflate";
    default:
        return "other";
    }
}

const char *photometric_name(uint16_t p)
{
    switch (p) {
    case PHOTOMETRIC_MINISWHITE:
        return "min-is-white";
    case PHOTOMETRIC_MINISBLACK:
        return "min-is-black";
    case PHOTOMETRIC_RGB:
        return "RGB";
    case PHOTOMETRIC_PALETTE:
        return "palette";
    case PHOTOMETRIC_SEPARATED:
        return "separated (CMYK)";
    case PHOTOMETRIC_YCBCR:
        return "YCbCr";
    case PHOTOMETRIC_CIELAB:
        return "CIELab";
    default:
        return "other";
    }
}

std::vector<colour> grey_palette(int depth, bool min_is_white)
{
    const int entries = 1 << depth;
    std::vector<colour> palette;
    for (int i = 0; i < entries; ++i) {
        const auto level = static_cast<uint8_t>(255 * (min_is_white ? entries - 1 - i : i) / (entries - 1));
        palette.push_back(colour{level, level, level});
    }
    return palette;
}

bool is_grey_palette(const picture &image)
{
    const int entries = 1 << image.depth;
    const std::vector<colour> grey = grey_palette(image.depth, false);
    for (int i = 0; i < entries; ++i) {
        const colour c =
            static_cast<std::size_t>(i) < image.palette.size() ? image.palette[static_cast<std::size_t>(i)] : colour{};
        if (c != grey[static_cast<std::size_t>(i)])
            return false;
    }
    return true;
}

std::string strip_failure(uint32_t strip, int32_t code)
{
    return "strip " + std::to_string(strip) + ": " +
           (code == ORVELN1_ERR_BAD_DATA    ? std::string("LZW data is not decodable")
            : code == ORVELN1_ERR_NO_MEMORY ? std::string("out of memory")
                                            : "coding failed (result " + std::to_string(code) + ")");
}

} // namespace

uint32_t rows_per_strip_for(const picture &image)
{
    const std::size_t row_bytes =
        std::max<std::size_t>(1, (static_cast<std::size_t>(image.width) * image.depth + 7) / 8);
    return static_cast<uint32_t>(std::clamp<std::size_t>(strip_target_bytes / row_bytes, 1,
                                                         static_cast<std::size_t>(std::max(image.height, 1))));
}

picture read_tiff(std::span<const uint8_t> file, unsigned threads, tiff_facts *facts)
{
    memory_stream stream;
    stream.input = file;
    tiff_ptr tif = open_stream(stream, "rm");
    TIFF *t = tif.get();

    uint32_t width = 0;
    uint32_t height = 0;
    uint16_t bits = 1;
    uint16_t samples = 1;
    uint16_t compression = COMPRESSION_NONE;
    uint16_t photometric = 0;
    uint16_t planar = PLANARCONFIG_CONTIG;
    uint16_t predictor = PREDICTOR_NONE;
    uint16_t fill_order = FILLORDER_MSB2LSB;
    uint16_t sample_format = SAMPLEFORMAT_UINT;
    if (TIFFGetField(t, TIFFTAG_IMAGEWIDTH, &width) != 1 || TIFFGetField(t, TIFFTAG_IMAGELENGTH, &height) != 1)
        throw failure("TIFF without image width or length");
    TIFFGetFieldDefaulted(t, TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetFieldDefaulted(t, TIFFTAG_SAMPLESPERPIXEL, &samples);
    TIFFGetFieldDefaulted(t, TIFFTAG_COMPRESSION, &compression);
    TIFFGetFieldDefaulted(t, TIFFTAG_PLANARCONFIG, &planar);
    TIFFGetFieldDefaulted(t, TIFFTAG_PREDICTOR, &predictor);
    TIFFGetFieldDefaulted(t, TIFFTAG_FILLORDER, &fill_order);
    TIFFGetFieldDefaulted(t, TIFFTAG_SAMPLEFORMAT, &sample_format);
    if (TIFFGetField(t, TIFFTAG_PHOTOMETRIC, &photometric) != 1)
        photometric = samples >= 3 ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK;

    if (facts != nullptr) {
        facts->photometric = photometric_name(photometric);
        facts->bits_per_sample = bits;
        facts->samples_per_pixel = samples;
        facts->compression = compression_name(compression);
        facts->predictor = predictor == PREDICTOR_HORIZONTAL;
    }
    if (TIFFIsTiled(t))
        throw failure("tiled TIFF images are not supported (only strips are)");
    if (compression != COMPRESSION_LZW && compression != COMPRESSION_NONE)
        throw failure(std::string(compression_name(compression)) + " compression (" + std::to_string(compression) +
                      ") is not supported: only LZW and uncompressed strips are");
    if (samples > 1 && planar != PLANARCONFIG_CONTIG)
        throw failure("planar (separate) TIFF images are not supported");
    if (fill_order != FILLORDER_MSB2LSB)
        throw failure("TIFF with least-significant-bit-first fill order is not supported");
    if (sample_format != SAMPLEFORMAT_UINT)
        throw failure("TIFF samples that are not unsigned integers are not supported");
    if (width < 1 || height < 1 || width > static_cast<uint32_t>(max_image_side) ||
        height > static_cast<uint32_t>(max_image_side) || int64_t{width} * height > max_image_pixels)
        throw failure("TIFF size " + std::to_string(width) + "x" + std::to_string(height) + " is out of range");

    int depth = 0;
    std::vector<colour> palette;
    bool swap32 = false;
    if ((photometric == PHOTOMETRIC_MINISBLACK || photometric == PHOTOMETRIC_MINISWHITE) && samples == 1 &&
        (bits == 1 || bits == 4 || bits == 8)) {
        depth = bits;
        palette = grey_palette(bits, photometric == PHOTOMETRIC_MINISWHITE);
    } else if (photometric == PHOTOMETRIC_PALETTE && samples == 1 && (bits == 1 || bits == 4 || bits == 8)) {
        depth = bits;
        uint16_t *red = nullptr;
        uint16_t *green = nullptr;
        uint16_t *blue = nullptr;
        if (TIFFGetField(t, TIFFTAG_COLORMAP, &red, &green, &blue) != 1)
            throw failure("palette TIFF without a colour map");
        const int entries = 1 << bits;
        // Colour maps hold 16-bit values; some writers put 8-bit values there, which shows as no
        // entry reaching 256.
        bool eight_bit = true;
        for (int i = 0; i < entries; ++i)
            eight_bit = eight_bit && red[i] < 256 && green[i] < 256 && blue[i] < 256;
        const int shift = eight_bit ? 0 : 8;
        for (int i = 0; i < entries; ++i)
            palette.push_back(colour{static_cast<uint8_t>(red[i] >> shift), static_cast<uint8_t>(green[i] >> shift),
                                     static_cast<uint8_t>(blue[i] >> shift)});
    } else if (photometric == PHOTOMETRIC_RGB && bits == 8 && (samples == 3 || samples == 4)) {
        depth = samples * 8;
        swap32 = samples == 4;
    } else {
        throw failure(std::string(photometric_name(photometric)) + " TIFF with " + std::to_string(samples) +
                      " sample(s) of " + std::to_string(bits) +
                      " bits is not supported (bilevel, 4/8-bit grey or palette, 8-bit RGB and RGBA are)");
    }
    if (predictor != PREDICTOR_NONE && (predictor != PREDICTOR_HORIZONTAL || bits != 8))
        throw failure("TIFF predictor " + std::to_string(predictor) + " with " + std::to_string(bits) +
                      "-bit samples is not supported");

    uint32_t rows_per_strip = height;
    TIFFGetFieldDefaulted(t, TIFFTAG_ROWSPERSTRIP, &rows_per_strip);
    rows_per_strip = std::clamp<uint32_t>(rows_per_strip, 1, height);
    const uint32_t strips = TIFFNumberOfStrips(t);
    const uint32_t needed = (height + rows_per_strip - 1) / rows_per_strip;
    if (strips < needed)
        throw failure("TIFF has " + std::to_string(strips) + " strips where " + std::to_string(needed) + " are needed");
    if (facts != nullptr) {
        facts->rows_per_strip = rows_per_strip;
        facts->strips = needed;
    }

    // All strips are fetched first (libtiff is not shared between threads), then decoded at once.
    std::vector<std::vector<uint8_t>> raw(needed);
    for (uint32_t s = 0; s < needed; ++s) {
        const tmsize_t size = TIFFRawStripSize(t, s);
        const uint64_t offset = TIFFGetStrileOffset(t, s);
        if (size <= 0 || offset > file.size() || static_cast<uint64_t>(size) > file.size() - offset)
            throw failure("strip " + std::to_string(s) + " lies outside the file");
        raw[s].resize(static_cast<std::size_t>(size));
        if (TIFFReadRawStrip(t, s, raw[s].data(), size) != size)
            throw failure("strip " + std::to_string(s) + " cannot be read" +
                          (last_tiff_error.empty() ? "" : " (" + last_tiff_error + ")"));
        if (facts != nullptr)
            facts->compressed_bytes += static_cast<uint64_t>(size);
    }

    picture image = make_picture(static_cast<int32_t>(width), static_cast<int32_t>(height), depth);
    image.palette = std::move(palette);
    tif_strip_format format;
    format.width = image.width;
    format.depth = depth;
    format.swap_red_blue_32 = swap32;
    format.horizontal_predictor = predictor == PREDICTOR_HORIZONTAL;
    const std::size_t row_bytes = (static_cast<std::size_t>(width) * static_cast<std::size_t>(depth) + 7) / 8;

    std::vector<int32_t> results(needed, 0);
    parallel_for(needed, threads, [&](std::size_t s) {
        const auto first = static_cast<int32_t>(s * rows_per_strip);
        const int32_t count = std::min<int32_t>(static_cast<int32_t>(rows_per_strip), image.height - first);
        if (compression == COMPRESSION_LZW) {
            results[s] = decode_tif_strip(raw[s], format, image, first, count);
            return;
        }
        // Uncompressed: rows as stored, short strips padded with zeros.
        for (int32_t y = 0; y < count; ++y) {
            uint8_t *row = image.row(first + y);
            const std::size_t at = static_cast<std::size_t>(y) * row_bytes;
            if (at < raw[s].size())
                std::memcpy(row, raw[s].data() + at, std::min(row_bytes, raw[s].size() - at));
            if (format.horizontal_predictor)
                undo_horizontal_predictor(row, row_bytes, depth / 8);
            if (depth >= 24)
                for (std::size_t i = 0; i + 2 < row_bytes; i += static_cast<std::size_t>(depth / 8))
                    std::swap(row[i], row[i + 2]);
        }
    });
    for (uint32_t s = 0; s < needed; ++s)
        if (results[s] < 0)
            throw failure(strip_failure(s, results[s]));
    return image;
}

std::vector<uint8_t> write_tiff(const picture &image, const tiff_write_options &options)
{
    const int depth = image.depth;
    if (depth != 1 && depth != 4 && depth != 8 && depth != 24 && depth != 32)
        throw failure(std::to_string(depth) + "-bit images cannot be written as TIFF");
    if (options.predictor && depth < 8)
        throw failure("the predictor needs 8-bit samples; this image has " + std::to_string(depth) + "-bit pixels");

    const uint32_t rows_per_strip = rows_per_strip_for(image);
    const uint32_t strips = (static_cast<uint32_t>(image.height) + rows_per_strip - 1) / rows_per_strip;
    tif_strip_format format;
    format.width = image.width;
    format.depth = depth;
    format.swap_red_blue_32 = depth == 32;
    format.horizontal_predictor = options.predictor;

    std::vector<result<byte_vector>> coded(strips);
    parallel_for(strips, options.threads, [&](std::size_t s) {
        const auto first = static_cast<int32_t>(s * rows_per_strip);
        const int32_t count = std::min<int32_t>(static_cast<int32_t>(rows_per_strip), image.height - first);
        coded[s] = encode_tif_strip(image, format, first, count);
    });
    for (uint32_t s = 0; s < strips; ++s)
        if (!coded[s].ok())
            throw failure(strip_failure(s, coded[s].code));

    memory_stream stream;
    stream.writing = true;
    {
        tiff_ptr tif = open_stream(stream, "w");
        TIFF *t = tif.get();
        TIFFSetField(t, TIFFTAG_IMAGEWIDTH, static_cast<uint32_t>(image.width));
        TIFFSetField(t, TIFFTAG_IMAGELENGTH, static_cast<uint32_t>(image.height));
        TIFFSetField(t, TIFFTAG_COMPRESSION, COMPRESSION_LZW);
        TIFFSetField(t, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
        TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, rows_per_strip);
        TIFFSetField(t, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
        TIFFSetField(t, TIFFTAG_XRESOLUTION, 72.0f);
        TIFFSetField(t, TIFFTAG_YRESOLUTION, 72.0f);
        TIFFSetField(t, TIFFTAG_SOFTWARE, "orveln");
        if (options.predictor)
            TIFFSetField(t, TIFFTAG_PREDICTOR, PREDICTOR_HORIZONTAL);
        std::vector<uint16_t> red;
        std::vector<uint16_t> green;
        std::vector<uint16_t> blue;
        if (depth >= 24) {
            TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 8);
            TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, depth / 8);
            TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
            if (depth == 32) {
                // The fourth byte of a 32-bit bitmap pixel is kept but not claimed to be alpha.
                const uint16_t extra = EXTRASAMPLE_UNSPECIFIED;
                TIFFSetField(t, TIFFTAG_EXTRASAMPLES, 1, &extra);
            }
        } else {
            TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, depth);
            TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 1);
            if (is_grey_palette(image)) {
                TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
            } else {
                TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_PALETTE);
                const std::size_t entries = std::size_t{1} << depth;
                for (std::size_t i = 0; i < entries; ++i) {
                    const colour c = i < image.palette.size() ? image.palette[i] : colour{};
                    // 16-bit colour map values: 257 x v spreads 0..255 over 0..65535 exactly.
                    red.push_back(static_cast<uint16_t>(c.red * 257));
                    green.push_back(static_cast<uint16_t>(c.green * 257));
                    blue.push_back(static_cast<uint16_t>(c.blue * 257));
                }
                TIFFSetField(t, TIFFTAG_COLORMAP, red.data(), green.data(), blue.data());
            }
        }
        for (uint32_t s = 0; s < strips; ++s)
            if (TIFFWriteRawStrip(t, s, coded[s].value.data(), static_cast<tmsize_t>(coded[s].value.size())) < 0)
                throw failure("writing strip " + std::to_string(s) + " failed (" + last_tiff_error + ")");
        if (TIFFWriteDirectory(t) != 1)
            throw failure("writing the TIFF directory failed (" + last_tiff_error + ")");
    }
    return std::move(stream.data);
}

} // namespace orveln1::tool
