#!/usr/bin/python3
# SPDX-License-Identifier: MIT
"""Times orveln1's Python binding on TIFF LZW strips beside the C++ interface on the same strips
and beside Pillow's LZW TIFF reading and writing (libtiff), in one run, and 1 against 2 threads.

The pictures are those of the peer harness (../shared/peers: gradient, photo_noise, flat, random,
cartoon16, dither_4bit, 768 x 768, each as 8-bit indices and as RGB) and, when the corpus is there,
its real pictures; each is cut into strips of whole rows of about 64 KiB and into one strip of the
whole picture. Speeds are decoded (pixel) bytes per second; every figure is the best of several
interleaved rounds, so that binding and C++ see the same moments of a shared machine.

Usage: bench/python_bench.py [--quick] [--markdown FILE]
Run with Debian's /usr/bin/python3 and orveln1 importable (installed, or PYTHONPATH=BUILD/python/package).
"""
import argparse
import io
import math
import os
import sys
import time
from concurrent.futures import ThreadPoolExecutor
from pathlib import Path

import numpy
from PIL import Image

import orveln1

MASK = (1 << 64) - 1
GOLDEN = 0x9E3779B97F4A7C15


def splitmix(seed: int, count: int) -> numpy.ndarray:
    """The peers' splitmix64 stream from seed: its first `count` values."""
    with numpy.errstate(over="ignore"):
        s = numpy.uint64(seed) + numpy.arange(1, count + 1, dtype=numpy.uint64) * numpy.uint64(GOLDEN)
        z = (s ^ (s >> numpy.uint64(30))) * numpy.uint64(0xBF58476D1CE4E5B9)
        z = (z ^ (z >> numpy.uint64(27))) * numpy.uint64(0x94D049BB133111EB)
        return z ^ (z >> numpy.uint64(31))


class Rng:
    def __init__(self, seed):
        self.s = seed

    def next(self):
        self.s = (self.s + GOLDEN) & MASK
        z = self.s
        z = ((z ^ (z >> 30)) * 0xBF58476D1CE4E5B9) & MASK
        z = ((z ^ (z >> 27)) * 0x94D049BB133111EB) & MASK
        return z ^ (z >> 31)

    def range(self, lo, hi):
        return lo + self.next() % (hi - lo + 1)


def scene(x, y, w, h, phase):
    return (
        30 + 170.0 * (x + y) / (w + h) + 30 * numpy.sin(x * 0.023 + phase) * numpy.cos(y * 0.031)
        + 18 * numpy.sin((x + 2 * y) * 0.011 + 2 * phase)
    )


def clamp8(v):
    return numpy.clip(numpy.rint(v), 0, 255).astype(numpy.uint8)


def peer_images(n):
    """The peer harness's synthetic pictures (images.cpp) as (name, indices, rgb)."""
    y, x = numpy.mgrid[0:n, 0:n].astype(numpy.float64)
    out = []
    idx = ((x + y) * 255 // (2 * n - 2)).astype(numpy.uint8)
    rgb = numpy.stack([x * 255 // (n - 1), y * 255 // (n - 1), 255 - idx], -1).astype(numpy.uint8)
    out.append(("gradient", idx, rgb))
    draws = (splitmix(1, 4 * n * n) % numpy.uint64(13)).astype(numpy.int64).reshape(n, n, 4) - 6
    idx = clamp8(scene(x, y, n, n, 0) + draws[..., 0])
    rgb = numpy.stack([clamp8(scene(x, y, n, n, 1.3 * c) + draws[..., 1 + c]) for c in range(3)], -1)
    out.append(("photo_noise", idx, rgb))
    out.append(("flat", numpy.full((n, n), 42, numpy.uint8), numpy.broadcast_to(numpy.uint8([30, 120, 200]), (n, n, 3)).copy()))
    r = splitmix(2, n * n + 3 * n * n)
    out.append(("random", (r[: n * n] & numpy.uint64(255)).astype(numpy.uint8).reshape(n, n),
                (r[n * n :] & numpy.uint64(255)).astype(numpy.uint8).reshape(n, n, 3)))
    cols = numpy.array([[255, 255, 255], [0, 0, 0], [200, 30, 30], [30, 160, 40], [30, 60, 200], [240, 200, 20],
                        [250, 130, 10], [140, 40, 170], [20, 180, 190], [120, 70, 30], [250, 170, 190],
                        [90, 90, 90], [170, 170, 170], [0, 90, 60], [80, 0, 20], [180, 220, 255]], numpy.uint8)
    idx = numpy.zeros((n, n), numpy.uint8)
    g = Rng(3)
    for _ in range(400):
        c, cx, cy = g.range(1, 15), g.range(0, n - 1), g.range(0, n - 1)
        if g.next() & 1:
            rw, rh = g.range(16, 256), g.range(16, 256)
            idx[max(0, cy - rh // 2) : min(n, cy + rh // 2), max(0, cx - rw // 2) : min(n, cx + rw // 2)] = c
        else:
            rad = g.range(8, 128)
            yy, xx = numpy.ogrid[0:n, 0:n]
            idx[(xx - cx) ** 2 + (yy - cy) ** 2 <= rad * rad] = c
    out.append(("cartoon16", idx, cols[idx]))
    bayer = numpy.array([[0, 8, 2, 10], [12, 4, 14, 6], [3, 11, 1, 9], [15, 7, 13, 5]])
    s = numpy.clip(scene(x, y, n, n, 0), 0, 255) / 255.0 * 15.0
    q = numpy.minimum(15, (s + (bayer[y.astype(int) & 3, x.astype(int) & 3] + 0.5) / 16.0).astype(int)).astype(numpy.uint8)
    grey = (numpy.arange(16) * 255 // 15).astype(numpy.uint8)
    out.append(("dither_4bit", q, numpy.repeat(grey[q][..., None], 3, -1)))
    return out


def real_images():
    """The corpus's real pictures the project benchmark uses (indices only), when it is there."""
    folder = Path(os.environ.get("ORVELN1_CORPUS_DIR", Path(__file__).resolve().parent.parent.parent / "shared" / "corpus"))
    out = []
    for name, file, w, h in (("real_harvesters", "wuffs-harvesters.idx", 1165, 859),
                             ("real_porsche", "giflib-porsche.idx", 320, 200),
                             ("real_grey_loop", "ltnet-loop.strips.raw", 640, 480)):
        p = folder / "expected" / file
        if p.is_file() and p.stat().st_size >= w * h:
            out.append((name, numpy.frombuffer(p.read_bytes()[: w * h], numpy.uint8).reshape(h, w), None))
    return out


def strips_of(pixels: numpy.ndarray, whole: bool):
    """(strip, decoded bytes) of the picture: whole rows of about 64 KiB each, or one strip."""
    rows = pixels.shape[0]
    row_bytes = pixels[0].nbytes
    per = rows if whole else max(1, 65536 // row_bytes)
    data = pixels.tobytes()
    pieces = [data[k * row_bytes : min(rows, k + per) * row_bytes] for k in range(0, rows, per)]
    return [(orveln1.lzw_encode(p), p) for p in pieces]


def best(fn, rounds, reps):
    """The fastest of `reps` timings of `rounds` calls of fn, in seconds per call."""
    times = []
    for _ in range(reps):
        start = time.perf_counter()
        for _ in range(rounds):
            fn()
        times.append((time.perf_counter() - start) / rounds)
    return min(times)


def rounds_for(fn, min_seconds):
    start = time.perf_counter()
    fn()
    one = max(time.perf_counter() - start, 1e-6)
    return max(1, int(min_seconds / one))


def measure(strips, pil_read, pil_write, min_seconds, reps):
    """MB/s of each way of coding the strips, by name."""
    total = sum(len(p) for _, p in strips)
    encoded = [s for s, _ in strips]
    plain = [p for _, p in strips]
    sizes = [len(p) for p in plain]
    for s, p in strips:  # each way gives the same bytes
        assert orveln1.lzw_decode(s, out=len(p)) == p and orveln1.lzw_decode(s) == p

    def py_decode():
        for s, n in zip(encoded, sizes):
            orveln1.lzw_decode(s, out=n)

    room = bytearray(max(sizes))
    views = [memoryview(room)[:n] for n in sizes]

    def py_decode_into():
        for s, v in zip(encoded, views):
            orveln1.lzw_decode(s, out=v)

    def py_decode_none():
        for s in encoded:
            orveln1.lzw_decode(s)

    def py_encode():
        for p in plain:
            orveln1.lzw_encode(p)

    pool = ThreadPoolExecutor(2)

    def two_threads(fn, rounds):
        """Seconds per round when two threads each run `rounds` rounds at once."""

        def job():
            for _ in range(rounds):
                fn()

        start = time.perf_counter()
        a, b = pool.submit(job), pool.submit(job)
        a.result(), b.result()
        return (time.perf_counter() - start) / rounds

    # Each binding call and the C++ call it wraps, on the same strips.
    ways = {
        "decode": (py_decode, "decode", encoded),
        "decode_into": (py_decode_into, "decode", encoded),
        "decode_none": (py_decode_none, "decode_vector", encoded),
        "encode": (py_encode, "encode", plain),
    }
    out = {}
    for op, (py, cxx_op, items) in ways.items():
        rounds = rounds_for(py, min_seconds / reps)
        py_t, cxx_t, two_t = [], [], []
        for _ in range(reps):  # interleaved, so that both meet the same load
            py_t.append(best(py, rounds, 1))
            seconds = orveln1._orveln1._cxx_seconds(cxx_op, items, rounds, sizes if cxx_op == "decode" else [])
            assert seconds > 0, f"the C++ interface failed on these strips ({cxx_op})"
            cxx_t.append(seconds / rounds)
            two_t.append(two_threads(py, rounds))
        out[op] = total / min(py_t) / 1e6
        out[op + "_cxx"] = total / min(cxx_t) / 1e6
        out[op + "_2t"] = 2 * total / min(two_t) / 1e6
    pool.shutdown()
    if pil_read is not None:
        rounds = rounds_for(pil_read, min_seconds / reps)
        out["pillow_read"] = total / best(pil_read, rounds, reps) / 1e6
        rounds = rounds_for(pil_write, min_seconds / reps)
        out["pillow_write"] = total / best(pil_write, rounds, reps) / 1e6
    return out


def pillow_ways(pixels, whole):
    """Pillow reading the picture as an LZW TIFF with the same strips, and writing it (libtiff
    chooses its own strips of about 64 KiB)."""
    import tifffile

    import orveln1.tifffile

    orveln1.tifffile.register()
    buf = io.BytesIO()
    rows = pixels.shape[0] if whole else max(1, 65536 // pixels[0].nbytes)
    tifffile.imwrite(buf, pixels, compression="lzw", rowsperstrip=rows,
                     photometric="rgb" if pixels.ndim == 3 else "minisblack")
    tiff = buf.getvalue()
    mode = "RGB" if pixels.ndim == 3 else "L"
    image = Image.fromarray(pixels, mode)
    with Image.open(io.BytesIO(tiff)) as check:
        assert numpy.array_equal(numpy.asarray(check), pixels)

    def read():
        with Image.open(io.BytesIO(tiff)) as im:
            im.load()

    def write():
        image.save(io.BytesIO(), format="TIFF", compression="tiff_lzw")

    return read, write


def geomean(values):
    values = [v for v in values if v > 0]
    return math.exp(sum(math.log(v) for v in values) / len(values)) if values else 0.0


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--quick", action="store_true", help="small pictures and short timings (a check)")
    ap.add_argument("--markdown", help="also write the table to this file")
    ap.add_argument("--seconds", type=float, default=None, help="time per figure (default 0.6, quick 0.05)")
    args = ap.parse_args()
    side = 128 if args.quick else 768
    seconds = args.seconds or (0.05 if args.quick else 0.6)
    reps = 3 if args.quick else 5
    pictures = []
    for name, idx, rgb in peer_images(side) + ([] if args.quick else real_images()):
        pictures.append((name, idx))
        if rgb is not None:
            pictures.append((name + "_rgb", rgb))
    results = {}
    for name, pixels in pictures:
        for whole in (False, True):
            strips = strips_of(pixels, whole)
            read, write = pillow_ways(pixels, whole)
            r = measure(strips, read, write, seconds, reps)
            results[(name, "whole" if whole else "64KiB")] = r
            print(f"{name:22s} {'whole' if whole else '64KiB':5s} "
                  + " ".join(f"{k}={v:.0f}" for k, v in r.items()), flush=True)

    lines = [
        f"orveln1 {orveln1.__version__} Python binding against its C++ interface and Pillow "
        f"{Image.__version__} (libtiff), MB/s of decoded bytes, geometric means over {len(pictures)} pictures "
        f"({os.cpu_count()} CPUs):",
        "",
        "| strips | call | binding | C++ | binding / C++ | 2 threads | 2 threads / 1 | Pillow | binding / Pillow |",
        "|---|---|---|---|---|---|---|---|---|",
    ]
    calls = [("decode", "`lzw_decode(strip, out=size)`", "pillow_read"),
             ("decode_into", "`lzw_decode(strip, out=buffer)`", "pillow_read"),
             ("decode_none", "`lzw_decode(strip)`", "pillow_read"),
             ("encode", "`lzw_encode(data)`", "pillow_write")]
    summary = {}
    for size in ("64KiB", "whole"):
        rows = [r for (n, s), r in results.items() if s == size]
        for op, call, pil in calls:
            b = geomean([r[op] for r in rows])
            c = geomean([r[op + "_cxx"] for r in rows])
            t = geomean([r[op + "_2t"] for r in rows])
            p = geomean([r[pil] for r in rows])
            summary[(size, op)] = (b, c, t, p)
            lines.append(f"| {size} | {call} | {b:.0f} | {c:.0f} | {b / c:.3f} | {t:.0f} | {t / b:.2f} | {p:.0f} | {b / p:.2f} |")
    lines += ["", "C++: `decode_tif_bytes` into memory of the decoded size made before the clock starts (for `out=size` and "
              "`out=buffer`, the latter reusing one bytearray) and into a new `std::vector` (for `out=None`); "
              "`encode_tif_bytes` into a new `std::vector`. Pillow reads the "
              "same strips as an LZW TIFF (`Image.open(...).load()`) and writes with its own ~64 KiB strips "
              "(`save(..., compression=\"tiff_lzw\")`)."]
    table = "\n".join(lines)
    print()
    print(table)
    if args.markdown:
        Path(args.markdown).write_text(table + "\n")
    # The expectations, as a verdict (not a test: the machine may be busy).
    b, c, t, _ = summary[("64KiB", "decode")]
    print(f"\nbinding / C++ on 64 KiB strips (decode, out=size): {b / c:.3f} (expected >= 0.95); "
          f"2 threads / 1: {t / b:.2f} (expected >= 1.7 on 2 cores)")
    return 0


if __name__ == "__main__":
    sys.exit(main())
