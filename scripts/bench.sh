#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Runs the benchmark suite on this machine: builds orveln1_bench (Release, g++), runs it (orveln1,
# giflib, libtiff, stb_image), times Pillow on the same images with Debian's Python, and writes
# table.md and chart.svg plus the raw JSON into build/bench-results (a scratch folder git ignores).
# With --publish the results replace the published ones in bench/results/ instead.
# ORVELN1_BENCH_OUT names another folder; ORVELN1_BENCH_MIN_TIME sets the seconds per benchmark
# (default 0.5); ORVELN1_BENCH_FILTER restricts the Google Benchmark run. The real pictures come
# from the corpus (ORVELN1_CORPUS_DIR); without it they are left out, and the run says so. Then,
# where Wine can start a 32-bit program, scripts/module-bench.sh times the shipped module itself
# (module_table.md in the same folder).
# Usage: scripts/bench.sh [--publish]
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
publish=0
for arg in "$@"; do
  case "$arg" in
  --publish) publish=1 ;;
  *)
    echo "usage: scripts/bench.sh [--publish]" >&2
    exit 2
    ;;
  esac
done
build=${ORVELN1_BENCH_BUILD:-$root/build/bench}
if [ "$publish" -eq 1 ]; then
  out=$root/bench/results
else
  out=${ORVELN1_BENCH_OUT:-$root/build/bench-results}
fi
min_time=${ORVELN1_BENCH_MIN_TIME:-0.5}
# Pillow is measured as Debian ships it (python3-pil), whatever python3 comes first on PATH.
python=/usr/bin/python3

"$root/scripts/install-deps.sh" bench
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_C_COMPILER=gcc \
  -DCMAKE_CXX_COMPILER=g++ -DORVELN1_TESTS=OFF -DORVELN1_FUZZ=OFF -DORVELN1_TOOLS=OFF -DORVELN1_BENCH=ON > /dev/null
cmake --build "$build" -j 2 --target orveln1_bench

mkdir -p "$out"
dump=$(mktemp -d)
trap 'rm -rf "$dump"' EXIT
ORVELN1_BENCH_DUMP=$dump ORVELN1_BENCH_MEMORY_OUT=$out/memory.json \
  "$build/bench/orveln1_bench" --benchmark_min_time="$min_time" \
  --benchmark_filter="${ORVELN1_BENCH_FILTER:-.}" \
  --benchmark_out="$out/orveln1_bench.json" --benchmark_out_format=json
"$python" "$root/bench/pillow_bench.py" "$dump" "$out/pillow.json" "$min_time"
"$python" "$root/bench/report.py" "$out"
echo "bench: wrote $out/table.md and $out/chart.svg"

# --- module: the shipped module through its six exports, 32-bit and 64-bit DLL beside the Linux
# module (scripts/module-bench.sh), where Wine can start the 32-bit DLL ---
if ! command -v wine > /dev/null; then
  echo "bench: module benchmark skipped: Wine is not installed (scripts/install-deps.sh windows, then scripts/module-bench.sh)"
elif ! /usr/lib/wine/wine --version > /dev/null 2>&1; then
  echo "bench: module benchmark skipped: this kernel cannot execute 32-bit x86 programs, so Wine cannot start the 32-bit DLL"
else
  module_args=()
  [ "$publish" -eq 1 ] && module_args+=(--publish)
  ORVELN1_BENCH_OUT=$out "$root/scripts/module-bench.sh" "${module_args[@]}"
fi
# --- end module ---
