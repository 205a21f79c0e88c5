# SPDX-License-Identifier: MIT
"""gif_read / gif_write: round trips (depths, interlace, transparency), Pillow reads what gif_write
writes, every corpus GIF reads as Pillow reads it, and bad streams raise orveln1.Error."""
import io

import numpy
import pytest
from PIL import Image

import orveln1
from conftest import corpus_entries, picture


def palette_of(n):
    return numpy.array([[i, 255 - i, (7 * i) & 255] for i in range(n)], numpy.uint8)


@pytest.mark.parametrize("entries", [2, 16, 17, 256])
@pytest.mark.parametrize("interlace", [False, True])
@pytest.mark.parametrize("size", [(1, 1), (13, 7), (101, 257)])
def test_round_trip(entries, interlace, size):
    indices = (picture("photo", *size) % entries).astype(numpy.uint8)
    transparent = entries - 1 if entries > 2 else None
    gif = orveln1.gif_write(indices, palette_of(entries), interlace=interlace, transparent=transparent)
    assert gif[:6] == (b"GIF89a" if transparent is not None else b"GIF87a")
    (image,) = orveln1.gif_read(gif)
    assert numpy.array_equal(image.pixels, indices)
    assert image.pixels.dtype == numpy.uint8 and image.pixels.shape == size
    # The library writes 2^depth entries: 16 for up to 16 given, else 256; missing ones black.
    depth_entries = 16 if entries <= 16 else 256
    assert image.palette.shape == (depth_entries, 3)
    assert numpy.array_equal(image.palette[:entries], palette_of(entries))
    assert image.interlaced == interlace and image.transparent == transparent
    assert (image.left, image.top, image.delay) == (0, 0, 0)
    with Image.open(io.BytesIO(gif)) as im:
        assert numpy.array_equal(numpy.asarray(im), indices)


def test_bad_input_raises_error():
    good = orveln1.gif_write(numpy.zeros((4, 4), numpy.uint8), palette_of(4))
    cases = {
        "not GIF": (b"PNG and more bytes", orveln1.ERR_NOT_GIF),
        "empty": (b"", orveln1.ERR_GIF_TRUNCATED),
        "cut short": (good[: len(good) - 5], orveln1.ERR_GIF_TRUNCATED),
        "no image": (good[:13] + good[13 : 13 + 48] + b";", orveln1.ERR_GIF_NO_IMAGE),
    }
    for what, (data, code) in cases.items():
        with pytest.raises(orveln1.Error) as err:
            orveln1.gif_read(data)
        assert err.value.code == code, what
    # Image data that does not begin with a clear code (min code size 2: clear is 4).
    at = good.index(b",") + 10  # the code size byte
    no_clear = bytearray(good)
    no_clear[at + 2] = 0x00
    with pytest.raises(orveln1.Error) as err:
        orveln1.gif_read(bytes(no_clear))
    assert err.value.code == orveln1.ERR_BAD_DATA
    # A size its data could never fill is refused before any pixel is made.
    huge = bytearray(good)
    huge[at - 5 : at - 1] = b"\xff\xff\xff\xff"
    with pytest.raises(orveln1.Error) as err:
        orveln1.gif_read(bytes(huge))
    assert err.value.code == orveln1.ERR_BAD_DATA
    with pytest.raises(orveln1.Error):
        orveln1.gif_write(numpy.full((2, 2), 9, numpy.uint8), palette_of(4))
    with pytest.raises(orveln1.Error):
        orveln1.gif_write(numpy.zeros((1, 70000), numpy.uint8), palette_of(4))
    with pytest.raises(ValueError):
        orveln1.gif_write(numpy.zeros((2, 2), numpy.uint8), numpy.zeros((300, 3), numpy.uint8))


def test_damaged_streams_never_crash():
    rng = numpy.random.default_rng(3)
    good = orveln1.gif_write(picture("photo", 40, 60), palette_of(256))
    for k in range(200):
        damaged = bytearray(good)
        for at in rng.integers(6, len(good), 1 + k % 4):
            damaged[at] = int(rng.integers(0, 256))
        try:
            images = orveln1.gif_read(bytes(damaged))
        except orveln1.Error:
            continue
        for image in images:
            assert image.pixels.ndim == 2


def pillow_first_frame(path):
    """Pillow's indices of the first image, within the image's own rectangle."""
    with Image.open(path) as im:
        im.load()
        return numpy.asarray(im), im


@pytest.mark.parametrize("name,path,entry", corpus_entries("gif"))
def test_corpus_gifs_read_as_pillow_reads_them(name, path, entry):
    if path is None:
        pytest.fail("corpus required (ORVELN1_REQUIRE_CORPUS=1) but not found")
    data = path.read_bytes()
    try:
        theirs, _ = pillow_first_frame(path)
    except Exception:  # noqa: BLE001 - Pillow's refusal is the verdict to compare with
        theirs = None
    giflib = entry.get("giflib", {})
    whole = giflib.get("status") == "ok" and giflib.get("rows_complete") == entry.get("height")
    try:
        images = orveln1.gif_read(data)
    except orveln1.Error as exc:
        # Refused: image data that does not begin with a clear code (refused by design), or a
        # stream that giflib does not complete either or Pillow refuses too.
        first_clear = entry.get("lzw", {}).get("first_code_is_clear", True)
        assert theirs is None or not whole or not first_clear, f"{name}: {exc}"
        assert exc.code != orveln1.ERR_NOT_GIF, name
        return
    assert whole or theirs is None or images, name
    first = images[0]
    assert first.pixels.shape == (entry["height"], entry["width"])
    if theirs is None:
        pytest.skip(f"{name}: Pillow cannot read it, nothing to compare with")
    top, left = first.top, first.left
    region = theirs[top : top + first.pixels.shape[0], left : left + first.pixels.shape[1]]
    if region.shape == first.pixels.shape:
        assert numpy.array_equal(region, first.pixels), name
    else:
        assert numpy.array_equal(theirs, first.pixels[: theirs.shape[0], : theirs.shape[1]]), name
