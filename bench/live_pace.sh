#!/usr/bin/env bash
# The pace of real --live runs: plays the example screen, repeated to about
# three seconds' worth of codes, at 300, 2400 and 9600 baud into a file, and
# prints per pace the codes, the wall time it should take (codes * 10 / baud)
# and took, the codes a second measured, and the processor time (user +
# system) with its share of the wall time.
#
# Usage: bench/live_pace.sh [SECONDS]   (the length of each run, default 3)
# Needs /usr/bin/time (Debian package time).
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-3}
command -v /usr/bin/time >/dev/null || { echo "bench/live_pace.sh needs /usr/bin/time" >&2; exit 1; }
cmake --preset release >/dev/null
cmake --build --preset release -j2 >/dev/null
kalmora=$PWD/build/release/kalmora
scratch=$PWD/build/bench
mkdir -p "$scratch"

printf '%6s %7s %9s %9s %9s %9s %8s\n' baud codes "want s" "wall s" "codes/s" "cpu s" "cpu %"
for baud in 300 2400 9600; do
  codes=$((baud / 10 * seconds))
  input=$scratch/live-$baud.seq
  : > "$input"
  while [ "$(stat -c %s "$input")" -lt "$codes" ]; do cat examples/greeting.seq >> "$input"; done
  truncate -s "$codes" "$input"
  times=$( { /usr/bin/time -f '%e %U %S' "$kalmora" -i="$input" -o="$scratch/live-$baud.out" -d=ansi --live \
             --baud="$baud" >/dev/null; } 2>&1 | tail -1)
  read -r wall user system <<<"$times"
  awk -v baud="$baud" -v codes="$codes" -v wall="$wall" -v user="$user" -v sys="$system" 'BEGIN {
    cpu = user + sys
    printf "%6d %7d %9.3f %9.3f %9.1f %9.3f %8.2f\n", baud, codes, codes * 10 / baud, wall, codes / wall, cpu, 100 * cpu / wall
  }'
done
