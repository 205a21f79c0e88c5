#!/usr/bin/env bash
# The main job on a fresh machine: installs what is needed, builds the orveln tool (Release), and runs
# `orveln demo` into a folder (first argument, default ./orveln-demo).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
dir=${1:-$root/orveln-demo}

"$root/scripts/install-deps.sh"
cmake -S "$root" -B "$root/build/release" -G Ninja -DCMAKE_BUILD_TYPE=Release -DORVELN1_TESTS=OFF > /dev/null
cmake --build "$root/build/release" --target orveln -j "$(nproc)"
"$root/build/release/tools/orveln" demo "$dir"
