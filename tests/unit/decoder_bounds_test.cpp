// SPDX-License-Identifier: MIT
// Both decoders against the host contract: host buffers of exactly the public header's sizes with a
// guard page right behind them.
#include <gtest/gtest.h>

#include <sys/mman.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <tuple>

#include "orveln1.h"
#include "support/code_streams.hpp"
#include "support/codec_runs.hpp"
#include "support/lzw_reference_model.hpp"

using namespace orveln1;
using namespace orveln1::test;

namespace
{

// `bytes` bytes (0xEE) whose last one is followed by an inaccessible page: a read or write one byte
// past them faults. data() is null when the pages could not be set up.
class guarded_buffer
{
  public:
    explicit guarded_buffer(std::size_t bytes)
        : page_(static_cast<std::size_t>(sysconf(_SC_PAGESIZE))), pages_((bytes + page_ - 1) / page_ * page_ + page_),
          base_(mmap(nullptr, pages_, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0))
    {
        if (base_ != MAP_FAILED && mprotect(static_cast<uint8_t *>(base_) + pages_ - page_, page_, PROT_NONE) == 0)
            data_ = static_cast<uint8_t *>(
                std::memset(static_cast<uint8_t *>(base_) + pages_ - page_ - bytes, 0xEE, bytes));
    }
    ~guarded_buffer()
    {
        if (base_ != MAP_FAILED)
            munmap(base_, pages_);
    }
    guarded_buffer(const guarded_buffer &) = delete;
    guarded_buffer &operator=(const guarded_buffer &) = delete;
    [[nodiscard]] uint8_t *data() const noexcept { return data_; }

  private:
    std::size_t page_, pages_;
    void *base_;
    uint8_t *data_ = nullptr;
};

// Strips that stretch the row buffer: strings grow to the longest any code can name (3839 bytes),
// or long runs end in a clear code mid-row. The rows are the byte model's, the result 1.
TEST(tif_guard, RowBufferOfRowBytesPlusTheDocumentedSlack)
{
    std::vector<uint32_t> then_clear = {256, 7};
    for (uint32_t c = 258; c < 1200; ++c)
        then_clear.push_back(c);
    then_clear.insert(then_clear.end(), {256, 200, 1, 258, 259, 257});
    const std::vector<uint32_t> longest = longest_strings(8, 65);
    const std::tuple<const std::vector<uint32_t> &, uint32_t, uint32_t> cases[] = {
        {longest, 1, 0},    {longest, 7, 0},    {longest, 9, 0},
        {longest, 4096, 0}, {then_clear, 3, 0}, {then_clear, 5000, 3}};
    for (const auto &[codes, row_bytes, row_count] : cases) {
        SCOPED_TRACE(row_bytes);
        const std::vector<uint8_t> strip = tif_codes(codes);
        guarded_buffer read_buffer(ORVELN1_TIF_READ_BUFFER_BYTES);
        guarded_buffer row_buffer(row_bytes + ORVELN1_TIF_ROW_SLACK_BYTES);
        ASSERT_TRUE(read_buffer.data() && row_buffer.data());
        test_host host;
        host.input = strip;
        host.record_puts = false;
        EXPECT_EQ(run_tif_decompress(host, 0, row_bytes, row_count, read_buffer.data(), row_buffer.data()), 1);
        std::vector<uint8_t> rows = reference_expand(strip, false, 8, 1, std::size_t{row_bytes} * row_count).bytes;
        rows.resize(rows.size() / row_bytes * row_bytes);
        EXPECT_EQ(host.rows_joined(), rows);
    }
}

// Refills of at most 30 full sub-blocks into a read buffer of exactly the documented size: the 31st
// is read only when their codes are used up, after rows have gone out.
TEST(gif_decompressor, ReadBufferOfTheDocumentedSize)
{
    const int32_t width = 97, height = 300;
    const std::vector<uint8_t> pixels = make_pixels(image_kind::noise, width, height, 256);
    test_host host;
    host.input = sub_blocks(gif_reference_encode(pixels, 8));
    guarded_buffer read_buffer(ORVELN1_GIF_READ_BUFFER_BYTES);
    ASSERT_TRUE(read_buffer.data());
    EXPECT_EQ(run_gif_decompress(host, image_header(width, height, 8), 0x0800, read_buffer.data()), 0);
    EXPECT_EQ(host.pixels(width), pixels);
    EXPECT_EQ(host.trail().substr(0, 61), std::string(60, 'r') + 'p'); // a count and a sub-block a read
}

} // namespace
