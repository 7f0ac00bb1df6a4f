#!/usr/bin/env bash
# Installs the library into a scratch prefix and builds a small program
# against it from outside the project, once with find_package and once
# with pkg-config; both programs must run.
#   package_test.sh BUILD_DIR SOURCE_DIR
set -eu
build=$1 src=$2
work=$(mktemp -d /tmp/tranpak-package.XXXXXX)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix

cmake --install "$build" --prefix "$prefix" >/dev/null
libdir=$(dirname "$(find "$prefix" -name 'libtranpak.so' | head -n 1)")
echo "installed: $(cd "$prefix" && find . -type f -o -type l | sort | tr '\n' ' ')"

echo "== find_package(tranpak)"
cmake -S "$src/tests/consumer" -B "$work/cmake-build" -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$work/cmake-build" >/dev/null
LD_LIBRARY_PATH=$libdir "$work/cmake-build/consumer"

echo "== pkg-config tranpak"
export PKG_CONFIG_PATH=$libdir/pkgconfig
cc -o "$work/pc-consumer" "$src/tests/consumer/consumer.c" $(pkg-config --cflags --libs tranpak)
LD_LIBRARY_PATH=$libdir "$work/pc-consumer"
echo "both consumers built and ran"
