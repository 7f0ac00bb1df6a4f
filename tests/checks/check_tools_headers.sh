#!/bin/sh
# An allow-list of what a file under tools/ may include with quotes: the
# public header "tranpak.h", a header of the kit named without a folder
# (a file of one of the kit's rooms: SRC_DIR/kit/, as "text_class.h", or
# the OS layer's headers in SRC_DIR/os/, as "os.h"), or one of the tools'
# own found beside the including file ("host.h", "../common/cli.h"). Any
# other quoted include fails, and so does any include, quoted or not,
# through src/ ("src/...", "../src/...") or starting with a folder of src/
# ("core/...", "../packet/...", "kit/...", "os/posix/...").
# usage: check_tools_headers.sh TOOLS_DIR SRC_DIR
tools=$1 src=$2
folders=$(cd "$src" && ls -d */ | tr -d / | paste -sd'|' -)
found=$(grep -rnE "^[[:space:]]*#[[:space:]]*include[[:space:]]*[<\"](\\.\\./|\\./)*(src|$folders)/" "$tools")
quoted=$(grep -rnE "^[[:space:]]*#[[:space:]]*include[[:space:]]*\"" "$tools" | while IFS= read -r line; do
  file=${line%%:*}
  name=$(printf '%s\n' "$line" | sed -E 's/^[^"]*"([^"]*)".*/\1/')
  case $name in
    tranpak.h) continue ;;
    */*) ;;
    *.h) [ -f "$src/kit/$name" ] || [ -f "$src/os/$name" ] && continue ;;
  esac
  [ -f "$(dirname "$file")/$name" ] && continue
  printf '%s\n' "$line"
done)
if [ -n "$found$quoted" ]; then
  echo "FAIL: tools include headers other than tranpak.h, the kit's and their own:"
  printf '%s\n' "$found" "$quoted" | sed '/^$/d' | sort -u
  exit 1
fi
echo "ok: files under $tools include only tranpak.h, the kit's headers ($src/kit/, $src/os/) and their own"
