#!/usr/bin/env bash
# The demo: builds the library and its tools (the Release build the Python
# wheel and the packages share, build/release-linux), lays out a working tree,
# starts the host simulator on a free loopback port, runs one purchase and
# one file send and fetch with the client, prints the decoded trace, and
# stops the host.
#
#   demo-run/bin/    the library and the tools
#   demo-run/etc/    bitmap.txt, the field definitions
#   demo-run/run/    where the client runs: its settings file
#                    (c:/windows/system/8583.ini), error log and trace
#   demo-run/files/  the directory the host serves to file transfers
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
key=0123456789ABCDEF

source scripts/lib/packages.sh
need_packages cmake make g++

source scripts/lib/release_build.sh
release_build
build=$release_dir

work=$root/demo-run
rm -rf "$work"
mkdir -p "$work/bin" "$work/etc" "$work/run/c:/windows/system" "$work/files"
cp -P "$build"/libtranpak.so* "$build"/tools/tranpak-host "$build"/tools/tranpak-client \
  "$build"/tools/tranpak-trace "$build"/tools/tranpak-demo "$work/bin/"
cp etc/bitmap.txt "$work/etc/"
cat > "$work/run/c:/windows/system/8583.ini" <<'INI'
[Com Trace Flag]
GCODEFLAG=1
[Error Log File]
ERRFILE=../run/errlog.txt
[Bitmap Define File]
BMPFILE=../etc/bitmap.txt
[Com Trace File]
CTRACEFILE=../run/ctrace.txt
INI
cd "$work/run"
bin=$work/bin

echo "== the field definitions, as the C interface sees them (tranpak-demo, shared library)"
LD_LIBRARY_PATH=$bin "$bin/tranpak-demo"

echo "== starting tranpak-host"
"$bin/tranpak-host" --key $key --defs ../etc/bitmap.txt --dir ../files \
  --set 39=00 --set 38=A1B2C3 --set 37=000000123456 --port-file host.port > host.log 2>&1 &
host_pid=$!
trap 'kill -INT $host_pid 2>/dev/null || true' EXIT
for _ in $(seq 100); do [ -s host.port ] && break; sleep 0.05; done
port=$(cat host.port)
echo "host listening on 127.0.0.1:$port"

echo
echo "== a purchase: 0200 with card number, processing code, amount, trace number, terminal, merchant, currency"
"$bin/tranpak-client" --host 127.0.0.1 --port "$port" --key $key \
  0200 2=4761739001010119 3=000000 4=12.50 11=000001 41=TERM0001 42=MERCHANT0000001 49=978

echo
echo "== a file sent to the host and fetched back"
printf 'settlement batch 0001\r\ntotal 12.50\r\n' > batch.txt
"$bin/tranpak-client" --host 127.0.0.1 --port "$port" send-file batch.txt batch-0001.txt
"$bin/tranpak-client" --host 127.0.0.1 --port "$port" fetch-file batch-0001.txt batch-back.txt
if cmp -s batch.txt batch-back.txt; then
  echo "batch-back.txt is identical to batch.txt"
else
  echo "batch-back.txt DIFFERS from batch.txt"; exit 1
fi

echo
echo "== the host's log"
kill -INT $host_pid
wait $host_pid || true
trap - EXIT
cat host.log

echo
echo "== the communication trace, decoded (card data masked)"
"$bin/tranpak-trace" --defs ../etc/bitmap.txt --key $key ctrace.txt
echo
echo "working tree: $work"
