#!/usr/bin/env bash
# Builds the DLL driver for one architecture and runs it under Wine against
# the tranpak.dll inside a Windows release zip, laid out as the zip's
# example settings expect: the driver runs in run/ beside bitmap.txt, and
# the example 8583.ini is the prefix's settings file.
#   run.sh i686|x86_64 ZIP WINE_LOADER      (WINEPREFIX must be set)
set -euo pipefail
arch=$1 zip=$2 loader=$3
here=$(cd "$(dirname "$0")" && pwd)
: "${WINEPREFIX:?WINEPREFIX must name the Wine prefix}"
work=$(mktemp -d /tmp/tranpak-driver.XXXXXX)
settings=$WINEPREFIX/drive_c/windows/system/8583.ini
trap 'rm -rf "$work" "$settings"' EXIT

cmake -E make_directory "$work/pkg" "$work/run" "$(dirname "$settings")"
(cd "$work/pkg" && cmake -E tar xf "$zip")
pkg=$(dirname "$(dirname "$(find "$work/pkg" -path '*/bin/tranpak.dll' | head -n 1)")")
cp "$pkg/share/tranpak/examples/bitmap.txt" "$work/run/"
cp "$pkg/share/tranpak/examples/8583.ini" "$settings"

echo "-- building the driver with $arch-w64-mingw32-gcc (its peer, the test peer, with g++)"
root=$(cd "$here/../.." && pwd)
for c in dll_driver stack_probe; do
  "$arch-w64-mingw32-gcc" -std=c11 -O2 -Wall -Wextra -Werror -c -o "$work/$c.o" "$here/$c.c"
done
# The test peer and what it stands on: the kit's wire module and the
# operating system calls.
objs=()
for cpp in "$here/peer.cpp" "$root/tests/support/peer.cpp" "$root/src/kit/wire.cpp" "$root/src/kit/wire_socket.cpp" \
    "$root"/src/os/win32/{sockets,misc,server,threads,files}_win32.cpp "$root"/src/os/{sockets,server,threads,profile}_common.cpp "$root"/src/os/line_file.cpp; do
  obj=$work/$(basename "$(dirname "$cpp")")-$(basename "$cpp" .cpp).o
  "$arch-w64-mingw32-g++" -std=c++20 -O2 -Wall -Wextra -Werror -fno-exceptions -fno-rtti \
    -I"$root/src" -I"$root/src/os" -I"$root/tests" -c -o "$obj" "$cpp"
  objs+=("$obj")
done
"$arch-w64-mingw32-g++" -static -static-libgcc -static-libstdc++ -o "$work/dll_driver.exe" \
  "$work/dll_driver.o" "$work/stack_probe.o" "${objs[@]}" -lws2_32

dll="Z:$(echo "$pkg/bin/tranpak.dll" | tr / '\\')"
echo "-- running it on $(basename "$zip")"
# A program that crashes under Wine does not always end with a failing
# status, so the driver's closing line must be there too. Its output goes to
# a file, shown once it has ended: Wine's background services, started by
# the driver when no wineserver runs, keep their output open long after.
rc=0
(cd "$work/run" && timeout -k 10 180 "$loader" ../dll_driver.exe "$dll" </dev/null >"$work/out" 2>&1) ||
  rc=$?
cat "$work/out"
grep -Eq '^[1-9][0-9]* passed, 0 failed' "$work/out" || [ "$rc" -ne 0 ] || rc=1
if [ "$rc" -ne 0 ]; then
  echo "driver failed (status $rc); the DLL's error log:"
  cat "$work/run/errlog.txt" 2>/dev/null || echo "(none)"
fi
exit "$rc"
