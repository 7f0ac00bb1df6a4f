#!/usr/bin/env bash
# The quick command for day-to-day work: the sources' formatting
# (tests/checks/check_format.sh), the native suite and the suite under
# AddressSanitizer and UndefinedBehaviorSanitizer (a few minutes).
# scripts/test.sh runs these and every other leg.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/provision.sh --quick
source scripts/lib/steps.sh
run_step "formatting (.clang-format)" tests/checks/check_format.sh
run_step "native tests" scripts/legs/native.sh
run_step "sanitizer tests (ASan + UBSan)" scripts/legs/sanitizers.sh
echo
echo "== summary"
print_summary
exit $status
