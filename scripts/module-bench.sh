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
#   (build/module-bench); ORVELN1_MODULE_BENCH_ROUNDS (7), ORVELN1_MODULE_BENCH_MIN_TIME (0.1 s a
#   round), ORVELN1_MODULE_BENCH_SIDE (768 pixels); ORVELN1_WINE_TIMEOUT: seconds per Wine step (600)
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
rounds=${ORVELN1_MODULE_BENCH_ROUNDS:-7}
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

# label, arch (i686 or x86_64), Wine loader, WINEARCH: the host beside its DLL, as LoadLibrary finds it.
run_dll() {
  local label=$1 arch=$2 loader=$3 winearch=$4
  build_one "$label" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mingw-$arch.cmake"
  wine_new_prefix "module-bench-$label" "$loader" "$winearch" "$limit" "$build/$label.wineboot.log"
  echo "module-bench: timing the $arch orveln1.dll under Wine"
  (cd "$build/$label/bin" && WINEPREFIX="$WINE_PREFIX" timeout "$limit" "$loader" orveln1_module_bench.exe orveln1.dll \
    "${host_args[@]}") | tr -d '\r' > "$raw/$label.txt"
}

results=()
run_dll dll32 i686 wine win32
results+=("dll32=$raw/dll32.txt")
dll64_note=""
if command -v x86_64-w64-mingw32-g++-win32 > /dev/null && wine_can_run /usr/lib/wine/wine64; then
  run_dll dll64 x86_64 /usr/lib/wine/wine64 win64
  results+=("dll64=$raw/dll64.txt")
else
  dll64_note=" The 64-bit DLL was not timed: no x86_64 MinGW-w64 toolchain or wine64."
fi
build_one so -DCMAKE_C_COMPILER=gcc -DCMAKE_CXX_COMPILER=g++
echo "module-bench: timing liborveln1.so"
"$build/so/bench/orveln1_module_bench" "$build/so/src/liborveln1.so" "${host_args[@]}" > "$raw/so.txt"
results+=("so=$raw/so.txt")

cpu=$(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -n 1)
note="One run on $(date -u +%Y-%m-%d) of \`scripts/module-bench.sh\` at $(git -C "$root" rev-parse --short HEAD 2> /dev/null || echo '?')$(git -C "$root" diff --quiet HEAD 2> /dev/null || echo ' with local changes'):"
note+=" ${cpu:-an unnamed CPU}, $(nproc) cores, the DLLs under $(wine --version);"
note+=" $side x $side images, fastest of $rounds rounds of at least $min_time s per operation;"
note+=" g++ $(g++ -dumpfullversion) for the Linux module, MinGW-w64 g++ $(i686-w64-mingw32-g++-win32 -dumpfullversion) for the DLLs, all Release (-O3).$dll64_note"
/usr/bin/python3 "$root/bench/module_report.py" "$out/module_table.md" "$note" "${results[@]}"
cat "$out/module_table.md"
echo "module-bench: wrote $out/module_table.md"
