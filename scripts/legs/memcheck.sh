#!/usr/bin/env bash
# The native GoogleTest programs (built by scripts/legs/native.sh) under
# Valgrind memcheck. Left out: the rename race (Valgrind runs one thread at
# a time, so the race hardly happens there and its rounds take far longer)
# and the OpenSSL cross-check of the MACs (thousands of random MACs through
# libcrypto would take most of an hour; the same MAC code runs under
# memcheck in test_mac_vectors). Each program is bounded, so that a hang
# fails the leg, not the whole run.
set -uo pipefail
cd "$(dirname "$0")/../.."
failed=0
for t in build/native/tests/test_*; do
  [ -x "$t" ] || continue
  name=$(basename "$t")
  [ "$name" = test_mac_openssl ] && continue
  echo "-- valgrind $name"
  (cd build/native/tests &&
    TRANPAK_THREAD_ROUNDS=100 GTEST_FILTER='-Lookups/ConfineRaceTest.*' timeout -k 10 600 \
      valgrind --quiet --error-exitcode=99 --leak-check=full --errors-for-leak-kinds=definite \
      "./$name" --gtest_brief=1 >/dev/null) || { echo "   memcheck FAILED"; failed=1; }
done
exit $failed
