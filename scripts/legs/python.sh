#!/usr/bin/env bash
# The Python package: its lint and type check (tests/packages/python_lint.sh), its
# wheel built (scripts/python.sh prints its path
# last), installed in a fresh virtual environment and its tests run there,
# Locust headless and distributed on loopback among them; then the docs'
# first example run from another folder (tests/e2e/new_user_path.sh).
set -euo pipefail
cd "$(dirname "$0")/../.."
tests/packages/python_lint.sh
out=$(scripts/python.sh)
echo "$out"
tests/packages/python_wheel.sh "${out##*$'\n'}"
# A new user's first Python example, from a folder of its own, on the
# environment the wheel was installed in.
tests/e2e/new_user_path.sh python "$(pwd)/build/python/test-run/venv/bin/python"
