#!/usr/bin/env bash
# Cross-builds orveln1.dll and its Windows test host with MinGW-w64, checks the module's export and
# import tables, and runs the host under Wine: no display, a throw-away WINEPREFIX, a time limit.
# Usage: scripts/windows-test.sh [BUILD_DIR]   (ORVELN1_WINE_TIMEOUT: seconds per Wine step, 600)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
out=${1:-$root/build/windows}
limit=${ORVELN1_WINE_TIMEOUT:-600}
mkdir -p "$out"

echo "windows: cross-building for i686"
cmake -S "$root" -B "$out/i686" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mingw-i686.cmake" \
  -DCMAKE_BUILD_TYPE=Release > "$out/i686.configure.log"
cmake --build "$out/i686" -j "$(nproc)"

"$root/scripts/check-dll-tables.sh" "$out/i686/bin/orveln1.dll" i686-w64-mingw32-objdump

# A fresh 32-bit prefix for this run only, no display, no prompts to fetch Mono or Gecko.
prefix=$(mktemp -d "${TMPDIR:-/tmp}/orveln1-wine.XXXXXX")
cleanup() {
  WINEPREFIX="$prefix" wineserver -k 2>/dev/null || true
  rm -rf "$prefix"
}
trap cleanup EXIT
unset DISPLAY WAYLAND_DISPLAY
export WINEPREFIX="$prefix" WINEARCH=win32 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=d"

started=$(date +%s)
timeout "$limit" wineboot -i > "$out/wineboot.log" 2>&1 || {
  echo "windows: wineboot failed or timed out (see $out/wineboot.log)" >&2
  exit 1
}
timeout "$limit" wineserver -w || true
echo "windows: fresh Wine prefix ready in $(($(date +%s) - started))s"

started=$(date +%s)
set +e
timeout "$limit" wine "$out/i686/bin/orveln1_win_host.exe" 2>&1 | tee "$out/i686.host.log"
status=${PIPESTATUS[0]}
set -e
echo "windows: host ran in $(($(date +%s) - started))s, exit status $status"
# The summary must say that nothing failed and nothing was skipped (all six exports driven).
if [ "$status" -ne 0 ] || ! tail -n 1 "$out/i686.host.log" | tr -d '\r' | grep -Eq '^[0-9]+ passed, 0 failed$'; then
  echo "windows: the test host failed under Wine" >&2
  exit 1
fi
