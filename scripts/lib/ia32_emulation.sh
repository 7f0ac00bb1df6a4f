# 32-bit x86 programs through user-mode QEMU, for kernels that cannot run
# them; sourced by scripts/test.sh, which calls ia32_emulation_start once
# and ia32_emulation_stop from its EXIT trap.
#
# QEMU 7.2 (the release's own qemu-user) is not enough for Wine: it ignores
# MAP_FIXED_NOREPLACE, so Wine cannot map its shared user data at the fixed
# address, and reserving the address space instead makes every start take
# about a minute. The backports suite's QEMU 10 works. Its qemu-user package
# holds a static /usr/bin/qemu-i386, which is all that is needed: the
# package is downloaded and that one file taken out of it, so an installed
# QEMU and the machine's package state stay as they are.
#
# apt reads the backports suite from a sources file of our own, with its
# own lists and cache (all under one temporary folder), so the machine's
# apt configuration and lists are never changed: there is nothing to undo
# there and no second `apt-get update` to pay for.
#
# The interpreter is registered with binfmt_misc under our own name, with
# the F flag: the kernel opens qemu-i386 at registration, so it runs for
# any program in any mount namespace or chroot, and Wine's 32-bit loader
# (started from the 64-bit one) needs no help. An existing qemu-i386 entry
# would run 32-bit programs with whatever QEMU it names, so it is disabled
# while ours is in place, and enabled again afterwards.

ia32_emulation_entry=tranpak-i386
ia32_emulation_lib=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
ia32_emulation_binfmt=/proc/sys/fs/binfmt_misc
ia32_emulation_dir=""        # temporary folder: apt's files and qemu-i386
ia32_emulation_mounted=""    # "yes" when binfmt_misc was mounted here
ia32_emulation_disabled=""   # the entries disabled here, one per line
ia32_emulation_why=""        # why emulation could not be set up
ia32_emulation_qemu=""       # "qemu-i386 version ..." once registered

# apt on the backports sources file only (see above).
ia32_emulation_apt() {
  local tool=$1; shift
  "$tool" -o Dir::Etc::SourceList="$ia32_emulation_dir/apt/backports.sources" \
    -o Dir::Etc::SourceParts=- -o Dir::State::Lists="$ia32_emulation_dir/apt/lists" \
    -o Dir::Cache="$ia32_emulation_dir/apt/cache" \
    -o APT::Architectures::="$(dpkg --print-architecture)" "$@"
}

# The archive that serves the release itself, as apt reads it from the
# machine's sources (deb822 or one-line, whichever is used): the part of
# its Release file's address before /dists/.
ia32_emulation_archive() {
  local codename=$1
  apt-get update --print-uris 2>/dev/null |
    sed -n "s|^'\(.*\)/dists/$codename/InRelease'.*|\1|p" | head -n 1
}

# Returns 0 with the entry registered; otherwise sets ia32_emulation_why
# and leaves nothing behind but what ia32_emulation_stop removes.
ia32_emulation_start() {
  local codename archive deb conf type offset magic mask rest
  if ! grep -qw binfmt_misc /proc/filesystems; then
    ia32_emulation_why="this kernel has no binfmt_misc"
    return 1
  fi
  if [ ! -e "$ia32_emulation_binfmt/register" ]; then
    mount -t binfmt_misc binfmt_misc "$ia32_emulation_binfmt" 2>/dev/null || {
      ia32_emulation_why="binfmt_misc could not be mounted on $ia32_emulation_binfmt"
      return 1
    }
    ia32_emulation_mounted=yes
  fi

  codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
  archive=$(ia32_emulation_archive "$codename")
  if [ -z "$codename" ] || [ -z "$archive" ]; then
    ia32_emulation_why="no apt source for the release '$codename' to take the backports suite from"
    return 1
  fi
  ia32_emulation_dir=$(mktemp -d /tmp/tranpak-qemu.XXXXXX)
  # apt fetches as the unprivileged _apt user: it must reach these folders.
  chmod 755 "$ia32_emulation_dir"
  mkdir -p "$ia32_emulation_dir/apt/lists/partial" "$ia32_emulation_dir/apt/cache/archives/partial" \
    "$ia32_emulation_dir/deb"
  chown _apt "$ia32_emulation_dir/apt/lists/partial" "$ia32_emulation_dir/deb" 2>/dev/null || true
  {
    echo "Types: deb"
    echo "URIs: $archive"
    echo "Suites: $codename-backports"
    echo "Components: main"
    [ ! -f /usr/share/keyrings/debian-archive-keyring.gpg ] ||
      echo "Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg"
  } > "$ia32_emulation_dir/apt/backports.sources"

  echo "== fetching qemu-user from $codename-backports ($archive)"
  # Tried as every other apt step (apt_retry, scripts/lib/packages.sh).
  # apt-get download writes to the current folder.
  local fetched=0
  if apt_retry ia32_emulation_apt apt-get -qq update && pushd "$ia32_emulation_dir/deb" >/dev/null; then
    apt_retry ia32_emulation_apt apt-get -qq download qemu-user && fetched=1
    popd >/dev/null
  fi
  if [ "$fetched" != 1 ]; then
    ia32_emulation_why="qemu-user could not be fetched from $codename-backports${apt_why:+ ($apt_why)}"
    return 1
  fi
  deb=$(find "$ia32_emulation_dir/deb" -name 'qemu-user_*.deb' | head -n 1)
  echo "   $(basename "$deb")"
  # The package also carries its own binfmt_misc line for i386; its magic
  # and mask (an i386 ELF executable or shared object) are taken from there.
  dpkg-deb --fsys-tarfile "$deb" |
    tar -x -C "$ia32_emulation_dir" ./usr/bin/qemu-i386 ./usr/share/qemu/binfmt.d/qemu-i386.conf 2>/dev/null
  rm -f "$deb"
  local qemu=$ia32_emulation_dir/usr/bin/qemu-i386
  conf=$ia32_emulation_dir/usr/share/qemu/binfmt.d/qemu-i386.conf
  # A dynamically linked qemu-i386 would need its libraries, which are not
  # installed; only the static one can be taken out alone.
  if [ ! -x "$qemu" ] || ! file -L "$qemu" | grep -q 'static'; then
    ia32_emulation_why="$(basename "$deb") holds no static qemu-i386"
    return 1
  fi
  if [ ! -f "$conf" ]; then
    ia32_emulation_why="$(basename "$deb") has no binfmt_misc line for i386"
    return 1
  fi
  ia32_emulation_qemu=$("$qemu" --version | head -n 1)
  case $ia32_emulation_qemu in
  *" version "[1-9][0-9].*) ;;
  *)
    ia32_emulation_why="$ia32_emulation_qemu is too old for Wine (10 or later is needed)"
    return 1
    ;;
  esac

  # :name:type:offset:magic:mask:interpreter:flags
  IFS=: read -r _ _ type offset magic mask rest < "$conf"
  if [ -e "$ia32_emulation_binfmt/$ia32_emulation_entry" ]; then
    # Left by a run that could not clean up: replaced by this one.
    echo -1 > "$ia32_emulation_binfmt/$ia32_emulation_entry"
  fi
  if [ -e "$ia32_emulation_binfmt/qemu-i386" ] &&
    [ "$(head -n 1 "$ia32_emulation_binfmt/qemu-i386")" = enabled ]; then
    echo 0 > "$ia32_emulation_binfmt/qemu-i386"
    ia32_emulation_disabled=qemu-i386
    echo "   binfmt_misc entry qemu-i386 disabled while this runs"
  fi
  if ! printf '%s' ":$ia32_emulation_entry:$type:$offset:$magic:$mask:$qemu:F" \
    > "$ia32_emulation_binfmt/register" 2>/dev/null; then
    ia32_emulation_why="the binfmt_misc entry could not be registered"
    return 1
  fi
  # The check's own program must now run, and through this entry.
  local check
  check=$("$ia32_emulation_lib/ia32_check.sh" 2>&1 || true)
  if [[ $check != *"entry $ia32_emulation_entry "* ]]; then
    ia32_emulation_why="a 32-bit program did not run through $ia32_emulation_qemu"
    return 1
  fi
  echo "   binfmt_misc entry $ia32_emulation_entry: 32-bit programs run through $ia32_emulation_qemu"
}

# Undoes what ia32_emulation_start did; safe to call when it did nothing.
ia32_emulation_stop() {
  local e
  if [ -e "$ia32_emulation_binfmt/$ia32_emulation_entry" ] && [ -n "$ia32_emulation_dir" ]; then
    echo -1 > "$ia32_emulation_binfmt/$ia32_emulation_entry" || true
    echo "== binfmt_misc entry $ia32_emulation_entry removed"
  fi
  for e in $ia32_emulation_disabled; do
    [ ! -e "$ia32_emulation_binfmt/$e" ] || echo 1 > "$ia32_emulation_binfmt/$e" || true
    echo "== binfmt_misc entry $e enabled again"
  done
  ia32_emulation_disabled=""
  if [ -n "$ia32_emulation_mounted" ]; then
    umount "$ia32_emulation_binfmt" 2>/dev/null || true
    ia32_emulation_mounted=""
  fi
  [ -z "$ia32_emulation_dir" ] || rm -rf "$ia32_emulation_dir"
  ia32_emulation_dir=""
}
