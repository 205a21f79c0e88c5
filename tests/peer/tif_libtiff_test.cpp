// SPDX-License-Identifier: MIT
// TIFF strips against libtiff both ways: our strips read back through libtiff, libtiff's decode here.
#include <gtest/gtest.h>

#include <tiffio.h>

#include <unistd.h>

#include <cstdio>
#include <string>
#include <tuple>

#include "boundary/image_header.hpp"
#include "support/codec_runs.hpp"

using namespace orveln1;
using namespace orveln1::test;

namespace
{

// The one strip of an 8-bit grey image `row_bytes` wide through a file: our LZW strip stored raw and
// read back decoded by libtiff (decode), or bytes coded by libtiff and read back raw. Empty on refusal.
std::vector<uint8_t> through_libtiff(bool decode, const std::vector<uint8_t> &bytes, uint32_t row_bytes, uint32_t rows)
{
    TIFFSetWarningHandler(nullptr);
    TIFFSetErrorHandler(nullptr);
    // Named by process: two build trees may run the same case at the same time.
    static int serial = 0;
    const std::string path =
        ::testing::TempDir() + "orveln1_peer_" + std::to_string(getpid()) + "_" + std::to_string(++serial) + ".tif";
    TIFF *out = TIFFOpen(path.c_str(), "w");
    if (out == nullptr)
        return {};
    for (const auto &[tag, value] : {std::pair<ttag_t, uint32_t>{TIFFTAG_IMAGEWIDTH, row_bytes},
                                     {TIFFTAG_IMAGELENGTH, rows},
                                     {TIFFTAG_BITSPERSAMPLE, 8},
                                     {TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK},
                                     {TIFFTAG_COMPRESSION, COMPRESSION_LZW},
                                     {TIFFTAG_ROWSPERSTRIP, rows}})
        TIFFSetField(out, tag, value);
    auto *given = const_cast<uint8_t *>(bytes.data());
    const auto given_size = static_cast<tmsize_t>(bytes.size());
    decode ? TIFFWriteRawStrip(out, 0, given, given_size) : TIFFWriteEncodedStrip(out, 0, given, given_size);
    TIFFClose(out);
    TIFF *in = TIFFOpen(path.c_str(), "r");
    std::remove(path.c_str());
    if (in == nullptr)
        return {};
    std::vector<uint8_t> back(decode ? static_cast<std::size_t>(row_bytes) * rows
                                     : static_cast<std::size_t>(TIFFRawStripSize(in, 0)));
    const auto back_size = static_cast<tmsize_t>(back.size());
    const tmsize_t got =
        decode ? TIFFReadEncodedStrip(in, 0, back.data(), back_size) : TIFFReadRawStrip(in, 0, back.data(), back_size);
    TIFFClose(in);
    back.resize(got > 0 && (!decode || got == back_size) ? static_cast<std::size_t>(got) : 0);
    return back;
}

using peer_case = std::tuple<int, std::pair<int32_t, int32_t>, image_kind>; // depth, (width, rows), kind

using tif_peer = ::testing::TestWithParam<peer_case>;

TEST_P(tif_peer, LibtiffReadsOurStrips)
{
    const auto [depth, shape, kind] = GetParam();
    const auto [width, rows] = shape;
    // The 32-bit case also takes the red-blue exchange.
    const uint32_t compression = depth == 32 ? HEADER_COMPRESSION_SWAP_RB : 0;
    const auto padded = static_cast<std::size_t>(padded_row_bytes(width, depth));
    const auto meaningful = static_cast<std::size_t>(unpadded_row_bytes(width, depth));
    const std::vector<uint8_t> pixels =
        make_bytes(kind, padded * static_cast<std::size_t>(rows), static_cast<uint32_t>(width * 31 + depth));

    // What the strip must hold: each row's meaningful bytes, with 3- or 4-byte groups red first.
    std::vector<uint8_t> coded;
    const std::size_t group = depth == 24 ? 3 : depth == 32 ? 4 : 0;
    for (std::size_t at = 0; at < pixels.size(); at += padded) {
        coded.insert(coded.end(), pixels.begin() + static_cast<std::ptrdiff_t>(at),
                     pixels.begin() + static_cast<std::ptrdiff_t>(at + meaningful));
        for (std::size_t i = coded.size() - meaningful; group != 0 && i + 2 < coded.size(); i += group)
            std::swap(coded[i], coded[i + 2]);
    }

    test_host host;
    host.serve_bytes(pixels, padded);
    ASSERT_EQ(run_tif_compress(host, image_header(width, rows, depth, compression), rows), 0);
    EXPECT_TRUE(through_libtiff(true, host.output, static_cast<uint32_t>(meaningful), static_cast<uint32_t>(rows)) ==
                coded);
}

// Read with the row count and, in random pieces, to the end code.
TEST_P(tif_peer, WeDecodeLibtiffStrips)
{
    const auto [depth, shape, kind] = GetParam();
    const auto row_bytes = static_cast<uint32_t>(unpadded_row_bytes(shape.first, depth));
    const auto rows = static_cast<uint32_t>(shape.second);
    const std::vector<uint8_t> data =
        make_bytes(kind, static_cast<std::size_t>(row_bytes) * rows, static_cast<uint32_t>(shape.first + depth));
    const std::vector<uint8_t> strip = through_libtiff(false, data, row_bytes, rows);
    ASSERT_FALSE(strip.empty());
    for (const tif_decoded &got : {tif_decode_strip(strip, row_bytes, rows),
                                   tif_decode_strip(strip, row_bytes, 0, random_pieces(row_bytes, 5000))}) {
        EXPECT_EQ(got.result, 1);
        EXPECT_TRUE(got.bytes == data);
    }
}

INSTANTIATE_TEST_SUITE_P(
    libtiff, tif_peer,
    ::testing::Combine(::testing::Values(1, 4, 8, 16, 24, 32),
                       ::testing::Values(std::pair{1, 1}, std::pair{3, 7}, std::pair{17, 200}, std::pair{640, 40},
                                         std::pair{1, 3000}, std::pair{97, 3000}),
                       ::testing::Values(image_kind::flat, image_kind::noise, image_kind::gradient)));

// Wherever the last codes land (at a width step, next to the restart), libtiff reads them; libtiff
// stops at the last row, so the end code's width shows when this decoder reads to the end code.
TEST(tif_peer_lengths, LibtiffReadsEveryLength)
{
    const std::vector<uint8_t> noise = make_bytes(image_kind::noise, 4400, 21);
    for (std::size_t n = 1; n <= noise.size(); n += (n < 2100 || n > 3700) ? 1 : 29) {
        const std::vector<uint8_t> data(noise.begin(), noise.begin() + static_cast<std::ptrdiff_t>(n));
        const tif_encoded enc = tif_encode_bytes(data, static_cast<int32_t>(n));
        ASSERT_EQ(enc.result, 0);
        ASSERT_EQ(through_libtiff(true, enc.strip, static_cast<uint32_t>(n), 1), data) << n;
        const tif_decoded to_end = tif_decode_strip(enc.strip, static_cast<uint32_t>(n), 0);
        ASSERT_TRUE(to_end.result == 1 && to_end.bytes == data) << n;
    }
}

} // namespace
