// SPDX-License-Identifier: MIT
// Writes GIF streams through encode_gif/encode_gifi into a folder, each with the pixels it must
// read back as: NAME.gif and NAME.expect (width, height, interlace, transparent index or -1, then
// the pixel indices, top row first, one byte each). A Python check reads them with Pillow.
#include <cstdio>
#include <string>
#include <vector>

#include "orveln1.h"
#include "support/test_host.hpp"

using namespace orveln1::test;

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s FOLDER\n", argv[0]);
        return 2;
    }
    const std::string folder = argv[1];
    set_callbacks(nullptr, &test_host::write, 0, nullptr);
    struct sample {
        int32_t width, height;
        int depth;
        image_kind kind;
        int interlaced;
        bool transparent;
    };
    const sample samples[] = {
        {1, 1, 8, image_kind::flat, 0, false},         {1, 700, 4, image_kind::noise, 1, true},
        {900, 1, 8, image_kind::noise, 0, true},       {17, 11, 4, image_kind::gradient, 1, false},
        {320, 240, 8, image_kind::noise, 1, false},    {640, 200, 4, image_kind::stripes, 0, true},
        {1500, 30, 8, image_kind::gradient, 0, false}, {33, 2049, 4, image_kind::noise, 1, false},
    };
    int n = 0;
    for (const sample &s : samples) {
        test_image image = make_image(s.width, s.height, s.depth, s.kind, 11 + static_cast<uint32_t>(n));
        image.transparent = s.transparent;
        image.transparent_index = 3;
        test_host host(image);
        const std::vector<uint8_t> header = image.header();
        const int32_t r = (s.interlaced != 0 ? encode_gifi : encode_gif)(host.handle(), header.data(),
                                                                         &test_host::get_row, host.handle());
        if (r != 0) {
            std::fprintf(stderr, "sample %d: encoder returned %d\n", n, r);
            return 1;
        }
        const std::string name = folder + "/sample" + std::to_string(n);
        FILE *gif = std::fopen((name + ".gif").c_str(), "wb");
        FILE *expect = std::fopen((name + ".expect").c_str(), "wb");
        if (gif == nullptr || expect == nullptr)
            return 1;
        std::fwrite(host.output.data(), 1, host.output.size(), gif);
        std::fprintf(expect, "%d %d %d %d\n", s.width, s.height, s.interlaced, s.transparent ? 3 : -1);
        std::fwrite(image.pixels.data(), 1, image.pixels.size(), expect);
        std::fclose(gif);
        std::fclose(expect);
        ++n;
    }
    std::printf("wrote %d samples\n", n);
    return 0;
}
