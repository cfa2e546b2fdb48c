#!/usr/bin/env bash
# Builds and runs every test suite of the project, stopping at the first failure.
set -euo pipefail
cd "$(dirname "$0")/.."

stage() {
  local name=$1
  shift
  local start=$SECONDS
  echo "=== $name"
  "$@"
  echo "=== $name: passed in $((SECONDS - start)) s"
}

# Unit, conversion and whole-program tests: debug build with AddressSanitizer,
# UndefinedBehaviorSanitizer and warnings as errors.
stage "Linux tests" cmake --workflow --preset test

# The same suite built for Windows with mingw-w64 and run under Wine.
if command -v x86_64-w64-mingw32-g++-posix >/dev/null && command -v wine >/dev/null; then
  stage "Windows tests under Wine" cmake --workflow --preset windows
elif [ -n "${CI:-}" ]; then
  echo "Windows stage: mingw-w64 or Wine is missing (.ci/run installs them)" >&2
  exit 1
else
  echo "=== Windows tests skipped: apt-get install g++-mingw-w64-x86-64-posix wine wine64 (or run .ci/run)"
fi

# The same suite built for 64-bit ARM and run under qemu-aarch64, so that the
# vector loops are checked on a second architecture.
if command -v aarch64-linux-gnu-g++ >/dev/null && command -v qemu-aarch64 >/dev/null; then
  stage "64-bit ARM tests under qemu" cmake --workflow --preset arm64
elif [ -n "${CI:-}" ]; then
  echo "ARM stage: g++-aarch64-linux-gnu or qemu-user is missing (.ci/run installs them)" >&2
  exit 1
else
  echo "=== 64-bit ARM tests skipped: apt-get install g++-aarch64-linux-gnu qemu-user (or run .ci/run)"
fi

# The Debian package: install, run, manual page, removal.
stage "Debian package" bash tests/package_test.sh

# The whole-program tests with every run of kalmora under Valgrind's memcheck.
stage "Memcheck" bash tests/memcheck.sh

# Each fuzz target for a bounded time (FUZZ_SECONDS, 60 by default), two at a
# time, from the committed corpus; any finding fails the run.
stage "Fuzz build" cmake --workflow --preset fuzz
stage "Fuzzing" bash fuzz/run_fuzzers.sh "${FUZZ_SECONDS:-60}"
