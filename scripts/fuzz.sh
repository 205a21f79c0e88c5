#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds the libFuzzer targets with clang and runs each for a bounded time from its seeds; any
# finding (crash, sanitizer report, leak, time-out) fails the script and is copied into
# tests/data/crashers/<target>/, where CTest replays it from then on (add its row to INDEX.md).
# Past findings join the seeds of every run.
# Usage: scripts/fuzz.sh BUILD_DIR [SECONDS_PER_TARGET]
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
out=$1
seconds=${2:-60}

cmake -S "$root" -B "$out" -G Ninja -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
  -DORVELN1_LIBFUZZER=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo > "$out.configure.log"
targets=$(cd fuzz && ls *_fuzzer.cpp 2>/dev/null | sed 's/\.cpp$//' || true)
[ -n "$targets" ] || { echo "no fuzz targets"; exit 0; }
cmake --build "$out" -j "$(nproc)" --target $targets

# One target: its seeds, then libFuzzer for the time given. The targets run side by side, one to a
# core, each on its own.
fuzz_one() { # target
  local t=$1 work="$out/run/$1"
  rm -rf "$work"
  mkdir -p "$work/corpus" "$work/findings"
  [ -d "fuzz/seeds/$t" ] && cp -r "fuzz/seeds/$t/." "$work/corpus/"
  [ -d "tests/data/crashers/$t" ] && cp -r "tests/data/crashers/$t/." "$work/corpus/"
  # A target may name more seeds (real files from the shared corpus) in fuzz/seeds/$t.list.
  if [ -f "fuzz/seeds/$t.list" ]; then
    while read -r pattern; do
      [ -n "$pattern" ] || continue
      for f in $root/$pattern; do [ -f "$f" ] && cp "$f" "$work/corpus/"; done
    done < "fuzz/seeds/$t.list"
  fi
  echo "fuzzing $t for ${seconds}s"
  ASAN_OPTIONS=detect_leaks=1 "$out/fuzz/$t" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
    -artifact_prefix="$work/findings/" -print_final_stats=1 "$work/corpus" > "$work/log" 2>&1 || {
    tail -n 60 "$work/log"
    mkdir -p "tests/data/crashers/$t"
    cp "$work/findings/"* "tests/data/crashers/$t/" 2> /dev/null || true
    echo "fuzz target $t found a fault; inputs in $work/findings, copied to tests/data/crashers/$t/" \
      "(describe each in tests/data/crashers/INDEX.md)"
    return 1
  }
  grep -E 'stat::number_of_executed_units|stat::peak_rss' "$work/log" | sed "s/^/$t: /"
}

failed=()
pids=()
names=()
for t in $targets; do
  while [ "$(jobs -rp | wc -l)" -ge "$(nproc)" ]; do wait -n || true; done
  fuzz_one "$t" &
  pids+=("$!")
  names+=("$t")
done
for k in "${!pids[@]}"; do
  wait "${pids[$k]}" || failed+=("${names[$k]}")
done
if [ "${#failed[@]}" -gt 0 ]; then
  echo "fuzz: faults found by ${failed[*]}" >&2
  exit 1
fi
