#!/bin/sh
# CheckMesgMac takes the same path for a MAC wrong in its first byte as for
# one wrong in its last: callgrind counts the same instructions inside it
# (the error-log line, whose time stamp varies, left out).
#   mac_check_paths.sh path/to/mac_check_probe
set -eu
probe=$1
command -v valgrind >/dev/null 2>&1 || { echo "SKIP: valgrind is not installed"; exit 77; }
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
count() {
  valgrind --tool=callgrind --callgrind-out-file="$tmp/out" --collect-atstart=no \
    --toggle-collect='tranpak::CheckMesgMac*' --toggle-collect='tranpak::WriteErrLog*' \
    "$probe" "$1" "$2" >/dev/null 2>"$tmp/log" || { echo "FAIL: probe $1 $2 did not refuse every MAC"; exit 1; }
  sed -n 's/^\(summary\|totals\): *\([0-9]*\).*/\2/p' "$tmp/out" | head -1
}
status=0
for algorithm in legacy alg3 aes; do
  a=$(count "$algorithm" first)
  b=$(count "$algorithm" last)
  echo "$algorithm: $a instructions with the first byte wrong, $b with the last"
  if [ -z "$a" ] || [ "$a" -eq 0 ] || [ "$a" != "$b" ]; then
    echo "FAIL: $algorithm"
    status=1
  fi
done
exit $status
