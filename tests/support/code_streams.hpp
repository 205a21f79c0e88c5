// SPDX-License-Identifier: MIT
// LZW code streams built and read by hand for the tests: codes packed least significant bit first
// (GIF) or most significant bit first (TIFF) at the widths a decoder reads them, a plain reference
// encoder for each, GIF sub-blocks and whole GIF streams, and a reader that walks written GIF data code by code.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace orveln1::test
{

enum class bit_order { lsb_first, msb_first }; // GIF, TIFF

// Codes read back one bit at a time; next() is false when fewer than `width` bits are left.
class bit_reader
{
  public:
    bit_reader(const std::vector<uint8_t> &bytes, bit_order order) : bytes_(bytes), order_(order) {}
    bool next(int width, uint32_t &code)
    {
        if (bit_ + static_cast<std::size_t>(width) > bytes_.size() * 8)
            return false;
        code = 0;
        for (int i = 0; i < width; ++i, ++bit_) {
            const uint8_t byte = bytes_[bit_ / 8];
            if (order_ == bit_order::lsb_first)
                code |= static_cast<uint32_t>((byte >> (bit_ % 8)) & 1) << i;
            else
                code = code << 1 | ((byte >> (7 - bit_ % 8)) & 1);
        }
        return true;
    }
    [[nodiscard]] std::size_t bits_read() const { return bit_; }

  private:
    const std::vector<uint8_t> &bytes_;
    bit_order order_;
    std::size_t bit_ = 0;
};

// Codes given by hand, each at the width a GIF decoder reads it with: the widths follow the
// decoder's table as the codes define entries, clear codes resetting it.
[[nodiscard]] std::vector<uint8_t> gif_codes(const std::vector<uint32_t> &codes, int root_size);
// The same for TIFF: 9 bits after a clear code, one more once the next free code reaches 511, 1023
// and 2047.
[[nodiscard]] std::vector<uint8_t> tif_codes(const std::vector<uint32_t> &codes);

// Codes that make the longest strings a table generation holds: the clear code, the byte `first`,
// then every free code in turn up to 4095 (each the entry it defines, one byte longer than the one
// before), then the end code. root_size: GIF's minimum code size, or 8 for TIFF's codes.
[[nodiscard]] std::vector<uint32_t> longest_strings(int root_size, uint32_t first);
// head, n copies of value, then tail: long runs of one code or byte between hand-written ones.
template <class T> std::vector<T> spliced(std::vector<T> head, std::size_t n, T value, const std::vector<T> &tail)
{
    head.insert(head.end(), n, value);
    head.insert(head.end(), tail.begin(), tail.end());
    return head;
}

// A plain GIF LZW encoder that tracks the decoder's code width exactly. clear_when_full: send a
// clear code when the table is full (else go on with a full table, codes 12 bits wide).
// clear_after: when not 0, send a clear code as soon as this entry is defined (an early restart).
struct gif_encode_options {
    bool clear_when_full = true;
    bool end_code = true;
    uint32_t clear_after = 0;
};
[[nodiscard]] std::vector<uint8_t> gif_reference_encode(const std::vector<uint8_t> &pixels, int root_size,
                                                        gif_encode_options options = {});
// The same for a TIFF strip's bytes: codes most significant bit first, one code early wider, the
// table restarted where the TIFF coder restarts it.
[[nodiscard]] std::vector<uint8_t> tif_reference_encode(const std::vector<uint8_t> &bytes);

// The bytes cut into data sub-blocks of at most piece bytes, then the block terminator (unless
// terminate is false).
[[nodiscard]] std::vector<uint8_t> sub_blocks(const std::vector<uint8_t> &bytes, int piece = 255,
                                              bool terminate = true);

// The LZW codes of one image's data, read as a GIF decoder reads them: the width grows when the
// decoder's next entry reaches 2^width (one entry defined per code after the first since a clear).
struct gif_code_walk {
    std::vector<uint16_t> codes;
    std::vector<uint8_t> widths;
    std::vector<int32_t> sub_block_sizes;
    bool ended = false;     // the end code was read
    int64_t bits_used = 0;  // through the end code
    int64_t bits_total = 0; // bytes of data x 8
    int final_next = 0;     // the decoder's next entry after the last data code
    int final_width = 0;    // and its code width then
};
// data points at the first sub-block's count byte.
[[nodiscard]] gif_code_walk walk_gif_codes(const uint8_t *data, std::size_t size, int root_size);

// A GIF stream put together record by record: a GIF89a header with a global table of
// `global_entries` (none when 0), then graphic controls, extensions, images and the trailer. The
// colour tables hold colour_table(entries, seed): seed 1 for the global one, 100 for local ones.
class gif_stream_builder
{
  public:
    gif_stream_builder(int width, int height, int global_entries);
    // transparent < 0: no transparency.
    gif_stream_builder &graphic_control(int transparent, int delay, int disposal);
    gif_stream_builder &extension(int label, const std::vector<uint8_t> &payload);
    // data: the image's sub-blocks, terminator included.
    gif_stream_builder &image(int left, int top, int width, int height, bool interlaced, int local_entries,
                              int min_code_size, const std::vector<uint8_t> &data);
    gif_stream_builder &trailer();
    [[nodiscard]] static std::vector<uint8_t> colour_table(int entries, int seed);

    std::vector<uint8_t> out;
    std::vector<uint8_t> global;
    std::vector<std::size_t> data_offsets; // where each image's sub-blocks begin
};

} // namespace orveln1::test
