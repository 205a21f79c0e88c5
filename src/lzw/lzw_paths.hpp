// SPDX-License-Identifier: MIT
// Which of the decoders' alternative paths a call takes where the choice rests on the CPU: chosen
// once per call by lzw_choose_paths. The test build links its own definition of it in place of the
// library's, so that every path runs under the tests on every target, whatever the CPU would pick.
#pragma once

namespace orveln1
{

struct lzw_paths {
    // 32-bit x86: the decoders hold the table's words in SSE2 registers (see lzw_xmm_word).
    bool sse2_words = false;
    // TIFF runs within a row are filled by 16-byte blocks at fixed places (see tif_fill_run).
    bool blended_fill = false;
};

// The paths this CPU takes: every SSE2 path where the CPU has SSE2 (every x86-64 CPU does), none
// elsewhere.
[[nodiscard]] lzw_paths lzw_choose_paths() noexcept;

// What the CPU offers: the paths lzw_choose_paths takes by default.
[[nodiscard]] inline lzw_paths lzw_cpu_paths() noexcept
{
#if defined(__x86_64__)
    return {.sse2_words = false, .blended_fill = true};
#elif defined(__i386__)
    // Read from what the runtime found at load time: no cpuid per call.
    __builtin_cpu_init();
    const bool sse2 = __builtin_cpu_supports("sse2") != 0;
    return {.sse2_words = sse2, .blended_fill = sse2};
#else
    return {};
#endif
}

} // namespace orveln1
