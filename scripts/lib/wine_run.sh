#!/usr/bin/env bash
# Runs one Windows program under Wine for CTest (its CROSSCOMPILING_EMULATOR):
#   wine_run.sh SECONDS LOADER PROGRAM [ARG...]
# The program is bounded by `timeout`. A program that finds no wineserver
# starts one, with Wine's background services, and they inherit its output:
# were that CTest's pipe, CTest would wait for them to end as well. So the
# program writes to a file, and the file is passed on once it has ended.
set -u
limit=$1
shift
out=$(mktemp /tmp/tranpak-wine-out.XXXXXX)
rc=0
timeout -k 10 "$limit" "$@" </dev/null >"$out" 2>&1 || rc=$?
cat "$out"
rm -f "$out"
exit "$rc"
