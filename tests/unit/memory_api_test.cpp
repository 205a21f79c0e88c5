// SPDX-License-Identifier: MIT
// The in-memory C++ interface: round trips at every depth (truncated GIF data too), why GIF
// decoding stopped and data without a leading clear code, refusals with the right result code, no
// block left behind, and calls from several threads at once giving the one-thread results.
#include <gtest/gtest.h>

#include <cstring>
#include <thread>
#include <tuple>

#include "orveln1.hpp"
#include "support/code_streams.hpp"
#include "support/image_kit.hpp"
#include "support/memory_instrumented.hpp"

using namespace orveln1;

namespace
{

// A picture whose pixels vary enough to exercise the dictionary but repeat enough to compress;
// the bits past the width at depths 1 and 4 are zero, as they are not part of the image.
picture sample_picture(int32_t width, int32_t height, int depth, uint32_t seed = 1)
{
    picture p = make_picture(width, height, depth);
    for (int i = 0; i < (depth <= 8 ? 1 << depth : 0); ++i)
        p.palette.push_back(
            colour{static_cast<uint8_t>(i * 3), static_cast<uint8_t>(255 - i), static_cast<uint8_t>(i)});
    const int64_t bits = static_cast<int64_t>(width) * depth;
    uint32_t state = seed;
    for (int32_t y = 0; y < height; ++y)
        for (int64_t i = 0; i < (bits + 7) / 8; ++i) {
            state = state * 1103515245u + 12345u;
            const auto kept = static_cast<uint8_t>(i < bits / 8 ? 0xFF : 0xFF << (8 - bits % 8));
            p.row(y)[i] = kept & static_cast<uint8_t>((state >> 16) % 5 == 0 ? state >> 24 : (i / 7 + y / 3) * 13);
        }
    return p;
}

// The picture at depth 8 (one index a byte), as GIF decoding gives it back.
picture as_indices(const picture &p)
{
    picture out = make_picture(p.width, p.height, 8);
    for (int32_t y = 0; y < p.height; ++y)
        for (int32_t x = 0; x < p.width; ++x)
            out.row(y)[x] = test::index_at(p.row(y), x, p.depth);
    return out;
}

// The one image of a whole GIF stream, as a host finds it: through the stream reader.
gif_image image_of(const byte_vector &gif)
{
    const result<gif_stream> stream = read_gif_stream(gif);
    return stream.ok() && stream.value.images.size() == 1 ? stream.value.images[0] : gif_image{};
}

struct gif_case {
    int32_t width, height;
    int depth;
    bool interlaced;
    int transparent_index = -1;
};

using gif_round_trip = testing::TestWithParam<gif_case>;

TEST_P(gif_round_trip, DecodedIndicesAndTransparencyEqualThePictureEncoded)
{
    const gif_case c = GetParam();
    picture p = sample_picture(c.width, c.height, c.depth);
    p.transparent_index = c.transparent_index;
    memory_stats_reset();
    const result<byte_vector> gif = encode_gif_file(p, c.interlaced);
    ASSERT_EQ(gif.code, 0);
    EXPECT_EQ(std::string(gif.value.begin(), gif.value.begin() + 6), c.transparent_index < 0 ? "GIF87a" : "GIF89a");
    EXPECT_EQ(image_of(gif.value).transparent_index, c.transparent_index);
    const result<gif_decoded> back = decode_gif_data(image_of(gif.value).data());
    ASSERT_EQ(back.code, 0);
    EXPECT_EQ(back.value.rows_delivered, c.height);
    EXPECT_EQ(back.value.image.pixels, as_indices(p).pixels);
    // Half the data: no error, the rows it completes.
    gif_image_data half = image_of(gif.value).data();
    half.sub_blocks = half.sub_blocks.first(half.sub_blocks.size() / 2);
    const result<gif_decoded> part = decode_gif_data(half);
    EXPECT_EQ(part.code, 0);
    EXPECT_LT(part.value.rows_delivered, c.height);
    EXPECT_TRUE(c.height < 20 || part.value.rows_delivered > 0);
    EXPECT_EQ(memory_stats_now().live, 0);
}

INSTANTIATE_TEST_SUITE_P(memory_api, gif_round_trip,
                         testing::Values(gif_case{1, 1, 8, false}, gif_case{37, 11, 8, true},
                                         gif_case{300, 200, 8, false}, gif_case{301, 9, 4, true},
                                         gif_case{64, 64, 4, false}, gif_case{13, 5, 1, false},
                                         gif_case{77, 20, 1, true}, gif_case{8, 8, 8, false, 5},
                                         gif_case{19, 7, 4, true, 0}));

// Image data written code by code: where and why decoding stops, the rows it gave, and the same
// codes without their leading clear code read from the cleared state.
struct stop_case {
    const char *name;
    int root_size;
    std::vector<uint32_t> codes; // packed at the widths the decoder reads them with
    struct {
        int32_t width, height;
        bool interlaced = false;
    } size;
    std::vector<uint8_t> indices; // the picture's width * height indices, 0 where no row came
    struct {
        gif_stop stop;
        int64_t stop_pixel;
        int32_t rows;
    } want;
    std::size_t keep_bytes = 0; // when not 0, only this many bytes of the packed codes
};

result<gif_decoded> decode_codes(const stop_case &c, std::vector<uint32_t> codes, bool start_cleared)
{
    std::vector<uint8_t> packed = test::gif_codes(codes, c.root_size);
    if (c.keep_bytes != 0)
        packed.resize(c.keep_bytes);
    const std::vector<uint8_t> blocks = test::sub_blocks(packed);
    const int32_t code_size_word = c.root_size << 8 | (c.size.interlaced ? 0x40 : 0);
    return decode_gif_data({c.size.width, c.size.height, code_size_word, blocks}, {.start_cleared = start_cleared});
}

using gif_stop_point = testing::TestWithParam<stop_case>;

TEST_P(gif_stop_point, SaysWhyAndWhereDecodingStopped)
{
    const stop_case &c = GetParam();
    const bool leading_clear = !c.codes.empty() && c.codes[0] == 1u << c.root_size;
    const auto expect_stop = [&](const result<gif_decoded> &r, bool leading) {
        ASSERT_EQ(r.code, 0);
        EXPECT_TRUE(r.value.stop == c.want.stop && r.value.stop_pixel == c.want.stop_pixel &&
                    r.value.rows_delivered == c.want.rows && r.value.leading_clear_code == leading)
            << static_cast<int>(r.value.stop) << " at " << r.value.stop_pixel << ", " << r.value.rows_delivered;
        for (int32_t y = 0; y < c.size.height; ++y)
            for (int32_t x = 0; x < c.size.width; ++x)
                EXPECT_EQ(r.value.image.row(y)[x], c.indices[static_cast<std::size_t>(y * c.size.width + x)]);
    };
    expect_stop(decode_codes(c, c.codes, !leading_clear), leading_clear);
    if (!leading_clear || c.keep_bytes != 0)
        return;
    // A decoder started cleared takes a leading clear code as any other; without one the data is
    // refused, unless the decoder starts cleared: then it reads as if the clear code were there.
    expect_stop(decode_codes(c, c.codes, true), true);
    const std::vector<uint32_t> rest(c.codes.begin() + 1, c.codes.end());
    EXPECT_EQ(decode_codes(c, rest, false).code, ORVELN1_ERR_BAD_DATA);
    expect_stop(decode_codes(c, rest, true), false);
}

// Root size 2: clear 4, end 5, the first free code 6, 4 bits once 8 is next. Root size 8: clear
// 256, end 257. The codes end on a byte, or stop before the packer's padding bits.
using enum gif_stop;
const stop_case stop_cases[] = {
    {"complete", 2, {4, 1, 2, 3, 0, 1, 2, 3, 0, 5}, {4, 2}, {1, 2, 3, 0, 1, 2, 3, 0}, {complete, 8, 2}},
    {"end_code_early", 2, {4, 1, 2, 3, 0, 1, 5}, {4, 2}, {1, 2, 3, 0, 0, 0, 0, 0}, {end_code, 5, 1}},
    // 15 lies above the next free code, 10.
    {"code_above_next_free", 2, {4, 1, 2, 3, 0, 1, 15}, {4, 2}, {1, 2, 3, 0, 0, 0, 0, 0}, {unknown_code, 5, 1}},
    // The next free code itself names the last string and its first byte again.
    {"next_free_code", 2, {4, 1, 6, 5}, {2, 2}, {1, 1, 0, 0}, {end_code, 3, 1}},
    {"data_ends_on_a_code", 2, {4, 1, 2, 3, 0}, {4, 2}, {1, 2, 3, 0, 0, 0, 0, 0}, {data_ended, 4, 1}},
    // One byte: the clear code, 1, and two bits of the next code.
    {"data_ends_in_a_code", 2, {4, 1, 2, 3, 0, 5}, {1, 8}, {1, 0, 0, 0, 0, 0, 0, 0}, {data_ended, 1, 1}, 1},
    {"no_data", 2, {}, {3, 1}, {0, 0, 0}, {data_ended, 0, 0}},
    {"no_byte_after_clear", 8, {256, 7, 9, 256, 300}, {4, 1}, {0, 0, 0, 0}, {unknown_code, 2, 0}},
    {"end_code_after_clear", 8, {256, 7, 256, 257}, {1, 2}, {7, 0}, {end_code, 1, 1}},
    // Rows come in pass order 0, 2, 1, 3: the stop is at the third row the data sends, which is
    // row 1; rows 0 and 2 are there.
    {"interlaced", 2, {4, 1, 1, 2, 2, 15}, {2, 4, true}, {1, 1, 0, 0, 2, 2, 0, 0}, {unknown_code, 4, 2}},
};

INSTANTIATE_TEST_SUITE_P(memory_api, gif_stop_point, testing::ValuesIn(stop_cases),
                         [](const auto &p) { return std::string(p.param.name); });

// decode_gif_file hands its options to the decoder and keeps the image's palette.
TEST(memory_api, DecodeGifFileStartsClearedWhenAsked)
{
    test::gif_stream_builder s(2, 1, 4);
    s.image(0, 0, 2, 1, false, 0, 2, test::sub_blocks(test::gif_codes({3, 1, 5}, 2))).trailer();
    EXPECT_EQ(decode_gif_file(s.out).code, ORVELN1_ERR_BAD_DATA);
    const result<gif_decoded> r = decode_gif_file(s.out, 0, {.start_cleared = true});
    ASSERT_EQ(r.code, 0);
    EXPECT_TRUE(r.value.stop == gif_stop::complete && !r.value.leading_clear_code && r.value.stop_pixel == 2);
    EXPECT_EQ(r.value.image.palette.size(), 4u);
    EXPECT_EQ(r.value.image.pixels[0], 3);
    EXPECT_EQ(r.value.image.pixels[1], 1);
}

struct strip_case {
    int32_t width;
    int depth;
    bool predictor, swap;
};

using tif_round_trip = testing::TestWithParam<strip_case>;

TEST_P(tif_round_trip, StripsDecodeToTheRowsEncoded)
{
    const strip_case c = GetParam();
    const picture p = sample_picture(c.width, 23, c.depth);
    const tif_strip_format f{c.width, c.depth, c.swap, c.predictor};
    picture back = make_picture(c.width, 23, c.depth);
    memory_stats_reset();
    // Three strips of uneven height cover the picture.
    const int32_t starts[] = {0, 10, 20, 23};
    for (int s = 0; s < 3; ++s) {
        const result<byte_vector> strip = encode_tif_strip(p, f, starts[s], starts[s + 1] - starts[s]);
        ASSERT_EQ(strip.code, 0);
        EXPECT_EQ(decode_tif_strip(strip.value, f, back, starts[s], starts[s + 1] - starts[s]), 1);
    }
    const auto meaningful = static_cast<std::size_t>((static_cast<int64_t>(c.width) * c.depth + 7) / 8);
    for (int32_t y = 0; y < p.height; ++y)
        ASSERT_EQ(0, std::memcmp(back.row(y), p.row(y), meaningful)) << "row " << y;
    EXPECT_EQ(memory_stats_now().live, 0);
}

INSTANTIATE_TEST_SUITE_P(memory_api, tif_round_trip,
                         testing::Values(strip_case{1, 8, false, false}, strip_case{33, 1, false, false},
                                         strip_case{31, 4, false, false}, strip_case{500, 8, true, false},
                                         strip_case{97, 24, false, false}, strip_case{97, 24, true, false},
                                         strip_case{40, 32, true, true}, strip_case{40, 32, false, false},
                                         strip_case{1000, 16, false, false}));

// Each refusal carries its own result code.
TEST(memory_api, RefusalsCarryTheirResultCodes)
{
    for (const int depth : {16, 24})
        EXPECT_EQ(encode_gif_file(sample_picture(4, 4, depth), false).code, ORVELN1_ERR_UNSUPPORTED_DEPTH) << depth;
    EXPECT_EQ(encode_gif_file(make_picture(0, 4, 8), false).code, ORVELN1_ERR_BAD_DATA);
    picture short_pixels = sample_picture(4, 4, 8);
    short_pixels.pixels.resize(4);
    EXPECT_EQ(encode_gif_file(short_pixels, false).code, ORVELN1_ERR_BAD_DATA);
    const result<byte_vector> gif = encode_gif_file(sample_picture(4, 4, 8), false);
    gif_image_data d = image_of(gif.value).data();
    d.width = 0; // good data, no width
    EXPECT_EQ(decode_gif_data(d).code, ORVELN1_ERR_BAD_DATA);

    const picture p = sample_picture(10, 10, 8);
    const tif_strip_format f{10, 8, false, false};
    for (const auto &[first, count] : {std::pair{5, 6}, std::pair{-1, 2}, std::pair{0, 0}})
        EXPECT_EQ(encode_tif_strip(p, f, first, count).code, ORVELN1_ERR_BAD_DATA) << first << "+" << count;
    EXPECT_EQ(encode_tif_strip(sample_picture(10, 10, 4), tif_strip_format{10, 4, false, true}, 0, 1).code,
              ORVELN1_ERR_UNSUPPORTED_DEPTH);
    EXPECT_EQ(encode_tif_strip(sample_picture(10, 10, 24), f, 0, 1).code, ORVELN1_ERR_UNSUPPORTED_DEPTH);
    picture back = make_picture(10, 10, 8);
    const uint8_t starts_with_literal[] = {0x10, 0x20, 0x30, 0x40};
    EXPECT_EQ(decode_tif_strip(starts_with_literal, f, back, 0, 1), ORVELN1_ERR_BAD_DATA);
    EXPECT_EQ(decode_tif_strip({}, f, back, 0, 1), ORVELN1_ERR_BAD_DATA);
}

// 24-bit strips store red first (read back as 8-bit samples); the predictor stores differences.
TEST(memory_api, StripStoresRedGreenBlueInTiffOrder)
{
    picture p = make_picture(2, 1, 24);
    p.pixels.assign({1, 2, 3, 4, 5, 6, 0, 0});
    const result<byte_vector> ok = encode_tif_strip(p, tif_strip_format{2, 24, false, false}, 0, 1);
    ASSERT_EQ(ok.code, 0);
    picture raw = make_picture(6, 1, 8);
    ASSERT_EQ(decode_tif_strip(ok.value, tif_strip_format{6, 8, false, false}, raw, 0, 1), 1);
    EXPECT_EQ(raw.pixels, (byte_vector{3, 2, 1, 6, 5, 4, 0, 0}));
    byte_vector row = {10, 20, 30, 11, 22, 33, 250, 5, 7};
    const byte_vector original = row;
    apply_horizontal_predictor(row.data(), row.size(), 3);
    EXPECT_EQ(row[3], 1); // 11 - 10
    undo_horizontal_predictor(row.data(), row.size(), 3);
    EXPECT_EQ(row, original);
}

// A block not obtained inside a codec is reported, and what was obtained is released.
TEST(memory_api, OutOfMemoryInsideTheCodecIsReportedAndLeavesNothing)
{
    const picture p = sample_picture(64, 64, 8);
    memory_stats_reset();
    memory_fail_at(1);
    EXPECT_EQ(encode_tif_strip(p, tif_strip_format{64, 8, false, false}, 0, 64).code, ORVELN1_ERR_NO_MEMORY);
    memory_fail_at(1);
    // The GIF encoder folds every failure after its depth check into ERR_WRITE.
    EXPECT_EQ(encode_gif_file(p, false).code, ORVELN1_ERR_WRITE);
    memory_fail_at(0);
    EXPECT_EQ(memory_stats_now().live, 0);
}

// Shared state between calls shows as a result differing from the one-thread one.
TEST(memory_api, CallsOnManyThreadsAtOnceGiveTheOneThreadResults)
{
    constexpr std::size_t threads = 6;
    // Picture t through each entry point: the GIF file, the strip, and whether both decode to it.
    const auto calls = [](std::size_t t) {
        const picture p = sample_picture(120 + static_cast<int32_t>(t) * 7, 90, 8, static_cast<uint32_t>(t + 1));
        const tif_strip_format f{p.width, 8, false, t % 3 == 0};
        const result<byte_vector> gif = encode_gif_file(p, t % 2 == 1);
        const result<byte_vector> strip = encode_tif_strip(p, f, 0, p.height);
        picture rows = make_picture(p.width, p.height, 8);
        const bool back = decode_tif_strip(strip.value, f, rows, 0, p.height) == 1 && rows.pixels == p.pixels &&
                          decode_gif_data(image_of(gif.value).data()).value.image.pixels == p.pixels;
        return std::tuple{gif.value, strip.value, back};
    };
    std::vector<std::tuple<byte_vector, byte_vector, bool>> expected;
    for (std::size_t t = 0; t < threads; ++t)
        EXPECT_TRUE(std::get<2>(expected.emplace_back(calls(t)))) << "picture " << t;
    std::vector<int> mismatches(threads, 0);
    std::vector<std::thread> pool;
    for (std::size_t t = 0; t < threads; ++t)
        pool.emplace_back([&, t] {
            for (int round = 0; round < 8; ++round)
                mismatches[t] += calls(t) != expected[t] ? 1 : 0;
        });
    for (auto &thread : pool)
        thread.join();
    EXPECT_EQ(mismatches, std::vector<int>(threads, 0));
}

} // namespace
