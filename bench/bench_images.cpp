// SPDX-License-Identifier: MIT
// Builds the benchmark's image set: synthetic pictures from fixed seeds, so that every run and every
// peer sees the same pixels, and real pictures read from the corpus's ground-truth index files.
#include "bench_images.hpp"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>

namespace orveln1_bench
{
namespace
{

// xorshift32: a fixed, portable stream of pseudo-random numbers.
struct random_stream {
    uint32_t state;
    uint32_t next()
    {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return state;
    }
};

bench_image blank(const std::string &name, int side, int depth)
{
    bench_image image;
    image.name = name;
    image.width = side;
    image.height = side;
    image.depth = depth;
    image.indices.resize(static_cast<std::size_t>(side) * static_cast<std::size_t>(side));
    return image;
}

template <class F> bench_image generate(const std::string &name, int side, int depth, F pixel)
{
    bench_image image = blank(name, side, depth);
    for (int y = 0; y < side; ++y)
        for (int x = 0; x < side; ++x)
            image.indices[static_cast<std::size_t>(y) * static_cast<std::size_t>(side) + static_cast<std::size_t>(x)] =
                static_cast<uint8_t>(pixel(x, y));
    lay_out_rows(image);
    return image;
}

std::vector<uint8_t> read_file(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return {};
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A real picture stored as one index (or grey level) per pixel, cropped to at most side x side.
bool add_real(std::vector<bench_image> &set, const std::string &name, const std::string &path, int width, int height,
              int crop)
{
    const std::vector<uint8_t> bytes = read_file(path);
    if (bytes.size() < static_cast<std::size_t>(width) * static_cast<std::size_t>(height))
        return false;
    bench_image image;
    image.name = name;
    image.width = std::min(width, crop);
    image.height = std::min(height, crop);
    const uint8_t top = *std::max_element(bytes.begin(), bytes.end());
    image.depth = top < 16 ? 4 : 8;
    for (int y = 0; y < image.height; ++y) {
        const auto row = bytes.begin() + static_cast<std::ptrdiff_t>(y) * width;
        image.indices.insert(image.indices.end(), row, row + image.width);
    }
    lay_out_rows(image);
    set.push_back(std::move(image));
    return true;
}

} // namespace

bench_image synthetic_photo(int width, int height)
{
    bench_image image;
    image.name = "photo";
    image.width = width;
    image.height = height;
    random_stream noise{0x2545F491u};
    image.indices.resize(static_cast<std::size_t>(width) * static_cast<std::size_t>(height));
    for (std::size_t i = 0; i < image.indices.size(); ++i) {
        const auto x = static_cast<int>(i % static_cast<std::size_t>(width));
        const auto y = static_cast<int>(i / static_cast<std::size_t>(width));
        const int v = (x * 3 + y * 5) % 256 + static_cast<int>(noise.next() % 13) - 6;
        image.indices[i] = static_cast<uint8_t>(std::clamp(v, 0, 255));
    }
    lay_out_rows(image);
    return image;
}

int synthetic_side(bool small)
{
    return small ? 64 : 1024;
}

void lay_out_rows(bench_image &image)
{
    const int w = image.width;
    image.unpadded_row_bytes = image.depth == 4 ? (w + 1) / 2 : w;
    image.padded_row_bytes = (image.unpadded_row_bytes + 3) / 4 * 4;
    const auto h = static_cast<std::size_t>(image.height);
    image.padded.assign(h * static_cast<std::size_t>(image.padded_row_bytes), 0);
    image.unpadded.assign(h * static_cast<std::size_t>(image.unpadded_row_bytes), 0);
    for (std::size_t y = 0; y < h; ++y) {
        const uint8_t *src = image.indices.data() + y * static_cast<std::size_t>(w);
        uint8_t *row = image.unpadded.data() + y * static_cast<std::size_t>(image.unpadded_row_bytes);
        if (image.depth == 4) {
            for (int x = 0; x < w; ++x)
                row[x / 2] = static_cast<uint8_t>(row[x / 2] | ((x & 1) ? src[x] & 0x0F : (src[x] & 0x0F) << 4));
        } else {
            std::copy(src, src + w, row);
        }
        std::copy(row, row + image.unpadded_row_bytes,
                  image.padded.data() + y * static_cast<std::size_t>(image.padded_row_bytes));
    }
}

rgb palette_colour(int i)
{
    return rgb{static_cast<uint8_t>(i), static_cast<uint8_t>(255 - i), static_cast<uint8_t>(i * 7)};
}

std::vector<uint8_t> make_image_header(const bench_image &image)
{
    constexpr int header_bytes = 40;
    std::vector<uint8_t> h(header_bytes + 256 * 4, 0);
    const auto put32 = [&h](int at, uint32_t v) {
        for (int i = 0; i < 4; ++i)
            h[static_cast<std::size_t>(at + i)] = static_cast<uint8_t>(v >> (8 * i));
    };
    put32(0, header_bytes);
    put32(4, static_cast<uint32_t>(image.width));
    put32(8, static_cast<uint32_t>(image.height));
    h[12] = 1;
    h[14] = static_cast<uint8_t>(image.depth);
    for (int i = 0; i < 256; ++i) {
        const rgb c = palette_colour(i);
        uint8_t *entry = h.data() + header_bytes + 4 * i;
        entry[0] = c.b;
        entry[1] = c.g;
        entry[2] = c.r;
    }
    return h;
}

std::vector<bench_image> synthetic_images(int n)
{
    std::vector<bench_image> set;
    set.push_back(generate("gradient", n, 8, [n](int x, int y) { return (x + y) * 255 / (2 * (n - 1)); }));
    random_stream noise{0x2545F491u};
    set.push_back(generate("photo", n, 8, [n, &noise](int x, int y) {
        const int base = (x * 3 + y * 5) * 255 / (8 * (n - 1));
        const int v = base + static_cast<int>(noise.next() % 13) - 6;
        return std::clamp(v, 0, 255);
    }));
    set.push_back(generate("flat", n, 8, [](int, int) { return 37; }));
    random_stream uniform{0x9E3779B9u};
    set.push_back(generate("random", n, 8, [&uniform](int, int) { return uniform.next() >> 24; }));
    const auto blocks = [](int x, int y) { return (x / 32 + (y / 32) * 7) % 16; };
    set.push_back(generate("blocks16_8bit", n, 8, blocks));
    set.push_back(generate("blocks16_4bit", n, 4, blocks));
    // Ordered (4x4 Bayer) dither of a diagonal gradient down to 16 levels.
    set.push_back(generate("dither_4bit", n, 4, [n](int x, int y) {
        static constexpr int bayer[4][4] = {{0, 8, 2, 10}, {12, 4, 14, 6}, {3, 11, 1, 9}, {15, 7, 13, 5}};
        const int level = (x + y) * 15 * 16 / (2 * (n - 1) + 1);
        return std::min(15, (level + bayer[y & 3][x & 3]) / 16);
    }));
    return set;
}

std::vector<bench_image> load_image_set(bool small, const std::string &corpus_dir, std::vector<std::string> &missing)
{
    const int n = synthetic_side(small);
    std::vector<bench_image> set = synthetic_images(n);
    if (corpus_dir.empty())
        return set;
    const std::string d = corpus_dir + "/expected/";
    const auto real = [&](const char *name, const char *file, int width, int height) {
        if (!add_real(set, name, d + file, width, height, small ? n : 1 << 20))
            missing.push_back(d + file);
    };
    real("real_harvesters", "wuffs-harvesters.idx", 1165, 859);
    real("real_porsche", "giflib-porsche.idx", 320, 200);
    real("real_colors_4bit", "pillow-test.colors.idx", 807, 606);
    real("real_grey_loop", "ltnet-loop.strips.raw", 640, 480);
    return set;
}

} // namespace orveln1_bench
