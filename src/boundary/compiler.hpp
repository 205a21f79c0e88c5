// SPDX-License-Identifier: MIT
// The compiler attributes the codecs' hot loops rest on, in one place, each with a plain fallback
// for a compiler that has none of them. Every use is a measured tuning on g++ and clang (see
// bench/results/decisions.md, which says what to measure again after a toolchain change).
#pragma once

#if defined(__GNUC__) || defined(__clang__)
// Inlined whatever the inliner's limits: the decode loops are built around their per-code helpers,
// and at -O2 some of those stayed calls.
#define ORVELN1_FORCEINLINE __attribute__((always_inline))
// Kept a call: a path of its own, whose registers the loop around it should not pay for.
#define ORVELN1_NOINLINE __attribute__((noinline))
#define ORVELN1_PRAGMA(text) _Pragma(#text)
// The loop that follows unrolled n times, at -O2 as well.
#define ORVELN1_UNROLL(n) ORVELN1_PRAGMA(GCC unroll n)
// An empty barrier over a load's index and base: the compiler must assume both changed here, so it
// neither adds them before the load nor keeps their sum in a register, and on x86 the base ends up
// in one of the registers a, b, c, d.
#if defined(__x86_64__) || defined(__i386__)
#define ORVELN1_INDEX_BASE_BARRIER(index, base) __asm__("" : "+r"(index), "+Q"(base))
#else
#define ORVELN1_INDEX_BASE_BARRIER(index, base) __asm__("" : "+r"(index))
#endif
#else
#define ORVELN1_FORCEINLINE
#define ORVELN1_NOINLINE
#define ORVELN1_UNROLL(n)
#define ORVELN1_INDEX_BASE_BARRIER(index, base) ((void)0)
#endif

#if defined(__i386__) && (defined(__GNUC__) || defined(__clang__))
// A function built for SSE2 in a module whose floor has none: called only where the CPU has it.
#define ORVELN1_SSE2_TARGET __attribute__((target("sse2")))
#endif
