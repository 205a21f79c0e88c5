/* SPDX-License-Identifier: MIT */
/* Compiled as C99: the public header stands alone, and the module's set_callbacks links. */
#include "orveln1.h"

#include <stdio.h>

static int32_t ORVELN1_CDECL read_nothing(int32_t io_handle, uint8_t *buffer, int32_t count)
{
    (void)io_handle;
    (void)buffer;
    (void)count;
    return 0;
}

int main(void)
{
    orveln1_image_header header = {0};
    if (sizeof header != 40) {
        fprintf(stderr, "image header layout is %u bytes, not 40\n", (unsigned)sizeof header);
        return 1;
    }
    if (set_callbacks(read_nothing, NULL, 7, NULL) != 0 || set_callbacks(NULL, NULL, 0, NULL) != 0) {
        fprintf(stderr, "set_callbacks did not return 0\n");
        return 1;
    }
    if (ORVELN1_ERR_NO_MEMORY != -1 || ORVELN1_ERR_BAD_DATA != -3 || ORVELN1_ERR_WRITE != -9 ||
        ORVELN1_ERR_UNSUPPORTED_DEPTH != -21) {
        fprintf(stderr, "result codes differ from the documented values\n");
        return 1;
    }
    {
        /* With no callbacks registered the TIFF codecs refuse before touching anything. */
        uint8_t read_buffer[ORVELN1_TIF_READ_BUFFER_BYTES];
        uint8_t row_buffer[4 + ORVELN1_TIF_ROW_SLACK_BYTES];
        header.biWidth = 4;
        header.biBitCount = 8;
        if (decode_tif(1, read_buffer, 0, 4, row_buffer, 1, 2) != ORVELN1_ERR_NO_CALLBACK ||
            encode_tif(&header, 1, 0, 0, 1, NULL, 2, 0) != ORVELN1_ERR_NO_CALLBACK) {
            fprintf(stderr, "TIFF entry points ran without callbacks\n");
            return 1;
        }
    }
    puts("1 passed, 0 failed");
    return 0;
}
