#!/usr/bin/env bash
# The BER-TLV round trips against the npm package ber-tlv (an independent
# parser and builder): installs Node.js and npm from Debian's packages
# when they are missing and the package into the build tree when it is
# not there yet, then runs tlv_npm_check.js.
#   tlv_npm_check.sh TLV_PROBE SOURCE_DIR BUILD_DIR
set -euo pipefail
probe=$1 src=$2 build=$3
# The version the check was written against; a later one may read
# differently.
package=ber-tlv@0.9.2
modules=$build/npm-reference
if ! command -v node >/dev/null || ! command -v npm >/dev/null; then
  source "$src/scripts/lib/packages.sh"
  need_packages nodejs npm
fi
if [ ! -f "$modules/node_modules/ber-tlv/package.json" ]; then
  mkdir -p "$modules"
  if ! (cd "$modules" && timeout 300 npm install --no-audit --no-fund --silent "$package" >install.log 2>&1); then
    echo "FAIL: npm install $package did not succeed:"
    tail -n 20 "$modules/install.log"
    exit 1
  fi
fi
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
NODE_PATH=$modules/node_modules node "$src/tests/message/tlv_npm_check.js" "$src/tests/data/emv_tlv_sets.txt" \
  "$probe" "$scratch"
