#!/usr/bin/env bash
# The demo: builds the library and its tools, lays out a working tree
# (bin/, etc/, run/ and a settings file), and runs the demo program in it.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

missing=()
for p in cmake make g++; do dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p"); done
if [ ${#missing[@]} -gt 0 ]; then
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}" >/dev/null
fi

cmake -S . -B build/demo -DCMAKE_BUILD_TYPE=Release -DTRANPAK_BUILD_TESTS=OFF >/dev/null
cmake --build build/demo -j"$(nproc)" >/dev/null

work=$root/demo-run
rm -rf "$work"
mkdir -p "$work/bin" "$work/etc" "$work/run"
cp build/demo/libtranpak.so* build/demo/tools/tranpak-demo "$work/bin/"
cp etc/bitmap.txt "$work/etc/"
# The settings file is found at c:/windows/system/8583.ini, relative to the
# directory the program runs in.
mkdir -p "$work/run/c:/windows/system"
cat > "$work/run/c:/windows/system/8583.ini" <<'INI'
[Com Trace Flag]
GCODEFLAG=1
[Error Log File]
ERRFILE=../run/errlog.txt
[Bitmap Define File]
BMPFILE=../etc/bitmap.txt
[Com Trace File]
CTRACEFILE=../run/ctrace.txt
INI

cd "$work/run"
LD_LIBRARY_PATH="$work/bin" "$work/bin/tranpak-demo"
echo "working tree: $work"
