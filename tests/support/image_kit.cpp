// SPDX-License-Identifier: MIT
// The tests' images: pixel kinds, headers with palettes and padded rows.
#include "support/image_kit.hpp"

#include <algorithm>
#include <cstring>

namespace orveln1::test
{

std::vector<uint8_t> make_pixels(image_kind kind, int32_t width, int32_t height, int colours, uint32_t seed)
{
    std::vector<uint8_t> p;
    uint32_t x = seed * 2654435761u + 1;
    const auto next = [&x] { return x ^= x << 13, x ^= x >> 17, x ^= x << 5; };
    for (int32_t r = 0; r < height; ++r)
        for (int32_t c = 0; c < width; ++c) {
            const uint32_t v = kind == image_kind::flat       ? seed
                               : kind == image_kind::noise    ? next() >> 8
                               : kind == image_kind::gradient ? static_cast<uint32_t>(r + c) / 3
                                                              : static_cast<uint32_t>(c / 5 + r / 7);
            p.push_back(static_cast<uint8_t>(v % static_cast<uint32_t>(colours)));
        }
    return p;
}

std::vector<uint8_t> make_bytes(image_kind kind, std::size_t count, uint32_t seed)
{
    return make_pixels(kind, static_cast<int32_t>(count), 1, 256, seed);
}

std::vector<uint8_t> make_runs(std::size_t count, uint32_t seed, int colours)
{
    uint32_t x = seed * 2654435761u + 1;
    const auto next = [&x] { return x ^= x << 13, x ^= x >> 17, x ^= x << 5; };
    const auto c = static_cast<uint32_t>(colours);
    uint8_t values[6];
    for (uint8_t &v : values)
        v = static_cast<uint8_t>(next() % c);
    std::vector<uint8_t> bytes;
    while (bytes.size() < count) {
        const uint8_t value = values[next() % 6];
        const bool short_run = next() % 4 == 0;
        const uint32_t longest = next() % 2 == 0 ? 200 : 3000;
        const std::size_t length = short_run ? 1 + next() % 20 : 16 + next() % longest;
        bytes.insert(bytes.end(), std::min(length, count - bytes.size()), value);
    }
    return bytes;
}

std::vector<uint8_t> test_image::header() const
{
    std::vector<uint8_t> h(header_size + 256 * 4, 0);
    // Little-endian words: size, width, height, then planes 1 and the depth as two 16-bit halves.
    const uint32_t words[5] = {header_size, static_cast<uint32_t>(width), static_cast<uint32_t>(height),
                               1u | static_cast<uint32_t>(depth) << 16, compression};
    for (std::size_t i = 0; i < 20; ++i)
        h[i] = static_cast<uint8_t>(words[i / 4] >> (8 * (i % 4)));
    h[32] = transparent_index;
    h[33] = transparent ? 0x10 : 0x00;
    for (int i = 0; i < 256; ++i) {
        const uint8_t entry[4] = {blue(i), green(i), red(i), 0xEE};
        std::memcpy(h.data() + header_size + 4 * i, entry, sizeof entry);
    }
    return h;
}

std::vector<uint8_t> test_image::colour_table(int depth)
{
    std::vector<uint8_t> table;
    for (int i = 0; i < 1 << depth; ++i)
        table.insert(table.end(), {red(i), green(i), blue(i)});
    return table;
}

std::vector<uint8_t> test_image::packed_row(int32_t y) const
{
    const int64_t unpadded = depth == 4 ? (int64_t{width} + 1) / 2 : width;
    std::vector<uint8_t> row(static_cast<std::size_t>((unpadded + 3) / 4 * 4), 0xA7);
    const uint8_t *p = pixels.data() + static_cast<std::size_t>(y) * static_cast<std::size_t>(width);
    if (depth != 4) {
        std::memcpy(row.data(), p, static_cast<std::size_t>(width));
        return row;
    }
    // Two pixels a byte, the first high; a lone last pixel has junk below it.
    for (int32_t x = 0; x < width; x += 2)
        row[static_cast<std::size_t>(x / 2)] = static_cast<uint8_t>(p[x] << 4 | (x + 1 < width ? p[x + 1] : 0x0B));
    return row;
}

test_image make_image(int32_t width, int32_t height, int depth, image_kind kind, uint32_t seed)
{
    return {
        .width = width, .height = height, .depth = depth, .pixels = make_pixels(kind, width, height, 1 << depth, seed)};
}

std::vector<uint8_t> image_header(int32_t width, int32_t height, int depth, uint32_t compression)
{
    return test_image{.width = width, .height = height, .depth = depth, .pixels = {}, .compression = compression}
        .header();
}

} // namespace orveln1::test
