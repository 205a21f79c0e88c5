// SPDX-License-Identifier: MIT
// encode_gif and encode_gifi as a host reaches them through the shared module: missing callbacks
// and unserved images refused before any callback, a refused row ending the stream (what they write
// is read back by Pillow in peer/).
#include <gtest/gtest.h>

#include "orveln1.h"
#include "support/test_host.hpp"

using namespace orveln1::test;

namespace
{

using encoder = int32_t(ORVELN1_CALL *)(int32_t, const void *, orveln1_get_row_fn, int32_t);

class gif_export : public ::testing::TestWithParam<int>
{
  protected:
    encoder encode() const { return GetParam() != 0 ? &encode_gifi : &encode_gif; }
};

TEST_P(gif_export, RefusesMissingCallbacksAndUnservedImages)
{
    test_image image = make_image(3, 3, 8, image_kind::flat);
    test_host host(image);
    std::vector<uint8_t> header = image.header();
    set_callbacks(nullptr, nullptr, 0, nullptr);
    EXPECT_EQ(encode()(host.handle(), header.data(), &test_host::get_row, host.handle()), ORVELN1_ERR_NO_CALLBACK);
    set_callbacks(nullptr, &test_host::write, 0, nullptr);
    EXPECT_EQ(encode()(host.handle(), header.data(), nullptr, host.handle()), ORVELN1_ERR_NO_CALLBACK);
    header[14] = 24;
    EXPECT_EQ(encode()(host.handle(), header.data(), &test_host::get_row, host.handle()),
              ORVELN1_ERR_UNSUPPORTED_DEPTH);
    header[14] = 8;
    header[6] = 1; // width 65539
    EXPECT_EQ(encode()(host.handle(), header.data(), &test_host::get_row, host.handle()), ORVELN1_ERR_BAD_DATA);
    EXPECT_TRUE(host.events.empty());
    header[6] = 0;
    host.fail_get_row_at = 2;
    EXPECT_EQ(encode()(host.handle(), header.data(), &test_host::get_row, host.handle()), ORVELN1_ERR_WRITE);
}

INSTANTIATE_TEST_SUITE_P(gif_export, gif_export, ::testing::Values(0, 1));

} // namespace
