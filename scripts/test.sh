#!/usr/bin/env bash
# Runs every test of the project from a fresh machine:
#   1. the native test suite (GoogleTest through CTest),
#   2. the same suite under AddressSanitizer and UndefinedBehaviorSanitizer,
#      the threaded tests under ThreadSanitizer, the suite under Valgrind
#      memcheck (the threaded test with fewer rounds); the fuzz targets' kept inputs replayed
#      and each target fuzzed for a few seconds,
#   3. the Windows legs: the suite cross-compiled for 64-bit and for 32-bit
#      Windows, run under Wine (the 32-bit leg only where the kernel runs
#      32-bit programs; it says so and is skipped elsewhere),
#   4. the release packages (scripts/package.sh): the shipped DLLs' export
#      and import tables, both DLLs loaded and driven at run time by a
#      program as an application does, and each package's file list and a
#      consumer built against it and run.
# Installs what is missing first. Exits non-zero when any step fails.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
jobs=$(nproc 2>/dev/null || echo 2)

source scripts/lib/packages.sh

need_packages cmake make g++ libgtest-dev googletest binutils valgrind pkg-config \
  clang libclang-rt-14-dev g++-mingw-w64-x86-64 g++-mingw-w64-i686 wine64 dpkg-dev

source scripts/lib/wine.sh
echo "== can this machine run 32-bit programs?"
ia32=no wine32=""
if scripts/lib/ia32_check.sh; then
  ia32=yes
  wine_install_32bit && wine32=$(wine32_loader) || echo "32-bit Wine could not be installed"
fi
# ctest's own limits (300 s, 900 s for the threaded test) come first.
wine_emulator() { echo "timeout;-k;10;920;$1"; }
summary=()
status=0

skip_step() {
  echo
  echo "== $1: SKIPPED, $2"
  summary+=("SKIP  $1 ($2)")
}

# A step that needs 32-bit Windows programs to run.
run_step32() {
  if [ -n "$wine32" ]; then
    run_step "$@"
  elif [ "$ia32" = no ]; then
    skip_step "$1" "this kernel cannot run 32-bit programs"
  else
    summary+=("FAIL  $1 (32-bit Wine could not be installed)")
    status=1
  fi
}

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

# The threaded tests under ThreadSanitizer: the library and the tests built
# with clang's -fsanitize=thread; a data race fails the run.
threads_tsan() {
  CC=clang CXX=clang++ cmake -S . -B build/tsan -DCMAKE_BUILD_TYPE=Debug -DTRANPAK_TSAN=ON \
    -DTRANPAK_BUILD_TOOLS=OFF >/dev/null &&
    cmake --build build/tsan -j"$jobs" --target test_sessions &&
    (cd build/tsan/tests && TSAN_OPTIONS="halt_on_error=1 exitcode=66" ./test_sessions --gtest_brief=1)
}

memcheck() {
  local failed=0 t
  for t in build/native/tests/test_*; do
    [ -x "$t" ] || continue
    echo "-- valgrind $(basename "$t")"
    (cd build/native/tests &&
      TRANPAK_THREAD_ROUNDS=100 valgrind --quiet --error-exitcode=99 --leak-check=full --errors-for-leak-kinds=definite \
        "./$(basename "$t")" --gtest_brief=1 >/dev/null) || { echo "   memcheck FAILED"; failed=1; }
  done
  return $failed
}

fuzz_short() {
  scripts/fuzz.sh "${TRANPAK_FUZZ_SECONDS:-10}"
}

windows_suite() {
  local build=$1 toolchain=$2 loader=$3
  cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Debug \
    -DCMAKE_CROSSCOMPILING_EMULATOR="$(wine_emulator "$loader")" >/dev/null &&
    cmake --build "$build" -j"$jobs" &&
    (cd "$build" && ctest --output-on-failure)
}

windows64() { windows_suite build/win64 cmake/mingw-w64-x86_64.cmake "$(wine64_loader)"; }
windows32() { windows_suite build/win32-tests cmake/mingw-w64-i686-posix.cmake "$wine32"; }

packages() { scripts/package.sh; }

windows_dll_tables() {
  tests/check_exports.sh win32 build/release-win32/tranpak.dll tests/exports.txt &&
    OBJDUMP=x86_64-w64-mingw32-objdump \
      tests/check_exports.sh win32 build/release-win64/tranpak.dll tests/exports.txt
}

dll_driver32() { tests/dll_driver/run.sh i686 "$root/dist/tranpak-$version-win32.zip" "$wine32"; }
dll_driver64() { tests/dll_driver/run.sh x86_64 "$root/dist/tranpak-$version-win64.zip" "$(wine64_loader)"; }

linux_packages() { tests/packages/check_linux.sh dist "$root"; }

windows_packages() {
  tests/packages/check_windows.sh "$root/dist/tranpak-$version-win32.zip" i686 "$root" "$wine32" &&
    tests/packages/check_windows.sh "$root/dist/tranpak-$version-win64.zip" x86_64 "$root" "$(wine64_loader)"
}

run_step "native tests" native
run_step "sanitizer tests (ASan + UBSan)" sanitized
run_step "threaded tests under ThreadSanitizer" threads_tsan
run_step "valgrind memcheck of the native tests" memcheck
run_step "fuzzing: kept inputs replayed, then each target briefly" fuzz_short

# One Wine prefix serves both Windows legs; it goes, with its wineserver,
# when this script ends.
trap wine_prefix_remove EXIT
run_step "Wine prefix for the Windows legs" wine_prefix_create
run_step "Windows 64-bit tests under Wine" windows64
run_step32 "Windows 32-bit tests under Wine" windows32

version=$(sed -n 's/^project(tranpak VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
run_step "release packages made (scripts/package.sh)" packages
run_step "Windows DLL tables, 32-bit and 64-bit" windows_dll_tables
run_step32 "Windows 32-bit DLL driven through LoadLibraryA under Wine" dll_driver32
run_step "Windows 64-bit DLL driven through LoadLibraryA under Wine" dll_driver64
run_step "Linux packages: file lists, consumers" linux_packages
run_step "Windows packages: file lists, tables, consumers under Wine" windows_packages

echo
echo "== summary"
printf '%s\n' "${summary[@]}"
exit $status
