// SPDX-License-Identifier: MIT
// Generates the demo picture: escape-time bands of the Mandelbrot set around the "seahorse valley",
// coloured with a smooth cyclic palette; the set itself is black.
#include "demo_image.hpp"

#include <cmath>
#include <numbers>

#include "parallel.hpp"

namespace orveln1::tool
{
namespace
{

constexpr int max_iterations = 600;
// The view: centre and width in the complex plane.
constexpr double centre_re = -0.7453;
constexpr double centre_im = 0.1127;
constexpr double view_width = 0.0135;
constexpr int palette_size = 256;

std::vector<colour> demo_palette()
{
    std::vector<colour> palette(palette_size);
    // Index 0 is the set; 1..255 run once around a cosine colour wheel.
    for (int i = 1; i < palette_size; ++i) {
        const double t = static_cast<double>(i - 1) / (palette_size - 1);
        auto channel = [t](double phase) {
            const double v = 0.5 + 0.5 * std::cos(2.0 * std::numbers::pi * (t + phase));
            return static_cast<uint8_t>(std::lround(40.0 + 215.0 * v));
        };
        palette[static_cast<std::size_t>(i)] = colour{channel(0.0), channel(0.33), channel(0.67)};
    }
    return palette;
}

} // namespace

picture make_demo_picture(int32_t size, unsigned threads)
{
    picture image = make_picture(size, size, 8);
    image.palette = demo_palette();
    const double step = view_width / size;
    const double left = centre_re - view_width / 2;
    const double top = centre_im + view_width / 2;
    parallel_for(static_cast<std::size_t>(size), threads, [&](std::size_t y) {
        uint8_t *row = image.row(static_cast<int32_t>(y));
        const double ci = top - static_cast<double>(y) * step;
        for (int32_t x = 0; x < size; ++x) {
            const double cr = left + x * step;
            double zr = 0;
            double zi = 0;
            int n = 0;
            while (n < max_iterations && zr * zr + zi * zi <= 4.0) {
                const double t = zr * zr - zi * zi + cr;
                zi = 2 * zr * zi + ci;
                zr = t;
                ++n;
            }
            // Each iteration count is its own band: equal counts form runs of equal pixels, which LZW feeds
            // on, and stepping four palette entries a count spreads the colours over the wheel.
            row[x] = n >= max_iterations ? 0 : static_cast<uint8_t>(1 + (n * 4) % (palette_size - 1));
        }
    });
    return image;
}

} // namespace orveln1::tool
