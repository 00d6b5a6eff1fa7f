#!/usr/bin/env bash
# Builds everything and runs every test, on a fresh machine included:
# installs what is missing, configures the dev preset (AddressSanitizer and
# UndefinedBehaviorSanitizer) and runs CTest, fuzzes the zip library and the
# Wine hive reader, then builds the Windows program and runs its tests under
# Wine.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh linux win32
cmake --preset dev >/dev/null
cmake --build --preset dev
ctest --preset dev -j "$(nproc)"

# The fuzz targets, a short run each (QV_FUZZ_SECONDS, default 60).
scripts/fuzz.sh "${QV_FUZZ_SECONDS:-60}"

# The Windows program: cross-built, its tests run under Wine.
scripts/test-win32.sh
