# SPDX-License-Identifier: MIT
"""tifffile reads and writes LZW (compression 5) through orveln1.

Call :func:`register` once per process; tifffile then decodes and encodes LZW strips and tiles with
orveln1.lzw_decode and orveln1.lzw_encode (tifffile applies the horizontal predictor itself). On
Dask workers: start them with ``--preload orveln1.tifffile`` (or ``preload=["orveln1.tifffile"]``
for a LocalCluster), which calls :func:`dask_setup`, or open files with :func:`zarr_store`, whose
stores register orveln1 wherever they are unpickled.
"""
from __future__ import annotations

from typing import Any

import tifffile as _tifffile

from . import lzw_decode, lzw_encode

__all__ = ["register", "registered", "zarr_store", "dask_setup"]

LZW = 5


def _codec_tables() -> tuple[dict, dict]:
    try:
        return _tifffile.TIFF.DECOMPRESSORS._codecs, _tifffile.TIFF.COMPRESSORS._codecs
    except AttributeError as exc:  # a tifffile whose codec tables are laid out otherwise
        raise RuntimeError(
            f"orveln1.tifffile: tifffile {_tifffile.__version__} keeps its codecs where orveln1 does not look"
        ) from exc


def register() -> None:
    """Makes tifffile decode and encode compression 5 (LZW) with orveln1, in this process.

    Idempotent; replaces whatever LZW codec tifffile had. Works with Debian's tifffile 2023.2.3
    and current releases."""
    decompressors, compressors = _codec_tables()
    decompressors[LZW] = lzw_decode
    compressors[LZW] = lzw_encode


def registered() -> bool:
    """Whether tifffile's LZW codecs in this process are orveln1's."""
    decompressors, compressors = _codec_tables()
    return decompressors.get(LZW) is lzw_decode and compressors.get(LZW) is lzw_encode


def dask_setup(worker: Any = None) -> None:
    """The hook of ``dask worker --preload orveln1.tifffile``: registers orveln1 on the worker."""
    register()


def _reopen(path: str, kwargs: dict) -> "_tifffile.ZarrTiffStore":
    return zarr_store(path, **kwargs)


class _PicklableStore(_tifffile.ZarrTiffStore):
    """tifffile's zarr store that pickles as its file's path and arguments: unpickled (on a Dask
    worker, say) it registers orveln1 and opens the file again."""

    _orveln1_source: tuple[str, dict]

    def __reduce__(self):
        return _reopen, self._orveln1_source


def zarr_store(path: str, **aszarr_kwargs: Any) -> "_tifffile.ZarrTiffStore":
    """tifffile's zarr store of a TIFF file (``tifffile.TiffFile(path).aszarr(**aszarr_kwargs)``),
    with orveln1 registered, that can travel to other processes: pickled it carries only the path
    and the arguments, and wherever it is unpickled it registers orveln1 and opens the file again.
    The file stays open until the store is closed (``store.close()``)."""
    register()
    tif = _tifffile.TiffFile(path)
    try:
        store = tif.aszarr(**aszarr_kwargs)
    except BaseException:
        tif.close()
        raise
    store.__class__ = _PicklableStore
    store._orveln1_source = (str(path), dict(aszarr_kwargs))
    return store
