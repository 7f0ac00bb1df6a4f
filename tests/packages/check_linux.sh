#!/usr/bin/env bash
# Checks the Linux release packages in DIST: the tar.gz and the .deb hold
# exactly the files of tests/packages/linux.txt, the library's SONAME link
# is right, and a consumer builds and runs against each unpacked package.
#   check_linux.sh DIST SOURCE_DIR
set -euo pipefail
dist=$1 src=$2
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d /tmp/tranpak-linux-pkg.XXXXXX)
trap 'rm -rf "$work"' EXIT
tgz=$(ls "$dist"/tranpak-*-linux-x86_64.tar.gz)
deb=$(ls "$dist"/tranpak_*_amd64.deb)
top=$(basename "$tgz" .tar.gz)

same_files() {
  if ! diff -u "$here/linux.txt" "$1"; then
    echo "FAIL: $2 does not hold the expected files"; return 1
  fi
  echo "$2: $(wc -l < "$1") files, as expected"
}

echo "== $(basename "$tgz")"
tar -tzf "$tgz" | grep -v '/$' > "$work/tgz-raw"
grep -v "^$top/" "$work/tgz-raw" && { echo "FAIL: entries outside $top/"; exit 1; }
sed "s|^$top/||" "$work/tgz-raw" | sort > "$work/tgz-files"
same_files "$work/tgz-files" "$(basename "$tgz")"
mkdir "$work/tgz" && tar -xzf "$tgz" -C "$work/tgz"
lib=$work/tgz/$top/lib
soname=$(readelf -d "$lib/libtranpak.so.1.0.0" | sed -n 's/.*SONAME.*\[\(.*\)\]/\1/p')
[ "$soname" = libtranpak.so.1 ] || { echo "FAIL: SONAME is '$soname'"; exit 1; }
[ "$(readlink "$lib/libtranpak.so.1")" = libtranpak.so.1.0.0 ] &&
  [ "$(readlink "$lib/libtranpak.so")" = libtranpak.so.1 ] || { echo "FAIL: library links"; exit 1; }
echo "SONAME libtranpak.so.1, links libtranpak.so -> libtranpak.so.1 -> libtranpak.so.1.0.0"
"$src/tests/packages/consumer/linux_consumers.sh" "$work/tgz/$top" "$src"

echo "== $(basename "$deb")"
dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {print $6}' | sed 's|^\./usr/||' | sort > "$work/deb-files"
same_files "$work/deb-files" "$(basename "$deb")"
echo "Depends: $(dpkg-deb -f "$deb" Depends)"
dpkg-deb -x "$deb" "$work/deb"
"$src/tests/packages/consumer/linux_consumers.sh" "$work/deb/usr" "$src"
