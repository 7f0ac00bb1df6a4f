#!/usr/bin/env bash
# Runs every test of the project from a fresh machine, in this order:
#   1. scripts/provision.sh: installs what is missing (Debian's packages),
#   2. scripts/lib/ia32_setup.sh: how 32-bit programs run here (natively,
#      through user-mode QEMU registered with binfmt_misc for the run, or
#      not at all: then the 32-bit steps say why and are skipped) and
#      32-bit Wine,
#   3. the sources' formatting (tests/checks/check_format.sh), then the
#      legs in scripts/legs/: the native suite; the suite under
#      AddressSanitizer and UndefinedBehaviorSanitizer; the threaded tests
#      under ThreadSanitizer; the suite under Valgrind memcheck; the fuzz
#      targets (scripts/fuzz.sh); the suite as 64-bit and 32-bit Windows
#      programs under Wine; and, after the native suite, tranpak's frames
#      read by decoders written elsewhere (scripts/legs/outside.sh:
#      tshark's ISO 8583 dissector, the npm iso_8583 package),
#   4. the release packages (scripts/package.sh): the shipped DLLs' export
#      and import tables, both DLLs loaded and driven at run time by a
#      program as an application does, and each package's file list and a
#      consumer built against it and run,
#   5. a new user's path (tests/e2e/new_user_path.sh): the README's install
#      into a scratch prefix, its example built with pkg-config against it,
#      the installed tools run from another folder,
#   6. the Python package (scripts/legs/python.sh): its wheel built,
#      installed in a fresh virtual environment and its tests run there,
#      then the docs' first example run from another folder.
# Ends with a summary; exits non-zero when any step fails. For day-to-day
# work, scripts/quick-test.sh runs the native and sanitizer legs only.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

scripts/provision.sh
source scripts/lib/packages.sh
source scripts/lib/wine.sh
source scripts/lib/ia32_setup.sh
source scripts/lib/steps.sh
# One Wine prefix serves both Windows legs; it goes, with its wineserver,
# when this script ends, and so does any 32-bit emulation set up here.
cleanup() {
  wine_prefix_remove
  ia32_emulation_stop
}
trap cleanup EXIT
ia32_setup

# A step that needs 32-bit Windows programs to run; the summary says how
# they ran.
run_step32() {
  local name=$1; shift
  if [ -n "$wine32" ]; then
    step_note=$ia32 run_step "$name" "$@"
  elif [ -n "$ia32_why" ]; then
    skip_step "$name" "$ia32_why"
  else
    summary+=("FAIL  $name (32-bit Wine installed, but its loader is missing)")
    status=1
  fi
}

run_step "formatting (.clang-format)" tests/checks/check_format.sh
run_step "native tests" scripts/legs/native.sh
run_step "frames read by decoders written elsewhere (tshark, npm iso_8583)" scripts/legs/outside.sh
run_step "sanitizer tests (ASan + UBSan)" scripts/legs/sanitizers.sh
run_step "threaded tests under ThreadSanitizer" scripts/legs/tsan.sh
run_step "valgrind memcheck of the native tests" scripts/legs/memcheck.sh
run_step "fuzzing: kept inputs replayed, then each target briefly" scripts/fuzz.sh "${TRANPAK_FUZZ_SECONDS:-10}"

run_step "Wine prefix for the Windows legs" wine_prefix_create
run_step "Windows 64-bit tests under Wine" scripts/legs/windows.sh 64
run_step32 "Windows 32-bit tests under Wine" scripts/legs/windows.sh 32 "$wine32"

version=$(sed -n 's/^project(tranpak VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
win32_zip=$root/dist/tranpak-$version-win32.zip
win64_zip=$root/dist/tranpak-$version-win64.zip
windows_dll_tables() {
  tests/checks/check_exports.sh win32 build/release-win32/tranpak.dll tests/checks/exports.txt &&
    OBJDUMP=x86_64-w64-mingw32-objdump \
      tests/checks/check_exports.sh win32 build/release-win64/tranpak.dll tests/checks/exports.txt
}
windows_packages() {
  tests/packages/check_windows.sh "$win32_zip" i686 "$root" "$wine32" &&
    tests/packages/check_windows.sh "$win64_zip" x86_64 "$root" "$(wine64_loader)"
}
run_step "release packages made (scripts/package.sh)" scripts/package.sh
run_step "Windows DLL tables, 32-bit and 64-bit" windows_dll_tables
run_step32 "Windows 32-bit DLL driven through LoadLibraryA under Wine" \
  tests/dll_driver/run.sh i686 "$win32_zip" "$wine32"
run_step "Windows 64-bit DLL driven through LoadLibraryA under Wine" \
  tests/dll_driver/run.sh x86_64 "$win64_zip" "$(wine64_loader)"
run_step "Linux packages: file lists, consumers" tests/packages/check_linux.sh dist "$root"
run_step "a new user's path: the README's install, its example through pkg-config, the tools from elsewhere" \
  tests/e2e/new_user_path.sh c
step_note=${wine32:+32-bit consumers $ia32} \
  run_step "Windows packages: file lists, tables, consumers under Wine" windows_packages
run_step "Python package: wheel built, installed in a fresh venv, its tests" scripts/legs/python.sh

echo
echo "== summary"
if [ -z "$wine32" ] && [ -n "$ia32_why" ]; then
  echo "32-bit steps SKIPPED: $ia32_why"
fi
case $ia32 in
native) echo "32-bit programs: native (the kernel runs them)" ;;
emulated) echo "32-bit programs: emulated ($ia32_emulation_qemu through binfmt_misc)" ;;
*) echo "32-bit programs: none ($ia32_why)" ;;
esac
print_summary
exit $status
