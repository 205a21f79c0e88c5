#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The whole test suite on a fresh machine: installs what is needed, builds from scratch with g++
# and clang, runs every test plainly and under AddressSanitizer + UndefinedBehaviorSanitizer, fuzzes,
# runs ThreadSanitizer and the Windows stage. Every stage runs even when an earlier one failed; the
# summary at the end lists each stage as passed, failed or skipped, with the corpus line, and the
# script fails when any stage failed (a sanitizer report included).
set -uo pipefail
cd "$(dirname "$0")/.."
root=$PWD
out=${ORVELN1_BUILD_ROOT:-$root/build/ci}
jobs=$(nproc)
# Some kernels cannot start 32-bit x86 programs at all, and so no 32-bit Wine: the Windows stages
# then build the 32-bit module and its tests, check its tables, and list the 32-bit runs as skipped
# in the summary. ORVELN1_CROSS_SKIP_UNRUNNABLE=0 makes that a failure instead.
export ORVELN1_CROSS_SKIP_UNRUNNABLE=${ORVELN1_CROSS_SKIP_UNRUNNABLE:-1}

stage_names=()
stage_results=()
record() { # stage, result (passed, failed or skipped, with any detail)
  stage_names+=("$1")
  stage_results+=("$2")
}
banner() { printf '\n=== %s ===\n' "$*"; }

# Runs one stage: its commands stop at the first failure, the script goes on with the next stage.
# (Never call it as the condition of an if or of && / ||: bash would then ignore set -e inside.)
run_stage() { # stage, command...
  local name=$1
  shift
  banner "$name"
  (
    set -e
    "$@"
  )
  local status=$?
  if [ "$status" -eq 0 ]; then record "$name" passed; else record "$name" "failed (exit $status)"; fi
  return "$status"
}

configure_and_build() { # name, then extra cmake arguments
  local name=$1
  shift
  cmake -S "$root" -B "$out/$name" -G Ninja "$@" > "$out/$name.configure.log" ||
    { cat "$out/$name.configure.log"; return 1; }
  cmake --build "$out/$name" -j "$jobs"
}

run_ctest() { # name
  ctest --test-dir "$out/$1" --output-on-failure -j "$jobs" --timeout 600 | tee "$out/$1.ctest.log"
}

build_and_test() { # name, then extra cmake arguments
  local name=$1
  shift
  run_stage "$name build" configure_and_build "$name" "$@"
  if [ "$?" -eq 0 ]; then
    run_stage "$name tests" run_ctest "$name"
    local skipped
    skipped=$(grep -c '(Skipped)' "$out/$name.ctest.log" 2>/dev/null)
    if [ "${skipped:-0}" -gt 0 ]; then
      stage_results[-1]="${stage_results[-1]}, $skipped skipped"
    fi
  else
    record "$name tests" "skipped (build failed)"
  fi
}

run_stage "deps: scripts/install-deps.sh all" "$root/scripts/install-deps.sh" all
rm -rf "$out"
mkdir -p "$out"

format_checks() {
  "$root/scripts/check-format.sh"
  "$root/scripts/check-spdx.sh"
}
run_stage "format: .clang-format and SPDX lines" format_checks

# The benchmark's check (every benchmark once on small images) runs with the plain builds' tests.
# Every build of the suite checks the codecs' internal bounds (ORVELN1_ASSERTIONS; the sanitizer and
# fuzz builds have them on by default).
build_and_test gcc -DCMAKE_C_COMPILER=gcc -DCMAKE_CXX_COMPILER=g++ -DORVELN1_BENCH=ON -DORVELN1_ASSERTIONS=ON
build_and_test clang -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DORVELN1_BENCH=ON -DORVELN1_ASSERTIONS=ON
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
build_and_test sanitize -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DORVELN1_SANITIZE=ON \
  -DORVELN1_BENCH=ON -DCMAKE_BUILD_TYPE=Debug
unset ASAN_OPTIONS UBSAN_OPTIONS

run_stage "fuzz: each target for ${ORVELN1_FUZZ_SECONDS:-60}s" \
  "$root/scripts/fuzz.sh" "$out/fuzz" "${ORVELN1_FUZZ_SECONDS:-60}"

# Later stages are added below, one delimited block each.

# --- host side: ThreadSanitizer over the in-memory interface and the tool's threaded strips ---
tsan_stage() {
  cmake -S "$root" -B "$out/tsan" -G Ninja -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ \
    -DCMAKE_BUILD_TYPE=Debug -DCMAKE_C_FLAGS=-fsanitize=thread -DCMAKE_CXX_FLAGS=-fsanitize=thread \
    -DCMAKE_EXE_LINKER_FLAGS=-fsanitize=thread > "$out/tsan.configure.log"
  cmake --build "$out/tsan" -j "$jobs" --target orveln1_tests orveln
  TSAN_OPTIONS=halt_on_error=1 "$out/tsan/tests/orveln1_tests" \
    --gtest_filter='memory_api*:*/gif_round_trip.*:*/tif_round_trip.*'
  TSAN_OPTIONS=halt_on_error=1 "$out/tsan/tools/orveln" demo "$out/tsan/demo" --size 512 --threads 4
}
run_stage "tsan: in-memory interface from several threads, tool strips on all cores" tsan_stage
# --- end host side ---

# --- windows: orveln1.dll cross-built with MinGW-w64, its tables checked, the host run under Wine ---
run_stage "windows: cross-build, table check, host under Wine" "$root/scripts/windows-test.sh" "$out/windows"
# --- end windows ---

# --- cross: GoogleTest-only unit tests for MinGW-w64 under Wine, and for s390x under qemu-user ---
run_stage "cross-windows: unit tests cross-built with MinGW-w64, run under Wine" "$root/scripts/cross-test.sh" "$out/cross" windows
run_stage "cross-bigendian: unit tests cross-built for s390x, run under qemu-user" "$root/scripts/cross-test.sh" "$out/cross" bigendian
# --- end cross ---

# --- i686: the unit tests at the 32-bit module's floor under qemu-i386, on every machine ---
run_stage "cross-i686: unit tests cross-built for i686 Linux (pentiumpro), run under qemu-i386" \
  "$root/scripts/cross-test.sh" "$out/cross" i686
if [ "$?" -eq 0 ]; then qemu_i386=passed; else qemu_i386="failed (see cross-i686)"; fi
# Which 32-bit runs this machine made: qemu-i386 always; Wine's 32-bit loader (the module's host and
# the MinGW-w64 unit tests in the stages above) only where the kernel starts 32-bit programs.
if [ -x /usr/lib/wine/wine ] && /usr/lib/wine/wine --version > /dev/null 2>&1; then
  record "win32-runs" "qemu-i386 run, $qemu_i386; Wine32 run (orveln1.dll (i686) host and unit tests, see windows and cross-windows)"
else
  record "win32-runs" "qemu-i386 run, $qemu_i386; Wine32 skipped (this kernel cannot execute 32-bit x86 programs: orveln1.dll (i686) and its tests built, tables checked, not run)"
fi
# --- end i686 ---

# --- python: the package installed into a fresh venv as the README says, its suite run there ---
# The build stages above already run the suite against the build tree (CTest python_suite); this
# one checks the install path: a copy of what a clone holds, pip install --no-build-isolation into
# a venv over Debian's packages, then tifffile reading and writing LZW, and the suite again.
python_stage() {
  local work=$out/python
  rm -rf "$work"
  mkdir -p "$work/clone"
  cp -r "$root/include" "$root/src" "$root/python" "$work/clone/"
  rm -rf "$work/clone/python/build" "$work/clone/python/"*.egg-info
  /usr/bin/python3 -m venv --system-site-packages "$work/venv"
  ORVELN1_BUILD_JOBS=$jobs "$work/venv/bin/pip" install -q --no-build-isolation --no-index "$work/clone/python"
  (
    cd "$work"
    # Debian's tifffile alone refuses LZW; registered, it writes and reads it through orveln1.
    /usr/bin/python3 -c "import numpy, tifffile; tifffile.imwrite('refused.tif', numpy.zeros((8, 8), 'u1'), compression='lzw')" \
      2> refused.log && { echo "tifffile wrote LZW without orveln1" >&2; return 1; }
    grep -q imagecodecs refused.log
    "$work/venv/bin/python" -c "
import numpy, orveln1, tifffile
orveln1.tifffile.register()
a = numpy.arange(64 * 48 * 3, dtype='u1').reshape(64, 48, 3)
tifffile.imwrite('lzw.tif', a, compression='lzw', predictor=True, rowsperstrip=8)
assert (tifffile.imread('lzw.tif') == a).all()
print('python: orveln1', orveln1.__version__, 'reads and writes LZW through tifffile', tifffile.__version__)
"
    timeout 600 "$work/venv/bin/python" -m pytest -q -p no:cacheprovider -rs "$root/python/tests"
  )
}
run_stage "python: pip install into a venv, tifffile with LZW, the pytest suite" python_stage
# --- end python ---

# --- coverage: line and branch coverage of src/lzw, src/gif and src/tiff, under every pinned path ---
run_stage "coverage: the codecs' lines and branches, with floors" "$root/scripts/coverage.sh" "$out/coverage"
if [ -f "$out/coverage/summary.txt" ]; then
  stage_results[-1]="${stage_results[-1]}, $(grep -E '^(lines|branches):' "$out/coverage/summary.txt" | tr '\n' ' ')"
fi
# --- end coverage ---

banner "summary"
failed=0
for i in "${!stage_names[@]}"; do
  printf '  %-16s %s\n' "${stage_names[$i]%%:*}" "${stage_results[$i]}"
  case "${stage_results[$i]}" in failed*) failed=1 ;; esac
done
# The configure step's corpus line: where the corpus was looked for and what became of its checks.
corpus_line=$(sed -n 's/^-- \(corpus .* at .*\)$/\1/p' "$out/gcc.configure.log" 2>/dev/null | head -n 1)
echo "  ${corpus_line:-corpus: no line in the gcc configure log}"
if [ "$failed" -ne 0 ]; then
  echo "test.sh: FAILED"
  exit 1
fi
echo "test.sh: all stages passed"
