// SPDX-License-Identifier: MIT
// Colour reduction for GIF output: a palette of at most N colours chosen by median cut, and the
// pixels mapped onto it with or without Floyd-Steinberg error diffusion.
#pragma once

#include <functional>

#include "orveln1.hpp"

namespace orveln1::tool
{

// An 8-bit palette picture of a 24- or 32-bit one (the fourth byte is ignored) with at most
// colours entries (2 to 256). progress hears of the rows mapped.
[[nodiscard]] picture quantise(const picture &image, int colours, bool dither,
                               const std::function<void(double)> &progress = {});

} // namespace orveln1::tool
