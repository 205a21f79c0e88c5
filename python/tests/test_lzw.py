# SPDX-License-Identifier: MIT
"""lzw_decode / lzw_encode: round trips of every picture kind, strips exchanged with libtiff
(through Pillow) both ways, out of every kind, bad input, and many threads at once."""
import io
import re
import sys
import threading
import time
from concurrent.futures import ThreadPoolExecutor
from pathlib import Path

import numpy
import pytest
from PIL import Image, TiffImagePlugin

import orveln1
from conftest import PICTURE_KINDS, picture


@pytest.mark.parametrize("kind", PICTURE_KINDS)
@pytest.mark.parametrize("size", [(1, 1), (3, 7), (64, 1024), (300, 701)])
def test_round_trip_of_every_kind(kind, size):
    data = picture(kind, *size).tobytes()
    strip = orveln1.lzw_encode(data)
    assert isinstance(strip, bytes)
    assert orveln1.lzw_decode(strip) == data
    # Every buffer kind in, the same strip and bytes out.
    for given in (bytearray(data), memoryview(data), numpy.frombuffer(data, numpy.uint8)):
        assert orveln1.lzw_encode(given) == strip
    assert orveln1.lzw_decode(numpy.frombuffer(strip, numpy.uint8)) == data


def test_empty_input():
    strip = orveln1.lzw_encode(b"")
    assert orveln1.lzw_decode(strip) == b""
    assert orveln1.lzw_decode(b"") == b""


def pillow_tiff(pixels: numpy.ndarray, mode: str) -> bytes:
    out = io.BytesIO()
    Image.fromarray(pixels, mode).save(out, format="TIFF", compression="tiff_lzw")
    return out.getvalue()


def strips_of(tiff: bytes):
    """The compressed strips of the first page, and the bytes each holds, through Pillow's tags."""
    im = Image.open(io.BytesIO(tiff))
    offsets = im.tag_v2[TiffImagePlugin.STRIPOFFSETS]
    counts = im.tag_v2[TiffImagePlugin.STRIPBYTECOUNTS]
    return [tiff[o : o + n] for o, n in zip(offsets, counts)], im


@pytest.mark.parametrize("kind", PICTURE_KINDS)
@pytest.mark.parametrize("mode,samples", [("L", 1), ("RGB", 3), ("RGBA", 4)])
def test_libtiff_strips_decode_and_ours_are_read_by_libtiff(kind, mode, samples):
    pixels = picture(kind, 97, 203, samples)
    tiff = pillow_tiff(pixels, mode)
    strips, im = strips_of(tiff)
    rows = im.tag_v2.get(TiffImagePlugin.ROWSPERSTRIP, im.size[1])
    row_bytes = 203 * samples
    decoded = b"".join(orveln1.lzw_decode(s) for s in strips)
    assert decoded == pixels.tobytes()
    # Our strips in place of libtiff's: the file libtiff then reads holds the same pixels.
    pieces = [pixels.tobytes()[k * rows * row_bytes : (k + 1) * rows * row_bytes] for k in range(len(strips))]
    rewritten = rewrite_strips(tiff, [orveln1.lzw_encode(p) for p in pieces])
    back = Image.open(io.BytesIO(rewritten))
    back.load()
    assert numpy.array_equal(numpy.asarray(back), pixels)


def rewrite_strips(tiff: bytes, strips) -> bytes:
    """The TIFF with its strips replaced: the new strips appended, the offsets and byte counts
    patched in place (both are LONG arrays in what Pillow writes)."""
    out = bytearray(tiff)
    offsets, counts = [], []
    for s in strips:
        offsets.append(len(out))
        counts.append(len(s))
        out += s
    order = "<" if tiff[:2] == b"II" else ">"
    for tag, values in ((TiffImagePlugin.STRIPOFFSETS, offsets), (TiffImagePlugin.STRIPBYTECOUNTS, counts)):
        place = tag_value_place(tiff, tag, order)
        out[place : place + 4 * len(values)] = numpy.array(values, order + "u4").tobytes()
    return bytes(out)


def tag_value_place(tiff: bytes, tag: int, order: str) -> int:
    u2, u4 = numpy.dtype(order + "u2"), numpy.dtype(order + "u4")
    ifd = int(numpy.frombuffer(tiff, u4, 1, 4)[0])
    count = int(numpy.frombuffer(tiff, u2, 1, ifd)[0])
    for i in range(count):
        at = ifd + 2 + 12 * i
        t, kind = numpy.frombuffer(tiff, u2, 2, at)
        n = int(numpy.frombuffer(tiff, u4, 1, at + 4)[0])
        if t == tag:
            assert kind == 4
            return at + 8 if n == 1 else int(numpy.frombuffer(tiff, u4, 1, at + 8)[0])
    raise KeyError(tag)


def test_out_of_every_kind():
    data = picture("photo", 120, 333).tobytes()
    strip = orveln1.lzw_encode(data)
    # An int caps the output.
    assert orveln1.lzw_decode(strip, out=len(data)) == data
    assert orveln1.lzw_decode(strip, out=len(data) + 100) == data
    for cap in (0, 1, 4095, len(data) // 2, len(data) - 1):
        assert orveln1.lzw_decode(strip, out=cap) == data[:cap]
    # Writable buffers are filled in place; the view returned is the filled part.
    for target in (bytearray(len(data)), bytearray(len(data) + 9), numpy.zeros(len(data) // 2 + 1, numpy.uint16)):
        view = orveln1.lzw_decode(strip, out=target)
        assert isinstance(view, memoryview)
        assert bytes(view) == data[: min(len(data), memoryview(target).nbytes)]
        assert memoryview(target).cast("B")[: len(view)] == view
    small = bytearray(100)
    assert bytes(orveln1.lzw_decode(strip, out=small)) == data[:100] == bytes(small)
    # Encoding: an int or a buffer too small is refused, large enough gives the same strip.
    assert orveln1.lzw_encode(data, out=len(strip)) == strip
    room = bytearray(len(strip) + 50)
    assert bytes(orveln1.lzw_encode(data, out=room)) == strip
    for too_small in (len(strip) - 1, bytearray(len(strip) - 1)):
        with pytest.raises(orveln1.Error) as err:
            orveln1.lzw_encode(data, out=too_small)
        assert err.value.code == orveln1.ERR_WRITE
    with pytest.raises(ValueError):
        orveln1.lzw_decode(strip, out=-1)
    with pytest.raises((TypeError, BufferError)):
        orveln1.lzw_decode(strip, out=b"read-only bytes")
    with pytest.raises((TypeError, BufferError, ValueError)):
        orveln1.lzw_decode(numpy.zeros((10, 10), numpy.uint8)[:, ::2])
    with pytest.raises(TypeError):
        orveln1.lzw_decode("text")


def tif_codes(codes) -> bytes:
    """Codes packed most significant bit first at the widths a TIFF decoder reads them."""
    bits, width, next_code = "", 9, 258
    for i, c in enumerate(codes):
        bits += format(c, f"0{width}b")
        if c == 256:
            width, next_code = 9, 258
        elif i > 0 and codes[i - 1] != 256:
            next_code += 1
        if next_code + 1 >= (1 << width) and width < 12:
            width += 1
    bits += "0" * (-len(bits) % 8)
    return bytes(int(bits[k : k + 8], 2) for k in range(0, len(bits), 8))


@pytest.mark.parametrize(
    "codes",
    [
        [65, 66, 257],  # no clear code first
        [256, 65, 300, 257],  # a code above the next free one
        [256, 65, 66, 256, 67, 259, 257],  # the same after a second clear code
        [256, 258, 257],  # a table code straight after the clear code
    ],
    ids=["no-clear-code", "code-above-next", "code-above-next-after-clear", "table-code-first"],
)
def test_bad_strips_raise_error(codes):
    with pytest.raises(orveln1.Error) as err:
        orveln1.lzw_decode(tif_codes(codes))
    assert err.value.code == orveln1.ERR_BAD_DATA
    assert isinstance(err.value, ValueError)
    assert str(err.value) == orveln1.error_text(orveln1.ERR_BAD_DATA)


def test_strips_without_end_code_give_the_bytes_they_hold():
    assert orveln1.lzw_decode(tif_codes([256, 65, 66, 258])) == b"ABAB"
    data = picture("photo", 50, 200).tobytes()
    strip = orveln1.lzw_encode(data)
    for cut in (2, 3, len(strip) // 3, len(strip) - 1):
        part = orveln1.lzw_decode(strip[:cut])
        assert data.startswith(part) and len(part) <= len(data)
        assert cut > len(strip) // 2 or len(part) < len(data)


def test_random_bytes_never_crash():
    rng = numpy.random.default_rng(5)
    strip = bytearray(orveln1.lzw_encode(picture("photo", 40, 300).tobytes()))
    for k in range(300):
        damaged = bytearray(strip)
        for at in rng.integers(2, len(strip), 1 + k % 5):
            damaged[at] ^= 1 << int(rng.integers(0, 8))
        for given in (bytes(damaged), rng.bytes(int(rng.integers(0, 2000)))):
            try:
                out = orveln1.lzw_decode(given)
            except orveln1.Error as exc:
                assert exc.code == orveln1.ERR_BAD_DATA
            else:
                assert isinstance(out, bytes)


def test_threads_give_the_one_thread_results_and_run_at_once():
    datas = [picture(kind, 256, 512, seed=i).tobytes() for i, kind in enumerate(PICTURE_KINDS * 2)]
    strips = [orveln1.lzw_encode(d) for d in datas]
    with ThreadPoolExecutor(4) as pool:
        for _ in range(3):
            assert list(pool.map(orveln1.lzw_encode, datas)) == strips
            assert list(pool.map(orveln1.lzw_decode, strips)) == datas
    # The lock is let go while coding: a thread of pure Python goes on counting while one call
    # codes. Holding the lock, the call would let it run only at the switches just before and
    # after (a few per cent of the call's time at a 0.5 ms switch interval).
    data = picture("noise", 2048, 4096).tobytes()
    big = orveln1.lzw_encode(data)
    ticks, done = [0], threading.Event()

    def count():
        while not done.is_set():
            ticks[0] += 1

    interval = sys.getswitchinterval()
    sys.setswitchinterval(0.0005)
    t = threading.Thread(target=count)
    t.start()
    try:
        before = ticks[0]
        time.sleep(0.05)
        rate = (ticks[0] - before) / 0.05
        shares = []
        for call in (lambda: orveln1.lzw_decode(big), lambda: orveln1.lzw_encode(data)):
            before, start = ticks[0], time.perf_counter()
            call()
            shares.append((ticks[0] - before) / (rate * (time.perf_counter() - start)))
    finally:
        done.set()
        t.join()
        sys.setswitchinterval(interval)
    assert min(shares) > 0.15, shares


def test_version_comes_from_the_header():
    header = (Path(__file__).resolve().parent.parent.parent / "include" / "orveln1.h").read_text()
    major, minor, patch = (re.search(rf"#define ORVELN1_VERSION_{p} (\d+)", header).group(1) for p in ("MAJOR", "MINOR", "PATCH"))
    assert orveln1.__version__ == f"{major}.{minor}.{patch}"



def test_every_public_name_has_a_stub_and_a_docstring():
    import ast

    import orveln1.numcodecs
    import orveln1.tifffile

    stub = Path(orveln1._orveln1.__file__).with_name("_orveln1.pyi")
    tree = ast.parse(stub.read_text())
    stubbed = {n.name for n in tree.body if isinstance(n, (ast.FunctionDef, ast.ClassDef))}
    stubbed |= {n.target.id for n in tree.body if isinstance(n, ast.AnnAssign)}
    compiled = {n for n in dir(orveln1._orveln1) if not n.startswith("__")}
    assert compiled <= stubbed, compiled - stubbed
    for module in (orveln1, orveln1.tifffile, orveln1.numcodecs):
        for name in module.__all__:
            value = getattr(module, name)
            if callable(value):
                assert (value.__doc__ or "").strip(), f"{module.__name__}.{name}"
