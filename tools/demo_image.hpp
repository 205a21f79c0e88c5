// SPDX-License-Identifier: MIT
// The demo's built-in picture: a banded Mandelbrot set in a 256-colour palette, generated on all
// cores, large enough for coding speeds to be measured.
#pragma once

#include <cstdint>

#include "orveln1.hpp"

namespace orveln1::tool
{

constexpr int32_t demo_default_size = 2048;

// A size x size 8-bit palette picture; the same pixels for the same size from run to run.
[[nodiscard]] picture make_demo_picture(int32_t size, unsigned threads = 0);

} // namespace orveln1::tool
