#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Builds the library (Release, after the `build` profile's packages), installs it into a scratch
# prefix, then builds the two examples against that prefix as the standalone projects they are and
# runs them: examples/cpp_app writes a GIF, examples/c_host decodes its own GIF and that one.
# Usage: scripts/examples.sh [BUILD_DIR]   (default build/examples)
set -euo pipefail
out=$(realpath -m -- "${1:-build/examples}")
cd "$(dirname "$0")/.."
root=$PWD

"$root/scripts/install-deps.sh" build
cmake -S "$root" -B "$out/library" -G Ninja -DCMAKE_BUILD_TYPE=Release -DORVELN1_TESTS=OFF -DORVELN1_FUZZ=OFF \
  -DORVELN1_TOOLS=OFF -DORVELN1_BENCH=OFF > /dev/null
cmake --build "$out/library" -j "$(nproc)"
cmake --install "$out/library" --prefix "$out/prefix" > /dev/null
for example in c_host cpp_app; do
  cmake -S "$root/examples/$example" -B "$out/$example" -G Ninja -DCMAKE_PREFIX_PATH="$out/prefix" > /dev/null
  cmake --build "$out/$example"
done
"$out/cpp_app/cpp_app" "$out/example.gif"
"$out/c_host/c_host"
"$out/c_host/c_host" "$out/example.gif"
