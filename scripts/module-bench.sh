#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Times the shipped module the way a plug-in host loads it: cross-builds the 32-bit and the 64-bit
# orveln1.dll with MinGW-w64 (cmake/toolchain-mingw-*.cmake) and builds liborveln1.so (Release,
# g++), each with the timing host bench/module_bench.cpp, which calls nothing but the six exports;
# runs the host against the three (the DLLs under Wine, in throw-away prefixes) on the synthetic
# image set, every output checked before it is timed; and writes module_table.md (MB/s per image
# and module, geometric means, each DLL's ratio to the Linux module) and the raw results into
# build/bench-results (--publish: bench/results instead). The 32-bit DLL needs a kernel that starts
# 32-bit x86 programs; without one the script says so and fails (scripts/bench.sh skips it then).
# The 64-bit DLL is left out, and the table says so, where wine64 or its toolchain is missing.
#   ORVELN1_BENCH_OUT: another results folder; ORVELN1_MODULE_BENCH_BUILD: the build folder
#   (build/module-bench); ORVELN1_MODULE_BENCH_PASSES (5: the modules take turns), _ROUNDS (3 a
#   pass), _MIN_TIME (0.1 s a round and figure), _SIDE (768 pixels); ORVELN1_WINE_TIMEOUT: seconds
#   per Wine step (600)
# Usage: scripts/module-bench.sh [--publish]
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
publish=0
for arg in "$@"; do
  case "$arg" in
  --publish) publish=1 ;;
  *)
    echo "usage: scripts/module-bench.sh [--publish]" >&2
    exit 2
    ;;
  esac
done
if [ "$publish" -eq 1 ]; then
  out=$root/bench/results
else
  out=${ORVELN1_BENCH_OUT:-$root/build/bench-results}
fi
build=${ORVELN1_MODULE_BENCH_BUILD:-$root/build/module-bench}
passes=${ORVELN1_MODULE_BENCH_PASSES:-5}
rounds=${ORVELN1_MODULE_BENCH_ROUNDS:-3}
min_time=${ORVELN1_MODULE_BENCH_MIN_TIME:-0.1}
side=${ORVELN1_MODULE_BENCH_SIDE:-768}
limit=${ORVELN1_WINE_TIMEOUT:-600}
host_args=(--side "$side" --rounds "$rounds" --min-time "$min_time")

# The quiet Wine environment and the throw-away prefixes, removed on exit.
source "$root/scripts/lib/wine.sh"

"$root/scripts/install-deps.sh" build windows > /dev/null
if ! wine_can_run /usr/lib/wine/wine; then
  echo "module-bench: this machine cannot execute the 32-bit Wine loader (a kernel without 32-bit x86 support), so the 32-bit DLL cannot be timed" >&2
  exit 1
fi
mkdir -p "$out" "$build"
raw=$out/module_bench
mkdir -p "$raw"

# name, then cmake arguments; builds the module and the host only.
build_one() {
  local name=$1
  shift
  echo "module-bench: building $name"
  cmake -S "$root" -B "$build/$name" -G Ninja -DCMAKE_BUILD_TYPE=Release -DORVELN1_TESTS=OFF -DORVELN1_TOOLS=OFF \
    -DORVELN1_FUZZ=OFF -DORVELN1_INSTALL=OFF -DORVELN1_MODULE_BENCH=ON "$@" > "$build/$name.configure.log"
  cmake --build "$build/$name" -j 2 --target orveln1 orveln1_module_bench > "$build/$name.build.log" ||
    { tail -n 40 "$build/$name.build.log"; return 1; }
}

# Everything is built, and the prefixes booted, before anything is timed; then the modules take
# turns, one pass of rounds each, so that a neighbour's burst of work on a shared machine falls on
# one pass of one module rather than on all of a module's figures. Each figure is the fastest of all
# its passes and rounds.
labels=(dll32)
build_one dll32 -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mingw-i686.cmake"
wine_new_prefix module-bench-dll32 wine win32 "$limit" "$build/dll32.wineboot.log"
prefix32=$WINE_PREFIX
dll64_note=""
if command -v x86_64-w64-mingw32-g++-win32 > /dev/null && wine_can_run /usr/lib/wine/wine64; then
  labels+=(dll64)
  build_one dll64 -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mingw-x86_64.cmake"
  wine_new_prefix module-bench-dll64 /usr/lib/wine/wine64 win64 "$limit" "$build/dll64.wineboot.log"
  prefix64=$WINE_PREFIX
else
  dll64_note=" The 64-bit DLL was not timed: no x86_64 MinGW-w64 toolchain or wine64."
fi
labels+=(so)
build_one so -DCMAKE_C_COMPILER=gcc -DCMAKE_CXX_COMPILER=g++

# label, pass: one pass of the host against that module; the host sits beside its DLL, where
# LoadLibrary finds it.
time_module() {
  local label=$1 pass=$2 log="$raw/$1.$2.txt"
  case "$label" in
  dll32)
    (cd "$build/dll32/bin" && WINEPREFIX="$prefix32" timeout "$limit" wine orveln1_module_bench.exe orveln1.dll \
      "${host_args[@]}") | tr -d '\r' > "$log" || true
    ;;
  dll64)
    (cd "$build/dll64/bin" && WINEPREFIX="$prefix64" timeout "$limit" /usr/lib/wine/wine64 orveln1_module_bench.exe \
      orveln1.dll "${host_args[@]}") | tr -d '\r' > "$log" || true
    ;;
  so) timeout "$limit" "$build/so/bench/orveln1_module_bench" "$build/so/src/liborveln1.so" "${host_args[@]}" > "$log" || true ;;
  esac
  # The host prints its figures only once every check has passed.
  grep -q '^gif_decode ' "$log" || { cat "$log"; echo "module-bench: the host failed against $label" >&2; return 1; }
}
rm -f "$raw"/*.txt
results=()
for pass in $(seq 1 "$passes"); do
  echo "module-bench: pass $pass of $passes: ${labels[*]}"
  for label in "${labels[@]}"; do
    time_module "$label" "$pass"
    results+=("$label=$raw/$label.$pass.txt")
  done
done

cpu=$(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -n 1)
note="One run on $(date -u +%Y-%m-%d) of \`scripts/module-bench.sh\` at $(git -C "$root" rev-parse --short HEAD 2> /dev/null || echo '?')$(git -C "$root" diff --quiet HEAD -- . ':!bench/results' 2> /dev/null || echo ' with local changes'):"
note+=" ${cpu:-an unnamed CPU}, $(nproc) cores, the DLLs under $(wine --version);"
note+=" $side x $side images, fastest of $passes passes (the modules taking turns) of $rounds rounds of at least $min_time s per operation;"
note+=" g++ $(g++ -dumpfullversion) for the Linux module, MinGW-w64 g++ $(i686-w64-mingw32-g++-win32 -dumpfullversion) for the DLLs, all Release (-O3).$dll64_note"
/usr/bin/python3 "$root/bench/module_report.py" "$out/module_table.md" "$note" "${results[@]}"
cat "$out/module_table.md"
echo "module-bench: wrote $out/module_table.md"
