#!/bin/sh
# Runs the test suite under AddressSanitizer (with leak checking) and
# UndefinedBehaviorSanitizer, then the tests of overlapping calls under
# ThreadSanitizer.  Each build has its own folder (build/asan, build/tsan);
# the options and suppression files are in the presets of CMakePresets.json.
#
#   tools/sanitize.sh            both
#   tools/sanitize.sh asan       only the AddressSanitizer run
#   tools/sanitize.sh tsan       only the ThreadSanitizer run
#
# JOBS (default 2) sets the build and test parallelism.
set -eu
cd "$(dirname "$0")/.."
jobs=${JOBS:-2}
which=${1:-all}

run() {
  preset=$1
  echo "== $preset: configure and build"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
  echo "== $preset: test"
  ctest --preset "$preset" -j "$jobs"
}

# Two commands, not "run asan && run tsan": a function on the left of &&
# runs with -e off, so a failed build there would go unnoticed.
case $which in
  all) run asan; run tsan ;;
  asan|tsan) run "$which" ;;
  *) echo "usage: $0 [asan|tsan]" >&2; exit 1 ;;
esac
