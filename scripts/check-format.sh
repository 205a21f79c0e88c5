#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Fails when a C or C++ source of the repository differs from what .clang-format makes of it.
set -euo pipefail
cd "$(dirname "$0")/.."
git ls-files -z '*.c' '*.h' '*.cpp' '*.hpp' | xargs -0 clang-format --dry-run --Werror
echo "check-format: every source is formatted"
