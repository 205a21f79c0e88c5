// SPDX-License-Identifier: MIT
// ORVELN1_ASSERT: a bound the code relies on, stated where it is relied on. The test, fuzz and
// sanitizer builds define ORVELN1_ASSERTIONS (CMake option ORVELN1_ASSERTIONS), where a broken bound
// stops the program at once, before it corrupts memory; in the shipped module it compiles to
// nothing and the condition is not evaluated.
#pragma once

#if defined(ORVELN1_ASSERTIONS)
#define ORVELN1_ASSERT(condition) (static_cast<bool>(condition) ? static_cast<void>(0) : __builtin_trap())
#else
#define ORVELN1_ASSERT(condition) static_cast<void>(sizeof(static_cast<bool>(condition)))
#endif
