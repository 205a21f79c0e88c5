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

#include "orveln1.hpp"
#include "row_source.hpp"
#include "support/memory_instrumented.hpp"
#include "tool_error.hpp"

namespace tool_fuzz
{

using namespace orveln1;
using orveln1::tool::row_source;

// Pictures larger than these are opened but not read, so that one input runs in milliseconds;
// a small file may rightly stand for a large picture, which proves nothing more when decoded.
constexpr int64_t largest_whole_pixels = int64_t{1} << 20;
constexpr int64_t largest_banded_pixels = int64_t{1} << 22;

inline void require(bool condition)
{
    if (!condition)
        std::abort();
}

// The input as a regular file's descriptor, for the readers that take one; -1 when the system
// cannot make one.
inline int as_descriptor(const uint8_t *data, std::size_t size)
{
    const int fd = ::memfd_create("fuzz-input", MFD_CLOEXEC);
    if (fd < 0)
        return -1;
    for (std::size_t done = 0; done < size;) {
        const ssize_t n = ::write(fd, data + done, size - done);
        if (n <= 0) {
            ::close(fd);
            return -1;
        }
        done += static_cast<std::size_t>(n);
    }
    return fd;
}

// The input as a stream that a reader takes over; nullptr when the system cannot make one.
inline std::FILE *as_stream(const uint8_t *data, std::size_t size)
{
    const int fd = as_descriptor(data, size);
    if (fd < 0)
        return nullptr;
    ::lseek(fd, 0, SEEK_SET);
    std::FILE *stream = ::fdopen(fd, "rb");
    if (stream == nullptr)
        ::close(fd);
    return stream;
}

// Where the readers' descriptions go.
inline std::FILE *nowhere()
{
    static std::FILE *const sink = std::fopen("/dev/null", "w");
    return sink;
}

inline int64_t pixels_of(const picture &shape)
{
    return int64_t{shape.width} * shape.height;
}

// A shape a reader may promise: a size the tool takes and a depth it has rows for.
inline void require_sane_shape(const picture &shape)
{
    require(shape.width >= 1 && shape.height >= 1);
    require(shape.depth == 1 || shape.depth == 4 || shape.depth == 8 || shape.depth == 24 || shape.depth == 32);
    require(shape.depth > 8 || shape.palette.size() <= (std::size_t{1} << shape.depth));
}

// Reads the whole picture band_rows rows at a time into one band, as a conversion into TIFF does.
inline void read_in_bands(row_source &source, int32_t band_rows)
{
    const picture &shape = source.shape();
    require_sane_shape(shape);
    if (pixels_of(shape) > largest_banded_pixels)
        return;
    band_rows = std::clamp(band_rows, 1, shape.height);
    picture band = make_picture(shape.width, band_rows, shape.depth);
    for (int32_t y = 0; y < shape.height; y += band_rows)
        source.read_rows(y, std::min(band_rows, shape.height - y), band, 0);
}

// A picture that a reader returned whole.
inline void require_whole(const picture &image)
{
    require_sane_shape(image);
    require(image.pixels.size() == image.stride() * static_cast<std::size_t>(image.height));
}

// Reads the input band by band (band_rows at a time) through a source from open, and, when the
// picture is small, whole through a second one and whole from memory through read_whole; when
// both whole reads succeed they give the same picture. open gives nullptr when the system cannot
// make the descriptor or stream; open and read_whole throw failure for what they refuse.
template <typename Open, typename ReadWhole>
void read_banded_and_whole(std::span<const uint8_t> file, int32_t band_rows, Open open, ReadWhole read_whole)
{
    picture banded;
    bool small = false;
    try {
        const std::unique_ptr<row_source> source = open();
        if (source == nullptr)
            return;
        read_in_bands(*source, band_rows);
        small = pixels_of(source->shape()) <= largest_whole_pixels;
        if (small)
            if (const std::unique_ptr<row_source> again = open(); again != nullptr)
                banded = again->take_all();
    } catch (const orveln1::tool::failure &) {
    }
    if (!small)
        return;
    try {
        const picture whole = read_whole(file);
        require_whole(whole);
        if (!banded.pixels.empty())
            require(whole.pixels == banded.pixels && whole.palette == banded.palette &&
                    whole.transparent_index == banded.transparent_index);
    } catch (const orveln1::tool::failure &) {
    }
}

// No codec block outlives a run, whatever the reader made of the input.
inline void require_no_block_left()
{
    require(memory_stats_now().live == 0);
}

// One run of a reader's target: read_banded_and_whole with bands of 1 + (the input's last byte %
// band_choices) rows, the source opened from the input by open(data, size).
template <typename Open, typename ReadWhole>
int read_steered(const uint8_t *data, std::size_t size, int32_t band_choices, Open open, ReadWhole read_whole)
{
    if (size < 1)
        return 0;
    read_banded_and_whole(
        std::span(data, size), 1 + data[size - 1] % band_choices, [&] { return open(data, size); }, read_whole);
    require_no_block_left();
    return 0;
}

} // namespace tool_fuzz
