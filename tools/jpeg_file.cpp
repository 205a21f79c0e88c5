// SPDX-License-Identifier: MIT
// JPEG reading with libjpeg-turbo. libjpeg reports errors through a longjmp from its error
// manager, so each call that may fail runs in a small function that owns no C++ objects.
#include "jpeg_file.hpp"

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <string>
#include <vector>

#include <jpeglib.h>

#include "bmp_file.hpp"
#include "tool_error.hpp"

namespace orveln1::tool
{
namespace
{

struct error_manager {
    jpeg_error_mgr base;
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
};

void on_error(j_common_ptr info)
{
    auto *e = reinterpret_cast<error_manager *>(info->err);
    (*info->err->format_message)(info, e->message);
    std::longjmp(e->jump, 1);
}

void on_message(j_common_ptr, int) {}

bool read_header(jpeg_decompress_struct &info, error_manager &errors)
{
    if (setjmp(errors.jump))
        return false;
    jpeg_read_header(&info, TRUE);
    info.out_color_space = info.jpeg_color_space == JCS_GRAYSCALE ? JCS_GRAYSCALE : JCS_EXT_BGR;
    if (info.jpeg_color_space == JCS_CMYK || info.jpeg_color_space == JCS_YCCK) {
        std::snprintf(errors.message, sizeof errors.message, "CMYK JPEG images are not supported");
        return false;
    }
    jpeg_start_decompress(&info);
    return true;
}

// Reads count scanlines into rows; false on a libjpeg error.
bool read_scanlines(jpeg_decompress_struct &info, error_manager &errors, JSAMPROW *rows, int32_t count)
{
    if (setjmp(errors.jump))
        return false;
    for (int32_t y = 0; y < count;) {
        const JDIMENSION got = jpeg_read_scanlines(&info, rows + y, static_cast<JDIMENSION>(count - y));
        if (got == 0) {
            std::snprintf(errors.message, sizeof errors.message, "no more scanlines");
            return false;
        }
        y += static_cast<int32_t>(got);
    }
    return true;
}

bool create(jpeg_decompress_struct &info, error_manager &errors)
{
    if (setjmp(errors.jump))
        return false;
    jpeg_create_decompress(&info);
    return true;
}

// A JPEG file decoded scanline by scanline as the rows are asked for, from memory or from a stream.
class jpeg_reader final : public row_source
{
  public:
    jpeg_reader(std::span<const uint8_t> file, std::FILE *stream, std::function<void(double)> progress)
        : stream_(stream), progress_(std::move(progress))
    {
        d_.info.err = jpeg_std_error(&errors_.base);
        errors_.base.error_exit = on_error;
        errors_.base.emit_message = on_message;
        if (!create(d_.info, errors_))
            throw failure("out of memory");
        d_.created = true;
        if (stream != nullptr)
            jpeg_stdio_src(&d_.info, stream);
        else
            jpeg_mem_src(&d_.info, file.data(), static_cast<unsigned long>(file.size()));
        if (!read_header(d_.info, errors_))
            throw failure(std::string("not a readable JPEG file (") + errors_.message + ")");
        const JDIMENSION width = d_.info.output_width;
        const JDIMENSION height = d_.info.output_height;
        if (width < 1 || height < 1 || int64_t{width} * height > max_image_pixels)
            throw failure("JPEG size " + std::to_string(width) + "x" + std::to_string(height) + " is out of range");
        const bool grey = d_.info.out_color_space == JCS_GRAYSCALE;
        shape_.width = static_cast<int32_t>(width);
        shape_.height = static_cast<int32_t>(height);
        shape_.depth = grey ? 8 : 24;
        if (grey)
            for (int i = 0; i < 256; ++i)
                shape_.palette.push_back(
                    colour{static_cast<uint8_t>(i), static_cast<uint8_t>(i), static_cast<uint8_t>(i)});
    }
    ~jpeg_reader() override
    {
        if (stream_ != nullptr)
            std::fclose(stream_);
    }
    jpeg_reader(const jpeg_reader &) = delete;
    jpeg_reader &operator=(const jpeg_reader &) = delete;

    void read_rows(int32_t first, int32_t count, picture &band, int32_t at) override
    {
        static_cast<void>(first); // scanlines come in order, as the calls do
        const bool whole = count == shape_.height;
        const int32_t step = whole ? 64 : count;
        std::vector<JSAMPROW> rows(static_cast<std::size_t>(step));
        for (int32_t done = 0; done < count; done += step) {
            const int32_t n = std::min(step, count - done);
            for (int32_t y = 0; y < n; ++y)
                rows[static_cast<std::size_t>(y)] = band.row(at + done + y);
            if (!read_scanlines(d_.info, errors_, rows.data(), n))
                throw failure(std::string("JPEG image data: ") + errors_.message);
            // Progress is told for a whole read; a band's caller tells its own.
            if (progress_ && whole)
                progress_(static_cast<double>(done + n) / count);
        }
    }

  private:
    // Destroyed also when the constructor fails part way.
    struct decompressor {
        jpeg_decompress_struct info{};
        bool created = false;
        decompressor() = default;
        ~decompressor()
        {
            if (created)
                jpeg_destroy_decompress(&info);
        }
        decompressor(const decompressor &) = delete;
        decompressor &operator=(const decompressor &) = delete;
    };

    error_manager errors_{};
    decompressor d_;
    std::FILE *stream_;
    std::function<void(double)> progress_;
};

} // namespace

picture read_jpeg(std::span<const uint8_t> file, const std::function<void(double)> &progress)
{
    jpeg_reader reader(file, nullptr, progress);
    return reader.take_all();
}

std::unique_ptr<row_source> open_jpeg(std::FILE *stream, std::function<void(double)> progress)
{
    try {
        return std::make_unique<jpeg_reader>(std::span<const uint8_t>(), stream, std::move(progress));
    } catch (...) {
        // A reader that was never made has not taken the file over.
        std::fclose(stream);
        throw;
    }
}

} // namespace orveln1::tool
