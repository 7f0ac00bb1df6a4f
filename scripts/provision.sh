#!/usr/bin/env bash
# Installs what the test legs need, from Debian's packages (every apt step
# retried; see scripts/lib/packages.sh). Fails when a package cannot be
# installed. 32-bit Wine is not installed here: it is worth its three
# minutes only where 32-bit programs can run, which scripts/test.sh finds
# out first (scripts/lib/ia32_setup.sh).
#   provision.sh          everything the test command needs
#   provision.sh --quick  what the quick command needs (native, sanitizers)
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/lib/packages.sh

quick=(cmake make g++ libgtest-dev googletest binutils pkg-config libssl-dev clang libclang-rt-14-dev clang-format
  tshark)
if [ "${1:-}" = --quick ]; then
  need_packages "${quick[@]}"
else
  need_packages "${quick[@]}" valgrind g++-mingw-w64-x86-64 g++-mingw-w64-i686 wine64 dpkg-dev \
    python3-pytest python3-locust python3-setuptools python3-wheel python3-venv python3-pip \
    python3-flake8 mypy python3-cryptography
fi
