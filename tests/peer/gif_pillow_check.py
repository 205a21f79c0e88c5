# SPDX-License-Identifier: MIT
"""Runs the sample writer into a fresh folder and reads every GIF it wrote with Pillow: the
pixel indices, the transparent index and the interlace flag must be exactly those expected."""
import pathlib
import subprocess
import sys
import tempfile

from PIL import Image


def main() -> int:
    writer = sys.argv[1]
    failures = 0
    with tempfile.TemporaryDirectory() as folder:
        subprocess.run([writer, folder], check=True)
        gifs = sorted(pathlib.Path(folder).glob("*.gif"))
        if not gifs:
            print("no samples written")
            return 1
        for gif in gifs:
            raw = gif.with_suffix(".expect").read_bytes()
            line, pixels = raw.split(b"\n", 1)
            width, height, interlaced, transparent = (int(v) for v in line.split())
            with Image.open(gif) as im:
                im.load()
                problems = []
                if im.size != (width, height):
                    problems.append(f"size {im.size}")
                if im.mode != "P":
                    problems.append(f"mode {im.mode}")
                elif im.tobytes() != pixels:
                    problems.append("pixels differ")
                got_transparency = im.info.get("transparency", -1)
                if got_transparency != transparent:
                    problems.append(f"transparency {got_transparency}")
            data = gif.read_bytes()
            separator = 13 + 3 * (2 << (data[10] & 7))
            if data[separator] == 0x21:  # the transparency extension comes first
                separator += 8
            flag = data[separator] == 0x2C and (data[separator + 9] & 0x40) != 0
            if flag != bool(interlaced):
                problems.append("interlace flag")
            status = "ok" if not problems else "FAIL " + ", ".join(problems)
            print(f"{gif.name} {width}x{height} interlaced={interlaced}: {status}")
            failures += bool(problems)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
