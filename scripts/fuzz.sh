#!/usr/bin/env bash
# Builds the fuzz targets with clang and libFuzzer, replays every input kept
# in fuzz/corpus/<target>/ (the seeds and the regression inputs), then
# fuzzes each target for the given number of seconds (default 10).
#   scripts/fuzz.sh            # the short run CI makes
#   scripts/fuzz.sh 3600       # an hour per target
#   scripts/fuzz.sh 600 unpack # one target
# New inputs go to build/fuzz/corpus/<target>/; crashes to build/fuzz/crashes/.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)  # the targets work in scratch directories: every path is absolute
seconds=${1:-10}
shift || true

source scripts/lib/packages.sh
need_packages clang libclang-rt-14-dev cmake make

cmake --preset fuzz >/dev/null
cmake --build build/fuzz -j"$(nproc)" >/dev/null

targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(bmpfile profile unpack recv_mesg recv_file cells trace wire tlv dialect)
mkdir -p build/fuzz/crashes
status=0
for t in "${targets[@]}"; do
  bin=$root/build/fuzz/fuzz/fuzz_$t
  work=$root/build/fuzz/corpus/$t
  kept=$root/fuzz/corpus/$t
  mkdir -p "$work"
  echo "== fuzz_$t: replaying $(ls "$kept" | wc -l) kept inputs"
  if ! "$bin" "$kept"/* >build/fuzz/replay-$t.log 2>&1; then
    tail -n 30 build/fuzz/replay-$t.log; status=1; continue
  fi
  echo "== fuzz_$t: fuzzing for ${seconds}s"
  if ! "$bin" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
      -artifact_prefix="$root/build/fuzz/crashes/$t-" "$work" "$kept" >build/fuzz/fuzz-$t.log 2>&1; then
    tail -n 40 build/fuzz/fuzz-$t.log; status=1; continue
  fi
  grep -E 'stat::number_of_executed_units' build/fuzz/fuzz-$t.log | sed "s/^/   /"
done
exit $status
