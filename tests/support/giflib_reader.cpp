// SPDX-License-Identifier: MIT
// giflib reading a GIF from memory for the tests.
#include "support/giflib_reader.hpp"

#include <gif_lib.h>

#include <algorithm>
#include <cstring>

namespace orveln1::test
{

namespace
{
struct memory_source {
    const std::vector<uint8_t> *bytes;
    std::size_t at;
};

int read_memory(GifFileType *gif, GifByteType *buffer, int count)
{
    auto *src = static_cast<memory_source *>(gif->UserData);
    const std::size_t left = src->bytes->size() - src->at;
    const std::size_t n = std::min(left, static_cast<std::size_t>(count));
    std::memcpy(buffer, src->bytes->data() + src->at, n);
    src->at += n;
    return static_cast<int>(n);
}
} // namespace

giflib_result decode_with_giflib(const std::vector<uint8_t> &gif)
{
    giflib_result result;
    memory_source src{&gif, 0};
    int error = 0;
    GifFileType *file = DGifOpen(&src, read_memory, &error);
    if (file == nullptr) {
        result.error = GifErrorString(error);
        return result;
    }
    if (DGifSlurp(file) != GIF_OK || file->ImageCount != 1) {
        const char *text = GifErrorString(file->Error);
        result.error = text != nullptr ? text : "slurp failed";
        DGifCloseFile(file, &error);
        return result;
    }
    const SavedImage &image = file->SavedImages[0];
    result.width = image.ImageDesc.Width;
    result.height = image.ImageDesc.Height;
    result.interlaced = image.ImageDesc.Interlace;
    if (file->SColorMap != nullptr) {
        result.colour_count = file->SColorMap->ColorCount;
        for (int i = 0; i < file->SColorMap->ColorCount; ++i) {
            result.colours.push_back(file->SColorMap->Colors[i].Red);
            result.colours.push_back(file->SColorMap->Colors[i].Green);
            result.colours.push_back(file->SColorMap->Colors[i].Blue);
        }
    }
    GraphicsControlBlock gcb;
    if (DGifSavedExtensionToGCB(file, 0, &gcb) == GIF_OK)
        result.transparent_index = gcb.TransparentColor;
    // giflib's slurp reads an interlaced image's passes into their own rows, top row first.
    result.pixels.assign(image.RasterBits, image.RasterBits + static_cast<std::size_t>(result.width) *
                                                                  static_cast<std::size_t>(result.height));
    result.ok = true;
    DGifCloseFile(file, &error);
    return result;
}

} // namespace orveln1::test
