#!/usr/bin/python3
# SPDX-License-Identifier: MIT
"""Times Pillow's GIF decoder and encoder on the images orveln1_bench dumped, in the same units
(pixel bytes per second), after checking that each decodes or encodes the image exactly.

Usage: pillow_bench.py DUMP_DIR OUT_JSON [MIN_SECONDS]
Run with Debian's /usr/bin/python3, whose python3-pil is the Pillow measured."""
import io
import json
import sys
import time

from PIL import Image


def palette(depth):
    # The same palette as the benchmark's image header: red i, green 255 - i, blue 7i.
    out = []
    for i in range(1 << depth):
        out += [i, 255 - i, (i * 7) & 255]
    return out


def rate(call, pixel_bytes, min_seconds):
    """Pixel bytes per second, from as many calls as fill min_seconds (at least three)."""
    call()  # warm-up
    runs, start = 0, time.perf_counter()
    while True:
        call()
        runs += 1
        elapsed = time.perf_counter() - start
        if runs >= 3 and elapsed >= min_seconds:
            return pixel_bytes * runs / elapsed


def main():
    dump_dir, out_path = sys.argv[1], sys.argv[2]
    min_seconds = float(sys.argv[3]) if len(sys.argv) > 3 else 0.5
    images = json.load(open(f"{dump_dir}/images.json"))
    results, failures = [], 0
    for im in images:
        name, w, h, depth = im["name"], im["width"], im["height"], im["depth"]
        indices = open(f"{dump_dir}/{name}.idx", "rb").read()
        gif = open(f"{dump_dir}/{name}.gif", "rb").read()
        pixels = w * h

        def decode():
            picture = Image.open(io.BytesIO(gif))
            picture.load()
            return picture

        source = Image.frombytes("P", (w, h), indices)
        source.putpalette(palette(depth))
        want_rgb = source.convert("RGB").tobytes()

        def encode():
            buffer = io.BytesIO()
            source.save(buffer, format="GIF", optimize=False)
            return buffer.getvalue()

        # Pillow may renumber the palette when it writes, so its output is checked by colour.
        checks = {
            "gif_decode": (decode, lambda: decode().tobytes() == indices),
            "gif_encode": (encode, lambda: Image.open(io.BytesIO(encode())).convert("RGB").tobytes() == want_rgb),
        }
        for op, (call, check) in checks.items():
            entry = {"name": f"{op}/pillow/{name}"}
            if check():
                entry["bytes_per_second"] = rate(call, pixels, min_seconds)
            else:
                entry["error_occurred"] = True
                entry["error_message"] = "output differs from the image"
                failures += 1
            results.append(entry)
            print(f"{entry['name']:40s} {entry.get('bytes_per_second', 0) / 1e6:10.1f} MB/s", flush=True)
    json.dump({"pillow_version": Image.__version__, "benchmarks": results}, open(out_path, "w"), indent=1)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
