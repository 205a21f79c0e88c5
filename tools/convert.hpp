// SPDX-License-Identifier: MIT
// The tool's work that does not depend on the command line: telling formats apart, loading and
// saving pictures in any of them, and putting files in place only when they are complete.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "gif_file.hpp"
#include "orveln1.hpp"
#include "row_source.hpp"
#include "tiff_file.hpp"

namespace orveln1::tool
{

enum class file_format { bmp, gif, tif, png, jpeg };

[[nodiscard]] const char *format_name(file_format f);
// By magic bytes: "BM", "GIF87a"/"GIF89a", "II*\0"/"MM\0*", the PNG signature, a JPEG SOI marker.
[[nodiscard]] std::optional<file_format> sniff_format(std::span<const uint8_t> data);
// By name: "gif", "tif", "tiff", "bmp", "png", or a path ending in one of them (any case). JPEG is
// read but never written, so its names give nothing here.
[[nodiscard]] std::optional<file_format> format_from_name(std::string_view name);

// Reports work done, from 0 to 1, for a progress line.
using progress_fn = std::function<void(double)>;

struct save_options {
    bool interlace = false;
    int transparent = -1; // GIF transparent index, -1 for none
    // Horizontal differencing for TIFF: by default on for 8-bit grey and RGB(A), off for palettes.
    enum class predictor_choice { automatic, on, off } predictor = predictor_choice::automatic;
    unsigned threads = 0;
    // GIF from more than 256 colours: quantise to this many, with error diffusion unless told not
    // to; exact refuses instead.
    int colours = 256;
    bool dither = true;
    bool exact = false;
    sample_meaning fourth = sample_meaning::unspecified; // what a 32-bit picture's fourth byte is
    progress_fn progress;
};

struct load_options {
    unsigned threads = 0;
    int image = 0; // which image of a GIF or page of a TIFF
    progress_fn progress;
};

// Facts gathered while loading.
struct load_facts {
    file_format format = file_format::bmp;
    int images = 1;                                      // images (GIF) or pages (TIFF) in the file
    sample_meaning fourth = sample_meaning::unspecified; // of a 32-bit picture
};

[[nodiscard]] picture load_picture(std::span<const uint8_t> data, const load_options &options = {},
                                   load_facts *facts = nullptr);
// The picture as a whole file in memory.
[[nodiscard]] std::vector<uint8_t> save_picture(const picture &image, file_format format, const save_options &options);

// Opens a picture file, or standard input for "-". A regular TIFF, PNG or BMP file is read a band
// of rows at a time as the rows are wanted, so that converting it to TIFF holds only the rows in
// flight; anything else is read whole first.
[[nodiscard]] std::unique_ptr<row_source> open_picture_file(const std::string &path, const load_options &options = {},
                                                            load_facts *facts = nullptr);
// The whole picture of a file, or of standard input for "-".
[[nodiscard]] picture load_picture_file(const std::string &path, const load_options &options = {},
                                        load_facts *facts = nullptr);

// The whole of a file, or of standard input for "-". Throws failure (a folder, an unreadable file).
[[nodiscard]] std::vector<uint8_t> read_input_file(const std::string &path);

struct write_options {
    bool force = false; // replace a write-protected target
};

// Writes the picture to path: through a temporary name beside the final target (a symbolic link is
// followed and kept) renamed into place, so that a failure or a signal never leaves a partial file;
// "-" writes to standard output, which must not be a terminal. TIFF goes out strip by strip, with
// the rows taken from source as the strips need them.
// Throws output_failure for the output's own problems, failure for the picture's.
void write_picture_file(const std::string &path, row_source &source, file_format format, const save_options &options,
                        const write_options &how = {});

// The same for bytes already made (the demo's files).
void write_output_file(const std::string &path, std::span<const uint8_t> data, const write_options &how = {});

} // namespace orveln1::tool
