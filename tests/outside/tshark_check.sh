#!/usr/bin/env bash
# Frames tranpak wrote under each dialect Wireshark's ISO 8583 dissector
# reads (a 2-byte length of either byte order, no envelope, ASCII or BCD
# numbers, binary or hexadecimal bitmaps, one or two bitmaps), decoded by
# Debian's tshark and compared with what tranpak's TpDescribe says of
# them: no malformed packet, the same type, bitmaps and field values.
#   tshark_check.sh OUTSIDE_FRAMES WORKDIR
# OUTSIDE_FRAMES is tests/outside/outside_frames.cpp built; tshark and
# text2pcap must be installed (scripts/legs/outside.sh installs them).
set -euo pipefail
frames=$1
work=$2
here=$(cd "$(dirname "$0")" && pwd)
rm -rf "$work"
mkdir -p "$work"
"$frames" tshark "$work"
status=0
for hex in "$work"/*.hex; do
  dialect=$(basename "$hex" .hex)
  # One packet a frame, from port 40000 to 5000, one TCP stream.
  # (text2pcap 3.x/4.0 prints a line of dashes even with -q.)
  text2pcap -q -T 40000,5000 "$hex" "$work/$dialect.pcap" >/dev/null 2>"$work/$dialect.text2pcap" ||
    { cat "$work/$dialect.text2pcap"; exit 1; }
  opts=(-r "$work/$dialect.pcap" -d tcp.port==5000,iso8583)
  while IFS= read -r pref; do opts+=(-o "$pref"); done <"$work/$dialect.prefs"
  binencode=$(sed -n 's/^iso8583.binencode://p' "$work/$dialect.prefs")
  # tshark says on standard error that it runs as root; its other output counts.
  tshark "${opts[@]}" -T json --no-duplicate-keys >"$work/$dialect.json" 2>"$work/$dialect.err"
  broken=$(tshark "${opts[@]}" -Y '_ws.malformed || _ws.expert.severity >= error' 2>/dev/null)
  if [ -n "$broken" ]; then
    echo "$dialect: tshark finds malformed packets:"
    echo "$broken"
    status=1
  fi
  python3 "$here/tshark_compare.py" "$dialect" "$work/$dialect.json" "$work/$dialect.expect" "$binencode" || status=1
done
exit $status
