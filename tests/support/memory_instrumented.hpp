// SPDX-License-Identifier: MIT
// The test build's working memory (orveln1_core_instrumented, in place of the plain lzw_alloc/
// lzw_free): block accounting, failure of the k-th allocation and fill patterns.
#pragma once

#include <cstdint>

namespace orveln1
{

// Counters are process-wide and atomic.
struct memory_stats {
    int64_t obtained;   // blocks handed out since the last reset
    int64_t live;       // blocks handed out and not yet released
    int64_t live_bytes; // bytes in live blocks
    int64_t peak_bytes; // highest live_bytes since the last reset
};

[[nodiscard]] memory_stats memory_stats_now() noexcept;
// Clears the counters and disarms the fault; live blocks must be 0 for live_bytes to stay true.
void memory_stats_reset() noexcept;
// Makes the k-th lzw_alloc from now fail (k = 1: the next one); 0 disarms.
void memory_fail_at(int64_t k) noexcept;
// Fills every new block with this byte (a value below 0 turns it off), so that a codec that reads
// what it never wrote shows it.
void memory_fill_pattern(int pattern) noexcept;

} // namespace orveln1
