#!/usr/bin/env bash
# Builds the Windows program and runs its tests under Wine, in a Wine prefix
# inside the build folder, with one wineserver for the whole run, under Xvfb.
#
# The tests run as 32-bit programs where the kernel can run 32-bit code. On a
# kernel without it (no 32-bit Wine can start there) they run as the same
# sources built for 64-bit Windows (preset win64-test); the shipped 32-bit
# program is still built and checked by scripts/build-win32.sh.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh win32
scripts/build-win32.sh

if /usr/lib/wine/wine --version >/dev/null 2>&1; then
  preset=win32
else
  echo "test-win32: this kernel cannot run 32-bit programs; testing the 64-bit build" >&2
  preset=win64-test
fi
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset" -j2

export WINEPREFIX="$PWD/build/$preset/wine"
export WINEDEBUG=-all
cleanup() { wineserver -k >/dev/null 2>&1 || true; }
trap cleanup EXIT
# scripts/wine-run.sh creates the prefix and starts the persistent server on
# its first call; later programs of the run reuse both.
xvfb-run -a ctest --preset "$preset" -j2
