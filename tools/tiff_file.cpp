// SPDX-License-Identifier: MIT
// TIFF reading and writing: libtiff handles the file structure over an in-memory stream, orveln1
// codes the strips in parallel, and libtiff's raw-strip functions move the coded bytes.
#include "tiff_file.hpp"

#include <sys/stat.h>
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
#include "row_source.hpp"
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

// The tags that reading and describing a page need, with libtiff's defaults for absent ones.
struct tiff_tags {
    uint32_t width = 0;
    uint32_t height = 0;
    bool has_size = false; // both width and length are present
    uint16_t bits = 1;
    uint16_t samples = 1;
    uint16_t compression = COMPRESSION_NONE;
    uint16_t photometric = PHOTOMETRIC_MINISBLACK;
    uint16_t planar = PLANARCONFIG_CONTIG;
    uint16_t predictor = PREDICTOR_NONE;
    uint16_t fill_order = FILLORDER_MSB2LSB;
    uint16_t sample_format = SAMPLEFORMAT_UINT;
    uint16_t extra_count = 0;
    uint32_t rows_per_strip = 1; // 1 to the height, whatever the tag says
    sample_meaning fourth = sample_meaning::unspecified;
};

tiff_tags read_tags(TIFF *t)
{
    tiff_tags g;
    g.has_size =
        TIFFGetField(t, TIFFTAG_IMAGEWIDTH, &g.width) == 1 && TIFFGetField(t, TIFFTAG_IMAGELENGTH, &g.height) == 1;
    TIFFGetFieldDefaulted(t, TIFFTAG_BITSPERSAMPLE, &g.bits);
    TIFFGetFieldDefaulted(t, TIFFTAG_SAMPLESPERPIXEL, &g.samples);
    TIFFGetFieldDefaulted(t, TIFFTAG_COMPRESSION, &g.compression);
    TIFFGetFieldDefaulted(t, TIFFTAG_PLANARCONFIG, &g.planar);
    TIFFGetFieldDefaulted(t, TIFFTAG_PREDICTOR, &g.predictor);
    TIFFGetFieldDefaulted(t, TIFFTAG_FILLORDER, &g.fill_order);
    TIFFGetFieldDefaulted(t, TIFFTAG_SAMPLEFORMAT, &g.sample_format);
    if (TIFFGetField(t, TIFFTAG_PHOTOMETRIC, &g.photometric) != 1)
        g.photometric = g.samples >= 3 ? PHOTOMETRIC_RGB : PHOTOMETRIC_MINISBLACK;
    uint32_t rows_per_strip = g.height;
    TIFFGetFieldDefaulted(t, TIFFTAG_ROWSPERSTRIP, &rows_per_strip);
    g.rows_per_strip = std::clamp<uint32_t>(rows_per_strip, 1, std::max<uint32_t>(g.height, 1));
    uint16_t *types = nullptr;
    if (TIFFGetField(t, TIFFTAG_EXTRASAMPLES, &g.extra_count, &types) == 1 && g.extra_count > 0 && types != nullptr)
        g.fourth = types[0] == EXTRASAMPLE_ASSOCALPHA   ? sample_meaning::associated_alpha
                   : types[0] == EXTRASAMPLE_UNASSALPHA ? sample_meaning::unassociated_alpha
                                                        : sample_meaning::unspecified;
    else
        g.extra_count = 0;
    return g;
}

std::string plural(uint64_t n, const char *one, const char *many)
{
    return std::to_string(n) + " " + (n == 1 ? one : many);
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

// Gives a picture holding rows first .. first + count - 1 of the picture being written, from its
// row `at` on.
using band_fn = std::function<const picture &(int32_t first, int32_t count, int32_t &at)>;

// Codes the strips a batch at a time on all threads and hands each batch to libtiff before the
// next, so that only the strips in flight are held. image gives the size, depth and palette.
void write_tiff_stream(memory_stream &stream, const picture &image, const tiff_write_options &options,
                       const band_fn &band_for)
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
        const auto band_first = static_cast<int32_t>(first * rows_per_strip);
        const int32_t band_rows =
            std::min<int32_t>(static_cast<int32_t>(count * rows_per_strip), image.height - band_first);
        int32_t at = 0;
        const picture &band = band_for(band_first, band_rows, at);
        parallel_for(count, threads, [&](std::size_t i) {
            const auto row = static_cast<int32_t>(i * rows_per_strip);
            const int32_t rows = std::min<int32_t>(static_cast<int32_t>(rows_per_strip), band_rows - row);
            coded[i] = encode_tif_strip(band, format, at + row, rows);
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

namespace
{

// One page of a TIFF file read strip by strip into bands of rows: orveln1 decodes the LZW strips on
// all threads, libtiff the old-style ones, and uncompressed strips are copied. Only the strips of
// the band asked for are read, so a file read through a descriptor is never held whole.
class tiff_reader final : public row_source
{
  public:
    tiff_reader(std::unique_ptr<memory_stream> stream, const tiff_read_options &options, int *pages,
                sample_meaning *fourth);
    ~tiff_reader() override
    {
        tif_.reset();
        if (stream_->fd >= 0)
            ::close(stream_->fd);
    }
    tiff_reader(const tiff_reader &) = delete;
    tiff_reader &operator=(const tiff_reader &) = delete;

    void read_rows(int32_t first, int32_t count, picture &band, int32_t at) override;

  private:
    [[nodiscard]] uint32_t rows_in_strip(uint32_t s) const
    {
        return std::min(rows_per_strip_, static_cast<uint32_t>(shape_.height) - s * rows_per_strip_);
    }
    // The coded bytes of strip s: where they lie in memory, or read into buffer through the descriptor.
    std::span<const uint8_t> raw_strip(uint32_t s, std::vector<uint8_t> &buffer);
    // Rows of a stored (uncompressed) strip into rows at .. of target; short strips leave zeros.
    void copy_stored(std::span<const uint8_t> raw, picture &target, int32_t at, uint32_t rows) const;
    void to_bitmap_order(uint8_t *row) const;
    // Strip s decoded on its own, for a strip that a band holds only in part (the next band holds
    // the rest, so the last one is kept) and for old-style strips, which libtiff decodes.
    const picture &whole_strip(uint32_t s);

    std::unique_ptr<memory_stream> stream_; // libtiff keeps its address
    tiff_ptr tif_;
    tiff_read_options options_;
    uint16_t compression_ = COMPRESSION_NONE;
    uint32_t rows_per_strip_ = 1;
    std::size_t row_bytes_ = 0;
    tif_strip_format format_;
    picture strip_;
    uint32_t strip_index_ = UINT32_MAX;
    uint32_t old_style_ = 0;
};

tiff_reader::tiff_reader(std::unique_ptr<memory_stream> stream, const tiff_read_options &options, int *pages,
                         sample_meaning *fourth)
    : stream_(std::move(stream)), options_(options)
{
    tif_ = open_stream(*stream_, "rm");
    TIFF *t = tif_.get();
    // Opening read the first directory, so there is a page even when counting the chain of
    // directories stops short of it (a damaged offset to the next one counts none).
    const int page_count = std::max(1, static_cast<int>(TIFFNumberOfDirectories(t)));
    if (pages != nullptr)
        *pages = page_count;
    if (options.page != 0) {
        if (options.page < 0 || options.page >= page_count)
            throw failure("the file has " + plural(static_cast<uint64_t>(page_count), "page", "pages") +
                          " (numbered from 0); there is no page " + std::to_string(options.page));
        if (TIFFSetDirectory(t, static_cast<tdir_t>(options.page)) != 1)
            throw failure("page " + std::to_string(options.page) + " cannot be read (" + last_tiff_error + ")");
    }

    tiff_tags g = read_tags(t);
    if (!g.has_size)
        throw failure("TIFF without image width or length");
    // libtiff keeps a predictor only for the codecs that use one; uncompressed strips have none.
    if (g.compression != COMPRESSION_LZW)
        g.predictor = PREDICTOR_NONE;
    if (fourth != nullptr)
        *fourth = g.fourth;

    if (TIFFIsTiled(t))
        throw failure("tiled TIFF images are not supported (only strips are)");
    if (g.compression != COMPRESSION_LZW && g.compression != COMPRESSION_NONE)
        throw failure(std::string(compression_name(g.compression)) + " compression (" + std::to_string(g.compression) +
                      ") is not supported: only LZW and uncompressed strips are");
    if (g.samples > 1 && g.planar != PLANARCONFIG_CONTIG)
        throw failure("planar (separate) TIFF images are not supported");
    if (g.fill_order != FILLORDER_MSB2LSB)
        throw failure("TIFF with least-significant-bit-first fill order is not supported");
    if (g.sample_format != SAMPLEFORMAT_UINT)
        throw failure("TIFF samples that are not unsigned integers are not supported");
    if (g.width < 1 || g.height < 1 || g.width > static_cast<uint32_t>(max_image_side) ||
        g.height > static_cast<uint32_t>(max_image_side) || int64_t{g.width} * g.height > max_image_pixels)
        throw failure("TIFF size " + std::to_string(g.width) + "x" + std::to_string(g.height) + " is out of range");

    int depth = 0;
    std::vector<colour> palette;
    bool swap32 = false;
    const uint16_t bits = g.bits;
    if ((g.photometric == PHOTOMETRIC_MINISBLACK || g.photometric == PHOTOMETRIC_MINISWHITE) && g.samples == 1 &&
        (bits == 1 || bits == 4 || bits == 8)) {
        depth = bits;
        palette = grey_palette(bits, g.photometric == PHOTOMETRIC_MINISWHITE);
    } else if (g.photometric == PHOTOMETRIC_PALETTE && g.samples == 1 && (bits == 1 || bits == 4 || bits == 8)) {
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
    } else if (g.photometric == PHOTOMETRIC_RGB && bits == 8 && (g.samples == 3 || g.samples == 4)) {
        depth = g.samples * 8;
        swap32 = g.samples == 4;
    } else {
        throw failure(std::string(photometric_name(g.photometric)) + " TIFF with " + std::to_string(g.samples) +
                      " sample(s) of " + std::to_string(bits) +
                      " bits is not supported (bilevel, 4/8-bit grey or palette, 8-bit RGB and RGBA are)");
    }
    if (g.predictor != PREDICTOR_NONE && (g.predictor != PREDICTOR_HORIZONTAL || bits != 8))
        throw failure("TIFF predictor " + std::to_string(g.predictor) + " with " + std::to_string(bits) +
                      "-bit samples is not supported");

    rows_per_strip_ = g.rows_per_strip;
    const uint32_t strips = TIFFNumberOfStrips(t);
    const uint32_t needed = (g.height + rows_per_strip_ - 1) / rows_per_strip_;
    if (strips < needed)
        throw failure("TIFF has " + std::to_string(strips) + " strips where " + std::to_string(needed) + " are needed");

    compression_ = g.compression;
    shape_.width = static_cast<int32_t>(g.width);
    shape_.height = static_cast<int32_t>(g.height);
    shape_.depth = depth;
    shape_.palette = std::move(palette);
    row_bytes_ = (static_cast<std::size_t>(g.width) * static_cast<std::size_t>(depth) + 7) / 8;
    format_.width = shape_.width;
    format_.depth = depth;
    format_.swap_red_blue_32 = swap32;
    format_.horizontal_predictor = g.predictor == PREDICTOR_HORIZONTAL;
}

std::span<const uint8_t> tiff_reader::raw_strip(uint32_t s, std::vector<uint8_t> &buffer)
{
    TIFF *t = tif_.get();
    const uint64_t size = TIFFGetStrileByteCount(t, s);
    const uint64_t offset = TIFFGetStrileOffset(t, s);
    const uint64_t file_size = stream_->size();
    if (size == 0 || offset > file_size || size > file_size - offset)
        throw failure("strip " + std::to_string(s) + " lies outside the file");
    if (stream_->fd < 0)
        return stream_->input.subspan(static_cast<std::size_t>(offset), static_cast<std::size_t>(size));
    buffer.resize(static_cast<std::size_t>(size));
    for (std::size_t done = 0; done < buffer.size();) {
        const ssize_t n =
            ::pread(stream_->fd, buffer.data() + done, buffer.size() - done, static_cast<off_t>(offset + done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            throw failure("strip " + std::to_string(s) +
                          " cannot be read: " + (n < 0 ? std::strerror(errno) : "the file ends early"));
        done += static_cast<std::size_t>(n);
    }
    return buffer;
}

void tiff_reader::to_bitmap_order(uint8_t *row) const
{
    if (shape_.depth >= 24)
        for (std::size_t i = 0; i + 2 < row_bytes_; i += static_cast<std::size_t>(shape_.depth / 8))
            std::swap(row[i], row[i + 2]);
}

void tiff_reader::copy_stored(std::span<const uint8_t> raw, picture &target, int32_t at, uint32_t rows) const
{
    for (uint32_t y = 0; y < rows; ++y) {
        uint8_t *row = target.row(at + static_cast<int32_t>(y));
        const std::size_t from = y * row_bytes_;
        if (from < raw.size())
            std::memcpy(row, raw.data() + from, std::min(row_bytes_, raw.size() - from));
        if (format_.horizontal_predictor)
            undo_horizontal_predictor(row, row_bytes_, shape_.depth / 8);
        to_bitmap_order(row);
    }
}

const picture &tiff_reader::whole_strip(uint32_t s)
{
    if (strip_index_ == s)
        return strip_;
    strip_index_ = UINT32_MAX;
    const uint32_t rows = rows_in_strip(s);
    strip_ = make_picture(shape_.width, static_cast<int32_t>(rows), shape_.depth);
    std::vector<uint8_t> buffer;
    const std::span<const uint8_t> raw = raw_strip(s, buffer);
    if (compression_ == COMPRESSION_LZW && old_style_lzw(raw)) {
        std::vector<uint8_t> decoded(row_bytes_ * rows, 0);
        last_tiff_error.clear();
        if (TIFFReadEncodedStrip(tif_.get(), s, decoded.data(), static_cast<tmsize_t>(decoded.size())) < 0)
            throw failure("strip " + std::to_string(s) +
                          ": old-style LZW from before TIFF 6.0 that libtiff cannot decode either (" + last_tiff_error +
                          ")");
        for (uint32_t y = 0; y < rows; ++y) {
            uint8_t *row = strip_.row(static_cast<int32_t>(y));
            std::memcpy(row, decoded.data() + y * row_bytes_, row_bytes_);
            to_bitmap_order(row);
        }
        ++old_style_;
    } else if (compression_ == COMPRESSION_LZW) {
        const int32_t r = decode_tif_strip(raw, format_, strip_, 0, static_cast<int32_t>(rows));
        if (r < 0)
            throw failure(strip_failure(s, s * rows_per_strip_, r));
    } else {
        copy_stored(raw, strip_, 0, rows);
    }
    strip_index_ = s;
    return strip_;
}

void tiff_reader::read_rows(int32_t first, int32_t count, picture &band, int32_t at)
{
    if (count < 1)
        return;
    std::memset(band.row(at), 0, band.stride() * static_cast<std::size_t>(count));
    const auto band_first = static_cast<uint32_t>(first);
    const auto band_end = static_cast<uint32_t>(first + count);
    const uint32_t first_strip = band_first / rows_per_strip_;
    const uint32_t last_strip = (band_end - 1) / rows_per_strip_;
    const unsigned threads = thread_count(options_.threads, last_strip - first_strip + 1);
    // Enough strips per batch to keep every thread busy between the sequential reads: four each,
    // and for files of small strips, about as many rows as four of the strips the tool writes.
    const std::size_t strip_bytes = std::max<std::size_t>(1, row_bytes_ * rows_per_strip_);
    const auto batch = static_cast<uint32_t>(std::clamp<std::size_t>(
        threads * 4 * std::max<std::size_t>(1, strip_target_bytes / strip_bytes), 1, last_strip - first_strip + 1));
    std::vector<std::vector<uint8_t>> buffers(batch);
    std::vector<std::span<const uint8_t>> raw(batch);
    std::vector<int32_t> results(batch);
    for (uint32_t b = first_strip; b <= last_strip; b += batch) {
        const uint32_t n = std::min(batch, last_strip + 1 - b);
        for (uint32_t i = 0; i < n; ++i) {
            const uint32_t s = b + i;
            const uint32_t strip_first = s * rows_per_strip_;
            const uint32_t strip_end = strip_first + rows_in_strip(s);
            raw[i] = {};
            results[i] = 0;
            if (strip_first >= band_first && strip_end <= band_end) {
                raw[i] = raw_strip(s, buffers[i]);
                if (compression_ != COMPRESSION_LZW || !old_style_lzw(raw[i]))
                    continue;
                raw[i] = {};
            }
            // Decoded on its own; only the rows inside the band are copied.
            const picture &whole = whole_strip(s);
            const uint32_t from = std::max(strip_first, band_first);
            const uint32_t to = std::min(strip_end, band_end);
            for (uint32_t y = from; y < to; ++y)
                std::memcpy(band.row(at + static_cast<int32_t>(y - band_first)),
                            whole.row(static_cast<int32_t>(y - strip_first)), band.stride());
        }
        parallel_for(n, threads, [&](std::size_t i) {
            if (raw[i].empty())
                return;
            const auto s = b + static_cast<uint32_t>(i);
            const int32_t row = at + static_cast<int32_t>(s * rows_per_strip_ - band_first);
            const uint32_t rows = rows_in_strip(s);
            if (compression_ == COMPRESSION_LZW)
                results[i] = decode_tif_strip(raw[i], format_, band, row, static_cast<int32_t>(rows));
            else
                copy_stored(raw[i], band, row, rows);
        });
        for (uint32_t i = 0; i < n; ++i)
            if (results[i] < 0)
                throw failure(strip_failure(b + i, (b + i) * rows_per_strip_, results[i]));
        // Progress is told for a whole read; a band's caller tells its own.
        if (options_.progress && count == shape_.height)
            options_.progress(static_cast<double>(std::min(band_end, (b + n) * rows_per_strip_)) / shape_.height);
    }
    if (band_end == static_cast<uint32_t>(shape_.height) && old_style_ > 0)
        note(plural(old_style_, "strip", "strips") +
             " of old-style LZW from before TIFF 6.0 (bits in the wrong order) decoded by libtiff");
}

} // namespace

picture read_tiff(std::span<const uint8_t> file, const tiff_read_options &options, int *pages, sample_meaning *fourth)
{
    auto stream = std::make_unique<memory_stream>();
    stream->input = file;
    tiff_reader reader(std::move(stream), options, pages, fourth);
    return reader.take_all();
}

std::unique_ptr<row_source> open_tiff(int fd, const tiff_read_options &options, int *pages, sample_meaning *fourth)
{
    auto stream = std::make_unique<memory_stream>();
    stream->fd = fd;
    struct stat st {
    };
    if (::fstat(fd, &st) != 0) {
        ::close(fd);
        throw failure(std::string("cannot read: ") + std::strerror(errno));
    }
    stream->end = static_cast<uint64_t>(st.st_size);
    try {
        return std::make_unique<tiff_reader>(std::move(stream), options, pages, fourth);
    } catch (...) {
        // A reader that was never made has not taken the descriptor over.
        ::close(fd);
        throw;
    }
}

std::vector<uint8_t> write_tiff(const picture &image, const tiff_write_options &options)
{
    memory_stream stream;
    stream.writing = true;
    write_tiff_stream(stream, image, options, [&](int32_t first, int32_t, int32_t &at) -> const picture & {
        at = first;
        return image;
    });
    return std::move(stream.data);
}

void write_tiff_file(int fd, row_source &source, const tiff_write_options &options)
{
    memory_stream stream;
    stream.writing = true;
    stream.fd = fd;
    picture band;
    write_tiff_stream(stream, source.shape(), options,
                      [&](int32_t first, int32_t count, int32_t &at) -> const picture & {
                          if (band.height < count)
                              band = make_picture(source.shape().width, count, source.shape().depth);
                          source.read_rows(first, count, band, 0);
                          at = 0;
                          return band;
                      });
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

// An LZW code stands for at most 4096 bytes, and the other codecs libtiff reads expand less per
// coded byte, so a strip or tile decodes to no more than this many bytes for each of its own.
constexpr uint64_t most_bytes_per_coded_byte = 4096;
constexpr uint64_t smallest_piece_buffer = uint64_t{1} << 24;

// Room for decoding strip or tile i: what the tags say it holds, but never more than its coded
// bytes can fill, so that a hostile size in the tags cannot ask for more memory than that. The
// coded size is itself a tag (or, without one, libtiff's guess from the image size), so only as
// much of it counts as the file holds.
tmsize_t piece_buffer_bytes(TIFF *t, uint32_t i, tmsize_t claimed)
{
    const uint64_t file_size = static_cast<const memory_stream *>(TIFFClientdata(t))->size();
    const uint64_t coded = std::min<uint64_t>(TIFFGetStrileByteCount(t, i), file_size);
    const uint64_t fillable = std::max(smallest_piece_buffer, coded * most_bytes_per_coded_byte);
    return static_cast<tmsize_t>(std::min<uint64_t>(static_cast<uint64_t>(std::max<tmsize_t>(claimed, 1)), fillable));
}

void describe_page(TIFF *t, std::FILE *out)
{
    const tiff_tags g = read_tags(t);
    const uint32_t width = g.width;
    const uint32_t height = g.height;
    const uint16_t bits = g.bits;
    const uint16_t samples = g.samples;
    const uint16_t compression = g.compression;
    const uint16_t predictor = g.predictor;
    std::fprintf(out, "  image: %ux%u, %s\n", width, height,
                 kind_text(g.photometric, bits, samples, g.sample_format, g.fourth, g.extra_count).c_str());

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
        layout = plural(pieces, "strip", "strips") + " of " + plural(g.rows_per_strip, "row", "rows");
    }
    if (samples > 1 && g.planar == PLANARCONFIG_SEPARATE)
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
        const uint32_t rows_per_strip = g.rows_per_strip;
        const uint32_t per_plane = (height + rows_per_strip - 1) / rows_per_strip;
        const tmsize_t scanline = std::max<tmsize_t>(1, TIFFScanlineSize(t));
        std::vector<uint8_t> buffer;
        uint64_t complete = 0;
        for (uint32_t s = 0; s < per_plane && s < pieces; ++s) {
            const uint32_t in_strip = std::min(rows_per_strip, height - s * rows_per_strip);
            const tmsize_t size = piece_buffer_bytes(t, s, strip_size);
            buffer.resize(static_cast<std::size_t>(size));
            const tmsize_t got = TIFFReadEncodedStrip(t, s, buffer.data(), size);
            const uint64_t got_rows = got < 0 ? 0 : static_cast<uint64_t>(got) / static_cast<uint64_t>(scanline);
            complete += std::min<uint64_t>(got_rows, in_strip);
        }
        rows = "; " + std::to_string(complete) + " of " + std::to_string(height) + " rows complete";
    } else {
        const tmsize_t tile_size = TIFFTileSize(t);
        std::vector<uint8_t> buffer;
        uint32_t good = 0;
        for (uint32_t i = 0; i < pieces; ++i) {
            // A tile larger than its coded bytes can fill cannot be complete.
            const tmsize_t size = piece_buffer_bytes(t, i, tile_size);
            buffer.resize(static_cast<std::size_t>(size));
            good += size == tile_size && TIFFReadEncodedTile(t, i, buffer.data(), size) == tile_size ? 1 : 0;
        }
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
    // The page count comes from walking the directory chain alone; a directory on it that libtiff
    // cannot read ends the description there, and the file is not called readable.
    if (page < pages) {
        std::fprintf(out, " page %d: damaged directory, cannot be read\n", page);
        return false;
    }
    return true;
}

} // namespace orveln1::tool
