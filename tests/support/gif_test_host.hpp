// SPDX-License-Identifier: MIT
// Test host for the GIF decoder: in-memory byte sources and row recorders reached through the
// 32-bit io_handle / row_context, failure injection, image headers, and a small reference GIF LZW
// encoder that builds image data (well-formed or deliberately odd) code by code.
#pragma once

#include <cstdint>
#include <vector>

#include "boundary/callbacks.hpp"
#include "support/host_fakes.hpp"

namespace orveln1::test
{

// Compressed input for read_fn. Every call is logged (the count asked); reading can be made to
// fail from a given call on.
struct gif_byte_source {
    std::vector<uint8_t> data;
    std::size_t pos = 0;
    std::vector<int32_t> asked;  // count of every read_fn call, in order
    int64_t fail_from_call = -1; // 0-based call from which read_fn returns fail_value
    int32_t fail_value = -1;
    std::vector<int> event_log; // shared with a row recorder: 'r' per read, 'p' per row
};

// What put_row_fn received. Each row is copied in full (row_bytes bytes, as a host may read).
struct gif_row_recorder {
    std::vector<int32_t> indices;
    std::vector<int32_t> row_bytes;
    std::vector<std::vector<uint8_t>> rows;
    int64_t fail_at_call = -1; // 0-based call at which put_row_fn returns fail_value
    int32_t fail_value = -7;
    std::vector<int> *event_log = nullptr;
    bool keep_all = true; // false: count the calls and keep only the last row (for huge row counts)
    int64_t calls = 0;
};

// Handles for the two records above; valid while the object lives.
int32_t source_handle(gif_byte_source &source);
int32_t recorder_handle(gif_row_recorder &recorder);

int32_t ORVELN1_CDECL source_read(int32_t io_handle, uint8_t *buffer, int32_t count);
int32_t ORVELN1_CDECL recorder_put_row(const uint8_t *row, int32_t row_context, int32_t row_index, int32_t row_bytes);

inline codec_callbacks source_callbacks()
{
    codec_callbacks cb;
    cb.read = source_read;
    return cb;
}

// Codes packed least significant bit first, each at its own width.
class lsb_code_writer
{
  public:
    void put(uint32_t code, uint32_t width);
    [[nodiscard]] std::vector<uint8_t> bytes() const;

  private:
    std::vector<uint8_t> bytes_;
    uint32_t bits_ = 0;
    uint32_t bit_count_ = 0;
};

// The bytes cut into data sub-blocks of at most piece bytes, then the block terminator (unless
// terminate is false).
std::vector<uint8_t> sub_blocks(const std::vector<uint8_t> &bytes, int piece = 255, bool terminate = true);

// A plain GIF LZW encoder that tracks the decoder's code width exactly. clear_when_full: send a
// clear code when the table is full (else go on with a full table, codes 12 bits wide).
struct gif_encode_options {
    bool clear_when_full = true;
    bool end_code = true;
};
std::vector<uint8_t> gif_encode_codes(const std::vector<uint8_t> &pixels, int root_size,
                                      gif_encode_options options = {});

// Codes given by hand, each written at the width a GIF decoder reads it with (the widths follow
// the decoder's table as the codes define entries, with clear codes resetting it).
std::vector<uint8_t> gif_pack_decoder_codes(const std::vector<uint32_t> &codes, int root_size);

// The pixels of a simple image kind: 0 flat, 1 noise, 2 gradient, 3 stripes.
std::vector<uint8_t> make_pixels(int kind, int32_t width, int32_t height, int colours, uint32_t seed = 1);

// GIF's four-pass order of the rows of an image of the given height.
std::vector<int32_t> interlace_order(int32_t height);

} // namespace orveln1::test
