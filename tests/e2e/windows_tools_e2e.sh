#!/usr/bin/env bash
# The Windows host and client under Wine: a purchase, and fetches and
# stores kept inside --dir even where a POSIX link leads out (Wine shows
# such a link as a plain folder or file, with no reparse point to refuse
# it by).
#   windows_tools_e2e.sh HOST_EXE CLIENT_EXE SOURCE_DIR
# Exits 77 (skipped) where there is no wine.
set -u
host_exe=$1 client_exe=$2 src=$3
key=0123456789ABCDEF
# The 64-bit loader the Windows leg runs its programs with, else wine.
wine=$(dpkg -L wine64 2>/dev/null | grep -E '/wine64$' | head -n 1)
[ -n "$wine" ] || wine=$(command -v wine) || { echo "no wine: skipped"; exit 77; }
work=$(mktemp -d /tmp/tranpak-winelinks.XXXXXX)
host=""
cleanup() { [ -n "$host" ] && kill "$host" 2>/dev/null; wait 2>/dev/null; rm -rf "$work"; }
trap cleanup EXIT
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
pass() { echo "ok:   $*"; }

cd "$work"
mkdir -p served/sub outside
cp "$src/etc/bitmap.txt" .
echo inside > served/sub/in.txt
echo secret > outside/secret.txt
ln -s ../outside served/outl
ln -s ../outside/secret.txt served/fl
printf '[Error Log File]\r\nERRFILE=client-errlog.txt\r\n[Bitmap Define File]\r\nBMPFILE=bitmap.txt\r\n' > c.ini
echo stored > s.txt

timeout 240 "$wine" "$host_exe" --key $key --defs bitmap.txt --dir served --port 0 --port-file port.txt \
  > host.log 2>&1 &
host=$!
for _ in $(seq 600); do [ -s port.txt ] && break; sleep 0.1; done
port=$(tr -d '\r\n' < port.txt 2>/dev/null)
[ -n "$port" ] || { echo "FAIL: the host did not start"; cat host.log; exit 1; }
client() { timeout 60 "$wine" "$client_exe" --port "$port" --key $key --settings c.ini "$@" >> client.log 2>&1; }

client 0200 2=4761739001010119 4=12.50 11=000001 41=TERM0001 && tr -d '\r' < client.log | grep -q "MAC: verified" \
  && pass "a purchase from the Windows client is answered" || { fail "no purchase"; tr -d '\r' < client.log; }
client fetch-file sub/in.txt in.txt && [ "$(tr -d '\r' < in.txt)" = inside ] \
  && pass "a file inside is fetched" || { fail "a file inside was not fetched"; tr -d "\r" < client.log; }
for request in outl/secret.txt fl; do
  if client fetch-file "$request" got.txt || grep -q secret got.txt 2>/dev/null; then
    fail "fetch $request read the file outside"
  else
    pass "fetch $request refused"
  fi
  rm -f got.txt
done
client send-file s.txt outl/put.txt
[ ! -e outside/put.txt ] && pass "store through a link to a folder outside refused" \
  || fail "store wrote outside/put.txt"
tr -d '\r' < host.log | grep -q "refused: a symbolic link leads outside the served directory" \
  && pass "the host says why" || { fail "the host's log lacks the reason"; tr -d '\r' < host.log; }

echo "$failures failures"
[ "$failures" -eq 0 ]
