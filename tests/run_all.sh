#!/usr/bin/env bash
# Builds and runs every test suite of the project, stopping at the first failure.
set -euo pipefail
cd "$(dirname "$0")/.."

# Unit, conversion and whole-program tests: debug build with AddressSanitizer,
# UndefinedBehaviorSanitizer and warnings as errors.
cmake --workflow --preset test
