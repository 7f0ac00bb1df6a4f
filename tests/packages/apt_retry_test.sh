#!/usr/bin/env bash
# The package steps of the scripts against a stand-in apt-get that fails a
# given number of times: a brief hiccup of the archive is retried away, and
# one that lasts ends with apt's own reason.
set -euo pipefail
root=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/bin"
# apt-get: "update" fails UPDATE_FAILS times, "install" INSTALL_FAILS times
# (-1: always), each with an apt-like error; every call is counted.
cat >"$work/bin/apt-get" <<'STUB'
#!/usr/bin/env bash
verb=update
for a in "$@"; do case $a in update | install) verb=$a ;; esac; done
count_file=$STUB_DIR/$verb.count
n=$(($(cat "$count_file" 2>/dev/null || echo 0) + 1))
echo "$n" >"$count_file"
limit_var=${verb^^}_FAILS
limit=${!limit_var:-0}
if [ "$limit" -lt 0 ] || [ "$n" -le "$limit" ]; then
  echo "W: some warning"
  if [ "$verb" = update ]; then
    echo "E: Failed to fetch http://deb.example/dists/bookworm-security/main/binary-i386/Packages.xz  File has unexpected size (1 != 2). Mirror sync in progress?"
  else
    echo "E: Unable to correct problems, you have held broken packages."
  fi
  exit 100
fi
STUB
printf '#!/bin/sh\nexit 1\n' >"$work/bin/dpkg"  # every package is missing
chmod +x "$work/bin/apt-get" "$work/bin/dpkg"
export PATH="$work/bin:$PATH" STUB_DIR=$work TRANPAK_APT_PAUSE=0 TRANPAK_APT_ATTEMPTS=3
# shellcheck source=../scripts/lib/packages.sh
source "$root/scripts/lib/packages.sh"

failures=0
check() {  # check NAME EXPECTED ACTUAL
  if [ "$2" = "$3" ]; then echo "ok   $1"; else echo "FAIL $1: expected [$2], got [$3]"; failures=$((failures + 1)); fi
}
calls() { cat "$work/$1.count" 2>/dev/null || echo 0; }
run() {  # run UPDATE_FAILS INSTALL_FAILS: need_packages's status
  rm -f "$work"/*.count
  UPDATE_FAILS=$1 INSTALL_FAILS=$2 need_packages pkg-a pkg-b >/dev/null 2>&1 && echo 0 || echo 1
}

check "a hiccup of two updates is retried away" 0 "$(run 2 0)"
check "  three updates were tried" 3 "$(calls update)"
check "an install failing once is retried" 0 "$(run 0 1)"
check "  two installs were tried" 2 "$(calls install)"
check "an archive that stays broken fails" 1 "$(run -1 -1)"
check "  after three tries of each step" "3 3" "$(calls update) $(calls install)"
UPDATE_FAILS=-1 INSTALL_FAILS=-1 apt_install pkg-a 2>/dev/null || true
check "  the reason is apt's, from the index that failed" \
  "E: Failed to fetch http://deb.example/dists/bookworm-security/main/binary-i386/Packages.xz  File has unexpected size (1 != 2). Mirror sync in progress?" \
  "$apt_why"
UPDATE_FAILS=0 INSTALL_FAILS=-1 apt_install pkg-a 2>/dev/null || true
check "  or the install's when the index came" "E: Unable to correct problems, you have held broken packages." "$apt_why"
check "an index that cannot be fetched is no failure when the install works" 0 "$(run -1 0)"
[ "$failures" -eq 0 ]
