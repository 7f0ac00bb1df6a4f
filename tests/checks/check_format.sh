#!/usr/bin/env bash
# The C and C++ sources as .clang-format writes them: lists every file
# clang-format would change and fails when there is one. Run by the quick
# test command. To format a file: clang-format -i FILE.
#   check_format.sh [ROOT]
set -euo pipefail
cd "${1:-$(dirname "$0")/../..}"
command -v clang-format >/dev/null || { echo "clang-format is not installed" >&2; exit 1; }
bad=0
while IFS= read -r file; do
  if ! clang-format --dry-run --Werror "$file" >/dev/null 2>&1; then
    echo "not formatted: $file"
    bad=1
  fi
done < <(git ls-files '*.c' '*.cpp' '*.h' | grep -v '^tests/checks/rooms_probe/')
[ $bad = 0 ] && echo "ok: every C and C++ source is formatted as .clang-format says"
exit $bad
