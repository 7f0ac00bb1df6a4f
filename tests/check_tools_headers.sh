#!/bin/sh
# Fails when a file under tools/ includes a header of the library's
# internals: any path through src/ ("src/...", "../src/..."), or one that
# starts with a folder of src/ ("core/...", "../packet/...").
# usage: check_tools_headers.sh TOOLS_DIR SRC_DIR
tools=$1 src=$2
folders=$(cd "$src" && ls -d */ | tr -d / | paste -sd'|' -)
found=$(grep -rnE "^[[:space:]]*#[[:space:]]*include[[:space:]]*[<\"](\\.\\./|\\./)*(src|$folders)/" "$tools")
if [ -n "$found" ]; then
  echo "FAIL: tools include internal headers; they may use tranpak.h and their own:"
  echo "$found"
  exit 1
fi
echo "ok: no file under $tools includes a header under $src"
