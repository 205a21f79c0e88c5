/* SPDX-License-Identifier: MIT */
/* Optional Wuffs column of the benchmark: Wuffs' GIF decoder on the same stream, to 1-byte indices.
 * Built only when ORVELN1_BENCH_WUFFS names a wuffs-v0.4.c, which the project does not ship. */
#define WUFFS_IMPLEMENTATION
#define WUFFS_CONFIG__MODULES
#define WUFFS_CONFIG__MODULE__BASE
#define WUFFS_CONFIG__MODULE__GIF
#define WUFFS_CONFIG__MODULE__LZW
#include ORVELN1_BENCH_WUFFS_FILE

#include "bench_wuffs.h"

/* One decoder, initialised afresh for every call, as Wuffs' own benchmarks do; its internal
 * buffers are left uninitialised, which the GIF decoder allows. */
static wuffs_gif__decoder decoder;
static uint8_t work_buffer[4096];

int bench_wuffs_gif_decode(const uint8_t *gif, size_t gif_bytes, uint8_t *out, size_t out_bytes)
{
    wuffs_base__status status = wuffs_gif__decoder__initialize(&decoder, sizeof decoder, WUFFS_VERSION,
                                                               WUFFS_INITIALIZE__LEAVE_INTERNAL_BUFFERS_UNINITIALIZED);
    if (status.repr)
        return -1;
    wuffs_base__io_buffer source = wuffs_base__ptr_u8__reader((uint8_t *)gif, gif_bytes, true);
    wuffs_base__image_config config;
    status = wuffs_gif__decoder__decode_image_config(&decoder, &config, &source);
    if (status.repr)
        return -1;
    const uint32_t width = wuffs_base__pixel_config__width(&config.pixcfg);
    const uint32_t height = wuffs_base__pixel_config__height(&config.pixcfg);
    /* The palette's 1024 bytes come first in the buffer, then the indices. */
    if ((uint64_t)width * height + WUFFS_BASE__PIXEL_FORMAT__INDEXED__PALETTE_BYTE_LENGTH > out_bytes)
        return -1;
    wuffs_base__pixel_config__set(&config.pixcfg, WUFFS_BASE__PIXEL_FORMAT__INDEXED__BGRA_BINARY,
                                  WUFFS_BASE__PIXEL_SUBSAMPLING__NONE, width, height);
    wuffs_base__pixel_buffer pixels;
    status =
        wuffs_base__pixel_buffer__set_from_slice(&pixels, &config.pixcfg, wuffs_base__make_slice_u8(out, out_bytes));
    if (status.repr)
        return -1;
    if (wuffs_gif__decoder__workbuf_len(&decoder).max_incl > sizeof work_buffer)
        return -1;
    status = wuffs_gif__decoder__decode_frame(&decoder, &pixels, &source, WUFFS_BASE__PIXEL_BLEND__SRC,
                                              wuffs_base__make_slice_u8(work_buffer, sizeof work_buffer), NULL);
    return status.repr ? -1 : 0;
}
