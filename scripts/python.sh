#!/usr/bin/env bash
# Builds the Python package's wheel into dist/python/ and prints its path as
# the last line of standard output; its progress goes to standard error.
# The wheel carries a Release build of libtranpak.so and of tranpak-host,
# tranpak-client and tranpak-trace (build/release-linux, the build the demo
# and the packages share; the wheel's tree is in build/python/), the header
# and the example settings, so that installing it gives the whole kit. It is
# built with Debian's setuptools and wheel for /usr/bin/python3, without the
# Python package index (another python3 may come first on PATH and lack
# them). Installs what is missing.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
python=/usr/bin/python3

source scripts/lib/packages.sh
need_packages cmake make g++ python3 python3-pip python3-setuptools python3-wheel

build=build/python
stage=$build/stage
version=$(sed -n 's/^project(tranpak VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)

# The library and the programs come from the Release build the demo and
# the packages share; the wheel's own files go to build/python.
source scripts/lib/release_build.sh
release_build
release=$release_dir

echo "== package tree in $stage" >&2
rm -rf "$stage"
mkdir -p "$stage"
cp -r python/pyproject.toml python/setup.py python/README.md python/tranpak "$stage/"
cp LICENSE "$stage/"
find "$stage" -name __pycache__ -prune -exec rm -rf {} +
mkdir -p "$stage/tranpak/lib" "$stage/tranpak/bin" "$stage/tranpak/include" "$stage/tranpak/examples"
# The real file under the plain name: a wheel holds no links, and the
# package loads the library by its path.
cp "$release/libtranpak.so.$version" "$stage/tranpak/lib/libtranpak.so"
cp "$release/tools/tranpak-host" "$release/tools/tranpak-client" "$release/tools/tranpak-trace" "$stage/tranpak/bin/"
strip --strip-unneeded "$stage/tranpak/lib/libtranpak.so" "$stage"/tranpak/bin/*
cp include/tranpak.h "$stage/tranpak/include/"
cp etc/bitmap.txt etc/8583.ini python/examples/locustfile.py "$stage/tranpak/examples/"
printf '# Written by scripts/python.sh from the project'"'"'s CMake version.\n__version__ = "%s"\n' "$version" \
  >"$stage/tranpak/_version.py"

echo "== wheel (pip, a few seconds)" >&2
rm -rf dist/python
mkdir -p dist/python
"$python" -m pip wheel --quiet --no-build-isolation --no-deps --no-index -w dist/python "./$stage"
wheel=$(ls dist/python/tranpak-"$version"-*.whl)
echo "$root/$wheel"
