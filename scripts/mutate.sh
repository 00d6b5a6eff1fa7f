#!/usr/bin/env bash
# Mutation testing of the Linux build: a fixed, seeded sample of small faults
# put into the code, each built and run against the tests; prints the score
# and the mutants that no test caught. Not part of scripts/test.sh.
#   scripts/mutate.sh [--seed N] [--count N] [--list]
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh linux
exec python3 tools/mutate.py "$@"
