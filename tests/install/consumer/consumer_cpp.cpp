// SPDX-License-Identifier: MIT
// Uses the installed static core through the C++ interface: a small picture to GIF and to a TIFF
// LZW strip, and the strip decoded back.
#include <orveln1.hpp>

#include <cstdio>

int main()
{
    orveln1::picture image = orveln1::make_picture(16, 4, 8);
    image.palette.assign(256, orveln1::colour{10, 20, 30});
    for (int32_t y = 0; y < image.height; ++y)
        for (int32_t x = 0; x < image.width; ++x)
            image.row(y)[x] = static_cast<uint8_t>(x * y);
    const auto gif = orveln1::encode_gif_file(image, true);
    if (!gif.ok())
        return 1;
    const orveln1::tif_strip_format format{16, 8, false, true};
    const auto strip = orveln1::encode_tif_strip(image, format, 0, image.height);
    if (!strip.ok())
        return 2;
    orveln1::picture back = orveln1::make_picture(16, 4, 8);
    if (orveln1::decode_tif_strip(strip.value, format, back, 0, back.height) < 0 || back.pixels != image.pixels)
        return 3;
    std::printf("C++ interface: GIF of %zu bytes, strip of %zu bytes\n", gif.value.size(), strip.value.size());
    return 0;
}
