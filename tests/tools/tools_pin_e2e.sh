#!/usr/bin/env bash
# PIN blocks through the tools: a client putting the block of --pin into
# field 52 (a fixed key, or DUKPT with the KSN in field 53), a host reading
# it under the same key or BDK and declining a wrong PIN with 55 by a rule;
# the usage errors; and the clear PIN in no output at all: the client's
# and the host's, the error logs, the trace, the trace decoder's
# description and the reply as TpDescribe gives it (--json), masked or not.
#   tools_pin_e2e.sh BIN_DIR SOURCE_DIR
set -u
bin=$1 src=$2
key=0123456789ABCDEF
source "$src/tests/support/tools_e2e_lib.sh"
ini=$'[Com Trace Flag]\nGCODEFLAG=1\n[Error Log File]\nERRFILE=errlog.txt\n[Bitmap Define File]\nBMPFILE=../etc/bitmap.txt\n[Com Trace File]\nCTRACEFILE=ctrace.txt\n'
e2e_workspace pins "$ini"

pin=73915846  # a PIN whose digits no other value here holds
tdes=0123456789ABCDEFFEDCBA9876543210
tdes3=0123456789ABCDEFFEDCBA987654321089ABCDEF01234567
aes=FEDCBA9876543210F1F1F1F1F1F1F1F1
aes256=FEDCBA9876543210F1F1F1F1F1F1F1F1FEDCBA9876543210F1F1F1F1F1F1F1F1
# Definitions with the KSN in field 53: B 10 beside the 8-byte block; B 12
# beside format 4's 16-byte block.
sed 's/^MAC /KSN         B     10      53\nMAC /' ../etc/bitmap.txt > ../etc/tdes.txt
sed -e 's/^PINBLOCK    B     8 /PINBLOCK    B     16/' -e 's/^MAC /KSN         B     12      53\nMAC /' \
  ../etc/bitmap.txt > ../etc/aes.txt
purchase=(0200 2=4761739001010119 3=000000 4=12.50 11=000001 41=TERM0001)
n=0

# exchange NAME WANT39 DEFS HOST_ARGS -- CLIENT_ARGS: a host with its PIN
# options and the rule, one purchase; the reply's field 39 (or "none").
exchange() {
  local name=$1 want=$2 defs=$3; shift 3
  local hargs=() cargs=()
  while [ "$1" != -- ]; do hargs+=("$1"); shift; done
  shift
  cargs=("$@")
  n=$((n + 1))
  start_host "h$n" --defs "../etc/$defs" --rule "pin!=$pin : 39=55" "${hargs[@]}"
  "$bin/tranpak-client" --port "$port" --key "$key" --defs "../etc/$defs" "${cargs[@]}" "${purchase[@]}" \
    > "c$n.out" 2>&1
  local rc=$? got
  got=$(awk '$1 == 39 {print $4}' "c$n.out")
  kill -INT "$host"; wait "$host" 2>/dev/null
  if [ "$rc" = 0 ] && [ "${got:-none}" = "$want" ]; then pass "$name"; else
    fail "$name: exit $rc, field 39 ${got:-none}, want $want"
    sed 's/^/      /' "c$n.out" "h$n.log"
  fi
}

exchange "format 0, TDES key: the PIN passes" none bitmap.txt --pin-key $tdes -- --pin $pin --pin-key $tdes
exchange "format 0, TDES key: a wrong PIN is declined" 55 bitmap.txt --pin-key $tdes -- --pin 73915847 --pin-key $tdes
exchange "format 0, another key: declined" 55 bitmap.txt --pin-key $tdes3 -- --pin $pin --pin-key $tdes
exchange "format 1, three-key TDES" none bitmap.txt --pin-key $tdes3 --pin-format 1 -- \
  --pin $pin --pin-key $tdes3 --pin-format 1
exchange "format 3, TDES DUKPT, KSN in 53" none tdes.txt --pin-key $tdes --pin-format 3 --dukpt -- \
  --pin $pin --pin-key $tdes --pin-format 3 --ksn FFFF9876543210E00001
exchange "format 3, TDES DUKPT: a wrong PIN is declined" 55 tdes.txt --pin-key $tdes --pin-format 3 --dukpt -- \
  --pin 1111 --pin-key $tdes --pin-format 3 --ksn FFFF9876543210E00002
exchange "format 0, TDES DUKPT: the host without --dukpt reads no PIN" 55 tdes.txt --pin-key $tdes -- \
  --pin $pin --pin-key $tdes --ksn FFFF9876543210E00003
exchange "format 4, AES-128 DUKPT" none aes.txt --pin-key $aes --pin-format 4 --dukpt -- \
  --pin $pin --pin-key $aes --pin-format 4 --ksn 123456789012345600000001
exchange "format 4, AES-256 DUKPT: a wrong PIN is declined" 55 aes.txt --pin-key $aes256 --pin-format 4 --dukpt -- \
  --pin 123456789012 --pin-key $aes256 --pin-format 4 --ksn 1234567890123456FFFF0000
exchange "format 4, AES key, KSN in field 48 as text" none aes.txt --pin-key $aes --pin-format 4 --dukpt --ksn-field 48 -- \
  --pin $pin --pin-key $aes --pin-format 4 --ksn 123456789012345600000002 --ksn-field 48

# expect NAME EXIT PATTERN COMMAND...: exit status and one line matching PATTERN
expect() {
  local name=$1 want=$2 pattern=$3; shift 3
  local out rc
  out=$("$@" 2>&1); rc=$?
  printf '%s\n' "$out" >> usage.out
  if [ "$rc" = "$want" ] && grep -qE -- "$pattern" <<< "$out"; then pass "$name"; return; fi
  fail "$name: exit $rc, want $want and /$pattern/"
  echo "$out" | sed 's/^/      /'
}
client() { "$bin/tranpak-client" --port 1 --key "$key" --pack-only "$@" "${purchase[@]}"; }
expect "format 4 needs a 16-byte field 52" 2 "field 52 must be defined as B 16" \
  client --defs ../etc/bitmap.txt --pin $pin --pin-key $aes --pin-format 4
expect "format 4 takes an AES key" 2 "takes an AES key" client --pin $pin --pin-key 0011 --pin-format 4
expect "format 0 refuses a single DES key" 2 "takes a triple DES key" client --pin $pin --pin-key $key
expect "a PIN of 3 digits" 2 "the PIN must be 4 to 12 digits" client --pin 123 --pin-key $tdes
expect "a KSN of the wrong length" 2 "--ksn takes 24 hex digits for AES" \
  client --defs ../etc/aes.txt --pin $pin --pin-key $aes --pin-format 4 --ksn FFFF9876543210E00001
expect "a counter with eleven 1-bits" 2 "never uses" \
  client --defs ../etc/tdes.txt --pin $pin --pin-key $tdes --ksn FFFF9876543210E007FF
expect "no field 53 for the KSN" 2 "field 53 \\(the KSN\\) is not defined" \
  client --pin $pin --pin-key $tdes --ksn FFFF9876543210E00001
expect "--pin without --pin-key" 2 "go together" client --pin $pin
expect "the host refuses a pin rule on a short PIN" 2 "pin= and pin!= take a PIN of 4 to 12 digits" \
  "$bin/tranpak-host" --key $key --rule "pin=12 : 39=55"

# The PIN in no output: the trace decoder's description of the whole trace
# (masked and not), the replies as TpDescribe gives them, a packed request
# described, and every file the run left.
"$bin/tranpak-trace" --defs ../etc/aes.txt ctrace.txt > decoded.out 2>&1
"$bin/tranpak-trace" --defs ../etc/aes.txt --unmask ctrace.txt > decoded-unmasked.out 2>&1
frame=$(client --defs ../etc/aes.txt --pin $pin --pin-key $aes --pin-format 4 --ksn 123456789012345600000003 2>&1)
"$bin/tranpak-trace" --defs ../etc/aes.txt --frame "$frame" > frame.out 2>&1
start_host json --defs ../etc/aes.txt --pin-key $aes --pin-format 4 --dukpt --rule "pin!=$pin : 39=55"
"$bin/tranpak-client" --port "$port" --key "$key" --defs ../etc/aes.txt --json --unmask --pin $pin --pin-key $aes \
  --pin-format 4 --ksn 123456789012345600000004 "${purchase[@]}" > describe.out 2>&1
kill -INT "$host"; wait "$host" 2>/dev/null
[ -s ctrace.txt ] && [ -s decoded.out ] && grep -q '"52"' describe.out && [ -n "$frame" ] &&
  pass "every output was written" || fail "an output is missing"
grep -q "52" decoded-unmasked.out && pass "the decoder shows field 52" || fail "no field 52 in the decoder's output"
hex=$(printf '%s' "$pin" | sed 's/../& /g; s/ $//')  # "73 91 58 46", as a hex dump would show a clear PIN field
if grep -rlE -- "$pin|$hex" . ; then fail "the clear PIN is in the files above"; else pass "the clear PIN is in no output"; fi
files=$(ls | wc -l)
[ "$files" -ge 20 ] && pass "searched $files files" || fail "only $files files to search"
e2e_finish
