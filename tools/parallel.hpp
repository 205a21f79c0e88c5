// SPDX-License-Identifier: MIT
// Runs independent pieces of work (TIFF strips) on several threads; the pieces write to disjoint
// places, so the result does not depend on the number of threads.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <thread>
#include <vector>

namespace orveln1::tool
{

[[nodiscard]] inline unsigned thread_count(unsigned wanted, std::size_t pieces)
{
    unsigned n = wanted != 0 ? wanted : std::max(1u, std::thread::hardware_concurrency());
    return static_cast<unsigned>(std::min<std::size_t>(n, std::max<std::size_t>(pieces, 1)));
}

// Calls work(i) once for every i below count, on `threads` threads taking pieces in turn.
template <typename Work> void parallel_for(std::size_t count, unsigned threads, Work work)
{
    const unsigned n = thread_count(threads, count);
    if (n <= 1) {
        for (std::size_t i = 0; i < count; ++i)
            work(i);
        return;
    }
    std::atomic<std::size_t> next{0};
    std::vector<std::thread> pool;
    pool.reserve(n);
    for (unsigned t = 0; t < n; ++t)
        pool.emplace_back([&] {
            for (std::size_t i = next++; i < count; i = next++)
                work(i);
        });
    for (auto &thread : pool)
        thread.join();
}

} // namespace orveln1::tool
