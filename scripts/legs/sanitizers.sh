#!/usr/bin/env bash
# The suite built with AddressSanitizer and UndefinedBehaviorSanitizer in
# build/asan; any report fails its test.
set -euo pipefail
cd "$(dirname "$0")/../.."
jobs=$(nproc 2>/dev/null || echo 2)
cmake --preset asan >/dev/null
cmake --build build/asan -j"$jobs"
cd build/asan && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 ctest --output-on-failure -j"$jobs"
