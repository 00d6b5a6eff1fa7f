#!/usr/bin/env bash
# Extraction benchmark of the zip library. Builds the release preset, writes
# a 64 MiB archive of 256 mixed entries, extracts it with our library, with
# bsdtar, with 7z and with Python's zipfile, inflates the same entries in
# memory with zlib alone (the limit), and prints the median of several runs
# of each with its ratio to our library. Then the peak memory of our library
# on the 64 MiB archive and on a 512 MiB one.
#   scripts/bench-unzip.sh [runs]   QV_BENCH_BUILD_DIR overrides build/release
set -euo pipefail
cd "$(dirname "$0")/.."

runs="${1:-5}"
build="${QV_BENCH_BUILD_DIR:-build/release}"
cmake --preset release -B "$build" >/dev/null
cmake --build "$build" -j2 --target unzip32 make_bench_archive unzip32_bench_extract zlib_bench_inflate >/dev/null

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
bin="$build/bin"
"$bin/make_bench_archive" "$work/64.zip" 64
echo "archive: $(stat -c %s "$work/64.zip") bytes, 256 entries"

# Seconds of one command, with a fresh empty extraction folder that is not timed.
time_one() {
  rm -rf "$work/out"
  mkdir "$work/out"
  local start end
  start=$EPOCHREALTIME
  "$@" >/dev/null 2>&1
  end=$EPOCHREALTIME
  echo "$start $end" | awk '{ printf "%.4f\n", $2 - $1 }'
}

median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

declare -A result
measure() {
  local name="$1"
  shift
  if ! command -v "$1" >/dev/null 2>&1 && [[ ! -x "$1" ]]; then
    echo "skipped $name: $1 is not installed"
    return
  fi
  "$@" >/dev/null 2>&1 || { echo "$name failed" >&2; exit 1; }  # warm the page cache
  local times=()
  for ((i = 0; i < runs; i++)); do times+=("$(time_one "$@")"); done
  result[$name]="$(printf '%s\n' "${times[@]}" | median)"
}

zip="$work/64.zip"
out="$work/out"
measure "unzip32" "$bin/unzip32_bench_extract" "$zip" "$out"
measure "bsdtar -xf" bsdtar -xf "$zip" -C "$out"
measure "7z x" 7z x -y "-o$out" "$zip"
measure "python zipfile" python3 -c 'import sys, zipfile; zipfile.ZipFile(sys.argv[1]).extractall(sys.argv[2])' "$zip" "$out"
measure "zlib alone (in memory)" "$bin/zlib_bench_inflate" "$zip"

echo
printf '%-26s %10s %16s\n' "extraction, $runs runs" "median s" "ratio to unzip32"
for name in "unzip32" "bsdtar -xf" "7z x" "python zipfile" "zlib alone (in memory)"; do
  [[ -n "${result[$name]:-}" ]] || continue
  printf '%-26s %10s %16s\n' "$name" "${result[$name]}" \
    "$(awk -v a="${result[$name]}" -v b="${result[unzip32]}" 'BEGIN { printf "%.2f", a / b }')"
done

peak() {
  rm -rf "$out"
  mkdir "$out"
  /usr/bin/time -v "$bin/unzip32_bench_extract" "$1" "$out" 2>&1 >/dev/null |
    awk -F: '/Maximum resident set size/ { gsub(/ /, "", $2); print $2 }'
}
"$bin/make_bench_archive" "$work/512.zip" 512
echo
echo "512 MiB archive: $(stat -c %s "$work/512.zip") bytes"
small="$(peak "$work/64.zip")"
large="$(peak "$work/512.zip")"
echo "peak memory of unzip32: 64 MiB archive ${small} KiB, 512 MiB archive ${large} KiB," \
  "difference $((large - small)) KiB (goal: within 1024 KiB)"
