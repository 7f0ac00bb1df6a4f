#!/bin/sh
# Fails when any of the given object files refers to a heap allocation
# function: the library's own code works in fixed, static storage only.
#   check_no_heap.sh file.o ...
set -eu
pattern='^(malloc|calloc|realloc|reallocarray|free|aligned_alloc|posix_memalign|memalign|valloc|pvalloc|strdup|strndup|_Znw.*|_Zna.*|_Zdl.*|_Zda.*)$'
found=$(nm -u "$@" | awk 'NF == 2 {print $2}' | grep -E "$pattern" | sort -u || true)
if [ -n "$found" ]; then
  echo "FAIL: heap allocation functions referred to:"
  echo "$found"
  for o in "$@"; do
    nm -u "$o" | awk 'NF == 2 {print $2}' | grep -qE "$pattern" && echo "  in $o"
  done
  exit 1
fi
echo "no heap allocation in $# object files"
