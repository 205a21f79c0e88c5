// SPDX-License-Identifier: MIT
// The test build's lzw_alloc/lzw_free: the C heap with block accounting, failure injection and fill
// patterns. Linked before the core, so that the core's plain pair is never pulled in.
#include "support/memory_instrumented.hpp"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <unordered_map>

#include "boundary/memory.hpp"

namespace orveln1
{
namespace
{

std::atomic<int64_t> blocks_obtained{0}, blocks_live{0}, bytes_live{0}, bytes_peak{0}, fail_countdown{0};
std::atomic<int> fill_byte{-1};

// Sizes of live blocks, so that a release can be accounted in bytes. Kept beside the blocks, not in
// front of them, so that a write before a block still lands outside it where a sanitizer sees it.
std::unordered_map<const void *, std::size_t> live_sizes;
std::mutex live_sizes_lock;

bool injected_failure() noexcept
{
    int64_t left = fail_countdown.load(std::memory_order_relaxed);
    while (left > 0 && !fail_countdown.compare_exchange_weak(left, left - 1, std::memory_order_relaxed)) {
    }
    return left == 1;
}

} // namespace

void *lzw_alloc(std::size_t bytes) noexcept
{
    if (injected_failure())
        return nullptr;
    // A zero-byte request still yields a distinct block, as the codecs never ask for one anyway.
    void *block = std::malloc(bytes == 0 ? 1 : bytes);
    if (block == nullptr)
        return nullptr;
    {
        const std::lock_guard<std::mutex> hold(live_sizes_lock);
        live_sizes[block] = bytes;
    }
    if (int pattern = fill_byte.load(std::memory_order_relaxed); pattern >= 0)
        std::memset(block, pattern, bytes);

    blocks_obtained.fetch_add(1, std::memory_order_relaxed);
    blocks_live.fetch_add(1, std::memory_order_relaxed);
    const int64_t now =
        bytes_live.fetch_add(static_cast<int64_t>(bytes), std::memory_order_relaxed) + static_cast<int64_t>(bytes);
    int64_t peak = bytes_peak.load(std::memory_order_relaxed);
    while (now > peak && !bytes_peak.compare_exchange_weak(peak, now, std::memory_order_relaxed)) {
    }
    return block;
}

int32_t lzw_free(void *address) noexcept
{
    if (address == nullptr)
        return 0;
    std::size_t bytes = 0;
    {
        const std::lock_guard<std::mutex> hold(live_sizes_lock);
        if (const auto it = live_sizes.find(address); it != live_sizes.end()) {
            bytes = it->second;
            live_sizes.erase(it);
        }
    }
    blocks_live.fetch_sub(1, std::memory_order_relaxed);
    bytes_live.fetch_sub(static_cast<int64_t>(bytes), std::memory_order_relaxed);
    std::free(address);
    return 0;
}

memory_stats memory_stats_now() noexcept
{
    return memory_stats{blocks_obtained.load(), blocks_live.load(), bytes_live.load(), bytes_peak.load()};
}

void memory_stats_reset() noexcept
{
    blocks_obtained = 0;
    bytes_peak = bytes_live.load();
    fail_countdown = 0;
}

void memory_fail_at(int64_t k) noexcept
{
    fail_countdown = k < 0 ? 0 : k;
}

void memory_fill_pattern(int pattern) noexcept
{
    fill_byte = pattern;
}

} // namespace orveln1
