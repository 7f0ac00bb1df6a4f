#!/usr/bin/env bash
# Frames checked by decoders written elsewhere: Debian's tshark with its own
# ISO 8583 dissector decodes what tranpak writes in the dialects it reads
# (tests/outside/tshark_check.sh), and the npm iso_8583 package reads what
# tranpak writes and tranpak reads what the package writes, for random
# messages over fields 2 to 128 (tests/outside/npm_check.sh). Installs
# what is missing: tshark, Node.js and npm from Debian, the package from
# the npm registry into build/outside/npm (never into the sources).
set -euo pipefail
cd "$(dirname "$0")/../.."
root=$(pwd)
source scripts/lib/packages.sh
need_packages tshark python3 cmake make g++
# Node.js may come from elsewhere than Debian (its own packages bring npm).
if ! command -v node >/dev/null || ! command -v npm >/dev/null; then
  need_packages nodejs npm
fi

cmake --preset native >/dev/null
cmake --build build/native -j"$(nproc 2>/dev/null || echo 2)" --target outside_frames >/dev/null
frames=$root/build/native/tests/outside_frames

# The version these checks were written against (its formats, its habit of
# always sending a secondary bitmap).
npm_version=2.6.7
modules=$root/build/outside/npm/node_modules
if [ "$(node -p "require('$modules/iso_8583/package.json').version" 2>/dev/null)" != "$npm_version" ]; then
  echo "== npm install iso_8583@$npm_version"
  mkdir -p build/outside/npm
  (cd build/outside/npm && npm install --no-audit --no-fund --no-save --prefix . "iso_8583@$npm_version" >install.log 2>&1) ||
    { tail -n 20 build/outside/npm/install.log; exit 1; }
fi

status=0
echo "== tshark's ISO 8583 dissector on tranpak's frames ($(tshark --version 2>/dev/null | head -n 1))"
tests/outside/tshark_check.sh "$frames" "$root/build/outside/tshark" || status=1
echo "== the npm iso_8583 package $npm_version and tranpak, both ways"
tests/outside/npm_check.sh "$frames" "$modules" "$root/build/outside/npm-work" || status=1
exit $status
