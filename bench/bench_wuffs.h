/* SPDX-License-Identifier: MIT */
/* The benchmark's optional Wuffs column: decodes the first image of a GIF stream into out, whose
 * first 1024 bytes take the palette and the rest the indices, one byte a pixel. 0 on success. */
#ifndef ORVELN1_BENCH_WUFFS_H
#define ORVELN1_BENCH_WUFFS_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

enum { BENCH_WUFFS_PALETTE_BYTES = 1024 };
int bench_wuffs_gif_decode(const uint8_t *gif, size_t gif_bytes, uint8_t *out, size_t out_bytes);

#ifdef __cplusplus
}
#endif

#endif
