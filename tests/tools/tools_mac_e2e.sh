#!/usr/bin/env bash
# The tools under every MAC algorithm: a client against a host started with
# the same --mac and key, the refusal when they differ, a load, the trace
# decoder's check, and the usage errors of --mac, --mac-padding and --key.
#   tools_mac_e2e.sh BIN_DIR SOURCE_DIR
set -u
bin=$1 src=$2
key=0123456789ABCDEF
source "$src/tests/support/tools_e2e_lib.sh"
ini=$'[Com Trace Flag]\nGCODEFLAG=1\n[Error Log File]\nERRFILE=errlog.txt\n[Bitmap Define File]\nBMPFILE=../etc/bitmap.txt\n[Com Trace File]\nCTRACEFILE=ctrace.txt\n'
e2e_workspace macs "$ini"

# expect NAME EXIT PATTERN COMMAND...: exit status and one line matching PATTERN
expect() {
  local name=$1 want=$2 pattern=$3; shift 3
  local out rc
  out=$("$@" 2>&1); rc=$?
  if [ "$rc" = "$want" ] && grep -qE -- "$pattern" <<< "$out"; then pass "$name"; return; fi
  fail "$name: exit $rc, want $want and /$pattern/"
  echo "$out" | sed 's/^/      /'
}

# logged PATTERN FILE: the host's log shows PATTERN within 5 s (its lines
# reach the file through a writer thread, after the reply has gone out)
logged() {
  local tries=0
  until grep -q -- "$1" "$2"; do
    tries=$((tries + 1)); [ $tries -gt 50 ] && return 1
    sleep 0.1
  done
}

k8=0123456789ABCDEF
k16=0123456789ABCDEFFEDCBA9876543210
k24=0123456789ABCDEFFEDCBA987654321089ABCDEF01234567
k32=603DEB1015CA71BE2B73AEF0857D77811F352C073B6108D72D9810A30914DFF4
purchase=(0200 2=4761739001010119 3=000000 4=12.50 11=000001 41=TERM0001)
client() { "$bin/tranpak-client" --host 127.0.0.1 --port "$port" "$@"; }

# name, --mac, --mac-padding, key, and another algorithm taking the same key
cases=(
  "LEGACY 1 $k8 ISO9797-1-ALG1"
  "ISO9797-1-ALG1 2 $k8 LEGACY"
  "ISO9797-1-ALG1 1 $k24 TDES-CMAC"
  "ISO9797-1-ALG3 1 $k16 ISO9797-1-ALG1"
  "ISO9797-1-ALG3 2 $k24 TDES-CMAC"
  "TDES-CMAC 1 $k16 AES-CMAC"
  "AES-CMAC 1 $k16 TDES-CMAC"
  "AES-CMAC 1 $k32 AES-CMAC"
)
for c in "${cases[@]}"; do
  read -r mac padding k other <<< "$c"
  key=$k
  name="$mac-$padding-$((${#k} * 4))"
  start_host "$name" --set 39=00 --mac "$mac" --mac-padding "$padding"
  expect "$name: exchange verified" 0 "^MAC: verified" client --key "$k" --mac "$mac" --mac-padding "$padding" "${purchase[@]}"
  if [ "$other" = "$mac" ]; then
    # the same algorithm under a key wrong in its last byte
    wrong="${k:0:${#k}-2}00"
    expect "$name: key wrong in its last byte refused" 3 "checking the reply's MAC failed: tranpak: mac check error" \
      client --key "$wrong" --mac "$mac" "${purchase[@]}"
  else
    expect "$name: client on $other refused" 3 "checking the reply's MAC failed: tranpak: mac check error" \
      client --key "$k" --mac "$other" --mac-padding "$padding" "${purchase[@]}"
  fi
  logged "MAC refused (tranpak: mac check error)" "$name.log" && pass "$name: host logs the refusal" \
    || fail "$name: host log lacks the refusal"
  rm -f ctrace.txt
  expect "$name: load of 20" 0 "20 done, 0 failed" \
    client --key "$k" --mac "$mac" --mac-padding "$padding" --no-progress --count 20 0800 11=000001 41=TERM0001
  expect "$name: the trace's 40 frames verify" 0 "MAC: verified with the given key" \
    "$bin/tranpak-trace" --defs ../etc/bitmap.txt --key "$k" --mac "$mac" --mac-padding "$padding" ctrace.txt
  kill -INT "$host"; wait "$host" 2>/dev/null
done

# The client takes the settings file's [MAC] when --mac is not given.
printf '%s[MAC]\nALGORITHM=ISO9797-1-ALG3\nPADDING=2\nKEYLEN=16\n' "$ini" > retail.ini
key=$k16
start_host fromsettings --set 39=00 --mac ISO9797-1-ALG3 --mac-padding 2
expect "[MAC] of --settings used" 0 "^MAC: verified" client --settings retail.ini --key $k16 "${purchase[@]}"
expect "--mac over [MAC]" 3 "mac check error" client --settings retail.ini --key $k16 --mac TDES-CMAC "${purchase[@]}"
printf '%s[MAC]\nALGORITHM=iso9797-1-alg3\nPADDING=02\n' "$ini" > retail02.ini
expect "[MAC] PADDING=02 read as the library reads it" 0 "^MAC: verified" \
  client --settings retail02.ini --key $k16 "${purchase[@]}"

kill -INT "$host"; wait "$host" 2>/dev/null

# A reply refused for its MAC shows the MAC it came with (the trace's
# reply frame), not the one the key gives for its bytes.
key=$k8
start_host badmac --set 39=00 --fault bad-mac
rm -f ctrace.txt
field64() { sed -n 's/^ *64  *MAC  *B  *\([0-9A-F]\{16\}\)$/\1/p'; }
out=$(client --key $k8 "${purchase[@]}" 2>&1)
shown=$(field64 <<< "$out")
received=$("$bin/tranpak-trace" --defs ../etc/bitmap.txt ctrace.txt | field64 | tail -1)
if grep -q "mac check error" <<< "$out" && [ -n "$shown" ] && [ "$shown" = "$received" ]; then
  pass "a refused reply shows the MAC received ($shown)"
else
  fail "a refused reply shows $shown, the frame carried $received"
  echo "$out" | sed 's/^/      /'
fi
kill -INT "$host"; wait "$host" 2>/dev/null

# What the MAC covers: a host on the data area only against a client on the
# whole message (the default of the standard algorithms), then on the same.
key=$k16
start_host datahost --set 39=00 --mac ISO9797-1-ALG3 --mac-covers data
expect "host on the data area: a client on the whole message is refused" 3 "mac check error" \
  client --key $k16 --mac ISO9797-1-ALG3 "${purchase[@]}"
logged "MAC refused (tranpak: mac check error)" datahost.log && pass "the host logs that refusal" \
  || fail "the host log lacks the refusal of the whole-message MAC"
rm -f ctrace.txt
expect "--mac-covers data meets it" 0 "^MAC: verified" \
  client --key $k16 --mac ISO9797-1-ALG3 --mac-covers DATA "${purchase[@]}"
expect "the trace verifies with --mac-covers data" 0 "MAC: verified with the given key" \
  "$bin/tranpak-trace" --defs ../etc/bitmap.txt --key $k16 --mac ISO9797-1-ALG3 --mac-covers data ctrace.txt
expect "the trace on the whole message does not" 1 "does NOT verify" \
  "$bin/tranpak-trace" --defs ../etc/bitmap.txt --key $k16 --mac ISO9797-1-ALG3 ctrace.txt
printf '%s[MAC]\nALGORITHM=ISO9797-1-ALG3\nCOVERS=DATA\n' "$ini" > data.ini
expect "[MAC] COVERS=DATA of --settings used" 0 "^MAC: verified" client --settings data.ini --key $k16 "${purchase[@]}"
expect "--mac over [MAC] takes that algorithm's coverage" 3 "mac check error" \
  client --settings data.ini --key $k16 --mac ISO9797-1-ALG3 "${purchase[@]}"
kill -INT "$host"; wait "$host" 2>/dev/null

port=1
printf '%s[MAC]\nALGORITHM=ISO9797-1-ALG3\nKEYLEN=24\n' "$ini" > keylen24.ini
expect "a key of another length than [MAC] KEYLEN" 2 \
  "--key has 16 bytes \(32 hex digits\), the settings file's \[MAC\] KEYLEN is 24" \
  client --settings keylen24.ini --key $k16 0800
printf '%s[MAC]\nALGORTHM=ISO9797-1-ALG3\n' "$ini" > typo.ini
expect "a misspelt [MAC] key" 1 "\[MAC\] key ALGORTHM is not ALGORITHM, PADDING, KEYLEN or COVERS" \
  client --settings typo.ini --key $k16 0800
expect "--mac-covers all" 2 "--mac-covers takes message or data, not all" client --key $k8 --mac-covers all 0800
expect "LEGACY over the whole message" 2 "LEGACY covers the data area only, not the message" \
  client --key $k8 --mac-covers message 0800
expect "the host refuses it too" 2 "LEGACY covers the data area only, not the message" \
  "$bin/tranpak-host" --key $k8 --mac-covers message
expect "AES-CMAC refuses a 16-digit key" 2 "--key for AES-CMAC takes 32, 48 or 64 hex digits, not 16" \
  client --key $k8 --mac AES-CMAC 0800
expect "legacy refuses a 32-digit key" 2 "--key for LEGACY takes 16 hex digits, not 32" client --key $k16 0800
expect "unknown --mac" 2 "--mac takes LEGACY, ISO9797-1-ALG1, ISO9797-1-ALG3, TDES-CMAC or AES-CMAC, not DES" \
  client --key $k8 --mac DES 0800
expect "--mac-padding 3" 2 "--mac-padding takes 1 or 2, not 3" client --key $k16 --mac ISO9797-1-ALG3 --mac-padding 3 0800
expect "key of 20 digits" 2 "--key takes 16, 32, 48 or 64 hex digits" client --key 0123456789ABCDEF0123 0800
expect "host refuses a key its --mac does not take" 2 "--key for ISO9797-1-ALG3 takes 32 or 48 hex digits, not 16" \
  "$bin/tranpak-host" --key $k8 --mac ISO9797-1-ALG3
expect "trace refuses it too" 2 "--key for TDES-CMAC takes 32 or 48 hex digits, not 64" \
  "$bin/tranpak-trace" --key $k32 --mac TDES-CMAC --hex 00
e2e_finish
