// SPDX-License-Identifier: MIT
// Writes GIF streams through encode_gif/encode_gifi into a folder, each with the pixels it must
// read back as: NAME.gif and NAME.expect (width, height, interlace, transparent index or -1, then
// the pixel indices, top row first, one byte each). A Python check reads them with Pillow.
#include <cstdio>
#include <fstream>
#include <string>
#include <tuple>
#include <vector>

#include "orveln1.h"
#include "support/test_host.hpp"

using namespace orveln1::test;

int main(int argc, char **argv)
{
    if (argc != 2)
        return 2; // usage: gif_pillow_samples FOLDER
    set_callbacks(nullptr, &test_host::write, 0, nullptr);
    // width, height, depth, kind, interlaced, transparent (index 3)
    const std::tuple<int32_t, int32_t, int, image_kind, int, bool> samples[] = {
        {1, 1, 8, image_kind::flat, 0, false},         {1, 700, 4, image_kind::noise, 1, true},
        {900, 1, 8, image_kind::noise, 0, true},       {17, 11, 4, image_kind::gradient, 1, false},
        {320, 240, 8, image_kind::noise, 1, false},    {640, 200, 4, image_kind::stripes, 0, true},
        {1500, 30, 8, image_kind::gradient, 0, false}, {33, 2049, 4, image_kind::noise, 1, false},
    };
    for (int n = 0; n < static_cast<int>(std::size(samples)); ++n) {
        const auto [width, height, depth, kind, interlaced, transparent] = samples[n];
        test_image image = make_image(width, height, depth, kind, 11 + static_cast<uint32_t>(n));
        image.transparent = transparent;
        image.transparent_index = 3;
        test_host host(image);
        const int32_t r = (interlaced != 0 ? encode_gifi : encode_gif)(host.handle(), image.header().data(),
                                                                       &test_host::get_row, host.handle());
        const std::string name = std::string(argv[1]) + "/sample" + std::to_string(n);
        std::ofstream gif(name + ".gif", std::ios::binary), expect(name + ".expect", std::ios::binary);
        expect << width << ' ' << height << ' ' << interlaced << ' ' << (transparent ? 3 : -1) << '\n';
        gif.write(reinterpret_cast<const char *>(host.output.data()), static_cast<std::streamsize>(host.output.size()));
        expect.write(reinterpret_cast<const char *>(image.pixels.data()),
                     static_cast<std::streamsize>(image.pixels.size()));
        if (r != 0 || !gif || !expect) {
            std::fprintf(stderr, "sample %d: encoder returned %d, or its files could not be written\n", n, r);
            return 1;
        }
    }
    std::printf("wrote %zu samples\n", std::size(samples));
    return 0;
}
