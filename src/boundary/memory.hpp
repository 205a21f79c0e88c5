// SPDX-License-Identifier: MIT
// Working memory of the codecs: lzw_alloc/lzw_free and an owner that releases on every path.
#pragma once

#include <cstddef>
#include <cstdint>

namespace orveln1
{

// Obtains a block of the given size (not cleared); null when it cannot be had.
[[nodiscard]] void *lzw_alloc(std::size_t bytes) noexcept;
// Releases a block from lzw_alloc; null is ignored. Returns 0.
int32_t lzw_free(void *address) noexcept;

// Owns one block from lzw_alloc for the length of a codec call.
class lzw_block
{
  public:
    explicit lzw_block(std::size_t bytes) noexcept : address_(static_cast<uint8_t *>(lzw_alloc(bytes))) {}
    ~lzw_block() { lzw_free(address_); }
    lzw_block(const lzw_block &) = delete;
    lzw_block &operator=(const lzw_block &) = delete;

    [[nodiscard]] uint8_t *get() const noexcept { return address_; }
    explicit operator bool() const noexcept { return address_ != nullptr; }

  private:
    uint8_t *address_;
};

} // namespace orveln1
