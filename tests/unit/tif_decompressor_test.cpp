// SPDX-License-Identifier: MIT
// TIFF strip decoding: the small strips whose rows and calls are known exactly, reads in awkward
// pieces, damaged strips, refusals by the host, the memory the decoder holds, and runs filled fast.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <tuple>

#include "orveln1.h"
#include "support/code_streams.hpp"
#include "support/codec_runs.hpp"
#include "support/lzw_reference_model.hpp"
#include "support/memory_instrumented.hpp"
#include "tiff/tif_decompressor.hpp"

using namespace orveln1;
using namespace orveln1::test;

namespace
{

// Tables handed out with a pattern, so that reading an entry never set shows in the rows.
class tif_decompressor : public ::testing::Test
{
  protected:
    void SetUp() override
    {
        memory_fill_pattern(0xA5);
        memory_stats_reset();
    }
    void TearDown() override
    {
        memory_fill_pattern(-1);
        EXPECT_EQ(memory_stats_now().live, 0);
    }

    int32_t decode(test_host &host, int32_t first_row, uint32_t row_bytes, uint32_t row_count)
    {
        read_buffer.assign(ORVELN1_TIF_READ_BUFFER_BYTES, 0);
        row_buffer.assign(row_bytes + ORVELN1_TIF_ROW_SLACK_BYTES, 0xEE);
        return run_tif_decompress(host, first_row, row_bytes, row_count, read_buffer.data(), row_buffer.data());
    }

    // Decodes the strip from row 0 and expects the byte model's result and rows, with row
    // `refused` (counted from 0; -1: none) refused by the host and nothing called after it.
    void expect_as_model(const std::vector<uint8_t> &strip, uint32_t row_bytes, uint32_t row_count,
                         int64_t refused = -1)
    {
        const reference_decode model = tif_reference_decode(strip, {0, row_bytes, row_count, 0xEE}, {refused, -7});
        ASSERT_TRUE(refused >= 0 || model.result == 1) << model.result;
        test_host host;
        host.input = strip;
        host.fail_put_row_at = refused + 1;
        ASSERT_EQ(decode(host, 0, row_bytes, row_count), model.result);
        ASSERT_EQ(host.puts.size(), model.rows.size());
        for (std::size_t r = 0; r < model.rows.size(); ++r)
            ASSERT_EQ(host.puts[r].bytes, model.rows[r].bytes) << "row " << r;
        EXPECT_EQ(host.calls_after_failure, 0);
    }

    std::vector<uint8_t> read_buffer;
    std::vector<uint8_t> row_buffer;
};

struct known_strip {
    const char *name;
    std::vector<uint8_t> strip;
    int32_t first_row;
    uint32_t row_bytes;
    uint32_t row_count;
    int32_t result;
    std::vector<std::vector<uint8_t>> rows;
};

class tif_known_strips : public tif_decompressor, public ::testing::WithParamInterface<known_strip>
{
};

TEST_P(tif_known_strips, DeliverExactlyTheseRowsAndCalls)
{
    const known_strip &k = GetParam();
    test_host host;
    host.input = k.strip;
    EXPECT_EQ(decode(host, k.first_row, k.row_bytes, k.row_count), k.result);
    ASSERT_EQ(host.puts.size(), k.rows.size());
    for (std::size_t i = 0; i < k.rows.size(); ++i) {
        const test_host::put_call &p = host.puts[i];
        EXPECT_EQ(std::tuple(p.bytes, p.index, p.row, p.row_context, p.row_bytes),
                  std::tuple(k.rows[i], k.first_row + static_cast<int32_t>(i), row_buffer.data(), host.handle(), 0))
            << "row " << i;
    }
    // Small strips come in one read of a whole chunk; a strip without its opening clear code or a
    // dry source reads no further.
    ASSERT_GE(host.reads.size(), 1u);
    EXPECT_EQ(std::tuple(host.reads[0].buffer, host.reads[0].count, host.reads[0].io_handle),
              std::tuple(read_buffer.data(), 30000, host.handle()));
}

// One-byte rows: the letters A and B, and the row buffer's fill where nothing was decoded.
const std::vector<uint8_t> row_a = {0x41}, row_b = {0x42}, row_unwritten = {0xEE};
// 256, 65, 258 (the code being defined), 257; 256, 65, 66, 67, 257; and 256, 65, 300, 257.
const std::vector<uint8_t> strip_aaa = {0x80, 0x10, 0x60, 0x50, 0x10}, strip_abc = {0x80, 0x10, 0x48, 0x44, 0x38, 0x08},
                           strip_a300 = {0x80, 0x10, 0x65, 0x90, 0x10};
constexpr int32_t bad = ERR_BAD_DATA;
// The clear code, `count` codes of "A" (next_code 258 -> 257 + count), then `tail`.
std::vector<uint8_t> a_codes(std::size_t count, const std::vector<uint32_t> &tail)
{
    return tif_codes(spliced<uint32_t>({256}, count, 65, tail));
}

const std::vector<known_strip> known_strips = {
    // The row count is met before the end code.
    {"defined_code_one_row", strip_aaa, 0, 3, 1, 1, {{0x41, 0x41, 0x41}}},
    // Row 6 is owed after the end code: the buffer as it stands.
    {"rows_after_end_code", strip_aaa, 5, 3, 2, 1, {{0x41, 0x41, 0x41}, {0x41, 0x41, 0x41}}},
    // Row 1 is its decoded first byte and row 0's leftover second.
    {"unfinished_row_shows_leftover", strip_abc, 0, 2, 2, 1, {{0x41, 0x42}, {0x43, 0x42}}},
    {"row_count_zero_delivers_complete_rows", strip_abc, 0, 2, 0, 1, {{0x41, 0x42}}},
    // 300 is beyond the next free code; the owed rows still go out.
    {"code_beyond_next_code", strip_a300, 0, 1, 4, bad, {row_a, row_a, row_a, row_a}},
    {"opens_with_literal", tif_codes({65, 257}), 0, 1, 3, bad, {}},
    // After a clear code only a byte can follow: nothing else is defined yet.
    {"end_code_after_clear", tif_codes({256, 257}), 0, 1, 2, 1, {row_unwritten, row_unwritten}},
    // The only row is complete when the end code comes (tests/data/crashers).
    {"clear_byte_end_only_row", tif_codes({256, 65, 257}), 0, 1, 1, 1, {row_a}},
    {"repeated_clear_codes", tif_codes({256, 256, 256, 65, 257}), 0, 1, 0, 1, {row_a}},
    {"table_code_after_clear", tif_codes({256, 258, 257}), 0, 1, 2, bad, {row_unwritten, row_unwritten}},
    {"later_clear_code_259", tif_codes({256, 65, 66, 256, 259, 257}), 0, 1, 3, bad, {row_a, row_b, row_b}},
    {"dry_after_clear", tif_codes({256, 65, 66, 256}), 0, 1, 3, bad, {row_a, row_b, row_b}},
    // The clear code after the code bringing next_code to 511 is 10 bits wide, the byte after it 9.
    {"clear_at_the_width_step", a_codes(254, {256, 66, 257}), 0, 255, 0, 1, {spliced<uint8_t>({}, 254, 0x41, {0x42})}},
    // Past a full table nothing is defined and decoding goes on: 4095, defined last as "AB", still
    // names it after a thousand more codes.
    {"table_full_without_clear",
     tif_codes(spliced<uint32_t>(spliced<uint32_t>({256}, 3838, 65, {66}), 1000, 65, {4095, 257})),
     0,
     4841,
     1,
     1,
     {spliced<uint8_t>(spliced<uint8_t>({}, 3838, 0x41, {0x42}), 1000, 0x41, {0x41, 0x42})}},
    // Data that stops without an end code: complete rows, then the owed ones.
    {"no_end_code", tif_codes({256, 65, 66, 67}), 0, 2, 3, bad, {{0x41, 0x42}, {0x43, 0x42}, {0x43, 0x42}}}};
INSTANTIATE_TEST_SUITE_P(strips, tif_known_strips, ::testing::ValuesIn(known_strips),
                         [](const ::testing::TestParamInfo<known_strip> &p) { return std::string(p.param.name); });

TEST_F(tif_decompressor, RowBytesZeroIsRefusedBeforeAnythingIsRead)
{
    test_host host;
    host.input = tif_codes({256, 65, 257});
    EXPECT_EQ(decode(host, 0, 0, 1), ERR_BAD_DATA);
    EXPECT_EQ(host.trail(), "");
    EXPECT_EQ(memory_stats_now().obtained, 0);
}

// Random strips of few roots, recent codes and chains of the code being defined (long runs) match
// the byte model: complete rows then owed ones (the unfinished row over the one before it), a row
// count met inside a string or run, and a refusal partway.
TEST_F(tif_decompressor, RandomStripsMatchTheByteModel)
{
    std::mt19937 engine(4242);
    const auto next_random = [&](uint32_t below) { return static_cast<uint32_t>(engine() % below); };
    for (const uint32_t width : {0u, 13u, 64u, 768u, 5000u}) {
        const bool short_strips = width == 0;
        for (int round = 0; round < (short_strips ? 300 : 25); ++round) {
            std::vector<uint32_t> codes = {256, next_random(4)};
            uint32_t next_code = 258;
            const uint32_t count = short_strips ? 1 + next_random(300) : 200 + next_random(3600);
            while (next_code - 258 < count) {
                const uint32_t pick = next_random(4);
                if (pick >= 2) {
                    for (uint32_t chain = short_strips ? 1 : 1 + next_random(150); chain > 0; --chain)
                        codes.push_back(next_code++);
                    continue;
                }
                if (pick == 0 || next_code == 258)
                    codes.push_back(next_random(4));
                else
                    codes.push_back(next_code - 1 - next_random(std::min<uint32_t>(next_code - 258, 30)));
                ++next_code;
            }
            codes.push_back(257);
            const uint32_t row_bytes = short_strips ? 1 + next_random(40) : width;
            const std::vector<uint8_t> strip = tif_codes(codes);
            const auto complete =
                static_cast<uint32_t>(tif_reference_decode(strip, {0, row_bytes, 0, 0xEE}).rows.size());
            SCOPED_TRACE("rows of " + std::to_string(row_bytes) + ", round " + std::to_string(round));
            ASSERT_NO_FATAL_FAILURE(expect_as_model(strip, row_bytes, complete + 2));
            const uint32_t fewer = 1 + next_random(std::max<uint32_t>(1, complete));
            ASSERT_NO_FATAL_FAILURE(expect_as_model(strip, row_bytes, fewer));
            const int64_t refused = next_random(std::max<uint32_t>(1, complete));
            ASSERT_NO_FATAL_FAILURE(expect_as_model(strip, row_bytes, complete + 2, refused));
        }
    }
}

// Pixels of 2 to 5 bytes in stretches of one colour, or a stretch of noise repeated: strings that
// repeat with the period grow as long as the table allows, and a pixel of another colour now and
// then breaks a repeat in the middle of a string, so that short strings follow long ones. Rows of
// odd widths cut the strings anywhere (long ones are written in pairs, and copied past a row's
// end); fewer rows wanted, or a row refused, end decoding after a long string.
TEST_F(tif_decompressor, RepeatingPixelsMatchTheByteModel)
{
    constexpr uint32_t bytes_in_strip = 150000;
    // A period of 2 to 5 bytes, or of 601 noise bytes, which makes long strings that differ in
    // every chunk from one to the next.
    const std::vector<uint8_t> noise = make_bytes(image_kind::noise, 601, 11);
    for (const uint32_t period : {2u, 3u, 4u, 5u, 601u}) {
        for (const uint32_t odd_pixel : {0u, 331u, 5003u}) {
            std::vector<uint8_t> bytes;
            for (uint32_t i = 0; i < bytes_in_strip; ++i) {
                const uint32_t pixel = i / period;
                const bool odd = odd_pixel != 0 && pixel % odd_pixel == odd_pixel - 1;
                const uint32_t colour = period < 6 ? 10 + 40 * (i % period) + pixel / 40000 : noise[i % period];
                bytes.push_back(static_cast<uint8_t>(odd ? 250 - i % period : colour));
            }
            const std::vector<uint8_t> strip = tif_reference_encode(bytes);
            for (const uint32_t row_bytes : {7u, 768u, 2304u, 60000u}) {
                SCOPED_TRACE("period " + std::to_string(period) + ", odd pixel every " + std::to_string(odd_pixel) +
                             ", rows of " + std::to_string(row_bytes));
                const uint32_t rows = bytes_in_strip / row_bytes;
                ASSERT_NO_FATAL_FAILURE(expect_as_model(strip, row_bytes, rows));
                ASSERT_NO_FATAL_FAILURE(expect_as_model(strip, row_bytes, rows / 2 + 1));
                ASSERT_NO_FATAL_FAILURE(expect_as_model(strip, row_bytes, rows, rows / 3));
            }
        }
    }
}

// A strip decodes to the same rows whatever pieces the host hands it in: whole, and cut short (no
// end code) at a few places, one of them inside a chunk.
TEST_F(tif_decompressor, ReadPiecesDecodeAsTheWholeStripDoes)
{
    std::vector<uint8_t> data = make_bytes(image_kind::noise, 71000, 1);
    for (const auto &[kind, count] : {std::pair{image_kind::gradient, 90000}, std::pair{image_kind::flat, 50000}}) {
        const std::vector<uint8_t> more = make_bytes(kind, count, 1);
        data.insert(data.end(), more.begin(), more.end());
    }
    const tif_encoded enc = tif_encode_bytes(data, 100);
    ASSERT_GT(enc.strip.size(), 90000u);
    for (std::size_t keep : {enc.strip.size(), enc.strip.size() - 1, std::size_t{30001}, std::size_t{45678}}) {
        SCOPED_TRACE(keep);
        const std::vector<uint8_t> strip(enc.strip.begin(), enc.strip.begin() + static_cast<std::ptrdiff_t>(keep));
        const tif_decoded whole = tif_decode_strip(strip, 100, 0, pieces_of(INT32_MAX));
        if (keep == enc.strip.size()) {
            EXPECT_EQ(whole.result, 1);
            EXPECT_TRUE(std::equal(data.begin(), data.end(), whole.bytes.begin()));
        }
        for (const auto &pieces : {pieces_of(1), pieces_of(3), random_pieces(7, 40), random_pieces(11, 30000)}) {
            const tif_decoded in_pieces = tif_decode_strip(strip, 100, 0, pieces);
            EXPECT_EQ(in_pieces.result, whole.result);
            EXPECT_EQ(in_pieces.bytes, whole.bytes);
        }
    }
}

// A run of each length from 8 to 72 bytes that ends the strip early in a row: the unfinished row
// holds the run, then the row before's bytes as they were, whichever fill the length takes.
TEST_F(tif_decompressor, ARunEndingTheStripLeavesTheRowBeforeAfterIt)
{
    // Row 0: bytes 0 to 99, then runs of byte 200 growing from 1 to 72 bytes, whose codes 358 to
    // 428 define the runs of 2 to 72 bytes (byte 200 after byte 99 defines 357).
    std::vector<uint32_t> row0 = {256};
    for (uint32_t code = 0; code < 100; ++code)
        row0.push_back(code);
    row0.push_back(200);
    for (uint32_t code = 358; code <= 428; ++code)
        row0.push_back(code);
    constexpr uint32_t width = 100 + 72 * 73 / 2;
    for (uint32_t length = 8; length <= 72; ++length) {
        SCOPED_TRACE(length);
        std::vector<uint32_t> codes = row0;
        codes.insert(codes.end(), {356 + length, 257});
        ASSERT_NO_FATAL_FAILURE(expect_as_model(tif_codes(codes), width, 2));
    }
}

// Only delivered bytes are decoded: a failed read (0 or negative) ends the strip even when the
// buffer holds bytes, and no result can claim more than was asked.
TEST_F(tif_decompressor, FailedAndOverstatedReads)
{
    // The codes into one-byte rows. With a `claim` the first read reports it and every later read
    // returns `failure`; without one (0) every read returns `failure`.
    const auto run = [&](test_host &host, std::vector<uint32_t> codes, int32_t claim, int32_t failure, uint32_t rows) {
        host.input = tif_codes(codes);
        if (claim != 0)
            host.read_claim = [claim](int32_t delivered, int call) { return call == 0 ? claim : delivered; };
        host.fail_read_at = claim != 0 ? 2 : 1;
        host.read_failure = failure;
        return decode(host, 0, 1, rows);
    };
    for (int32_t failed : {0, -1, INT32_MIN}) {
        test_host host;
        EXPECT_EQ(run(host, {256, 65, 66, 67, 257}, 0, failed, 0), ERR_BAD_DATA);
        EXPECT_EQ(host.trail(), "r");
    }
    // The whole strip lies in the buffer after the first read, which reports two bytes; the second
    // read fails, so the codes past those two bytes are never decoded.
    test_host two;
    EXPECT_EQ(run(two, {256, 65, 66, 67, 257}, 2, -5, 2), ERR_BAD_DATA);
    EXPECT_EQ(two.reads.size(), 2u);
    EXPECT_EQ(two.reads[1].count, 29999); // 7 bits of the second byte carried
    ASSERT_EQ(two.puts.size(), 2u);       // both owed rows hold only the buffer's 0xEE
    EXPECT_EQ(two.puts[0].bytes, row_unwritten);
    // A claim beyond the 30000 asked counts as 30000: the zeroed rest of the buffer decodes (as
    // byte 0 codes, a row each, as many as with a claim of exactly 30000) and nothing past the
    // buffer is read; the next read fails.
    test_host over, exact;
    over.record_puts = exact.record_puts = false;
    EXPECT_EQ(run(over, {256, 65, 66, 67}, INT32_MAX, 0, 0), ERR_BAD_DATA);
    ASSERT_EQ(over.reads.size(), 2u);
    EXPECT_EQ(over.reads[1].count, 30000 - (over.reads[1].buffer - read_buffer.data()));
    EXPECT_EQ(run(exact, {256, 65, 66, 67}, 30000, 0, 0), ERR_BAD_DATA);
    EXPECT_EQ(over.put_count, exact.put_count);
}

// `count` pieces: piece(i) gives a run's length and byte, then the count of noise bytes after it.
template <class Piece> std::vector<uint8_t> runs_and_noise(int count, Piece piece)
{
    std::vector<uint8_t> data;
    uint32_t seed = 4242;
    for (int i = 0; i < count; ++i) {
        const auto [run, byte, tail] = piece(i);
        data.insert(data.end(), static_cast<std::size_t>(run), static_cast<uint8_t>(byte));
        for (int j = 0; j < tail; ++j) {
            seed = seed * 1103515245u + 12345u;
            data.push_back(static_cast<uint8_t>(seed >> 24));
        }
    }
    return data;
}

// Strips the library's encoder codes come back byte for byte, decoded with one table block whatever
// the rows; and the run fill against them.
TEST_F(tif_decompressor, StripsDecodeToTheBytesCodedInOneTableBlock)
{
    const std::tuple<const char *, std::vector<uint8_t>, int32_t> cases[] = {
        {"noise_one_row", make_bytes(image_kind::noise, 16, 1), 16},
        {"noise_5000_rows", make_bytes(image_kind::noise, 5000 * 16, 5000), 16},
        // Long runs that start part way into rows, over the leftovers of runs of another byte.
        {"runs_over_leftovers",
         runs_and_noise(300, [](int i) { return std::tuple(20 + i * 37 % 260, i % 11 == 0 ? 'b' : 'a', i % 4 * 5); }),
         97},
        // Runs ending at every distance up to 40 bytes before a row's end: chains that lengthen a run
        // stop short of it, at it, or would cross it.
        {"runs_near_row_ends", runs_and_noise(400, [](int i) { return std::tuple(256 - i % 41, i / 3 % 4, i % 41); }),
         263},
    };
    for (const auto &[name, bytes, width] : cases) {
        SCOPED_TRACE(name);
        const auto w = static_cast<uint32_t>(width);
        std::vector<uint8_t> data = bytes;
        data.resize((data.size() + w - 1) / w * w, 0);
        const tif_encoded strip = tif_encode_bytes(data, width);
        ASSERT_EQ(strip.result, 0);
        memory_stats_reset();
        const tif_decoded back = tif_decode_strip(strip.strip, w, static_cast<uint32_t>(data.size() / w));
        EXPECT_EQ(back.result, 1);
        EXPECT_EQ(back.bytes, data);
        EXPECT_EQ(std::pair(memory_stats_now().obtained, memory_stats_now().peak_bytes),
                  std::pair(int64_t{1}, static_cast<int64_t>(TIF_DECODE_TABLE_BYTES)));
    }
}

} // namespace
