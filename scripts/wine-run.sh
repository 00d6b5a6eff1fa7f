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
# The loader for the program's machine type (PE header: 0x14c i386, 0x8664
# x86-64). Debian's "wine" script always picks the 32-bit loader when it is
# installed, so a 64-bit program goes to the 64-bit loader directly.
pe_machine() {
  local offset
  offset=$(od -An -tu4 -j60 -N4 "$1" | tr -d ' ')
  od -An -tx2 -j$((offset + 4)) -N2 "$1" | tr -d ' '
}
if [ "$(pe_machine "$program")" = 8664 ]; then
  loader=/usr/lib/wine/wine64
  export WINEARCH=win64
else
  loader=wine
  export WINEARCH=win32
fi
export WINEDEBUG=${WINEDEBUG:--all}
# No Mono or Gecko: nothing here needs them, and their installers would ask.
# No menu entries or file associations written into the user's desktop.
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml,winemenubuilder.exe=}
# Wine links the prefix's Documents, Desktop... to the home folder when it
# creates the prefix, and the tests write into Documents: the programs get a
# home of their own beside the prefix, never the user's.
export HOME="$WINEPREFIX-home"
mkdir -p "$HOME"

# Create the prefix once, even when CTest starts several programs together.
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  mkdir -p "$(dirname "$WINEPREFIX")"
  (
    flock 9
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
      "$loader" wineboot --init >/dev/null 2>&1 9>&- || true
      wineserver -w
    fi
  ) 9>"$WINEPREFIX.lock"
fi
# A server that outlives each program (-p fails when one already runs).
# When this call started it, start Wine's background services too, with
# their output detached: otherwise they would be started by the program and
# keep its output pipes open after it ends (and a reader such as CTest waits).
# Under the lock, so that a program started meanwhile (CTest starts two at
# once) waits for the services instead of racing them, which costs it some
# twenty seconds of Wine waiting for the prefix to settle.
# The server and the services must not inherit the lock (9>&-): they outlive
# this call and would hold it for good.
(
  flock 9
  if wineserver -p </dev/null >/dev/null 2>&1 9>&-; then
    "$loader" wineboot </dev/null >/dev/null 2>&1 9>&- || true
  fi
) 9>"$WINEPREFIX.lock"

exec "$loader" "$program" "$@"
