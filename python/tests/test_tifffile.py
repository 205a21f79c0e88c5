# SPDX-License-Identifier: MIT
"""orveln1.tifffile: tifffile reads and writes LZW through orveln1 (strips and tiles, grey, RGB and
RGBA, 8 and 16 bits, with and without the predictor), libtiff (through Pillow) reads what it
writes, and every corpus TIFF reads as Pillow reads it."""
import io
import pickle
import warnings

import numpy
import pytest
import tifffile
from PIL import Image

import orveln1
import orveln1.tifffile
from conftest import corpus_entries, picture


@pytest.fixture(autouse=True)
def registered():
    orveln1.tifffile.register()


def test_register_is_idempotent_and_takes_the_lzw_slot():
    orveln1.tifffile.register()
    assert orveln1.tifffile.registered()
    assert tifffile.TIFF.DECOMPRESSORS[5] is orveln1.lzw_decode
    assert tifffile.TIFF.COMPRESSORS[5] is orveln1.lzw_encode


@pytest.mark.parametrize("samples", [1, 3, 4])
@pytest.mark.parametrize("dtype", [numpy.uint8, numpy.uint16])
@pytest.mark.parametrize("predictor", [False, True])
@pytest.mark.parametrize("layout", ["strips", "tiles"])
def test_write_and_read_every_kind(tmp_path, samples, dtype, predictor, layout):
    pixels = picture("photo", 150, 170, samples, dtype)
    path = tmp_path / "p.tif"
    extra = {"tile": (64, 64)} if layout == "tiles" else {"rowsperstrip": 16}
    if samples == 4:
        extra["extrasamples"] = ["unassalpha"]
    tifffile.imwrite(path, pixels, compression="lzw", predictor=predictor, photometric="minisblack" if samples == 1 else "rgb", **extra)
    with tifffile.TiffFile(path) as tif:
        page = tif.pages[0]
        assert page.compression == 5
        assert page.is_tiled == (layout == "tiles")
        assert (page.predictor == 2) == predictor
        assert numpy.array_equal(page.asarray(), pixels)
    # libtiff reads the 8-bit files (Pillow reduces 16-bit colour to 8 bits, so those are left out).
    if dtype == numpy.uint8:
        with Image.open(path) as im:
            assert numpy.array_equal(numpy.asarray(im), pixels)


def test_reads_what_libtiff_writes(tmp_path):
    pixels = picture("cartoon", 333, 257, 3)
    path = tmp_path / "libtiff.tif"
    Image.fromarray(pixels, "RGB").save(path, compression="tiff_lzw")
    assert numpy.array_equal(tifffile.imread(path), pixels)


def test_zarr_store_travels_and_registers_where_it_lands(tmp_path):
    import zarr

    pixels = picture("ramp", 200, 90)
    path = tmp_path / "z.tif"
    tifffile.imwrite(path, pixels, compression="lzw", rowsperstrip=10)
    store = orveln1.tifffile.zarr_store(path)
    again = pickle.loads(pickle.dumps(store))
    assert numpy.array_equal(zarr.open(again, mode="r")[:], pixels)
    store.close()
    again.close()


def comparable(ours: numpy.ndarray, theirs: numpy.ndarray, page) -> tuple:
    """Both pictures in the form Pillow gives: samples last, 16-bit colour reduced to 8 bits, and
    for associated alpha only the pixels whose alpha is full, where both forms agree."""
    if page.planarconfig == 2 and ours.ndim == 3:
        ours = numpy.moveaxis(ours, 0, -1)
    if ours.dtype == numpy.uint16 and theirs.dtype == numpy.uint8:
        ours = (ours >> 8).astype(numpy.uint8)
    if ours.dtype == bool:
        theirs = theirs.astype(bool)
        if page.photometric == 0:  # min-is-white: Pillow shows white as 1
            ours = ~ours
    if ours.shape == theirs.shape and ours.ndim == 3 and ours.shape[-1] == 4 and not numpy.array_equal(ours, theirs):
        full = ours[..., 3] == numpy.iinfo(ours.dtype).max
        return (ours[..., 3], ours[full]), (theirs[..., 3], theirs[full])
    return (ours,), (theirs,)


@pytest.mark.parametrize("name,path,entry", corpus_entries("tiff"))
def test_corpus_tiffs_read_as_pillow_reads_them(name, path, entry):
    if path is None:
        pytest.fail("corpus required (ORVELN1_REQUIRE_CORPUS=1) but not found")
    try:
        with Image.open(path) as im:
            im.load()
            theirs = numpy.asarray(im)
    except Exception as exc:  # noqa: BLE001 - libtiff's refusal is the verdict to compare with
        theirs, refused = None, exc
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        with tifffile.TiffFile(path) as tif:
            page = tif.pages[0]
            if page.compression != 5:
                pytest.skip(f"{name}: compression {page.compression!r}, not LZW")
            try:
                ours = page.asarray()
            except orveln1.Error as exc:
                # Strips orveln1 refuses are ones libtiff reads only by its own older rules.
                assert "compat" in name or theirs is None, f"{name}: {exc}"
                return
            except (ValueError, NotImplementedError, tifffile.TiffFileError) as exc:
                if theirs is None:
                    return  # damaged: libtiff refuses it too
                if "imagecodecs" in str(exc) or "not supported" in str(exc):
                    pytest.skip(f"{name}: tifffile cannot read this file without other codecs: {exc}")
                raise
    if theirs is None:
        pytest.skip(f"{name}: Pillow cannot read it ({refused}), nothing to compare with")
    a, b = comparable(ours, theirs, page)
    for x, y in zip(a, b):
        assert x.shape == y.shape and numpy.array_equal(x, y), name
