#!/usr/bin/env bash
# The tools end to end: tranpak-host, tranpak-client and tranpak-trace as
# separate processes on loopback, checked by their exit codes and output.
#   tools_e2e.sh BIN_DIR SOURCE_DIR
set -u
bin=$1 src=$2
key=0123456789ABCDEF
other=1111111111111111
work=$(mktemp -d /tmp/tranpak-tools.XXXXXX)
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill -INT "$p" 2>/dev/null; wait "$p" 2>/dev/null; done
  rm -rf "$work"
}
trap cleanup EXIT
mkdir -p "$work/etc" "$work/files" "$work/run/c:/windows/system"
cp "$src/etc/bitmap.txt" "$work/etc/"
printf '[Com Trace Flag]\nGCODEFLAG=1\n[Error Log File]\nERRFILE=errlog.txt\n[Bitmap Define File]\nBMPFILE=../etc/bitmap.txt\n[Com Trace File]\nCTRACEFILE=ctrace.txt\n' \
  > "$work/run/c:/windows/system/8583.ini"
cd "$work/run"

failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
pass() { echo "ok:   $*"; }

# start_host NAME ARGS...: a host writing NAME.log; its port in $port
start_host() {
  local name=$1; shift
  rm -f "$name.port"
  "$bin/tranpak-host" --key $key --defs ../etc/bitmap.txt --dir ../files --errlog "$name-errlog.txt" \
    --port-file "$name.port" "$@" > "$name.log" 2>&1 &
  pids+=($!)
  for _ in $(seq 100); do [ -s "$name.port" ] && break; sleep 0.05; done
  port=$(cat "$name.port")
}

# expect NAME EXIT PATTERNS COMMAND...: the command exits with EXIT and its
# output (stdout and stderr) has a line matching each of the PATTERNS
# (grep -E, separated by " && ")
expect() {
  local name=$1 want=$2 pattern=$3; shift 3
  local out rc
  out=$("$@" 2>&1); rc=$?
  if [ "$rc" != "$want" ]; then fail "$name: exit $rc, want $want"; echo "$out" | sed 's/^/      /'; return; fi
  local p rest=$pattern
  while [ -n "$rest" ]; do
    p=${rest%% && *}
    [ "$p" = "$rest" ] && rest= || rest=${rest#* && }
    if ! grep -qE -- "$p" <<< "$out"; then fail "$name: output lacks /$p/"; echo "$out" | sed 's/^/      /'; return; fi
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
expect "usage" 2 "usage" "$bin/tranpak-client" --port 1

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

expect "decoded trace, masked, MAC verified" 0 "\*{12}0119 && MAC: verified with the given key" \
  "$bin/tranpak-trace" --defs ../etc/bitmap.txt --key $key ctrace.txt
expect "decoded trace unmasked" 0 "4761739001010119" \
  "$bin/tranpak-trace" --defs ../etc/bitmap.txt --unmask ctrace.txt
expect "broken frame described, then raw" 0 "field 2 \(PAN\) does not decode at data offset 0 && raw \(" \
  "$bin/tranpak-trace" --defs ../etc/bitmap.txt --hex "02 30 30 32 32 30 32 30 30 40 00 00 00 00 00 00 00 58 58 31 32 33 03"

start_host faulty --fault bad-mac --fault-every 2
expect "one in two: first answer fine" 0 "MAC: verified" \
  "$bin/tranpak-client" --host 127.0.0.1 --port "$port" --key $key "${purchase[@]}"
expect "one in two: second answer with a wrong MAC" 3 "MAC: FAILED" \
  "$bin/tranpak-client" --host 127.0.0.1 --port "$port" --key $key "${purchase[@]}"
start_host closing --fault close
expect "host closes without answering" 1 "tranpak: read mesg_head rc = 0" \
  "$bin/tranpak-client" --host 127.0.0.1 --port "$port" --key $key "${purchase[@]}"
start_host nostop --fault no-stop
expect "answer without its stop byte" 1 "tranpak: Packet.stop = 0x00" \
  "$bin/tranpak-client" --host 127.0.0.1 --port "$port" --key $key "${purchase[@]}"
kill -INT "${pids[0]}"; wait "${pids[0]}" 2>/dev/null
grep -q "tranpak-host: stopped" main.log && pass "host ends cleanly on Ctrl-C" || fail "host did not stop cleanly"
expect "nobody listening" 1 "tranpak: connect error" \
  "$bin/tranpak-client" --host 127.0.0.1 --port "$(cat main.port)" --key $key "${purchase[@]}"

echo "$failures failures"
[ "$failures" -eq 0 ]
