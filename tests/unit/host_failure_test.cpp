// SPDX-License-Identifier: MIT
// Every codec under host failure, as one table: the k-th write short, the k-th row refused (get_row
// or put_row), the k-th block not obtained, for every k a clean run reaches. Each failure gives its
// result, no callback follows it (beyond a group of writes already under way), and no block is left.
#include <gtest/gtest.h>

#include <string>

#include "boundary/result_codes.hpp"
#include "orveln1.h"
#include "support/code_streams.hpp"
#include "support/codec_runs.hpp"
#include "support/memory_instrumented.hpp"

using namespace orveln1;
using namespace orveln1::test;

namespace
{

int32_t write_stream(test_host &host, int which, int32_t interlaced)
{
    static const test_image images[3] = {make_image(150, 20, 8, image_kind::noise),
                                         make_image(301, 19, 4, image_kind::noise),
                                         make_image(1, 9, 8, image_kind::gradient)};
    test_image image = images[which];
    image.transparent = which != 0;
    image.transparent_index = 3;
    return run_write_gif_stream(host, image, interlaced);
}

int32_t tif_compress(test_host &host)
{
    static const std::vector<uint8_t> data = make_bytes(image_kind::noise, 8000, 4);
    host.serve_bytes(data, 800);
    return run_tif_compress(host, image_header(800, 10, 8), 10);
}

// The decoders: the GIF worked example, 9x300 noise in sub-blocks of 7, one TIFF byte, and a strip
// of 10 rows of 4 decoded from row 3 with 4 rows owed after it ends.
int32_t decode(test_host &host, int which)
{
    if (which == 0) {
        host.input = {0x04, 0x8C, 0x23, 0x29, 0x05, 0x00};
        return run_gif_decompress(host, image_header(4, 2, 8), 0x0200);
    }
    if (which == 1) {
        host.input = sub_blocks(gif_reference_encode(make_pixels(image_kind::noise, 9, 300, 8), 3), 7);
        return run_gif_decompress(host, image_header(9, 300, 8), 0x0300);
    }
    if (which == 2) {
        host.input = tif_codes({256, 65, 257});
        return run_tif_decompress(host, 0, 1, 1);
    }
    host.input = tif_encode_bytes(make_bytes(image_kind::gradient, 40, 3), 4).strip;
    return run_tif_decompress(host, 3, 4, 14);
}

struct codec_run {
    const char *name;
    int32_t (*run)(test_host &);
    int32_t refused_row_result;    // what a refused get_row gives; 0: the host's own value
    int32_t no_block_result;       // what a block not obtained gives
    int writes_before_blocks;      // writes made before the first block is asked for
    int64_t put_row_step;          // put_row refused at rows 1, 1 + step, ...
    int64_t writer_descriptor = 0; // GIF writer: the first descriptor write (0: every write judged alone)
};

const codec_run runs[] = {
    {"gif_writer_plain8", [](test_host &h) { return write_stream(h, 0, 0); }, ERR_WRITE, ERR_WRITE, 13, 1, 9},
    {"gif_writer_transparent4_interlaced", [](test_host &h) { return write_stream(h, 1, 1); }, ERR_WRITE, ERR_WRITE, 17,
     1, 13},
    {"gif_writer_narrow_transparent8", [](test_host &h) { return write_stream(h, 2, 0); }, ERR_WRITE, ERR_WRITE, 17, 1,
     13},
    {"tif_compressor_800x10", tif_compress, 0, ERR_NO_MEMORY, 0, 1},
    {"gif_decompressor_worked_example", [](test_host &h) { return decode(h, 0); }, 0, ERR_NO_MEMORY, 0, 1},
    {"gif_decompressor_9x300", [](test_host &h) { return decode(h, 1); }, 0, ERR_NO_MEMORY, 0, 13},
    {"tif_decompressor_one_byte", [](test_host &h) { return decode(h, 2); }, 0, ERR_NO_MEMORY, 0, 1},
    {"tif_decompressor_owed_rows", [](test_host &h) { return decode(h, 3); }, 0, ERR_NO_MEMORY, 0, 1},
};

enum class failing { write, get_row, put_row, block };

struct failure_case {
    const codec_run *codec;
    failing what;
};

using host_failure = testing::TestWithParam<failure_case>;

TEST_P(host_failure, StopsAtOnceAndLeavesNoBlock)
{
    const codec_run &c = *GetParam().codec;
    const failing what = GetParam().what;
    test_host clean;
    memory_stats_reset();
    ASSERT_GE(c.run(clean), 0);
    const int64_t reached[] = {clean.writes, static_cast<int64_t>(clean.gets.size()),
                               static_cast<int64_t>(clean.put_count), memory_stats_now().obtained};
    ASSERT_GT(reached[static_cast<int>(what)], 0);
    for (int64_t k = 1; k <= reached[static_cast<int>(what)]; k += what == failing::put_row ? c.put_row_step : 1)
        for (const int32_t short_by : {1, 1000}) {
            if (short_by != 1 && what != failing::write)
                continue;
            SCOPED_TRACE("k " + std::to_string(k) + " short by " + std::to_string(short_by));
            test_host host;
            host.short_by = short_by;
            host.fail_write_at = what == failing::write ? k : 0;
            host.fail_get_row_at = what == failing::get_row ? k : 0;
            host.fail_put_row_at = what == failing::put_row ? k : 0;
            memory_stats_reset();
            memory_fail_at(what == failing::block ? k : 0);
            const int32_t result = c.run(host);
            memory_fail_at(0);
            EXPECT_EQ(memory_stats_now().live, 0);
            const std::string trail = host.trail();
            switch (what) {
            case failing::write: {
                ASSERT_EQ(result, ERR_WRITE);
                // The GIF writer sends the header group (6 writes) and the descriptor group (5) whole
                // before judging them.
                const int64_t d = c.writer_descriptor;
                ASSERT_EQ(host.writes, d == 0 ? k : k <= 6 ? 6 : k >= d && k < d + 5 ? d + 4 : k);
                // No row is asked for once a write has failed.
                std::size_t failed_at = 0;
                for (int64_t seen = 0; failed_at < trail.size(); ++failed_at)
                    if (trail[failed_at] == 'w' && ++seen == k)
                        break;
                EXPECT_EQ(trail.find_first_not_of('w', failed_at), std::string::npos);
                break;
            }
            case failing::get_row:
                ASSERT_EQ(result, c.refused_row_result != 0 ? c.refused_row_result : host.get_row_failure);
                EXPECT_EQ(static_cast<int64_t>(host.gets.size()), k);
                EXPECT_EQ(host.calls_after_failure, 0);
                break;
            case failing::put_row:
                ASSERT_EQ(result, host.put_row_failure);
                EXPECT_EQ(static_cast<int64_t>(host.puts.size()), k);
                // The refused row was the last callback of any kind.
                EXPECT_EQ(host.calls_after_failure, 0);
                EXPECT_EQ(trail.back(), 'p');
                break;
            case failing::block:
                ASSERT_EQ(result, c.no_block_result);
                EXPECT_EQ(memory_stats_now().obtained, k - 1);
                EXPECT_EQ(trail, std::string(static_cast<std::size_t>(c.writes_before_blocks), 'w'));
                break;
            }
        }
}

// Each codec under the failures it can meet; the one-pixel-wide writer only under refused rows (its
// write groups and blocks are the other transparent writer's).
const failure_case cases[] = {{&runs[0], failing::write},   {&runs[0], failing::get_row}, {&runs[0], failing::block},
                              {&runs[1], failing::write},   {&runs[1], failing::get_row}, {&runs[1], failing::block},
                              {&runs[2], failing::get_row}, {&runs[3], failing::write},   {&runs[3], failing::get_row},
                              {&runs[3], failing::block},   {&runs[4], failing::block},   {&runs[5], failing::put_row},
                              {&runs[6], failing::block},   {&runs[7], failing::put_row}};

std::string case_name(const testing::TestParamInfo<failure_case> &p)
{
    static const char *const kinds[] = {"short_write", "refused_get_row", "refused_put_row", "no_block"};
    return std::string(p.param.codec->name) + "_" + kinds[static_cast<int>(p.param.what)];
}

INSTANTIATE_TEST_SUITE_P(codecs, host_failure, testing::ValuesIn(cases), case_name);

} // namespace
