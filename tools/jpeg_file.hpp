// SPDX-License-Identifier: MIT
// JPEG files read through libjpeg-turbo into 24-bit pictures (greyscale ones into 8-bit grey).
#pragma once

#include <cstdint>
#include <functional>
#include <span>

#include "orveln1.hpp"

namespace orveln1::tool
{

// Throws failure for a file libjpeg cannot read.
// progress hears of the rows decoded.
[[nodiscard]] picture read_jpeg(std::span<const uint8_t> file, const std::function<void(double)> &progress = {});

} // namespace orveln1::tool
