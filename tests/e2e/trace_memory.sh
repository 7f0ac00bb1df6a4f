#!/usr/bin/env bash
# The trace decoder's memory does not grow with its input: a generated
# trace of 131,073 blocks (26 MB) with a line of 16 MiB amid them (42 MB
# in all) decodes every block within a bounded peak resident size.
#   trace_memory.sh TRANPAK_TRACE SOURCE_DIR
# Exit 77 (skipped) where the peak size of a child cannot be read.
set -euo pipefail
trace=$1 src=$2
blocks_log2=16
long_line_bytes=$((16 * 1024 * 1024))
peak_limit_kb=$((50 * 1024))

if [ -x /usr/bin/time ]; then
  peak_of() { /usr/bin/time -f %M -o "$work/peak" "$@"; }
elif command -v python3 >/dev/null; then
  peak_of() {
    python3 -c 'import resource, subprocess, sys
rc = subprocess.call(sys.argv[2:])
open(sys.argv[1], "w").write("%d\n" % resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss)
sys.exit(rc)' "$work/peak" "$@"
  }
else
  echo "no way to read a child's peak resident size here: skipped"
  exit 77
fi

work=$(mktemp -d /tmp/tranpak-trace-memory.XXXXXX)
trap 'rm -rf "$work"' EXIT
cd "$work"

# A 0800 with field 41 "TERM0001": a 26-byte frame that decodes.
cat > block.txt <<'EOF'

{12-09 02:05:25 send mesg body} [len = 026]
0000 : 02-30-30-32 30-30-38-30 30-00-00-00 00-00-80-00 || .00200800.......
0016 : 00-54-45-52 4D-30-30-30 31-03                   || .TERM0001.      

EOF
cp block.txt half.txt
for _ in $(seq "$blocks_log2"); do cat half.txt half.txt > twice.txt && mv twice.txt half.txt; done
{
  cat half.txt
  head -c "$long_line_bytes" /dev/zero | tr '\0' '{'
  cat block.txt half.txt
} > trace.txt
rm half.txt
want=$((2 * (1 << blocks_log2) + 1))

rc=0
peak_of "$trace" --defs "$src/etc/bitmap.txt" trace.txt 2> errors.txt | tail -n 1 > last.txt || rc=$?
peak=$(tail -n 1 peak)
failures=0
[ "$rc" -eq 0 ] || { echo "FAIL: exit $rc"; failures=$((failures + 1)); }
[ "$(cat last.txt)" = "$want packets" ] || { echo "FAIL: last line '$(cat last.txt)', want '$want packets'"; failures=$((failures + 1)); }
grep -q "not a trace line ($long_line_bytes bytes)" errors.txt ||
  { echo "FAIL: the long line is not reported"; cat errors.txt; failures=$((failures + 1)); }
[ "$peak" -le "$peak_limit_kb" ] || { echo "FAIL: peak resident size $peak KB, limit $peak_limit_kb KB"; failures=$((failures + 1)); }
echo "$(wc -c < trace.txt) bytes, $want packets, peak resident size $peak KB (limit $peak_limit_kb KB)"
[ "$failures" -eq 0 ]
