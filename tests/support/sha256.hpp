// SPDX-License-Identifier: MIT
// SHA-256 of a byte range as lower-case hex, to compare decoded output with the corpus manifest.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace orveln1::test
{

std::string sha256_hex(const uint8_t *data, std::size_t size);

} // namespace orveln1::test
