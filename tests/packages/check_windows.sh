#!/usr/bin/env bash
# Checks a Windows release zip: it holds exactly the files of
# tests/packages/windows.txt under one top folder; the DLL and the tools are
# programs of the zip's architecture that need no MinGW runtime DLL; the
# definition file and both import libraries name every export; and
# tests/packages/consumer/consumer.c, linked with MinGW against each import library,
# runs under Wine with the zip's bin/ on its DLL path.
#   check_windows.sh ZIP i686|x86_64 SOURCE_DIR [WINE_LOADER]
# Without a loader the consumers are built but not run.
set -euo pipefail
zip=$1 arch=$2 src=$3 loader=${4:-}
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d /tmp/tranpak-win-pkg.XXXXXX)
trap 'rm -rf "$work"' EXIT
top=$(basename "$zip" .zip)
case $arch in
i686) format=pei-i386 imp=__imp__ ;;   # 32-bit __cdecl names start with _
x86_64) format=pei-x86-64 imp=__imp_ ;;
*) echo "unknown architecture $arch"; exit 2 ;;
esac
tool=$arch-w64-mingw32

echo "== $(basename "$zip")"
mkdir "$work/zip" && (cd "$work/zip" && cmake -E tar xf "$zip")
[ "$(ls -A "$work/zip")" = "$top" ] || { echo "FAIL: the zip holds more than the folder $top"; exit 1; }
(cd "$work/zip/$top" && find . -type f | sed 's|^\./||' | sort) > "$work/files"
diff -u "$here/windows.txt" "$work/files" || { echo "FAIL: the zip does not hold the expected files"; exit 1; }
echo "files: $(wc -l < "$work/files"), as expected"

pkg=$work/zip/$top
for f in "$pkg"/bin/*; do
  "$tool-objdump" -f "$f" | grep -q "file format $format" || { echo "FAIL: $f is not $format"; exit 1; }
  if "$tool-objdump" -p "$f" | grep 'DLL Name:' | grep -Ei 'libstdc|libgcc|winpthread'; then
    echo "FAIL: $(basename "$f") needs a MinGW runtime DLL"; exit 1
  fi
done
echo "bin/: $format, no MinGW runtime DLL needed"

sort "$src/tests/checks/exports.txt" > "$work/want"
sed -n 's/^[[:space:]]*\([A-Za-z0-9_]*\)[[:space:]]*@.*/\1/p' "$pkg/lib/tranpak.def" | sort > "$work/def"
diff -u "$work/want" "$work/def" || { echo "FAIL: tranpak.def does not list the exports"; exit 1; }
for lib in tranpak.lib libtranpak.dll.a; do
  "$tool-nm" "$pkg/lib/$lib" | sed -n "s/.* I $imp//p" | sort > "$work/imp"
  diff -u "$work/want" "$work/imp" || { echo "FAIL: $lib does not import the exports as ${imp}NAME"; exit 1; }
done
echo "tranpak.def, tranpak.lib, libtranpak.dll.a: $(wc -l < "$work/want") exports each"

winpath() { echo "Z:$1" | tr / '\\'; }
# The consumer runs without a settings file, as a fresh installation does.
[ -z "${WINEPREFIX:-}" ] || rm -f "$WINEPREFIX/drive_c/windows/system/8583.ini"
for lib in libtranpak.dll.a tranpak.lib; do
  exe=$work/consumer-${lib%%.*}.exe
  "$tool-gcc" -o "$exe" -I"$pkg/include" "$src/tests/packages/consumer/consumer.c" "$pkg/lib/$lib"
  if [ -z "$loader" ]; then
    echo "consumer linked against lib/$lib (not run: no Wine loader for $arch)"
    continue
  fi
  echo "consumer linked against lib/$lib:"
  # The consumer prints one line and exits 0 only when every call answered
  # as it should; a crash under Wine may still exit 0, so the line counts too.
  # Its output goes to files: Wine's background services, started with it
  # when no wineserver runs, would hold a pipe open long after it ended.
  rc=0
  (cd "$work" && WINEPATH=$(winpath "$pkg/bin") timeout -k 10 120 "$loader" "$exe" \
    </dev/null >"$work/out" 2>"$work/err") || rc=$?
  out=$(cat "$work/out")
  [ "$rc" -eq 0 ] || { cat "$work/err"; echo "FAIL: the consumer exited with status $rc"; exit 1; }
  echo "  $out"
  [[ $out == "Init8583 -1, GetCellType 0, SetCell 0, GetCell 0 0200"* ]] || { echo "FAIL: consumer"; exit 1; }
done
