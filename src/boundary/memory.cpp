// SPDX-License-Identifier: MIT
// lzw_alloc/lzw_free over Windows global memory or the C heap. This file defines nothing else, so
// that a test build can link an instrumented pair in its place (tests/support/memory_instrumented).
#include "boundary/memory.hpp"

#include <cstdlib>

#if defined(_WIN32)
#include <windows.h>
#endif

namespace orveln1
{

void *lzw_alloc(std::size_t bytes) noexcept
{
    // A zero-byte request still yields a distinct block, as the codecs never ask for one anyway.
    if (bytes == 0)
        bytes = 1;
#if defined(_WIN32)
    HGLOBAL handle = GlobalAlloc(GMEM_MOVEABLE, bytes);
    if (handle == nullptr)
        return nullptr;
    void *address = GlobalLock(handle);
    if (address == nullptr) {
        // A handle that cannot be locked is of no use to anyone: give it back.
        GlobalFree(handle);
        return nullptr;
    }
    return address;
#else
    return std::malloc(bytes);
#endif
}

int32_t lzw_free(void *address) noexcept
{
    if (address == nullptr)
        return 0;
#if defined(_WIN32)
    HGLOBAL handle = GlobalHandle(address);
    GlobalUnlock(handle);
    GlobalFree(handle);
#else
    std::free(address);
#endif
    return 0;
}

} // namespace orveln1
