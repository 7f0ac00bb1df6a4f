#!/usr/bin/env bash
# Runs every test of the project from a fresh machine:
#   1. the native test suite (GoogleTest through CTest),
#   2. the same suite under AddressSanitizer and UndefinedBehaviorSanitizer,
#      the threaded tests under ThreadSanitizer, the suite under Valgrind
#      memcheck (the threaded test with fewer rounds); the fuzz targets' kept inputs replayed
#      and each target fuzzed for a few seconds,
#   3. the Windows legs: the suite cross-compiled for 64-bit and for 32-bit
#      Windows, run under Wine (32-bit programs run natively where the
#      kernel runs them, elsewhere through user-mode QEMU registered with
#      binfmt_misc for the run; where neither works the 32-bit legs say why
#      and are skipped),
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
source scripts/lib/ia32_emulation.sh
# One Wine prefix serves both Windows legs; it goes, with its wineserver,
# when this script ends, and so does any 32-bit emulation set up here.
cleanup() {
  wine_prefix_remove
  ia32_emulation_stop
}
trap cleanup EXIT

# How 32-bit programs run here: "native" (the kernel runs them), "emulated"
# (user-mode QEMU through binfmt_misc, set up here) or "" (not at all, for
# the reason in ia32_why). The emulation must be in place before the Wine
# prefix is made: making it runs a 32-bit step, and a prefix made without
# it has no 32-bit system DLLs.
echo "== can this machine run 32-bit programs?"
ia32="" ia32_why="" wine32="" started=$SECONDS check=0
scripts/lib/ia32_check.sh || check=$?
if [ "$check" -eq 0 ]; then
  ia32=native
elif ia32_emulation_start; then
  ia32=emulated
  echo "   emulation set up in $((SECONDS - started)) s"
else
  ia32_emulation_stop
  ia32_why="the kernel cannot run 32-bit programs and emulating them failed: $ia32_emulation_why"
  echo "$ia32_why"
fi
if [ -n "$ia32" ]; then
  wine_install_32bit && wine32=$(wine32_loader) || echo "32-bit Wine could not be installed"
fi
# Every Windows program run by ctest is bounded, just above ctest's own
# limits (300 s; 900 s for the threaded test).
wine_emulator() { echo "$root/scripts/lib/wine_run.sh;920;$1"; }
summary=()
status=0

skip_step() {
  echo
  echo "== $1: SKIPPED, $2"
  summary+=("SKIP  $1 ($2)")
}

# A step that needs 32-bit Windows programs to run; the summary says how
# they ran.
run_step32() {
  local name=$1; shift
  if [ -n "$wine32" ]; then
    step_note=$ia32 run_step "$name" "$@"
  elif [ -z "$ia32" ]; then
    skip_step "$name" "$ia32_why"
  else
    summary+=("FAIL  $name (32-bit Wine could not be installed)")
    status=1
  fi
}

# The summary gives each step's time, so what a leg costs can be read off,
# after the step's note (step_note, set for the call) if it has one.
run_step() {
  local name=$1 started=$SECONDS result=PASS; shift
  echo
  echo "== $name"
  "$@" || { result=FAIL; status=1; }
  summary+=("$result  $name (${step_note:+$step_note, }$((SECONDS - started)) s)")
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

# The rename race is left out: Valgrind runs one thread at a time, so the
# race hardly happens there and its rounds take far longer than elsewhere.
# Each program is bounded so that a hang fails the step, not the whole run.
memcheck() {
  local failed=0 t
  for t in build/native/tests/test_*; do
    [ -x "$t" ] || continue
    echo "-- valgrind $(basename "$t")"
    (cd build/native/tests &&
      TRANPAK_THREAD_ROUNDS=100 GTEST_FILTER='-Lookups/ConfineRaceTest.*' timeout -k 10 600 \
        valgrind --quiet --error-exitcode=99 --leak-check=full --errors-for-leak-kinds=definite \
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
    cmake --build "$build" -j"$jobs" || return 1
  # One program at a time: they share the build's working folder. The
  # server the programs left running goes at the end, whatever the outcome.
  local rc=0
  (cd "$build" && ctest --output-on-failure) || rc=$?
  wine_server_stop
  return $rc
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

# The Python package: its wheel built (scripts/python.sh prints its path
# last), installed in a fresh virtual environment and its tests run there,
# Locust headless and distributed on loopback among them.
python_leg() {
  need_packages python3-pytest python3-locust python3-setuptools python3-wheel python3-venv python3-pip
  local out
  out=$(scripts/python.sh) && echo "$out" && tests/python_wheel.sh "${out##*$'\n'}"
}

windows_packages() {
  tests/packages/check_windows.sh "$root/dist/tranpak-$version-win32.zip" i686 "$root" "$wine32" &&
    tests/packages/check_windows.sh "$root/dist/tranpak-$version-win64.zip" x86_64 "$root" "$(wine64_loader)"
}

run_step "native tests" native
run_step "sanitizer tests (ASan + UBSan)" sanitized
run_step "threaded tests under ThreadSanitizer" threads_tsan
run_step "valgrind memcheck of the native tests" memcheck
run_step "fuzzing: kept inputs replayed, then each target briefly" fuzz_short

run_step "Wine prefix for the Windows legs" wine_prefix_create
run_step "Windows 64-bit tests under Wine" windows64
run_step32 "Windows 32-bit tests under Wine" windows32

version=$(sed -n 's/^project(tranpak VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
run_step "release packages made (scripts/package.sh)" packages
run_step "Windows DLL tables, 32-bit and 64-bit" windows_dll_tables
run_step32 "Windows 32-bit DLL driven through LoadLibraryA under Wine" dll_driver32
run_step "Windows 64-bit DLL driven through LoadLibraryA under Wine" dll_driver64
run_step "Linux packages: file lists, consumers" linux_packages
step_note=${wine32:+32-bit consumers $ia32} \
  run_step "Windows packages: file lists, tables, consumers under Wine" windows_packages
run_step "Python package: wheel built, installed in a fresh venv, its tests" python_leg

echo
echo "== summary"
case $ia32 in
native) echo "32-bit programs: native (the kernel runs them)" ;;
emulated) echo "32-bit programs: emulated ($ia32_emulation_qemu through binfmt_misc)" ;;
*) echo "32-bit programs: none ($ia32_why)" ;;
esac
printf '%s\n' "${summary[@]}"
exit $status
