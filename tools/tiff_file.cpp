// SPDX-License-Identifier: MIT
// TIFF reading and writing: libtiff handles the file structure over an in-memory stream, orveln1
// codes the strips in parallel, and libtiff's raw-strip functions move the coded bytes.
#include "tiff_file.hpp"

#include <tiffio.h>
#include <unistd.h>

#include <cerrno>

#include <algorithm>
#include <atomic>
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

// Aimed-for size of one uncompressed strip. Each strip starts the LZW table afresh and costs a
// call into the codec, so larger strips code smaller and faster; 1 MiB still gives a photo of
// 8000x8000 RGB almost 200 strips to spread over cores, and readers hold one strip at a time.
constexpr uint32_t strip_target_bytes = 1 << 20;

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

// A stream libtiff reads from or writes to: the file's bytes in memory, or a descriptor that is
// written at the positions libtiff asks for.
struct memory_stream {
    std::vector<uint8_t> data;
    std::span<const uint8_t> input;
    bool writing = false;
    int fd = -1;
    uint64_t pos = 0;
    uint64_t end = 0; // of the descriptor's contents
    int error = 0;    // errno of a failed descriptor write

    [[nodiscard]] uint64_t size() const { return fd >= 0 ? end : writing ? data.size() : input.size(); }
};

tmsize_t stream_read(thandle_t h, void *buffer, tmsize_t count)
{
    auto &s = *static_cast<memory_stream *>(h);
    if (count < 0 || s.pos >= s.size())
        return 0;
    const uint64_t n = std::min<uint64_t>(static_cast<uint64_t>(count), s.size() - s.pos);
    if (s.fd >= 0) {
        const ssize_t got = ::pread(s.fd, buffer, n, static_cast<off_t>(s.pos));
        if (got < 0)
            return -1;
        s.pos += static_cast<uint64_t>(got);
        return got;
    }
    const uint8_t *base = s.writing ? s.data.data() : s.input.data();
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
    if (s.fd >= 0) {
        const auto *bytes = static_cast<const uint8_t *>(buffer);
        for (tmsize_t done = 0; done < count;) {
            const ssize_t n = ::pwrite(s.fd, bytes + done, static_cast<std::size_t>(count - done),
                                       static_cast<off_t>(s.pos + static_cast<uint64_t>(done)));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                s.error = n < 0 ? errno : EIO;
                return -1;
            }
            done += n;
        }
        s.end = std::max(s.end, end);
        s.pos = end;
        return count;
    }
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

std::string strip_failure(uint32_t strip, uint32_t first_row, int32_t code)
{
    return "strip " + std::to_string(strip) + ": " +
           (code == ORVELN1_ERR_BAD_DATA
                ? "LZW code above the next free code at row " + std::to_string(first_row) + " or after"
            : code == ORVELN1_ERR_NO_MEMORY ? std::string("out of memory")
                                            : "coding failed (result " + std::to_string(code) + ")");
}

// libtiff's LZW decoder tells old-style strips, written LSB-first before TIFF 6.0, by their first
// two bytes: a 9-bit clear code (256) stored low bits first starts 0x00 0x01.
bool old_style_lzw(std::span<const uint8_t> strip)
{
    return strip.size() >= 2 && strip[0] == 0 && (strip[1] & 1) != 0;
}

sample_meaning extra_sample_meaning(TIFF *t)
{
    uint16_t count = 0;
    uint16_t *types = nullptr;
    if (TIFFGetField(t, TIFFTAG_EXTRASAMPLES, &count, &types) != 1 || count < 1 || types == nullptr)
        return sample_meaning::unspecified;
    if (types[0] == EXTRASAMPLE_ASSOCALPHA)
        return sample_meaning::associated_alpha;
    if (types[0] == EXTRASAMPLE_UNASSALPHA)
        return sample_meaning::unassociated_alpha;
    return sample_meaning::unspecified;
}

void set_tags(TIFF *t, const picture &image, const tiff_write_options &options, uint32_t rows_per_strip,
              std::vector<uint16_t> (&map)[3])
{
    const int depth = image.depth;
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
    if (depth >= 24) {
        TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 8);
        TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, depth / 8);
        TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
        if (depth == 32) {
            // The fourth sample is alpha only when the input said so (a bitmap's fourth byte is not).
            const uint16_t extra = options.fourth == sample_meaning::associated_alpha     ? EXTRASAMPLE_ASSOCALPHA
                                   : options.fourth == sample_meaning::unassociated_alpha ? EXTRASAMPLE_UNASSALPHA
                                                                                          : EXTRASAMPLE_UNSPECIFIED;
            TIFFSetField(t, TIFFTAG_EXTRASAMPLES, 1, &extra);
        }
        return;
    }
    TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, depth);
    TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 1);
    if (is_grey_palette(image)) {
        TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
        return;
    }
    TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_PALETTE);
    const std::size_t entries = std::size_t{1} << depth;
    for (std::size_t i = 0; i < entries; ++i) {
        const colour c = i < image.palette.size() ? image.palette[i] : colour{};
        // 16-bit colour map values: 257 x v spreads 0..255 over 0..65535 exactly.
        map[0].push_back(static_cast<uint16_t>(c.red * 257));
        map[1].push_back(static_cast<uint16_t>(c.green * 257));
        map[2].push_back(static_cast<uint16_t>(c.blue * 257));
    }
    TIFFSetField(t, TIFFTAG_COLORMAP, map[0].data(), map[1].data(), map[2].data());
}

// Codes the strips a batch at a time on all threads and hands each batch to libtiff before the
// next, so that only the strips in flight are held.
void write_tiff_stream(memory_stream &stream, const picture &image, const tiff_write_options &options)
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

    tiff_ptr tif = open_stream(stream, "w");
    TIFF *t = tif.get();
    std::vector<uint16_t> map[3];
    set_tags(t, image, options, rows_per_strip, map);

    const unsigned threads = thread_count(options.threads, strips);
    // Enough strips per batch to keep every thread busy between the sequential writes.
    const uint32_t batch = std::max<uint32_t>(1, threads * 4);
    std::vector<result<byte_vector>> coded(batch);
    for (uint32_t first = 0; first < strips; first += batch) {
        const uint32_t count = std::min(batch, strips - first);
        parallel_for(count, threads, [&](std::size_t i) {
            const auto s = first + static_cast<uint32_t>(i);
            const auto row = static_cast<int32_t>(s * rows_per_strip);
            const int32_t rows = std::min<int32_t>(static_cast<int32_t>(rows_per_strip), image.height - row);
            coded[i] = encode_tif_strip(image, format, row, rows);
        });
        for (uint32_t i = 0; i < count; ++i) {
            if (!coded[i].ok())
                throw failure(strip_failure(first + i, (first + i) * rows_per_strip, coded[i].code));
            if (TIFFWriteRawStrip(t, first + i, coded[i].value.data(), static_cast<tmsize_t>(coded[i].value.size())) <
                0) {
                if (stream.error != 0)
                    throw output_failure(std::string("cannot write: ") + std::strerror(stream.error));
                throw output_failure("writing strip " + std::to_string(first + i) + " failed (" + last_tiff_error +
                                     ")");
            }
            coded[i] = {};
        }
        if (options.progress)
            options.progress(static_cast<double>(first + count) / strips);
    }
    if (TIFFWriteDirectory(t) != 1) {
        if (stream.error != 0)
            throw output_failure(std::string("cannot write: ") + std::strerror(stream.error));
        throw output_failure("writing the TIFF directory failed (" + last_tiff_error + ")");
    }
    tif.reset();
    if (stream.error != 0)
        throw output_failure(std::string("cannot write: ") + std::strerror(stream.error));
}

std::string plural(uint64_t n, const char *one, const char *many)
{
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

} // namespace

bool is_grey_palette(const picture &image)
{
    if (image.depth > 8)
        return false;
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

bool predictor_suits(const picture &image)
{
    return image.depth == 24 || image.depth == 32 || (image.depth == 8 && is_grey_palette(image));
}

uint32_t rows_per_strip_for(const picture &image)
{
    const std::size_t row_bytes =
        std::max<std::size_t>(1, (static_cast<std::size_t>(image.width) * image.depth + 7) / 8);
    return static_cast<uint32_t>(std::clamp<std::size_t>(strip_target_bytes / row_bytes, 1,
                                                         static_cast<std::size_t>(std::max(image.height, 1))));
}

picture read_tiff(std::span<const uint8_t> file, const tiff_read_options &options, int *pages, sample_meaning *fourth)
{
    memory_stream stream;
    stream.input = file;
    tiff_ptr tif = open_stream(stream, "rm");
    TIFF *t = tif.get();
    const int page_count = static_cast<int>(TIFFNumberOfDirectories(t));
    if (pages != nullptr)
        *pages = page_count;
    if (options.page != 0) {
        if (options.page < 0 || options.page >= page_count)
            throw failure("the file has " + plural(static_cast<uint64_t>(page_count), "page", "pages") +
                          " (numbered from 0); there is no page " + std::to_string(options.page));
        if (TIFFSetDirectory(t, static_cast<tdir_t>(options.page)) != 1)
            throw failure("page " + std::to_string(options.page) + " cannot be read (" + last_tiff_error + ")");
    }

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
    // libtiff keeps a predictor only for the codecs that use one; uncompressed strips have none.
    if (compression != COMPRESSION_LZW)
        predictor = PREDICTOR_NONE;
    if (fourth != nullptr)
        *fourth = extra_sample_meaning(t);

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

    picture image = make_picture(static_cast<int32_t>(width), static_cast<int32_t>(height), depth);
    image.palette = std::move(palette);
    const std::size_t row_bytes = (static_cast<std::size_t>(width) * static_cast<std::size_t>(depth) + 7) / 8;
    auto to_bitmap_order = [&](uint8_t *row) {
        if (depth >= 24)
            for (std::size_t i = 0; i + 2 < row_bytes; i += static_cast<std::size_t>(depth / 8))
                std::swap(row[i], row[i + 2]);
    };

    // Old-style LZW strips are decoded here by libtiff itself, which still reads that layout.
    // The strips are read where they lie in the file, without a copy.
    std::vector<std::span<const uint8_t>> raw(needed);
    std::vector<uint8_t> by_libtiff(needed, 0);
    uint32_t old_style = 0;
    std::vector<uint8_t> decoded;
    for (uint32_t s = 0; s < needed; ++s) {
        const uint64_t size = TIFFGetStrileByteCount(t, s);
        const uint64_t offset = TIFFGetStrileOffset(t, s);
        if (size == 0 || offset > file.size() || size > file.size() - offset)
            throw failure("strip " + std::to_string(s) + " lies outside the file");
        raw[s] = file.subspan(static_cast<std::size_t>(offset), static_cast<std::size_t>(size));
        if (compression != COMPRESSION_LZW || !old_style_lzw(raw[s]))
            continue;
        const uint32_t first = s * rows_per_strip;
        const uint32_t count = std::min(rows_per_strip, height - first);
        decoded.assign(row_bytes * count, 0);
        last_tiff_error.clear();
        const tmsize_t got = TIFFReadEncodedStrip(t, s, decoded.data(), static_cast<tmsize_t>(decoded.size()));
        if (got < 0)
            throw failure("strip " + std::to_string(s) +
                          ": old-style LZW from before TIFF 6.0 that libtiff cannot "
                          "decode either (" +
                          last_tiff_error + ")");
        for (uint32_t y = 0; y < count; ++y) {
            uint8_t *row = image.row(static_cast<int32_t>(first + y));
            std::memcpy(row, decoded.data() + y * row_bytes, row_bytes);
            to_bitmap_order(row);
        }
        by_libtiff[s] = 1;
        ++old_style;
    }
    if (old_style > 0)
        note(plural(old_style, "strip", "strips") +
             " of old-style LZW from before TIFF 6.0 (bits in the wrong order) decoded by libtiff");

    tif_strip_format format;
    format.width = image.width;
    format.depth = depth;
    format.swap_red_blue_32 = swap32;
    format.horizontal_predictor = predictor == PREDICTOR_HORIZONTAL;

    std::vector<int32_t> results(needed, 0);
    std::atomic<uint32_t> done{0};
    parallel_for(needed, options.threads, [&](std::size_t s) {
        const auto first = static_cast<int32_t>(s * rows_per_strip);
        const int32_t count = std::min<int32_t>(static_cast<int32_t>(rows_per_strip), image.height - first);
        if (compression == COMPRESSION_LZW) {
            if (by_libtiff[s] == 0)
                results[s] = decode_tif_strip(raw[s], format, image, first, count);
        } else {
            // Uncompressed: rows as stored, short strips padded with zeros.
            for (int32_t y = 0; y < count; ++y) {
                uint8_t *row = image.row(first + y);
                const std::size_t at = static_cast<std::size_t>(y) * row_bytes;
                if (at < raw[s].size())
                    std::memcpy(row, raw[s].data() + at, std::min(row_bytes, raw[s].size() - at));
                if (format.horizontal_predictor)
                    undo_horizontal_predictor(row, row_bytes, depth / 8);
                to_bitmap_order(row);
            }
        }
        const uint32_t now = ++done;
        if (options.progress && now % 64 == 0)
            options.progress(static_cast<double>(now) / needed);
    });
    for (uint32_t s = 0; s < needed; ++s)
        if (results[s] < 0)
            throw failure(strip_failure(s, s * rows_per_strip, results[s]));
    return image;
}

std::vector<uint8_t> write_tiff(const picture &image, const tiff_write_options &options)
{
    memory_stream stream;
    stream.writing = true;
    write_tiff_stream(stream, image, options);
    return std::move(stream.data);
}

void write_tiff_file(int fd, const picture &image, const tiff_write_options &options)
{
    memory_stream stream;
    stream.writing = true;
    stream.fd = fd;
    write_tiff_stream(stream, image, options);
}

namespace
{

std::string kind_text(uint16_t photometric, uint16_t bits, uint16_t samples, uint16_t sample_format,
                      sample_meaning fourth, uint16_t extra)
{
    const std::string bits_text = std::to_string(bits) + "-bit";
    const std::string number = sample_format == SAMPLEFORMAT_IEEEFP ? " float" : "";
    const char *alpha = fourth == sample_meaning::associated_alpha     ? " with associated alpha"
                        : fourth == sample_meaning::unassociated_alpha ? " with unassociated alpha"
                        : extra > 0                                    ? " with an extra sample"
                                                                       : "";
    switch (photometric) {
    case PHOTOMETRIC_MINISBLACK:
    case PHOTOMETRIC_MINISWHITE: {
        const char *order = photometric == PHOTOMETRIC_MINISWHITE ? " (0 is white)" : "";
        if (bits == 1 && samples == 1)
            return std::string("bilevel") + order;
        return bits_text + number + " grey" + order + alpha;
    }
    case PHOTOMETRIC_PALETTE:
        return bits_text + " palette (" + std::to_string(1u << std::min<uint16_t>(bits, 16)) + " colours)" + alpha;
    case PHOTOMETRIC_RGB:
        return bits_text + number + " RGB" + alpha;
    case PHOTOMETRIC_SEPARATED:
        return bits_text + " CMYK (" + std::to_string(samples) + " samples)";
    case PHOTOMETRIC_YCBCR:
        return bits_text + " YCbCr";
    case PHOTOMETRIC_CIELAB:
        return bits_text + number + " CIELab";
    default:
        return bits_text + " photometric " + std::to_string(photometric) + ", " + std::to_string(samples) + " samples";
    }
}

std::string ratio_text(uint64_t in, uint64_t out)
{
    if (out == 0)
        return "-";
    char text[64];
    std::snprintf(text, sizeof text, "%.2f:1", static_cast<double>(in) / static_cast<double>(out));
    return text;
}

void describe_page(TIFF *t, std::FILE *out)
{
    uint32_t width = 0;
    uint32_t height = 0;
    uint16_t bits = 1;
    uint16_t samples = 1;
    uint16_t compression = COMPRESSION_NONE;
    uint16_t photometric = PHOTOMETRIC_MINISBLACK;
    uint16_t planar = PLANARCONFIG_CONTIG;
    uint16_t predictor = PREDICTOR_NONE;
    uint16_t sample_format = SAMPLEFORMAT_UINT;
    uint16_t extra_count = 0;
    uint16_t *extra_types = nullptr;
    TIFFGetField(t, TIFFTAG_IMAGEWIDTH, &width);
    TIFFGetField(t, TIFFTAG_IMAGELENGTH, &height);
    TIFFGetFieldDefaulted(t, TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetFieldDefaulted(t, TIFFTAG_SAMPLESPERPIXEL, &samples);
    TIFFGetFieldDefaulted(t, TIFFTAG_COMPRESSION, &compression);
    TIFFGetFieldDefaulted(t, TIFFTAG_PLANARCONFIG, &planar);
    TIFFGetFieldDefaulted(t, TIFFTAG_PREDICTOR, &predictor);
    TIFFGetFieldDefaulted(t, TIFFTAG_SAMPLEFORMAT, &sample_format);
    TIFFGetField(t, TIFFTAG_EXTRASAMPLES, &extra_count, &extra_types);
    if (TIFFGetField(t, TIFFTAG_PHOTOMETRIC, &photometric) != 1)
        photometric = samples >= 3 ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK;

    std::fprintf(out, "  image: %ux%u, %s\n", width, height,
                 kind_text(photometric, bits, samples, sample_format, extra_sample_meaning(t), extra_count).c_str());

    const bool tiled = TIFFIsTiled(t) != 0;
    const uint32_t pieces = tiled ? TIFFNumberOfTiles(t) : TIFFNumberOfStrips(t);
    std::string layout;
    if (tiled) {
        uint32_t tile_width = 0;
        uint32_t tile_length = 0;
        TIFFGetField(t, TIFFTAG_TILEWIDTH, &tile_width);
        TIFFGetField(t, TIFFTAG_TILELENGTH, &tile_length);
        layout =
            plural(pieces, "tile", "tiles") + " of " + std::to_string(tile_width) + "x" + std::to_string(tile_length);
    } else {
        uint32_t rows_per_strip = height;
        TIFFGetFieldDefaulted(t, TIFFTAG_ROWSPERSTRIP, &rows_per_strip);
        layout = plural(pieces, "strip", "strips") + " of " +
                 plural(std::min(rows_per_strip, std::max<uint32_t>(height, 1)), "row", "rows");
    }
    if (samples > 1 && planar == PLANARCONFIG_SEPARATE)
        layout += ", one plane per sample";
    uint64_t compressed = 0;
    bool old_style = false;
    for (uint32_t i = 0; i < pieces; ++i) {
        compressed += TIFFGetStrileByteCount(t, i);
        if (i == 0 && compression == COMPRESSION_LZW) {
            uint8_t head[2] = {};
            const tmsize_t n = tiled ? TIFFReadRawTile(t, 0, head, 2) : TIFFReadRawStrip(t, 0, head, 2);
            old_style = n == 2 && old_style_lzw(head);
        }
    }
    std::fprintf(out, "  %s; compression %s%s%s\n", layout.c_str(), compression_name(compression),
                 predictor == PREDICTOR_HORIZONTAL      ? ", predictor 2"
                 : predictor == PREDICTOR_FLOATINGPOINT ? ", predictor 3"
                                                        : "",
                 old_style ? " (old-style LZW from before TIFF 6.0)" : "");

    // Rows complete, by libtiff's own decoding of every strip (of the first plane) or tile.
    const uint64_t pixel_bytes =
        static_cast<uint64_t>(height) * ((static_cast<uint64_t>(width) * bits * samples + 7) / 8);
    std::string rows;
    if (!tiled) {
        const tmsize_t strip_size = TIFFStripSize(t);
        uint32_t rows_per_strip = height;
        TIFFGetFieldDefaulted(t, TIFFTAG_ROWSPERSTRIP, &rows_per_strip);
        rows_per_strip = std::max<uint32_t>(1, std::min(rows_per_strip, std::max<uint32_t>(height, 1)));
        const uint32_t per_plane = (height + rows_per_strip - 1) / rows_per_strip;
        const tmsize_t scanline = std::max<tmsize_t>(1, TIFFScanlineSize(t));
        std::vector<uint8_t> buffer(static_cast<std::size_t>(std::max<tmsize_t>(strip_size, 1)));
        uint64_t complete = 0;
        for (uint32_t s = 0; s < per_plane && s < pieces; ++s) {
            const uint32_t in_strip = std::min(rows_per_strip, height - s * rows_per_strip);
            const tmsize_t got = TIFFReadEncodedStrip(t, s, buffer.data(), strip_size);
            const uint64_t got_rows = got < 0 ? 0 : static_cast<uint64_t>(got) / static_cast<uint64_t>(scanline);
            complete += std::min<uint64_t>(got_rows, in_strip);
        }
        rows = "; " + std::to_string(complete) + " of " + std::to_string(height) + " rows complete";
    } else {
        const tmsize_t tile_size = TIFFTileSize(t);
        std::vector<uint8_t> buffer(static_cast<std::size_t>(std::max<tmsize_t>(tile_size, 1)));
        uint32_t good = 0;
        for (uint32_t i = 0; i < pieces; ++i)
            good += TIFFReadEncodedTile(t, i, buffer.data(), tile_size) == tile_size ? 1 : 0;
        rows = "; " + std::to_string(good) + " of " + plural(pieces, "tile", "tiles") + " complete";
    }
    std::fprintf(out, "  %s: %llu pixel bytes -> %llu bytes, ratio %s%s\n", compression_name(compression),
                 static_cast<unsigned long long>(pixel_bytes), static_cast<unsigned long long>(compressed),
                 ratio_text(pixel_bytes, compressed).c_str(), rows.c_str());
}

} // namespace

bool describe_tiff(std::span<const uint8_t> file, std::FILE *out)
{
    memory_stream stream;
    stream.input = file;
    tiff_ptr tif;
    try {
        tif = open_stream(stream, "rm");
    } catch (const failure &e) {
        std::fprintf(out, "  %s\n", e.what());
        return false;
    }
    TIFF *t = tif.get();
    const int pages = static_cast<int>(TIFFNumberOfDirectories(t));
    if (pages > 1)
        std::fprintf(out, "  %d pages\n", pages);
    int page = 0;
    do {
        if (pages > 1)
            std::fprintf(out, " page %d:\n", page);
        describe_page(t, out);
        ++page;
    } while (page < pages && TIFFReadDirectory(t) == 1);
    return true;
}

} // namespace orveln1::tool
