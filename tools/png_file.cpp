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
    // Colour rows come blue-green-red, as the bitmap layout has them; a tRNS colour becomes alpha.
    const auto rgb_layout = [&](bool transparent_colour) {
        png_set_bgr(png);
        if (transparent_colour)
            png_set_tRNS_to_alpha(png);
        l.depth = transparent_colour ? 32 : 24;
        l.alpha = transparent_colour;
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
        png_set_tRNS_to_alpha(png);
        png_set_bgr(png);
        l.depth = 32;
        l.alpha = true;
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
        rgb_layout(has_trns);
        break;
    case PNG_COLOR_TYPE_GRAY_ALPHA:
        png_set_gray_to_rgb(png);
        png_set_bgr(png);
        l.depth = 32;
        l.alpha = true;
        break;
    case PNG_COLOR_TYPE_RGB:
        rgb_layout(has_trns);
        break;
    case PNG_COLOR_TYPE_RGB_ALPHA:
        png_set_bgr(png);
        l.depth = 32;
        l.alpha = true;
        break;
    default:
        png_error(png, "unknown PNG colour type");
    }
    png_read_update_info(png, info);
    return true;
}

bool read_rows(png_structp png, png_infop info, png_bytepp rows)
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
                    const uint8_t *const *rows)
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
    for (int32_t y = 0; y < image.height; ++y)
        png_write_row(png, rows[y]);
    png_write_end(png, info);
    return true;
}

} // namespace

namespace
{

picture read_png_from(png_context &context, sample_meaning *fourth)
{
    read_handles h;
    h.png = png_create_read_struct(PNG_LIBPNG_VER_STRING, &context, on_error, on_warning);
    if (h.png == nullptr || (h.info = png_create_info_struct(h.png)) == nullptr)
        throw failure("out of memory");
    png_set_read_fn(h.png, &context, read_bytes);
    png_set_user_limits(h.png, static_cast<png_uint_32>(max_image_side), static_cast<png_uint_32>(max_image_side));
    png_layout l;
    if (!read_header(h.png, h.info, l))
        throw failure(std::string("not a readable PNG file (") + context.message + ")");
    if (int64_t{l.width} * l.height > max_image_pixels)
        throw failure("PNG image is too large");

    picture image = make_picture(static_cast<int32_t>(l.width), static_cast<int32_t>(l.height), l.depth);
    // Rows of one byte per pixel need room before packing: a scratch picture at 8 bits.
    const bool packed = l.depth < 8;
    picture scratch = packed ? make_picture(image.width, image.height, 8) : picture{};
    picture &target = packed ? scratch : image;
    std::vector<png_bytep> rows(l.height);
    for (png_uint_32 y = 0; y < l.height; ++y)
        rows[y] = target.row(static_cast<int32_t>(y));
    if (!read_rows(h.png, h.info, rows.data()))
        throw failure(std::string("PNG image data: ") + context.message);
    if (packed)
        for (int32_t y = 0; y < image.height; ++y) {
            pack_row(scratch.row(y), image.width, l.depth);
            std::memcpy(image.row(y), scratch.row(y), image.stride());
        }
    if (l.grey) {
        const int levels = 1 << l.bit_depth;
        for (int i = 0; i < (1 << l.depth); ++i) {
            const auto v = static_cast<uint8_t>(i < levels ? 255 * i / (levels - 1) : 0);
            image.palette.push_back(colour{v, v, v});
        }
    } else if (l.palette != nullptr) {
        for (int i = 0; i < l.palette_entries; ++i)
            image.palette.push_back(colour{l.palette[i].red, l.palette[i].green, l.palette[i].blue});
    }
    image.transparent_index = l.transparent;
    if (l.reduced16)
        warn("16-bit PNG samples reduced to 8 bits");
    if (fourth != nullptr)
        *fourth = l.alpha ? sample_meaning::unassociated_alpha : sample_meaning::unspecified;
    return image;
}

} // namespace

picture read_png(std::span<const uint8_t> file, sample_meaning *fourth)
{
    png_context context;
    context.input = file;
    return read_png_from(context, fourth);
}

picture read_png(std::FILE *stream, sample_meaning *fourth)
{
    png_context context;
    context.stream = stream;
    return read_png_from(context, fourth);
}

std::vector<uint8_t> write_png(const picture &image, sample_meaning fourth)
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
    if (!write_all_rows(h.png, h.info, plan, *source, rows.data()))
        throw failure(std::string("PNG writing failed: ") + context.message);
    return out;
}

} // namespace orveln1::tool
