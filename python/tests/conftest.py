# SPDX-License-Identifier: MIT
"""Shared pieces of the Python suite: the corpus location, sample pictures of every kind, and the
interpreter the subprocess tests start."""
import json
import os
import sys
from pathlib import Path

import numpy
import pytest

HERE = Path(__file__).resolve().parent
SOURCE_ROOT = HERE.parent.parent


def corpus_dir() -> Path:
    """ORVELN1_CORPUS_DIR, else ../shared/corpus beside the source tree (as the C++ tests look)."""
    named = os.environ.get("ORVELN1_CORPUS_DIR")
    return Path(named) if named else SOURCE_ROOT.parent / "shared" / "corpus"


def corpus_entries(kind: str):
    """(name, path, manifest entry) of every corpus file of a kind ("gif" or "tiff"); with no corpus,
    one skipped case, or a failed one when ORVELN1_REQUIRE_CORPUS=1."""
    folder = corpus_dir()
    manifest = folder / "manifest.jsonl"
    if not manifest.is_file():
        if os.environ.get("ORVELN1_REQUIRE_CORPUS") == "1":
            return [pytest.param(None, None, None, id="no-corpus")]
        return [
            pytest.param(None, None, None, id="no-corpus", marks=pytest.mark.skip(reason=f"corpus not found at {folder}"))
        ]
    out = []
    for line in manifest.read_text().splitlines():
        entry = json.loads(line)
        if entry.get("kind") == kind:
            out.append(pytest.param(entry["name"], folder / entry["file"], entry, id=entry["name"]))
    return out


def picture(kind: str, height: int, width: int, samples: int = 1, dtype=numpy.uint8, seed: int = 1) -> numpy.ndarray:
    """A picture of the given kind: flat, ramp, photo (smooth with noise), noise, cartoon."""
    rng = numpy.random.default_rng(seed)
    y, x = numpy.mgrid[0:height, 0:width]
    top = numpy.iinfo(dtype).max
    if kind == "flat":
        base = numpy.full((height, width), top // 3, numpy.float64)
    elif kind == "ramp":
        base = (x + y) / max(1, width + height - 2) * top
    elif kind == "photo":
        base = (0.2 + 0.6 * (x + y) / max(1, width + height) + 0.1 * numpy.sin(x * 0.05) * numpy.cos(y * 0.07)) * top
        base = base + rng.normal(0, top / 80, base.shape)
    elif kind == "noise":
        base = rng.integers(0, top, (height, width), endpoint=True).astype(numpy.float64)
    elif kind == "cartoon":
        base = ((x // 17 + y // 23) % 5) * (top // 5)
    else:
        raise ValueError(kind)
    planes = [numpy.roll(base, 7 * s, axis=1) for s in range(samples)]
    out = numpy.clip(numpy.stack(planes, axis=-1), 0, top).astype(dtype)
    return out[..., 0] if samples == 1 else out


PICTURE_KINDS = ["flat", "ramp", "photo", "noise", "cartoon"]


@pytest.fixture
def python_exe():
    return sys.executable
