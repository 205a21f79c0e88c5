// SPDX-License-Identifier: MIT
// The GIF LZW decompressor: the worked example, code-size words, row packing and order, the
// read_fn call pattern, and the damaged streams that broke other LZW decoders.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <tuple>

#include "boundary/result_codes.hpp"
#include "gif/gif_decompressor.hpp"
#include "orveln1.h"
#include "support/code_streams.hpp"
#include "support/codec_runs.hpp"
#include "support/memory_instrumented.hpp"

using namespace orveln1;
using namespace orveln1::test;

namespace
{

// One decode through the core with a read_buffer of exactly the documented size, a block of its
// own that the sanitizers watch. Whatever the image, every row comes from one address.
struct decode_run {
    test_host host;
    int32_t result = 0;

    decode_run(std::vector<uint8_t> data, int32_t width, int32_t height, int depth, int32_t code_size_word,
               bool keep_rows = true)
    {
        host.input = std::move(data);
        host.record_puts = keep_rows;
        host.join_rows = false;
        result = run_gif_decompress(host, image_header(width, height, depth), code_size_word);
        EXPECT_TRUE(std::all_of(host.puts.begin(), host.puts.end(),
                                [&](const test_host::put_call &p) { return p.row == host.puts[0].row; }));
    }
};

const std::vector<uint8_t> worked_example = {0x04, 0x8C, 0x23, 0x29, 0x05, 0x00};

TEST(gif_decompressor, WorkedExampleRowsAndReadCalls)
{
    memory_stats_reset();
    decode_run run(worked_example, 4, 2, 8, 0x0200);
    EXPECT_EQ(run.result, 0);
    EXPECT_EQ(run.host.values('r'), (std::vector<int32_t>{1, 4, 1, 0}));
    ASSERT_EQ(run.host.puts.size(), 2u);
    EXPECT_EQ(run.host.values('p'), (std::vector<int32_t>{0, 1}));
    EXPECT_EQ(std::pair(run.host.puts[0].row_bytes, run.host.puts[1].row_bytes), std::pair(4, 4));
    EXPECT_EQ(run.host.pixels(4), (std::vector<uint8_t>{1, 1, 1, 1, 2, 2, 2, 2}));
    EXPECT_EQ(memory_stats_now().live, 0);
}

// The root size and interlace flag a code-size word settles on; bits 16 to 31 change nothing.
TEST(gif_decompressor, CodeSizeWordSettlesRootSizeAndInterlace)
{
    const std::tuple<int32_t, int, bool> cases[] = {
        {0x0440, 4, true}, {0x0847, 8, true}, {0x0047, 8, false}, {0x0943, 4, false}, {0x00FF, 8, false}};
    for (const auto &[word, root_size, interlaced] : cases) {
        for (const int32_t high : {0, 0x5A5A0000}) {
            const gif_code_size s = gif_settle_code_size(word | high);
            EXPECT_EQ(std::pair(s.root_size, s.interlaced), std::pair(root_size, interlaced)) << word;
        }
    }
}

// Depth 8 pixels that repeat with `period` (7, 27, 47, ...), but a lone 3 every `speck` pixels.
std::vector<uint8_t> repeating(int32_t width, int32_t height, int32_t period, int32_t speck = 0)
{
    std::vector<uint8_t> p;
    for (int32_t i = 0; i < width * height; ++i)
        p.push_back(static_cast<uint8_t>(speck != 0 && i % speck == 0 ? 3 : 7 + 20 * (i % period)));
    return p;
}

// Depth 8 pixels in runs: pixel i is 7 + i / run % values, but a lone 9 to 11 every `speck` pixels.
std::vector<uint8_t> runs(int32_t width, int32_t height, int32_t run, int32_t values, int32_t speck = 0)
{
    std::vector<uint8_t> p;
    for (int32_t i = 0; i < width * height; ++i)
        p.push_back(static_cast<uint8_t>(speck != 0 && i % speck == 0 ? 9 + i % 3 : 7 + i / run % values));
    return p;
}

struct stream_case {
    std::string name;
    std::vector<uint8_t> pixels; // the rows coded, `width` pixels each
    int32_t width;
    int32_t height;
    int depth;
    int32_t word; // the root size << 8, 0x40 when interlaced
    int piece = 255;
    gif_encode_options options = {};
    friend void PrintTo(const stream_case &c, std::ostream *os) { *os << c.name; }
};

std::vector<stream_case> stream_cases()
{
    const auto px = [](image_kind kind, int32_t w, int32_t h, int root) {
        return make_pixels(kind, w, h, 1 << root, 3);
    };
    const image_kind noise = image_kind::noise;
    std::vector<stream_case> c = {
        // Codes straddling every refill boundary (sub-blocks of 1 byte), root sizes 1 and 8, and a full
        // table kept without a clear code (codes stay 12 bits wide).
        {"one_pixel", px(noise, 1, 1, 2), 1, 1, 8, 0x0200},
        {"root_2_blocks_of_1", px(noise, 7, 300, 2), 7, 300, 8, 0x0200, 1},
        {"root_8_wide", px(noise, 1000, 30, 8), 1000, 30, 8, 0x0800},
        {"root_1_tall", px(noise, 5, 5000, 1), 5, 5000, 8, 0x0100},
        {"full_table_kept", px(noise, 100, 200, 2), 100, 200, 8, 0x0200, 255, {false, true}},
        // Packed rows: at an odd width at depth 4 the last low nibble is 0 even when the next row's
        // first pixel is already decoded.
        {"depth_4_odd_width", make_pixels(image_kind::flat, 3, 4, 16, 0xF), 3, 4, 4, 0x0400},
        // Rows wide enough for the packing's vector loop, with pairs and a lone pixel past its blocks.
        {"depth_4_width_64", make_pixels(noise, 64, 9, 16), 64, 9, 4, 0x0400},
        {"depth_4_width_97", make_pixels(noise, 97, 9, 16), 97, 9, 4, 0x0400},
        {"depth_1_width_10", make_pixels(noise, 10, 20, 2), 10, 20, 1, 0x0200},
        // Depth 8 runs that reach a row's end are written into the row slot, skipping bytes it already
        // holds: runs of another byte, short codes between runs of one byte, padding the next row's
        // pixels lie under.
        {"flat_one_wide", runs(1, 5000, 1, 1), 1, 5000, 8, 0x0800},
        {"bands_every_row", runs(66, 200, 66, 2), 66, 200, 8, 0x0800},
        {"specks_in_flat", runs(203, 300, 1, 1, 331), 203, 300, 8, 0x0800},
        {"runs_one_past_the_width", runs(41, 400, 42, 2), 41, 400, 8, 0x0800},
        {"long_runs_over_rows", runs(9, 2000, 1500, 4), 9, 2000, 8, 0x0800},
        // A run that continues a run of its byte knows the pixels before it and the slot hold that
        // byte: flat rows wider than the strings, runs of another byte ending inside a row, a speck
        // between runs of one byte.
        {"flat_wider_than_strings", runs(500, 600, 1, 1), 500, 600, 8, 0x0800},
        {"long_runs_of_two_bytes", runs(300, 500, 700, 2), 300, 500, 8, 0x0800},
        {"rare_specks_in_wide_flat", runs(700, 300, 1, 1, 4999), 700, 300, 8, 0x0800},
        // Strings that repeat with a period of 2 to 4 pixels, long ones among them, and specks that
        // break a repeat inside a string.
        {"period_2", repeating(301, 200, 2), 301, 200, 8, 0x0800},
        {"period_3", repeating(768, 100, 3), 768, 100, 8, 0x0800},
        {"period_4_narrow", repeating(13, 4000, 4), 13, 4000, 8, 0x0800},
        {"period_3_specks", repeating(500, 200, 3, 1999), 500, 200, 8, 0x0800},
        {"period_5", repeating(640, 100, 5), 640, 100, 8, 0x0800},
    };
    // Interlaced heights that leave passes empty or short; rows coded past the height are not delivered.
    for (const int32_t h : {1, 2, 3, 4, 5, 7, 8, 9, 20, 33})
        c.push_back({"interlaced_" + std::to_string(h), make_pixels(noise, 3, h, 16), 3, h, 8, 0x0440});
    for (const int32_t word : {0x0400, 0x0440})
        c.push_back({"rows_past_the_height_" + std::to_string(word), make_pixels(noise, 3, 30, 16), 3, 11, 8, word});
    return c;
}

// Each image row once, in the stream's order (the four passes when interlaced), as its scan line:
// zero bits past the last pixel and zero padding, though blocks start out patterned.
using gif_streams = testing::TestWithParam<stream_case>;
TEST_P(gif_streams, DecodeToTheScanLinesInStreamOrder)
{
    const stream_case &c = GetParam();
    memory_fill_pattern(0xA5);
    decode_run run(sub_blocks(gif_reference_encode(c.pixels, c.word >> 8, c.options), c.piece), c.width, c.height,
                   c.depth, c.word);
    memory_fill_pattern(-1);
    EXPECT_EQ(run.result, 0);
    const std::vector<int32_t> order = interlace_order(c.height, (c.word & 0x40) != 0);
    ASSERT_EQ(run.host.values('p'), order);
    const auto width = static_cast<std::size_t>(c.width);
    for (std::size_t k = 0; k < order.size(); ++k)
        ASSERT_EQ(run.host.puts[k].bytes, scan_line(c.pixels.data() + k * width, width, c.depth)) << "row " << k;
}
INSTANTIATE_TEST_SUITE_P(gif_decompressor, gif_streams, testing::ValuesIn(stream_cases()),
                         [](const auto &p) { return p.param.name; });

// Hand-written codes at the edges of the table: the data must open with a clear code; the code
// right after a clear code is a root or ends the data; a code above next_code ends the call and
// drops the unfinished row.
struct code_case {
    int root_size;
    std::vector<uint8_t> data;
    std::vector<uint8_t> pixels;
    int32_t width = 1;
    int32_t result = 0;
};
code_case from_codes(int root_size, const std::vector<uint32_t> &codes, std::vector<uint8_t> pixels, int32_t width = 1,
                     int32_t result = 0)
{
    return {root_size, sub_blocks(gif_codes(codes, root_size)), std::move(pixels), width, result};
}
using gif_hand_codes = testing::TestWithParam<code_case>;
TEST_P(gif_hand_codes, DecodeToThesePixels)
{
    memory_fill_pattern(0xEE); // a table entry read before written would show
    const code_case &c = GetParam();
    decode_run run(c.data, c.width, 1000, 8, c.root_size << 8);
    memory_fill_pattern(-1);
    EXPECT_EQ(run.result, c.result);
    EXPECT_EQ(run.host.pixels(c.width), c.pixels);
}
INSTANTIATE_TEST_SUITE_P(
    gif_decompressor, gif_hand_codes,
    testing::Values(
        // No clear code first: a root, no data, the terminator alone, a sub-block cut short.
        from_codes(2, {1, 5}, {}, 1, ERR_BAD_DATA), code_case{2, {}, {}, 1, ERR_BAD_DATA},
        code_case{2, {0}, {}, 1, ERR_BAD_DATA}, code_case{2, {1}, {}, 1, ERR_BAD_DATA},
        // Clear again, then 1, 6; the end code after a clear; clear, clear, end; codes that name
        // no string yet.
        from_codes(2, {4, 4, 1, 6, 5}, {1, 1, 1}), from_codes(2, {4, 1, 4, 5}, {1}),
        from_codes(2, {4, 1, 4, 5, 1}, {1}), from_codes(8, {256, 256, 257}, {}), from_codes(8, {256, 258, 1}, {}),
        from_codes(8, {256, 300}, {}), from_codes(8, {256, 4000}, {}), from_codes(8, {256, 7, 256, 257}, {7}),
        // Below 256 at root sizes under 8 a code from next_code up is a one-pixel string of its
        // low byte: the entry it names is redefined later, and its own code names itself; every
        // walk stays within the stored length.
        from_codes(7, {128, 130, 130, 130, 129}, {130, 130, 130, 130, 130}),
        from_codes(7, {128, 200, 130, 131, 132, 200, 129}, std::vector<uint8_t>(10, 200)),
        // 12 is above next_code: the row begun with 1 is dropped.
        from_codes(2, {4, 1, 2, 3, 1, 12, 5}, {1, 2, 3}, 3),
        // A table full at 4096 entries is kept: 4095, defined last as 11, still names it.
        from_codes(2, spliced<uint32_t>({4}, 4091, 1, {2, 4095, 5}), spliced<uint8_t>({}, 4091, 1, {2, 1, 1}), 23)));

// Narrow images whose strings reach the longest a table generation holds: every write stays in
// the row block (the sanitizers watch its edges), and every pixel arrives.
TEST(gif_decompressor, LongestStringsStayInsideTheRowBlock)
{
    // clear, 1, then 6, 7, ..., 4095: each names the entry it defines, one pixel longer each time.
    const int64_t total = 1 + (4091LL * 4092 / 2 - 1);
    // Every pixel is 1: one byte each at depth 8, the first pixel in the high bits when packed.
    const std::tuple<int32_t, int, uint8_t> cases[] = {{1, 8, 1}, {1, 1, 0x80}, {1, 4, 0x10}, {7, 8, 1}, {398, 8, 1}};
    for (const auto &[width, depth, first_byte] : cases) {
        SCOPED_TRACE(std::to_string(width) + " at depth " + std::to_string(depth));
        decode_run run(sub_blocks(gif_codes(longest_strings(2, 1), 2)), width, 1 << 30, depth, 0x0200, false);
        EXPECT_EQ(run.result, 0);
        EXPECT_EQ(static_cast<int64_t>(run.host.put_count), total / width);
        EXPECT_EQ(run.host.last_row[0], first_byte);
    }
}

// Truncated data: every cut yields the rows that the bytes before it complete, identical to the
// full decode's first rows; a cut inside the first refill still gives rows.
TEST(gif_decompressor, TruncatedDataYieldsEveryCompletedRow)
{
    const int32_t width = 20, height = 40;
    const std::vector<uint8_t> pixels = make_pixels(image_kind::noise, width, height, 16);
    const std::vector<uint8_t> full = sub_blocks(gif_reference_encode(pixels, 4), 50);
    std::size_t previous_rows = 0;
    for (std::size_t cut = 0; cut < full.size(); ++cut) {
        decode_run run(std::vector<uint8_t>(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(cut)), width,
                       height, 8, 0x0400);
        ASSERT_TRUE(run.result == 0 || (run.result == ERR_BAD_DATA && cut <= 2)) << cut;
        const std::vector<uint8_t> got = run.host.pixels(width);
        ASSERT_EQ(got, std::vector<uint8_t>(pixels.begin(), pixels.begin() + static_cast<std::ptrdiff_t>(got.size())));
        ASSERT_GE(run.host.puts.size(), previous_rows);
        previous_rows = run.host.puts.size();
    }
    // Every code whose bits arrived is decoded: the cut just before the terminator (no end code
    // read yet) still gives every row.
    EXPECT_EQ(previous_rows, static_cast<std::size_t>(height));
    // A 40-byte cut inside the first refill, with the sub-block cut short, into an interlaced image.
    decode_run part(std::vector<uint8_t>(full.begin(), full.begin() + 40), width, height, 8, 0x0440);
    EXPECT_EQ(part.result, 0);
    EXPECT_GT(part.host.puts.size(), 0u);
}

// A read_fn that fails forever ends the call after a bounded number of calls.
TEST(gif_decompressor, FailingReadEndsTheCall)
{
    for (const int32_t fail : {0, -1, -1000}) {
        for (int64_t from = 0; from < 6; ++from) {
            test_host host;
            host.input = sub_blocks(gif_reference_encode(make_pixels(image_kind::noise, 4, 4, 4), 2), 1);
            host.fail_read_at = from + 1;
            host.read_failure = fail;
            const int32_t r = run_gif_decompress(host, image_header(4, 4, 8), 0x0200);
            EXPECT_TRUE(r == 0 || r == ERR_BAD_DATA);
            EXPECT_EQ(host.reads.size(), static_cast<std::size_t>(from + 1));
        }
    }
}

// Refusals come before anything is obtained or read.
TEST(gif_decompressor, RefusesBeforeAnythingIsObtainedOrRead)
{
    const std::tuple<int32_t, int32_t, int, int32_t> cases[] = {
        {0, 2, 8, ERR_BAD_DATA},          {4, -2, 8, ERR_BAD_DATA},
        {INT32_MAX, 2, 8, ERR_BAD_DATA},  {INT32_MAX - 4000, 2, 1, ERR_BAD_DATA},
        {4, 2, 2, ERR_UNSUPPORTED_DEPTH}, {4, 2, 0x108, ERR_UNSUPPORTED_DEPTH}};
    for (const auto &[width, height, depth, want] : cases) {
        memory_stats_reset();
        decode_run run(worked_example, width, height, depth, 0x0200);
        EXPECT_EQ(run.result, want) << width << "x" << height << " at depth " << depth;
        EXPECT_TRUE(run.host.values('r').empty());
        EXPECT_EQ(memory_stats_now().obtained, 0);
    }
}

// The export refuses missing callbacks before reading anything.
TEST(gif_decompressor, ExportRefusesMissingCallbacks)
{
    test_host host;
    const std::vector<uint8_t> header = image_header(4, 2, 8);
    std::vector<uint8_t> buffer(ORVELN1_GIF_READ_BUFFER_BYTES);
    const int32_t h = host.handle(); // the io handle and the row context
    set_callbacks(nullptr, nullptr, 0, nullptr);
    EXPECT_EQ(decode_gif(h, buffer.data(), header.data(), &test_host::put_row, h, 0x0200), ORVELN1_ERR_NO_CALLBACK);
    set_callbacks(&test_host::read, nullptr, 0, nullptr);
    EXPECT_EQ(decode_gif(h, buffer.data(), header.data(), nullptr, h, 0x0200), ORVELN1_ERR_NO_CALLBACK);
    EXPECT_TRUE(host.reads.empty());
    set_callbacks(nullptr, nullptr, 0, nullptr);
}

} // namespace
