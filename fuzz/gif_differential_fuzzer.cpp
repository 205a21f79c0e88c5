// SPDX-License-Identifier: MIT
// Differential fuzz target for decode_gif: arbitrary image data, decoded through the entry point
// and by the byte-at-a-time reference model, must give the host the same rows and the same result.
// The input's last eight bytes steer: width, height, depth, code_size_word and the refused row.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include "orveln1.h"
#include "support/lzw_reference_model.hpp"
#include "support/memory_instrumented.hpp"

using namespace orveln1;
using namespace orveln1::test;

namespace
{

constexpr std::size_t steering_bytes = 8;
constexpr int32_t refusal_value = -7;

struct gif_host {
    const uint8_t *data;
    std::size_t size;
    std::size_t pos;
    const reference_decode *expected;
    int64_t refuse_at;
    std::size_t calls;
};
gif_host *current = nullptr;

[[noreturn]] void differ(const char *what, std::size_t at, long long got, long long want)
{
    std::fprintf(stderr, "gif_differential: %s differs at %zu: decoder %lld, model %lld\n", what, at, got, want);
    std::abort();
}

int32_t ORVELN1_CDECL read_input(int32_t, uint8_t *buffer, int32_t count)
{
    gif_host &host = *current;
    std::size_t n = count < 0 ? 0 : static_cast<std::size_t>(count);
    if (n > host.size - host.pos)
        n = host.size - host.pos;
    for (std::size_t i = 0; i < n; ++i)
        buffer[i] = host.data[host.pos + i];
    host.pos += n;
    return static_cast<int32_t>(n);
}

// Each row is checked as it arrives against the model's row of that call.
int32_t ORVELN1_CDECL take_row(const uint8_t *row, int32_t, int32_t row_index, int32_t row_bytes)
{
    gif_host &host = *current;
    const std::size_t k = host.calls++;
    if (k >= host.expected->rows.size())
        differ("row count", k, static_cast<long long>(k + 1), static_cast<long long>(host.expected->rows.size()));
    const reference_row &want = host.expected->rows[k];
    if (row_index != want.index)
        differ("row index of call", k, row_index, want.index);
    if (static_cast<std::size_t>(row_bytes) != want.bytes.size())
        differ("row length of call", k, row_bytes, static_cast<long long>(want.bytes.size()));
    for (std::size_t i = 0; i < want.bytes.size(); ++i)
        if (row[i] != want.bytes[i])
            differ("row byte of call", k, static_cast<long long>(i), static_cast<long long>(want.bytes[i]));
    return static_cast<int64_t>(k) == host.refuse_at ? refusal_value : 0;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size)
{
    if (size < steering_bytes)
        return 0;
    const uint8_t *steer = data + size - steering_bytes;
    // Small images (0 to 299 pixels each way, 0 refused), so that the model stays quick.
    const int32_t width = (steer[0] | steer[1] << 8) % 300;
    const int32_t height = (steer[2] | steer[3] << 8) % 300;
    // Mostly depths the decoder serves; now and then any value, to reach the refusals.
    constexpr int served[4] = {8, 4, 1, 8};
    const int depth = (steer[4] & 0x80) ? (steer[4] & 0x3F) : served[steer[4] & 3];
    const int32_t code_size_word = steer[5] | steer[6] << 8;
    const int64_t refuse_at = steer[7] == 0xFF ? -1 : steer[7];

    const std::vector<uint8_t> sub_blocks(data, data + size - steering_bytes);
    const reference_decode expected =
        gif_reference_decode(sub_blocks, {width, height, depth, code_size_word}, {refuse_at, refusal_value});

    uint8_t header[40] = {};
    header[0] = 40;
    for (int i = 0; i < 4; ++i) {
        header[4 + i] = static_cast<uint8_t>(static_cast<uint32_t>(width) >> (8 * i));
        header[8 + i] = static_cast<uint8_t>(static_cast<uint32_t>(height) >> (8 * i));
    }
    header[14] = static_cast<uint8_t>(depth);

    // The read buffer is a block of exactly the documented size, so that any access past it is caught.
    auto read_buffer = std::make_unique<uint8_t[]>(ORVELN1_GIF_READ_BUFFER_BYTES);
    gif_host host{sub_blocks.data(), sub_blocks.size(), 0, &expected, refuse_at, 0};
    current = &host;
    set_callbacks(read_input, nullptr, 0, nullptr);
    const int32_t r = decode_gif(0, read_buffer.get(), header, take_row, 0, code_size_word);
    current = nullptr;
    if (host.calls != expected.rows.size())
        differ("row count", host.calls, static_cast<long long>(host.calls),
               static_cast<long long>(expected.rows.size()));
    if (r != expected.result)
        differ("result", host.calls, r, expected.result);
    if (memory_stats_now().live != 0)
        differ("blocks held after the call", 0, static_cast<long long>(memory_stats_now().live), 0);
    return 0;
}
