// SPDX-License-Identifier: MIT
// What the fuzz targets of the tool's file readers share: the input as a descriptor or a stream,
// band-by-band reading of a source, and the checks that every run must pass.
#pragma once

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <span>
#include <type_traits>

#include "orveln1.hpp"
#include "row_source.hpp"
#include "support/memory_instrumented.hpp"
#include "tool_error.hpp"

namespace tool_fuzz
{

using namespace orveln1;
using namespace orveln1::tool;

// Pictures larger than these are opened but not read, so that one input runs in milliseconds;
// a small file may rightly stand for a large picture, which proves nothing more when decoded.
constexpr int64_t largest_whole_pixels = int64_t{1} << 20;
constexpr int64_t largest_banded_pixels = int64_t{1} << 22;

inline void require(bool condition)
{
    if (!condition)
        std::abort();
}

// Where the readers' descriptions go.
inline std::FILE *nowhere()
{
    static std::FILE *const sink = std::fopen("/dev/null", "w");
    return sink;
}

// The source open makes of the file as a regular file's descriptor, or as a stream when open
// takes one; nullptr when the system cannot make either.
template <typename Open> std::unique_ptr<row_source> open_file(std::span<const uint8_t> file, Open open)
{
    const int fd = ::memfd_create("fuzz-input", MFD_CLOEXEC);
    // A memory file takes the whole input in one write unless the system is out of memory.
    if (fd >= 0 && ::write(fd, file.data(), file.size()) == static_cast<ssize_t>(file.size())) {
        if constexpr (std::is_invocable_v<Open, int>)
            return open(fd);
        else if (std::FILE *stream = (::lseek(fd, 0, SEEK_SET), ::fdopen(fd, "rb")); stream != nullptr)
            return open(stream);
    }
    if (fd >= 0)
        ::close(fd);
    return nullptr;
}

// A shape a reader may promise: a size the tool takes and a depth it has rows for.
inline void require_sane_shape(const picture &shape)
{
    require(shape.width >= 1 && shape.height >= 1);
    require(shape.depth == 1 || shape.depth == 4 || shape.depth == 8 || shape.depth == 24 || shape.depth == 32);
    require(shape.depth > 8 || shape.palette.size() <= (std::size_t{1} << shape.depth));
}

// A picture that a reader returned whole.
inline void require_whole(const picture &image)
{
    require_sane_shape(image);
    require(image.pixels.size() == image.stride() * static_cast<std::size_t>(image.height));
}

// One run of a reader's target: reads the whole input in bands of 1 + (its last byte %
// band_choices) rows into one band, as a conversion into TIFF does, through a source from
// open_file(input, open), and, when the picture is small, whole through a second one and whole
// from memory through read_whole; when both whole reads succeed they give the same picture. open
// and read_whole throw failure for what they refuse. No codec block outlives the run, whatever the
// reader made of the input.
template <typename Open, typename ReadWhole>
int read_steered(const uint8_t *data, std::size_t size, int32_t band_choices, Open open, ReadWhole read_whole)
{
    if (size < 1)
        return 0;
    const std::span<const uint8_t> file(data, size);
    int32_t band_rows = 1 + data[size - 1] % band_choices;
    picture banded;
    bool small = false;
    try {
        if (const std::unique_ptr<row_source> source = open_file(file, open); source != nullptr) {
            const picture &shape = source->shape();
            require_sane_shape(shape);
            const int64_t pixels = int64_t{shape.width} * shape.height;
            if (pixels <= largest_banded_pixels) {
                band_rows = std::clamp(band_rows, 1, shape.height);
                picture band = make_picture(shape.width, band_rows, shape.depth);
                for (int32_t y = 0; y < shape.height; y += band_rows)
                    source->read_rows(y, std::min(band_rows, shape.height - y), band, 0);
            }
            small = pixels <= largest_whole_pixels;
            if (small)
                if (const std::unique_ptr<row_source> again = open_file(file, open); again != nullptr)
                    banded = again->take_all();
        }
    } catch (const failure &) {
    }
    if (small) {
        try {
            const picture whole = read_whole(file);
            require_whole(whole);
            if (!banded.pixels.empty())
                require(whole.pixels == banded.pixels && whole.palette == banded.palette &&
                        whole.transparent_index == banded.transparent_index);
        } catch (const failure &) {
        }
    }
    require(memory_stats_now().live == 0);
    return 0;
}

} // namespace tool_fuzz
