// SPDX-License-Identifier: MIT
// Host side of GIF decoding: reads a GIF stream's records up to the first image's LZW minimum code
// size and tells where its image data begins, for the command-line tool and the tests.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace orveln1
{

// What the records before the first image's data say about that image.
struct gif_image_info {
    int32_t screen_width = 0;
    int32_t screen_height = 0;
    int32_t left = 0;
    int32_t top = 0;
    int32_t width = 0;
    int32_t height = 0;
    bool interlaced = false;
    bool local_colour_table = false;
    // The image's colour table (the local one when present, else the global one), red, green,
    // blue per entry; empty when the stream has neither.
    std::vector<uint8_t> colour_table;
    // From a graphic control extension before the image; -1 when none marks a transparent colour.
    int32_t transparent_index = -1;
    uint8_t packed_byte = 0;   // the image descriptor's packed byte
    uint8_t min_code_size = 0; // the LZW minimum code size byte
    // packed_byte | min_code_size << 8: the two bytes that end the descriptor and begin the data,
    // as one little-endian word, which decode_gif takes as its code_size_word.
    int32_t code_size_word = 0;
    // Offset of the first data sub-block (its length byte), just after the code size byte.
    std::size_t data_offset = 0;
};

// Results of gif_read_container.
constexpr int32_t GIF_CONTAINER_OK = 0;
constexpr int32_t GIF_CONTAINER_NOT_GIF = -1;   // no "GIF87a"/"GIF89a" signature
constexpr int32_t GIF_CONTAINER_TRUNCATED = -2; // the stream ends before the image data begins
constexpr int32_t GIF_CONTAINER_NO_IMAGE = -3;  // the trailer comes before any image
constexpr int32_t GIF_CONTAINER_BAD_BLOCK = -4; // a byte that begins no known record

// Reads the header, the logical screen descriptor, the global colour table, any extensions, the
// first image descriptor, its local colour table and its LZW minimum code size from the size bytes
// at data. Never reads outside them, whatever they hold.
[[nodiscard]] int32_t gif_read_container(const uint8_t *data, std::size_t size, gif_image_info &info);

} // namespace orveln1
