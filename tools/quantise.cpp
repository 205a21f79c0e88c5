// SPDX-License-Identifier: MIT
// Median cut over a 15-bit colour histogram: the box whose pixels spread furthest along one axis,
// weighted by how many they are, is split at its median until there are enough boxes; each box's
// mean colour becomes a palette entry. Median cut is chosen over an octree because its boxes follow
// where the pixels are rather than a fixed cube hierarchy, it needs only the histogram, and its
// result does not depend on the order pixels are met in.
#include "quantise.hpp"

#include <algorithm>
#include <array>
#include <cstdint>
#include <vector>

namespace orveln1::tool
{
namespace
{

constexpr int histogram_bits = 5; // per channel: 32768 bins, fine enough for 256 boxes
constexpr int histogram_side = 1 << histogram_bits;
constexpr int cache_bits = 6; // per channel, for the nearest-colour cache of the mapping step
constexpr int cache_side = 1 << cache_bits;

struct bin {
    uint32_t count = 0;
    uint64_t sum[3] = {0, 0, 0}; // red, green, blue
    uint8_t at[3] = {0, 0, 0};   // the bin's coordinates, for sorting along an axis
};

struct box {
    std::size_t first = 0; // range in the vector of occupied bins
    std::size_t last = 0;  // one past
    uint64_t population = 0;
    int axis = 0;
    int extent = 0;
};

void measure(box &b, const std::vector<bin> &bins)
{
    uint8_t low[3] = {255, 255, 255};
    uint8_t high[3] = {0, 0, 0};
    b.population = 0;
    for (std::size_t i = b.first; i < b.last; ++i) {
        b.population += bins[i].count;
        for (int c = 0; c < 3; ++c) {
            low[c] = std::min(low[c], bins[i].at[c]);
            high[c] = std::max(high[c], bins[i].at[c]);
        }
    }
    b.extent = -1;
    for (int c = 0; c < 3; ++c)
        if (high[c] - low[c] > b.extent) {
            b.extent = high[c] - low[c];
            b.axis = c;
        }
}

uint8_t clamp_byte(int v)
{
    return static_cast<uint8_t>(std::clamp(v, 0, 255));
}

} // namespace

picture quantise(const picture &image, int colours, bool dither, const std::function<void(double)> &progress)
{
    colours = std::clamp(colours, 2, 256);
    const auto step = static_cast<std::size_t>(image.depth / 8);

    // The histogram of the picture's colours at 5 bits per channel.
    std::vector<bin> histogram(std::size_t{1} << (3 * histogram_bits));
    for (int32_t y = 0; y < image.height; ++y) {
        const uint8_t *row = image.row(y);
        for (int32_t x = 0; x < image.width; ++x) {
            const uint8_t *p = row + static_cast<std::size_t>(x) * step;
            const int r = p[2] >> (8 - histogram_bits);
            const int g = p[1] >> (8 - histogram_bits);
            const int b = p[0] >> (8 - histogram_bits);
            bin &h = histogram[static_cast<std::size_t>((r * histogram_side + g) * histogram_side + b)];
            ++h.count;
            h.sum[0] += p[2];
            h.sum[1] += p[1];
            h.sum[2] += p[0];
            h.at[0] = static_cast<uint8_t>(r);
            h.at[1] = static_cast<uint8_t>(g);
            h.at[2] = static_cast<uint8_t>(b);
        }
    }
    std::vector<bin> bins;
    for (const bin &h : histogram)
        if (h.count > 0)
            bins.push_back(h);
    std::vector<bin>().swap(histogram);

    std::vector<box> boxes(1);
    boxes[0].last = bins.size();
    measure(boxes[0], bins);
    while (static_cast<int>(boxes.size()) < colours) {
        // The box to split: the widest spread times the pixels it holds; a single bin cannot split.
        std::size_t pick = boxes.size();
        uint64_t best = 0;
        for (std::size_t i = 0; i < boxes.size(); ++i) {
            const uint64_t score = boxes[i].population * static_cast<uint64_t>(boxes[i].extent);
            if (boxes[i].last - boxes[i].first > 1 && score >= best && boxes[i].extent > 0) {
                best = score;
                pick = i;
            }
        }
        if (pick == boxes.size())
            break;
        box &b = boxes[pick];
        const int axis = b.axis;
        std::sort(bins.begin() + static_cast<std::ptrdiff_t>(b.first),
                  bins.begin() + static_cast<std::ptrdiff_t>(b.last),
                  [axis](const bin &l, const bin &r) { return l.at[axis] < r.at[axis]; });
        // The median pixel, kept off the ends so that both halves hold a bin.
        uint64_t seen = 0;
        std::size_t cut = b.first + 1;
        for (std::size_t i = b.first; i < b.last - 1; ++i) {
            seen += bins[i].count;
            cut = i + 1;
            if (seen * 2 >= b.population)
                break;
        }
        box second;
        second.first = cut;
        second.last = b.last;
        b.last = cut;
        measure(b, bins);
        measure(second, bins);
        boxes.push_back(second);
    }

    picture out = make_picture(image.width, image.height, 8);
    for (const box &b : boxes) {
        uint64_t sum[3] = {0, 0, 0};
        for (std::size_t i = b.first; i < b.last; ++i)
            for (int c = 0; c < 3; ++c)
                sum[c] += bins[i].sum[c];
        const uint64_t n = std::max<uint64_t>(b.population, 1);
        out.palette.push_back(colour{static_cast<uint8_t>((sum[0] + n / 2) / n),
                                     static_cast<uint8_t>((sum[1] + n / 2) / n),
                                     static_cast<uint8_t>((sum[2] + n / 2) / n)});
    }

    // Nearest palette entry of a colour, cached per 6-bit cell (looked up for the cell's centre).
    std::vector<int16_t> cache(std::size_t{1} << (3 * cache_bits), -1);
    auto nearest = [&](int r, int g, int b) -> uint8_t {
        const auto key = static_cast<std::size_t>(
            ((r >> (8 - cache_bits)) * cache_side + (g >> (8 - cache_bits))) * cache_side + (b >> (8 - cache_bits)));
        if (cache[key] >= 0)
            return static_cast<uint8_t>(cache[key]);
        const int half = 1 << (7 - cache_bits);
        const int cr = (r & ~(2 * half - 1)) + half;
        const int cg = (g & ~(2 * half - 1)) + half;
        const int cb = (b & ~(2 * half - 1)) + half;
        int best = 0;
        int best_distance = 1 << 30;
        for (std::size_t i = 0; i < out.palette.size(); ++i) {
            const colour &c = out.palette[i];
            const int dr = c.red - cr;
            const int dg = c.green - cg;
            const int db = c.blue - cb;
            const int d = 3 * dr * dr + 4 * dg * dg + 2 * db * db; // weights after the eye's sensitivity
            if (d < best_distance) {
                best_distance = d;
                best = static_cast<int>(i);
            }
        }
        cache[key] = static_cast<int16_t>(best);
        return static_cast<uint8_t>(best);
    };

    // Floyd-Steinberg: 7/16 of a pixel's error to the right, 3/16, 5/16 and 1/16 to the row below,
    // in sixteenths held as integers; rows run left to right and right to left in turn (serpentine)
    // so that the error does not drift one way.
    const auto width = static_cast<std::size_t>(image.width);
    std::vector<std::array<int, 3>> here(width + 2);
    std::vector<std::array<int, 3>> below(width + 2);
    for (int32_t y = 0; y < image.height; ++y) {
        const uint8_t *row = image.row(y);
        uint8_t *dst = out.row(y);
        const bool forward = y % 2 == 0;
        std::fill(below.begin(), below.end(), std::array<int, 3>{0, 0, 0});
        for (std::size_t i = 0; i < width; ++i) {
            const std::size_t x = forward ? i : width - 1 - i;
            const uint8_t *p = row + x * step;
            int want[3] = {p[2], p[1], p[0]};
            if (dither)
                for (int c = 0; c < 3; ++c)
                    want[c] = clamp_byte(want[c] + (here[x + 1][static_cast<std::size_t>(c)] + 8) / 16);
            const uint8_t index = nearest(want[0], want[1], want[2]);
            dst[x] = index;
            if (!dither)
                continue;
            const colour &got = out.palette[index];
            const int error[3] = {want[0] - got.red, want[1] - got.green, want[2] - got.blue};
            const std::size_t ahead = forward ? x + 2 : x;
            const std::size_t behind = forward ? x : x + 2;
            for (std::size_t c = 0; c < 3; ++c) {
                here[ahead][c] += error[c] * 7;
                below[behind][c] += error[c] * 3;
                below[x + 1][c] += error[c] * 5;
                below[ahead][c] += error[c];
            }
        }
        std::swap(here, below);
        if (progress && (y + 1) % 64 == 0)
            progress(static_cast<double>(y + 1) / image.height);
    }
    return out;
}

} // namespace orveln1::tool
