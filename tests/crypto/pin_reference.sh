#!/bin/sh
# The PIN block and DUKPT tests of the Python package (python/tests/test_pin.py:
# the library against an implementation of its own over the cryptography
# package, and the published vectors), run against this build's library.
# Skipped (77) where /usr/bin/python3 lacks pytest or cryptography; the
# Python leg installs both and runs them from the wheel.
#   pin_reference.sh LIBRARY SOURCE_DIR
set -eu
lib=$1 src=$2
py=/usr/bin/python3
if ! "$py" -c 'import pytest, cryptography' 2>/dev/null; then
  echo "skipped: $py has no pytest or cryptography (Debian: python3-pytest, python3-cryptography)"
  exit 77
fi
cd "$src/python"
TRANPAK_LIBRARY=$lib PYTHONPATH=$src/python exec "$py" -m pytest -p no:cacheprovider -q tests/test_pin.py
