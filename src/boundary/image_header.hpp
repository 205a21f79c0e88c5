// SPDX-License-Identifier: MIT
// The host's image header (a bitmap info header followed by its palette), read by byte offset in
// little-endian order, and the scan-line length rule shared by the codecs.
#pragma once

#include <cstdint>

namespace orveln1
{

// Offsets of the fields the codecs read, as the bitmap info header lays them out.
constexpr int HEADER_SIZE_OFFSET = 0;
constexpr int HEADER_WIDTH_OFFSET = 4;
constexpr int HEADER_HEIGHT_OFFSET = 8;
constexpr int HEADER_DEPTH_OFFSET = 14;
constexpr int HEADER_COMPRESSION_OFFSET = 16;
constexpr int HEADER_TRANSPARENT_INDEX_OFFSET = 32; // low byte of the colours-used field
constexpr int HEADER_FLAGS_OFFSET = 33;             // second byte of the colours-used field
// Bit of the flags byte saying that the image has a transparent colour.
constexpr uint8_t HEADER_TRANSPARENT_FLAG = 0x10;
// Compression value by which the host asks for 32-bit pixels with bytes 0 and 2 exchanged.
constexpr uint32_t HEADER_COMPRESSION_SWAP_RB = 200;
// Bytes of one palette entry: blue, green, red, reserved.
constexpr int PALETTE_ENTRY_BYTES = 4;

inline uint32_t read_le32(const uint8_t *p) noexcept
{
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
           static_cast<uint32_t>(p[3]) << 24;
}

inline uint16_t read_le16(const uint8_t *p) noexcept
{
    return static_cast<uint16_t>(p[0] | p[1] << 8);
}

// The header's fields, read where the layout puts them; the header is never written.
struct image_header_view {
    const uint8_t *bytes;

    [[nodiscard]] uint32_t size() const noexcept { return read_le32(bytes + HEADER_SIZE_OFFSET); }
    [[nodiscard]] int32_t width() const noexcept
    {
        return static_cast<int32_t>(read_le32(bytes + HEADER_WIDTH_OFFSET));
    }
    [[nodiscard]] int32_t height() const noexcept
    {
        return static_cast<int32_t>(read_le32(bytes + HEADER_HEIGHT_OFFSET));
    }
    [[nodiscard]] uint16_t depth() const noexcept { return read_le16(bytes + HEADER_DEPTH_OFFSET); }
    [[nodiscard]] uint32_t compression() const noexcept { return read_le32(bytes + HEADER_COMPRESSION_OFFSET); }
    [[nodiscard]] uint8_t transparent_index() const noexcept { return bytes[HEADER_TRANSPARENT_INDEX_OFFSET]; }
    [[nodiscard]] bool has_transparency() const noexcept
    {
        return (bytes[HEADER_FLAGS_OFFSET] & HEADER_TRANSPARENT_FLAG) != 0;
    }
    // Palette entry i as blue, green, red, reserved; the palette starts biSize bytes after the header.
    [[nodiscard]] const uint8_t *palette_entry(int i) const noexcept
    {
        return bytes + size() + static_cast<uint32_t>(i) * PALETTE_ENTRY_BYTES;
    }
};

inline image_header_view read_image_header(const void *header) noexcept
{
    return image_header_view{static_cast<const uint8_t *>(header)};
}

// Bytes of one row before padding: 8 pixels a byte at depth 1, 2 at depth 4, 2, 3 and 4 bytes a
// pixel at depths 16, 24 and 32; one byte a pixel at depth 8 and at any depth no codec serves.
// Exact in 64 bits for every 32-bit width.
[[nodiscard]] constexpr int64_t unpadded_row_bytes(int64_t width, int depth) noexcept
{
    switch (depth) {
    case 1:
        return (width + 7) / 8;
    case 4:
        return (width + 1) / 2;
    case 16:
        return width * 2;
    case 24:
        return width * 3;
    case 32:
        return width * 4;
    default:
        return width;
    }
}

// Bytes of one scan line: the unpadded length rounded up to a multiple of 4, as bitmap rows are.
[[nodiscard]] constexpr int64_t padded_row_bytes(int64_t width, int depth) noexcept
{
    const int64_t bytes = unpadded_row_bytes(width, depth);
    return bytes >= 0 ? (bytes + 3) / 4 * 4 : 0;
}

// The largest block a codec will ask for, and the largest count passed to a callback: sizes and
// counts travel as signed 32-bit values across the boundary.
constexpr int64_t MAX_BLOCK_BYTES = INT32_MAX;

// True when a block of the given size can be asked for (and its size passed as a 32-bit count).
[[nodiscard]] constexpr bool block_size_fits(int64_t bytes) noexcept
{
    return bytes >= 0 && bytes <= MAX_BLOCK_BYTES;
}

} // namespace orveln1
