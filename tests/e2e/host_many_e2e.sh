#!/usr/bin/env bash
# tranpak-host serving many connections at once: slow and silent clients
# hold only their own connection, stores of one name do not mix, a transfer
# has an overall bound, Ctrl-C closes everything, client bytes are escaped.
#   host_many_e2e.sh BIN_DIR SOURCE_DIR
set -u
bin=$1 src=$2
key=0123456789ABCDEF
source "$src/tests/support/tools_e2e_lib.sh"
e2e_workspace many
# logged FILE PATTERN: the pattern shows up in the file within 5 s
logged() { for _ in $(seq 50); do grep -q -- "$2" "$1" && return 0; sleep 0.1; done; return 1; }
purchase=(0200 2=4761739001010119 4=12.50 11=000001 41=TERM0001)
exchange() { timeout 10 "$bin/tranpak-client" --host 127.0.0.1 --port "$port" --key $key "${purchase[@]}" "$@"; }
# exchange_within NAME MILLIS: one exchange completes in time
exchange_within() {
  local t0 rc took
  t0=$(ms); exchange > /dev/null 2>&1; rc=$?; took=$(( $(ms) - t0 ))
  if [ $rc -eq 0 ] && [ $took -le "$2" ]; then pass "$1: exchange in $took ms"
  else fail "$1: exchange took $took ms (exit $rc)"; fi
}

# ---- slow and silent clients hold only their own connection ----
start_host busy
( exec 3<>/dev/tcp/127.0.0.1/$port; for c in '\002' 0 0 5 4 0 2 0 0 0; do printf "$c" >&3; sleep 0.3; done ) &
trickler=$!
sleep 0.4
exchange_within "beside a trickling client" 1000
kill -0 $trickler 2>/dev/null && ! grep -q dropped busy.log && pass "the trickling client is still connected" \
  || fail "the trickling client was dropped"
kill $trickler 2>/dev/null; wait $trickler 2>/dev/null
silent=()
for _ in $(seq 20); do exec {fd}<>/dev/tcp/127.0.0.1/$port; silent+=($fd); done
exchange_within "beside 20 silent connections" 1000
for fd in "${silent[@]}"; do exec {fd}>&-; done
grep -E "^tranpak-host: #[0-9]+ message 0200 " busy.log | grep -qv "^tranpak-host: #1 " \
  && pass "log lines name their connection" || fail "no numbered log line"

start_host one --max-clients 1 --client-timeout 1
exec 3<>/dev/tcp/127.0.0.1/$port
t0=$(ms); exchange > /dev/null 2>&1; rc=$?; took=$(( $(ms) - t0 ))
exec 3>&-
[ $rc -eq 0 ] && [ $took -ge 700 ] && pass "--max-clients 1: the second client waited $took ms for the first" \
  || fail "--max-clients 1: the second client took $took ms (exit $rc)"

# ---- one request counter over all connections ----
start_host faulty --fault bad-mac --fault-every 2
clients=()
for i in 1 2 3 4; do exchange > "fault$i.out" 2>&1 & clients+=($!); done
for p in "${clients[@]}"; do wait "$p"; done
[ "$(grep -l 'MAC: FAILED' fault?.out | wc -l)" = 2 ] && [ "$(grep -l 'MAC: verified' fault?.out | wc -l)" = 2 ] \
  && pass "--fault-every 2 over four connections at once: two faulted" || fail "faults: $(cat fault?.out)"
grep -qv "^tranpak-host: " faulty.log && fail "a log line is broken: $(cat faulty.log)" || pass "every log line whole"

# ---- stores: two of one name at once, an overall bound, Ctrl-C ----
start_host files --transfer-timeout 2
head -c 400000 /dev/urandom > a.bin
head -c 300000 /dev/urandom > b.bin
timeout 10 "$bin/tranpak-client" --port "$port" send-file a.bin same.bin > a.out 2>&1 & pa=$!
timeout 10 "$bin/tranpak-client" --port "$port" send-file b.bin same.bin > b.out 2>&1 & pb=$!
wait $pa; ra=$?; wait $pb; rb=$?
{ cmp -s a.bin ../files/same.bin || cmp -s b.bin ../files/same.bin; } && [ $ra -eq 0 ] && [ $rb -eq 0 ] \
  && pass "two stores of one name: the file is one of the two" || fail "two stores of one name mixed ($ra $rb)"
printf 'original\n' > ../files/keep.txt
# empty frames every 500 ms, each in time, the whole store not (a subshell:
# writing after the host dropped it ends it with SIGPIPE)
( exec 3<>/dev/tcp/127.0.0.1/$port; printf '\0060%04dkeep.txt' 8 >&3
  for _ in $(seq 8); do printf '\0062%04d' 0 >&3; sleep 0.5; done ) 2>/dev/null
logged files.log "#[0-9]* file 'keep.txt' not stored: the transfer took longer than 2 s; any earlier file is unchanged" \
  && [ "$(cat ../files/keep.txt)" = original ] && pass "--transfer-timeout drops a trickling store, old file kept" \
  || fail "trickling store: $(cat files.log)"
exec 3<>/dev/tcp/127.0.0.1/$port
printf '\0060%04dkeep.txt\0062%04dpartial' 8 7 >&3
sleep 0.3
t0=$(ms); kill -INT $host; wait $host; t1=$(ms)
exec 3>&-
[ $((t1 - t0)) -le 1000 ] && grep -q "^tranpak-host: stopped" files.log && pass "Ctrl-C during a store: stopped in $((t1 - t0)) ms" \
  || fail "Ctrl-C during a store took $((t1 - t0)) ms"
ls -a ../files | grep -q tranpak- && fail "a temporary file was left" || pass "no temporary file left"
[ "$(cat ../files/keep.txt)" = original ] && pass "the store cut by Ctrl-C left the old file" || fail "keep.txt changed"

# ---- out of descriptors: the host waits for them instead of spinning ----
start_host fds --client-timeout 5
# The lowest limit that leaves six descriptors free: two stores hold three
# each (the connection, its directory, the temporary file), so a third
# client cannot be accepted until they end.
open_fds=" $(ls /proc/$host/fd | tr '\n' ' ') "
limit=0 free=0
while [ $free -lt 6 ]; do [[ $open_fds == *" $limit "* ]] || free=$((free + 1)); limit=$((limit + 1)); done
if ! prlimit --pid $host --nofile=$limit:$limit 2>/dev/null; then
  pass "(no prlimit here: the descriptor bound is not checked)"
else
  stores=()
  for name in one.txt two.txt; do
    ( exec 3<>/dev/tcp/127.0.0.1/$port; printf '\0060%04d%s' ${#name} $name >&3
      for _ in $(seq 10); do printf '\0062%04d' 0 >&3; sleep 0.2; done
      printf '\0064%04d' 0 >&3; cat <&3 > /dev/null ) 2>/dev/null &
    stores+=($!)
  done
  sleep 0.4
  exchange > fds-exchange.out 2>&1 & waiting=$!
  sleep 0.3
  ticks() { awk '{print $14 + $15}' /proc/$host/stat; }
  t0=$(ticks); sleep 1; t1=$(ticks)
  [ $((t1 - t0)) -le 20 ] && pass "out of descriptors: $((t1 - t0)) ticks of CPU in a second" \
    || fail "out of descriptors: the host spun, $((t1 - t0)) ticks of CPU in a second"
  logged fds.log "cannot accept a connection" && pass "out of descriptors: said in the log" \
    || fail "out of descriptors: nothing in the log: $(cat fds.log)"
  for p in "${stores[@]}"; do wait "$p"; done
  wait $waiting && grep -q "MAC: verified" fds-exchange.out && [ -f ../files/one.txt ] && [ -f ../files/two.txt ] \
    && pass "out of descriptors: both stores done, then the waiting client served" \
    || fail "out of descriptors: $(cat fds-exchange.out fds.log)"
fi

# ---- clients without the key hold no slot for long ----
# Four send a message with a wrong MAC every 0.3 s, four a store of a
# refused name and an empty block every 0.3 s, to a host of four slots;
# each connects again when dropped. Either kind alone, kept, would fill
# the host.
start_host keyless --max-clients 4
touch holding
hold_mac() {
  while [ -e holding ]; do
    ( exec 3<>/dev/tcp/127.0.0.1/$port || exit
      for _ in $(seq 40); do printf '\0020020''0800\0\0\0\0\0\0\0\001ABCDEFGH\003' >&3 || exit; sleep 0.3; done ) 2>/dev/null
  done
}
hold_store() {
  while [ -e holding ]; do
    ( exec 3<>/dev/tcp/127.0.0.1/$port || exit; printf '\0060%04d../held' 7 >&3
      for _ in $(seq 40); do printf '\0062%04d' 0 >&3 || exit; sleep 0.3; done ) 2>/dev/null
  done
}
holders=()
for h in hold_mac hold_mac hold_mac hold_mac hold_store hold_store hold_store hold_store; do $h & holders+=($!); done
sleep 3
t0=$(ms); exchange > keyless-victim.out 2>&1; rc=$?; took=$(( $(ms) - t0 ))
[ $rc -eq 0 ] && [ $took -le 5000 ] && pass "eight keyless holders, four slots: the victim was served in $took ms" \
  || fail "eight keyless holders, four slots: the victim waited $took ms (exit $rc)"
rm -f holding
for p in "${holders[@]}"; do wait "$p" 2>/dev/null; done
grep -q "connection ended: 3 refused MACs in a row" keyless.log && pass "keyless: ended after 3 refused MACs" \
  || fail "no line ending a keyless message connection"
grep -q "file '../held' refused" keyless.log && ! grep -q "file '../held' not stored" keyless.log \
  && pass "keyless: a refused store ended at once" || fail "refused stores: $(grep held keyless.log | head -3)"

# A client without the key that spaces its messages and trickles each one,
# every frame in time: until a MAC verifies, --client-timeout counts from
# the connection's start, so it holds its slot that long and no longer
# (some 9.5 s with a limit for each frame alone).
start_host spaced --max-clients 1 --client-timeout 3
( exec 3<>/dev/tcp/127.0.0.1/$port
  printf '\0020020''0800\0\0\0\0\0\0\0\001ABCDEFGH\003' >&3
  for _ in 1 2; do
    sleep 2.5
    for c in '\0020' '020' '0800' '\0\0\0\0\0\0\0\001' 'ABCDEFGH' '\003'; do printf "$c" >&3 || exit; sleep 0.4; done
  done ) 2>/dev/null &
holders=($!)
sleep 0.3
t0=$(ms); timeout 30 "$bin/tranpak-client" --port "$port" --key $key "${purchase[@]}" > spaced-victim.out 2>&1
rc=$? took=$(( $(ms) - t0 ))
[ $rc -eq 0 ] && [ $took -le 5000 ] && logged spaced.log "#1 connection dropped: no verified MAC within 3 s of connecting" \
  && pass "a keyless client trickling its messages: dropped at 3 s, the victim served in $took ms" \
  || fail "a keyless client trickling its messages: the victim waited $took ms (exit $rc): $(cat spaced.log)"
wait "${holders[@]}" 2>/dev/null

# ---- a file transfer needs no definitions ----
# One connection holds the host's first slot (its definitions loaded at
# start); the definitions then cannot be read, so a second slot has none.
cp ../etc/bitmap.txt gone-defs.txt
printf 'kept\n' > ../files/nodefs.txt
start_host nodefs --defs gone-defs.txt
exec 3<>/dev/tcp/127.0.0.1/$port
sleep 0.2
rm gone-defs.txt
timeout 10 "$bin/tranpak-client" --port "$port" fetch-file nodefs.txt nodefs-got.txt > nodefs.out 2>&1 \
  && cmp -s nodefs-got.txt ../files/nodefs.txt && pass "a fetch served without definitions" \
  || fail "a fetch without definitions: $(cat nodefs.out)"
exchange > nodefs-message.out 2>&1
logged nodefs.log "message refused: cannot load definitions from gone-defs.txt" && pass "a message needs them, and says so" \
  || fail "no line refusing a message without definitions: $(cat nodefs.log)"
exec 3>&-

# ---- a host whose standard output nobody reads ----
# stalled_host NAME: a host of two slots writing to a pipe that is held
# open and never read; some 2 MB of log follow, so the pipe and the host's
# queue are full many times over. The pipe stays open on descriptor 7.
stalled_host() {
  rm -f "$1.fifo" "$1.port"; mkfifo "$1.fifo"
  exec 7<>"$1.fifo"
  "$bin/tranpak-host" --key "$key" --defs ../etc/bitmap.txt --dir ../files --errlog "$1-errlog.txt" \
    --port-file "$1.port" --set 39=00 --max-clients 2 > "$1.fifo" 2> "$1.err" &
  host=$!; pids+=($host)
  for _ in $(seq 100); do [ -s "$1.port" ] && break; sleep 0.05; done
  port=$(cat "$1.port")
  out=$(timeout 20 "$bin/tranpak-client" --port "$port" --key $key --count 20000 --no-progress "${purchase[@]}" 2>&1)
  grep -q "20000 done, 0 failed" <<< "$out" && pass "$1: 20000 exchanges answered while nobody reads the log" \
    || fail "$1: the load beside an unread log: $out"
}
stalled_host unread
# Each connection ends after its log line: none is left waiting on it.
for i in 1 2 3; do exchange_within "unread log: exchange $i more" 2000; done
timeout 10 "$bin/tranpak-client" --port "$port" fetch-file nodefs.txt unread-got.txt > /dev/null 2>&1 \
  && pass "unread log: a fetch served" || fail "unread log: the fetch failed"
watched 10 $host
t0=$(ms); kill -INT $host; wait $host; rc=$?; t1=$(ms)
unwatched
[ $rc -eq 0 ] && [ $((t1 - t0)) -le 1000 ] && pass "unread log: Ctrl-C stopped the host in $((t1 - t0)) ms" \
  || fail "unread log: Ctrl-C took $((t1 - t0)) ms (exit $rc)"
exec 7>&-
stalled_host resumed
timeout 20 cat <&7 > resumed.log & reader=$!
exchange > /dev/null 2>&1
logged resumed.log "^tranpak-host: [0-9]* log lines dropped while standard output was not read$" \
  && pass "once read again, the log says $(grep -o '[0-9]* log lines dropped' resumed.log) there" \
  || fail "no line telling the dropped lines: $(tail -3 resumed.log)"
kill -INT $host; wait $host
kill $reader 2>/dev/null; wait $reader 2>/dev/null
exec 7>&-

# ---- what the host accepts and writes ----
out=$("$bin/tranpak-host" --key $key --defs ../etc/bitmap.txt --set 39=ABC 2>&1); rc=$?
[ $rc -eq 1 ] && grep -q "set field 39=ABC: .*(field 39 is AN, exactly 2)" <<< "$out" \
  && pass "--set 39=ABC refused at start" || fail "--set 39=ABC: exit $rc: $out"
start_host escaped
exec 3<>/dev/tcp/127.0.0.1/$port
# a Packet whose type is 80 1B 'A' 'B', with field 64 only
printf '\0020020\200\033AB\0\0\0\0\0\0\0\001ABCDEFGH\003' >&3
logged escaped.log "message \\\\x80\\\\x1BAB fields 64" && ! LC_ALL=C grep -q $'[\x1b\x80]' escaped.log \
  && pass "a type of control and high bytes is escaped in the log" || fail "type not escaped: $(od -c escaped.log)"
exec 3>&-

e2e_finish
