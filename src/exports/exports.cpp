// SPDX-License-Identifier: MIT
// The module's entry points: the only extern "C" definitions. Each binds the registry (or its own
// arguments) into a callback record, refuses a call whose callbacks are missing, and forwards.
#include "orveln1.h"

#include "boundary/callbacks.hpp"
#include "boundary/result_codes.hpp"
#include "gif/gif_decompressor.hpp"
#include "gif/gif_stream_writer.hpp"
#include "tiff/tif_compressor.hpp"
#include "tiff/tif_decompressor.hpp"

#if defined(_WIN32)
#include <windows.h>
#endif

using namespace orveln1;

extern "C" {

ORVELN1_API int32_t ORVELN1_CALL set_callbacks(orveln1_read_fn read_fn, orveln1_write_fn write_fn, int32_t spare,
                                               orveln1_put_row_fn put_row_fn)
{
    registry_store(read_fn, write_fn, spare, put_row_fn);
    return 0;
}

ORVELN1_API int32_t ORVELN1_CALL decode_gif(int32_t io_handle, uint8_t *read_buffer, const void *image_header,
                                            orveln1_put_row_fn put_row_fn, int32_t row_context, int32_t code_size_word)
{
    const codec_callbacks cb = registered_callbacks();
    if (cb.read == nullptr || put_row_fn == nullptr)
        return ERR_NO_CALLBACK;
    return gif_lzw_decompress(cb, io_handle, read_buffer, image_header, put_row_fn, row_context, code_size_word);
}

ORVELN1_API int32_t ORVELN1_CALL decode_tif(int32_t io_handle, uint8_t *read_buffer, int32_t first_row,
                                            uint32_t row_bytes, uint8_t *row_buffer, uint32_t row_count,
                                            int32_t row_context)
{
    const codec_callbacks cb = registered_callbacks();
    if (cb.read == nullptr || cb.put_row == nullptr)
        return ERR_NO_CALLBACK;
    return tif_lzw_decompress(cb, io_handle, read_buffer, first_row, row_bytes, row_buffer, row_count, row_context);
}

ORVELN1_API int32_t ORVELN1_CALL encode_gif(int32_t io_handle, const void *image_header, orveln1_get_row_fn get_row_fn,
                                            int32_t row_context)
{
    const codec_callbacks cb = registered_callbacks();
    if (cb.write == nullptr || get_row_fn == nullptr)
        return ERR_NO_CALLBACK;
    return write_gif_stream(cb, io_handle, image_header, get_row_fn, row_context, 0);
}

ORVELN1_API int32_t ORVELN1_CALL encode_gifi(int32_t io_handle, const void *image_header, orveln1_get_row_fn get_row_fn,
                                             int32_t row_context)
{
    const codec_callbacks cb = registered_callbacks();
    if (cb.write == nullptr || get_row_fn == nullptr)
        return ERR_NO_CALLBACK;
    return write_gif_stream(cb, io_handle, image_header, get_row_fn, row_context, 1);
}

ORVELN1_API int32_t ORVELN1_CALL encode_tif(const void *image_header, int32_t io_handle, int32_t row_offset,
                                            int32_t spare, int32_t row_count, orveln1_get_row_fn get_row_fn,
                                            int32_t row_context, int32_t first_row)
{
    const codec_callbacks cb = registered_callbacks();
    if (cb.write == nullptr || get_row_fn == nullptr)
        return ERR_NO_CALLBACK;
    return tif_lzw_compress(cb, image_header, io_handle, row_offset, spare, row_count, get_row_fn, row_context,
                            first_row);
}

#if defined(_WIN32)
// The module's load and unload notifications. The library keeps nothing that needs setting up or
// tearing down (working blocks live inside one call; the registry starts empty), so every
// notification just reports success. The .def file keeps it out of the export table.
BOOL WINAPI DllMain(HINSTANCE module, DWORD reason, LPVOID reserved)
{
    static_cast<void>(module);
    static_cast<void>(reason);
    static_cast<void>(reserved);
    return TRUE;
}
#endif

} // extern "C"
