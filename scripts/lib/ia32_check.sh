#!/usr/bin/env bash
# Tells whether this kernel runs 32-bit x86 programs, before any 32-bit
# package is installed: a tiny static i386 program that only calls exit(42)
# through int 0x80 is assembled, linked and run. Needs only binutils.
# Exit status 0: it ran; 1: the kernel cannot run it (the reason is printed).
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
if [ "$rc" -eq 42 ]; then
  echo "the kernel runs 32-bit x86 programs"
  exit 0
fi
echo "the kernel cannot run 32-bit x86 programs (a 32-bit test program gave status $rc: $(head -c 200 "$work/err"))"
exit 1
