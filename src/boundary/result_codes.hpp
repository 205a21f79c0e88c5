// SPDX-License-Identifier: MIT
// Result codes inside the library: the public values under the design's own names.
#pragma once

#include <cstdint>

#include "orveln1.h"

namespace orveln1
{

constexpr int32_t ERR_NO_MEMORY = ORVELN1_ERR_NO_MEMORY;
constexpr int32_t ERR_BAD_DATA = ORVELN1_ERR_BAD_DATA;
constexpr int32_t ERR_WRITE = ORVELN1_ERR_WRITE;
constexpr int32_t ERR_UNSUPPORTED_DEPTH = ORVELN1_ERR_UNSUPPORTED_DEPTH;
constexpr int32_t ERR_NO_CALLBACK = ORVELN1_ERR_NO_CALLBACK;
// The TIFF code reader's signal that a refill brought nothing; never leaves an entry point.
constexpr int32_t ERR_READ = -12;

} // namespace orveln1
