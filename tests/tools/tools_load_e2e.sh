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

# A single message to a host that never answers, and settings without
# [Com Timeout]: the client gives up after its own default of 10 s. It
# waits in the background while the rest goes on, and is looked at last.
start_host silent --fault late --delay-ms 600000
silent_host=$host
( t0=$(ms); timeout 40 "$bin/tranpak-client" --port "$port" --key $key 0800 11=000001 > silent.out 2>&1
  echo "$? $(( $(ms) - t0 ))" > silent.rc ) &
silent=$!

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
for p in "${pids[@]:2}"; do kill "$p" 2>/dev/null; wait "$p" 2>/dev/null; done
pids=($silent_host $host)
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
pids=($silent_host)
[ $((t1 - t0)) -le 1000 ] && pass "Ctrl-C stopped host and client in $((t1 - t0)) ms" \
  || fail "Ctrl-C took $((t1 - t0)) ms"
grep -qE '^exchanges: 100000000 requested, [1-9][0-9]* done' stopped.out && pass "summary printed after Ctrl-C" \
  || { fail "no summary after Ctrl-C (exit $client_rc)"; sed 's/^/      /' stopped.out; }
grep -q 'tranpak-host: stopped' host.log && pass "host stopped cleanly" || fail "host did not say it stopped"
ls -a ../files | grep -q tranpak- && fail "a temporary file was left" || pass "no temporary file left"

# A host that never answers, and settings without [Com Timeout]: one
# Ctrl-C ends the load within a second with its summary, whatever the four
# connections wait on.
start_host mute --fault late --delay-ms 600000
"$bin/tranpak-client" --port "$port" --key $key --count 1000 --connections 4 --no-progress "${purchase[@]}" \
  > mute.out 2>&1 &
client=$!
watched 15 $client
sleep 1
t0=$(ms); kill -INT $client; wait $client; rc=$?; t1=$(ms)
unwatched
[ $rc -eq 130 ] && [ $((t1 - t0)) -le 1000 ] &&
  grep -q "^stopped: by Ctrl-C after 0 of 1000 exchanges, 4 in flight left unfinished$" mute.out &&
  grep -q "^exchanges: 1000 requested, 0 done, 0 failed$" mute.out \
  && pass "a host that never answers: one Ctrl-C ended the load in $((t1 - t0)) ms with its summary" \
  || { fail "a host that never answers: exit $rc after $((t1 - t0)) ms"; sed 's/^/      /' mute.out; }
# Without Ctrl-C, each reply is awaited a bounded time.
t0=$(ms)
out=$(timeout 30 "$bin/tranpak-client" --port "$port" --key $key --count 2 --recv-timeout 1 --no-progress \
  "${purchase[@]}" 2>&1)
rc=$? t1=$(ms)
[ $rc -eq 1 ] && grep -q "^failures: time limit 2$" <<< "$out" && grep -q "recv time limit of 1 s passed" <<< "$out" \
  && pass "--recv-timeout 1: two exchanges failed in $((t1 - t0)) ms" || fail "--recv-timeout 1: exit $rc: $out"
t0=$(ms)
out=$(timeout 30 "$bin/tranpak-client" --port "$port" --key $key --recv-timeout 1 "${purchase[@]}" 2>&1)
rc=$? t1=$(ms)
[ $rc -eq 1 ] && [ $((t1 - t0)) -ge 900 ] && [ $((t1 - t0)) -le 3000 ] &&
  grep -q "receiving the reply failed: tranpak: .*recv time limit of 1 s passed" <<< "$out" \
  && pass "--recv-timeout 1: a single message gave up in $((t1 - t0)) ms" \
  || fail "--recv-timeout 1, a single message: exit $rc after $((t1 - t0)) ms: $out"
"$bin/tranpak-client" --help | grep -q "settings' \[Com Timeout\] RECV, else 10" && pass "--help gives the receive default" \
  || fail "--help lacks the receive default"
kill -INT $host; wait $host

# The host goes away in the middle of a load: connects back off, and the
# load ends --give-up seconds after the last connection, with exit 1.
start_host doomed --set 39=00
"$bin/tranpak-client" --port "$port" --key $key --count 1000000000 --connections 4 --give-up 2 --no-progress \
  "${purchase[@]}" > doomed.out 2>&1 &
client=$!
watched 30 $client
sleep 1
kill -INT $host; wait $host
t0=$(ms); wait $client; rc=$?; t1=$(ms)
unwatched
connects=$(sed -n 's/^failures: .*connect \([0-9]*\).*/\1/p' doomed.out)
[ $rc -eq 1 ] && [ $((t1 - t0)) -ge 1500 ] && [ $((t1 - t0)) -le 4000 ] &&
  grep -q "no connection to 127.0.0.1:$port could be made for 2 s: the load ends" doomed.out &&
  grep -qE "^ended: no connection could be made for 2 s, after [1-9][0-9]* of 1000000000 exchanges" doomed.out &&
  [ -n "$connects" ] && [ "$connects" -le 200 ] \
  && pass "host gone: the load ended $((t1 - t0)) ms later after $connects failed connects, exit 1" \
  || { fail "host gone: exit $rc after $((t1 - t0)) ms"; sed 's/^/      /' doomed.out; }

# Peers that take each connection and close it before answering: the
# client backs off as after a failed connect, and ends --give-up seconds
# later, instead of failing thousands of exchanges a second for ever. One
# closes at once (when python3 is here), one reads the request first.
closing_peer() {
  local name=$1 t0 t1 rc closed
  shift
  t0=$(ms)
  timeout 30 "$bin/tranpak-client" --port "$port" --key $key --count 1000000000 --give-up 2 --no-progress "$@" \
    "${purchase[@]}" > closed.out 2>&1
  rc=$? t1=$(ms)
  closed=$(sed -n "s/^failures: ${failure:-peer closed} \([0-9]*\)$/\1/p" closed.out)
  [ $rc -eq 1 ] && [ $((t1 - t0)) -ge 1500 ] && [ $((t1 - t0)) -le 5000 ] && [ -n "$closed" ] && [ "$closed" -le 200 ] &&
    grep -q "every connection to 127.0.0.1:$port was closed before an answer for 2 s: the load ends" closed.out &&
    grep -qE "^ended: every connection was closed before an answer for 2 s, after $closed of 1000000000 exchanges" closed.out \
    && pass "$name: the load ended in $((t1 - t0)) ms after $closed closed connections, exit 1" \
    || { fail "$name: exit $rc after $((t1 - t0)) ms"; sed 's/^/      /' closed.out; }
}
if command -v python3 > /dev/null; then
  python3 -c 'import socket, sys
s = socket.socket(); s.bind(("127.0.0.1", 0)); s.listen(128)
open(sys.argv[1], "w").write("%d\n" % s.getsockname()[1])
while True:
    s.accept()[0].close()' closer.port &
  pids+=($!)
  for _ in $(seq 100); do [ -s closer.port ] && break; sleep 0.05; done
  port=$(cat closer.port)
  closing_peer "a peer that closes each connection at once, 4 connections" --connections 4
  # A peer that is no host of this protocol (a web server, say): it reads
  # the request, answers with its own bytes and closes. Bytes that are no
  # Packet show no host either.
  python3 -c 'import socket, sys
s = socket.socket(); s.bind(("127.0.0.1", 0)); s.listen(128)
open(sys.argv[1], "w").write("%d\n" % s.getsockname()[1])
while True:
    c = s.accept()[0]
    c.recv(4096)
    c.sendall(b"HTTP/1.0 400 Bad Request\r\n\r\n")
    c.close()' web.port &
  pids+=($!)
  for _ in $(seq 100); do [ -s web.port ] && break; sleep 0.05; done
  port=$(cat web.port)
  failure=malformed closing_peer "a peer that answers with no Packet, 4 connections" --connections 4
else
  pass "(no python3 here: the peer that closes at once is not tried)"
fi
start_host closing --fault close
closing_peer "a host that closes without answering, a connection for each exchange" --connect-each
# Every other connection closed unanswered: each answer starts the back-off
# again from 10 ms, so 100 of them cost about a second, not 100 x 500 ms.
start_host halfclosing --fault close --fault-every 2
t0=$(ms)
out=$(timeout 60 "$bin/tranpak-client" --port "$port" --key $key --count 200 --connect-each --no-progress \
  "${purchase[@]}" 2>&1)
rc=$? t1=$(ms)
[ $rc -eq 1 ] && grep -q "^exchanges: 200 requested, 100 done, 100 failed$" <<< "$out" && [ $((t1 - t0)) -le 10000 ] \
  && pass "every other connection closed unanswered: 200 exchanges in $((t1 - t0)) ms" \
  || fail "every other connection closed unanswered: exit $rc after $((t1 - t0)) ms: $out"

wait $silent
read -r rc took < silent.rc
[ "$rc" = 1 ] && [ "$took" -ge 9500 ] && [ "$took" -le 20000 ] &&
  grep -q "receiving the reply failed: tranpak: .*recv time limit of 10 s passed" silent.out \
  && pass "no receive limit in the settings: a single message gave up after $took ms" \
  || { fail "no receive limit in the settings, a single message: exit $rc after $took ms"; sed 's/^/      /' silent.out; }

e2e_finish
