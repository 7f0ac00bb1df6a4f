#!/usr/bin/env bash
# tranpak and the npm iso_8583 package, both ways, on random messages over
# fields 2 to 128 (a fixed seed): a 2-byte length, no envelope, ASCII type
# and fields, binary bitmaps.
#   npm_check.sh OUTSIDE_FRAMES MODULES_DIR WORKDIR [SEED] [COUNT]
# MODULES_DIR is the node_modules folder the package was installed into
# (scripts/legs/outside.sh installs it under build/).
set -euo pipefail
frames=$1
modules=$2
work=$3
seed=${4:-8583}
count=${5:-600}
here=$(cd "$(dirname "$0")" && pwd)
rm -rf "$work"
mkdir -p "$work"
"$frames" npm-write "$seed" "$count" "$work/messages.txt"
node "$here/npm_check.js" "$modules" "$work/messages.txt" "$work/npm-frames.txt"
"$frames" npm-read "$work/messages.txt" "$work/npm-frames.txt"
