#!/usr/bin/env bash
# The whole test suite on a fresh machine: installs what is needed, builds from scratch with g++
# and clang, runs every test plainly and under AddressSanitizer + UndefinedBehaviorSanitizer.
# Any failure, sanitizer report included, fails the script.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
out=${ORVELN1_BUILD_ROOT:-$root/build/ci}
jobs=$(nproc)

"$root/scripts/install-deps.sh"
rm -rf "$out"
mkdir -p "$out"

stage() { printf '\n=== %s ===\n' "$*"; }

build_and_test() { # name, then extra cmake arguments
  local name=$1
  shift
  stage "$name: configure and build"
  cmake -S "$root" -B "$out/$name" -G Ninja "$@" > "$out/$name.configure.log"
  cmake --build "$out/$name" -j "$jobs"
  stage "$name: tests"
  ctest --test-dir "$out/$name" --output-on-failure -j "$jobs" --timeout 600
}

stage "format: sources as .clang-format has them"
"$root/scripts/check-format.sh"

build_and_test gcc -DCMAKE_C_COMPILER=gcc -DCMAKE_CXX_COMPILER=g++
build_and_test clang -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  build_and_test sanitize -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DORVELN1_SANITIZE=ON \
  -DCMAKE_BUILD_TYPE=Debug

stage "fuzz: each target for ${ORVELN1_FUZZ_SECONDS:-60}s"
"$root/scripts/fuzz.sh" "$out/fuzz" "${ORVELN1_FUZZ_SECONDS:-60}"

# Later stages are added below, one delimited block each.

# --- host side: ThreadSanitizer over the in-memory interface and the tool's threaded strips ---
stage "tsan: in-memory interface from several threads, tool strips on all cores"
cmake -S "$root" -B "$out/tsan" -G Ninja -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DCMAKE_BUILD_TYPE=Debug -DCMAKE_C_FLAGS=-fsanitize=thread -DCMAKE_CXX_FLAGS=-fsanitize=thread \
  -DCMAKE_EXE_LINKER_FLAGS=-fsanitize=thread > "$out/tsan.configure.log"
cmake --build "$out/tsan" -j "$jobs" --target orveln1_tests orveln
TSAN_OPTIONS=halt_on_error=1 "$out/tsan/tests/orveln1_tests" --gtest_filter='memory_api*:*/gif_round_trip.*:*/tif_round_trip.*'
TSAN_OPTIONS=halt_on_error=1 "$out/tsan/tools/orveln" demo "$out/tsan/demo" --size 512 --threads 4
# --- end host side ---

# --- windows: orveln1.dll cross-built with MinGW-w64, its tables checked, the host run under Wine ---
stage "windows: cross-build, table check, host under Wine"
"$root/scripts/windows-test.sh" "$out/windows"
# --- end windows ---

# --- cross-windows: GoogleTest-only unit tests for i686 and x86_64 MinGW-w64, run under Wine ---
stage "cross-windows: unit tests cross-built with MinGW-w64, run under Wine"
"$root/scripts/cross-test.sh" "$out/cross" windows
# --- end cross-windows ---

# --- cross-bigendian: GoogleTest-only unit tests for s390x, run under qemu-user ---
stage "cross-bigendian: unit tests cross-built for s390x, run under qemu-user"
"$root/scripts/cross-test.sh" "$out/cross" bigendian
# --- end cross-bigendian ---

stage "all stages passed"
