#!/usr/bin/env bash
# Makes the release packages into dist/:
#   tranpak-<version>-win32.zip, tranpak-<version>-win64.zip   (MinGW, Release)
#   tranpak-<version>-linux-x86_64.tar.gz and tranpak_<version>_amd64.deb
# Each comes from its own Release build (build/release-<system>/) through
# CPack; cmake/packaging.cmake says what goes in. Installs what is missing.
#   package.sh                      all three systems
#   package.sh linux|win32|win64... only those (dist/ is emptied first)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
jobs=$(nproc 2>/dev/null || echo 2)

source scripts/lib/packages.sh
need_packages cmake make g++ g++-mingw-w64-i686 g++-mingw-w64-x86-64 binutils-mingw-w64-i686 \
  binutils-mingw-w64-x86-64 dpkg-dev file

rm -rf dist
mkdir -p dist

# A Release build of one system and its packages: package SYSTEM [CMAKE OPTIONS]
package() {
  local system=$1; shift
  local build=build/release-$system
  echo "== $system: Release build in $build"
  cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DTRANPAK_BUILD_TESTS=OFF "$@" >/dev/null
  cmake --build "$build" -j"$jobs" >/dev/null
  echo "== $system: packages"
  (cd "$build" && cpack -B "$root/dist" >/dev/null)
}

systems=("$@")
[ ${#systems[@]} -gt 0 ] || systems=(linux win32 win64)
for system in "${systems[@]}"; do
  case $system in
  linux) package linux ;;
  win32) package win32 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake -DTRANPAK_MINGW_ARCH=i686 -DTRANPAK_MINGW_THREADS=win32 ;;
  win64) package win64 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake -DTRANPAK_MINGW_ARCH=x86_64 -DTRANPAK_MINGW_THREADS=win32 ;;
  *) echo "package.sh: no system '$system' (linux, win32, win64)" >&2; exit 2 ;;
  esac
done
rm -rf dist/_CPack_Packages

echo "== packages in dist/"
ls -l dist
