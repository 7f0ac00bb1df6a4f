#!/usr/bin/env bash
# A new user's first hour, as the README and docs/python.md tell it, each
# step taken from the page itself so that the page cannot drift from what
# works:
#   new_user_path.sh c
#       the README's install commands (into a scratch prefix instead of
#       /usr/local, in the shared Release build), the README's example
#       program built with the README's pkg-config line against that prefix
#       and run against the installed host, both from a folder elsewhere;
#       then the installed tools from another folder
#       (tests/tools/tools_installed_e2e.sh --prefix)
#   new_user_path.sh python PYTHON
#       the first example of docs/python.md run by PYTHON (of a virtual
#       environment the wheel is installed in) from an empty folder, against
#       the host the package installs
set -u
cd "$(dirname "$0")/../.."
src=$(pwd)
key=0123456789ABCDEF
source tests/support/tools_e2e_lib.sh
work=$(mktemp -d /tmp/tranpak-new-user.XXXXXX)
trap e2e_cleanup EXIT
mkdir -p "$work/elsewhere"

# start_installed_host HOST_PROGRAM ARGS...: a host from the folder
# elsewhere; its port in $port.
start_installed_host() {
  local program=$1; shift
  (cd "$work/elsewhere" && exec "$program" --key $key --set 39=00 --port-file "$work/host.port" "$@") \
    > "$work/host.log" 2>&1 &
  host=$!
  pids+=($host)
  for _ in $(seq 200); do [ -s "$work/host.port" ] && break; sleep 0.05; done
  port=$(cat "$work/host.port" 2>/dev/null)
  [ -n "$port" ] || { fail "the installed host did not start: $(cat "$work/host.log")"; e2e_finish; exit 1; }
}

# The lines of a section of a Markdown page (from its heading to the next
# of its level).
section() { awk -v h="$2" '$0 == h {on = 1; next} on && /^## / {exit} on' "$1"; }

c_path() {
  local prefix=$work/prefix build=build/release-linux install
  install=$(section README.md "## Install" | sed -n 's/^    \(cmake .*\)$/\1/p')
  [ "$(wc -l <<< "$install")" -eq 3 ] || { fail "the README's install is not three cmake commands: $install"; return; }
  grep -q -- "-DTRANPAK_BUILD_TESTS=OFF" <<< "$install" && pass "the README's install builds no tests" \
    || fail "the README's install builds the tests: $install"
  grep -qE -- "--build build -j ?[0-9]" <<< "$install" && pass "the README's install names its parallel jobs" \
    || fail "the README's build runs with unbounded jobs: $install"
  # The README's own commands, into the shared build and a scratch prefix.
  install=$(sed -e "s#-B build #-B $build #; s#--build build #--build $build #; s#--install build #--install $build #" \
    -e "s#--prefix /usr/local#--prefix $prefix#" <<< "$install")
  local line
  while IFS= read -r line; do
    echo "   \$ $line"
    eval "$line" > "$work/install.log" 2>&1 || { fail "$line: $(tail -5 "$work/install.log")"; return; }
  done <<< "$install"
  pass "the README's install into $prefix"

  # The README's example, built as the README says for another prefix.
  cmake -DREADME="$src/README.md" -DOUT="$work/elsewhere/app.c" -P examples/readme_example.cmake
  local pc_path compile
  pc_path=$(section README.md "## Install" | grep -o 'PKG_CONFIG_PATH=[^ `]*' | head -1)
  compile=$(section README.md "## Install" | sed -n 's/^    \(cc app.c .*\)$/\1/p')
  [ -n "$pc_path" ] && [ -n "$compile" ] || { fail "the README names no PKG_CONFIG_PATH or cc line"; return; }
  pc_path=${pc_path//\$HOME\/tranpak/$prefix}
  pc_path=${pc_path//\/usr\/local/$prefix}
  (cd "$work/elsewhere" && export "${pc_path?}" && eval "$compile -o app") > "$work/cc.log" 2>&1 \
    && pass "the README's example built with pkg-config against the prefix ($pc_path)" \
    || { fail "building the README's example: $(cat "$work/cc.log")"; return; }

  start_installed_host "$prefix/bin/tranpak-host" --defs "$prefix/share/tranpak/examples/bitmap.txt"
  local out
  out=$(cd "$work/elsewhere" && ./app "$prefix/share/tranpak/examples/bitmap.txt" 127.0.0.1 "$port" $key 2>&1)
  grep -q "^response code 00$" <<< "$out" && pass "the example, run from elsewhere: approved" \
    || fail "the example: $out"
  kill -INT "$host"; wait "$host" 2>/dev/null

  tests/tools/tools_installed_e2e.sh --prefix "$prefix" "$src" | sed 's/^/   /'
  [ "${PIPESTATUS[0]}" -eq 0 ] && pass "the installed tools from another folder" \
    || fail "the installed tools from another folder"
}

python_path() {
  local python=$1 example out
  example=$(awk '/^```python$/ {on = 1; next} on && /^```$/ {exit} on' docs/python.md)
  [ -n "$example" ] || { fail "docs/python.md has no Python example"; return; }
  start_installed_host "$(dirname "$python")/tranpak-host"
  printf '%s\n' "$example" | sed "s/\\b5000\\b/$port/g" > "$work/elsewhere/example.py"
  out=$(cd "$work/elsewhere" && env -u PYTHONPATH -u TRANPAK_LIBRARY timeout 60 "$python" example.py 2>&1)
  grep -q "^response code 00$" <<< "$out" && pass "the docs' first Python example, run from an empty folder" \
    || fail "the docs' first Python example from an empty folder: $out"
}

case ${1:-} in
c) c_path ;;
python) python_path "$2" ;;
*) echo "usage: new_user_path.sh c | python PYTHON" >&2; exit 2 ;;
esac
e2e_finish
