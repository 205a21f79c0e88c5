// SPDX-License-Identifier: MIT
// JPEG files read through libjpeg-turbo into 24-bit pictures (greyscale ones into 8-bit grey).
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <span>

#include "orveln1.hpp"
#include "row_source.hpp"

namespace orveln1::tool
{

// Throws failure for a file libjpeg cannot read.
// progress hears of the rows decoded.
[[nodiscard]] picture read_jpeg(std::span<const uint8_t> file, const std::function<void(double)> &progress = {});
// The same from an open file (which the source takes over and closes), decoded as the rows are
// wanted, so that neither the file nor the picture is held whole. progress hears of a whole read.
[[nodiscard]] std::unique_ptr<row_source> open_jpeg(std::FILE *stream, std::function<void(double)> progress = {});

} // namespace orveln1::tool
