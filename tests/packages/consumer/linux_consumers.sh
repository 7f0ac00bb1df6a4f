#!/usr/bin/env bash
# Builds tests/packages/consumer/consumer.c against an installed or unpacked library
# from outside the project, once with find_package and once with
# pkg-config, and runs both programs.
#   linux_consumers.sh PREFIX SOURCE_DIR
set -euo pipefail
prefix=$1 src=$2
work=$(mktemp -d /tmp/tranpak-consumer.XXXXXX)
trap 'rm -rf "$work"' EXIT
libdir=$(dirname "$(find "$prefix" -name 'libtranpak.so' | head -n 1)")

echo "== find_package(tranpak)"
cmake -S "$src/tests/packages/consumer" -B "$work/cmake-build" -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$work/cmake-build" >/dev/null
LD_LIBRARY_PATH=$libdir "$work/cmake-build/consumer"

echo "== pkg-config tranpak"
export PKG_CONFIG_PATH=$libdir/pkgconfig
cc -o "$work/pc-consumer" "$src/tests/packages/consumer/consumer.c" $(pkg-config --cflags --libs tranpak)
LD_LIBRARY_PATH=$libdir "$work/pc-consumer"
echo "both consumers built and ran"
