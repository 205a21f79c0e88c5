#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Checks that every source file of the repository carries the licence line
# "SPDX-License-Identifier: MIT" in its own comment syntax as its first line (its second after a
# "#!" line). Sources are the C and C++ files, the CMake files (CMakeLists.txt, *.cmake and their
# .in templates, the .pc templates) and the shell and Python scripts, extensionless ones with a
# "#!" line included.
# Usage: scripts/check-spdx.sh [--fix]   (--fix inserts the line where it is missing)
set -euo pipefail
cd "$(dirname "$0")/.."

fix=0
case "${1:-}" in
--fix) fix=1 ;;
"") ;;
*)
  echo "usage: scripts/check-spdx.sh [--fix]" >&2
  exit 2
  ;;
esac

tag="SPDX-License-Identifier: MIT"

# The licence line in the comment syntax of a file, or nothing for a file that is not a source.
line_for() {
  case "$1" in
  *.c | *.h) echo "/* $tag */" ;;
  *.cpp | *.hpp) echo "// $tag" ;;
  CMakeLists.txt | */CMakeLists.txt | *.cmake | *.cmake.in | *.pc.in | *.sh | *.py) echo "# $tag" ;;
  *)
    if [ -f "$1" ] && head -c 2 "$1" | grep -q '^#!'; then echo "# $tag"; fi
    ;;
  esac
}

missing=0
checked=0
while IFS= read -r -d '' file; do
  [ -f "$file" ] || continue
  expected=$(line_for "$file")
  [ -n "$expected" ] || continue
  checked=$((checked + 1))
  at=1
  head -c 2 "$file" | grep -q '^#!' && at=2
  [ "$(sed -n "${at}p" "$file")" = "$expected" ] && continue
  if [ "$fix" -eq 1 ]; then
    if [ "$at" -eq 1 ]; then
      { printf '%s\n' "$expected"; cat "$file"; } > "$file.spdx-tmp"
    else
      { head -n 1 "$file"; printf '%s\n' "$expected"; tail -n +2 "$file"; } > "$file.spdx-tmp"
    fi
    chmod --reference="$file" "$file.spdx-tmp"
    mv "$file.spdx-tmp" "$file"
    echo "check-spdx: added to $file"
  else
    echo "check-spdx: $file: line $at is not \"$expected\"" >&2
    missing=$((missing + 1))
  fi
done < <(git ls-files -z --cached --others --exclude-standard)

if [ "$missing" -ne 0 ]; then
  echo "check-spdx: $missing of $checked sources lack the licence line (scripts/check-spdx.sh --fix adds it)" >&2
  exit 1
fi
echo "check-spdx: $checked sources carry the licence line"
