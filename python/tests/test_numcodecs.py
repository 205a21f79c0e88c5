# SPDX-License-Identifier: MIT
"""orveln1.numcodecs.LZW: encode/decode, its config through get_codec, zarr arrays compressed with
it, and the entry point in a fresh interpreter that never imported orveln1."""
import subprocess
import sys

import numcodecs
import numpy
import pytest
import zarr

import orveln1
import orveln1.numcodecs
from conftest import picture


def test_codec_round_trip_and_config():
    codec = numcodecs.get_codec({"id": "orveln1.lzw"})
    assert isinstance(codec, orveln1.numcodecs.LZW)
    assert codec.get_config() == {"id": "orveln1.lzw"}
    assert numcodecs.get_codec(codec.get_config()) == codec
    data = picture("photo", 64, 80, 3, numpy.uint16)
    encoded = codec.encode(data)
    assert encoded == orveln1.lzw_encode(data.tobytes())
    assert codec.decode(encoded) == data.tobytes()
    out = numpy.empty_like(data)
    assert codec.decode(encoded, out=out) is out
    assert numpy.array_equal(out, data)
    with pytest.raises(orveln1.Error):
        codec.decode(encoded, out=numpy.empty(data.size + 1, numpy.uint16))


def test_zarr_arrays_use_it_as_compressor(tmp_path):
    data = picture("cartoon", 300, 200, 3)
    z = zarr.open(str(tmp_path / "a.zarr"), mode="w", shape=data.shape, chunks=(64, 64, 3), dtype=data.dtype,
                  compressor=orveln1.numcodecs.LZW())
    z[:] = data
    again = zarr.open(str(tmp_path / "a.zarr"), mode="r")
    assert again.compressor.codec_id == "orveln1.lzw"
    assert numpy.array_equal(again[:], data)
    assert numpy.array_equal(again[17:201, 33:150], data[17:201, 33:150])


def test_entry_point_in_a_fresh_interpreter(tmp_path):
    z = zarr.open(str(tmp_path / "b.zarr"), mode="w", shape=(50, 60), chunks=(20, 20), dtype="u1",
                  compressor=orveln1.numcodecs.LZW())
    z[:] = picture("ramp", 50, 60)
    script = (
        "import sys, numcodecs, zarr\n"
        "codec = numcodecs.get_codec({'id': 'orveln1.lzw'})\n"
        "assert 'orveln1' in type(codec).__module__\n"
        f"a = zarr.open({str(tmp_path / 'b.zarr')!r}, mode='r')[:]\n"
        "print(int(a.sum()), 'orveln1' in sys.modules)\n"
    )
    done = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True, timeout=120)
    assert done.returncode == 0, done.stderr
    total, _ = done.stdout.split()
    assert int(total) == int(picture("ramp", 50, 60).sum())
