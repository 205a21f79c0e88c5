// SPDX-License-Identifier: MIT
// One call per codec and side: orveln1 through its exported entry points with callbacks that only
// copy, and the peers (giflib, libtiff, stb_image) on in-memory streams. Each returns false when
// the library reports a failure.
#pragma once

#include <cstdint>
#include <vector>

#include "bench_images.hpp"

namespace orveln1_bench
{

// Output of a TIFF encoder: the strips back to back, with where each one starts.
struct strip_set {
    std::vector<uint8_t> bytes;
    std::vector<std::size_t> starts; // one more than strips: the last is the end
    void clear()
    {
        bytes.clear();
        starts.assign(1, 0);
    }
    [[nodiscard]] std::size_t count() const { return starts.size() - 1; }
};

// Rows in a strip of about strip_bytes (at least one row).
[[nodiscard]] int rows_per_strip(const bench_image &image, std::size_t strip_bytes);

// orveln1, through the exports. Decoders write rows into out (resized as needed).
void ours_register_callbacks();
[[nodiscard]] bool ours_gif_encode(const bench_image &image, const std::vector<uint8_t> &header,
                                   std::vector<uint8_t> &gif);
[[nodiscard]] bool ours_gif_decode(const bench_image &image, const std::vector<uint8_t> &header,
                                   const std::vector<uint8_t> &gif, std::vector<uint8_t> &padded_out);
[[nodiscard]] bool ours_tif_encode(const bench_image &image, const std::vector<uint8_t> &header, int strip_rows,
                                   strip_set &strips);
[[nodiscard]] bool ours_tif_decode(const bench_image &image, const strip_set &strips, int strip_rows,
                                   std::vector<uint8_t> &unpadded_out);

// giflib: a whole single-image stream to and from memory, one DGifGetLine/EGifPutLine per row.
[[nodiscard]] bool giflib_encode(const bench_image &image, std::vector<uint8_t> &gif);
[[nodiscard]] bool giflib_decode(const bench_image &image, const std::vector<uint8_t> &gif,
                                 std::vector<uint8_t> &indices_out);

// stb_image: decodes the stream to colours (its only form of output).
[[nodiscard]] bool stb_decode(const bench_image &image, const std::vector<uint8_t> &gif,
                              std::vector<uint8_t> &indices_out);

// libtiff: a TIFF file in memory, LZW without predictor, strip_rows rows per strip.
[[nodiscard]] bool libtiff_encode(const bench_image &image, int strip_rows, std::vector<uint8_t> &file);
// Opens a file once; reads all its strips per call.
struct libtiff_reader;
[[nodiscard]] libtiff_reader *libtiff_open(const std::vector<uint8_t> &file);
void libtiff_close(libtiff_reader *reader);
[[nodiscard]] bool libtiff_decode(libtiff_reader *reader, std::vector<uint8_t> &unpadded_out);
// The raw (still compressed) strips of a file, and a file made of given raw strips.
[[nodiscard]] bool libtiff_raw_strips(const std::vector<uint8_t> &file, strip_set &strips);
[[nodiscard]] bool libtiff_wrap_strips(const bench_image &image, int strip_rows, const strip_set &strips,
                                       std::vector<uint8_t> &file);

} // namespace orveln1_bench
