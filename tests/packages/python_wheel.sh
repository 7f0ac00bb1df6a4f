#!/usr/bin/env bash
# The Python package's tests, run from its wheel: tests/packages/python_wheel.sh WHEEL
# installs WHEEL into a fresh virtual environment of /usr/bin/python3 (with
# the system's site packages, where Debian's pytest and Locust are) and runs
# python/tests there, from a copy outside the source tree, so the package
# under test is the installed one with its bundled library and programs.
# Every run is bounded in time: pytest as a whole here, each Locust run and
# host inside the tests.
set -euo pipefail
cd "$(dirname "$0")/../.."
wheel=$1
python=/usr/bin/python3
run=build/python/test-run
rm -rf "$run"
mkdir -p "$run"
"$python" -m venv --system-site-packages "$run/venv"
"$run/venv/bin/python" -m pip install --quiet --no-index --no-deps "$wheel"
cp -r python/tests python/examples "$run/"
mkdir -p "$run/docs"
cp docs/python.md "$run/docs/"
cd "$run"
# Nothing may lead the tests back to the source tree or to another library.
env -u PYTHONPATH -u TRANPAK_LIBRARY TRANPAK_EXPECT_INSTALLED=1 \
  timeout -k 10 900 venv/bin/python -m pytest -p no:cacheprovider -q -rs tests
