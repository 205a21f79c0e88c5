// SPDX-License-Identifier: MIT
// GIF files: any image of a stream read through orveln1's stream reader and decoder (image data
// without a leading clear code too), descriptions of every image for `orveln info`, and pictures
// written as single-image GIF streams by orveln1's encoder.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "orveln1.hpp"
#include "tiff_file.hpp"

namespace orveln1::tool
{

// Reads image number `image` (from 0); images, when given, receives how many the stream holds.
// Throws failure for a stream the reader cannot take, or image data that does not decode.
// progress hears of the image decoded (one call of the decoder, so only of its end).
[[nodiscard]] picture read_gif(std::span<const uint8_t> file, int image = 0, int *images = nullptr,
                               const std::function<void(double)> &progress = {});

struct gif_write_options {
    bool interlaced = false;
    int transparent = -1; // palette index to mark transparent, -1 to keep the picture's own
    int colours = 256;    // most colours a reduced picture gets
    bool dither = true;
    bool exact = false; // refuse pictures of more colours instead of reducing them
    sample_meaning fourth = sample_meaning::unspecified;
    std::function<void(double)> progress; // hears of the rows reduced, and of the end
};

// Depth 1, 4 or 8 pictures go out as they are; 24- and 32-bit ones get their own colours when they
// have few enough, else a reduced palette (failure with exact).
[[nodiscard]] std::vector<uint8_t> write_gif(const picture &image, const gif_write_options &options);

// A palette picture with the same colours as a 24- or 32-bit one; failure beyond 256 colours.
// The transparent index is carried over.
[[nodiscard]] picture to_palette(const picture &image);

// Prints a description of every image of a GIF stream to out. Returns false when the stream is
// damaged (after printing what it could read and why it stopped).
bool describe_gif(std::span<const uint8_t> file, std::FILE *out);

} // namespace orveln1::tool
