#!/usr/bin/env bash
# The Python package: its wheel built (scripts/python.sh prints its path
# last), installed in a fresh virtual environment and its tests run there,
# Locust headless and distributed on loopback among them.
set -euo pipefail
cd "$(dirname "$0")/../.."
out=$(scripts/python.sh)
echo "$out"
tests/python_wheel.sh "${out##*$'\n'}"
