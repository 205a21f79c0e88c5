// SPDX-License-Identifier: MIT
// Differential fuzz target for decode_tif: arbitrary strip bytes, decoded through the entry point
// and by the byte-at-a-time reference model, must give the host the same rows and the same result.
// The input's last six bytes steer: row length, row count, read piece size, refused row, first row.
#include <memory>

#include "codec_fuzz_support.hpp"
#include "orveln1.h"

using namespace orveln1;
using namespace orveln1::test;
using namespace codec_fuzz;

namespace
{

constexpr std::size_t steering_bytes = 6;
constexpr int32_t refusal_value = -7;
// The row buffer's bytes before the first row, which the rows owed after an early end show.
constexpr uint8_t buffer_fill = 0xEE;

byte_source input;
std::size_t piece = 0;
uint32_t row_length = 0;
model_check *check = nullptr;

// Hands over at most `piece` bytes a call: the decoder must ask again until a code fits.
int32_t ORVELN1_CDECL read_piece(int32_t, uint8_t *buffer, int32_t count)
{
    return input.take(buffer, count, piece);
}

// Each row is checked as it arrives against the model's row of that call.
int32_t ORVELN1_CDECL take_row(const uint8_t *row, int32_t, int32_t row_index, int32_t)
{
    return check->row(row, row_index, -1, row_length);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size)
{
    if (size < steering_bytes)
        return 0;
    const uint8_t *t = data + size - steering_bytes;
    // Rows of 0 (refused) to 599 bytes; with no row limit at least 16 bytes, so that a strip that
    // expands a thousandfold still gives a bounded number of rows to compare.
    const uint32_t row_count = t[2] < 200 ? t[2] : (t[2] - 200u) * 50u; // 0: no limit
    uint32_t row_bytes = (static_cast<uint32_t>(t[0]) << 8 | t[1]) % 600;
    if (row_count == 0 && row_bytes != 0)
        row_bytes = std::max<uint32_t>(row_bytes, 16);
    piece = t[3] == 0 ? ORVELN1_TIF_READ_BUFFER_BYTES : t[3];
    const int64_t refuse_at = t[4] == 0xFF ? -1 : t[4];
    const int32_t first_row = static_cast<int32_t>(t[5]) - 128;

    const std::vector<uint8_t> strip(data, data + size - steering_bytes);
    const reference_decode expected =
        tif_reference_decode(strip, {first_row, row_bytes, row_count, buffer_fill}, {refuse_at, refusal_value});

    // Host buffers of exactly the documented sizes, so that any access past them is caught.
    auto read_buffer = std::make_unique<uint8_t[]>(ORVELN1_TIF_READ_BUFFER_BYTES);
    const std::size_t row_buffer_bytes = row_bytes + ORVELN1_TIF_ROW_SLACK_BYTES;
    auto row_buffer = std::make_unique<uint8_t[]>(row_buffer_bytes);
    std::memset(row_buffer.get(), buffer_fill, row_buffer_bytes);

    model_check checked("tif_differential", expected, refuse_at, refusal_value);
    input = byte_source{strip.data(), strip.size(), 0};
    row_length = row_bytes;
    check = &checked;
    set_callbacks(read_piece, nullptr, 0, take_row);
    const int32_t r = decode_tif(0, read_buffer.get(), first_row, row_bytes, row_buffer.get(), row_count, 0);
    check = nullptr;
    checked.finish(r);
    return 0;
}
