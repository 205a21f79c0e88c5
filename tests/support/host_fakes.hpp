// SPDX-License-Identifier: MIT
// A scriptable host for codec tests: a byte source that hands data over in chosen pieces, a byte
// sink, row sources and sinks, all recording every call, plus small helpers to build inputs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "boundary/callbacks.hpp"

namespace orveln1::test
{

// One host. io_handle and row_context are both its handle, which the static callbacks map back to
// it, so several hosts can live side by side in one test.
int32_t fake_put_row(const uint8_t *row, int32_t row_context, int32_t row_index, int32_t row_bytes);

class fake_host
{
  public:
    fake_host();
    ~fake_host();
    fake_host(const fake_host &) = delete;
    fake_host &operator=(const fake_host &) = delete;

    [[nodiscard]] int32_t handle() const noexcept { return handle_; }
    // read, write and put_row of this kind of host; the registry takes the same three.
    [[nodiscard]] static codec_callbacks callbacks() noexcept;
    [[nodiscard]] static get_row_fn get_row() noexcept;
    // Registers read, write and put_row with set_callbacks' store.
    static void register_callbacks() noexcept;

    // --- compressed input (read_fn) ---
    std::vector<uint8_t> input;
    std::size_t input_pos = 0;
    // Bytes to deliver for the call-th read (0-based) asking `asked`; default: all that fit.
    // The piece is cut to what is left; a result can be overridden with read_result.
    std::function<int32_t(int32_t asked, int call)> read_piece;
    // When set, the value read_fn returns instead of the count delivered.
    std::function<int32_t(int32_t delivered, int32_t asked, int call)> read_result;
    struct read_call {
        const uint8_t *buffer;
        int32_t count;
        int32_t io_handle;
    };
    std::vector<read_call> reads;

    // --- decoded rows (put_row_fn) ---
    // Bytes kept of each row put; decode_tif passes 0 as the row length, so the test says.
    std::size_t put_row_bytes = 0;
    // Off: rows are only joined (see rows_joined), not recorded one by one; for millions of rows.
    bool record_puts = true;
    std::size_t put_count = 0;
    struct put_call {
        std::vector<uint8_t> bytes;
        const uint8_t *row;
        int32_t row_context;
        int32_t index;
        int32_t fourth;
    };
    std::vector<put_call> puts;
    // Result of the call-th put (0-based); default 0.
    std::function<int32_t(int call)> put_result;

    // --- compressed output (write_fn) ---
    std::vector<uint8_t> output;
    std::vector<int32_t> write_counts;
    // Result of the call-th write; default the count. Bytes are kept only when it equals the count.
    std::function<int32_t(int32_t count, int call)> write_result;

    // --- rows to encode (get_row_fn) ---
    // Fills the buffer for row `index`; default leaves it as it is.
    std::function<void(uint8_t *buffer, int32_t index, int32_t count)> fill_row;
    struct get_call {
        uint8_t *buffer;
        int32_t index;
        int32_t count;
        int32_t row_context;
    };
    std::vector<get_call> gets;
    // Result of the call-th get; default 0.
    std::function<int32_t(int call)> get_result;

    // Every call in order: 'r' read, 'p' put_row, 'w' write, 'g' get_row.
    std::string trail;

    // The kept bytes of every row put, one after the other.
    [[nodiscard]] std::vector<uint8_t> rows_joined() const;

  private:
    friend int32_t fake_put_row(const uint8_t *, int32_t, int32_t, int32_t);
    std::vector<uint8_t> joined_;
    int32_t handle_;
};

// Read pieces: all at once, a fixed size, or sizes drawn from a seeded generator.
std::function<int32_t(int32_t, int)> pieces_of(int32_t size);
std::function<int32_t(int32_t, int)> random_pieces(uint32_t seed, int32_t largest);

// Packs codes of the given widths, most significant bit first (TIFF) or least (GIF), padding the
// last byte with zero bits.
struct sized_code {
    uint32_t code;
    int width;
};
std::vector<uint8_t> pack_codes(const std::vector<sized_code> &codes, bool msb_first);

// A bitmap info header (40 bytes) followed by a palette of 2^depth grey entries (none above 8).
std::vector<uint8_t> make_image_header(int32_t width, int32_t height, int depth, uint32_t compression = 0);

// Reproducible test content.
enum class content { flat, noise, gradient };
std::vector<uint8_t> make_bytes(content kind, std::size_t count, uint32_t seed);

} // namespace orveln1::test
