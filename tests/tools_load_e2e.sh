#!/usr/bin/env bash
# The host under load: 64 connections of the client's load mode at once,
# while two clients trickle bytes and one never reads its answers; then
# Ctrl-C in the middle of a load.
#   tools_load_e2e.sh BIN_DIR SOURCE_DIR
set -u
bin=$1 src=$2
key=0123456789ABCDEF
source "$src/tests/support/tools_e2e_lib.sh"
e2e_workspace load $'[Error Log File]\nERRFILE=errlog.txt\n[Bitmap Define File]\nBMPFILE=../etc/bitmap.txt\n'
fds() { ls "/proc/$1/fd" | wc -l; }
# json_number KEY TEXT: the number after "KEY": in a one-line JSON object
json_number() { sed -n "s/.*\"$1\":\([0-9.]*\).*/\1/p" <<< "$2"; }

start_host host --max-clients 100 --client-timeout 10 --set 39=00
sleep 0.2
idle_fds=$(fds $host)

# Two clients that send a byte of a Packet every 300 ms, and one that asks
# for a 32 MiB file and never reads it.
for _ in 1 2; do
  ( exec 3<>/dev/tcp/127.0.0.1/$port
    for _ in $(seq 100); do printf '\002' >&3 || exit; sleep 0.3; done ) &
  pids+=($!)
done
head -c 33554432 /dev/zero > ../files/big.bin
exec 4<>/dev/tcp/127.0.0.1/$port
printf '\0061%04dbig.bin' 7 >&4
sleep 0.3

purchase=(0200 2=4761739001010119 3=000000 4=12.50 11=000001 41=TERM0001)
t0=$(ms)
"$bin/tranpak-client" --port "$port" --key $key "${purchase[@]}" \
  > single.out 2>&1
rc=$? t1=$(ms)
[ $rc -eq 0 ] && [ $((t1 - t0)) -le 1000 ] && pass "one exchange beside the tricklers in $((t1 - t0)) ms" \
  || fail "one exchange beside the tricklers: exit $rc after $((t1 - t0)) ms"

out=$("$bin/tranpak-client" --port "$port" --key $key --count 6400 --connections 64 --json --no-progress \
  "${purchase[@]}" 2>&1)
rc=$?
if [ $rc -eq 0 ] && [ "$(json_number done "$out")" = 6400 ] && [ "$(json_number failed "$out")" = 0 ]; then
  pass "6400 exchanges over 64 connections answered and matched ($(json_number per_second "$out") per second)"
else
  fail "load: exit $rc: $out"
fi
logged=$(grep -c 'message 0200 fields' host.log)
[ "$logged" -eq 6401 ] && pass "the host logged every request once" || fail "the host logged $logged requests, not 6401"

# The bad clients gone, the host holds only what it held idle.
exec 4>&-
for p in "${pids[@]:1}"; do kill "$p" 2>/dev/null; wait "$p" 2>/dev/null; done
pids=($host)
for _ in $(seq 50); do [ "$(fds $host)" -le "$idle_fds" ] && break; sleep 0.1; done
[ "$(fds $host)" -le "$idle_fds" ] && pass "descriptors back to $idle_fds" \
  || fail "host holds $(fds $host) descriptors, $idle_fds when idle"

# A count of 10^9 in 1 GB of address space (a 32-bit process has 2): the
# client's memory follows the exchanges done, so Ctrl-C finds a summary.
# A sanitizer's shadow memory needs far more address space than that.
if grep -aqE '__(a|t)san_init' "$bin/tranpak-client"; then
  pass "(the address-space bound is not checked in a sanitizer build)"
else
  ( ulimit -v 1000000; exec "$bin/tranpak-client" --port "$port" --key $key --count 1000000000 --no-progress \
    "${purchase[@]}" ) > huge.out 2>&1 &
  client=$!
  sleep 1
  kill -INT $client; wait $client; rc=$?
  [ $rc -eq 130 ] && grep -qE '^exchanges: 1000000000 requested, [1-9][0-9]* done' huge.out \
    && pass "--count 1000000000 in 1 GB of address space, stopped by Ctrl-C" \
    || { fail "--count 1000000000 in 1 GB: exit $rc"; sed 's/^/      /' huge.out; }
fi

# Ctrl-C to both programs in the middle of a load: both stop within a
# second, and the client prints what was done.
"$bin/tranpak-client" --port "$port" --key $key --count 100000000 --connections 8 --no-progress \
  "${purchase[@]}" > stopped.out 2>&1 &
client=$!
sleep 1
t0=$(ms)
kill -INT $client $host
wait $client; client_rc=$?
wait $host
t1=$(ms)
pids=()
[ $((t1 - t0)) -le 1000 ] && pass "Ctrl-C stopped host and client in $((t1 - t0)) ms" \
  || fail "Ctrl-C took $((t1 - t0)) ms"
grep -qE '^exchanges: 100000000 requested, [1-9][0-9]* done' stopped.out && pass "summary printed after Ctrl-C" \
  || { fail "no summary after Ctrl-C (exit $client_rc)"; sed 's/^/      /' stopped.out; }
grep -q 'tranpak-host: stopped' host.log && pass "host stopped cleanly" || fail "host did not say it stopped"
ls -a ../files | grep -q tranpak- && fail "a temporary file was left" || pass "no temporary file left"

e2e_finish
