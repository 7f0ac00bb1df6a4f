#!/usr/bin/env bash
# Builds the Python package's wheel into dist/python/ and prints its path as
# the last line. The wheel carries a Release build of libtranpak.so and of
# tranpak-host, tranpak-client and tranpak-trace (build/python/), the header
# and the example settings, so that installing it gives the whole kit. It is
# built with Debian's setuptools and wheel for /usr/bin/python3, without the
# Python package index (another python3 may come first on PATH and lack
# them). Installs what is missing.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
jobs=$(nproc 2>/dev/null || echo 2)
python=/usr/bin/python3

source scripts/lib/packages.sh
need_packages cmake make g++ python3 python3-pip python3-setuptools python3-wheel

build=build/python
stage=$build/stage
version=$(sed -n 's/^project(tranpak VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)

echo "== Release build of the library and the programs in $build"
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DTRANPAK_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j"$jobs" --target tranpak tranpak-host tranpak-client tranpak-trace >/dev/null

echo "== package tree in $stage"
rm -rf "$stage"
mkdir -p "$stage"
cp -r python/pyproject.toml python/setup.py python/README.md python/tranpak "$stage/"
cp LICENSE "$stage/"
find "$stage" -name __pycache__ -prune -exec rm -rf {} +
mkdir -p "$stage/tranpak/lib" "$stage/tranpak/bin" "$stage/tranpak/include" "$stage/tranpak/examples"
# The real file under the plain name: a wheel holds no links, and the
# package loads the library by its path.
cp "$build/libtranpak.so.$version" "$stage/tranpak/lib/libtranpak.so"
cp "$build/tools/tranpak-host" "$build/tools/tranpak-client" "$build/tools/tranpak-trace" "$stage/tranpak/bin/"
strip --strip-unneeded "$stage/tranpak/lib/libtranpak.so" "$stage"/tranpak/bin/*
cp include/tranpak.h "$stage/tranpak/include/"
cp etc/bitmap.txt etc/8583.ini python/examples/locustfile.py "$stage/tranpak/examples/"
printf '# Written by scripts/python.sh from the project'"'"'s CMake version.\n__version__ = "%s"\n' "$version" \
  >"$stage/tranpak/_version.py"

echo "== wheel"
rm -rf dist/python
mkdir -p dist/python
"$python" -m pip wheel --quiet --no-build-isolation --no-deps --no-index -w dist/python "./$stage"
wheel=$(ls dist/python/tranpak-"$version"-*.whl)
echo "$root/$wheel"
