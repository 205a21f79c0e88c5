// SPDX-License-Identifier: MIT
// giflib as the reading peer: every stream the GIF writer makes, over depths, sizes from one pixel
// to thousands, flat to noisy content, plain and interlaced, reads back to exactly its pixels.
#include <gtest/gtest.h>

#include <tuple>

#include "gif/gif_stream_writer.hpp"
#include "support/gif_encode_host.hpp"

using namespace orveln1;
using namespace orveln1::gif_encode_test;

namespace
{

using peer_case = std::tuple<std::pair<int32_t, int32_t>, image_kind, int, int32_t>;

class gif_peer_giflib : public ::testing::TestWithParam<peer_case>
{
};

TEST_P(gif_peer_giflib, ReadsBackEveryPixel)
{
    const auto [size, kind, depth, interlaced] = GetParam();
    encode_image image = make_image(size.first, size.second, depth, kind, 5);
    image.transparent = (size.first + static_cast<int>(kind)) % 2 == 0;
    image.transparent_index = static_cast<uint8_t>((1 << depth) - 2);
    encode_host host(image);
    const std::vector<uint8_t> header = image.header();
    ASSERT_EQ(write_gif_stream(encode_host::callbacks(), host.handle(), header.data(), &encode_host::get_row,
                               host.handle(), interlaced),
              0);
    EXPECT_FALSE(host.bad_row_count);
    const giflib_result peer = decode_with_giflib(host.output);
    ASSERT_TRUE(peer.ok) << peer.error;
    EXPECT_EQ(peer.width, image.width);
    EXPECT_EQ(peer.height, image.height);
    EXPECT_EQ(peer.interlaced, interlaced != 0);
    EXPECT_EQ(peer.transparent_index, image.transparent ? image.transparent_index : -1);
    ASSERT_EQ(peer.colour_count, 1 << depth);
    for (int i = 0; i < peer.colour_count; ++i) {
        ASSERT_EQ(peer.colours[static_cast<std::size_t>(3 * i)], encode_image::red(i));
        ASSERT_EQ(peer.colours[static_cast<std::size_t>(3 * i + 2)], encode_image::blue(i));
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

} // namespace
