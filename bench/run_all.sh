#!/bin/sh
# Every speed figure of the README in one run: the machine's multiply-add
# peaks (float FMA and the 16-bit integer forms), the JND filter on this
# machine's OpenCL device, the CPU filter on each instruction-set path on
# one thread and on all, the plain single-thread C++ evaluation, the
# transfer rates and FFmpeg's hqdn3d and nlmeans on the same 1280x720
# frames, and the engine's 3x3 convolution on each CPU path (read against
# the one-core float peak) and the OpenCL device; then a summary with the
# gaps to the speed targets.
#
#   bench/run_all.sh [BUILD_DIR] [OUT_DIR]   (default build/default, BUILD_DIR/bench-results)
#
# Environment: REPS (repetitions per benchmark, default 5), RUNS (paired
# runs per FFmpeg figure, default 3).
# Writes OUT_DIR/<bench>.json (Google Benchmark), OUT_DIR/peers.txt,
# OUT_DIR/load.txt (uptime before and after) and OUT_DIR/summary.md, and
# prints the summary.
set -eu
cd "$(dirname "$0")/.."

BUILD=${1:-build/default}
OUT=${2:-$BUILD/bench-results}
BIN="$BUILD/bin"
mkdir -p "$OUT"

for b in bench_fma_peak bench_jnd bench_jnd_cpu bench_opencl_transfer bench_engine_conv; do
  if [ ! -x "$BIN/$b" ]; then
    echo "run_all: $BIN/$b not found; build first (tools/setup.sh)" >&2
    exit 1
  fi
done

# Each benchmark is repeated REPS times (default 5); the summary takes
# Google Benchmark's median of the repetitions.
REPS=${REPS:-5}
run() {
  b=$1
  shift
  echo "run_all: $b" >&2
  "$BIN/$b" --benchmark_repetitions="$REPS" --benchmark_out="$OUT/$b.json" \
    --benchmark_out_format=json "$@" >&2
}
echo "before: $(uptime)" > "$OUT/load.txt"
run bench_fma_peak
run bench_jnd
# The CPU filter's paths, thread counts and sizes (and the plain baseline)
# take turns, repetition by repetition, so that a change in the machine's
# load falls on all of them alike.
run bench_jnd_cpu --benchmark_enable_random_interleaving=true
run bench_opencl_transfer
run bench_engine_conv
echo "run_all: peers" >&2
EXTHOST="$BIN/exthost" bench/peers.sh > "$OUT/peers.txt"
echo "after: $(uptime)" >> "$OUT/load.txt"

/usr/bin/python3 bench/summarise.py "$OUT" | tee "$OUT/summary.md"
