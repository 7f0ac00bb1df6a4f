#!/usr/bin/env bash
# Installs the library into a scratch prefix and builds a small program
# against it from outside the project, once with find_package and once
# with pkg-config; both programs must run.
#   package_test.sh BUILD_DIR SOURCE_DIR
set -eu
build=$1 src=$2
work=$(mktemp -d /tmp/tranpak-package.XXXXXX)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix

cmake --install "$build" --prefix "$prefix" >/dev/null
echo "installed: $(cd "$prefix" && find . -type f -o -type l | sort | tr '\n' ' ')"
"$src/tests/packages/consumer/linux_consumers.sh" "$prefix" "$src"
