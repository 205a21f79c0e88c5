#!/usr/bin/env bash
# Installs what the build, the tests, the tool and the benchmarks need on a fresh Debian machine.
# Idempotent: packages already present are left alone. Runs apt-get as root (or through sudo).
set -euo pipefail

packages=(
  cmake ninja-build g++ clang clang-format llvm libclang-rt-14-dev pkg-config
  libgtest-dev libgmock-dev libbenchmark-dev
  libgif-dev libtiff-dev libstb-dev giflib-tools libtiff-tools python3-pil
  g++-mingw-w64-i686 binutils-mingw-w64-i686 g++-mingw-w64-x86-64 binutils-mingw-w64-x86-64
  nlohmann-json3-dev
)
wine_packages=(wine wine32:i386 wine64)
# --- bigendian: s390x cross compiler and qemu-user for scripts/cross-test.sh (profiles test, all) ---
packages+=(g++-s390x-linux-gnu qemu-user)
# --- end bigendian ---

as_root() { if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi; }

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
need_wine=0
for p in "${wine_packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || need_wine=1
done

if [ "${#missing[@]}" -gt 0 ] || [ "$need_wine" -eq 1 ]; then
  export DEBIAN_FRONTEND=noninteractive
  if [ "$need_wine" -eq 1 ] && ! dpkg --print-foreign-architectures | grep -qx i386; then
    as_root dpkg --add-architecture i386
  fi
  as_root apt-get update -qq
  if [ "${#missing[@]}" -gt 0 ]; then
    as_root apt-get install -y -qq --no-install-recommends "${missing[@]}"
  fi
  if [ "$need_wine" -eq 1 ]; then
    as_root apt-get install -y -qq --no-install-recommends "${wine_packages[@]}"
  fi
fi
echo "install-deps: all packages present"
