#!/usr/bin/env bash
# Tells whether this kernel runs 32-bit x86 programs, before any 32-bit
# package is installed: a tiny static i386 program that only calls exit(42)
# through int 0x80 is assembled, linked and run. Needs only binutils.
# binfmt_misc is tried before the kernel's own ELF loader, so a program that
# ran may have gone through an emulator registered there instead.
# Exit status 0: the kernel ran it; 1: it did not run (the reason is
# printed); 2: it ran through a binfmt_misc entry (named in the message).
set -euo pipefail
work=$(mktemp -d /tmp/tranpak-ia32.XXXXXX)
trap 'rm -rf "$work"' EXIT

cat > "$work/exit42.s" <<'ASM'
    .globl _start
_start:
    movl $1, %eax
    movl $42, %ebx
    int $0x80
ASM
as --32 -o "$work/exit42.o" "$work/exit42.s"
ld -m elf_i386 -o "$work/exit42" "$work/exit42.o"

rc=0
"$work/exit42" 2>"$work/err" || rc=$?
# The enabled entry whose magic is an i386 ELF header at offset 0
# (7f 'E' 'L' 'F', 32-bit, e_machine 3 at bytes 18-19), if any.
binfmt_entry() {
  local d=/proc/sys/fs/binfmt_misc e m
  [ "$(cat "$d/status" 2>/dev/null)" = enabled ] || return 0
  for e in "$d"/*; do
    case ${e##*/} in register | status) continue ;; esac
    [ "$(head -n 1 "$e")" = enabled ] && grep -qx 'offset 0' "$e" || continue
    m=$(sed -n 's/^magic //p' "$e")
    [ "${m:0:10}" = 7f454c4601 ] && [ "${m:36:4}" = 0300 ] && { echo "${e##*/}"; return 0; }
  done
  return 0
}
if [ "$rc" -eq 42 ]; then
  entry=$(binfmt_entry)
  if [ -n "$entry" ]; then
    echo "32-bit x86 programs run here through the binfmt_misc entry $entry" \
      "($(sed -n 's/^interpreter //p' "/proc/sys/fs/binfmt_misc/$entry"))"
    exit 2
  fi
  echo "the kernel runs 32-bit x86 programs"
  exit 0
fi
echo "the kernel cannot run 32-bit x86 programs (a 32-bit test program gave status $rc: $(head -c 200 "$work/err"))"
exit 1
