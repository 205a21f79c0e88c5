# SPDX-License-Identifier: MIT
"""orveln1: fast, hardened LZW for TIFF strips and GIF streams.

- :func:`lzw_decode` / :func:`lzw_encode`: one TIFF LZW strip (the call shape tifffile and
  numcodecs users know).
- :func:`gif_read` / :func:`gif_write`: every image of a GIF stream; one image written.
- :mod:`orveln1.tifffile`: ``register()`` makes tifffile read and write compression 5 (LZW).
- :mod:`orveln1.numcodecs`: the ``orveln1.lzw`` codec for numcodecs and zarr.

Every call lets go of the interpreter lock while it codes, so threads decode in parallel. Bad
input raises :class:`Error` (a :class:`ValueError`) with the library's result code.
"""
from __future__ import annotations

import importlib
from dataclasses import dataclass
from typing import Optional

import numpy

from . import _orveln1
from ._orveln1 import (
    ERR_BAD_DATA,
    ERR_GIF_BAD_RECORD,
    ERR_GIF_NO_IMAGE,
    ERR_GIF_TRUNCATED,
    ERR_NO_MEMORY,
    ERR_NOT_GIF,
    ERR_UNSUPPORTED_DEPTH,
    ERR_WRITE,
    Error,
    error_text,
    lzw_decode,
    lzw_encode,
)

__version__: str = _orveln1.__version__

__all__ = [
    "ERR_BAD_DATA",
    "ERR_GIF_BAD_RECORD",
    "ERR_GIF_NO_IMAGE",
    "ERR_GIF_TRUNCATED",
    "ERR_NO_MEMORY",
    "ERR_NOT_GIF",
    "ERR_UNSUPPORTED_DEPTH",
    "ERR_WRITE",
    "Error",
    "GifImage",
    "__version__",
    "error_text",
    "gif_read",
    "gif_write",
    "lzw_decode",
    "lzw_encode",
]

@dataclass(frozen=True)
class GifImage:
    """One image of a GIF stream, as gif_read gives it.

    pixels: (height, width) uint8 array of palette indices, de-interlaced.
    palette: (n, 3) uint8 array, red, green, blue: the image's local colour table, else the
        stream's global one ((0, 3) when there is neither).
    left, top: the image's place on the logical screen.
    interlaced: whether the stream stores the rows interlaced (pixels are in display order).
    transparent: the transparent index of the graphic control extension, or None.
    delay: hundredths of a second, from the graphic control extension (0 without one).
    disposal: the disposal method, 0 to 7.
    """

    pixels: numpy.ndarray
    palette: numpy.ndarray
    left: int
    top: int
    interlaced: bool
    transparent: Optional[int]
    delay: int
    disposal: int


def gif_read(data, /) -> list[GifImage]:
    """Every image of a GIF stream, through the library's stream reader and decoder.

    data: any contiguous buffer holding the whole stream. Raises Error for a stream that is not
    GIF (ERR_NOT_GIF), is cut short (ERR_GIF_TRUNCATED), holds a byte no record begins with
    (ERR_GIF_BAD_RECORD) or no image (ERR_GIF_NO_IMAGE), and for image data that does not begin
    with a clear code or does not fill its image (ERR_BAD_DATA): no image is returned incomplete.
    """
    return [GifImage(*values) for values in _orveln1.gif_read(data)]


def gif_write(indices, palette, /, *, interlace: bool = False, transparent: Optional[int] = None) -> bytes:
    """One image as a whole GIF stream (GIF87a, or GIF89a with a transparent index).

    indices: (height, width) array of palette indices (taken as uint8), 1 to 65535 each way.
    palette: (n, 3) array of red, green, blue, at most 256 entries. Up to 16 entries give a 4-bit
        image (a 16-entry colour table), more an 8-bit one, as the library picks the depth.
    interlace: store the rows interlaced. transparent: an index to mark transparent, or None.
    Raises Error (ERR_BAD_DATA) for an index outside the palette or a size outside 1 to 65535.
    """
    indices = numpy.asarray(indices)
    palette = numpy.asarray(palette).reshape(-1, 3) if numpy.size(palette) else numpy.zeros((0, 3), numpy.uint8)
    return _orveln1.gif_write(indices, palette, interlace=interlace, transparent=transparent)


def __getattr__(name: str):
    # orveln1.tifffile and orveln1.numcodecs load on first use, so that `import orveln1` needs
    # neither tifffile nor numcodecs, and `orveln1.tifffile.register()` works after it alone.
    if name in ("tifffile", "numcodecs"):
        return importlib.import_module(f".{name}", __name__)
    raise AttributeError(f"module {__name__!r} has no attribute {name!r}")
