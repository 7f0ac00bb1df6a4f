# Shared by the end-to-end scripts of the tools; sourced, after setting
#   bin (the tools' folder), src (the source tree) and key.
# e2e_workspace NAME [INI]: a scratch tree, removed on exit with every
#   process in pids (sent Ctrl-C first):
#     etc/bitmap.txt   the definitions
#     files/           the host's --dir
#     run/             the working folder, entered here; with INI given,
#                      run/c:/windows/system/8583.ini holds it
# start_host NAME ARGS...: a host writing NAME.log and NAME-errlog.txt;
#   its port in $port, its pid in $host.
# pass / fail TEXT: one line each; e2e_finish prints the count of failures
#   and is the script's status.
# watched SECONDS PID / unwatched: a process that hangs is killed in time.

pids=()
failures=0

# watched SECONDS PID: kills the process after SECONDS, so that a test
# that fails by hanging fails in time; unwatched ends the watch.
watched() { ( sleep "$1"; kill -9 "$2" ) 2>/dev/null & watchdog=$!; }
unwatched() { kill $watchdog 2>/dev/null; wait $watchdog 2>/dev/null; }

e2e_cleanup() {
  local p
  for p in "${pids[@]}"; do kill -INT "$p" 2>/dev/null; watched 10 "$p"; wait "$p" 2>/dev/null; unwatched; done
  rm -rf "$work"
}

e2e_workspace() {
  work=$(mktemp -d "/tmp/tranpak-$1.XXXXXX")
  trap e2e_cleanup EXIT
  mkdir -p "$work/etc" "$work/files" "$work/run"
  cp "$src/etc/bitmap.txt" "$work/etc/"
  if [ $# -ge 2 ]; then
    mkdir -p "$work/run/c:/windows/system"
    printf '%s' "$2" > "$work/run/c:/windows/system/8583.ini"
  fi
  cd "$work/run"
}

fail() { echo "FAIL: $*"; failures=$((failures + 1)); }
pass() { echo "ok:   $*"; }
ms() { date +%s%3N; }

start_host() {
  local name=$1; shift
  rm -f "$name.port"
  "$bin/tranpak-host" --key "$key" --defs ../etc/bitmap.txt --dir ../files --errlog "$name-errlog.txt" \
    --port-file "$name.port" "$@" > "$name.log" 2>&1 &
  host=$!
  pids+=($host)
  for _ in $(seq 100); do [ -s "$name.port" ] && break; sleep 0.05; done
  port=$(cat "$name.port")
}

e2e_finish() {
  echo "$failures failures"
  [ "$failures" -eq 0 ]
}
