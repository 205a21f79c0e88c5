#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Checks a built orveln1.dll from its PE tables: exactly the six entry points, by plain name at
# their fixed ordinals, and imports from system DLLs only (no MinGW runtime DLL).
# Usage: scripts/check-dll-tables.sh DLL [OBJDUMP]
set -euo pipefail
dll=$1
objdump=${2:-i686-w64-mingw32-objdump}

expected="set_callbacks 2
decode_gif 3
decode_tif 4
encode_gif 5
encode_gifi 6
encode_tif 7"

dump=$("$objdump" -p "$dll")
fail=0
complain() { echo "check-dll-tables: $*" >&2; fail=1; }

base=$(sed -n 's/^Export Address Table -- Ordinal Base \([0-9]*\).*/\1/p' <<<"$dump")
[ -n "$base" ] || { echo "check-dll-tables: $dll has no export table" >&2; exit 1; }

# Every slot of the export address table, named or not: a stray ordinal-only export counts too.
slots=$(sed -n '/^Export Address Table -- Ordinal Base/,/^\[Ordinal\/Name Pointer\] Table/p' <<<"$dump" |
  grep -c 'Export RVA' || true)
# The name table lists each name with its unbiased ordinal.
names=$(sed -n '/^\[Ordinal\/Name Pointer\] Table/,/^$/p' <<<"$dump" |
  sed -n 's/^[[:space:]]*\[ *\([0-9]*\)\] \(.*\)$/\2 \1/p' |
  while read -r name index; do echo "$name $((index + base))"; done | sort)

[ "$slots" -eq 6 ] || complain "export address table has $slots entries, expected 6"
if [ "$names" != "$(sort <<<"$expected")" ]; then
  complain "exports differ from the fixed table:"
  diff <(sort <<<"$expected") <(echo "$names") >&2 || true
fi
if grep -Eq '(^_|@)' <<<"$names"; then
  complain "decorated export names: $(grep -E '(^_|@)' <<<"$names" | tr '\n' ' ')"
fi

# System DLLs only: the C++ runtime, libgcc and winpthreads must be linked in statically.
imports=$(sed -n 's/^[[:space:]]*DLL Name: //p' <<<"$dump")
for lib in $imports; do
  case "${lib,,}" in
  kernel32.dll | msvcrt.dll | user32.dll | advapi32.dll | ntdll.dll | ucrtbase.dll | api-ms-win-*.dll) ;;
  *) complain "imports a non-system DLL: $lib" ;;
  esac
done

if [ "$fail" -ne 0 ]; then
  exit 1
fi
echo "check-dll-tables: $(basename "$dll"): 6 exports at ordinals 2-7, imports: $(echo $imports)"
