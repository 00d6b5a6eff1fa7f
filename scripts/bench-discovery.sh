#!/usr/bin/env bash
# Builds the optimised preset and times prefix discovery (what the installer
# does first when no WINEPREFIX names the game's prefix) over a home crowded
# with a few hundred candidate folders and malformed files.
# Usage: scripts/bench-discovery.sh [build folder]   (default build/release)
set -euo pipefail
cd "$(dirname "$0")/.."
build="${1:-build/release}"

cmake --preset release -B "$build" >/dev/null
cmake --build "$build" --target discovery_bench -j2
"$build/bin/discovery_bench" --benchmark_repetitions=5 --benchmark_report_aggregates_only=true
