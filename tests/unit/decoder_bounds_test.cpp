// SPDX-License-Identifier: MIT
// Both decoders against the host contract: host buffers of exactly the public header's sizes with a
// guard page right behind them, and decode_gif handing every row from one address.
#include <gtest/gtest.h>

#include <sys/mman.h>
#include <unistd.h>

#include <cstring>
#include <memory>
#include <set>

#include "orveln1.h"
#include "support/code_streams.hpp"
#include "support/codec_runs.hpp"
#include "support/test_host.hpp"

using namespace orveln1;
using namespace orveln1::test;

namespace
{

// `bytes` bytes whose last one is followed by an inaccessible page: a read or write one byte past
// them faults.
class guarded_buffer
{
  public:
    explicit guarded_buffer(std::size_t bytes) : bytes_(bytes)
    {
        const auto page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
        pages_ = (bytes + page - 1) / page * page + page;
        void *m = mmap(nullptr, pages_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (m == MAP_FAILED)
            return;
        base_ = static_cast<uint8_t *>(m);
        if (mprotect(base_ + pages_ - page, page, PROT_NONE) != 0) {
            munmap(base_, pages_);
            base_ = nullptr;
            return;
        }
        std::memset(data(), 0xEE, bytes);
    }
    ~guarded_buffer()
    {
        if (base_)
            munmap(base_, pages_);
    }
    guarded_buffer(const guarded_buffer &) = delete;
    guarded_buffer &operator=(const guarded_buffer &) = delete;

    [[nodiscard]] uint8_t *data() const noexcept
    {
        const auto page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
        return base_ + (pages_ - page - bytes_);
    }
    explicit operator bool() const noexcept { return base_ != nullptr; }

  private:
    std::size_t bytes_;
    std::size_t pages_ = 0;
    uint8_t *base_ = nullptr;
};

// Strips that stretch the row buffer: strings grow to the longest any code can name, or long runs
// end in a clear code mid-row.
const auto tif_longest_strings = [] { return longest_strings(8, 65); };
std::vector<uint32_t> strings_then_clear()
{
    std::vector<uint32_t> codes = {256, 7};
    for (uint32_t c = 258; c < 1200; ++c)
        codes.push_back(c);
    codes.insert(codes.end(), {256, 200, 1, 258, 259, 257});
    return codes;
}

struct tif_guard_case {
    const char *name;
    std::vector<uint32_t> (*codes)();
    uint32_t row_bytes;
    uint32_t row_count;
};
using tif_guard = testing::TestWithParam<tif_guard_case>;
TEST_P(tif_guard, RowBufferOfRowBytesPlusTheDocumentedSlack)
{
    const tif_guard_case &t = GetParam();
    const std::vector<uint8_t> strip = tif_codes(t.codes());
    guarded_buffer read_buffer(ORVELN1_TIF_READ_BUFFER_BYTES);
    guarded_buffer row_buffer(t.row_bytes + ORVELN1_TIF_ROW_SLACK_BYTES);
    ASSERT_TRUE(read_buffer && row_buffer);
    test_host host;
    host.input = strip;
    host.record_puts = false;
    const int32_t r = run_tif_decompress(host, 0, t.row_bytes, t.row_count, read_buffer.data(), row_buffer.data());
    // The same result and rows as through buffers with room to spare.
    const tif_decoded reference = tif_decode_strip(strip, t.row_bytes, t.row_count);
    EXPECT_EQ(r, reference.result);
    EXPECT_EQ(r, 1);
    EXPECT_EQ(host.put_count, reference.rows);
}
INSTANTIATE_TEST_SUITE_P(tif_decompressor, tif_guard,
                         testing::Values(tif_guard_case{"longest_1", tif_longest_strings, 1, 0},
                                         tif_guard_case{"longest_7", tif_longest_strings, 7, 0},
                                         tif_guard_case{"longest_9", tif_longest_strings, 9, 0},
                                         tif_guard_case{"longest_4096", tif_longest_strings, 4096, 0},
                                         tif_guard_case{"clear_3", strings_then_clear, 3, 0},
                                         tif_guard_case{"clear_owed_rows", strings_then_clear, 5000, 3}),
                         [](const auto &p) { return std::string(p.param.name); });

// The reader reads whole refills of 30 sub-blocks of 255 bytes into a buffer of exactly the
// documented size.
TEST(gif_decompressor, ReadBufferOfTheDocumentedSize)
{
    const int32_t width = 97, height = 300;
    const std::vector<uint8_t> pixels = make_pixels(image_kind::noise, width, height, 256);
    test_host host;
    host.input = sub_blocks(gif_reference_encode(pixels, 8));
    guarded_buffer read_buffer(ORVELN1_GIF_READ_BUFFER_BYTES);
    ASSERT_TRUE(read_buffer);
    EXPECT_EQ(run_gif_decompress(host, image_header(width, height, 8), 0x0800, read_buffer.data()), 0);
    EXPECT_EQ(host.pixels(width), pixels);
}

struct address_case {
    const char *name;
    std::vector<uint8_t> data;
    int32_t width;
    int32_t height;
    int depth;
    int32_t code_size_word;
    int32_t rows_expected; // -1: data cut short, fewer rows
};
using gif_row_address = testing::TestWithParam<address_case>;
TEST_P(gif_row_address, EveryRowFromOneAddress)
{
    const address_case &t = GetParam();
    test_host host;
    host.input = t.data;
    const int32_t r = run_gif_decompress(host, image_header(t.width, t.height, t.depth), t.code_size_word);
    // Whole or cut, the decoder ends without an error: a cut GIF ends the data early.
    EXPECT_EQ(r, 0);
    // A whole image gives every row; a cut one the rows decoded before the cut, at least one.
    if (t.rows_expected > 0)
        EXPECT_EQ(static_cast<int32_t>(host.puts.size()), t.rows_expected);
    else
        EXPECT_GT(host.puts.size(), 0u);
    std::set<const uint8_t *> addresses;
    for (const test_host::put_call &put : host.puts)
        addresses.insert(put.row);
    EXPECT_EQ(addresses.size(), 1u);
}

std::vector<uint8_t> encoded(image_kind kind, int32_t width, int32_t height, int colours, int root_size)
{
    return sub_blocks(gif_reference_encode(make_pixels(kind, width, height, colours), root_size));
}
std::vector<uint8_t> cut(std::vector<uint8_t> data, std::size_t keep)
{
    data.resize(keep);
    return data;
}

INSTANTIATE_TEST_SUITE_P(
    gif_decompressor, gif_row_address,
    testing::Values(address_case{"worked_example", {0x04, 0x8C, 0x23, 0x29, 0x05, 0x00}, 4, 2, 8, 0x0200, 2},
                    address_case{"noise_8", encoded(image_kind::noise, 61, 40, 256, 8), 61, 40, 8, 0x0800, 40},
                    address_case{"interlaced_4", encoded(image_kind::gradient, 13, 37, 16, 4), 13, 37, 4, 0x0440, 37},
                    address_case{"interlaced_1", encoded(image_kind::stripes, 9, 21, 2, 2), 9, 21, 1, 0x0240, 21},
                    // One pixel wide and flat: strings of thousands of pixels make many rows a code.
                    address_case{"narrow_flat", encoded(image_kind::flat, 1, 5000, 2, 2), 1, 5000, 8, 0x0200, 5000},
                    address_case{"narrow_3_flat", encoded(image_kind::flat, 3, 4000, 4, 2), 3, 4000, 4, 0x0200, 4000},
                    // Cut inside the data: the rows decoded so far, from the same address.
                    address_case{"truncated", cut(encoded(image_kind::noise, 50, 50, 256, 8), 700), 50, 50, 8, 0x0800,
                                 -1},
                    address_case{"truncated_interlaced", cut(encoded(image_kind::noise, 40, 30, 16, 4), 300), 40, 30, 8,
                                 0x0440, -1}),
    [](const auto &p) { return std::string(p.param.name); });

} // namespace
