#!/bin/sh
# Runs one libFuzzer target of the fuzz preset for a while, starting from
# its seed corpus in fuzz/corpus/<target> and growing a working corpus in
# build/fuzz/corpus/<target>; crashes land in build/fuzz/crashes/<target>.
#
#   fuzz/run_fuzz.sh TARGET [SECONDS]      (default 300)
#
# Build the targets first: cmake --preset fuzz && cmake --build --preset fuzz
set -eu
cd "$(dirname "$0")/.."
target=$1
seconds=${2:-300}
bin=build/fuzz/bin/$target
work=build/fuzz/corpus/$target
crashes=build/fuzz/crashes/$target
mkdir -p "$work" "$crashes"
cp -n fuzz/corpus/"$target"/* "$work"/ 2>/dev/null || true
# Standard output of the code under test is noise here (close_fd_mask=1).
exec "$bin" -max_total_time="$seconds" -print_final_stats=1 -close_fd_mask=1 \
  -timeout=10 -rss_limit_mb=2048 -artifact_prefix="$crashes"/ "$work"
