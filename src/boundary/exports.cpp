// The module's entry points: the only extern "C" definitions. Each binds the registry (or its own
// arguments) into a callback record, refuses a call whose callbacks are missing, and forwards.
#include "orveln1.h"

#include "boundary/callbacks.hpp"
#include "boundary/result_codes.hpp"
#include "gif/gif_stream_writer.hpp"

using namespace orveln1;

extern "C" {

ORVELN1_API int32_t ORVELN1_CALL set_callbacks(orveln1_read_fn read_fn, orveln1_write_fn write_fn, int32_t spare,
                                               orveln1_put_row_fn put_row_fn)
{
    registry_store(read_fn, write_fn, spare, put_row_fn);
    return 0;
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

} // extern "C"
