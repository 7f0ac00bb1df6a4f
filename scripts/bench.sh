#!/usr/bin/env bash
# Builds and runs the benchmarks (Release), then prints the two ratios.
#   scripts/bench.sh [extra Google Benchmark flags]
set -euo pipefail
cd "$(dirname "$0")/.."
missing=()
for p in cmake make g++ libbenchmark-dev libssl-dev; do dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p"); done
if [ ${#missing[@]} -gt 0 ]; then
  apt-get update -qq
  DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}" >/dev/null
fi
cmake -S . -B build/bench -DCMAKE_BUILD_TYPE=Release -DTRANPAK_BUILD_BENCH=ON -DTRANPAK_BUILD_TESTS=OFF \
  -DTRANPAK_BUILD_TOOLS=OFF >/dev/null
cmake --build build/bench -j"$(nproc)" --target tranpak-bench >/dev/null
out=build/bench/results.json
build/bench/bench/tranpak-bench --benchmark_repetitions=10 --benchmark_report_aggregates_only=true \
  --benchmark_out="$out" --benchmark_out_format=json "$@"
python3 - "$out" <<'PY'
import json, sys
runs = {b["run_name"]: b["real_time"] for b in json.load(open(sys.argv[1]))["benchmarks"]
        if b.get("aggregate_name") == "median"}
mac = runs["BM_MacLibrary"] / runs["BM_MacOpenSSL"]
net = runs["BM_ExchangeLibrary/real_time"] / runs["BM_ExchangeBareSockets/real_time"]
print(f"\nMAC, library / OpenSSL:           {mac:.2f} (goal at most 1.5)")
print(f"exchange, library / bare sockets: {net:.2f} (goal at most 1.1)")
PY
