// SPDX-License-Identifier: MIT
// What the codec fuzz targets share: the input handed to the decoders in pieces, the depth the GIF
// targets steer, and the row-by-row comparison of a decoder with the reference model.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <span>
#include <vector>

#include "support/image_kit.hpp"
#include "support/lzw_reference_model.hpp"
#include "support/memory_instrumented.hpp"

namespace codec_fuzz
{

using namespace orveln1;
using namespace orveln1::test;

inline void require(bool ok)
{
    if (!ok)
        __builtin_trap();
}

// Bytes handed out front to back, at most `piece` a call.
struct byte_source {
    const uint8_t *data = nullptr;
    std::size_t size = 0;
    std::size_t pos = 0;
    std::size_t piece = SIZE_MAX;

    int32_t take(uint8_t *buffer, int32_t count)
    {
        const std::size_t n = std::min({static_cast<std::size_t>(count < 0 ? 0 : count), piece, size - pos});
        // An empty input has no bytes at all, not even an address to copy nothing from.
        if (n != 0)
            std::memcpy(buffer, data + pos, n);
        pos += n;
        return static_cast<int32_t>(n);
    }
};

// What the decoder under test reads, through read_input.
inline byte_source input;

inline int32_t read_input(int32_t, uint8_t *buffer, int32_t count)
{
    return input.take(buffer, count);
}

// Mostly depths the GIF decoder serves; now and then any value, to reach the refusals.
inline int steered_gif_depth(uint8_t steer)
{
    constexpr int served[4] = {8, 4, 1, 8};
    return (steer & 0x80) ? (steer & 0x3F) : served[steer & 3];
}

constexpr int32_t refusal = -7;

// A decoder's put_row calls checked one by one against the model's, then its result; the call
// numbered refuse_at is answered with `refusal`.
struct model_check {
    const char *target = "";
    const reference_decode *expected = nullptr;
    int64_t refuse_at = -1;
    long long calls = 0;

    void expect(bool same, const char *what, long long got, long long want) const
    {
        if (same)
            return;
        std::fprintf(stderr, "%s: %s differs at call %lld: decoder %lld, model %lld\n", target, what, calls, got, want);
        std::abort();
    }

    // `compared` bytes of the row are compared; the model's row length too when row_bytes is not
    // negative.
    int32_t row(const uint8_t *row, int32_t row_index, int32_t row_bytes, std::size_t compared)
    {
        expect(calls < std::ssize(expected->rows), "row count", calls + 1, std::ssize(expected->rows));
        const reference_row &want = expected->rows[static_cast<std::size_t>(calls)];
        expect(row_index == want.index, "row index", row_index, want.index);
        expect(row_bytes < 0 || row_bytes == std::ssize(want.bytes), "row length", row_bytes, std::ssize(want.bytes));
        for (std::size_t i = 0; i < compared; ++i)
            expect(row[i] == want.bytes[i], "row byte", row[i], want.bytes[i]);
        return calls++ == refuse_at ? refusal : 0;
    }

    // After the call: as many rows as the model, its result, no block held.
    void finish(int32_t result) const
    {
        expect(calls == std::ssize(expected->rows), "row count", calls, std::ssize(expected->rows));
        expect(result == expected->result, "result", result, expected->result);
        expect(memory_stats_now().live == 0, "blocks held", memory_stats_now().live, 0);
    }
};

inline model_check check;

} // namespace codec_fuzz
