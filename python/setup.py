# SPDX-License-Identifier: MIT
"""Builds orveln1._orveln1 from the library's sources in the tree above (no download): the
pybind11 binding and every source of the static core, with the core's own compile options."""
import os
import re
from pathlib import Path

from pybind11.setup_helpers import ParallelCompile, Pybind11Extension, build_ext
from setuptools import setup

here = Path(__file__).resolve().parent
root = here.parent
header = (root / "include" / "orveln1.h").read_text()
version = ".".join(re.search(rf"#define ORVELN1_VERSION_{p} (\d+)", header).group(1) for p in ("MAJOR", "MINOR", "PATCH"))

# setuptools takes sources only as paths relative to this folder.
core = sorted(
    os.path.relpath(p, here)
    for folder in ("lzw", "gif", "tiff", "boundary", "api")
    for p in (root / "src" / folder).glob("*.cpp")
    if p.name != "exports.cpp"
)
# Compiles the sources on every core (ORVELN1_BUILD_JOBS to choose); setuptools would take one at a time.
ParallelCompile("ORVELN1_BUILD_JOBS").install()

extension = Pybind11Extension(
    "orveln1._orveln1",
    ["src/binding.cpp", *core],
    include_dirs=["../include", "../src"],
    cxx_std=20,
    # As the CMake build compiles the core: every function on a 64-byte boundary keeps the codecs'
    # hot loops where their speed was measured.
    extra_compile_args=["-O2", "-falign-functions=64", "-fvisibility=hidden"],
)

setup(version=version, ext_modules=[extension], cmdclass={"build_ext": build_ext})
