# Installing Debian packages for the scripts; sourced by them.
#
# The package archive is sometimes briefly inconsistent ("Mirror sync in
# progress?", an index of the wrong size): every apt step is tried
# TRANPAK_APT_ATTEMPTS times (default 3), TRANPAK_APT_PAUSE seconds apart
# (default 20, doubled after each failure), and waits for another apt run
# to finish first.

apt_opts=(-o DPkg::Lock::Timeout=900)

# apt's own reason for the last failure of apt_retry: its first "E:" line
# (or its last line when it printed none).
apt_why=""

# apt_quiet_run COMMAND...: runs an apt command with its output into the
# file $out, saying on standard error what it runs and, every
# TRANPAK_PROGRESS_SECONDS (default 10), that it still runs, so that a
# slow archive is never a silent minute. Its status is the command's.
apt_quiet_run() {
  local every=${TRANPAK_PROGRESS_SECONDS:-10} waited=0 pid verb=""
  local a
  for a in "$@"; do case $a in update | install) verb=$a ;; esac; done
  echo "   apt-get $verb ..." >&2
  DEBIAN_FRONTEND=noninteractive "$@" >"$out" 2>&1 &
  pid=$!
  while kill -0 "$pid" 2>/dev/null; do
    sleep 1
    waited=$((waited + 1))
    if ((waited % every == 0)) && kill -0 "$pid" 2>/dev/null; then
      echo "   apt-get $verb: still running after $waited s" >&2
    fi
  done
  wait "$pid"
}

# apt_retry COMMAND...: runs an apt command until it succeeds or the
# attempts are spent; its output is shown only when it fails.
apt_retry() {
  local attempts=${TRANPAK_APT_ATTEMPTS:-3} pause=${TRANPAK_APT_PAUSE:-20} n out
  out=$(mktemp)
  for ((n = 1; ; n++)); do
    if apt_quiet_run "$@"; then
      rm -f "$out"
      apt_why=""
      return 0
    fi
    apt_why=$(grep -m 1 '^E: ' "$out" || tail -n 1 "$out")
    if ((n >= attempts)); then
      cat "$out" >&2
      rm -f "$out"
      return 1
    fi
    echo "   apt failed ($apt_why); trying again in $pause s ($n of $attempts)" >&2
    sleep "$pause"
    pause=$((pause * 2))
  done
}

# apt_install PACKAGE...: the index brought up to date, then the packages
# installed, each step retried. An index that still cannot be fetched is
# not fatal by itself (the lists on the machine may serve); the install
# decides. Fails with apt's reason in apt_why.
apt_install() {
  local update_why=""
  apt_retry apt-get "${apt_opts[@]}" update -qq || update_why=$apt_why
  if apt_retry apt-get "${apt_opts[@]}" install -y -qq "$@"; then
    return 0
  fi
  # The index that could not be fetched is the likelier cause.
  [ -n "$update_why" ] && apt_why=$update_why
  return 1
}

# need_packages PACKAGE...: installs the packages that are missing; fails,
# saying apt's reason, when they cannot be installed.
need_packages() {
  local missing=() p
  for p in "$@"; do
    dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "== installing: ${missing[*]}" >&2
  apt_install "${missing[@]}" || {
    echo "could not install ${missing[*]}: $apt_why" >&2
    return 1
  }
}
