# How 32-bit Windows programs will run for the test command; sourced by
# scripts/test.sh after scripts/lib/packages.sh and scripts/lib/wine.sh.
#
# ia32_setup sets
#   ia32      "native" (the kernel runs 32-bit programs), "emulated"
#             (user-mode QEMU through binfmt_misc, set up here; the caller
#             calls ia32_emulation_stop from its EXIT trap) or "" (neither)
#   wine32    the 32-bit Wine loader, or "" when 32-bit Wine is not there
#   ia32_why  why the 32-bit steps cannot run, or ""
# The emulation must be in place before the Wine prefix is made: making it
# runs a 32-bit step, and a prefix made without it has no 32-bit DLLs.
source "$(dirname "${BASH_SOURCE[0]}")/ia32_emulation.sh"

ia32_setup() {
  ia32="" ia32_why="" wine32=""
  local started=$SECONDS check=0
  echo "== can this machine run 32-bit programs?"
  "$(dirname "${BASH_SOURCE[0]}")/ia32_check.sh" || check=$?
  if [ "$check" -eq 0 ]; then
    ia32=native
  elif ia32_emulation_start; then
    ia32=emulated
    echo "   emulation set up in $((SECONDS - started)) s"
  else
    ia32_emulation_stop
    ia32_why="the kernel cannot run 32-bit programs and emulating them failed: $ia32_emulation_why"
    echo "$ia32_why"
    return 0
  fi
  # When the archive cannot serve 32-bit Wine even after the retries, the
  # 32-bit steps are skipped with apt's reason: nothing in the project can
  # mend the archive, and every other step still decides the run.
  if wine_install_32bit; then
    wine32=$(wine32_loader)
  else
    ia32_why="32-bit Wine could not be installed from the package archive: $apt_why"
    echo "$ia32_why"
  fi
}
