# Steps of a test run and their summary; sourced by scripts/test.sh and
# scripts/quick-test.sh.
#   run_step NAME COMMAND...   runs a step; PASS or FAIL with its time
#   skip_step NAME WHY         a step that cannot run here
#   print_summary              one line per step; the run's status is $status
summary=()
status=0

skip_step() {
  echo
  echo "== $1: SKIPPED, $2"
  summary+=("SKIP  $1 ($2)")
}

# The summary gives each step's time, so what a leg costs can be read off,
# after the step's note (step_note, set for the call) if it has one.
run_step() {
  local name=$1 started=$SECONDS result=PASS; shift
  echo
  echo "== $name"
  "$@" || { result=FAIL; status=1; }
  summary+=("$result  $name (${step_note:+$step_note, }$((SECONDS - started)) s)")
}

print_summary() {
  printf '%s\n' "${summary[@]}"
}
