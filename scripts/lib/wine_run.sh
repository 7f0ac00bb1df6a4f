#!/usr/bin/env bash
# Runs one Windows program under Wine for CTest (its CROSSCOMPILING_EMULATOR):
#   wine_run.sh SECONDS LOADER PROGRAM [ARG...]
# The program is bounded by `timeout`. A program that finds no wineserver
# starts one, with Wine's background services, and they inherit its output:
# were that CTest's pipe, CTest would wait for them to end as well. So the
# program writes to a file, and the file is passed on once it has ended.
#
# A program that starts just as the idle wineserver of the one before is
# going away can lose it before running a single line ("wine client
# error:0: recvmsg: Connection reset by peer", all it prints): that start
# is Wine's, not the program's, and the program is started once more.
set -u
limit=$1
shift
out=$(mktemp /tmp/tranpak-wine-out.XXXXXX)
for attempt in 1 2; do
  rc=0
  timeout -k 10 "$limit" "$@" </dev/null >"$out" 2>&1 || rc=$?
  if [ "$rc" -ne 0 ] && [ "$attempt" -eq 1 ] &&
    [ "$(grep -cv -e '^wine client error:[0-9]*: recvmsg: Connection reset by peer$' -e '^$' "$out")" -eq 0 ]; then
    echo "(Wine lost its server as the program started; starting it again)" >&2
    sleep 1
    continue
  fi
  break
done
cat "$out"
rm -f "$out"
exit "$rc"
