#!/usr/bin/env bash
# Builds the libFuzzer targets of the zip library, the Wine hive reader and
# the catalog merge (clang, AddressSanitizer and UndefinedBehaviorSanitizer:
# the `fuzz` preset) and runs each for the given
# number of seconds (default 60), seeded with fuzz/corpus/<target>. A crash
# fails the script; its input is kept under <build>/crashes/<target>/ and
# belongs in fuzz/corpus/<target>/ once the fault is fixed, so the replay
# test runs it from then on.
#   scripts/fuzz.sh [seconds]        QV_FUZZ_BUILD_DIR overrides build/fuzz
set -euo pipefail
cd "$(dirname "$0")/.."

seconds="${1:-60}"
build="${QV_FUZZ_BUILD_DIR:-build/fuzz}"
targets=(unzip32_extract wine_hive catalog_merge)
# The hive reader reads files in 64 KiB blocks: its inputs must reach past one.
declare -A max_len=([wine_hive]=131072)

cmake --preset fuzz -B "$build" >/dev/null
cmake --build "$build" -j2 --target "${targets[@]/#/fuzz_}" "${targets[@]/#/fuzz_replay_}"

export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
status=0
for target in "${targets[@]}"; do
  # New inputs go to a scratch copy, so the committed corpus stays small.
  work="$(mktemp -d)"
  cp fuzz/corpus/"$target"/* "$work"/
  crashes="$build/crashes/$target"
  mkdir -p "$crashes"
  echo "== fuzz_$target for ${seconds}s"
  if ! "$build/bin/fuzz_$target" -max_total_time="$seconds" -max_len="${max_len[$target]:-65536}" -timeout=20 \
      -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$crashes/" "$work" \
      >"$build/fuzz_$target.log" 2>&1; then
    tail -n 60 "$build/fuzz_$target.log"
    echo "fuzz_$target found a crash: $(ls "$crashes")" >&2
    status=1
  else
    grep -E "^stat::number_of_executed_units|^#[0-9]+.*DONE" "$build/fuzz_$target.log" || true
  fi
  rm -rf "$work"
done
exit "$status"
