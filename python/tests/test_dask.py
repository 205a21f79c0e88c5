# SPDX-License-Identifier: MIT
"""Dask: a distributed.LocalCluster with two worker processes, set up with nothing beyond the
installed package, computes (a) a zarr array compressed with orveln1.lzw and (b) a multi-strip LZW
TIFF through tifffile's zarr store; both equal numpy's. Bounded in time; the cluster is closed."""
import faulthandler
import sys

import numpy
import pytest
import tifffile

import orveln1.numcodecs
import orveln1.tifffile
from conftest import picture

distributed = pytest.importorskip("distributed")
da = pytest.importorskip("dask.array")
zarr = pytest.importorskip("zarr")

TIMEOUT = 120


@pytest.fixture(scope="module")
def client():
    # A hung cluster ends the run, with every thread's stack, instead of stalling it.
    faulthandler.dump_traceback_later(4 * TIMEOUT, exit=True)
    cluster = distributed.LocalCluster(
        n_workers=2, threads_per_worker=1, processes=True, dashboard_address=None, silence_logs=40
    )
    c = distributed.Client(cluster, timeout=TIMEOUT)
    try:
        yield c
    finally:
        c.close()
        cluster.close()
        faulthandler.cancel_dump_traceback_later()


def test_two_worker_processes(client):
    info = client.scheduler_info()["workers"]
    assert len(info) == 2
    # Separate processes, which have not imported orveln1 before the tasks below.
    assert len({w["id"] for w in info.values()}) == 2
    assert not any(client.run(lambda: "orveln1" in sys.modules).values())


def test_zarr_array_compressed_with_orveln1(client, tmp_path):
    data = picture("photo", 400, 300, 3, numpy.uint16)
    path = str(tmp_path / "d.zarr")
    z = zarr.open(path, mode="w", shape=data.shape, chunks=(100, 100, 3), dtype=data.dtype,
                  compressor=orveln1.numcodecs.LZW())
    z[:] = data
    arr = da.from_zarr(path)
    total = client.compute(arr.astype(numpy.int64).sum(axis=(0, 1))).result(timeout=TIMEOUT)
    assert numpy.array_equal(total, data.astype(numpy.int64).sum(axis=(0, 1)))
    back = client.compute(arr).result(timeout=TIMEOUT)
    assert numpy.array_equal(back, data)


def test_multi_strip_tiff_through_the_zarr_store(client, tmp_path):
    data = picture("cartoon", 512, 384, 3)
    path = tmp_path / "s.tif"
    orveln1.tifffile.register()
    tifffile.imwrite(path, data, compression="lzw", predictor=True, rowsperstrip=32)
    with tifffile.TiffFile(path) as tif:
        assert len(tif.pages[0].dataoffsets) == 16
    store = orveln1.tifffile.zarr_store(path, chunkmode=0)
    try:
        arr = da.from_zarr(store)
        assert arr.numblocks[0] > 1
        back = client.compute(arr).result(timeout=TIMEOUT)
    finally:
        store.close()
    assert numpy.array_equal(back, data)
