#!/usr/bin/env bash
# Builds the optimised preset and runs the catalog merge benchmark, then
# prints how a merge compares with reading and writing the script once.
# Usage: scripts/bench-merge.sh [build folder]   (default build/release)
set -euo pipefail
cd "$(dirname "$0")/.."
build="${1:-build/release}"

cmake --preset release -B "$build" >/dev/null
cmake --build "$build" --target merge_bench -j2

# Once on the temporary folder's disk, where pushing the new script to the
# disk costs real time, and once on a tmpfs, where only the merge's own work
# counts.
run() {
  local where="$1" json="$build/merge_bench-$2.json"
  QV_BENCH_DIR="$where" "$build/bin/merge_bench" --benchmark_repetitions=5 \
    --benchmark_report_aggregates_only=true \
    --benchmark_out="$json" --benchmark_out_format=json >&2
  python3 - "$json" "$where" <<'PY'
import json, sys
runs = json.load(open(sys.argv[1]))["benchmarks"]
def median(name):
    for run in runs:
        if run["name"] == name + "_median":
            return run
    raise SystemExit(f"no result for {name}")
merge, floor = median("BM_InstallFile"), median("BM_ReadWriteOnce")
print(f"\n== on {sys.argv[2]}")
print(f"merge of 400 colliding stair lines into 30,000 lines: {merge['real_time']:7.2f} ms "
      f"(cpu {merge['cpu_time']:.2f} ms)")
print(f"reading and writing the script once:                 {floor['real_time']:7.2f} ms "
      f"(cpu {floor['cpu_time']:.2f} ms)")
lines = median("BM_ReadWriteLinesOnce")
print(f"the same line by line:                               {lines['real_time']:7.2f} ms "
      f"(cpu {lines['cpu_time']:.2f} ms)")
print(f"ratio to the block copy:   {merge['real_time'] / floor['real_time']:5.2f}x wall clock, "
      f"{merge['cpu_time'] / floor['cpu_time']:5.2f}x cpu (goal: at most 3x)")
print(f"ratio to the line copy:    {merge['real_time'] / lines['real_time']:5.2f}x wall clock, "
      f"{merge['cpu_time'] / lines['cpu_time']:5.2f}x cpu")
for n in (25, 50, 100):
    run = median(f"BM_ReadmesInARow/{n}")
    print(f"{n:3d} read-mes in a row: {run['real_time']:8.1f} ms wall, "
          f"{run['real_time'] / n:6.2f} ms per merge, "
          f"{run['ns_per_line']:.1f} cpu ns per line read or written")
PY
}
summary=$(run "${TMPDIR:-/tmp}" disk)
if [ -d /dev/shm ]; then summary+=$(run /dev/shm tmpfs); fi
echo "$summary"
