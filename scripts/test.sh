#!/usr/bin/env bash
# Runs every test of the project from a fresh machine:
#   1. the native test suite (GoogleTest through CTest),
#   2. the same suite under AddressSanitizer and UndefinedBehaviorSanitizer,
#      and under Valgrind memcheck; the fuzz targets' kept inputs replayed
#      and each target fuzzed for a few seconds,
#   3. the Windows leg: the suite cross-compiled for 64-bit Windows, run
#      under Wine,
#   4. the 32-bit Windows DLL, built and its export and import tables
#      checked (this machine cannot run 32-bit programs).
# Installs what is missing first. Exits non-zero when any step fails.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
jobs=$(nproc 2>/dev/null || echo 2)

need_packages() {
  local missing=()
  for p in "$@"; do
    dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
  done
  if [ ${#missing[@]} -gt 0 ]; then
    echo "== installing: ${missing[*]}"
    apt-get update -qq
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}" >/dev/null
  fi
}

need_packages cmake make g++ libgtest-dev googletest binutils valgrind pkg-config \
  clang libclang-rt-14-dev g++-mingw-w64-x86-64 g++-mingw-w64-i686 wine64

wine_loader=$(dpkg -L wine64 | grep -E '/wine64$' | head -n 1)
summary=()
status=0

run_step() {
  local name=$1; shift
  echo
  echo "== $name"
  if "$@"; then
    summary+=("PASS  $name")
  else
    summary+=("FAIL  $name")
    status=1
  fi
}

native() {
  cmake -S . -B build/native -DCMAKE_BUILD_TYPE=Debug >/dev/null &&
    cmake --build build/native -j"$jobs" &&
    (cd build/native && ctest --output-on-failure -j"$jobs")
}

sanitized() {
  cmake -S . -B build/asan -DCMAKE_BUILD_TYPE=Debug -DTRANPAK_SANITIZE=ON >/dev/null &&
    cmake --build build/asan -j"$jobs" &&
    (cd build/asan && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
      ctest --output-on-failure -j"$jobs")
}

memcheck() {
  local failed=0 t
  for t in build/native/tests/test_*; do
    [ -x "$t" ] || continue
    echo "-- valgrind $(basename "$t")"
    (cd build/native/tests &&
      valgrind --quiet --error-exitcode=99 --leak-check=full --errors-for-leak-kinds=definite \
        "./$(basename "$t")" --gtest_brief=1 >/dev/null) || { echo "   memcheck FAILED"; failed=1; }
  done
  return $failed
}

fuzz_short() {
  scripts/fuzz.sh "${TRANPAK_FUZZ_SECONDS:-10}"
}

windows64() {
  local prefix
  prefix=$(mktemp -d /tmp/tranpak-wine.XXXXXX)
  cmake -S . -B build/win64 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
    -DCMAKE_BUILD_TYPE=Debug -DCMAKE_CROSSCOMPILING_EMULATOR="$wine_loader" >/dev/null &&
    cmake --build build/win64 -j"$jobs" &&
    (cd build/win64 && WINEPREFIX=$prefix WINEDEBUG=-all ctest --output-on-failure)
  local rc=$?
  WINEPREFIX=$prefix wineserver -k 2>/dev/null || true
  rm -rf "$prefix"
  return $rc
}

windows32_dll() {
  cmake -S . -B build/win32 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-i686.cmake \
    -DCMAKE_BUILD_TYPE=Release -DTRANPAK_BUILD_TESTS=OFF >/dev/null &&
    cmake --build build/win32 -j"$jobs" --target tranpak &&
    tests/check_exports.sh win32 build/win32/tranpak.dll tests/exports.txt
}

run_step "native tests" native
run_step "sanitizer tests (ASan + UBSan)" sanitized
run_step "valgrind memcheck of the native tests" memcheck
run_step "fuzzing: kept inputs replayed, then each target briefly" fuzz_short
run_step "Windows 64-bit tests under Wine" windows64
run_step "Windows 32-bit DLL tables" windows32_dll

echo
echo "== summary"
printf '%s\n' "${summary[@]}"
exit $status
