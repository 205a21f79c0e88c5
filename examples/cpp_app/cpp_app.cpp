// SPDX-License-Identifier: MIT
// A C++ application over orveln1.hpp: codes a picture as an interlaced GIF and decodes it back, then
// codes a 24-bit picture as TIFF LZW strips with the horizontal predictor and decodes them back.
// Usage: cpp_app [OUT.gif]   (also writes the GIF there, for other hosts to read)
#include <orveln1.hpp>

#include <algorithm>
#include <cstdio>

namespace
{

int gif_round_trip(const char *out_path)
{
    orveln1::picture image = orveln1::make_picture(160, 90, 8);
    for (int i = 0; i < 256; ++i)
        image.palette.push_back(
            orveln1::colour{static_cast<uint8_t>(i), static_cast<uint8_t>(i / 2), static_cast<uint8_t>(255 - i)});
    for (int32_t y = 0; y < image.height; ++y)
        for (int32_t x = 0; x < image.width; ++x)
            image.row(y)[x] = static_cast<uint8_t>((x / 8 + y / 6) % 3 == 0 ? 255 : (x * y) / 40 % 200);

    const orveln1::result<orveln1::byte_vector> gif = orveln1::encode_gif_file(image, /*interlaced=*/true);
    if (!gif.ok()) {
        std::fprintf(stderr, "cpp_app: encode_gif_file: %s\n", orveln1::error_text(gif.code).c_str());
        return 1;
    }
    if (out_path != nullptr) {
        std::FILE *f = std::fopen(out_path, "wb");
        if (f == nullptr || std::fwrite(gif.value.data(), 1, gif.value.size(), f) != gif.value.size() ||
            std::fclose(f) != 0) {
            std::fprintf(stderr, "cpp_app: cannot write %s\n", out_path);
            return 1;
        }
    }

    // The library's GIF reader finds the image in the stream; one call decodes it with its palette.
    const orveln1::result<orveln1::gif_decoded> back = orveln1::decode_gif_file(gif.value);
    if (!back.ok() || back.value.rows_delivered != image.height || back.value.image.pixels != image.pixels ||
        back.value.image.palette != image.palette) {
        std::fprintf(stderr, "cpp_app: the GIF decoded to other pixels (%s)\n", orveln1::error_text(back.code).c_str());
        return 1;
    }
    std::printf("GIF:  %dx%d interlaced, %zu bytes, %d rows decoded back\n", image.width, image.height,
                gif.value.size(), back.value.rows_delivered);
    return 0;
}

int tif_round_trip()
{
    orveln1::picture image = orveln1::make_picture(120, 80, 24);
    for (int32_t y = 0; y < image.height; ++y)
        for (int32_t x = 0; x < image.width; ++x) {
            uint8_t *pixel = image.row(y) + 3 * x; // blue, green, red
            pixel[0] = static_cast<uint8_t>(2 * x);
            pixel[1] = static_cast<uint8_t>(3 * y);
            pixel[2] = static_cast<uint8_t>(x + y);
        }
    const orveln1::tif_strip_format format{image.width, 24, false, /*horizontal_predictor=*/true};
    orveln1::picture back = orveln1::make_picture(image.width, image.height, 24);
    constexpr int32_t rows_per_strip = 16;
    std::size_t bytes = 0;
    int strips = 0;
    for (int32_t first = 0; first < image.height; first += rows_per_strip, ++strips) {
        const int32_t rows = std::min(rows_per_strip, image.height - first);
        const orveln1::result<orveln1::byte_vector> strip = orveln1::encode_tif_strip(image, format, first, rows);
        if (!strip.ok()) {
            std::fprintf(stderr, "cpp_app: encode_tif_strip: %d\n", strip.code);
            return 1;
        }
        bytes += strip.value.size();
        const int32_t result = orveln1::decode_tif_strip(strip.value, format, back, first, rows);
        if (result < 0) {
            std::fprintf(stderr, "cpp_app: decode_tif_strip: %d\n", result);
            return 1;
        }
    }
    if (back.pixels != image.pixels) {
        std::fprintf(stderr, "cpp_app: the strips decoded to other pixels\n");
        return 1;
    }
    std::printf("TIFF: %dx%d RGB in %d strips with predictor 2, %zu bytes, decoded back\n", image.width, image.height,
                strips, bytes);
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    const int gif_failed = gif_round_trip(argc > 1 ? argv[1] : nullptr);
    const int tif_failed = tif_round_trip();
    return gif_failed != 0 || tif_failed != 0 ? 1 : 0;
}
