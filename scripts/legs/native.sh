#!/usr/bin/env bash
# The native suite: a Debug build in build/native, every CTest test (the
# GoogleTest programs, the tools' and examples' end-to-end scripts, the
# object checks and the package consumers).
set -euo pipefail
cd "$(dirname "$0")/../.."
jobs=$(nproc 2>/dev/null || echo 2)
cmake --preset native >/dev/null
cmake --build build/native -j"$jobs"
cd build/native && ctest --output-on-failure -j"$jobs"
