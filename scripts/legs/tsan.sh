#!/usr/bin/env bash
# The threaded tests under ThreadSanitizer: the library and the tests built
# with clang's -fsanitize=thread in build/tsan; a data race fails the run.
set -euo pipefail
cd "$(dirname "$0")/../.."
jobs=$(nproc 2>/dev/null || echo 2)
cmake --preset tsan >/dev/null
cmake --build build/tsan -j"$jobs" --target test_sessions
cd build/tsan/tests && TSAN_OPTIONS="halt_on_error=1 exitcode=66" ./test_sessions --gtest_brief=1
