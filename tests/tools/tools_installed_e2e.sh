#!/usr/bin/env bash
# The tools as installed (cmake --install into a scratch prefix), run from
# a folder outside the source tree and outside the prefix, as a new user
# runs them: defaults that find the installed definitions, the installed
# example settings from any folder, --defs, no file left in the folder the
# host runs in, and a frame packed and described without a host.
#   tools_installed_e2e.sh BUILD_DIR SOURCE_DIR      (installs BUILD_DIR)
#   tools_installed_e2e.sh --prefix PREFIX SOURCE_DIR (an installed prefix)
set -u
if [ "$1" = "--prefix" ]; then
  prefix=$2 src=$3 build=
else
  build=$1 src=$2 prefix=
fi
key=0123456789ABCDEF
source "$src/tests/support/tools_e2e_lib.sh"
work=$(mktemp -d /tmp/tranpak-installed.XXXXXX)
trap e2e_cleanup EXIT
if [ -z "$prefix" ]; then
  prefix=$work/prefix
  cmake --install "$build" --prefix "$prefix" >/dev/null || { echo "FAIL: cmake --install"; exit 1; }
fi
bin=$prefix/bin
examples=$prefix/share/tranpak/examples
mkdir -p "$work/elsewhere/host" "$work/elsewhere/client"

# expect NAME EXIT PATTERN COMMAND...: exit status and a line of output.
expect() {
  local name=$1 want=$2 pattern=$3 out rc; shift 3
  out=$("$@" 2>&1); rc=$?
  if [ "$rc" = "$want" ] && grep -qE -- "$pattern" <<< "$out"; then
    pass "$name"
  else
    fail "$name: exit $rc (want $want), output:"; echo "$out" | sed 's/^/      /'
  fi
}

# The host from an empty folder, with neither --defs nor --errlog.
cd "$work/elsewhere/host"
"$bin/tranpak-host" --key $key --set 39=00 --port-file "$work/host.port" > "$work/host.log" 2>&1 &
host=$!
pids+=($host)
for _ in $(seq 100); do [ -s "$work/host.port" ] && break; sleep 0.05; done
port=$(cat "$work/host.port" 2>/dev/null)
[ -n "$port" ] && pass "host started from an empty folder on the installed definitions" \
  || { fail "host did not start: $(cat "$work/host.log")"; e2e_finish; exit; }

cd "$work/elsewhere/client"
purchase=(0200 2=4761739001010119 3=000000 4=12.50 11=000001 41=TERM0001)
expect "client with the installed example settings, from another folder" 0 "39  RESPCODE +AN +00" \
  "$bin/tranpak-client" --settings "$examples/8583.ini" --port "$port" --key $key "${purchase[@]}"
expect "client with --defs and no settings file" 0 "39  RESPCODE +AN +00" \
  "$bin/tranpak-client" --defs "$examples/bitmap.txt" --port "$port" --key $key "${purchase[@]}"
expect "client with neither: the installed definitions" 0 "^reply 0210" \
  "$bin/tranpak-client" --port "$port" --key $key "${purchase[@]}"
expect "a wrong key is refused with A0" 3 "39  RESPCODE +AN +A0" \
  "$bin/tranpak-client" --settings "$examples/8583.ini" --port "$port" --key 1111111111111111 "${purchase[@]}"
[ -s errlog.txt ] && [ ! -e "$examples/errlog.txt" ] && pass "the client's error log is in its own folder, not the prefix" \
  || fail "the client's error log: $(ls -A; ls "$examples")"
grep -q "MAC refused (tranpak: mac check error)" "$work/host.log" && pass "the host's log says why" \
  || fail "the host's log lacks the refusal: $(cat "$work/host.log")"
left=$(ls -A "$work/elsewhere/host")
[ -z "$left" ] && pass "nothing written into the folder the host runs in" || fail "the host's folder holds: $left"

# Without a host: a frame packed, then described, on the installed defaults.
frame=$("$bin/tranpak-client" --pack-only --key $key "${purchase[@]}" 2>&1)
[[ $frame =~ ^02[0-9A-F]+03$ ]] && pass "--pack-only prints one frame in hex" || fail "--pack-only printed: $frame"
expect "--frame describes it, MAC verified" 0 "MAC: verified with the given key" \
  "$bin/tranpak-trace" --key $key --frame "$frame"
expect "--frame masks the card number" 0 '2  PAN +N +16 +\*{12}0119' "$bin/tranpak-trace" --frame "$frame"
expect "--json of the frame in the message's shape" 0 '^\{"type": "0200", "fields": \{"2": \{"name": "PAN", "type": "N", "value": "\*{12}0119"\}, ' \
  "$bin/tranpak-trace" --json --frame "$frame"
expect "--json of a reply in the same shape" 0 '^\{"type": "0210", "fields": \{"2": \{"name": "PAN", "type": "N", "value": "\*{12}0119"\}, .*"mac": "verified", "answers_request": true\}$' \
  "$bin/tranpak-client" --json --port "$port" --key $key "${purchase[@]}"
ls -A "$work/elsewhere/client" | grep -qv '^errlog.txt$' && fail "the client left: $(ls -A)" \
  || pass "the client left nothing but its error log"
e2e_finish
