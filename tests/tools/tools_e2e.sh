#!/usr/bin/env bash
# The tools end to end: tranpak-host, tranpak-client and tranpak-trace as
# separate processes on loopback, checked by their exit codes and output.
#   tools_e2e.sh BIN_DIR SOURCE_DIR
set -u
bin=$1 src=$2
key=0123456789ABCDEF
other=1111111111111111
source "$src/tests/support/tools_e2e_lib.sh"
e2e_workspace tools $'[Com Trace Flag]\nGCODEFLAG=1\n[Error Log File]\nERRFILE=errlog.txt\n[Bitmap Define File]\nBMPFILE=../etc/bitmap.txt\n[Com Trace File]\nCTRACEFILE=ctrace.txt\n'

# expect NAME EXIT PATTERNS COMMAND...: the command exits with EXIT and its
# output (stdout and stderr) has a line matching each of the PATTERNS
# (grep -E, separated by " && "; a pattern starting with ! must match no line)
expect() {
  local name=$1 want=$2 pattern=$3; shift 3
  local out rc
  out=$("$@" 2>&1); rc=$?
  if [ "$rc" != "$want" ]; then fail "$name: exit $rc, want $want"; echo "$out" | sed 's/^/      /'; return; fi
  local p rest=$pattern
  while [ -n "$rest" ]; do
    p=${rest%% && *}
    [ "$p" = "$rest" ] && rest= || rest=${rest#* && }
    if [ "${p:0:1}" = "!" ]; then
      if grep -qE -- "${p:1}" <<< "$out"; then fail "$name: output has /${p:1}/"; echo "$out" | sed 's/^/      /'; return; fi
    elif ! grep -qE -- "$p" <<< "$out"; then fail "$name: output lacks /$p/"; echo "$out" | sed 's/^/      /'; return; fi
  done
  pass "$name"
}

start_host main --set 39=00 --set 38=A1B2C3
purchase=(0200 2=4761739001010119 3=000000 4=12.50 11=000001 41=TERM0001)
expect "approved purchase, fields echoed and set" 0 "39  RESPCODE +AN +00" \
  "$bin/tranpak-client" --host 127.0.0.1 --port "$port" --key $key "${purchase[@]}"
expect "reply type raised and MAC verified" 0 "^reply 0210 && ^MAC: verified" \
  "$bin/tranpak-client" --host 127.0.0.1 --port "$port" --key $key "${purchase[@]}"
expect "amount echoed" 0 "4  AMOUNT +NF +12.50" \
  "$bin/tranpak-client" --host 127.0.0.1 --port "$port" --key $key "${purchase[@]}"
expect "request with a wrong MAC is refused with A0" 3 "39  RESPCODE +AN +A0" \
  "$bin/tranpak-client" --host 127.0.0.1 --port "$port" --key $other "${purchase[@]}"
grep -q "MAC refused (tranpak: mac check error)" main.log && pass "host logs why it refused" || fail "host log lacks the refusal"
expect "bad field value" 1 "not N" \
  "$bin/tranpak-client" --host 127.0.0.1 --port "$port" --key $key 0200 3=12x
expect "usage" 2 "give a message type" "$bin/tranpak-client" --port 1
# Values go through the library's text rules: amounts are not rounded, and
# B digits may come in groups.
expect "amount with three decimals refused, not rounded" 2 "field 4: 0.125 has more than 2 decimals" \
  "$bin/tranpak-client" --host 127.0.0.1 --port "$port" --key $key 0200 2=4761739001010119 4=0.125
expect "amount in exponent form refused" 2 "field 4: 1e2 is not an amount" \
  "$bin/tranpak-client" --host 127.0.0.1 --port "$port" --key $key 0200 2=4761739001010119 4=1e2
expect "PIN block in groups taken" 0 "52  PINBLOCK +B +\*{12}CDEF" \
  "$bin/tranpak-client" --host 127.0.0.1 --port "$port" --key $key "${purchase[@]}" 52=01:23:45:67:89:ab:cd:ef

printf 'line one\r\nline two\r\n' > local.txt
expect "file sent" 0 "done" "$bin/tranpak-client" --host 127.0.0.1 --port "$port" send-file local.txt stored.txt
[ -f ../files/stored.txt ] && pass "file stored in the served directory" || fail "file not stored"
expect "file fetched" 0 "done" "$bin/tranpak-client" --host 127.0.0.1 --port "$port" fetch-file stored.txt back.txt
cmp -s local.txt back.txt && pass "fetched file identical" || fail "fetched file differs"
expect "missing file" 1 "tranpak: receive rest_msg" \
  "$bin/tranpak-client" --host 127.0.0.1 --port "$port" fetch-file nothing.txt x.txt
expect "send outside the served directory" 1 "stop_msg error mesg_type 3" \
  "$bin/tranpak-client" --host 127.0.0.1 --port "$port" send-file local.txt ../escaped.txt
[ ! -e ../escaped.txt ] && pass "nothing written outside" || fail "a file escaped the served directory"
expect "fetch outside the served directory" 1 "tranpak: receive rest_msg" \
  "$bin/tranpak-client" --host 127.0.0.1 --port "$port" fetch-file /etc/passwd x.txt
grep -q "path outside the served directory" main.log && pass "host logs the confinement" || fail "no confinement line"

# the trace holds the request sent with the other key: its MAC fails, exit 1
expect "decoded trace, masked, MAC verified" 1 "\*{12}0119 && MAC: verified with the given key && !4761739001010119" \
  "$bin/tranpak-trace" --defs ../etc/bitmap.txt --key $key ctrace.txt
expect "decoded trace unmasked" 0 "4761739001010119" \
  "$bin/tranpak-trace" --defs ../etc/bitmap.txt --unmask ctrace.txt
expect "broken frame described, then raw" 1 "field 2 \(PAN\) does not decode at data offset 0 && raw \(" \
  "$bin/tranpak-trace" --defs ../etc/bitmap.txt --hex "02 30 30 32 32 30 32 30 30 40 00 00 00 00 00 00 00 58 58 31 32 33 03"

start_host faulty --fault bad-mac --fault-every 2
expect "one in two: first answer fine" 0 "MAC: verified" \
  "$bin/tranpak-client" --host 127.0.0.1 --port "$port" --key $key "${purchase[@]}"
expect "one in two: second answer with a wrong MAC" 3 "MAC: FAILED" \
  "$bin/tranpak-client" --host 127.0.0.1 --port "$port" --key $key "${purchase[@]}"
start_host closing --fault close
expect "host closes without answering: the reason on the first line" 1 "receiving the reply failed: tranpak: read mesg_head rc = 0" \
  "$bin/tranpak-client" --host 127.0.0.1 --port "$port" --key $key "${purchase[@]}"
start_host nostop --fault no-stop
expect "answer without its stop byte" 1 "tranpak: Packet.stop = 0x00" \
  "$bin/tranpak-client" --host 127.0.0.1 --port "$port" --key $key "${purchase[@]}"
kill -INT "${pids[0]}"; wait "${pids[0]}" 2>/dev/null
grep -q "tranpak-host: stopped" main.log && pass "host ends cleanly on Ctrl-C" || fail "host did not stop cleanly"
expect "nobody listening: the system's reason beside the library's" 1 "connecting failed: tranpak: connect error \(Connection refused\)" \
  "$bin/tranpak-client" --host 127.0.0.1 --port "$(cat main.port)" --key $key "${purchase[@]}"
expect "nobody listening: what and where on a line of its own" 1 "^tranpak-client: connect to 127\.0\.0\.1:$(cat main.port): Connection refused$" \
  "$bin/tranpak-client" --host 127.0.0.1 --port "$(cat main.port)" --key $key "${purchase[@]}"
expect "a settings file that is not there" 1 "^tranpak-client: settings file nope\.ini: No such file or directory$" \
  "$bin/tranpak-client" --settings nope.ini --port 1 --key $key "${purchase[@]}"
expect "a load with nobody listening: no connection claimed" 1 "failures: connect 5$ && 1 connection, none made$ && first failure \(connect\): tranpak: connect error \(Connection refused\)" \
  "$bin/tranpak-client" --host 127.0.0.1 --port "$(cat main.port)" --key $key --count 5 --no-progress "${purchase[@]}"

# ---- the served directory: links and special files refused both ways ----
mkdir -p ../outside ../files/subdir
printf 'SECRET\n' > ../outside/secret.txt
ln -s ../outside/secret.txt ../files/link-out
ln -s ../outside/nothing.txt ../files/dangling
ln -s nothing.txt ../files/dangling-in
ln -s ../outside ../files/dirlink
ln -s stored.txt ../files/link-in
mkfifo ../files/fifo
start_host confined --client-timeout 2
# request, what the host's log says; a link that leads outside is refused as
# such whether or not its target is there, since nothing outside is looked at
refusals=("link-out|leads outside" "dangling|leads outside" "dangling-in|dangling" "dirlink/secret.txt|leads outside"
          "subdir|a directory" "fifo|not a regular file" "NUL.txt|a reserved device name")
for r in "${refusals[@]}"; do
  req=${r%%|*} why=${r#*|}
  expect "fetch of $req refused" 1 "receive rest_msg" \
    timeout 10 "$bin/tranpak-client" --host 127.0.0.1 --port "$port" fetch-file "$req" got.txt
  grep -q "file '$req' refused: .*$why" confined.log && pass "host says why $req is refused" \
    || fail "no line saying $req is refused ($why)"
done
for req in link-out dangling dirlink/new.txt subdir fifo; do
  expect "store to $req refused" 1 "stop_msg error mesg_type 3" \
    timeout 10 "$bin/tranpak-client" --host 127.0.0.1 --port "$port" send-file local.txt "$req"
done
[ "$(cat ../outside/secret.txt)" = SECRET ] && [ ! -e ../outside/nothing.txt ] && [ ! -e ../outside/new.txt ] &&
  [ "$(ls ../outside)" = secret.txt ] && pass "nothing outside the served directory written" \
  || fail "a file outside the served directory changed"
expect "a link that stays inside is followed" 0 "done" \
  "$bin/tranpak-client" --host 127.0.0.1 --port "$port" fetch-file link-in inside.txt
cmp -s inside.txt local.txt && pass "fetched through the inside link" || fail "inside link gave other bytes"

# ---- no client holds the host: each frame has a 2 s deadline ----
head -c 33554432 /dev/zero > ../files/big.bin
# served_within NAME: a fetch by a second client completes within 3 s
served_within() {
  local t0 t1
  t0=$(ms)
  timeout 10 "$bin/tranpak-client" --host 127.0.0.1 --port "$port" fetch-file stored.txt second.txt > /dev/null 2>&1
  local rc=$?
  t1=$(ms)
  if [ $rc -eq 0 ] && [ $((t1 - t0)) -le 3000 ]; then pass "$1: second client served in $((t1 - t0)) ms"
  else fail "$1: second client took $((t1 - t0)) ms (exit $rc)"; fi
}
exec 3<>/dev/tcp/127.0.0.1/$port
printf '\0061%04dbig.bin' 7 >&3   # a fetch of 32 MiB that is never read
sleep 0.3
served_within "client that stops reading"
# connections are served at the same time: the stalled one ends on its own deadline
logged() { for _ in $(seq 50); do grep -q "$2" "$1" && return 0; sleep 0.1; done; return 1; }
logged confined.log "file 'big.bin' not sent: the client timed out" && pass "stalled fetch logged as not sent" \
  || fail "stalled fetch not logged as failed"
exec 3>&-
grep -q "file 'big.bin' sent" confined.log && fail "stalled fetch logged as sent" || pass "stalled fetch never logged as sent"
( exec 3<>/dev/tcp/127.0.0.1/$port; for c in '\002' 0 0 5 4 0 2 0 0; do printf "$c" >&3; sleep 0.4; done ) &
trickler=$!
sleep 0.3
served_within "client that trickles bytes"
logged confined.log "connection dropped: no whole frame within 2 s" && pass "trickling client dropped" \
  || fail "no line for the trickling client"
kill "$trickler" 2>/dev/null; wait "$trickler" 2>/dev/null

# ---- a store cut off before its end frame leaves the old file ----
printf 'original\n' > ../files/keep.txt
exec 3<>/dev/tcp/127.0.0.1/$port
printf '\0060%04dkeep.txt\0062%04dreplaced' 8 8 >&3
exec 3>&-
for _ in $(seq 50); do grep -q "file 'keep.txt' not stored" confined.log && break; sleep 0.1; done
[ "$(cat ../files/keep.txt)" = original ] && pass "cut-off store left the old file" || fail "cut-off store changed the file"
ls -a ../files | grep -q tranpak- && fail "a temporary file was left" || pass "no temporary file left"
expect "a whole store replaces the file" 0 "done" \
  "$bin/tranpak-client" --host 127.0.0.1 --port "$port" send-file local.txt keep.txt
cmp -s local.txt ../files/keep.txt && pass "replaced file holds the new bytes" || fail "replaced file differs"

# ---- Ctrl-C while a client holds the connection ----
start_host held
exec 3<>/dev/tcp/127.0.0.1/$port
sleep 0.2
t0=$(ms); kill -INT "${pids[-1]}"; wait "${pids[-1]}" 2>/dev/null; t1=$(ms)
exec 3>&-
[ $((t1 - t0)) -le 1000 ] && grep -q stopped held.log && pass "Ctrl-C stops a busy host in $((t1 - t0)) ms" \
  || fail "Ctrl-C took $((t1 - t0)) ms"

# ---- binary transfers by default, text on request ----
start_host transfers
port_main=$port
printf 'a\r\nb\032c\r\n' > bin.dat
expect "binary send" 0 "done \(binary\)" "$bin/tranpak-client" --host 127.0.0.1 --port "$port_main" send-file bin.dat bin.dat
expect "binary fetch" 0 "done" "$bin/tranpak-client" --host 127.0.0.1 --port "$port_main" fetch-file bin.dat bin.back
cmp -s bin.dat bin.back && pass "binary file with CR and 0x1A identical" || fail "binary round trip differs"
expect "text send" 0 "done \(text\)" "$bin/tranpak-client" --text --host 127.0.0.1 --port "$port_main" send-file bin.dat t.dat
[ "$(cat ../files/t.dat)" = "a
b" ] && pass "text send drops CR and ends at 0x1A" || fail "text send stored $(od -c ../files/t.dat)"

# ---- scripted answers, masked and escaped replies, replies checked ----
start_host ruled --set 39=00 --rule "2=4761*,4>=1000 : 39=51" --rule "52=01 23 45 67 89 ab-cd-ef : 39=55" \
  --set $'48=A\033[2JB'
port_ruled=$port
client() { "$bin/tranpak-client" --host 127.0.0.1 --port "$port" --key $key "$@"; }
expect "rule: small amount approved" 0 "RESPCODE +AN +00" client "${purchase[@]}"
expect "rule: large amount declined" 0 "RESPCODE +AN +51" client 0200 2=4761739001010119 4=1000.00 11=000002
expect "rule: other card approved" 0 "RESPCODE +AN +00" client 0200 2=5413330089020119 4=1000.00
expect "rule: a PIN block written in groups and lower case matches" 0 "RESPCODE +AN +55" \
  client "${purchase[@]}" 52=0123456789ABCDEF
expect "bad --rule amount stops the host" 1 "1e3 is not an amount" \
  "$bin/tranpak-host" --key $key --defs ../etc/bitmap.txt --rule "4>=1e3 : 39=51"
expect "card number masked, control bytes escaped" 0 "\*{12}0119 && A\\\\x1B\[2JB && !4761739001010119" \
  client "${purchase[@]}"
expect "--unmask shows the card number" 0 "4761739001010119" client --unmask "${purchase[@]}"
expect "--json reply" 0 '^\{"type": "0210", "fields": \{"2": \{"name": "PAN", "type": "N", "value": "\*{12}0119"\}, && "mac": "verified", "answers_request": true\}$' \
  client --json "${purchase[@]}"
start_host wrongtype --reply-type 0230
expect "reply of another type: exit 4" 4 "reply type 0230 does not answer 0200 \(expected 0210\)" client "${purchase[@]}"
expect "--reply-type accepts it" 0 "MAC: verified" client --reply-type 0230 "${purchase[@]}"
start_host wrongterm --set 41=OTHER001
expect "field 41 changed: exit 4" 4 "field 41 came back as OTHER001, sent as TERM0001" client "${purchase[@]}"
expect "bad --set value stops the host" 1 "--set field 3=12x" "$bin/tranpak-host" --key $key --defs ../etc/bitmap.txt --set 3=12x
expect "bad --rule stops the host" 1 "only NI and NF fields" "$bin/tranpak-host" --key $key --defs ../etc/bitmap.txt --rule "2>5 : 39=51"
printf '[Bitmap Define File]\nBMPFILE=missing.txt\n[Error Log File]\nERRFILE=bad-errlog.txt\n' > bad.ini
expect "Init8583 failure names the paths" 1 "settings file /.*/run/bad.ini, definitions /.*/missing.txt, error log /.*/bad-errlog.txt" \
  "$bin/tranpak-client" --settings bad.ini --port 1 --key $key 0800

# ---- the decoder never shows a card number while masking is on ----
# 0200 with fields 2 and 3: the card number decodes, field 3 does not
bad="02 30 30 33 36 30 32 30 30 60 00 00 00 00 00 00 00 31 36 34 37 36 31 37 33 39 30 30 31 30 31 30 31 31 39 41 42 03"
expect "undecodable frame: card number hidden" 1 "\*{12}0119 && field 3 \(PROCCODE\) does not decode && \*\* \*\* \*\* && !4761739001010119 && !34 37 36 31 37 33 39 30" \
  "$bin/tranpak-trace" --defs ../etc/bitmap.txt --hex "$bad"
expect "--mask adds to the card data" 1 "\*{12}0119 && \*{4}0001 && !4761739001010119" \
  "$bin/tranpak-trace" --defs ../etc/bitmap.txt --mask 41 ctrace.txt
expect "--json, - reads standard input" 1 '^\{"type": "0200", "fields": \{.*\}, "time": "[^"]+", "direction": "sent" && !4761739001010119' \
  sh -c "'$bin/tranpak-trace' --defs ../etc/bitmap.txt --json - < ctrace.txt"
printf 'no frames here\n' > empty.txt
expect "no frame: exit 1" 1 "0 packets" "$bin/tranpak-trace" --defs ../etc/bitmap.txt empty.txt

# ---- load: one request many times, every reply checked ----
printf '[Com Trace Flag]\nGCODEFLAG=1\n[Error Log File]\nERRFILE=errlog.txt\n[Bitmap Define File]\nBMPFILE=../etc/bitmap.txt\n[Com Trace File]\nCTRACEFILE=load-trace.txt\n' > load.ini
load() { "$bin/tranpak-client" --host 127.0.0.1 --port "$port" --key $key --no-progress "$@"; }
start_host loaded --set 39=00
expect "load of 200 over one connection" 0 "^exchanges: 200 requested, 200 done, 0 failed$ && ^failures: none$ && ^latency: min .* p99\.9 .* max " \
  load --settings load.ini --count 200 0800 11=000001 41=TERM0001
stans=$("$bin/tranpak-trace" --defs ../etc/bitmap.txt --json load-trace.txt | grep '"direction": "sent"' |
  grep -o '"11": {[^}]*' | sort -u | wc -l)
[ "$stans" -eq 200 ] && pass "200 distinct values of field 11 sent" || fail "$stans distinct values of field 11"
expect "field 11 wraps within its width" 0 "200 done, 0 failed" load --count 200 0800 11=999950 41=TERM0001
expect "four connections, one for each exchange" 0 "100 done, 0 failed && 4 connections, connecting for each exchange" \
  load --count 100 --connections 4 --connect-each 0800 11=000001
json=$(load --count 50 --json 0800 11=000001)
keys='^\{"requested":50,"connections":1,"connect_each":false,"connected":1,"done":50,"failed":0,"failures":\{\},"duplicates":0,"stopped":false,"gave_up":false,"in_flight":0,"seconds":[0-9]+\.[0-9]{3},"per_second":[0-9]+\.[0-9],"latency_us":\{"min":[0-9]+,"p50":[0-9]+,"p90":[0-9]+,"p99":[0-9]+,"p99\.9":[0-9]+,"max":[0-9]+\}\}$'
[ "$(printf '%s\n' "$json" | wc -l)" -eq 1 ] && grep -qE "$keys" <<< "$json" && pass "--json summary: one object, its keys in order" \
  || fail "--json summary: $json"
expect "field 11 must be digits in a load" 2 "field 11 counts up in a load and takes digits only, not \+12" load --count 2 0800 11=+12
expect "--count 0 refused" 2 "--count takes a number from 1" load --count 0 0800
start_host loadmac --fault bad-mac --fault-every 10
expect "one MAC in ten wrong: 20 failures, exit 1" 1 "180 done, 20 failed && ^failures: MAC 20$ && first failure \(MAC\): tranpak: mac check error" \
  load --count 200 0800 11=000001
start_host loadclose --fault close --fault-every 5
expect "host closing: peer closed counted, connected again" 1 "160 done, 40 failed && ^failures: peer closed 40$" \
  load --count 200 0800 11=000001
start_host loaddup --fault duplicate --fault-every 5
expect "a reply sent twice is read past, not charged to the next exchange" 0 "200 done, 0 failed && ^failures: none$ && ^duplicates: 39 replies repeated the previous exchange's, read past$" \
  load --count 200 0800 11=000001 41=TERM0001
start_host loadlate --fault late --delay-ms 200
"$bin/tranpak-client" --port "$port" --key $key --count 1000 0800 11=000001 > stopped.txt 2>&1 & loader=$!
sleep 1
t0=$(ms); kill -INT $loader; wait $loader; rc=$?; t1=$(ms)
[ $rc -eq 130 ] && grep -q "^stopped: by Ctrl-C after [0-9]* of 1000 exchanges" stopped.txt && grep -q "^exchanges: 1000 requested" stopped.txt &&
  [ $((t1 - t0)) -le 1000 ] && pass "Ctrl-C ends a load in $((t1 - t0)) ms with its summary" || { fail "Ctrl-C during a load: exit $rc"; cat stopped.txt; }
# One Ctrl-C may come twice at once: `timeout` passes it on to the client
# and then to its process group. Two 10 ms apart, or one sent to
# `timeout`, still end the load with its summary; SIGTERM says so. The
# host never answers, so the load takes its whole grace to end.
start_host loadmute --fault late --delay-ms 600000
stop_load() {
  local runner=$1 signals=$2 says=$3
  $runner "$bin/tranpak-client" --port "$port" --key $key --count 1000 0800 11=000001 > stopped.txt 2>&1 & loader=$!
  sleep 1
  for sig in $signals; do kill -$sig $loader 2>/dev/null; sleep 0.01; done
  wait $loader; rc=$?
  [ $rc -eq 130 ] && grep -q "^stopped: by $says after [0-9]* of 1000 exchanges" stopped.txt \
    && pass "${runner:+$runner: }$signals: the load ended with its summary, stopped by $says" \
    || { fail "${runner:+$runner: }$signals during a load: exit $rc"; sed 's/^/      /' stopped.txt; }
}
stop_load "" "INT INT" Ctrl-C
stop_load "timeout 60" INT Ctrl-C
stop_load "" TERM SIGTERM

# ---- NI values: 32 bits, nothing cut ----
printf 'STAN NI 10 11\nTERMID ANS 8 41\nRESPCODE AN 2 39\nMAC B 8 64\n' > ../etc/ni.txt
printf '[Error Log File]\nERRFILE=errlog.txt\n[Bitmap Define File]\nBMPFILE=../etc/ni.txt\n' > ni.ini
start_host ni --defs ../etc/ni.txt
for v in 4294967297 -2147483649 99999999999999999999; do
  expect "NI $v refused" 2 "field 11 takes an integer from -2147483648 to 2147483647, not $v" \
    "$bin/tranpak-client" --settings ni.ini --port "$port" --key $key 0800 11=$v
done
expect "NI 2147483647 accepted" 0 "11  STAN +NI +2147483647" "$bin/tranpak-client" --settings ni.ini --port "$port" --key $key 0800 11=2147483647
expect "host refuses --set NI 4294967297" 1 "--set field 11" "$bin/tranpak-host" --key $key --defs ../etc/ni.txt --set 11=4294967297

# ---- bytes from 0x80 up reach no terminal raw ----
start_host highbytes --set $'48=A\xC2\x9BB'
expect "0xC2 0x9B shown as \\xC2\\x9B" 0 'A\\xC2\\x9BB && !'$'\xC2' client "${purchase[@]}"
expect "and in JSON" 0 '"value": "A\\\\xC2\\\\x9BB" && !'$'\xC2' client --json "${purchase[@]}"

# ---- Ctrl-C during a fetch leaves no temporary file ----
head -c 8388608 /dev/zero > ../files/slow.bin   # the library's fetch takes seconds for this
start_host slowfetch
mkdir -p fetched
"$bin/tranpak-client" --host 127.0.0.1 --port "$port" fetch-file slow.bin fetched/slow.bin > fetch.txt 2>&1 & fetcher=$!
for _ in $(seq 40); do ls fetched | grep -q '^tranpak-.*\.part$' && break; sleep 0.05; done
ls fetched | grep -q '^tranpak-.*\.part$' && pass "the fetch writes a temporary file" || fail "no temporary file seen"
kill -INT $fetcher; wait $fetcher; rc=$?
[ $rc -eq 130 ] && [ -z "$(ls fetched)" ] && grep -q "the fetch of slow.bin was cut short" fetch.txt &&
  pass "Ctrl-C during a fetch: exit 130, no temporary file" || fail "Ctrl-C during a fetch: exit $rc, left: $(ls fetched)"
"$bin/tranpak-client" --host 127.0.0.1 --port "$port" fetch-file slow.bin fetched/slow.bin > fetch.txt 2>&1 & fetcher=$!
for _ in $(seq 40); do ls fetched | grep -q '^tranpak-.*\.part$' && break; sleep 0.05; done
kill -INT $fetcher; sleep 0.01; kill -INT $fetcher 2>/dev/null; wait $fetcher; rc=$?
[ $rc -eq 130 ] && [ -z "$(ls fetched)" ] && grep -q "the fetch of slow.bin was cut short" fetch.txt &&
  pass "two Ctrl-C 10 ms apart during a fetch: taken for one, no temporary file" \
  || fail "two Ctrl-C 10 ms apart during a fetch: exit $rc, left: $(ls fetched)"

# ---- two fetches into one folder: Ctrl-C on one leaves the other's file ----
head -c 3000000 /dev/urandom > ../files/slow2.bin   # some 3000 blocks, a millisecond each
mkdir -p both
# the second starts once the first writes, so its file is new to the first
"$bin/tranpak-client" --host 127.0.0.1 --port "$port" fetch-file slow2.bin both/a.bin > fa.txt 2>&1 & fa=$!
for _ in $(seq 100); do [ -n "$(ls both)" ] && break; sleep 0.05; done
"$bin/tranpak-client" --host 127.0.0.1 --port "$port" fetch-file slow2.bin both/b.bin > fb.txt 2>&1 & fb=$!
for _ in $(seq 100); do [ "$(ls both | grep -c '^tranpak-.*\.part$')" -ge 2 ] && break; sleep 0.05; done
[ "$(ls both | grep -c '^tranpak-.*\.part$')" -ge 2 ] && pass "both fetches write a temporary file" \
  || fail "temporary files seen: $(ls both)"
kill -INT $fa; wait $fa; ra=$?
timeout 60 tail --pid=$fb -f /dev/null; wait $fb; rb=$?
[ $ra -eq 130 ] && [ $rb -eq 0 ] && cmp -s both/b.bin ../files/slow2.bin && [ "$(ls both)" = b.bin ] &&
  pass "Ctrl-C on one fetch: the other completed, only the stopped one's file removed" \
  || { fail "two fetches: exits $ra and $rb, left: $(ls both)"; sed 's/^/      /' fa.txt fb.txt; }

# ---- the decoder ends as soon as nobody reads its output ----
while cat ctrace.txt; do :; done 2> /dev/null | timeout 20 "$bin/tranpak-trace" --defs ../etc/bitmap.txt - 2> trace-head.err | head -1 > /dev/null
rc=${PIPESTATUS[1]}
[ $rc -eq 1 ] && grep -q "cannot write standard output" trace-head.err && pass "endless input | head -1: the decoder stopped" \
  || { fail "endless input | head -1: exit $rc (124: still decoding after 20 s)"; head -5 trace-head.err | sed 's/^/      /'; }

# ---- command lines of the three tools ----
for t in host client trace; do
  expect "$t --help" 0 "^usage: tranpak-$t && Exit codes" "$bin/tranpak-$t" --help
  expect "$t --version" 0 "^tranpak-$t [0-9]+\.[0-9]+\.[0-9]+$" "$bin/tranpak-$t" --version
  expect "$t unknown option" 2 "unknown option --bogus" "$bin/tranpak-$t" --bogus
  expect "$t output that cannot be written" 1 "cannot write standard output" sh -c "'$bin/tranpak-$t' --help > /dev/full"
done
expect "host bad port" 2 "--port takes a port from 0 to 65535, not 65536" "$bin/tranpak-host" --key $key --port 65536
expect "client bad port" 2 "--port takes a port from 0 to 65535, not -1" "$bin/tranpak-client" --port=-1 0800
expect "trace bad field list" 2 "--mask takes field numbers 1 to 128" "$bin/tranpak-trace" --mask 2,129 x
expect "host bad number" 2 "--client-timeout takes a number from 1 to 86400, not 10s" \
  "$bin/tranpak-host" --key $key --client-timeout 10s
expect "flag given a value" 2 "option --unmask takes no value" "$bin/tranpak-trace" --unmask=yes x
expect "option without its value" 2 "option --key needs a value" "$bin/tranpak-host" --key
expect "--opt=value works" 0 "MAC: verified" "$bin/tranpak-client" --host=127.0.0.1 --port="$port_ruled" --key=$key "${purchase[@]}"

# ---- the default refusal needs a field 39 ----
printf 'PAN N 19,2 2\nPROCCODE N 6 3\nAMOUNT NF 12 4\nMAC B 8 64\n' > ../etc/no39.txt
start_host no39 --defs ../etc/no39.txt
expect "without field 39 a failed MAC is answered without A0" 3 "^reply 0210 && !RESPCODE" \
  "$bin/tranpak-client" --host 127.0.0.1 --port "$port" --key $other 0200 2=4761739001010119 3=000000 4=12.50
expect "a port in use is refused with the system's reason" 1 "cannot listen on 127.0.0.1:$port: Address already in use" \
  "$bin/tranpak-host" --key $key --defs ../etc/bitmap.txt --dir ../files --port "$port"

e2e_finish
