#!/bin/sh
# Checks the export (and for Windows the import) table of a built library.
#   check_exports.sh linux libtranpak.so exports.txt
#   check_exports.sh win32 tranpak.dll  exports.txt
set -eu
kind=$1 lib=$2 expected=$3
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
sort "$expected" > "$tmp/want"

case $kind in
linux)
  nm -D --defined-only "$lib" | awk '$2 ~ /^[A-Za-z]$/ {print $3}' | sort > "$tmp/got"
  ;;
win32)
  objdump=${OBJDUMP:-i686-w64-mingw32-objdump}
  "$objdump" -p "$lib" > "$tmp/table"
  # Export names: the lines of the name pointer table, "[ n] name".
  sed -n '/^\[Ordinal\/Name Pointer\] Table/,/^$/p' "$tmp/table" |
    sed -n 's/^[[:space:]]*\[[[:space:]]*[0-9]*\][[:space:]]*//p' | sort > "$tmp/got"
  grep 'DLL Name:' "$tmp/table" | awk '{print $3}' | tr 'a-z' 'A-Z' | sort > "$tmp/imports"
  echo "imports: $(tr '\n' ' ' < "$tmp/imports")"
  grep -qx 'WSOCK32.DLL' "$tmp/imports" || { echo "FAIL: WSOCK32.dll is not imported"; exit 1; }
  if grep -E 'LIBSTDC|LIBGCC|WINPTHREAD' "$tmp/imports"; then
    echo "FAIL: the DLL needs a MinGW runtime DLL"; exit 1
  fi
  ;;
*) echo "unknown kind $kind"; exit 2 ;;
esac

if ! diff -u "$tmp/want" "$tmp/got"; then
  echo "FAIL: exported names differ from $expected"
  exit 1
fi
echo "exports: $(wc -l < "$tmp/got") names, as expected"
