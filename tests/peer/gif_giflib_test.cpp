// SPDX-License-Identifier: MIT
// giflib as the peer both ways: GIFs that giflib's encoder writes, at every colour depth, plain and
// interlaced, decode to exactly the pixels giflib was given; every stream the GIF writer makes
// (depths, sizes from one pixel to the largest width, flat to noisy, plain and interlaced) reads back
// through giflib to exactly its pixels.
#include <gtest/gtest.h>

#include <gif_lib.h>
#include <tuple>

#include "orveln1.h"
#include "orveln1.hpp"
#include "support/code_streams.hpp"
#include "support/codec_runs.hpp"
#include "support/giflib_reader.hpp"

using namespace orveln1;
using namespace orveln1::test;

namespace
{

int write_to_vector(GifFileType *gif, const GifByteType *bytes, int count)
{
    auto *out = static_cast<std::vector<uint8_t> *>(gif->UserData);
    out->insert(out->end(), bytes, bytes + count);
    return count;
}

// A whole GIF written by giflib line by line (in pass order when interlaced).
std::vector<uint8_t> giflib_write(const std::vector<uint8_t> &pixels, int width, int height, int colour_bits,
                                  bool interlaced)
{
    std::vector<uint8_t> out;
    int error = 0;
    GifFileType *gif = EGifOpen(&out, write_to_vector, &error);
    EXPECT_NE(gif, nullptr);
    if (gif == nullptr)
        return out;
    std::vector<GifColorType> colours(static_cast<std::size_t>(1) << colour_bits);
    for (std::size_t i = 0; i < colours.size(); ++i)
        colours[i] = GifColorType{static_cast<GifByteType>(i), static_cast<GifByteType>(i * 3),
                                  static_cast<GifByteType>(255 - i)};
    ColorMapObject *map = GifMakeMapObject(static_cast<int>(colours.size()), colours.data());
    EXPECT_EQ(EGifPutScreenDesc(gif, width, height, colour_bits, 0, map), GIF_OK);
    EXPECT_EQ(EGifPutImageDesc(gif, 0, 0, width, height, interlaced, nullptr), GIF_OK);
    std::vector<GifPixelType> line(static_cast<std::size_t>(width));
    for (const int32_t r : interlace_order(height, interlaced)) {
        std::copy_n(pixels.begin() + static_cast<std::ptrdiff_t>(r) * width, width, line.begin());
        EXPECT_EQ(EGifPutLine(gif, line.data(), width), GIF_OK);
    }
    EXPECT_EQ(EGifCloseFile(gif, &error), GIF_OK);
    GifFreeMapObject(map);
    return out;
}

using peer_case = std::tuple<int, bool, image_kind, std::pair<int, int>>; // colour bits, interlaced, kind, size
using gif_giflib_peer = testing::TestWithParam<peer_case>;

TEST_P(gif_giflib_peer, DecodesToGiflibsPixels)
{
    const auto [colour_bits, interlaced, kind, size] = GetParam();
    const auto [width, height] = size;
    const std::vector<uint8_t> pixels = make_pixels(kind, width, height, 1 << colour_bits, 5);
    const std::vector<uint8_t> file = giflib_write(pixels, width, height, colour_bits, interlaced);
    const result<gif_stream> stream = read_gif_stream(file);
    ASSERT_EQ(stream.code, 0);
    ASSERT_EQ(stream.value.images.size(), 1u);
    const gif_image &image = stream.value.images[0];
    EXPECT_EQ(image.interlaced, interlaced);
    EXPECT_EQ(image.code_size_word >> 8, colour_bits < 2 ? 2 : colour_bits);

    // Every depth whose layout can hold the colours.
    for (const int depth : {1, 4, 8}) {
        if (depth < colour_bits)
            continue;
        test_host host;
        host.input.assign(image.sub_blocks.begin(), image.sub_blocks.end());
        ASSERT_EQ(run_decode_gif(host, image_header(width, height, depth), image.code_size_word), 0);
        const std::vector<int32_t> indices = host.values('p');
        ASSERT_EQ(indices.size(), static_cast<std::size_t>(height));
        std::vector<int> seen(static_cast<std::size_t>(height), 0);
        for (std::size_t k = 0; k < indices.size(); ++k) {
            const int32_t row = indices[k];
            ASSERT_TRUE(row >= 0 && row < height);
            ASSERT_EQ(++seen[static_cast<std::size_t>(row)], 1);
            ASSERT_EQ(host.puts[k].bytes,
                      scan_line(pixels.data() + static_cast<std::ptrdiff_t>(row) * width, width, depth))
                << "depth " << depth << " row " << row;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(gif_giflib_peer, gif_giflib_peer,
                         testing::Combine(testing::Range(1, 9), testing::Bool(),
                                          testing::Values(image_kind::flat, image_kind::noise, image_kind::gradient),
                                          testing::Values(std::pair{1, 1}, std::pair{17, 9}, std::pair{300, 200},
                                                          std::pair{3000, 3})));

// A minimum code size of 1 (clear code 2, first free code 4, already 2^2): giflib widens right
// after the code that follows a clear code, and so does decode_gif.
TEST(gif_giflib_peer, RootSizeOneWidensLikeGiflib)
{
    const int width = 37, height = 23;
    const std::vector<uint8_t> pixels = make_pixels(image_kind::noise, width, height, 2, 11);
    gif_stream_builder built(width, height, 2);
    built.image(0, 0, width, height, false, 0, 1, sub_blocks(gif_reference_encode(pixels, 1))).trailer();
    const std::vector<uint8_t> &file = built.out;

    const giflib_result peer = decode_with_giflib(file);
    ASSERT_TRUE(peer.ok) << peer.error;
    const std::vector<uint8_t> &giflib_pixels = peer.pixels;
    EXPECT_EQ(giflib_pixels, pixels);

    const result<gif_stream> stream = read_gif_stream(file);
    ASSERT_EQ(stream.code, 0);
    ASSERT_EQ(stream.value.images.size(), 1u);
    const gif_image &image = stream.value.images[0];
    test_host host;
    host.input.assign(image.sub_blocks.begin(), image.sub_blocks.end());
    EXPECT_EQ(run_decode_gif(host, image_header(width, height, 8), image.code_size_word), 0);
    EXPECT_EQ(host.pixels(width), giflib_pixels);
}

// Our writer, giflib reading.
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
    const giflib_result peer = decode_with_giflib(host.output);
    ASSERT_TRUE(peer.ok) << peer.error;
    EXPECT_EQ(peer.width, image.width);
    EXPECT_EQ(peer.height, image.height);
    EXPECT_EQ(peer.interlaced, interlaced != 0);
    EXPECT_EQ(peer.transparent_index, image.transparent ? image.transparent_index : -1);
    ASSERT_EQ(peer.colour_count, 1 << depth);
    for (int i = 0; i < peer.colour_count; ++i) {
        ASSERT_EQ(peer.colours[static_cast<std::size_t>(3 * i)], test_image::red(i));
        ASSERT_EQ(peer.colours[static_cast<std::size_t>(3 * i + 2)], test_image::blue(i));
    }
    ASSERT_EQ(peer.pixels.size(), image.pixels.size());
    EXPECT_TRUE(peer.pixels == image.pixels);
}

INSTANTIATE_TEST_SUITE_P(gif_peer, gif_peer_giflib,
                         ::testing::Combine(::testing::Values(std::pair{1, 1}, std::pair{1, 3000}, std::pair{3000, 1},
                                                              std::pair{7, 5}, std::pair{13, 9}, std::pair{2, 2001},
                                                              std::pair{1000, 37}, std::pair{640, 480}),
                                            ::testing::Values(image_kind::flat, image_kind::noise, image_kind::gradient,
                                                              image_kind::stripes),
                                            ::testing::Values(4, 8), ::testing::Values(0, 1)));

TEST(gif_writer, LargestDimensionsAreWrittenInFull)
{
    const test_image image = make_image(65535, 2, 4, image_kind::stripes);
    test_host host(image);
    ASSERT_EQ(run_write_gif_stream(host, image, 1), 0);
    const giflib_result peer = decode_with_giflib(host.output);
    ASSERT_TRUE(peer.ok) << peer.error;
    EXPECT_EQ(peer.width, 65535);
    EXPECT_EQ(peer.pixels, image.pixels);
}

} // namespace
