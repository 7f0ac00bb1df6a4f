#!/usr/bin/env bash
# The tools under each wire dialect of the presets in docs/wire-formats.md:
# a purchase from the client to a host started with the same settings
# file, traced, the trace decoded by tranpak-trace --settings field by
# field; the frames' first bytes as the dialect lays them out, the TPDU
# of the reply swapped; a file transfer where messages have no envelope;
# the client's dialect kept with --defs; the refusals of the host.
#   tools_dialect_e2e.sh BIN_DIR SOURCE_DIR
set -u
bin=$1 src=$2
key=0123456789ABCDEF
source "$src/tests/support/tools_e2e_lib.sh"
e2e_workspace dialects

# expect NAME EXIT PATTERN COMMAND...: exit status and one line matching PATTERN
expect() {
  local name=$1 want=$2 pattern=$3; shift 3
  local out rc
  out=$("$@" 2>&1); rc=$?
  if [ "$rc" = "$want" ] && grep -qE -- "$pattern" <<< "$out"; then pass "$name"; return; fi
  fail "$name: exit $rc, want $want and /$pattern/"
  echo "$out" | sed 's/^/      /'
}

# first_dump LABEL: the hex of the first dump line of the trace's first
# block of that label ("00-46-30-32 30-30-...").
first_dump() {
  awk -v label="$1" 'index($0, "} [len = ") && index($0, label) { found = 1; next }
    found && /^0000 : / { print substr($0, 8, 47); exit }' ctrace.txt
}

base=$'[Com Trace Flag]\nGCODEFLAG=1\n[Error Log File]\nERRFILE=errlog.txt\n[Bitmap Define File]\nBMPFILE=../etc/bitmap.txt\n[Com Trace File]\nCTRACEFILE=ctrace.txt\n'
purchase=(0200 2=4761739001010119 3=000000 4=12.50 11=000001 41=TERM0001)
# name | [Wire Format] lines | the request's first bytes as traced: the
# body (type, bitmap, PAN 16, 3, 4, 11, 41, MAC) is 70 bytes in ASCII,
# the bitmap 70 20 00 00 00 80 00 01. (The seed's decoder shows an NF
# field as it travels, the library's as TpGetCellText gives it.)
presets=(
  "seed||02-30-30-37 30-30-32-30"
  "binary2|LENGTH=BINARY2\nENVELOPE=NONE|00-46-30-32 30-30-70-20"
  "tpdu|LENGTH=BINARY2\nLENGTHCOUNTS=HEADER\nENVELOPE=NONE\nHEADER=TPDU:6000030000\nMTI=BCD\nNUMBERS=BCD\nPREFIX=BCD|00-34-60-00 03-00-00-02 00-70-20-00 00-00-80-00"
  "ascii4|LENGTH=ASCII4\nENVELOPE=NONE|30-30-37-30 30-32-30-30"
  "ebcdic|LENGTH=BINARY2\nENVELOPE=NONE\nMTI=EBCDIC\nBITMAP=HEX\nCHARSET=EBCDIC037|00-4E-F0-F2 F0-F0-F7-F0 F2-F0"
)
for p in "${presets[@]}"; do
  IFS='|' read -r name lines head <<< "$p"
  ini=$name.ini
  printf '%s' "$base" > "$ini"
  [ -n "$lines" ] && printf '[Wire Format]\n%b\n' "$lines" >> "$ini"
  rm -f ctrace.txt
  start_host "$name" --settings "$ini" --set 39=00 --set 38=123456
  [ -n "$port" ] || { fail "$name: the host did not start: $(cat "$name.log")"; continue; }
  expect "$name: the purchase is answered and its MAC verified" 0 '"39": \{"name": "RESPCODE", "type": "AN", "value": "00"\}.*"mac": "verified"' \
    "$bin/tranpak-client" --settings "$ini" --port "$port" --key "$key" --json "${purchase[@]}"
  sent=$(first_dump "send mesg body")
  [ "${sent:0:${#head}}" = "$head" ] && pass "$name: the request goes out as the dialect lays it out" \
    || fail "$name: the request starts $sent, not $head"
  decoded=$("$bin/tranpak-trace" --settings "$ini" --key "$key" --unmask --json ctrace.txt 2>&1); rc=$?
  req=$(sed -n 1p <<< "$decoded") rep=$(sed -n 2p <<< "$decoded")
  if [ $rc -eq 0 ] && [ "$(wc -l <<< "$decoded")" -eq 2 ] &&
     grep -qE '^\{"type": "0200", "fields": {"2": {"name": "PAN", "type": "N", "value": "4761739001010119"}, "3": {"name": "PROCCODE", "type": "N", "value": "000000"}, "4": {"name": "AMOUNT", "type": "NF", "value": "(12.50|000000001250)"}, "11": {"name": "STAN", "type": "N", "value": "000001"}, "41": {"name": "TERMID", "type": "ANS", "value": "TERM0001"}, "64": ' <<< "$req" &&
     grep -q '"direction": "sent".*"ok": true' <<< "$req" && grep -q '"mac": "verified"' <<< "$req" &&
     grep -q '^{"type": "0210", .*"38": {"name": "AUTHCODE", "type": "AN", "value": "123456"}, "39": {"name": "RESPCODE", "type": "AN", "value": "00"}, "41": {"name": "TERMID", "type": "ANS", "value": "TERM0001"}' <<< "$rep" &&
     grep -q '"direction": "received".*"ok": true.*"mac": "verified"' <<< "$rep"; then
    pass "$name: the trace decodes by the settings, both frames, every field"
  else
    fail "$name: the trace decoded to (exit $rc):"; echo "$decoded" | sed 's/^/      /'
  fi
  if [ -n "$lines" ]; then
    expect "$name: without the settings the decoder does not take the frames" 1 "packets" \
      "$bin/tranpak-trace" --defs ../etc/bitmap.txt ctrace.txt
  fi
  kill -INT "$host"; wait "$host" 2>/dev/null
done

# The TPDU: the terminal's 60 0003 0000, the host's reply 60 0000 0003.
rm -f ctrace.txt
start_host tpdu-again --settings tpdu.ini --set 39=00
"$bin/tranpak-client" --settings tpdu.ini --port "$port" --key "$key" "${purchase[@]}" > /dev/null 2>&1
reply=$(first_dump "recv mesg data")
[ "${reply:0:20}" = "60-00-00-00 03-02-10" ] && pass "tpdu: the reply carries the TPDU swapped" \
  || fail "tpdu: the reply starts $reply"
expect "tpdu: the decoder shows both TPDUs" 0 "header 60 00 00 00 03" \
  "$bin/tranpak-trace" --settings tpdu.ini ctrace.txt
expect "tpdu: the request's TPDU as configured" 0 "header 60 00 03 00 00" \
  "$bin/tranpak-trace" --settings tpdu.ini ctrace.txt
kill -INT "$host"; wait "$host" 2>/dev/null

# File frames stay 06 frames where messages have no envelope.
start_host bare-files --settings binary2.ini --set 39=00
printf 'line one\nline two\n' > local.txt
expect "binary2: a file sent" 0 "sent local.txt -> up.txt: done" \
  "$bin/tranpak-client" --settings binary2.ini --port "$port" send-file local.txt up.txt
cmp -s local.txt ../files/up.txt && pass "binary2: the file arrived whole" || fail "binary2: the file differs"
expect "binary2: the file fetched" 0 "fetched up.txt -> back.txt: done" \
  "$bin/tranpak-client" --settings binary2.ini --port "$port" fetch-file up.txt back.txt
cmp -s local.txt back.txt && pass "binary2: the fetched file is the same" || fail "binary2: the fetched file differs"
expect "binary2: a message on the same host after the files" 0 "^MAC: verified" \
  "$bin/tranpak-client" --settings binary2.ini --port "$port" --key "$key" "${purchase[@]}"
expect "binary2: a load of 20 in the dialect" 0 "20 done, 0 failed" \
  "$bin/tranpak-client" --settings binary2.ini --port "$port" --key "$key" --no-progress --count 20 --connections 2 \
  0800 11=000001 41=TERM0001
kill -INT "$host"; wait "$host" 2>/dev/null

# The client's dialect is the settings file's with --defs too.
expect "--pack-only with --defs keeps the dialect" 0 "^00463032303070200000" \
  "$bin/tranpak-client" --settings binary2.ini --defs ../etc/bitmap.txt --pack-only --key "$key" "${purchase[@]}"
expect "tranpak-trace --frame under --settings" 0 "framing: length 00 46 says 70, 70 came" \
  "$bin/tranpak-trace" --settings binary2.ini --frame \
  "$("$bin/tranpak-client" --settings binary2.ini --pack-only --key "$key" "${purchase[@]}")"

# What the host cannot serve it refuses to start with.
printf '%s[Wire Format]\nLENGTH=NONE\nENVELOPE=NONE\n' "$base" > none.ini
expect "LENGTH=NONE: the host does not start" 1 "LENGTH=NONE has no length to read a message from a connection by" \
  "$bin/tranpak-host" --key "$key" --defs ../etc/bitmap.txt --settings none.ini --port 0
printf '%s[Wire Format]\nLENGTH=BINARY3\n' "$base" > wrong.ini
expect "a value of no key: the host does not start" 1 "\[Wire Format\] LENGTH=BINARY3 is not a value of LENGTH" \
  "$bin/tranpak-host" --key "$key" --defs ../etc/bitmap.txt --settings wrong.ini --port 0
expect "a value of no key: the client names it" 1 "tranpak: \[Wire Format\] LENGTH=BINARY3 is not a value of LENGTH" \
  "$bin/tranpak-client" --settings wrong.ini --defs ../etc/bitmap.txt --port 1 --key "$key" "${purchase[@]}"
expect "a value of no key: the decoder names it" 1 "\[Wire Format\] LENGTH=BINARY3 is not a value of LENGTH" \
  "$bin/tranpak-trace" --settings wrong.ini ctrace.txt
expect "no settings file: the decoder says so" 1 "settings file nowhere.ini is not a file that can be read" \
  "$bin/tranpak-trace" --settings nowhere.ini ctrace.txt
expect "no-stop without envelope: the host does not start" 1 "--fault no-stop needs a stop byte" \
  "$bin/tranpak-host" --key "$key" --defs ../etc/bitmap.txt --settings binary2.ini --fault no-stop --port 0

e2e_finish
