// SPDX-License-Identifier: MIT
// giflib as the peer both ways: what giflib writes, at every colour depth, plain and interlaced,
// decodes here to giflib's pixels; what the GIF writer makes (up to the largest width) reads back
// through giflib to its pixels.
#include <gtest/gtest.h>

#include <gif_lib.h>

#include <algorithm>
#include <cstring>
#include <tuple>

#include "orveln1.h"
#include "orveln1.hpp"
#include "support/code_streams.hpp"
#include "support/codec_runs.hpp"

using namespace orveln1;
using namespace orveln1::test;

namespace
{

using memory_source = std::pair<const std::vector<uint8_t> *, std::size_t>; // bytes, read position

// What giflib reads from a whole GIF in memory: the one image's width, height and interlace flag,
// the transparent index (-1: none), the global palette (red, green, blue) and the pixels, top row
// first; all zero or empty when giflib refuses the file.
using giflib_view = std::tuple<int, int, bool, int, std::vector<uint8_t>, std::vector<uint8_t>>;

giflib_view read_with_giflib(const std::vector<uint8_t> &gif)
{
    memory_source source{&gif, 0};
    int error = 0;
    GifFileType *file = DGifOpen(
        &source,
        [](GifFileType *f, GifByteType *buffer, int count) {
            auto *s = static_cast<memory_source *>(f->UserData);
            const std::size_t n = std::min(s->first->size() - s->second, static_cast<std::size_t>(count));
            std::memcpy(buffer, s->first->data() + s->second, n);
            s->second += n;
            return static_cast<int>(n);
        },
        &error);
    giflib_view r{0, 0, false, -1, {}, {}};
    if (file != nullptr && DGifSlurp(file) == GIF_OK && file->ImageCount == 1) {
        const GifImageDesc &d = file->SavedImages[0].ImageDesc;
        GraphicsControlBlock gcb{};
        std::vector<uint8_t> colours;
        for (int i = 0; file->SColorMap != nullptr && i < file->SColorMap->ColorCount; ++i)
            colours.insert(colours.end(), {file->SColorMap->Colors[i].Red, file->SColorMap->Colors[i].Green,
                                           file->SColorMap->Colors[i].Blue});
        // giflib's slurp reads an interlaced image's passes into their own rows, top row first.
        const GifByteType *pixels = file->SavedImages[0].RasterBits;
        r = {d.Width,     d.Height,
             d.Interlace, DGifSavedExtensionToGCB(file, 0, &gcb) == GIF_OK ? gcb.TransparentColor : -1,
             colours,     std::vector<uint8_t>(pixels, pixels + static_cast<std::ptrdiff_t>(d.Width) * d.Height)};
    }
    DGifCloseFile(file, &error);
    return r;
}

// A whole GIF written by giflib line by line (in pass order when interlaced).
std::vector<uint8_t> giflib_write(const std::vector<uint8_t> &pixels, int width, int height, int colour_bits,
                                  bool interlaced)
{
    std::vector<uint8_t> out;
    int error = 0;
    GifFileType *gif = EGifOpen(
        &out,
        [](GifFileType *g, const GifByteType *bytes, int count) {
            static_cast<std::vector<uint8_t> *>(g->UserData)
                ->insert(static_cast<std::vector<uint8_t> *>(g->UserData)->end(), bytes, bytes + count);
            return count;
        },
        &error);
    ColorMapObject *map = GifMakeMapObject(1 << colour_bits, nullptr); // all black: only the indices count
    EXPECT_EQ(EGifPutScreenDesc(gif, width, height, colour_bits, 0, map), GIF_OK);
    EXPECT_EQ(EGifPutImageDesc(gif, 0, 0, width, height, interlaced, nullptr), GIF_OK);
    auto *rows = const_cast<GifPixelType *>(pixels.data());
    for (const int32_t r : interlace_order(height, interlaced))
        EXPECT_EQ(EGifPutLine(gif, rows + static_cast<std::ptrdiff_t>(r) * width, width), GIF_OK);
    EXPECT_EQ(EGifCloseFile(gif, &error), GIF_OK);
    GifFreeMapObject(map);
    return out;
}

// The first image of a GIF file through the stream reader and decode_gif at depth 8.
void decode_first_image(const std::vector<uint8_t> &file, test_host &host)
{
    const result<gif_stream> stream = read_gif_stream(file);
    ASSERT_EQ(stream.code, 0);
    ASSERT_EQ(stream.value.images.size(), 1u);
    const gif_image &image = stream.value.images[0];
    host.input.assign(image.sub_blocks.begin(), image.sub_blocks.end());
    ASSERT_EQ(run_decode_gif(host, image_header(image.width, image.height, 8), image.code_size_word), 0);
}

using peer_case = std::tuple<int, bool, image_kind, std::pair<int, int>>; // colour bits, interlaced, kind, size
using gif_giflib_peer = testing::TestWithParam<peer_case>;

// Each row once, as giflib was given it (the packing at depths 1 and 4 is the unit tests' concern).
TEST_P(gif_giflib_peer, DecodesToGiflibsPixels)
{
    const auto [colour_bits, interlaced, kind, size] = GetParam();
    const auto [width, height] = size;
    const std::vector<uint8_t> pixels = make_pixels(kind, width, height, 1 << colour_bits, 5);
    test_host host;
    ASSERT_NO_FATAL_FAILURE(decode_first_image(giflib_write(pixels, width, height, colour_bits, interlaced), host));
    const std::vector<int32_t> indices = host.values('p');
    ASSERT_EQ(indices, interlace_order(height, interlaced));
    for (std::size_t k = 0; k < indices.size(); ++k)
        ASSERT_EQ(host.puts[k].bytes,
                  scan_line(pixels.data() + static_cast<std::ptrdiff_t>(indices[k]) * width, width, 8))
            << "row " << indices[k];
}

INSTANTIATE_TEST_SUITE_P(gif_giflib_peer, gif_giflib_peer,
                         testing::Combine(testing::Range(1, 9), testing::Bool(),
                                          testing::Values(image_kind::flat, image_kind::noise, image_kind::gradient),
                                          testing::Values(std::pair{1, 1}, std::pair{17, 9}, std::pair{300, 200},
                                                          std::pair{3000, 3})));

// Minimum code size 1 (clear 2, first free 4, already 2^2): giflib widens right after the code
// that follows a clear code, and so does decode_gif.
TEST(gif_giflib_peer, RootSizeOneWidensLikeGiflib)
{
    const int width = 37, height = 23;
    const std::vector<uint8_t> pixels = make_pixels(image_kind::noise, width, height, 2, 11);
    gif_stream_builder built(width, height, 2);
    built.image(0, 0, width, height, false, 0, 1, sub_blocks(gif_reference_encode(pixels, 1))).trailer();
    EXPECT_EQ(std::get<5>(read_with_giflib(built.out)), pixels);
    test_host host;
    ASSERT_NO_FATAL_FAILURE(decode_first_image(built.out, host));
    EXPECT_EQ(host.pixels(width), pixels);
}

// Our writer, giflib reading: geometry, interlace flag, transparency, palette and every pixel.
using writer_case = std::tuple<std::pair<int32_t, int32_t>, image_kind, int, int32_t>;
using gif_peer_giflib = ::testing::TestWithParam<writer_case>;

TEST_P(gif_peer_giflib, ReadsBackEveryPixel)
{
    const auto [size, kind, depth, interlaced] = GetParam();
    test_image image = make_image(size.first, size.second, depth, kind, 5);
    image.transparent = (size.first + static_cast<int>(kind)) % 2 == 0;
    image.transparent_index = static_cast<uint8_t>((1 << depth) - 2);
    test_host host;
    ASSERT_EQ(run_write_gif_stream(host, image, interlaced), 0);
    EXPECT_FALSE(host.bad_row_count);
    EXPECT_EQ(read_with_giflib(host.output),
              giflib_view(image.width, image.height, interlaced != 0, image.transparent ? image.transparent_index : -1,
                          test_image::colour_table(depth), image.pixels));
}

INSTANTIATE_TEST_SUITE_P(gif_peer, gif_peer_giflib,
                         ::testing::Combine(::testing::Values(std::pair{1, 1}, std::pair{1, 3000}, std::pair{3000, 1},
                                                              std::pair{7, 5}, std::pair{13, 9}, std::pair{2, 2001},
                                                              std::pair{1000, 37}, std::pair{640, 480},
                                                              std::pair{65535, 2}),
                                            ::testing::Values(image_kind::flat, image_kind::noise, image_kind::gradient,
                                                              image_kind::stripes),
                                            ::testing::Values(4, 8), ::testing::Values(0, 1)));

} // namespace
