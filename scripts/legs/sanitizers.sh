#!/usr/bin/env bash
# The suite built with AddressSanitizer and UndefinedBehaviorSanitizer in
# build/asan; any report fails its test. Then the programs a user builds
# (the library, the tools, the C demo and the C examples) built the same
# way with clang in build/asan-clang, and the C demo run: a C program
# linked against the library under clang's sanitizers needs their C++
# runtime.
set -euo pipefail
cd "$(dirname "$0")/../.."
root=$(pwd)
jobs=$(nproc 2>/dev/null || echo 2)
cmake --preset asan >/dev/null
cmake --build build/asan -j"$jobs"
(cd build/asan && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 ctest --output-on-failure -j"$jobs")

echo "== clang with TRANPAK_SANITIZE=ON: the library, the tools, the C demo and examples"
cmake -S . -B build/asan-clang -DCMAKE_BUILD_TYPE=Debug -DTRANPAK_SANITIZE=ON -DTRANPAK_BUILD_TESTS=OFF \
  -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ >/dev/null
cmake --build build/asan-clang -j"$jobs"
demo=$(mktemp -d /tmp/tranpak-asan-clang.XXXXXX)
trap 'rm -rf "$demo"' EXIT
mkdir -p "$demo/etc" "$demo/run"
cp etc/bitmap.txt "$demo/etc/"
cd "$demo/run"
out=$(ASAN_OPTIONS=detect_leaks=1 "$root/build/asan-clang/tools/tranpak-demo" 2>&1)
grep -q "^Init8583: field definitions loaded$" <<< "$out" || { echo "$out"; exit 1; }
echo "the C demo under clang's sanitizers: ran"
