// SPDX-License-Identifier: MIT
// The scriptable host every codec test runs against: bytes in chosen pieces, a byte sink, rows
// served and received, every call on one event trail, and failure injection for each callback.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "boundary/callbacks.hpp"
#include "support/image_kit.hpp"

namespace orveln1::test
{

// One callback as the host saw it: 'r' read (value: count asked), 'w' write (count given),
// 'g' get_row (row index), 'p' put_row (row index).
struct host_event {
    char kind;
    int32_t value;
    bool operator==(const host_event &) const = default;
};

// io_handle and row_context are the host's handle, so several hosts can live side by side.
// fail_<kind>_at = k fails the k-th call of that kind (from 1) and every later one; 0 never. A
// failing read returns read_failure, a write takes short_by bytes fewer, get_row and put_row
// return get_row_failure and put_row_failure.
class test_host
{
  public:
    test_host();
    // A host serving the image's rows to get_row.
    explicit test_host(const test_image &served) : test_host() { serve_image(served); }
    ~test_host();
    test_host(const test_host &) = delete;
    test_host &operator=(const test_host &) = delete;

    [[nodiscard]] int32_t handle() const noexcept { return handle_; }
    // read, write and put_row, as a codec takes them.
    [[nodiscard]] static codec_callbacks callbacks() noexcept { return {&read, &write, &put_row}; }
    static int32_t ORVELN1_CDECL read(int32_t io_handle, uint8_t *buffer, int32_t count);
    static int32_t ORVELN1_CDECL write(int32_t io_handle, const uint8_t *buffer, int32_t count);
    static int32_t ORVELN1_CDECL get_row(int32_t row_context, uint8_t *buffer, int32_t row_index, int32_t count);
    static int32_t ORVELN1_CDECL put_row(const uint8_t *row, int32_t row_context, int32_t row_index, int32_t row_bytes);

    // --- compressed input (read) ---
    std::vector<uint8_t> input;
    std::size_t input_pos = 0;
    // Bytes to deliver for the call-th read (from 0) asking `asked`; default: all that fit.
    std::function<int32_t(int32_t asked, int call)> read_piece;
    // When set, what read reports instead of the count delivered.
    std::function<int32_t(int32_t delivered, int call)> read_claim;
    int64_t fail_read_at = 0;
    int32_t read_failure = -1;
    struct read_call {
        const uint8_t *buffer;
        int32_t count;
        int32_t io_handle;
    };
    std::vector<read_call> reads;

    // --- compressed output (write) ---
    std::vector<uint8_t> output;
    int64_t fail_write_at = 0;
    int32_t short_by = 1;
    int64_t writes = 0;

    // --- rows to encode (get_row) ---
    // The image's packed rows (serve_image), else fill_row, else the buffer as it is.
    void serve_image(const test_image &image) { image_ = &image; }
    std::function<void(uint8_t *buffer, int32_t index, int32_t count)> fill_row;
    // A fill_row serving row k as data[k * stride ..] (stride bytes, zeros past the end); data outlives the host.
    void serve_bytes(const std::vector<uint8_t> &data, std::size_t stride);
    int64_t fail_get_row_at = 0;
    int32_t get_row_failure = -5;
    struct get_call {
        uint8_t *buffer;
        int32_t index;
        int32_t count;
        int32_t row_context;
    };
    std::vector<get_call> gets;
    bool bad_row_count = false; // a served row was asked for with other than its padded length

    // --- decoded rows (put_row) ---
    // Bytes kept of each row put; 0: the call's row_bytes (decode_tif gives 0, so its tests say).
    std::size_t put_row_bytes = 0;
    bool record_puts = true; // off: rows only counted, joined and the last kept (millions of rows)
    bool join_rows = true;   // off: not even joined
    int64_t fail_put_row_at = 0;
    int32_t put_row_failure = -7;
    std::size_t put_count = 0;
    struct put_call {
        std::vector<uint8_t> bytes;
        const uint8_t *row;
        int32_t row_context;
        int32_t index;
        int32_t row_bytes;
    };
    std::vector<put_call> puts;
    std::vector<uint8_t> last_row;

    // Every call in order; calls made after an injected failure.
    std::vector<host_event> events;
    int64_t calls_after_failure = 0;

    // The event kinds in order ("rrp..."); the values of one kind.
    [[nodiscard]] std::string trail() const;
    [[nodiscard]] std::vector<int32_t> values(char kind) const;
    // The kept bytes of every row put, one after the other.
    [[nodiscard]] const std::vector<uint8_t> &rows_joined() const noexcept { return joined_; }
    // The first `width` bytes of every row put, one after the other (pixels at depth 8).
    [[nodiscard]] std::vector<uint8_t> pixels(int32_t width) const;

  private:
    bool note_call(char kind, int32_t value, int64_t fail_at);

    std::vector<uint8_t> joined_;
    const test_image *image_ = nullptr;
    int64_t counts_[4] = {};
    bool failed_ = false;
    int32_t handle_;
};

// Read pieces: a fixed size, or sizes drawn from a seeded generator.
std::function<int32_t(int32_t, int)> pieces_of(int32_t size);
std::function<int32_t(int32_t, int)> random_pieces(uint32_t seed, int32_t largest);

} // namespace orveln1::test
