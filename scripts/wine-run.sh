#!/usr/bin/env bash
# Runs a Windows program of the build under Wine: the CMake emulator of the
# win32 build. Usage: scripts/wine-run.sh program.exe [arguments...]
#
# The Wine prefix lives in the build folder (the first folder above the
# program that holds CMakeCache.txt, under "wine/"), unless WINEPREFIX is set.
# The first call creates it; a persistent wineserver keeps later starts cheap.
set -euo pipefail

program=$1
shift

if [ -z "${WINEPREFIX:-}" ]; then
  dir=$(cd "$(dirname "$program")" && pwd)
  while [ "$dir" != / ] && [ ! -f "$dir/CMakeCache.txt" ]; do dir=$(dirname "$dir"); done
  [ -f "$dir/CMakeCache.txt" ] || { echo "wine-run: no build folder above $program" >&2; exit 2; }
  export WINEPREFIX="$dir/wine"
fi
export WINEDEBUG=${WINEDEBUG:--all}
# No Mono or Gecko: nothing here needs them, and their installers would ask.
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
export WINEARCH=${WINEARCH:-win32}

# Create the prefix once, even when CTest starts several programs together.
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  mkdir -p "$(dirname "$WINEPREFIX")"
  (
    flock 9
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
      wineboot --init >/dev/null 2>&1 || true
      wineserver -w
    fi
  ) 9>"$WINEPREFIX.lock"
fi
# A server that outlives each program; a second -p is a no-op.
wineserver -p >/dev/null 2>&1 || true

exec wine "$program" "$@"
