# SPDX-License-Identifier: MIT
# Sourced by the scripts that run programs under Wine: a quiet environment with no display, a
# throw-away WINEPREFIX per run, and every prefix's wineserver stopped and folder removed on exit.
# It sets the EXIT trap, so a script that sources it sets none of its own.

unset DISPLAY WAYLAND_DISPLAY
# No prompts to fetch Mono or Gecko, no debug chatter.
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=d"

wine_prefixes=()
wine_cleanup() {
  local p
  for p in "${wine_prefixes[@]}"; do
    WINEPREFIX="$p" wineserver -k 2> /dev/null || true
    rm -rf "$p"
  done
}
trap wine_cleanup EXIT

# wine_can_run LOADER: whether this machine can start the Wine loader at all (the 32-bit one is a
# 32-bit x86 program, which some kernels cannot execute).
wine_can_run() {
  "$1" --version > /dev/null 2>&1
}

# wine_new_prefix NAME LOADER WINEARCH TIMEOUT LOG: a fresh prefix, booted and its wineserver idle,
# whose folder is left in WINE_PREFIX. Fails when wineboot fails or runs out of time (see LOG).
wine_new_prefix() {
  local name=$1 loader=$2 winearch=$3 limit=$4 log=$5 started
  WINE_PREFIX=$(mktemp -d "${TMPDIR:-/tmp}/orveln1-wine-${name//\//-}.XXXXXX")
  wine_prefixes+=("$WINE_PREFIX")
  started=$(date +%s)
  if ! WINEPREFIX="$WINE_PREFIX" WINEARCH="$winearch" timeout "$limit" "$loader" wineboot -i > "$log" 2>&1; then
    echo "$name: wineboot failed or timed out (see $log)" >&2
    return 1
  fi
  WINEPREFIX="$WINE_PREFIX" timeout "$limit" wineserver -w || true
  echo "$name: fresh $winearch prefix ready in $(($(date +%s) - started))s"
}
