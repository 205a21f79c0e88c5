#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Installs on a Debian machine what one part of the work needs, by profile; idempotent (packages
# already present are left alone). Runs apt-get as root (or through sudo).
# Usage: scripts/install-deps.sh PROFILE...   (no profile: all)
#   build    the library and the orveln tool                        (scripts/demo.sh)
#   test     the test suite: build + GoogleTest, the peers, clang and its sanitizers, Pillow,
#            the s390x and i686 cross compilers, qemu-user
#   windows  the Windows module and its test host: MinGW-w64, Wine with the i386 architecture
#   bench    the benchmark: build + Google Benchmark, giflib, libtiff, stb, Pillow
#   python   the Python package and its tests: build + Python's headers, pybind11, venv, numpy,
#            tifffile, zarr, numcodecs, Dask (distributed), pytest, Pillow
#   all      every profile above                                    (scripts/test.sh)
set -euo pipefail

# The library itself needs only the compiler, CMake and Ninja; the tool reads and writes TIFF files
# through libtiff.
build=(cmake ninja-build g++ pkg-config libtiff-dev)
# The tool's further file formats (PNG, JPEG) add their -dev packages here.
build+=(libpng-dev libjpeg62-turbo-dev)
test=(
  "${build[@]}"
  clang clang-format llvm libclang-rt-14-dev
  libgtest-dev libgmock-dev nlohmann-json3-dev
  libgif-dev giflib-tools libtiff-tools libstb-dev python3-pil
)
windows=(
  cmake ninja-build
  g++-mingw-w64-i686 binutils-mingw-w64-i686 g++-mingw-w64-x86-64 binutils-mingw-w64-x86-64
)
windows_i386=(wine wine32:i386 wine64)
bench=("${build[@]}" libbenchmark-dev libgif-dev libstb-dev python3-pil)
# The Python package: built with pybind11 against Debian's python3 (3.11), installed offline into
# a venv with --system-site-packages (setuptools, wheel and pip there), tested with pytest.
python=(
  "${build[@]}"
  python3-dev pybind11-dev python3-pybind11 python3-venv python3-pip python3-setuptools python3-wheel
  python3-numpy python3-tifffile python3-zarr python3-numcodecs python3-dask python3-distributed
  python3-pytest python3-pil
)
# Big-endian checks: the s390x cross compiler and qemu-user (scripts/cross-test.sh bigendian).
bigendian=(cmake ninja-build g++-s390x-linux-gnu qemu-user)
test+=("${bigendian[@]}")
# --- i686: the unit tests at the 32-bit module's floor, cross-built for i686 Linux and run under
# qemu-i386 (scripts/cross-test.sh i686); qemu-user comes with the big-endian checks ---
i686=(cmake ninja-build g++-i686-linux-gnu qemu-user)
test+=("${i686[@]}")
# --- end i686 ---
# The coverage stage (scripts/coverage.sh): g++'s gcov, summed up by gcovr.
test+=(gcovr)

as_root() { if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi; }
installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }

[ "$#" -gt 0 ] || set -- all
wanted=()
need_i386=0
for profile in "$@"; do
  case "$profile" in
  build) wanted+=("${build[@]}") ;;
  test) wanted+=("${test[@]}") ;;
  bench) wanted+=("${bench[@]}") ;;
  python) wanted+=("${python[@]}") ;;
  windows) wanted+=("${windows[@]}" "${windows_i386[@]}") need_i386=1 ;;
  all) wanted+=("${test[@]}" "${bench[@]}" "${python[@]}" "${windows[@]}" "${windows_i386[@]}") need_i386=1 ;;
  -h | --help)
    sed -n '2,12p' "$0" | sed 's/^# \{0,1\}//'
    exit 0
    ;;
  *)
    echo "install-deps: unknown profile '$profile' (build, test, windows, bench, python, all)" >&2
    exit 2
    ;;
  esac
done

missing=()
for p in $(printf '%s\n' "${wanted[@]}" | sort -u); do
  installed "$p" || missing+=("$p")
done

if [ "${#missing[@]}" -gt 0 ]; then
  export DEBIAN_FRONTEND=noninteractive
  # Wine's 32-bit half comes from the i386 architecture.
  if [ "$need_i386" -eq 1 ] && ! dpkg --print-foreign-architectures | grep -qx i386; then
    as_root dpkg --add-architecture i386
  fi
  as_root apt-get update -qq
  as_root apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
echo "install-deps: $* present"
