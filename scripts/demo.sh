#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# The main job on a fresh machine: installs what the library and the tool need (the `build`
# profile), builds the orveln tool (Release), and runs `orveln demo` into a folder: the first
# argument, relative to the folder the script is called from (default ./orveln-demo).
set -euo pipefail
dir=$(realpath -m -- "${1:-orveln-demo}")
cd "$(dirname "$0")/.."
root=$PWD

"$root/scripts/install-deps.sh" build
cmake -S "$root" -B "$root/build/release" -G Ninja -DCMAKE_BUILD_TYPE=Release -DORVELN1_TESTS=OFF \
  -DORVELN1_FUZZ=OFF -DORVELN1_BENCH=OFF -DORVELN1_TOOLS=ON > /dev/null
cmake --build "$root/build/release" --target orveln -j "$(nproc)"
"$root/build/release/tools/orveln" demo "$dir"
