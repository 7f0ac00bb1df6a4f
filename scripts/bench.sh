#!/usr/bin/env bash
# Builds the benchmarks (Release), counts instructions per call with
# callgrind, runs the time benchmarks, and prints both tables with the
# ratios to the hand-written floors and the goals.
#   scripts/bench.sh [extra Google Benchmark flags]
#   BENCH_RUNS=3     runs of the time benchmarks (each of 10 repetitions)
#   BENCH_CALLS=1000 calls counted per case under callgrind
#   BENCH_LOAD_ONLY=1 only the load over loopback (the last stage)
#   BENCH_TOOLS_DIR=D tranpak-host and tranpak-client from D instead of a
#                    Release build of the tools in build/bench-tools
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib/packages.sh
need_packages cmake make g++ python3 valgrind libbenchmark-dev libssl-dev
cmake -S . -B build/bench -DCMAKE_BUILD_TYPE=Release -DTRANPAK_BUILD_BENCH=ON -DTRANPAK_BUILD_TESTS=OFF \
  -DTRANPAK_BUILD_TOOLS=OFF >/dev/null
cmake --build build/bench -j"$(nproc)" --target tranpak-bench tranpak-count tranpak-load-floor >/dev/null
bin=build/bench/bench
out=build/bench/results
rm -rf "$out"
mkdir -p "$out"
tools=${BENCH_TOOLS_DIR:-}
if [ -z "$tools" ]; then
  cmake -S . -B build/bench-tools -DCMAKE_BUILD_TYPE=Release -DTRANPAK_BUILD_TESTS=OFF >/dev/null
  cmake --build build/bench-tools -j"$(nproc)" --target tranpak-host tranpak-client >/dev/null
  tools=build/bench-tools/tools
fi
tools=$(cd "$tools" && pwd)

echo "$(date -u +%F), $(nproc) cores of $(lscpu | sed -n 's/^Model name: *//p' | head -1)," \
  "$(. /etc/os-release && echo "$PRETTY_NAME"), $(g++ --version | head -1 | sed 's/ (.*)//'), -O3;" \
  "load average at start: $(cut -d' ' -f1-3 /proc/loadavg)" | tee "$out/machine.txt"

if [ -z "${BENCH_LOAD_ONLY:-}" ]; then
# Instructions per call: collection only inside the measured function, the
# counters zeroed after a warm-up (see bench/count_main.cpp).
calls=${BENCH_CALLS:-1000}
while read -r name function; do
  valgrind --tool=callgrind --callgrind-out-file="$out/$name.callgrind" --collect-atstart=no \
    --toggle-collect="$function" "$bin/tranpak-count" "$name" "$calls" >/dev/null 2>"$out/$name.log" || {
    echo "callgrind run of $name failed:" >&2
    tail -5 "$out/$name.log" >&2
    exit 1
  }
  total=$(sed -n 's/^\(summary\|totals\): *\([0-9]*\).*/\2/p' "$out/$name.callgrind" | head -1)
  echo "$name $function $total $calls" >>"$out/counts.txt"
done < <("$bin/tranpak-count" --list)

runs=${BENCH_RUNS:-3}
for r in $(seq 1 "$runs"); do
  echo "time benchmarks, run $r of $runs ..."
  "$bin/tranpak-bench" --benchmark_repetitions=10 --benchmark_report_aggregates_only=true \
    --benchmark_min_time=0.2 --benchmark_enable_random_interleaving=true --benchmark_out="$out/time-$r.json" --benchmark_out_format=json "$@" \
    >"$out/time-$r.txt" 2>&1
done

python3 - "$out" "$runs" <<'PY'
import json, statistics, sys
out, runs = sys.argv[1], int(sys.argv[2])

counts = {}
for line in open(f"{out}/counts.txt"):
    name, _, total, calls = line.split()
    counts[name] = int(total) / int(calls)

def row(cells, widths):
    return "| " + " | ".join(str(c).ljust(w) for c, w in zip(cells, widths)) + " |"

def table(head, rows):
    widths = [max(len(str(r[k])) for r in [head] + rows) for k in range(len(head))]
    print(row(head, widths))
    print("|" + "|".join("-" * (w + 2) for w in widths) + "|")
    for r in rows:
        print(row(r, widths))

def goal_text(ratio, goal):
    if goal is None:
        return ""
    return f"at most {goal} ({'met' if ratio <= goal else 'missed'})"

print("\nInstructions per call (callgrind), library against the hand-written floor:\n")
rows = []
for what, lib, floor, goal in [
    ("SockSendMesg, worked example (54-byte frame)", "send_example", "send_example_floor", 1.5),
    ("SockRecvMesg, worked example", "recv_example", "recv_example_floor", 8),
    ("TpSockSendMesg (a session), worked example", "send_example_session", "send_example_floor", 1.5),
    ("TpSockRecvMesg (a session), worked example", "recv_example_session", "recv_example_floor", 8),
    ("CheckMesgMac, worked example", "check_example", "check_example_floor", None),
    ("SockSendMesg, full message (2047-byte frame)", "send_full", "send_full_floor", None),
    ("SockRecvMesg, full message", "recv_full", "recv_full_floor", None),
    ("SockSendMesg then SockRecvMesg, full message", ("send_full", "recv_full"),
     ("send_full_floor", "recv_full_floor"), 2),
    ("CheckMesgMac, full message", "check_full", "check_full_floor", None),
]:
    l = sum(counts[k] for k in lib) if isinstance(lib, tuple) else counts[lib]
    f = sum(counts[k] for k in floor) if isinstance(floor, tuple) else counts[floor]
    rows.append([what, f"{l:.0f}", f"{f:.0f}", f"{l / f:.2f}", goal_text(l / f, goal)])
table(["what", "library", "floor", "ratio", "goal"], rows)

# A dialect against the seed's format, the same message through a session.
rows = []
for what, dialect, seed, goal in [
    ("TpPackMesg, worked example, BINARY2 + BCD numbers and prefixes", "pack_example_bcd", "pack_example_session",
     None),
    ("TpUnpackMesg, the same", "unpack_example_bcd", "unpack_example_session", None),
    ("both", ("pack_example_bcd", "unpack_example_bcd"), ("pack_example_session", "unpack_example_session"), 1.5),
]:
    l = sum(counts[k] for k in dialect) if isinstance(dialect, tuple) else counts[dialect]
    f = sum(counts[k] for k in seed) if isinstance(seed, tuple) else counts[seed]
    rows.append([what, f"{l:.0f}", f"{f:.0f}", f"{l / f:.2f}", goal_text(l / f, goal)])
table(["what", "dialect", "seed's format", "ratio", "goal"], rows)

# Each run's medians; a figure is the median of the runs' medians. CPU time
# for the benchmarks that only compute, real time for the exchanges.
per_run, cpu_run, rate_run = [], [], []
for r in range(1, runs + 1):
    med, cpu, rate = {}, {}, {}
    for b in json.load(open(f"{out}/time-{r}.json"))["benchmarks"]:
        if b.get("aggregate_name") == "median":
            key = b["run_name"].replace("/real_time", "")
            med[key] = b["real_time"] if "real_time" in b["run_name"] else b["cpu_time"]
            cpu[key] = b["cpu_time"]
            rate[key] = b.get("items_per_second", 0)
    per_run.append(med)
    cpu_run.append(cpu)
    rate_run.append(rate)

def ns(key):
    return statistics.median(m[key] for m in per_run)

def fmt(v):
    return f"{v / 1000:.2f} µs" if v >= 1000 else f"{v:.0f} ns"

print(f"\nTime per call (medians of {runs} runs of 10 repetitions each):\n")
rows = []
for what, lib, ref, refname, goal in [
    ("MAC, fold + DES, same key each time", "BM_MacLibrary", "BM_MacOpenSSL", "OpenSSL, fresh schedule", 1.5),
    ("MAC, fold + DES, key changing each time", "BM_MacLibraryNewKey", "BM_MacOpenSSL", "OpenSSL, fresh schedule", 1.5),
    ("pack the worked example", "BM_PackExample", "BM_PackExampleFloor", "floor", None),
    ("unpack the worked example (after ResetMesg)", "BM_UnpackExample", "BM_UnpackExampleFloor", "floor", 5),
    ("pack a full message", "BM_PackFull", "BM_PackFullFloor", "floor", None),
    ("unpack a full message (after ResetMesg)", "BM_UnpackFull", "BM_UnpackFullFloor", "floor", None),
]:
    l, f = ns(lib), ns(ref)
    rows.append([what, fmt(l), f"{refname} {fmt(f)}", f"{l / f:.2f}", goal_text(l / f, goal)])
ratios = [m["BM_ExchangeLibrary"] / m["BM_ExchangeBareSockets"] for m in per_run]
l, f, q = ns("BM_ExchangeLibrary"), ns("BM_ExchangeBareSockets"), statistics.median(ratios)
rows.append(["one request and reply over loopback", fmt(l), f"bare sockets {fmt(f)}",
             f"{q:.2f} (runs: {', '.join(f'{x:.2f}' for x in ratios)})", goal_text(q, 1.10)])
table(["what", "library", "reference", "ratio", "goal"], rows)
print(f"\nTime per MAC, TpMac against OpenSSL in the same run (medians of {runs} runs; goal: at most 1.5 for"
      f" the DES-based ones, at most 2 for AES-CMAC on the AES instructions; -portable: the bit-sliced path):\n")
rows = []
for key in sorted(k for k in per_run[0] if k.startswith("BM_TpMac/")):
    case, size = key.split("/")[1:3]
    l, o = ns(key), ns(key.replace("BM_TpMac/", "BM_OpenSslMac/"))
    rows.append([case, size, fmt(l), fmt(o), f"{l / o:.2f}"])
table(["algorithm", "bytes", "TpMac", "OpenSSL", "ratio"], rows)
lc = statistics.median(m["BM_ExchangeLibrary"] for m in cpu_run)
bc = statistics.median(m["BM_ExchangeBareSockets"] for m in cpu_run)
print(f"\nExchanges per second over loopback, each thread with its own session, connection and host"
      f" thread (medians of {runs} runs), against bare sockets with the same threads:\n")
rows = []
one = statistics.median(m["BM_ExchangeSessions/threads:1"] for m in rate_run)
for t in (1, 2, 4):
    lib = statistics.median(m[f"BM_ExchangeSessions/threads:{t}"] for m in rate_run)
    bare = statistics.median(m[f"BM_ExchangeSessionsBare/threads:{t}"] for m in rate_run)
    rows.append([t, f"{lib:,.0f}", f"{bare:,.0f}", f"{lib / bare:.2f}", f"{lib / one:.2f}"])
table(["threads", "sessions", "bare sockets", "ratio", "scaling from 1 thread"], rows)

print(f"\nCPU time of the calling thread per exchange (system calls included): library {fmt(lc)},"
      f" bare sockets {fmt(bc)}, difference {fmt(lc - bc)}")
PY
fi

# Load over loopback: tranpak-client --count against tranpak-host serving
# up to 64 connections at once, next to the floor (bench/load_floor.cpp)
# with the same connections, one after the other for each count of
# connections. The worked example's definitions; tracing off.
load_count=20000
load_key=0123456789ABCDEF
load=$(mktemp -d /tmp/tranpak-load.XXXXXX)
host_pid=
stop_host() {
  if [ -n "$host_pid" ]; then kill -INT "$host_pid" 2>/dev/null; wait "$host_pid" 2>/dev/null || true; fi
  host_pid=
}
trap 'stop_host; rm -rf "$load"' EXIT
mkdir -p "$load/files"
printf 'PAN N 19,2 2\nPROCCODE N 6 3\nAMOUNT NF 12 4\nMAC B 8 64\n' > "$load/bitmap.txt"
printf '[Com Trace Flag]\nGCODEFLAG=0\n[Error Log File]\nERRFILE=%s\n[Bitmap Define File]\nBMPFILE=%s\n' \
  "$load/errlog.txt" "$load/bitmap.txt" > "$load/8583.ini"
"$tools/tranpak-host" --key $load_key --defs "$load/bitmap.txt" --dir "$load/files" --errlog "$load/host-errlog.txt" \
  --max-clients 64 --port 0 --port-file "$load/port" > "$out/load-host.log" 2>&1 &
host_pid=$!
for _ in $(seq 100); do [ -s "$load/port" ] && break; sleep 0.05; done
[ -s "$load/port" ] || { echo "tranpak-host did not start:" >&2; tail -5 "$out/load-host.log" >&2; exit 1; }
port=$(cat "$load/port")
echo "load over loopback, $load_count exchanges per run ..."
for c in 1 4 16 64; do
  "$tools/tranpak-client" --host 127.0.0.1 --port "$port" --key $load_key --settings "$load/8583.ini" \
    --count $load_count --connections $c --json --no-progress 0200 2=12345678 3=123 4=10.00 \
    > "$out/load-client-$c.json" 2> "$out/load-client-$c.log" || echo "client, $c connections: exit $?" >> "$out/load-exits.txt"
  "$bin/tranpak-load-floor" --count $load_count --connections $c \
    > "$out/load-floor-$c.json" 2> "$out/load-floor-$c.log" || echo "floor, $c connections: exit $?" >> "$out/load-exits.txt"
done
stop_host

load_failed=0
python3 - "$out" $load_count 1 4 16 64 <<'PY' || load_failed=1
import json, sys
out, count, conns = sys.argv[1], int(sys.argv[2]), sys.argv[3:]

def summary(name):
    try:
        lines = [l for l in open(f"{out}/{name}.json") if l.strip()]
        return json.loads(lines[-1])
    except (OSError, IndexError, ValueError):
        return None

def row(cells, widths):
    return "| " + " | ".join(str(c).ljust(w) for c, w in zip(cells, widths)) + " |"

print(f"\nLoad over loopback: {count:,} exchanges of the worked example, client against host, next to the floor:\n")
rows, bad = [], []
for c in conns:
    cells = [c]
    for who in ("client", "floor"):
        s = summary(f"load-{who}-{c}")
        if s is None or s.get("failed") != 0 or s.get("done") != count:
            bad.append(f"{who}, {c} connections: " + ("no summary" if s is None else
                       f"{s.get('done')} done, {s.get('failed')} failed {json.dumps(s.get('failures', {}))}"))
        if s is None:
            cells += ["-", "-"]
        else:
            cells += [f"{s['per_second']:,.0f}", f"{s['latency_us']['p99'] / 1000:.3f}"]
    rows.append(cells)
head = ["connections", "client exchanges/s", "client p99 ms", "floor exchanges/s", "floor p99 ms"]
widths = [max(len(str(r[k])) for r in [head] + rows) for k in range(len(head))]
print(row(head, widths))
print("|" + "|".join("-" * (w + 2) for w in widths) + "|")
for r in rows:
    print(row(r, widths))
for b in bad:
    print(f"FAILED: {b}", file=sys.stderr)
sys.exit(1 if bad else 0)
PY
if [ -s "$out/load-exits.txt" ]; then
  cat "$out/load-exits.txt" >&2
  load_failed=1
fi
exit $load_failed
