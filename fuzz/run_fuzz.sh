#!/bin/sh
# Runs one libFuzzer target of the fuzz preset for a while, starting from
# its seed corpus in fuzz/corpus/<target> and growing a working corpus in
# build/fuzz/corpus/<target>; crashes land in build/fuzz/crashes/<target>.
#
#   fuzz/run_fuzz.sh TARGET [SECONDS]      (default 300)
#
# Build the targets first: cmake --preset fuzz && cmake --build --preset fuzz
# (FUZZ_BUILD_DIR names another build folder of that preset's settings).
# Exits non-zero when the target is missing or libFuzzer finds a crash, a
# leak, a timeout or runs out of memory.
set -eu
cd "$(dirname "$0")/.."
target=$1
seconds=${2:-300}
build=${FUZZ_BUILD_DIR:-build/fuzz}
bin=$build/bin/$target
work=$build/corpus/$target
crashes=$build/crashes/$target
mkdir -p "$work" "$crashes"
cp -n fuzz/corpus/"$target"/* "$work"/ 2>/dev/null || true
# Standard output of the code under test is noise here (close_fd_mask=1).
exec "$bin" -max_total_time="$seconds" -print_final_stats=1 -close_fd_mask=1 \
  -timeout=10 -rss_limit_mb=2048 -artifact_prefix="$crashes"/ "$work"
