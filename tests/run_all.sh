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

# stage_with NAME PACKAGES TOOL... -- COMMAND...: a stage that needs tools a
# plain machine may lack. Without them a local run skips it with a note and CI
# fails (.ci/run installs PACKAGES).
stage_with() {
  local name=$1 packages=$2
  shift 2
  while [ "$1" != -- ]; do
    if ! command -v "$1" >/dev/null; then
      if [ -n "${CI:-}" ]; then
        echo "$name: $1 is missing (.ci/run installs $packages)" >&2
        exit 1
      fi
      echo "=== $name skipped: apt-get install $packages (or run .ci/run)"
      return 0
    fi
    shift
  done
  shift
  stage "$name" "$@"
}

# Unit, conversion and whole-program tests: debug build with AddressSanitizer,
# UndefinedBehaviorSanitizer and warnings as errors.
stage "Linux tests" cmake --workflow --preset test

# The same suite built for Windows with mingw-w64 and run under Wine.
stage_with "Windows tests under Wine" "g++-mingw-w64-x86-64-posix wine wine64" x86_64-w64-mingw32-g++-posix wine -- \
  cmake --workflow --preset windows

# The same suite built for 64-bit ARM and run under qemu-aarch64, so that the
# vector loops are checked on a second architecture. The tests that start
# kalmora through something else (a preloaded fault library, setpriv) are left
# out there: a program that qemu runs cannot take a preloaded library from the
# shell that starts it, nor be started by another program, and what they test
# (the POSIX platform layer) is the same code on both processors.
stage_with "64-bit ARM tests under qemu" "g++-aarch64-linux-gnu qemu-user" aarch64-linux-gnu-g++ qemu-aarch64 -- \
  cmake --workflow --preset arm64

# The Debian package: install, run, manual page, removal.
stage "Debian package" bash tests/package_test.sh

# The whole-program tests with every run of kalmora under Valgrind's memcheck.
stage "Memcheck" bash tests/memcheck.sh

# Each fuzz target for a bounded time (FUZZ_SECONDS, 40 by default), two at a
# time, from the committed corpus; any finding fails the run.
stage "Fuzz build" cmake --workflow --preset fuzz
stage "Fuzzing" bash fuzz/run_fuzzers.sh "${FUZZ_SECONDS:-40}"
