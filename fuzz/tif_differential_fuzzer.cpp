// SPDX-License-Identifier: MIT
// Differential fuzz target for decode_tif: arbitrary strip bytes, decoded through the entry point
// and by the byte-at-a-time reference model, must give the host the same rows and the same result.
// The input's last six bytes steer: row length, row count, read piece size, refused row, first row.
#include "codec_fuzz_support.hpp"
#include "orveln1.h"

using namespace codec_fuzz;

namespace
{
// The row buffer's bytes before the first row, which the rows owed after an early end show.
constexpr uint8_t buffer_fill = 0xEE;
uint32_t row_length = 0;
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size)
{
    if (size < 6)
        return 0;
    const uint8_t *t = data + size - 6;
    // Rows of 0 (refused) to 599 bytes; with no row limit at least 16 bytes, so that a strip that
    // expands a thousandfold still gives a bounded number of rows to compare.
    const uint32_t row_count = t[2] < 200 ? t[2] : (t[2] - 200u) * 50u; // 0: no limit
    row_length = (static_cast<uint32_t>(t[0]) << 8 | t[1]) % 600;
    if (row_count == 0 && row_length != 0)
        row_length = std::max<uint32_t>(row_length, 16);
    const int64_t refuse_at = t[4] == 0xFF ? -1 : t[4];
    const int32_t first_row = static_cast<int32_t>(t[5]) - 128;

    const std::vector<uint8_t> strip(data, data + size - 6);
    const reference_decode expected =
        tif_reference_decode(strip, {first_row, row_length, row_count, buffer_fill}, {refuse_at, refusal});
    // Host buffers of exactly the documented sizes, so that any access past them is caught.
    auto read_buffer = std::make_unique<uint8_t[]>(ORVELN1_TIF_READ_BUFFER_BYTES);
    const std::size_t row_buffer_bytes = row_length + ORVELN1_TIF_ROW_SLACK_BYTES;
    auto row_buffer = std::make_unique<uint8_t[]>(row_buffer_bytes);
    std::memset(row_buffer.get(), buffer_fill, row_buffer_bytes);

    // The decoder is handed at most `piece` bytes a call and must ask again until a code fits.
    input = {strip.data(), strip.size(), 0, t[3] == 0 ? std::size_t{ORVELN1_TIF_READ_BUFFER_BYTES} : t[3]};
    check = {"tif_differential", &expected, refuse_at};
    set_callbacks(read_input, nullptr, 0, [](const uint8_t *row, int32_t, int32_t row_index, int32_t) {
        return check.row(row, row_index, -1, row_length);
    });
    check.finish(decode_tif(0, read_buffer.get(), first_row, row_length, row_buffer.get(), row_count, 0));
    return 0;
}
