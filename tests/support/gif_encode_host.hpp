// SPDX-License-Identifier: MIT
// Test host for the GIF encoders: images with their headers and padded rows, a write_fn/get_row_fn
// pair that records every call and can fail at the k-th one, and readers of the written stream.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "boundary/callbacks.hpp"

namespace orveln1::gif_encode_test
{

// An indexed image: one palette index a pixel, top row first.
struct encode_image {
    int32_t width = 1;
    int32_t height = 1;
    int depth = 8;
    std::vector<uint8_t> pixels;
    bool transparent = false;
    uint8_t transparent_index = 0;
    uint32_t header_size = 40; // distance from the header to the palette

    // The bitmap info header followed by a palette of 256 entries (blue, green, red, reserved).
    [[nodiscard]] std::vector<uint8_t> header() const;
    // Row y in the packed layout, padded to a multiple of 4 bytes.
    [[nodiscard]] std::vector<uint8_t> packed_row(int32_t y) const;
    // Palette entry i's red, green and blue as the header gives them.
    [[nodiscard]] static uint8_t red(int i) { return static_cast<uint8_t>(i * 7 + 1); }
    [[nodiscard]] static uint8_t green(int i) { return static_cast<uint8_t>(i * 13 + 2); }
    [[nodiscard]] static uint8_t blue(int i) { return static_cast<uint8_t>(255 - i * 3); }
};

enum class image_kind { flat, noise, gradient, stripes };
// Pixels of the given kind, each below 2^depth; noise is a fixed pseudo-random sequence.
[[nodiscard]] encode_image make_image(int32_t width, int32_t height, int depth, image_kind kind, uint32_t seed = 1);

// One callback as the host saw it: a write of `value` bytes, or a request for row `value`.
struct host_event {
    char kind; // 'w' or 'r'
    int32_t value;
    bool operator==(const host_event &) const = default;
};

// Records the encoder's callbacks into one host at a time per handle; io_handle and row_context
// are the host's slot number.
class encode_host
{
  public:
    explicit encode_host(const encode_image &image);
    ~encode_host();
    encode_host(const encode_host &) = delete;
    encode_host &operator=(const encode_host &) = delete;

    [[nodiscard]] int32_t handle() const { return handle_; }
    [[nodiscard]] static codec_callbacks callbacks();
    static int32_t write(int32_t io_handle, const uint8_t *buffer, int32_t count);
    static int32_t get_row(int32_t row_context, uint8_t *buffer, int32_t row_index, int32_t count);

    // The k-th write (from 1) takes `short_by` bytes fewer than given; 0: never.
    int64_t fail_write_at = 0;
    int32_t short_by = 1;
    // The k-th row request (from 1) returns row_failure; 0: never.
    int64_t fail_row_at = 0;
    int32_t row_failure = -5;

    std::vector<uint8_t> output;
    std::vector<host_event> events;
    std::vector<int32_t> rows_requested;
    int64_t writes = 0;
    int64_t row_requests = 0;
    int64_t calls_after_failure = 0; // callbacks made after one of ours reported a failure
    bool bad_row_count = false;      // a row request asked for other than the padded row length

  private:
    const encode_image &image_;
    int32_t handle_;
    bool failed_ = false;
};

// The sizes of the write calls only.
[[nodiscard]] std::vector<int32_t> write_sizes(const std::vector<host_event> &events);

// A GIF read back by giflib from memory.
struct giflib_result {
    bool ok = false;
    std::string error;
    int32_t width = 0, height = 0;
    bool interlaced = false;
    int transparent_index = -1; // -1: no transparency
    int colour_count = 0;
    std::vector<uint8_t> colours; // red, green, blue per entry
    std::vector<uint8_t> pixels;  // top row first, de-interlaced
};
[[nodiscard]] giflib_result decode_with_giflib(const std::vector<uint8_t> &gif);

// The LZW codes of one image's data, read as a GIF decoder reads them: the width grows when the
// decoder's next entry reaches 2^width (one entry defined per code after the first since a clear).
struct code_trace {
    std::vector<uint16_t> codes;
    std::vector<uint8_t> widths;
    std::vector<int32_t> sub_block_sizes;
    bool ended = false;         // the end code was read
    bool overran = false;       // a code needed bits past the data
    int64_t bits_used = 0;      // through the end code
    int64_t bits_total = 0;     // bytes of data x 8
    std::size_t trailer_at = 0; // offset of the byte after the block terminator
    int final_next = 0;         // the decoder's next entry after the last data code
    int final_width = 0;        // and its code width then
};
// data points at the first sub-block's count byte.
[[nodiscard]] code_trace trace_gif_codes(const uint8_t *data, std::size_t size, int root_size);

} // namespace orveln1::gif_encode_test
