#!/usr/bin/env bash
# Runs the whole-program tests with every run of kalmora under Valgrind's
# memcheck (a plain debug build: Valgrind and the sanitizers do not mix).
# Fails on any leak, invalid read or write, or use of undefined memory.
set -euo pipefail
cd "$(dirname "$0")/.."

cmake --preset debug >/dev/null
cmake --build --preset debug --target kalmora cli_test hostile_test

logs=$(pwd)/build/debug/memcheck
rm -rf "$logs"
mkdir -p "$logs"
wrapper=$logs/valgrind-kalmora
cat >"$wrapper" <<WRAPPER
#!/bin/sh
exec valgrind --quiet --error-exitcode=99 --leak-check=full --show-leak-kinds=definite,indirect,possible \\
  --errors-for-leak-kinds=definite,indirect,possible --suppressions=$(pwd)/tests/valgrind.supp --log-file="$logs/run-%p.log" "\$@"
WRAPPER
chmod +x "$wrapper"

# The two suites side by side: nearly all the time goes into Valgrind starting up.
status=0
pids=()
for suite in cli_test hostile_test; do
  KALMORA_WRAPPER=$wrapper "build/debug/tests/$suite" --gtest_brief=1 >"$logs/$suite.txt" 2>&1 &
  pids+=($!)
done
for pid in "${pids[@]}"; do
  wait "$pid" || status=1
done
cat "$logs/cli_test.txt" "$logs/hostile_test.txt"

runs=$(find "$logs" -name 'run-*.log' | wc -l)
reports=$(find "$logs" -name 'run-*.log' -size +0 | wc -l)
echo "memcheck: $runs runs of kalmora, $reports with a report"
if [ "$reports" -ne 0 ]; then
  find "$logs" -name 'run-*.log' -size +0 -exec cat {} +
  status=1
fi
exit $status
