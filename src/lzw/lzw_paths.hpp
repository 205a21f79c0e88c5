// SPDX-License-Identifier: MIT
// Which of the codecs' alternative paths a call takes: chosen once per call by lzw_choose_paths.
// Where the choice rests on the CPU, the library takes what the CPU offers; where it rests on the
// data (how roots are taken, whether short strings take their own loop, the encoders' dictionary
// form), the library judges from the data as it goes. The test build links its own definition of
// lzw_choose_paths in place of the library's, which can pin every one of these choices, so that
// every path runs under the tests on every target, whatever the CPU or the data would pick.
#pragma once

#include <cstdint>

namespace orveln1
{

// A choice pinned by the test build, or left to the data.
constexpr int8_t LZW_BY_DATA = -1;

struct lzw_paths {
    // 32-bit x86: the decoders hold the table's words in SSE2 registers (see lzw_xmm_word).
    bool sse2_words = false;
    // TIFF runs within a row are filled by 16-byte blocks at fixed places (see tif_fill_run).
    bool blended_fill = false;
    // The decoders' verdict on roots: an lzw_roots_path, or LZW_BY_DATA (lzw_judge_roots).
    int8_t roots = LZW_BY_DATA;
    // The TIFF decoder's loop of short strings: taken where it may be (1), never (0), or judged.
    int8_t short_strings = LZW_BY_DATA;
    // The encoders' dictionary form in every generation after the first: the first extension
    // inline (0), the short form (1: hashed, or direct rows for pixels below 16), or judged.
    int8_t dictionary = LZW_BY_DATA;
};

// The paths this CPU takes: every SSE2 path where the CPU has SSE2 (every x86-64 CPU does), none
// elsewhere.
[[nodiscard]] lzw_paths lzw_choose_paths() noexcept;

// What the CPU offers: the paths lzw_choose_paths takes by default.
[[nodiscard]] inline lzw_paths lzw_cpu_paths() noexcept
{
#if defined(__x86_64__)
    return {.sse2_words = false, .blended_fill = true, .roots = LZW_BY_DATA};
#elif defined(__i386__)
    // Read from what the runtime found at load time: no cpuid per call.
    __builtin_cpu_init();
    const bool sse2 = __builtin_cpu_supports("sse2") != 0;
    return {.sse2_words = sse2, .blended_fill = sse2, .roots = LZW_BY_DATA};
#else
    return {};
#endif
}

} // namespace orveln1
