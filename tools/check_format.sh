#!/usr/bin/env bash
# Fails when a tracked C or C++ file differs from what clang-format makes of it.
set -euo pipefail
cd "${1:-.}"
command -v clang-format >/dev/null || { echo "clang-format not installed"; exit 1; }
git ls-files '*.c' '*.cpp' '*.h' | xargs clang-format --dry-run --Werror
echo "format check: all files formatted"
