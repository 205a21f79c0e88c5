/* SPDX-License-Identifier: MIT */
/* A C host over orveln1's six exports: finds the first image of a GIF file (or of a GIF it encodes
 * itself) and decodes it with decode_gif, then codes a picture as a TIFF LZW strip with encode_tif
 * and decodes the strip back with decode_tif.
 * Usage: c_host [FILE.gif] */
#include <orveln1.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

/* ---- Handles ----
 * io_handle and row_context are 32-bit integers, and a 64-bit host's pointers do not fit in them.
 * The host keeps its objects in a table and gives the library their index instead. */
#define HANDLE_SLOTS 8
static void *handle_table[HANDLE_SLOTS];

static int32_t handle_open(void *object)
{
    int32_t h;
    for (h = 1; h < HANDLE_SLOTS; ++h) /* 0 stays unused, so that a stray 0 finds nothing */
        if (handle_table[h] == NULL) {
            handle_table[h] = object;
            return h;
        }
    return -1;
}

static void *handle_object(int32_t h)
{
    return h > 0 && h < HANDLE_SLOTS ? handle_table[h] : NULL;
}

static void handle_close(int32_t h)
{
    if (h > 0 && h < HANDLE_SLOTS)
        handle_table[h] = NULL;
}

/* ---- Byte streams in memory: what read_fn reads and write_fn fills ---- */
typedef struct byte_stream {
    uint8_t *data;
    size_t size;
    size_t capacity;
    size_t position; /* next byte read_fn hands out */
} byte_stream;

static int32_t ORVELN1_CDECL stream_read(int32_t io_handle, uint8_t *buffer, int32_t count)
{
    byte_stream *s = (byte_stream *)handle_object(io_handle);
    size_t n;
    if (s == NULL || count <= 0)
        return 0;
    n = s->size - s->position;
    if (n > (size_t)count)
        n = (size_t)count;
    memcpy(buffer, s->data + s->position, n);
    s->position += n;
    return (int32_t)n;
}

static int32_t ORVELN1_CDECL stream_write(int32_t io_handle, const uint8_t *buffer, int32_t count)
{
    byte_stream *s = (byte_stream *)handle_object(io_handle);
    if (s == NULL || count < 0)
        return 0;
    if (s->size + (size_t)count > s->capacity) {
        size_t capacity = s->capacity ? s->capacity * 2 : 4096;
        uint8_t *grown;
        while (capacity < s->size + (size_t)count)
            capacity *= 2;
        grown = (uint8_t *)realloc(s->data, capacity);
        if (grown == NULL)
            return 0; /* taking fewer bytes than given is the failure write_fn can report */
        s->data = grown;
        s->capacity = capacity;
    }
    memcpy(s->data + s->size, buffer, (size_t)count);
    s->size += (size_t)count;
    return count;
}

/* ---- Pictures: 8-bit palette images, rows top first, each padded to 4 bytes as the codecs
 * exchange them.  get_row_fn reads rows out of one, put_row_fn writes rows into one. ---- */
typedef struct picture {
    int32_t width;
    int32_t height;
    int32_t stride;
    uint8_t *pixels;
    int32_t rows_received;
} picture;

static int picture_make(picture *p, int32_t width, int32_t height)
{
    p->width = width;
    p->height = height;
    p->stride = (width + 3) / 4 * 4;
    p->rows_received = 0;
    p->pixels = (uint8_t *)calloc((size_t)p->stride * (size_t)height, 1);
    return p->pixels != NULL;
}

static int32_t ORVELN1_CDECL picture_get_row(int32_t row_context, uint8_t *buffer, int32_t row_index, int32_t count)
{
    picture *p = (picture *)handle_object(row_context);
    if (p == NULL || row_index < 0 || row_index >= p->height || count > p->stride)
        return -1000; /* a refusal of the host's own, outside the library's result codes */
    memcpy(buffer, p->pixels + (size_t)row_index * (size_t)p->stride, (size_t)count);
    return 0;
}

/* decode_gif passes the row's padded length as row_bytes, decode_tif passes 0: the stride is the
 * picture's own either way. */
static int32_t ORVELN1_CDECL picture_put_row(const uint8_t *row, int32_t row_context, int32_t row_index,
                                             int32_t row_bytes)
{
    picture *p = (picture *)handle_object(row_context);
    (void)row_bytes;
    if (p == NULL || row_index < 0 || row_index >= p->height)
        return -1000;
    memcpy(p->pixels + (size_t)row_index * (size_t)p->stride, row, (size_t)p->width);
    ++p->rows_received;
    return 0;
}

/* The image header the codecs read: a BITMAPINFOHEADER followed by a 256-entry palette. */
typedef struct header_with_palette {
    orveln1_image_header header;
    uint8_t palette[256][4]; /* blue, green, red, reserved */
} header_with_palette;

static void header_make(header_with_palette *h, int32_t width, int32_t height)
{
    int i;
    memset(h, 0, sizeof *h);
    h->header.biSize = sizeof h->header;
    h->header.biWidth = width;
    h->header.biHeight = height;
    h->header.biPlanes = 1;
    h->header.biBitCount = 8;
    for (i = 0; i < 256; ++i) {
        h->palette[i][0] = (uint8_t)i;
        h->palette[i][1] = (uint8_t)(255 - i);
        h->palette[i][2] = (uint8_t)(i * 7);
    }
}

/* ---- The GIF records before the first image's data ---- */
typedef struct gif_image {
    int32_t width;
    int32_t height;
    int32_t code_size_word; /* the descriptor's packed byte | LZW minimum code size << 8 */
    size_t data_offset;     /* the first data sub-block (its length byte) */
} gif_image;

/* Walks header, screen descriptor, colour tables and extensions up to the first image descriptor
 * and its code size byte, reading nothing outside the size bytes at data.  Returns 0, or -1 when
 * the bytes are not a GIF with an image. */
static int gif_find_first_image(const uint8_t *data, size_t size, gif_image *image)
{
    size_t at = 13;
    if (size < 13 || memcmp(data, "GIF", 3) != 0)
        return -1;
    if (data[10] & 0x80) /* global colour table: 3 << (size field + 1) bytes */
        at += (size_t)3 << ((data[10] & 7) + 1);
    while (at < size) {
        const uint8_t introducer = data[at++];
        if (introducer == 0x21) { /* extension: a label, then sub-blocks up to an empty one */
            if (++at > size)
                return -1;
            while (at < size && data[at] != 0)
                at += (size_t)data[at] + 1;
            ++at;
        } else if (introducer == 0x2C) { /* image descriptor */
            uint8_t packed;
            if (at + 9 > size)
                return -1;
            image->width = data[at + 4] | data[at + 5] << 8;
            image->height = data[at + 6] | data[at + 7] << 8;
            packed = data[at + 8];
            at += 9;
            if (packed & 0x80) /* local colour table */
                at += (size_t)3 << ((packed & 7) + 1);
            if (at >= size)
                return -1;
            image->code_size_word = packed | data[at] << 8;
            image->data_offset = at + 1;
            return 0;
        } else {
            return -1; /* the trailer (0x3B) before any image, or a byte that begins no record */
        }
    }
    return -1;
}

static int read_file(const char *path, byte_stream *s)
{
    FILE *f = fopen(path, "rb");
    const int32_t io = handle_open(s);
    uint8_t chunk[4096];
    size_t n;
    int ok = f != NULL && io > 0;
    while (ok && (n = fread(chunk, 1, sizeof chunk, f)) > 0)
        ok = stream_write(io, chunk, (int32_t)n) == (int32_t)n;
    handle_close(io);
    if (f != NULL)
        fclose(f);
    return ok;
}

/* A picture with some structure: diagonal bands and a block in the middle. */
static void fill_sample(picture *p)
{
    int32_t x, y;
    for (y = 0; y < p->height; ++y)
        for (x = 0; x < p->width; ++x)
            p->pixels[(size_t)y * (size_t)p->stride + (size_t)x] =
                (uint8_t)(x > p->width / 3 && x < p->width / 2 && y > p->height / 3 ? 200 : (x + 2 * y) / 5 % 64);
}

static int same_pixels(const picture *a, const picture *b)
{
    int32_t y;
    for (y = 0; y < a->height; ++y)
        if (memcmp(a->pixels + (size_t)y * (size_t)a->stride, b->pixels + (size_t)y * (size_t)b->stride,
                   (size_t)a->width) != 0)
            return 0;
    return 1;
}

int main(int argc, char **argv)
{
    static uint8_t gif_read_buffer[ORVELN1_GIF_READ_BUFFER_BYTES];
    static uint8_t tif_read_buffer[ORVELN1_TIF_READ_BUFFER_BYTES];
    static header_with_palette header;
    byte_stream gif = {0}, strip = {0};
    picture original, from_gif, from_strip;
    gif_image image;
    int32_t io, rows, result;
    uint8_t *row_buffer;
    int failed = 0;

    if (!picture_make(&original, 97, 61))
        return 1;
    fill_sample(&original);
    header_make(&header, original.width, original.height);
    set_callbacks(stream_read, stream_write, 0, picture_put_row);

    /* GIF: a file given on the command line, or this picture coded interlaced by encode_gifi. */
    if (argc > 1) {
        if (!read_file(argv[1], &gif)) {
            fprintf(stderr, "c_host: cannot read %s\n", argv[1]);
            return 1;
        }
    } else {
        io = handle_open(&gif);
        rows = handle_open(&original);
        result = encode_gifi(io, &header, picture_get_row, rows);
        handle_close(io);
        handle_close(rows);
        if (result != ORVELN1_OK) {
            fprintf(stderr, "c_host: encode_gifi: %d\n", (int)result);
            return 1;
        }
    }
    if (gif_find_first_image(gif.data, gif.size, &image) != 0 || image.width < 1 || image.height < 1) {
        fprintf(stderr, "c_host: no GIF image found\n");
        return 1;
    }
    if (!picture_make(&from_gif, image.width, image.height))
        return 1;
    header_make(&header, image.width, image.height);
    gif.position = image.data_offset; /* decode_gif reads from the first data sub-block on */
    io = handle_open(&gif);
    rows = handle_open(&from_gif);
    result = decode_gif(io, gif_read_buffer, &header, picture_put_row, rows, image.code_size_word);
    handle_close(io);
    handle_close(rows);
    printf("GIF:  %dx%d, %zu bytes, decode_gif %d, %d of %d rows\n", (int)image.width, (int)image.height, gif.size,
           (int)result, (int)from_gif.rows_received, (int)image.height);
    if (result != ORVELN1_OK || from_gif.rows_received != image.height)
        failed = 1;
    if (argc <= 1 && !same_pixels(&original, &from_gif)) {
        fprintf(stderr, "c_host: the GIF decoded to other pixels\n");
        failed = 1;
    }

    /* TIFF: the whole picture as one LZW strip, and back. */
    header_make(&header, original.width, original.height);
    io = handle_open(&strip);
    rows = handle_open(&original);
    result = encode_tif(&header, io, 0, 0, original.height, picture_get_row, rows, 0);
    handle_close(io);
    handle_close(rows);
    if (result != ORVELN1_OK) {
        fprintf(stderr, "c_host: encode_tif: %d\n", (int)result);
        return 1;
    }
    if (!picture_make(&from_strip, original.width, original.height))
        return 1;
    row_buffer = (uint8_t *)malloc((size_t)original.width + ORVELN1_TIF_ROW_SLACK_BYTES);
    if (row_buffer == NULL)
        return 1;
    io = handle_open(&strip);
    rows = handle_open(&from_strip);
    result = decode_tif(io, tif_read_buffer, 0, (uint32_t)original.width, row_buffer, (uint32_t)original.height, rows);
    handle_close(io);
    handle_close(rows);
    printf("TIFF: %dx%d strip, %zu bytes, decode_tif %d, %d of %d rows\n", (int)original.width, (int)original.height,
           strip.size, (int)result, (int)from_strip.rows_received, (int)original.height);
    if (result != 1 || !same_pixels(&original, &from_strip)) {
        fprintf(stderr, "c_host: the strip decoded to other pixels\n");
        failed = 1;
    }

    set_callbacks(NULL, NULL, 0, NULL);
    free(row_buffer);
    free(original.pixels);
    free(from_gif.pixels);
    free(from_strip.pixels);
    free(gif.data);
    free(strip.data);
    return failed;
}
