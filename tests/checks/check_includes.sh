#!/bin/sh
# The rooms of the library and who may include whom. Every quoted include
# of a file under SRC_DIR is mapped to rooms: the including file's room is
# the first folder under SRC_DIR, the included one's the first folder of
# the name ("codec/packet.h"), or the including file's own room for a name
# found beside it, or "public" for the public header "tranpak.h".
#
#   api -> channel -> codec -> {message, crypto} -> diag -> kit -> os
#
# A room may include itself and the rooms to its right; message and crypto
# do not include each other. crypto includes nothing but itself and os (not
# even the public header); kit nothing but itself, os and the public header.
# Fails on any arrow the rules do not allow, on a name of
# no room, and on any circle among the rooms.
# usage: check_includes.sh SRC_DIR
src=${1:?usage: check_includes.sh SRC_DIR}
cd "$src" || exit 2

rank() {
  case $1 in
    api) echo 7 ;; channel) echo 6 ;; codec) echo 5 ;; message | crypto) echo 4 ;;
    diag) echo 3 ;; kit) echo 2 ;; os) echo 1 ;; public) echo 0 ;; *) echo -1 ;;
  esac
}
room_of() { echo "$1"; }

edges=$(mktemp) || exit 2
trap 'rm -f "$edges"' EXIT
bad=""
for file in $(find . -type f \( -name '*.h' -o -name '*.cpp' -o -name '*.c' \) | sed 's#^\./##' | sort); do
  case $file in */*) ;; *) continue ;; esac
  from=$(room_of "${file%%/*}")
  for name in $(sed -nE 's/^[[:space:]]*#[[:space:]]*include[[:space:]]*"([^"]*)".*/\1/p' "$file"); do
    if [ "$name" = tranpak.h ]; then
      to=public
    elif [ -f "$(dirname "$file")/$name" ] && [ "${name%%/*}" = "$name" -o ! -d "${name%%/*}" ]; then
      to=$from
    else
      to=$(room_of "${name%%/*}")
    fi
    why=""
    if [ "$(rank "$to")" -lt 0 ] || [ "${name%%/*}" = "$name" -a "$to" != public -a "$to" != "$from" ]; then
      why="names no room"
    elif [ "$from" = crypto ] && [ "$to" != crypto ] && [ "$to" != os ]; then
      why="crypto includes only itself and os"
    elif [ "$from" = kit ] && [ "$to" != kit ] && [ "$to" != os ] && [ "$to" != public ]; then
      why="kit includes only itself, os and the public header"
    elif [ "$to" != "$from" ] && [ "$(rank "$to")" -ge "$(rank "$from")" ]; then
      why="$from may not include $to"
    fi
    [ -n "$why" ] && bad="$bad
$file: \"$name\": $why"
    [ "$to" != "$from" ] && [ "$to" != public ] && echo "$from $to" >>"$edges"
  done
done

# A circle among the rooms: take away, again and again, the rooms that
# include no room still left; whatever stays lies on or before a circle.
circle=$(sort -u "$edges" | awk '
  { from[NR] = $1; to[NR] = $2; rooms[$1] = 1; rooms[$2] = 1; n = NR }
  END {
    do {
      changed = 0
      for (r in rooms) {
        leaf = 1
        for (k = 1; k <= n; k++) if (from[k] == r && (to[k] in rooms)) { leaf = 0; break }
        if (leaf) { delete rooms[r]; changed = 1 }
      }
    } while (changed)
    for (r in rooms) printf "%s ", r
  }')
[ -n "$circle" ] && bad="$bad
a circle among the rooms: $circle"

if [ -n "$bad" ]; then
  echo "FAIL: includes against the rooms' rules:"
  printf '%s\n' "$bad" | sed '/^$/d'
  exit 1
fi
echo "ok: the includes of $src run one way down the rooms"
