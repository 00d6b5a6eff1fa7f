#!/usr/bin/env bash
# Builds the Windows program and runs its tests under Wine, in a Wine prefix
# inside the build folder, with one wineserver for the whole run, under Xvfb.
#
# The tests run as the shipped 32-bit programs (preset win32) wherever this
# machine runs 32-bit code, and so 32-bit Wine. Where it cannot, they run as
# the same sources built for 64-bit Windows (preset win64-test) under wine64.
# QV_FORCE_WIN64=1 takes the 64-bit way on any machine, so that both can be
# run on one. The shipped 32-bit program is built and checked by
# scripts/build-win32.sh either way.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh win32
scripts/build-win32.sh

if [ "${QV_FORCE_WIN64:-0}" = 1 ]; then
  preset=win64-test
  why="QV_FORCE_WIN64=1 asks for the 64-bit build"
elif version=$(/usr/lib/wine/wine --version 2>/dev/null); then
  preset=win32
  why="this machine runs 32-bit code ($version starts)"
else
  preset=win64-test
  why="this machine cannot run 32-bit code (/usr/lib/wine/wine does not start)"
fi
echo "test-win32: testing the $preset build under Wine: $why"

cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset" -j2

export WINEPREFIX="$PWD/build/$preset/wine"
export WINEDEBUG=-all
cleanup() { wineserver -k >/dev/null 2>&1 || true; }
trap cleanup EXIT

# Every test program writes its results here (Wine shows "/" as drive Z:),
# so that a test that skipped instead of running is noticed below.
results="$PWD/build/$preset/test-results"
rm -rf "$results"
mkdir -p "$results"
export GTEST_OUTPUT="xml:Z:${results//\//\\}\\"

# scripts/wine-run.sh creates the prefix and starts the persistent server on
# its first call; later programs of the run reuse both.
xvfb-run -a ctest --preset "$preset" -j2

python3 - "$results" "$preset" <<'PY'
import pathlib, sys
import xml.etree.ElementTree as ET
results, preset = pathlib.Path(sys.argv[1]), sys.argv[2]
programs = sorted(results.glob("*.xml"))
total = skipped = 0
for path in programs:
    suite = ET.parse(path).getroot()
    total += int(suite.get("tests", 0)) - int(suite.get("disabled", 0))
    for case in suite.iter("testcase"):
        if case.find("skipped") is not None or case.get("result") == "skipped":
            skipped += 1
            print(f"test-win32: {path.stem}: {case.get('classname')}.{case.get('name')} skipped")
print(f"test-win32: {preset}: {total} test cases in {len(programs)} programs, {skipped} skipped")
sys.exit(1 if skipped or not programs else 0)
PY
