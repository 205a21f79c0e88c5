// SPDX-License-Identifier: MIT
// TIFF strip coding: the export, byte order and row offset, row requests, refusals, write pieces
// and the blocks held (libtiff reads every length in peer/).
#include <gtest/gtest.h>

#include <numeric>
#include <string>

#include "boundary/image_header.hpp"
#include "lzw/string_table.hpp"
#include "orveln1.h"
#include "support/code_streams.hpp"
#include "support/codec_runs.hpp"
#include "support/memory_instrumented.hpp"
#include "tiff/tif_compressor.hpp"

using namespace orveln1;
using namespace orveln1::test;

namespace
{

class tif_compressor : public ::testing::Test
{
  protected:
    void SetUp() override { memory_stats_reset(); }
    void TearDown() override
    {
        memory_fill_pattern(-1);
        EXPECT_EQ(memory_stats_now().live, 0);
    }

    // Every row asked for is `row`.
    static int32_t encode(test_host &host, const std::vector<uint8_t> &header, const std::vector<uint8_t> &row,
                          int32_t row_count, int32_t first_row = 0, int32_t row_offset = 0, int32_t spare = 0)
    {
        host.fill_row = [&row](uint8_t *buffer, int32_t, int32_t count) {
            std::copy_n(row.begin(), std::min<std::size_t>(row.size(), static_cast<std::size_t>(count)), buffer);
        };
        return run_tif_compress(host, header, row_count, first_row, row_offset, spare);
    }
};

// The export refuses a missing write callback or get_row before any call, else gives the known
// stream of one flat row (256, 7, 258, 7, 257 at 9 bits) in one final write.
TEST_F(tif_compressor, ExportRefusesMissingCallbacksAndForwards)
{
    test_host host;
    host.fill_row = [](uint8_t *buffer, int32_t, int32_t count) { std::fill_n(buffer, count, 7); };
    const std::vector<uint8_t> header = image_header(4, 1, 8);
    const int32_t io = host.handle();
    const auto run = [&](orveln1_write_fn write, orveln1_get_row_fn get_row) {
        set_callbacks(nullptr, write, 0, nullptr);
        return encode_tif(header.data(), io, 0, 0, 1, get_row, io, 0);
    };
    EXPECT_EQ(run(nullptr, &test_host::get_row), ORVELN1_ERR_NO_CALLBACK);
    EXPECT_EQ(run(&test_host::write, nullptr), ORVELN1_ERR_NO_CALLBACK);
    EXPECT_EQ(host.trail(), "");
    EXPECT_EQ(run(&test_host::write, &test_host::get_row), 0);
    EXPECT_EQ(host.output, (std::vector<uint8_t>{0x80, 0x01, 0xE0, 0x40, 0x78, 0x08}));
    EXPECT_EQ(host.trail(), "gw");
    set_callbacks(nullptr, nullptr, 0, nullptr);
}

// One pixel of each depth: 24-bit and marked 32-bit pixels are coded red first, the rest as given.
TEST_F(tif_compressor, PixelsAreCodedInTiffOrder)
{
    struct {
        int depth;
        uint32_t compression;
        std::vector<uint8_t> row, coded;
    } const cases[] = {{24, 0, {1, 2, 3, 9}, {3, 2, 1}},    {32, 200, {1, 2, 3, 4}, {3, 2, 1, 4}},
                       {32, 0, {1, 2, 3, 4}, {1, 2, 3, 4}}, {16, 200, {1, 2, 9, 9}, {1, 2}},
                       {1, 0, {0xB7, 9, 9, 9}, {0xB7}},     {4, 0, {0xC5, 9, 9, 9}, {0xC5}}};
    for (const auto &k : cases) {
        SCOPED_TRACE("depth " + std::to_string(k.depth) + " compression " + std::to_string(k.compression));
        test_host host;
        ASSERT_EQ(encode(host, image_header(1, 1, k.depth, k.compression), k.row, 1), 0);
        EXPECT_EQ(tif_decode_strip(host.output, static_cast<uint32_t>(k.coded.size()), 1).bytes, k.coded);
    }
}

// Bytes row_offset onward are coded; the bytes past what get_row fills are zero, not whatever the
// block held, and the spare argument changes nothing.
TEST_F(tif_compressor, RowOffsetCodesLaterBytesAndStaleMemoryNever)
{
    const std::vector<uint8_t> header = image_header(5, 2, 24); // 15 bytes a row, 16 padded
    std::vector<uint8_t> row(16);
    std::iota(row.begin(), row.end(), uint8_t{1});
    std::vector<uint8_t> strips[3];
    for (int run = 0; run < 3; ++run) {
        memory_fill_pattern(run == 0 ? 0x00 : 0xA5);
        test_host host;
        ASSERT_EQ(encode(host, header, row, 2, 0, 3, run == 2 ? 12345 : 0), 0);
        strips[run] = host.output;
    }
    EXPECT_EQ(strips[0], strips[1]);
    EXPECT_EQ(strips[0], strips[2]);
    // After the exchange the row block holds 3 2 1 6 5 4 ... 15 14 13; the last group exchanges
    // bytes 15 and 17, so byte 15 takes the zero of the fresh block, then row 0's 16.
    const std::vector<uint8_t> both = {6, 5, 4, 9, 8, 7, 12, 11, 10, 15, 14, 13, 0,  0, 16,
                                       6, 5, 4, 9, 8, 7, 12, 11, 10, 15, 14, 13, 16, 0, 16};
    EXPECT_EQ(tif_decode_strip(strips[0], 15, 2).bytes, both);
}

// Bands of noise, of a slow ramp and of one colour, from either end: the dictionary changes form
// between generations (judged from the bytes around each restart and at the strip's start, in
// rows wide and narrow), and the codes are still greedy LZW's.
TEST_F(tif_compressor, BandsOfNoiseAndRunsCodeAsGreedyLzw)
{
    const std::vector<uint8_t> noise = make_pixels(image_kind::noise, 1000, 30, 256, 3);
    std::vector<uint8_t> runs;
    for (int i = 0; i < 60000; ++i)
        runs.push_back(static_cast<uint8_t>(i < 30000 ? i / 6 : 42));
    for (const bool noise_first : {true, false}) {
        std::vector<uint8_t> bytes;
        for (int band = 0; band < 5; ++band) {
            const std::vector<uint8_t> &b = (band % 2 == 0) == noise_first ? noise : runs;
            bytes.insert(bytes.end(), b.begin(), b.end());
        }
        for (const int32_t width : {1000, 7}) {
            SCOPED_TRACE(std::string(noise_first ? "noise" : "runs") + " first, width " + std::to_string(width));
            const auto rows = static_cast<int32_t>(bytes.size()) / width;
            test_host host;
            host.serve_bytes(bytes, static_cast<std::size_t>(width));
            ASSERT_EQ(run_tif_compress(host, image_header(width, rows, 8), rows), 0);
            EXPECT_EQ(host.output, tif_reference_encode({bytes.begin(), bytes.begin() + int64_t{rows} * width}));
        }
    }
}

// Rows first_row onward are asked for once each, in order (wrapping past INT32_MAX), with the
// padded count; a row count of 0 or less codes the first row's first byte.
TEST_F(tif_compressor, EachRowOnceInOrderWithThePaddedCount)
{
    struct {
        int32_t row_count, first_row;
        std::vector<int32_t> indices;
        std::size_t coded;
    } const cases[] = {{3, 10, {10, 11, 12}, 18},
                       {1, -2, {-2}, 6},
                       {0, 4, {4}, 1},
                       {-5, 4, {4}, 1},
                       {2, INT32_MAX, {INT32_MAX, INT32_MIN}, 12}};
    for (const auto &k : cases) {
        SCOPED_TRACE("rows " + std::to_string(k.row_count) + " from " + std::to_string(k.first_row));
        test_host host;
        ASSERT_EQ(encode(host, image_header(6, 9, 8), {1, 2, 3, 4, 5, 6}, k.row_count, k.first_row), 0);
        EXPECT_EQ(host.values('g'), k.indices);
        for (const test_host::get_call &g : host.gets)
            EXPECT_EQ(g.count, 8);
        const tif_decoded out = tif_decode_strip(host.output, 1, 0);
        EXPECT_EQ(out.result, 1);
        EXPECT_EQ(out.bytes.size(), k.coded);
    }
}

// Depth, then width and the row block's size, then the offset are refused before any callback or
// block; an offset at the block's end is still taken.
TEST_F(tif_compressor, RefusesBeforeAnyCallbackOrBlock)
{
    struct {
        int32_t depth, width, row_offset, result;
    } const cases[] = {
        {2, 4, 0, ERR_UNSUPPORTED_DEPTH}, {3, 0, 0, ERR_UNSUPPORTED_DEPTH}, {24, 0, 0, ERR_BAD_DATA},
        {8, -5, 0, ERR_BAD_DATA},         {32, INT32_MAX, 0, ERR_BAD_DATA}, {8, 357913944, 0, ERR_BAD_DATA},
        {8, 4, -1, ERR_BAD_DATA},         {8, 4, 21, ERR_BAD_DATA},         {8, 4, 20, 0}};
    for (const auto &k : cases) {
        SCOPED_TRACE(testing::Message() << "depth " << k.depth << " width " << k.width << " offset " << k.row_offset);
        memory_stats_reset();
        test_host host;
        EXPECT_EQ(encode(host, image_header(k.width, 1, k.depth), {1, 2, 3, 4}, 1, 0, k.row_offset), k.result);
        EXPECT_TRUE(k.result == 0 || (host.trail().empty() && memory_stats_now().obtained == 0));
    }
}

// Writes of 1000 or 1001 bytes, the last at most 1002 (with the end code's partial byte).
TEST_F(tif_compressor, WritesInPiecesOfAThousand)
{
    const std::vector<uint8_t> data = make_bytes(image_kind::noise, 50000, 9);
    test_host host;
    host.serve_bytes(data, 100);
    ASSERT_EQ(run_tif_compress(host, image_header(100, 500, 8), 500), 0);
    const std::vector<int32_t> sizes = host.values('w');
    ASSERT_GT(sizes.size(), 50u);
    for (std::size_t i = 0; i + 1 < sizes.size(); ++i)
        EXPECT_TRUE(sizes[i] == 1000 || sizes[i] == 1001) << sizes[i];
    EXPECT_LE(sizes.back(), 1002);
    EXPECT_EQ(tif_decode_strip(host.output, 100, 500).bytes, data);
}

TEST_F(tif_compressor, HoldsFourBlocksWhateverTheRows)
{
    for (int32_t rows : {1, 3000})
        for (int depth : {1, 24}) {
            memory_stats_reset();
            test_host host;
            ASSERT_EQ(encode(host, image_header(37, rows, depth), make_bytes(image_kind::gradient, 200, 1), rows), 0);
            EXPECT_EQ(memory_stats_now().obtained, 4);
            EXPECT_EQ(memory_stats_now().peak_bytes, STRING_TABLE_BYTES + 12 * padded_row_bytes(37, depth) + 2100);
        }
}

} // namespace
