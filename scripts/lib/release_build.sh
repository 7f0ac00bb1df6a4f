# The one Release build of the library and the programs, without the
# tests, shared by the demo (scripts/demo.sh), the Python wheel
# (scripts/python.sh), the Linux packages (scripts/package.sh) and the new
# user's path (tests/e2e/new_user_path.sh): whichever runs first builds it, the
# others find it built. Sourced; needs cmake, make and g++.
#   release_build [TARGET...]   configures and builds (every target when none
#                               is named), showing each step of the build on
#                               standard error as it goes
release_dir=build/release-linux

release_build() {
  local jobs targets=()
  jobs=$(nproc 2>/dev/null || echo 2)
  [ $# -gt 0 ] && targets=(--target "$@")
  echo "== configuring $release_dir (Release, no tests)" >&2
  cmake --preset release 2>&1 |
    { grep --line-buffered -vE '^-- (Check|Detecting|Looking|Performing|Found|Build files)' || true; } |
    sed -u 's/^/   /' >&2
  echo "== building in $release_dir on $jobs cores (a first build takes a few minutes on 2)" >&2
  # Every compile and link step shows as it starts: no silent minute.
  cmake --build "$release_dir" -j"$jobs" "${targets[@]}" 2>&1 |
    { grep --line-buffered -E '^\[ *[0-9]+%\]|[Ee]rror|warning:' || true; } |
    sed -u -E 's#^\[ *([0-9]+%)\] (Building (C|CXX) object|Linking (C|CXX) (executable|shared library|static library)) (.*/)?#   \1 #' >&2
}
