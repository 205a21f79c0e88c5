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
#include <vector>

#include "support/image_kit.hpp"
#include "support/lzw_reference_model.hpp"
#include "support/memory_instrumented.hpp"

namespace codec_fuzz
{

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

    int32_t take(uint8_t *buffer, int32_t count, std::size_t piece = SIZE_MAX)
    {
        const std::size_t n = std::min({static_cast<std::size_t>(count < 0 ? 0 : count), piece, size - pos});
        // An empty input has no bytes at all, not even an address to copy nothing from.
        if (n != 0)
            std::memcpy(buffer, data + pos, n);
        pos += n;
        return static_cast<int32_t>(n);
    }
};

// Mostly depths the GIF decoder serves; now and then any value, to reach the refusals.
inline int steered_gif_depth(uint8_t steer)
{
    constexpr int served[4] = {8, 4, 1, 8};
    return (steer & 0x80) ? (steer & 0x3F) : served[steer & 3];
}

// A decoder's put_row calls checked one by one against the model's, then its result.
class model_check
{
  public:
    model_check(const char *target, const orveln1::test::reference_decode &expected, int64_t refuse_at, int32_t refusal)
        : target_(target), expected_(expected), refuse_at_(refuse_at), refusal_(refusal)
    {
    }

    // The answer to the call: the refusal at the refused row, else 0. `compared` bytes of the row
    // are compared; the model's row length too when row_bytes is not negative.
    int32_t row(const uint8_t *row, int32_t row_index, int32_t row_bytes, std::size_t compared)
    {
        const std::size_t k = calls_++;
        if (k >= expected_.rows.size())
            differ("row count", k, static_cast<long long>(k + 1), static_cast<long long>(expected_.rows.size()));
        const orveln1::test::reference_row &want = expected_.rows[k];
        if (row_index != want.index)
            differ("row index of call", k, row_index, want.index);
        if (row_bytes >= 0 && static_cast<std::size_t>(row_bytes) != want.bytes.size())
            differ("row length of call", k, row_bytes, static_cast<long long>(want.bytes.size()));
        for (std::size_t i = 0; i < compared; ++i)
            if (row[i] != want.bytes[i])
                differ("row byte of call", k, static_cast<long long>(i), static_cast<long long>(want.bytes[i]));
        return static_cast<int64_t>(k) == refuse_at_ ? refusal_ : 0;
    }

    // After the call: as many rows as the model, its result, no block held.
    void finish(int32_t result)
    {
        if (calls_ != expected_.rows.size())
            differ("row count", calls_, static_cast<long long>(calls_), static_cast<long long>(expected_.rows.size()));
        if (result != expected_.result)
            differ("result", calls_, result, expected_.result);
        if (orveln1::memory_stats_now().live != 0)
            differ("blocks held after the call", 0, static_cast<long long>(orveln1::memory_stats_now().live), 0);
    }

  private:
    [[noreturn]] void differ(const char *what, std::size_t at, long long got, long long want) const
    {
        std::fprintf(stderr, "%s: %s differs at %zu: decoder %lld, model %lld\n", target_, what, at, got, want);
        std::abort();
    }

    const char *target_;
    const orveln1::test::reference_decode &expected_;
    int64_t refuse_at_;
    int32_t refusal_;
    std::size_t calls_ = 0;
};

} // namespace codec_fuzz
