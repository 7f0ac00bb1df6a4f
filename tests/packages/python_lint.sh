#!/usr/bin/env bash
# The Python package's lint (flake8: errors, unused names, lines up to 120
# columns, python/.flake8) and type check (mypy on the package, which
# declares itself typed: every function annotated, python/pyproject.toml).
# Both from Debian's packages, run with /usr/bin/python3.
set -euo pipefail
cd "$(dirname "$0")/../../python"
py=/usr/bin/python3
echo "== flake8: the package, its tests and examples"
$py -m flake8 tranpak tests examples
echo "== mypy: the package"
$py -m mypy
