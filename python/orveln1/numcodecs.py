# SPDX-License-Identifier: MIT
"""The orveln1 LZW codec for numcodecs and zarr (codec id ``orveln1.lzw``).

Importing this module registers the codec; the package also declares it under the
``numcodecs.codecs`` entry point, so ``numcodecs.get_codec({"id": "orveln1.lzw"})`` works in an
interpreter that never imported orveln1 (a Dask worker, say).
"""
from __future__ import annotations

from typing import Any, Optional

import numcodecs
from numcodecs.abc import Codec
from numcodecs.compat import ensure_contiguous_ndarray

from . import ERR_BAD_DATA, Error, error_text, lzw_decode, lzw_encode

__all__ = ["LZW"]


class LZW(Codec):
    """TIFF LZW (the strips of TIFF compression 5) as a numcodecs codec. It has no parameters:
    its config is ``{"id": "orveln1.lzw"}``."""

    codec_id = "orveln1.lzw"

    def encode(self, buf: Any) -> bytes:
        """The bytes of buf (any contiguous buffer or array) as one LZW strip."""
        return lzw_encode(ensure_contiguous_ndarray(buf))

    def decode(self, buf: Any, out: Optional[Any] = None) -> Any:
        """The bytes a strip decodes to; with out (a writable contiguous buffer of the decoded
        size), decoded into it and out returned. Raises orveln1.Error when the strip does not
        fill out exactly."""
        data = ensure_contiguous_ndarray(buf)
        if out is None:
            return lzw_decode(data)
        target = ensure_contiguous_ndarray(out)
        filled = len(lzw_decode(data, out=target))
        if filled != target.nbytes:
            exc = Error(f"{error_text(ERR_BAD_DATA)}: the strip decodes to {filled} of {target.nbytes} bytes")
            exc.code = ERR_BAD_DATA
            raise exc
        return out

    def __repr__(self) -> str:
        return "LZW()"


numcodecs.register_codec(LZW)
