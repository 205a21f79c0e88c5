// SPDX-License-Identifier: MIT
// GIF reading and writing: a walk over every record of a stream, orveln1's decoder for the image
// data (which tells how far it went and why it stopped), and orveln1's encoder with truecolour
// pictures reduced to a palette first.
#include "gif_file.hpp"

#include <algorithm>
#include <cstring>
#include <unordered_map>

#include "bmp_file.hpp"
#include "quantise.hpp"
#include "tool_error.hpp"

namespace orveln1::tool
{
namespace
{

// GIF colour tables hold at most 2^8 entries.
constexpr std::size_t gif_max_colours = 256;
// LZW code sizes that GIF image data can have: 2 to 8 bits of pixel value (1-bit pictures use 2).
constexpr int lowest_code_size = 2;
constexpr int highest_code_size = 8;

// One image of the stream as the tool works with it: the reader's record, whose spans point into
// the stream's bytes (which every caller of walk holds for as long as the walk), and the bytes its
// data sub-blocks hold.
struct gif_image_record {
    gif_image image;
    std::size_t data_bytes = 0;

    [[nodiscard]] int min_code_size() const { return (image.code_size_word >> 8) & 0xFF; }
    [[nodiscard]] std::size_t table_entries() const { return image.colour_table.size() / 3; }
};

struct gif_walk {
    int32_t screen_width = 0;
    int32_t screen_height = 0;
    std::size_t global_entries = 0;
    std::vector<gif_image_record> images;
    bool no_trailer = false; // the stream ends after its last image's data, without the trailer
    std::string damage;      // why the reader stopped early; empty when it reached the trailer
};

// Every image of the stream through the library's stream reader; a damaged stream keeps the images
// that came before the damage.
gif_walk walk(std::span<const uint8_t> f)
{
    const result<gif_stream> stream = read_gif_stream(f);
    gif_walk w;
    w.screen_width = stream.value.screen_width;
    w.screen_height = stream.value.screen_height;
    w.global_entries = stream.value.global_colour_table.size() / 3;
    for (const gif_image &image : stream.value.images) {
        gif_image_record r;
        r.image = image;
        for (const std::span<const uint8_t> piece : gif_sub_block_contents(image.sub_blocks))
            r.data_bytes += piece.size();
        w.images.push_back(std::move(r));
    }
    if (stream.ok())
        return w;
    const bool last_complete = !stream.value.images.empty() && stream.value.images.back().data_complete;
    if (stream.code == ORVELN1_ERR_GIF_TRUNCATED && last_complete)
        w.no_trailer = true;
    else if (stream.code == ORVELN1_ERR_GIF_TRUNCATED)
        w.damage = stream.value.images.empty() ? "the file ends before the first image's data"
                                               : "the file ends inside the image data";
    else if (stream.code == ORVELN1_ERR_GIF_BAD_RECORD)
        w.damage = "a byte that begins no known record at offset " + std::to_string(stream.value.bytes_read);
    else
        w.damage = error_text(stream.code);
    return w;
}

struct decode_outcome {
    result<gif_decoded> decoded;
    std::string problem; // empty when every row came out
    int32_t rows_complete = 0;
};

decode_outcome decode_image(const gif_image_record &r)
{
    decode_outcome o;
    const int32_t width = r.image.width;
    const int32_t height = r.image.height;
    const int min_code_size = r.min_code_size();
    if (width < 1 || height < 1) {
        o.problem = "image of " + std::to_string(width) + "x" + std::to_string(height) + " has no pixels";
        return o;
    }
    if (int64_t{width} * height > max_image_pixels) {
        o.problem = "image is too large";
        return o;
    }
    if (min_code_size < lowest_code_size || min_code_size > highest_code_size) {
        o.problem = "LZW minimum code size " + std::to_string(min_code_size) + " lies outside " +
                    std::to_string(lowest_code_size) + " to " + std::to_string(highest_code_size);
        return o;
    }
    // Data without a clear code in front is read from the state a clear code leaves, as other
    // readers take it.
    o.decoded = decode_gif_data(r.image.data(), gif_decode_options{.start_cleared = true});
    if (o.decoded.code == ORVELN1_ERR_NO_MEMORY) {
        o.problem = "out of memory";
        return o;
    }
    if (!o.decoded.ok()) {
        o.problem = "the image data cannot be decoded";
        return o;
    }
    o.rows_complete = o.decoded.value.rows_delivered;
    if (o.rows_complete < height)
        o.problem = o.decoded.value.stop == gif_stop::unknown_code
                        ? "code above the next free code at row " + std::to_string(o.decoded.value.stop_pixel / width)
                        : "the image data ends after " + std::to_string(o.rows_complete) + " of " +
                              std::to_string(height) + " rows";
    return o;
}

// Small colour tables give 1- or 4-bit pictures, as long as every pixel lies inside the table.
picture narrowed(picture indices)
{
    uint8_t highest = 0;
    for (int32_t y = 0; y < indices.height; ++y)
        for (int32_t x = 0; x < indices.width; ++x)
            highest = std::max(highest, indices.row(y)[x]);
    const std::size_t entries = indices.palette.size();
    const int depth = entries <= 2 && highest < 2 ? 1 : entries <= 16 && highest < 16 ? 4 : 8;
    if (depth == 8)
        return indices;
    picture packed = make_picture(indices.width, indices.height, depth);
    packed.palette = indices.palette;
    packed.transparent_index = indices.transparent_index;
    for (int32_t y = 0; y < indices.height; ++y) {
        const uint8_t *src = indices.row(y);
        uint8_t *dst = packed.row(y);
        for (int32_t x = 0; x < indices.width; ++x) {
            if (depth == 4)
                dst[x / 2] |= static_cast<uint8_t>(x % 2 == 0 ? src[x] << 4 : src[x]);
            else
                dst[x / 8] |= static_cast<uint8_t>(src[x] << (7 - x % 8));
        }
    }
    return packed;
}

// A 1- or 4-bit picture as 8 bits, one index a byte.
picture widened(const picture &image)
{
    picture out = make_picture(image.width, image.height, 8);
    out.palette = image.palette;
    out.transparent_index = image.transparent_index;
    for (int32_t y = 0; y < image.height; ++y) {
        const uint8_t *src = image.row(y);
        uint8_t *dst = out.row(y);
        for (int32_t x = 0; x < image.width; ++x)
            dst[x] = static_cast<uint8_t>(image.depth == 4 ? (x % 2 == 0 ? src[x / 2] >> 4 : src[x / 2] & 15)
                                                           : (src[x / 8] >> (7 - x % 8)) & 1);
    }
    return out;
}

std::string plural(uint64_t n, const char *one, const char *many)
{
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

} // namespace

picture to_palette(const picture &image)
{
    const std::size_t step = static_cast<std::size_t>(image.depth / 8);
    picture out = make_picture(image.width, image.height, 8);
    out.transparent_index = image.transparent_index;
    std::unordered_map<uint32_t, uint8_t> index;
    uint32_t last_key = 0xFFFFFFFF;
    uint8_t last_index = 0;
    for (int32_t y = 0; y < image.height; ++y) {
        const uint8_t *row = image.row(y);
        uint8_t *dst = out.row(y);
        for (int32_t x = 0; x < image.width; ++x) {
            const uint8_t *p = row + static_cast<std::size_t>(x) * step;
            const uint32_t key = static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[1]) << 8 | p[0];
            if (key != last_key) {
                auto found = index.find(key);
                if (found == index.end()) {
                    if (index.size() == gif_max_colours)
                        throw failure("image has more than 256 colours; GIF holds at most 256");
                    found = index.emplace(key, static_cast<uint8_t>(index.size())).first;
                    out.palette.push_back(colour{p[2], p[1], p[0]});
                }
                last_key = key;
                last_index = found->second;
            }
            dst[x] = last_index;
        }
    }
    return out;
}

std::vector<uint8_t> write_gif(const picture &image, const gif_write_options &options)
{
    if (image.width > 65535 || image.height > 65535)
        throw failure("image of " + std::to_string(image.width) + "x" + std::to_string(image.height) +
                      " is too large for GIF (65535 at most each way)");
    picture reduced;
    const picture *source = &image;
    if (image.depth == 24 || image.depth == 32) {
        try {
            reduced = to_palette(image);
            if (static_cast<int>(reduced.palette.size()) > options.colours)
                throw failure("more colours than asked for");
        } catch (const failure &) {
            if (options.exact)
                throw failure("image has more than " + std::to_string(options.exact ? 256 : options.colours) +
                              " colours; GIF holds at most 256 (without --exact they are reduced)");
            reduced = quantise(image, options.colours, options.dither, options.progress);
            note("reduced to " + std::to_string(reduced.palette.size()) + " colours by median cut" +
                 (options.dither ? " with Floyd-Steinberg error diffusion" : ""));
        }
        source = &reduced;
        if (image.depth == 32 && options.fourth != sample_meaning::unspecified)
            warn("GIF has no alpha channel: the alpha samples are dropped");
    }
    picture marked;
    if (options.transparent >= 0 || source->transparent_index >= 0) {
        marked = *source;
        if (options.transparent >= 0)
            marked.transparent_index = options.transparent;
        // An index past what a 4-bit table holds needs the 8-bit one.
        if (marked.transparent_index >= (1 << std::max(marked.depth, 4)))
            marked = widened(marked);
        source = &marked;
    }
    result<byte_vector> r = encode_gif_file(*source, options.interlaced);
    if (!r.ok())
        throw failure("GIF encoding failed: " + error_text(r.code));
    if (options.progress)
        options.progress(1.0);
    return std::move(r.value);
}

picture read_gif(std::span<const uint8_t> file, int image, int *images, const std::function<void(double)> &progress)
{
    gif_walk s = walk(file);
    if (images != nullptr)
        *images = static_cast<int>(s.images.size());
    if (s.images.empty())
        throw failure(s.damage.empty() || s.damage == error_text(ORVELN1_ERR_GIF_NO_IMAGE)
                          ? std::string("GIF without an image")
                          : "damaged GIF: " + s.damage);
    if (image < 0 || static_cast<std::size_t>(image) >= s.images.size())
        throw failure("the file has " + plural(s.images.size(), "image", "images") +
                      " (numbered from 0); there is no image " + std::to_string(image));
    const gif_image_record &r = s.images[static_cast<std::size_t>(image)];
    decode_outcome o = decode_image(r);
    if (!o.problem.empty())
        throw failure("image " + std::to_string(image) + ": " + o.problem);
    if (progress)
        progress(1.0);
    if (!o.decoded.value.leading_clear_code)
        note("image data does not begin with a clear code; read behind a clear code put in front");

    picture &indices = o.decoded.value.image;
    indices.palette = r.image.palette();
    const int transparent = r.image.transparent_index;
    indices.transparent_index = transparent;
    if (transparent >= 0 && static_cast<std::size_t>(transparent) >= r.table_entries()) {
        warn("transparent index " + std::to_string(transparent) + " lies outside the " +
             std::to_string(r.table_entries()) + "-colour table; transparency dropped");
        indices.transparent_index = -1;
    }
    return narrowed(std::move(indices));
}

bool describe_gif(std::span<const uint8_t> file, std::FILE *out)
{
    const gif_walk s = walk(file);
    if (s.screen_width == 0 && s.images.empty() && !s.damage.empty()) {
        std::fprintf(out, "  damaged: %s\n", s.damage.c_str());
        return false;
    }
    std::fprintf(out, "  screen: %dx%d; %s; %s\n", s.screen_width, s.screen_height,
                 s.global_entries > 0
                     ? ("global colour table of " + std::to_string(s.global_entries) + " entries").c_str()
                     : "no global colour table",
                 plural(s.images.size(), "image", "images").c_str());
    // A stream that stops after its last complete image, without the trailer byte, still reads.
    const bool no_trailer = s.no_trailer;
    bool good = s.damage.empty();
    for (std::size_t i = 0; i < s.images.size(); ++i) {
        const gif_image_record &r = s.images[i];
        const gif_image &g = r.image;
        std::string transparency = "none";
        if (g.transparent_index >= 0)
            transparency =
                "index " + std::to_string(g.transparent_index) +
                (static_cast<std::size_t>(g.transparent_index) >= r.table_entries() ? " (outside the table)" : "");
        std::fprintf(
            out, "  image %zu: %dx%d at %d,%d; %s; %s; transparency: %s\n", i, g.width, g.height, g.left, g.top,
            g.local_colour_table ? ("local colour table of " + std::to_string(r.table_entries()) + " entries").c_str()
            : r.table_entries() == 0 ? "no colour table"
                                     : "global colour table",
            g.interlaced ? "interlaced" : "not interlaced", transparency.c_str());
        const decode_outcome o = decode_image(r);
        const uint64_t pixels = static_cast<uint64_t>(g.width) * static_cast<uint64_t>(g.height);
        char ratio[32] = "-";
        if (r.data_bytes > 0)
            std::snprintf(ratio, sizeof ratio, "%.2f:1",
                          static_cast<double>(pixels) / static_cast<double>(r.data_bytes));
        std::fprintf(
            out,
            "    LZW: minimum code size %d; %llu pixel bytes -> %zu bytes, ratio %s; %d of %d rows complete%s%s%s\n",
            r.min_code_size(), static_cast<unsigned long long>(pixels), r.data_bytes, ratio, o.rows_complete, g.height,
            !o.decoded.value.leading_clear_code ? "; image data does not begin with a clear code" : "",
            o.problem.empty() ? "" : "; ", o.problem.c_str());
        good = good && o.problem.empty();
    }
    if (no_trailer)
        std::fprintf(out, "  no trailer after the last image\n");
    else if (!s.damage.empty())
        std::fprintf(out, "  damaged: %s\n", s.damage.c_str());
    return good;
}

} // namespace orveln1::tool
