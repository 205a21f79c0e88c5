/* SPDX-License-Identifier: MIT */
/* orveln1.h: the C interface of orveln1, an LZW codec for GIF image data and TIFF LZW strips.
 * Usable from C99 and C++; needs no other header of the library. */
#ifndef ORVELN1_H
#define ORVELN1_H

#include <stdint.h>

/* The library's version.  The major number changes only when the C interface changes in a way
 * existing hosts would notice; it is the shared module's SOVERSION.  The build reads these lines. */
#define ORVELN1_VERSION_MAJOR 1
#define ORVELN1_VERSION_MINOR 0
#define ORVELN1_VERSION_PATCH 0
#define ORVELN1_VERSION_STRING "1.0.0"

/* ORVELN1_CALL is the calling convention of the exported functions: callee-clean (stdcall) on
 * 32-bit Windows, the platform's ordinary convention everywhere else.  ORVELN1_CDECL is the
 * convention of the host callbacks: the default C convention, stated explicitly on Windows so
 * that a host compiled with another default still matches. */
#if defined(_WIN32) && !defined(_WIN64)
#define ORVELN1_CALL __stdcall
#else
#define ORVELN1_CALL
#endif
#if defined(_WIN32)
#define ORVELN1_CDECL __cdecl
#else
#define ORVELN1_CDECL
#endif

/* ORVELN1_API marks the exported functions.  On Windows the module's .def file names the exports
 * and their ordinals, so a host needs no import decoration; elsewhere the symbols are the only
 * ones the shared module makes visible. */
#if defined(_WIN32)
#define ORVELN1_API
#elif defined(ORVELN1_BUILDING)
#define ORVELN1_API __attribute__((visibility("default")))
#else
#define ORVELN1_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Result codes.  Every entry point returns a signed 32-bit integer: 0 (1 from decode_tif) or more
 * for success, a negative value for failure.  A negative value returned by a host row callback is
 * passed back unchanged by decode_gif, decode_tif and encode_tif, so hosts should pick their own
 * refusal values outside the ones below. */
#define ORVELN1_OK 0
#define ORVELN1_ERR_NO_MEMORY (-1)          /* a working block could not be obtained */
#define ORVELN1_ERR_BAD_DATA (-3)           /* undecodable input, or arguments no codec can serve */
#define ORVELN1_ERR_WRITE (-9)              /* write_fn took fewer bytes than given (GIF encoders: any failure) */
#define ORVELN1_ERR_UNSUPPORTED_DEPTH (-21) /* a pixel depth the codec does not serve */
#define ORVELN1_ERR_NO_CALLBACK (-30)       /* a callback the call needs is null or was never registered */
/* Results of the C++ interface's GIF stream reader (orveln1.hpp); no entry point returns them. */
#define ORVELN1_ERR_NOT_GIF (-40)        /* no "GIF87a" or "GIF89a" signature */
#define ORVELN1_ERR_GIF_TRUNCATED (-41)  /* the stream ends before its trailer */
#define ORVELN1_ERR_GIF_BAD_RECORD (-42) /* a byte where a record begins that begins none */
#define ORVELN1_ERR_GIF_NO_IMAGE (-43)   /* the stream holds no image, or not the one asked for */

/* Host callbacks.  io_handle and row_context are the host's opaque integers, handed back
 * unchanged.  All four are called only from inside a codec call, on the caller's thread, and must
 * not call into the library.
 *
 * read_fn:    place up to count bytes of compressed input at buffer; return how many were placed
 *             (0 or a negative value: nothing could be read).
 * write_fn:   take count bytes of compressed output from buffer; return how many were taken (any
 *             value other than count is a failure).
 * put_row_fn: one decoded row at row, with its index; the fourth argument is 0 from decode_tif and
 *             the row's padded length from decode_gif.  The row is valid only during the call.
 *             Return 0 or more to go on, a negative value to stop the codec with that value.
 * get_row_fn: fill buffer with count bytes of row row_index.  Return 0 or more when the row was
 *             supplied, a negative value to stop the codec. */
typedef int32_t(ORVELN1_CDECL *orveln1_read_fn)(int32_t io_handle, uint8_t *buffer, int32_t count);
typedef int32_t(ORVELN1_CDECL *orveln1_write_fn)(int32_t io_handle, const uint8_t *buffer, int32_t count);
typedef int32_t(ORVELN1_CDECL *orveln1_put_row_fn)(const uint8_t *row, int32_t row_context, int32_t row_index,
                                                   int32_t row_bytes);
typedef int32_t(ORVELN1_CDECL *orveln1_get_row_fn)(int32_t row_context, uint8_t *buffer, int32_t row_index,
                                                   int32_t count);

/* The image header: a Windows BITMAPINFOHEADER followed (at its own address plus biSize) by its
 * palette of 4-byte entries blue, green, red, reserved.  All fields are little-endian.  The library
 * reads it by byte offset and never writes it; this struct only documents the layout for hosts
 * that have none of their own.  Fields read:
 *   offset 0   biSize           distance from the header to the palette (40, or more for later versions)
 *   offset 4   biWidth          width in pixels
 *   offset 8   biHeight         height in rows (GIF codecs)
 *   offset 14  biBitCount       depth: 1, 4, 8, 16, 24 or 32
 *   offset 16  biCompression    200 makes encode_tif exchange bytes 0 and 2 of each 32-bit pixel
 *   offset 32  biClrUsed byte 0 the GIF transparent colour index
 *   offset 33  biClrUsed byte 1 bit 0x10: the image has a transparent colour (GIF89a with an extension)
 * Rows travel in the packed bitmap layout: depth 1 eight pixels a byte, leftmost in the high bit;
 * depth 4 two pixels a byte, leftmost in the high nibble; depth 8 one index a byte; depths 16, 24
 * and 32 two, three (blue, green, red) and four bytes a pixel; each row padded to a multiple of 4
 * bytes. */
#pragma pack(push, 1)
typedef struct orveln1_image_header {
    uint32_t biSize;
    int32_t biWidth;
    int32_t biHeight;
    uint16_t biPlanes;
    uint16_t biBitCount;
    uint32_t biCompression;
    uint32_t biSizeImage;
    int32_t biXPelsPerMeter;
    int32_t biYPelsPerMeter;
    uint32_t biClrUsed;
    uint32_t biClrImportant;
} orveln1_image_header;
#pragma pack(pop)

#define ORVELN1_TRANSPARENT_FLAG 0x10u      /* in byte 1 of biClrUsed */
#define ORVELN1_COMPRESSION_SWAP_RB 200u    /* biCompression value for encode_tif at depth 32 */
#define ORVELN1_GIF_READ_BUFFER_BYTES 7653  /* smallest read_buffer for decode_gif */
#define ORVELN1_TIF_READ_BUFFER_BYTES 30002 /* smallest read_buffer for decode_tif */
#define ORVELN1_TIF_ROW_SLACK_BYTES 3838    /* decode_tif's row_buffer: row_bytes plus this */

/* Calls must not overlap: the callback registry is process-wide, so a host serialises every call
 * into the library (callbacks included: they must not call back in). */

/* set_callbacks: registers the host's read_fn, write_fn and put_row_fn (the latter used by
 * decode_tif only); spare is stored and never read.  Replaces all four slots at every call, null
 * values included.  Returns 0. */
ORVELN1_API int32_t ORVELN1_CALL set_callbacks(orveln1_read_fn read_fn, orveln1_write_fn write_fn, int32_t spare,
                                               orveln1_put_row_fn put_row_fn);

/* decode_gif: decodes the image data of one GIF image into rows.  The host has parsed the GIF
 * stream up to and including the LZW minimum code size byte, so that its input, read through the
 * registered read_fn with io_handle, stands at the first data sub-block.  The decoder reads whole
 * sub-blocks (two read_fn calls each: the length byte, then the data; at most 30 per refill),
 * never reads past the block terminator, and may leave sub-blocks unread when it stops early.
 *   read_buffer:    the host's buffer of at least ORVELN1_GIF_READ_BUFFER_BYTES (7653) bytes, used
 *                   as the decoder's store during the call; its content afterwards is of no meaning.
 *   image_header:   read for biWidth (pixels per row), biHeight (rows) and biBitCount (1, 4 or 8:
 *                   the layout in which rows are delivered); never written.
 *   put_row_fn:     receives every row of the image once, in the stream's order: a pointer to the
 *                   row at the front of the library's own row block, the same address at every
 *                   call of one decode_gif (the bytes are valid only during the call), row_context,
 *                   the row index (the interlaced position when the image is interlaced), and the
 *                   row's padded length, which the host may read in full (the padding is zero).  A
 *                   negative result stops decoding and is returned.
 *   code_size_word: the descriptor's packed byte in bits 0-7 (interlace flag 0x40, colour table
 *                   size field in bits 0-2) and the LZW minimum code size in bits 8-15; bits 16-31
 *                   are ignored.  A code size of 0 or above 8 is replaced by the size field plus
 *                   one, and the image is then decoded as not interlaced.
 * Returns 0 when decoding ended: at the end code, after the last row of the image, or where the
 * data is damaged or cut short (a code the table cannot name, the input running out).  The
 * result is 0 for complete and for damaged or truncated data alike: a host that needs to know
 * counts the rows delivered against biHeight.  Other results: ORVELN1_ERR_BAD_DATA when the data
 * does not begin with a clear code, or when the width or height is below 1 or the width too large
 * for the decoder's buffers; ORVELN1_ERR_UNSUPPORTED_DEPTH for a depth other than 1, 4 or 8;
 * ORVELN1_ERR_NO_MEMORY; ORVELN1_ERR_NO_CALLBACK when read_fn was not registered or put_row_fn is
 * null; or the negative value put_row_fn returned.  Geometry, depth and callbacks are checked
 * before anything is read.  Calls must not overlap. */
ORVELN1_API int32_t ORVELN1_CALL decode_gif(int32_t io_handle, uint8_t *read_buffer, const void *image_header,
                                            orveln1_put_row_fn put_row_fn, int32_t row_context, int32_t code_size_word);

/* encode_gif: writes one complete single-image GIF stream through the registered write_fn: the
 * signature ("GIF87a", or "GIF89a" when the header marks a transparent colour), the logical screen
 * descriptor, a global colour table of 2^depth entries taken from the header's palette, a graphic
 * control extension carrying the transparent index when one is marked, the image descriptor, the
 * LZW image data in sub-blocks of at most 255 bytes, the block terminator and the trailer.  The
 * image is described by image_header (read only, owned by the host; depth 4 or 8, width and height
 * 1 to 65535); its rows are asked for through get_row_fn(row_context, buffer, row_index, count),
 * once each, in order from row 0 (the top of the picture), count being the row's padded length;
 * the buffer belongs to the library and is valid only during that call.  Nothing is buffered
 * beyond one sub-block: the stream goes out piece by piece as it is made, and after a failure the
 * host's output holds what was written up to that point.
 * Returns 0 when the stream is complete; ORVELN1_ERR_UNSUPPORTED_DEPTH for any depth but 4 and 8,
 * and ORVELN1_ERR_BAD_DATA for a width or height outside 1..65535, both before any callback is
 * called; ORVELN1_ERR_NO_CALLBACK when no write_fn is registered or get_row_fn is null; and
 * ORVELN1_ERR_WRITE for every other failure: a write_fn that takes fewer bytes than given, a
 * working block that cannot be obtained, or a negative get_row_fn result.  After a failure no
 * further callback is called.  Calls must not overlap. */
ORVELN1_API int32_t ORVELN1_CALL encode_gif(int32_t io_handle, const void *image_header, orveln1_get_row_fn get_row_fn,
                                            int32_t row_context);

/* encode_gifi: as encode_gif, but the image is written interlaced: the descriptor's interlace bit
 * is set and the rows are asked for in GIF's four-pass order (rows 0, 8, 16, ...; then 4, 12, ...;
 * then 2, 6, ...; then 1, 3, ...), each once.  Same arguments, ownership and results. */
ORVELN1_API int32_t ORVELN1_CALL encode_gifi(int32_t io_handle, const void *image_header, orveln1_get_row_fn get_row_fn,
                                             int32_t row_context);

/* decode_tif: decodes one TIFF LZW strip (codes of 9 to 12 bits, most significant bit first, as
 * TIFF 6.0 writes them) into rows handed to the registered put_row_fn.  The host positions its
 * byte source at the strip's first byte; the strip is read through the registered read_fn with
 * io_handle, in requests of 30000 bytes at read_buffer (29999 at read_buffer + 1 or 29998 at
 * read_buffer + 2 when one or two bytes of a code are carried over).  Only the bytes a read
 * reports are decoded (a result above the count asked counts as the count); 0 or a negative
 * result means the source is dry.  read_buffer (ORVELN1_TIF_READ_BUFFER_BYTES at least) and
 * row_buffer (row_bytes + ORVELN1_TIF_ROW_SLACK_BYTES at least) belong to the host; the library
 * writes into both during the call and keeps neither.  Each row of row_bytes decoded bytes is
 * passed as put_row_fn(row_buffer, row_context, index, 0) with indices first_row, first_row + 1,
 * ... (counted modulo 2^32); the host takes the bytes before it returns.  row_count rows are
 * delivered; 0 sets no limit (every complete row until the end code).  When the strip ends before
 * row_count rows, the missing rows are delivered from row_buffer as it stands (the bytes decoded
 * for the unfinished row, then what the buffer held).  Results:
 *   1                       row_count rows were delivered, or the end code came
 *   ORVELN1_ERR_BAD_DATA    row_bytes is 0 (nothing read); the strip does not open with the clear
 *                           code (no row delivered; old-style LSB-first strips end here); or, after
 *                           the missing rows were delivered, a code beyond the next free code, a
 *                           code after a clear code that is not a byte, or data that ran out
 *   ORVELN1_ERR_NO_MEMORY   the working table (41960 bytes) could not be obtained
 *   ORVELN1_ERR_NO_CALLBACK read_fn or put_row_fn is not registered
 *   any other negative      put_row_fn's own refusal; no further row is delivered
 * The source may be left past the strip's end: the last read can ask beyond it.  Calls must not
 * overlap. */
ORVELN1_API int32_t ORVELN1_CALL decode_tif(int32_t io_handle, uint8_t *read_buffer, int32_t first_row,
                                            uint32_t row_bytes, uint8_t *row_buffer, uint32_t row_count,
                                            int32_t row_context);

/* encode_tif: codes rows first_row to first_row + row_count - 1 of the image that image_header
 * describes into one TIFF LZW strip (row_count of 0 or less: row first_row is asked for and only
 * its first byte is coded), written through the registered write_fn with io_handle in pieces of
 * 1000 or 1001 bytes and a last one of at most 1002.
 * Each row is asked for once, in ascending order, as get_row_fn(row_context, buffer, index,
 * padded length); the buffer is the library's.  The bytes coded from each row are those from
 * row_offset on, as many as the row's pixels fill (filler bytes are not coded); 24-bit pixels are
 * coded red first, and so are 32-bit pixels when biCompression is ORVELN1_COMPRESSION_SWAP_RB.
 * Rows follow each other in one code stream, opened by a clear code and closed by the end code.
 * spare is never read.  The library reads the header and keeps nothing after the call.  Results:
 *   0                             the strip was written
 *   ORVELN1_ERR_UNSUPPORTED_DEPTH biBitCount is not 1, 4, 8, 16, 24 or 32
 *   ORVELN1_ERR_BAD_DATA          biWidth below 1, a row too large, or row_offset negative or
 *                                 putting the coded bytes past six padded rows
 *   ORVELN1_ERR_NO_MEMORY         a working block could not be obtained
 *   ORVELN1_ERR_WRITE             write_fn took fewer bytes than given; what went out before stays
 *   ORVELN1_ERR_NO_CALLBACK       write_fn is not registered or get_row_fn is null
 *   any other negative            get_row_fn's own refusal; no further row is asked for
 * Refusals of the arguments come before any callback.  Calls must not overlap. */
ORVELN1_API int32_t ORVELN1_CALL encode_tif(const void *image_header, int32_t io_handle, int32_t row_offset,
                                            int32_t spare, int32_t row_count, orveln1_get_row_fn get_row_fn,
                                            int32_t row_context, int32_t first_row);

#ifdef __cplusplus
}
#endif

#endif /* ORVELN1_H */
