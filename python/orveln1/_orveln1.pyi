# SPDX-License-Identifier: MIT
# Types of the compiled module; orveln1/__init__.py re-exports its public names.
from typing import Any, Optional, Union

import numpy

__version__: str

ERR_NO_MEMORY: int
ERR_BAD_DATA: int
ERR_WRITE: int
ERR_UNSUPPORTED_DEPTH: int
ERR_NOT_GIF: int
ERR_GIF_TRUNCATED: int
ERR_GIF_BAD_RECORD: int
ERR_GIF_NO_IMAGE: int

class Error(ValueError):
    """A codec refused its input: .code is the library's result code, str() its error_text."""

    code: int

_Buffer = Any  # bytes, bytearray, memoryview, numpy arrays: anything with the buffer protocol

def lzw_decode(data: _Buffer, /, *, out: Union[None, int, _Buffer] = None) -> Union[bytes, memoryview]: ...
def lzw_encode(data: _Buffer, /, *, out: Union[None, int, _Buffer] = None) -> Union[bytes, memoryview]: ...
def gif_read(
    data: _Buffer, /
) -> list[tuple[numpy.ndarray, numpy.ndarray, int, int, bool, Optional[int], int, int]]: ...
def gif_write(
    indices: numpy.ndarray, palette: numpy.ndarray, /, *, interlace: bool = False, transparent: Optional[int] = None
) -> bytes: ...
def error_text(code: int) -> str: ...
def _cxx_seconds(op: str, strips: list[bytes], rounds: int, sizes: list[int] = ...) -> float: ...
