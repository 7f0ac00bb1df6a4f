#!/usr/bin/env bash
# The Python package (python3-cryptography installed first, for the PIN
# tests' independent implementation): its lint and type check (tests/packages/python_lint.sh), its
# wheel built (scripts/python.sh prints its path
# last), installed in a fresh virtual environment and its tests run there,
# Locust headless and distributed on loopback among them; then the docs'
# first example run from another folder (tests/e2e/new_user_path.sh).
set -euo pipefail
cd "$(dirname "$0")/../.."
# The PIN block and DUKPT tests check the library against an implementation
# of their own over Debian's python3-cryptography.
source scripts/lib/packages.sh
need_packages python3-cryptography
tests/packages/python_lint.sh
out=$(scripts/python.sh)
echo "$out"
tests/packages/python_wheel.sh "${out##*$'\n'}"
# A new user's first Python example, from a folder of its own, on the
# environment the wheel was installed in.
tests/e2e/new_user_path.sh python "$(pwd)/build/python/test-run/venv/bin/python"
