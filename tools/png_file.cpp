// SPDX-License-Identifier: MIT
// PNG reading and writing with libpng's full interface. libpng reports errors by longjmp, so the
// calls that may fail run in small functions that own no C++ objects, and the pictures they fill
// are made before them.
#include "png_file.hpp"

#include <png.h>

#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <string>

#include "bmp_file.hpp"
#include "tool_error.hpp"

namespace orveln1::tool
{
namespace
{

struct png_context {
    std::span<const uint8_t> input;
    std::FILE *stream = nullptr; // read from here instead of input when set
    std::size_t pos = 0;
    std::vector<uint8_t> *output = nullptr;
    char message[256] = "";
};

void on_error(png_structp png, png_const_charp message)
{
    auto *c = static_cast<png_context *>(png_get_error_ptr(png));
    std::snprintf(c->message, sizeof c->message, "%s", message);
    png_longjmp(png, 1);
}

void on_warning(png_structp, png_const_charp) {}

void read_bytes(png_structp png, png_bytep out, png_size_t count)
{
    auto *c = static_cast<png_context *>(png_get_io_ptr(png));
    if (c->stream != nullptr) {
        if (std::fread(out, 1, count, c->stream) != count)
            png_error(png, "the file ends inside the image data");
        return;
    }
    if (count > c->input.size() - c->pos)
        png_error(png, "the file ends inside the image data");
    std::memcpy(out, c->input.data() + c->pos, count);
    c->pos += count;
}

void write_bytes(png_structp png, png_bytep data, png_size_t count)
{
    auto *c = static_cast<png_context *>(png_get_io_ptr(png));
    c->output->insert(c->output->end(), data, data + count);
}

void flush_nothing(png_structp) {}

// What the header says and how the rows will come out.
struct png_layout {
    png_uint_32 width = 0;
    png_uint_32 height = 0;
    int bit_depth = 0;
    int colour_type = 0;
    int depth = 0;          // of the picture: 1, 4, 8, 24 or 32
    bool alpha = false;     // a 32-bit result carries alpha
    bool grey = false;      // palette made as a grey ramp of 2^bit_depth levels
    int transparent = -1;   // palette or grey index that tRNS makes fully transparent
    bool reduced16 = false; // 16-bit samples were reduced to 8
    png_colorp palette = nullptr;
    int palette_entries = 0;
};

// Reads the header and sets up the transformations. False on a libpng error.
bool read_header(png_structp png, png_infop info, png_layout &l)
{
    if (setjmp(png_jmpbuf(png)))
        return false;
    png_read_info(png, info);
    png_get_IHDR(png, info, &l.width, &l.height, &l.bit_depth, &l.colour_type, nullptr, nullptr, nullptr);
    png_bytep trans_alpha = nullptr;
    int trans_count = 0;
    png_color_16p trans_colour = nullptr;
    const bool has_trns = png_get_tRNS(png, info, &trans_alpha, &trans_count, &trans_colour) != 0;
    if (l.bit_depth == 16) {
        png_set_strip_16(png);
        l.reduced16 = true;
    }
    png_set_interlace_handling(png);
    // Colour rows come blue-green-red, as the bitmap layout has them, alpha fourth where there is
    // any; a tRNS colour becomes alpha.
    const auto colour_layout = [&](bool alpha) {
        png_set_bgr(png);
        if (has_trns)
            png_set_tRNS_to_alpha(png);
        l.depth = alpha ? 32 : 24;
        l.alpha = alpha;
    };
    switch (l.colour_type) {
    case PNG_COLOR_TYPE_PALETTE: {
        // One fully transparent entry among opaque ones is a GIF-style transparent index; any other
        // use of tRNS needs real alpha.
        int clear = -1;
        bool simple = true;
        for (int i = 0; has_trns && i < trans_count; ++i) {
            if (trans_alpha[i] == 0 && clear < 0)
                clear = i;
            else if (trans_alpha[i] != 255)
                simple = false;
        }
        if (simple) {
            png_get_PLTE(png, info, &l.palette, &l.palette_entries);
            png_set_packing(png);
            l.transparent = clear;
            l.depth = l.bit_depth == 1 ? 1 : l.bit_depth <= 4 ? 4 : 8;
            break;
        }
        png_set_palette_to_rgb(png);
        colour_layout(true);
        break;
    }
    case PNG_COLOR_TYPE_GRAY:
        if (l.bit_depth <= 8) {
            png_set_packing(png);
            l.grey = true;
            l.depth = l.bit_depth == 1 ? 1 : l.bit_depth <= 4 ? 4 : 8;
            if (has_trns && trans_colour != nullptr && trans_colour->gray < (1u << l.bit_depth))
                l.transparent = trans_colour->gray;
            break;
        }
        png_set_gray_to_rgb(png);
        colour_layout(has_trns);
        break;
    case PNG_COLOR_TYPE_GRAY_ALPHA:
        png_set_gray_to_rgb(png);
        colour_layout(true);
        break;
    case PNG_COLOR_TYPE_RGB:
        colour_layout(has_trns);
        break;
    case PNG_COLOR_TYPE_RGB_ALPHA:
        colour_layout(true);
        break;
    default:
        png_error(png, "unknown PNG colour type");
    }
    png_read_update_info(png, info);
    return true;
}

bool read_all_rows(png_structp png, png_infop info, png_bytepp rows)
{
    if (setjmp(png_jmpbuf(png)))
        return false;
    png_read_image(png, rows);
    png_read_end(png, info);
    return true;
}

struct read_handles {
    png_structp png = nullptr;
    png_infop info = nullptr;
    ~read_handles() { png_destroy_read_struct(&png, &info, nullptr); }
};

// Packs one byte per pixel (from png_set_packing) back into 1- or 4-bit rows, in place.
void pack_row(uint8_t *row, int32_t width, int depth)
{
    if (depth == 8)
        return;
    for (int32_t x = 0; x < width; ++x) {
        const uint8_t v = row[x];
        if (depth == 4)
            row[x / 2] = static_cast<uint8_t>(x % 2 == 0 ? v << 4 : (row[x / 2] & 0xF0) | v);
        else
            row[x / 8] = static_cast<uint8_t>(x % 8 == 0 ? v << 7 : row[x / 8] | v << (7 - x % 8));
    }
}

struct write_handles {
    png_structp png = nullptr;
    png_infop info = nullptr;
    ~write_handles() { png_destroy_write_struct(&png, &info); }
};

struct png_plan {
    int colour_type = PNG_COLOR_TYPE_RGB;
    int bit_depth = 8;
    png_color palette[256] = {};
    int palette_entries = 0;
    png_byte trans[256] = {};
    int trans_entries = 0;
    bool strip_filler = false;
};

bool write_all_rows(png_structp png, png_infop info, const png_plan &plan, const picture &image,
                    const uint8_t *const *rows, const std::function<void(double)> &progress)
{
    if (setjmp(png_jmpbuf(png)))
        return false;
    png_set_IHDR(png, info, static_cast<png_uint_32>(image.width), static_cast<png_uint_32>(image.height),
                 plan.bit_depth, plan.colour_type, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
                 PNG_FILTER_TYPE_DEFAULT);
    if (plan.colour_type == PNG_COLOR_TYPE_PALETTE)
        png_set_PLTE(png, info, plan.palette, plan.palette_entries);
    if (plan.trans_entries > 0)
        png_set_tRNS(png, info, plan.trans, plan.trans_entries, nullptr);
    png_write_info(png, info);
    if (image.depth >= 24)
        png_set_bgr(png);
    if (plan.strip_filler)
        png_set_filler(png, 0, PNG_FILLER_AFTER);
    for (int32_t y = 0; y < image.height; ++y) {
        png_write_row(png, rows[y]);
        if (progress && (y + 1) % 64 == 0)
            progress(static_cast<double>(y + 1) / image.height);
    }
    if (progress)
        progress(1.0);
    png_write_end(png, info);
    return true;
}

} // namespace

namespace
{

// Reads rows one at a time; false on a libpng error.
bool read_some_rows(png_structp png, png_bytepp rows, int32_t count)
{
    if (setjmp(png_jmpbuf(png)))
        return false;
    for (int32_t y = 0; y < count; ++y)
        png_read_row(png, rows[y], nullptr);
    return true;
}

// A PNG file read through libpng. Rows that are not interlaced come a band at a time as they are
// asked for; an interlaced image is only complete after its last pass, so it is read whole.
class png_reader final : public row_source
{
  public:
    png_reader(std::unique_ptr<png_context> context, sample_meaning *fourth, std::function<void(double)> progress)
        : context_(std::move(context)), progress_(std::move(progress))
    {
        h_.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, context_.get(), on_error, on_warning);
        if (h_.png == nullptr || (h_.info = png_create_info_struct(h_.png)) == nullptr)
            throw failure("out of memory");
        png_set_read_fn(h_.png, context_.get(), read_bytes);
        png_set_user_limits(h_.png, static_cast<png_uint_32>(max_image_side), static_cast<png_uint_32>(max_image_side));
        if (!read_header(h_.png, h_.info, l_))
            throw failure(std::string("not a readable PNG file (") + context_->message + ")");
        if (int64_t{l_.width} * l_.height > max_image_pixels)
            throw failure("PNG image is too large");
        interlaced_ = png_get_interlace_type(h_.png, h_.info) != PNG_INTERLACE_NONE;
        shape_.width = static_cast<int32_t>(l_.width);
        shape_.height = static_cast<int32_t>(l_.height);
        shape_.depth = l_.depth;
        if (l_.grey) {
            const int levels = 1 << l_.bit_depth;
            for (int i = 0; i < (1 << l_.depth); ++i) {
                const auto v = static_cast<uint8_t>(i < levels ? 255 * i / (levels - 1) : 0);
                shape_.palette.push_back(colour{v, v, v});
            }
        } else if (l_.palette != nullptr) {
            for (int i = 0; i < l_.palette_entries; ++i)
                shape_.palette.push_back(colour{l_.palette[i].red, l_.palette[i].green, l_.palette[i].blue});
        }
        shape_.transparent_index = l_.transparent;
        if (l_.reduced16)
            warn("16-bit PNG samples reduced to 8 bits");
        if (fourth != nullptr)
            *fourth = l_.alpha ? sample_meaning::unassociated_alpha : sample_meaning::unspecified;
    }
    ~png_reader() override
    {
        if (context_->stream != nullptr)
            std::fclose(context_->stream);
    }
    png_reader(const png_reader &) = delete;
    png_reader &operator=(const png_reader &) = delete;

    void read_rows(int32_t first, int32_t count, picture &band, int32_t at) override
    {
        if (interlaced_) {
            if (whole_.pixels.empty())
                whole_ = read_all_passes();
            for (int32_t y = 0; y < count; ++y)
                std::memcpy(band.row(at + y), whole_.row(first + y), band.stride());
            return;
        }
        // Rows of one byte per pixel need room before packing: a scratch band at 8 bits.
        const bool packed = l_.depth < 8;
        const int32_t step = count == shape_.height ? std::max<int32_t>(1, count / 100) : count;
        for (int32_t done = 0; done < count; done += step) {
            const int32_t n = std::min(step, count - done);
            if (packed && scratch_.height < n)
                scratch_ = make_picture(shape_.width, n, 8);
            std::vector<png_bytep> rows(static_cast<std::size_t>(n));
            for (int32_t y = 0; y < n; ++y)
                rows[static_cast<std::size_t>(y)] = packed ? scratch_.row(y) : band.row(at + done + y);
            if (!read_some_rows(h_.png, rows.data(), n))
                throw failure(std::string("PNG image data: ") + context_->message);
            if (packed)
                for (int32_t y = 0; y < n; ++y) {
                    pack_row(scratch_.row(y), shape_.width, l_.depth);
                    std::memcpy(band.row(at + done + y), scratch_.row(y), band.stride());
                }
            // Progress is told for a whole read; a band's caller tells its own.
            if (progress_ && count == shape_.height)
                progress_(static_cast<double>(done + n) / count);
        }
    }

    [[nodiscard]] picture take_all() override
    {
        if (interlaced_ && whole_.pixels.empty())
            return read_all_passes();
        return row_source::take_all();
    }

  private:
    picture read_all_passes()
    {
        picture image = make_picture(shape_.width, shape_.height, shape_.depth);
        image.palette = shape_.palette;
        image.transparent_index = shape_.transparent_index;
        const bool packed = l_.depth < 8;
        picture scratch = packed ? make_picture(image.width, image.height, 8) : picture{};
        picture &target = packed ? scratch : image;
        std::vector<png_bytep> rows(l_.height);
        for (png_uint_32 y = 0; y < l_.height; ++y)
            rows[y] = target.row(static_cast<int32_t>(y));
        if (!read_all_rows(h_.png, h_.info, rows.data()))
            throw failure(std::string("PNG image data: ") + context_->message);
        if (packed)
            for (int32_t y = 0; y < image.height; ++y) {
                pack_row(scratch.row(y), image.width, l_.depth);
                std::memcpy(image.row(y), scratch.row(y), image.stride());
            }
        if (progress_)
            progress_(1.0);
        return image;
    }

    std::unique_ptr<png_context> context_; // libpng keeps its address
    read_handles h_;
    png_layout l_;
    bool interlaced_ = false;
    std::function<void(double)> progress_;
    picture whole_;
    picture scratch_;
};

} // namespace

picture read_png(std::span<const uint8_t> file, sample_meaning *fourth, std::function<void(double)> progress)
{
    auto context = std::make_unique<png_context>();
    context->input = file;
    png_reader reader(std::move(context), fourth, std::move(progress));
    return reader.take_all();
}

std::unique_ptr<row_source> open_png(std::FILE *stream, sample_meaning *fourth, std::function<void(double)> progress)
{
    auto context = std::make_unique<png_context>();
    context->stream = stream;
    try {
        return std::make_unique<png_reader>(std::move(context), fourth, std::move(progress));
    } catch (...) {
        // A reader that was never made has not taken the file over.
        std::fclose(stream);
        throw;
    }
}

std::vector<uint8_t> write_png(const picture &image, sample_meaning fourth, const std::function<void(double)> &progress)
{
    const int depth = image.depth;
    if (depth != 1 && depth != 4 && depth != 8 && depth != 24 && depth != 32)
        throw failure(std::to_string(depth) + "-bit images cannot be written as PNG");
    png_plan plan;
    picture unassociated;
    const picture *source = &image;
    if (depth <= 8) {
        plan.bit_depth = depth;
        if (is_grey_palette(image) && image.transparent_index < 0) {
            plan.colour_type = PNG_COLOR_TYPE_GRAY;
        } else {
            plan.colour_type = PNG_COLOR_TYPE_PALETTE;
            plan.palette_entries = 1 << depth;
            for (int i = 0; i < plan.palette_entries; ++i) {
                const colour c = static_cast<std::size_t>(i) < image.palette.size()
                                     ? image.palette[static_cast<std::size_t>(i)]
                                     : colour{};
                plan.palette[i] = png_color{c.red, c.green, c.blue};
            }
            if (image.transparent_index >= 0 && image.transparent_index < plan.palette_entries) {
                plan.trans_entries = image.transparent_index + 1;
                std::memset(plan.trans, 255, sizeof plan.trans);
                plan.trans[image.transparent_index] = 0;
            }
        }
    } else if (depth == 24) {
        plan.colour_type = PNG_COLOR_TYPE_RGB;
    } else if (fourth == sample_meaning::unspecified) {
        plan.colour_type = PNG_COLOR_TYPE_RGB; // a bitmap's fourth byte is padding
        plan.strip_filler = true;
    } else {
        plan.colour_type = PNG_COLOR_TYPE_RGB_ALPHA;
        if (fourth == sample_meaning::associated_alpha) {
            // PNG alpha is unassociated: divide the colours by alpha again.
            unassociated = image;
            for (int32_t y = 0; y < image.height; ++y) {
                uint8_t *p = unassociated.row(y);
                for (int32_t x = 0; x < image.width; ++x, p += 4)
                    if (p[3] != 0 && p[3] != 255)
                        for (int c = 0; c < 3; ++c)
                            p[c] = static_cast<uint8_t>(std::min(255, (p[c] * 255 + p[3] / 2) / p[3]));
            }
            source = &unassociated;
        }
    }
    std::vector<uint8_t> out;
    png_context context;
    context.output = &out;
    write_handles h;
    h.png = png_create_write_struct(PNG_LIBPNG_VER_STRING, &context, on_error, on_warning);
    if (h.png == nullptr || (h.info = png_create_info_struct(h.png)) == nullptr)
        throw failure("out of memory");
    png_set_write_fn(h.png, &context, write_bytes, flush_nothing);
    std::vector<const uint8_t *> rows(static_cast<std::size_t>(image.height));
    for (int32_t y = 0; y < image.height; ++y)
        rows[static_cast<std::size_t>(y)] = source->row(y);
    if (!write_all_rows(h.png, h.info, plan, *source, rows.data(), progress))
        throw failure(std::string("PNG writing failed: ") + context.message);
    return out;
}

} // namespace orveln1::tool
