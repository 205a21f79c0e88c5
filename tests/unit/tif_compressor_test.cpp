// SPDX-License-Identifier: MIT
// TIFF strip coding: the export, byte order and row offset, row requests, refusals, write pieces
// and the blocks held (libtiff reads every length in peer/).
#include <gtest/gtest.h>

#include <string>

#include "boundary/image_header.hpp"
#include "lzw/string_table.hpp"
#include "orveln1.h"
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
    set_callbacks(nullptr, nullptr, 0, nullptr);
    EXPECT_EQ(encode_tif(header.data(), io, 0, 0, 1, &test_host::get_row, io, 0), ORVELN1_ERR_NO_CALLBACK);
    set_callbacks(nullptr, &test_host::write, 0, nullptr);
    EXPECT_EQ(encode_tif(header.data(), io, 0, 0, 1, nullptr, io, 0), ORVELN1_ERR_NO_CALLBACK);
    EXPECT_EQ(host.trail(), "");
    EXPECT_EQ(encode_tif(header.data(), io, 0, 0, 1, &test_host::get_row, io, 0), 0);
    EXPECT_EQ(host.output, (std::vector<uint8_t>{0x80, 0x01, 0xE0, 0x40, 0x78, 0x08}));
    EXPECT_EQ(host.values('w'), std::vector<int32_t>{6});
    EXPECT_EQ(host.trail(), "gw");
    set_callbacks(nullptr, nullptr, 0, nullptr);
}

struct byte_order_case {
    const char *name;
    int depth;
    uint32_t compression;
    std::vector<uint8_t> row;
    std::vector<uint8_t> coded;
};

class tif_byte_order : public tif_compressor, public ::testing::WithParamInterface<byte_order_case>
{
};

TEST_P(tif_byte_order, PixelsAreCodedInTiffOrder)
{
    const byte_order_case &k = GetParam();
    test_host host;
    ASSERT_EQ(encode(host, image_header(1, 1, k.depth, k.compression), k.row, 1), 0);
    const tif_decoded out = tif_decode_strip(host.output, static_cast<uint32_t>(k.coded.size()), 1);
    EXPECT_EQ(out.bytes, k.coded);
}

INSTANTIATE_TEST_SUITE_P(depths, tif_byte_order,
                         ::testing::Values(byte_order_case{"bgr24", 24, 0, {1, 2, 3, 9}, {3, 2, 1}},
                                           byte_order_case{"bgra32_swapped", 32, 200, {1, 2, 3, 4}, {3, 2, 1, 4}},
                                           byte_order_case{"bgra32_as_is", 32, 0, {1, 2, 3, 4}, {1, 2, 3, 4}},
                                           byte_order_case{"gray16", 16, 200, {1, 2, 9, 9}, {1, 2}},
                                           byte_order_case{"bilevel", 1, 0, {0xB7, 9, 9, 9}, {0xB7}},
                                           byte_order_case{"nibbles", 4, 0, {0xC5, 9, 9, 9}, {0xC5}}),
                         [](const ::testing::TestParamInfo<byte_order_case> &p) { return std::string(p.param.name); });

// Bytes row_offset onward are coded; the bytes past what get_row fills are zero, not whatever the
// block held, and the spare argument changes nothing.
TEST_F(tif_compressor, RowOffsetCodesLaterBytesAndStaleMemoryNever)
{
    const std::vector<uint8_t> header = image_header(5, 2, 24); // 15 bytes a row, 16 padded
    std::vector<uint8_t> row(16);
    for (std::size_t i = 0; i < row.size(); ++i)
        row[i] = static_cast<uint8_t>(i + 1);
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
    std::vector<uint8_t> both = {6, 5, 4, 9, 8, 7, 12, 11, 10, 15, 14, 13, 0, 0, 16};
    both.insert(both.end(), {6, 5, 4, 9, 8, 7, 12, 11, 10, 15, 14, 13, 16, 0, 16});
    EXPECT_EQ(tif_decode_strip(strips[0], 15, 2).bytes, both);
}

struct row_request_case {
    int32_t row_count;
    int32_t first_row;
    std::vector<int32_t> indices;
    std::size_t coded;
};

class tif_row_requests : public tif_compressor, public ::testing::WithParamInterface<row_request_case>
{
};

TEST_P(tif_row_requests, EachRowOnceInOrderWithThePaddedCount)
{
    const row_request_case &k = GetParam();
    test_host host;
    ASSERT_EQ(encode(host, image_header(6, 9, 8), {1, 2, 3, 4, 5, 6}, k.row_count, k.first_row), 0);
    ASSERT_EQ(host.gets.size(), k.indices.size());
    for (std::size_t i = 0; i < k.indices.size(); ++i) {
        EXPECT_EQ(host.gets[i].index, k.indices[i]);
        EXPECT_EQ(host.gets[i].count, 8);
    }
    const tif_decoded out = tif_decode_strip(host.output, 1, 0);
    EXPECT_EQ(out.result, 1);
    EXPECT_EQ(out.bytes.size(), k.coded);
}

INSTANTIATE_TEST_SUITE_P(counts, tif_row_requests,
                         ::testing::Values(row_request_case{3, 10, {10, 11, 12}, 18}, row_request_case{1, -2, {-2}, 6},
                                           // A row count of 0 or less: the first row's first byte.
                                           row_request_case{0, 4, {4}, 1}, row_request_case{-5, 4, {4}, 1},
                                           row_request_case{2, INT32_MAX, {INT32_MAX, INT32_MIN}, 12}),
                         [](const ::testing::TestParamInfo<row_request_case> &p) {
                             return "count_" + std::to_string(p.index);
                         });

struct refusal_case {
    const char *name;
    int depth;
    int32_t width;
    int32_t row_offset;
    int32_t result;
};

class tif_refusals : public tif_compressor, public ::testing::WithParamInterface<refusal_case>
{
};

TEST_P(tif_refusals, BeforeAnyCallbackOrBlock)
{
    const refusal_case &k = GetParam();
    test_host host;
    EXPECT_EQ(encode(host, image_header(k.width, 1, k.depth), {1, 2, 3, 4}, 1, 0, k.row_offset), k.result);
    if (k.result < 0) {
        EXPECT_EQ(host.trail(), "");
        EXPECT_EQ(memory_stats_now().obtained, 0);
    }
}

INSTANTIATE_TEST_SUITE_P(arguments, tif_refusals,
                         ::testing::Values(refusal_case{"depth_2", 2, 4, 0, ERR_UNSUPPORTED_DEPTH},
                                           refusal_case{"depth_before_width", 3, 0, 0, ERR_UNSUPPORTED_DEPTH},
                                           refusal_case{"width_0", 24, 0, 0, ERR_BAD_DATA},
                                           refusal_case{"width_negative", 8, -5, 0, ERR_BAD_DATA},
                                           refusal_case{"block_overflows", 32, INT32_MAX, 0, ERR_BAD_DATA},
                                           refusal_case{"block_just_overflows", 8, 357913944, 0, ERR_BAD_DATA},
                                           refusal_case{"offset_negative", 8, 4, -1, ERR_BAD_DATA},
                                           refusal_case{"offset_past_block", 8, 4, 21, ERR_BAD_DATA},
                                           refusal_case{"offset_at_block_end", 8, 4, 20, 0}),
                         [](const ::testing::TestParamInfo<refusal_case> &p) { return std::string(p.param.name); });

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
    for (int32_t rows : {1, 3000}) {
        for (int depth : {1, 24}) {
            memory_stats_reset();
            test_host host;
            const std::vector<uint8_t> header = image_header(37, rows, depth);
            ASSERT_EQ(encode(host, header, make_bytes(image_kind::gradient, 200, 1), rows), 0);
            const int64_t padded = padded_row_bytes(37, depth);
            EXPECT_EQ(memory_stats_now().obtained, 4);
            EXPECT_EQ(memory_stats_now().peak_bytes, STRING_TABLE_BYTES + 12 * padded + 2100);
        }
    }
}

} // namespace
