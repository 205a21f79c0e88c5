// SPDX-License-Identifier: MIT
// Working memory of the codecs: lzw_alloc/lzw_free, an owner that releases on every path, and the
// counters and fault injection through which tests prove that no path leaks or mishandles failure.
#pragma once

#include <cstddef>
#include <cstdint>

namespace orveln1
{

// Obtains a block of the given size (not cleared); null when it cannot be had.
[[nodiscard]] void *lzw_alloc(std::size_t bytes) noexcept;
// Releases a block from lzw_alloc; null is ignored. Returns 0.
int32_t lzw_free(void *address) noexcept;

// Owns one block from lzw_alloc for the length of a codec call.
class lzw_block
{
  public:
    explicit lzw_block(std::size_t bytes) noexcept : address_(static_cast<uint8_t *>(lzw_alloc(bytes))) {}
    ~lzw_block() { lzw_free(address_); }
    lzw_block(const lzw_block &) = delete;
    lzw_block &operator=(const lzw_block &) = delete;

    [[nodiscard]] uint8_t *get() const noexcept { return address_; }
    explicit operator bool() const noexcept { return address_ != nullptr; }

  private:
    uint8_t *address_;
};

// Accounting for tests and benchmarks. Counters are process-wide and atomic.
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
