#!/usr/bin/env bash
# The suite cross-compiled for Windows and run under Wine, one program at a
# time (they share the build's working folder):
#   windows.sh 64           64-bit, in build/win64
#   windows.sh 32 LOADER    32-bit, in build/win32-tests, through the 32-bit
#                           loader (scripts/lib/ia32_setup.sh finds it)
# Uses the Wine prefix of $WINEPREFIX (scripts/test.sh makes one for both
# legs), or makes one of its own and removes it at the end.
set -euo pipefail
cd "$(dirname "$0")/../.."
root=$(pwd)
jobs=$(nproc 2>/dev/null || echo 2)
source scripts/lib/wine.sh
if [ -z "${WINEPREFIX:-}" ]; then
  trap wine_prefix_remove EXIT
  wine_prefix_create
fi
case $1 in
64) preset=mingw64 build=build/win64 loader=$(wine64_loader) ;;
32) preset=mingw32 build=build/win32-tests loader=$2 ;;
*) echo "usage: windows.sh 64 | windows.sh 32 LOADER" >&2; exit 2 ;;
esac
# Every Windows program run by ctest is bounded, just above ctest's own
# limits (300 s; 900 s for the threaded test).
cmake --preset "$preset" -DCMAKE_CROSSCOMPILING_EMULATOR="$root/scripts/lib/wine_run.sh;920;$loader" >/dev/null
cmake --build "$build" -j"$jobs"
# The server the programs left running goes at the end, whatever the outcome.
rc=0
(cd "$build" && ctest --output-on-failure) || rc=$?
wine_server_stop
exit $rc
