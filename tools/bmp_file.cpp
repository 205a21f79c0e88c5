// SPDX-License-Identifier: MIT
// Windows bitmap reader and writer. Every size taken from a header is checked against the file's
// real length before it is used, so a hostile header can neither over-read nor over-allocate.
#include "bmp_file.hpp"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>

#include "tool_error.hpp"

namespace orveln1::tool
{
namespace
{

constexpr std::size_t file_header_bytes = 14;
constexpr uint32_t core_header_bytes = 12; // the oldest header: 16-bit sizes, 3-byte palette entries
constexpr uint32_t info_header_bytes = 40;
constexpr uint32_t compression_rgb = 0;
constexpr uint32_t compression_bitfields = 3;

uint32_t le32(std::span<const uint8_t> f, std::size_t at)
{
    return static_cast<uint32_t>(f[at]) | static_cast<uint32_t>(f[at + 1]) << 8 |
           static_cast<uint32_t>(f[at + 2]) << 16 | static_cast<uint32_t>(f[at + 3]) << 24;
}

uint16_t le16(std::span<const uint8_t> f, std::size_t at)
{
    return static_cast<uint16_t>(f[at] | f[at + 1] << 8);
}

void put16(std::vector<uint8_t> &out, uint32_t v)
{
    out.push_back(static_cast<uint8_t>(v));
    out.push_back(static_cast<uint8_t>(v >> 8));
}

void put32(std::vector<uint8_t> &out, uint32_t v)
{
    put16(out, v & 0xFFFF);
    put16(out, v >> 16);
}

// What a bitmap's headers say: the picture's shape and palette, and where its rows lie.
struct bmp_layout {
    picture shape; // no pixels
    uint32_t pixel_offset = 0;
    bool top_down = false;
};

// Reads the headers and palette from file, the file's first bytes (all of them, or enough for any
// real header), and checks every size against file_size, the file's real length.
bmp_layout parse_bmp(std::span<const uint8_t> file, uint64_t file_size)
{
    if (file.size() < file_header_bytes + core_header_bytes || file[0] != 'B' || file[1] != 'M')
        throw failure("not a bitmap file (too short or no BM signature)");
    const uint32_t pixel_offset = le32(file, 10);
    const uint32_t header_bytes = le32(file, file_header_bytes);
    if (header_bytes != core_header_bytes && header_bytes < info_header_bytes)
        throw failure("bitmap header of " + std::to_string(header_bytes) + " bytes is not a known kind");
    if (file_size < file_header_bytes + header_bytes)
        throw failure("truncated bitmap header");
    if (file.size() < file_header_bytes + header_bytes)
        throw failure("bitmap header of " + std::to_string(header_bytes) + " bytes is not a known kind");

    int64_t width = 0;
    int64_t height = 0;
    int depth = 0;
    uint32_t compression = compression_rgb;
    uint32_t colours_used = 0;
    std::size_t entry_bytes = 4;
    if (header_bytes == core_header_bytes) {
        width = le16(file, 18);
        height = le16(file, 20);
        depth = le16(file, 24);
        entry_bytes = 3;
    } else {
        width = static_cast<int32_t>(le32(file, 18));
        height = static_cast<int32_t>(le32(file, 22));
        depth = le16(file, 28);
        compression = le32(file, 30);
        colours_used = le32(file, 46);
    }
    const bool top_down = height < 0;
    if (top_down)
        height = -height;
    if (width < 1 || height < 1 || width > max_image_side || height > max_image_side ||
        width * height > max_image_pixels)
        throw failure("bitmap size " + std::to_string(width) + "x" + std::to_string(height) + " is out of range");
    if (depth != 1 && depth != 4 && depth != 8 && depth != 24 && depth != 32)
        throw failure(std::to_string(depth) + "-bit bitmaps are not supported (1, 4, 8, 24 and 32 are)");
    if (compression == compression_bitfields && depth == 32 && header_bytes >= info_header_bytes + 12) {
        // Bit fields are accepted when they describe the ordinary blue-green-red byte order.
        if (le32(file, 54) != 0x00FF0000 || le32(file, 58) != 0x0000FF00 || le32(file, 62) != 0x000000FF)
            throw failure("bitmap colour masks other than 8-bit blue, green, red are not supported");
    } else if (compression != compression_rgb) {
        throw failure("compressed bitmaps (compression " + std::to_string(compression) + ") are not supported");
    }

    bmp_layout layout;
    picture &image = layout.shape;
    image.width = static_cast<int32_t>(width);
    image.height = static_cast<int32_t>(height);
    image.depth = depth;
    if (depth <= 8) {
        const std::size_t most = std::size_t{1} << depth;
        std::size_t entries = colours_used == 0 ? most : colours_used;
        if (entries > most)
            throw failure("bitmap palette of " + std::to_string(colours_used) + " colours is too large");
        const std::size_t at = file_header_bytes + header_bytes +
                               (compression == compression_bitfields && header_bytes == info_header_bytes ? 12 : 0);
        if (at + entries * entry_bytes > file.size() || at + entries * entry_bytes > file_size)
            throw failure("truncated bitmap palette");
        for (std::size_t i = 0; i < entries; ++i) {
            const uint8_t *e = file.data() + at + i * entry_bytes;
            image.palette.push_back(colour{e[2], e[1], e[0]});
        }
    }
    const std::size_t stride = image.stride();
    if (pixel_offset > file_size || (file_size - pixel_offset) / stride < static_cast<uint64_t>(height))
        throw failure("truncated bitmap: pixel data ends early");
    layout.pixel_offset = pixel_offset;
    layout.top_down = top_down;
    return layout;
}

// Where the picture's row y is stored: bitmaps are kept bottom row first unless the height is
// negative.
uint64_t stored_row_offset(const bmp_layout &l, int32_t y)
{
    const int32_t stored = l.top_down ? y : l.shape.height - 1 - y;
    return l.pixel_offset + static_cast<uint64_t>(stored) * l.shape.stride();
}

// A bitmap file read through its descriptor a band of rows at a time.
class bmp_reader final : public row_source
{
  public:
    bmp_reader(int fd, std::function<void(double)> progress) : fd_(fd), progress_(std::move(progress))
    {
        struct stat st {
        };
        if (::fstat(fd_, &st) != 0)
            throw failure(std::string("cannot read: ") + std::strerror(errno));
        // Enough for every header kind and the largest palette.
        std::vector<uint8_t> head(static_cast<std::size_t>(std::min<off_t>(st.st_size, 1 << 16)));
        read_at(head.data(), head.size(), 0);
        layout_ = parse_bmp(head, static_cast<uint64_t>(st.st_size));
        shape_ = layout_.shape;
    }
    ~bmp_reader() override { ::close(fd_); }
    bmp_reader(const bmp_reader &) = delete;
    bmp_reader &operator=(const bmp_reader &) = delete;

    void read_rows(int32_t first, int32_t count, picture &band, int32_t at) override
    {
        for (int32_t y = 0; y < count; ++y) {
            read_at(band.row(at + y), band.stride(), stored_row_offset(layout_, first + y));
            // Progress is told for a whole read; a band's caller tells its own.
            if (progress_ && count == shape_.height && ((y + 1) % 256 == 0 || y + 1 == count))
                progress_(static_cast<double>(y + 1) / count);
        }
    }

  private:
    void read_at(uint8_t *to, std::size_t bytes, uint64_t offset)
    {
        for (std::size_t done = 0; done < bytes;) {
            const ssize_t n = ::pread(fd_, to + done, bytes - done, static_cast<off_t>(offset + done));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                throw failure(n < 0 ? std::string("cannot read: ") + std::strerror(errno)
                                    : std::string("truncated bitmap: pixel data ends early"));
            done += static_cast<std::size_t>(n);
        }
    }

    int fd_;
    std::function<void(double)> progress_;
    bmp_layout layout_;
};

} // namespace

picture read_bmp(std::span<const uint8_t> file)
{
    const bmp_layout layout = parse_bmp(file, file.size());
    picture image = make_picture(layout.shape.width, layout.shape.height, layout.shape.depth);
    image.palette = layout.shape.palette;
    for (int32_t y = 0; y < image.height; ++y)
        std::memcpy(image.row(y), file.data() + stored_row_offset(layout, y), image.stride());
    return image;
}

std::unique_ptr<row_source> open_bmp(int fd, std::function<void(double)> progress)
{
    try {
        return std::make_unique<bmp_reader>(fd, std::move(progress));
    } catch (...) {
        // A reader that was never made has not taken the descriptor over.
        ::close(fd);
        throw;
    }
}

std::vector<uint8_t> write_bmp(const picture &image)
{
    if (image.depth != 1 && image.depth != 4 && image.depth != 8 && image.depth != 24 && image.depth != 32)
        throw failure(std::to_string(image.depth) + "-bit images cannot be written as bitmaps");
    const uint32_t entries = image.depth <= 8 ? 1u << image.depth : 0;
    const auto stride = static_cast<uint32_t>(image.stride());
    const uint32_t offset = static_cast<uint32_t>(file_header_bytes) + info_header_bytes + entries * 4;
    const uint64_t pixel_bytes = uint64_t{stride} * static_cast<uint64_t>(image.height);
    if (offset + pixel_bytes > UINT32_MAX)
        throw failure("image too large for a bitmap file");
    std::vector<uint8_t> out;
    out.reserve(offset + pixel_bytes);
    out.push_back('B');
    out.push_back('M');
    put32(out, static_cast<uint32_t>(offset + pixel_bytes));
    put32(out, 0);
    put32(out, offset);
    put32(out, info_header_bytes);
    put32(out, static_cast<uint32_t>(image.width));
    put32(out, static_cast<uint32_t>(image.height)); // positive: bottom-up, the most widely read order
    put16(out, 1);
    put16(out, static_cast<uint32_t>(image.depth));
    put32(out, compression_rgb);
    put32(out, static_cast<uint32_t>(pixel_bytes));
    put32(out, 2835); // 72 dots per inch
    put32(out, 2835);
    put32(out, entries);
    put32(out, 0);
    for (uint32_t i = 0; i < entries; ++i) {
        const colour c = i < image.palette.size() ? image.palette[i] : colour{};
        out.push_back(c.blue);
        out.push_back(c.green);
        out.push_back(c.red);
        out.push_back(0);
    }
    for (int32_t y = image.height - 1; y >= 0; --y)
        out.insert(out.end(), image.row(y), image.row(y) + stride);
    return out;
}

} // namespace orveln1::tool
