#!/usr/bin/env bash
# Runs every fuzz target for a bounded time, two at a time, starting from the
# committed seed corpus (which also holds every input that once found a fault),
# and fails if any target reports a finding.
# Usage: run_fuzzers.sh [seconds [target...]]   (targets: text_to_seq seq_to_text option_parser entry disk_image)
# Needs the fuzz preset built (cmake --workflow --preset fuzz).
set -uo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-60}
build=build/fuzz
work=$build/runs
targets=(text_to_seq seq_to_text option_parser entry disk_image)
if [ $# -gt 1 ]; then
  targets=("${@:2}")
fi

run_target() {
  local target=$1
  rm -rf "$work/$target"
  mkdir -p "$work/$target/corpus"
  # New inputs go to the scratch corpus; the committed one is only read.
  "$build/fuzz/fuzz_$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
    -print_final_stats=1 -artifact_prefix="$work/$target/" \
    "$work/$target/corpus" "fuzz/corpus/$target" >"$work/$target/log" 2>&1
}

report() {
  local target=$1 status=$2
  local executions
  executions=$(sed -n 's/^stat::number_of_executed_units: *//p' "$work/$target/log" | tail -1)
  if [ "$status" -eq 0 ]; then
    echo "fuzz_$target: ${executions:-?} executions in ${seconds} s, no finding"
  else
    echo "fuzz_$target: FINDING (exit $status) after ${executions:-?} executions"
    tail -n 40 "$work/$target/log"
    ls "$work/$target"/crash-* "$work/$target"/leak-* "$work/$target"/timeout-* "$work/$target"/oom-* 2>/dev/null
  fi
}

failed=0
for ((i = 0; i < ${#targets[@]}; i += 2)); do
  pair=("${targets[@]:i:2}")
  pids=()
  for target in "${pair[@]}"; do
    run_target "$target" &
    pids+=($!)
  done
  for j in "${!pair[@]}"; do
    status=0
    wait "${pids[j]}" || status=$?
    report "${pair[j]}" "$status"
    [ "$status" -eq 0 ] || failed=1
  done
done
exit $failed
