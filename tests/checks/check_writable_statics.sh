#!/bin/sh
# Fails when any of the given object files holds writable static storage
# (.data, .bss and their thread-local kinds; .data.rel.ro is read-only once
# loaded) other than the default session: every buffer of the library is in
# a session or on the stack.
#   check_writable_statics.sh file.o ...
set -eu
allowed='tranpak::(anonymous namespace)::g_default'
bad=0
for o in "$@"; do
  # Sections with bytes in them, so storage without a symbol is seen too.
  sections=$(size -A "$o" | awk '$1 ~ /^\.(data|bss|tdata|tbss)/ && $1 !~ /^\.data\.rel\.ro/ && $2 > 0 {print $1}')
  [ -n "$sections" ] || continue
  for s in $sections; do
    names=$(objdump -t "$o" | c++filt | awk -v s="$s" '$0 ~ ("[ \t]" s "[ \t]") && $NF !~ /^\./' |
      sed 's/^.*\t[0-9a-f]* //')
    others=$(printf '%s\n' "$names" | grep -vxF "$allowed" || true)
    if [ -n "$others" ] || [ -z "$names" ]; then
      echo "FAIL: writable static storage in $o ($s): ${others:-bytes without a symbol}"
      bad=1
    fi
  done
done
[ "$bad" -eq 0 ] || exit 1
echo "no writable static storage but the default session in $# object files"
