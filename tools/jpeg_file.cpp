// SPDX-License-Identifier: MIT
// JPEG reading with libjpeg-turbo. libjpeg reports errors through a longjmp from its error
// manager, so the decoding runs in a function that owns no C++ objects.
#include "jpeg_file.hpp"

#include <csetjmp>
#include <cstdio>
#include <string>

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

bool read_rows(jpeg_decompress_struct &info, error_manager &errors, picture &image,
               const std::function<void(double)> &progress)
{
    if (setjmp(errors.jump))
        return false;
    while (info.output_scanline < info.output_height) {
        JSAMPROW row = image.row(static_cast<int32_t>(info.output_scanline));
        jpeg_read_scanlines(&info, &row, 1);
        if (progress && info.output_scanline % 64 == 0)
            progress(static_cast<double>(info.output_scanline) / info.output_height);
    }
    if (progress)
        progress(1.0);
    jpeg_finish_decompress(&info);
    return true;
}

struct decompressor {
    jpeg_decompress_struct info{};
    ~decompressor() { jpeg_destroy_decompress(&info); }
};

} // namespace

picture read_jpeg(std::span<const uint8_t> file, const std::function<void(double)> &progress)
{
    error_manager errors{};
    decompressor d;
    d.info.err = jpeg_std_error(&errors.base);
    errors.base.error_exit = on_error;
    errors.base.emit_message = on_message;
    if (setjmp(errors.jump))
        throw failure("out of memory");
    jpeg_create_decompress(&d.info);
    jpeg_mem_src(&d.info, file.data(), static_cast<unsigned long>(file.size()));
    if (!read_header(d.info, errors))
        throw failure(std::string("not a readable JPEG file (") + errors.message + ")");
    const JDIMENSION width = d.info.output_width;
    const JDIMENSION height = d.info.output_height;
    if (width < 1 || height < 1 || int64_t{width} * height > max_image_pixels)
        throw failure("JPEG size " + std::to_string(width) + "x" + std::to_string(height) + " is out of range");
    const bool grey = d.info.out_color_space == JCS_GRAYSCALE;
    picture image = make_picture(static_cast<int32_t>(width), static_cast<int32_t>(height), grey ? 8 : 24);
    if (grey)
        for (int i = 0; i < 256; ++i)
            image.palette.push_back(colour{static_cast<uint8_t>(i), static_cast<uint8_t>(i), static_cast<uint8_t>(i)});
    if (!read_rows(d.info, errors, image, progress))
        throw failure(std::string("JPEG image data: ") + errors.message);
    return image;
}

} // namespace orveln1::tool
