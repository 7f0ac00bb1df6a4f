#!/usr/bin/env bash
# The example programs, built as an application builds them, run as
# written against the host simulator from a folder of their own.
#   examples_e2e.sh TOOLS_BIN_DIR EXAMPLES_BIN_DIR SOURCE_DIR
set -u
bin=$1 examples=$2 src=$3
key=0123456789ABCDEF
source "$src/tests/support/tools_e2e_lib.sh"
e2e_workspace examples
defs=$work/etc/bitmap.txt

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

start_host approving --set 39=00 --set 38=A1B2C3
expect "purchase: approved, reply printed with the card number masked" 0 "response code 00" \
  "$examples/example_purchase" "$defs" 127.0.0.1 "$port" $key
expect "purchase: the card number never shown in clear" 0 '\*{12}0119' \
  "$examples/example_purchase" "$defs" 127.0.0.1 "$port" $key
expect "terminals: four threads, four sessions, all approved" 0 "^4 of 4 approved" \
  "$examples/example_terminals" "$defs" 127.0.0.1 "$port" $key 4
expect "purchase: under a wrong key the reply's MAC fails, field 64 named" 1 \
  "the exchange failed \(field 64\): tranpak: mac check error" \
  "$examples/example_purchase" "$defs" 127.0.0.1 "$port" 1111111111111111
expect "purchase: a definitions file that is not there fails, naming the reason" 1 \
  "initialisation failed: tranpak: ReadBMPFile\(\) open BMPfile fail" \
  "$examples/example_purchase" "$work/none.txt" 127.0.0.1 "$port" $key
# The README's example, taken out of the README and built as written.
expect "the README's example: approved, card number masked" 0 '\*{12}0119' \
  "$examples/example_readme" "$defs" 127.0.0.1 "$port" $key
kill -INT "$host"; wait "$host" 2>/dev/null
expect "purchase: no host, the connect failure printed" 1 "connecting failed" \
  "$examples/example_purchase" "$defs" 127.0.0.1 "$port" $key
e2e_finish
