#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Cross-builds the unit tests that need only GoogleTest (tests/cross/CMakeLists.txt) for other
# targets and runs them under an emulator: 32- and 64-bit Windows under Wine (throw-away
# WINEPREFIX, no display, a time limit), big-endian s390x under qemu-user, and 32-bit x86 Linux at
# the 32-bit module's instruction-set floor under qemu-user (which, unlike Wine's 32-bit loader,
# runs on a kernel that cannot start 32-bit programs). Prints GoogleTest's summary per target; any
# failure, or a target that cannot be run, fails the script.
# Usage: scripts/cross-test.sh OUT_DIR [windows|bigendian|i686|all]
#   ORVELN1_CROSS_TIMEOUT: seconds per emulator step (900)
#   ORVELN1_I686_CPUS: the processors qemu-i386 presents to the i686 tests, one run each ("max
#   pentium2": every feature the emulator has, and one whose cpuid reports no SSE2)
#   ORVELN1_I686_FORCE_PATHS: the ORVELN1_FORCE_PATHS settings the i686 tests run under, one run
#   each on the first processor ("default plain": the variable unset, the paths the CPU picks; and
#   pinned to the plain paths)
#   ORVELN1_CROSS_SKIP_UNRUNNABLE=1: a target this machine cannot execute (a kernel without 32-bit
#   x86 support cannot start the 32-bit Wine loader) is reported and skipped instead of failing.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
usage='usage: scripts/cross-test.sh OUT_DIR [windows|bigendian|i686|all]'
out=${1:?$usage}
which=${2:-all}
limit=${ORVELN1_CROSS_TIMEOUT:-900}
mkdir -p "$out"
out=$(cd "$out" && pwd)

# The quiet Wine environment and the throw-away prefixes, removed on exit.
source "$root/scripts/lib/wine.sh"

failures=()
summary=()

# name, toolchain file
cross_build() {
  local name=$1 toolchain=$2 started
  started=$(date +%s)
  cmake -S "$root" -B "$out/$name" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/$toolchain" \
    -DCMAKE_BUILD_TYPE=Release -DORVELN1_ASSERTIONS=ON > "$out/$name.configure.log"
  cmake --build "$out/$name" -j "$(nproc)" --target orveln1_cross_tests > "$out/$name.build.log" || {
    tail -n 40 "$out/$name.build.log"
    return 1
  }
  echo "$name: built in $(($(date +%s) - started))s"
}

# name, log; then the command that runs the tests
run_tests() {
  local name=$1 log=$2 started status=0
  shift 2
  started=$(date +%s)
  timeout "$limit" "$@" > "$log" 2>&1 || status=$?
  tr -d '\r' < "$log" > "$log.txt"
  grep -E '^\[  FAILED  \]' "$log.txt" || true
  local ran passed
  ran=$(grep -E '^\[==========\] [0-9]+ tests? from .* ran\.' "$log.txt" | tail -n 1 || true)
  passed=$(grep -E '^\[  PASSED  \] [0-9]+ tests?\.' "$log.txt" | tail -n 1 || true)
  echo "$name: ${ran:-no GoogleTest summary} ${passed}"
  echo "$name: ran in $(($(date +%s) - started))s, exit status $status"
  if [ "$status" -ne 0 ] || [ -z "$passed" ] || grep -qE '^\[  FAILED  \]' "$log.txt"; then
    tail -n 30 "$log.txt"
    failures+=("$name")
    summary+=("$name: FAILED")
  else
    summary+=("$name: ${passed#\[  PASSED  \] }")
  fi
}

# arch (i686 or x86_64), Wine loader, WINEARCH
windows_target() {
  local arch=$1 loader=$2 winearch=$3 name="windows-$1"
  if ! cross_build "$name" "toolchain-mingw-$arch-tests.cmake"; then
    failures+=("$name (build)")
    summary+=("$name: BUILD FAILED")
    return
  fi
  # The 32-bit Wine loader is a 32-bit x86 program; some kernels cannot start those at all.
  if ! wine_can_run "$loader"; then
    echo "$name: built, but this machine cannot run $loader"
    if [ "${ORVELN1_CROSS_SKIP_UNRUNNABLE:-0}" = 1 ]; then
      summary+=("$name: NOT RUN (cannot execute $loader)")
    else
      failures+=("$name (cannot execute $loader)")
      summary+=("$name: NOT RUN (cannot execute $loader)")
    fi
    return
  fi
  if ! wine_new_prefix "$name" "$loader" "$winearch" "$limit" "$out/$name.wineboot.log"; then
    failures+=("$name (wineboot)")
    summary+=("$name: NOT RUN (wineboot failed)")
    return
  fi
  local prefix=$WINE_PREFIX
  WINEPREFIX="$prefix" run_tests "$name" "$out/$name.log" "$loader" "$out/$name/bin/orveln1_cross_tests.exe"
}

bigendian_target() {
  local name=bigendian-s390x exe
  if ! cross_build "$name" toolchain-s390x.cmake; then
    failures+=("$name (build)")
    summary+=("$name: BUILD FAILED")
    return
  fi
  exe="$out/$name/bin/orveln1_cross_tests"
  # The byte order the readers were compiled for is the target's: their big-endian branches.
  if ! readelf -h "$exe" | grep -q 'big endian'; then
    echo "$name: $exe is not a big-endian program" >&2
    failures+=("$name (not big-endian)")
    summary+=("$name: FAILED (not big-endian)")
    return
  fi
  run_tests "$name" "$out/$name.log" qemu-s390x -L /usr/s390x-linux-gnu "$exe"
}

# The i686 Linux build at the 32-bit module's floor (cmake/toolchain-i686-linux.cmake), always under
# qemu-i386, even where the kernel could start it natively: the run must mean the same on every
# machine. A processor without SSE2 lets the code's own feature checks pick the floor's paths; each
# forced setting makes every dispatched path run whatever the processor reports.
i686_target() {
  local name=i686-linux exe cpu setting cpus force
  read -r -a cpus <<< "${ORVELN1_I686_CPUS:-max pentium2}"
  read -r -a force <<< "${ORVELN1_I686_FORCE_PATHS:-default plain}"
  if ! cross_build "$name" toolchain-i686-linux.cmake; then
    failures+=("$name (build)")
    summary+=("$name: BUILD FAILED")
    return
  fi
  exe="$out/$name/bin/orveln1_cross_tests"
  if ! readelf -h "$exe" | grep -q 'Intel 80386'; then
    echo "$name: $exe is not a 32-bit x86 program" >&2
    failures+=("$name (not i386)")
    summary+=("$name: FAILED (not a 32-bit x86 program)")
    return
  fi
  for cpu in "${cpus[@]}"; do
    run_tests "$name-qemu[$cpu]" "$out/$name.$cpu.log" \
      env -u ORVELN1_FORCE_PATHS qemu-i386 -cpu "$cpu" -L /usr/i686-linux-gnu "$exe"
  done
  for setting in "${force[@]}"; do
    [ "$setting" = default ] && continue
    run_tests "$name-qemu[${cpus[0]},$setting]" "$out/$name.${cpus[0]}.$setting.log" \
      env ORVELN1_FORCE_PATHS="$setting" qemu-i386 -cpu "${cpus[0]}" -L /usr/i686-linux-gnu "$exe"
  done
}

case "$which" in
  windows | bigendian | i686 | all) ;;
  *)
    echo "$usage" >&2
    exit 2
    ;;
esac
if [ "$which" = windows ] || [ "$which" = all ]; then
  windows_target i686 wine win32
  windows_target x86_64 /usr/lib/wine/wine64 win64
fi
if [ "$which" = bigendian ] || [ "$which" = all ]; then
  bigendian_target
fi
if [ "$which" = i686 ] || [ "$which" = all ]; then
  i686_target
fi

printf '\ncross-test summary:\n'
printf '  %s\n' "${summary[@]}"
if [ "${#failures[@]}" -gt 0 ]; then
  echo "cross-test: failed: ${failures[*]}" >&2
  exit 1
fi
