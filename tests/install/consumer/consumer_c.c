/* SPDX-License-Identifier: MIT */
/* Uses the installed shared module through the C interface: one 8-bit row coded as a TIFF LZW
 * strip with encode_tif and decoded back with decode_tif. */
#include <orveln1.h>
#include <stdio.h>
#include <string.h>

static uint8_t strip[256];
static int32_t strip_bytes;
static int32_t strip_pos;
static uint8_t decoded[8];

static int32_t take(int32_t io, const uint8_t *buffer, int32_t count)
{
    (void)io;
    if (strip_bytes + count > (int32_t)sizeof strip)
        return 0;
    memcpy(strip + strip_bytes, buffer, (size_t)count);
    strip_bytes += count;
    return count;
}

static int32_t give(int32_t io, uint8_t *buffer, int32_t count)
{
    int32_t n = strip_bytes - strip_pos;
    (void)io;
    if (n > count)
        n = count;
    memcpy(buffer, strip + strip_pos, (size_t)n);
    strip_pos += n;
    return n;
}

static int32_t row_in(int32_t context, uint8_t *buffer, int32_t row, int32_t count)
{
    static const uint8_t pixels[8] = {7, 7, 7, 7, 1, 2, 3, 4};
    (void)context;
    (void)row;
    memcpy(buffer, pixels, (size_t)count);
    return 0;
}

static int32_t row_out(const uint8_t *row, int32_t context, int32_t index, int32_t bytes)
{
    (void)context;
    (void)index;
    (void)bytes;
    memcpy(decoded, row, 8);
    return 0;
}

int main(void)
{
    static uint8_t read_buffer[ORVELN1_TIF_READ_BUFFER_BYTES];
    static uint8_t row_buffer[8 + ORVELN1_TIF_ROW_SLACK_BYTES];
    orveln1_image_header header;
    memset(&header, 0, sizeof header);
    header.biSize = sizeof header;
    header.biWidth = 8;
    header.biHeight = 1;
    header.biPlanes = 1;
    header.biBitCount = 8;
    set_callbacks(give, take, 0, row_out);
    if (encode_tif(&header, 0, 0, 0, 1, row_in, 0, 0) != 0)
        return 1;
    if (decode_tif(0, read_buffer, 0, 8, row_buffer, 1, 0) != 1)
        return 2;
    if (decoded[0] != 7 || decoded[7] != 4)
        return 3;
    printf("C interface: %d-byte strip decoded back\n", (int)strip_bytes);
    return 0;
}
