// SPDX-License-Identifier: MIT
// The tool's work that does not depend on the command line: telling formats apart, loading and
// saving pictures in any of them, and putting files in place only when they are complete.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "gif_file.hpp"
#include "orveln1.hpp"
#include "tiff_file.hpp"

namespace orveln1::tool
{

enum class file_format { bmp, gif, tif };

[[nodiscard]] const char *format_name(file_format f);
// By magic bytes: "BM", "GIF87a"/"GIF89a", "II*\0"/"MM\0*".
[[nodiscard]] std::optional<file_format> sniff_format(std::span<const uint8_t> data);
// By name: "gif", "tif", "tiff", "bmp", or a path ending in one of them (any case).
[[nodiscard]] std::optional<file_format> format_from_name(std::string_view name);

struct save_options {
    bool interlace = false;
    int transparent = -1; // GIF transparent index, -1 for none
    bool predictor = false;
    unsigned threads = 0;
};

// Facts gathered while loading, for `orveln info`.
struct load_facts {
    file_format format = file_format::bmp;
    gif_facts gif;
    tiff_facts tiff;
};

[[nodiscard]] picture load_picture(std::span<const uint8_t> data, unsigned threads = 0, load_facts *facts = nullptr);
[[nodiscard]] std::vector<uint8_t> save_picture(const picture &image, file_format format, const save_options &options);

// The whole of a file, or of standard input for "-". Throws failure.
[[nodiscard]] std::vector<uint8_t> read_input_file(const std::string &path);
// Writes to a temporary name beside the target and renames it into place, so that a failure never
// leaves a partial file; "-" writes to standard output. Throws failure.
void write_output_file(const std::string &path, std::span<const uint8_t> data);

} // namespace orveln1::tool
