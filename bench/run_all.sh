#!/bin/sh
# Every speed figure of the README in one run: the machine's multiply-add
# peak, the JND filter on this machine's OpenCL device, the plain
# single-thread C++ evaluation, the transfer rates and FFmpeg's hqdn3d and
# nlmeans on the same 1280x720 frames, and the engine's 3x3 convolution on
# the CPU and the OpenCL device; then a summary with the gaps to the speed
# targets.
#
#   bench/run_all.sh [BUILD_DIR] [OUT_DIR]   (default build/default, BUILD_DIR/bench-results)
#
# Environment: REPS (repetitions per benchmark, default 5), RUNS (runs per
# FFmpeg filter, default 3).
# Writes OUT_DIR/<bench>.json (Google Benchmark), OUT_DIR/peers.txt and
# OUT_DIR/summary.md, and prints the summary.
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

# Each benchmark is repeated REPS times (default 5); the summary keeps the
# fastest repetition, the one least disturbed by other programs.
REPS=${REPS:-5}
run() {
  echo "run_all: $1" >&2
  "$BIN/$1" --benchmark_repetitions="$REPS" --benchmark_out="$OUT/$1.json" \
    --benchmark_out_format=json >&2
}
run bench_fma_peak
run bench_jnd
run bench_jnd_cpu
run bench_opencl_transfer
run bench_engine_conv
echo "run_all: peers" >&2
EXTHOST="$BIN/exthost" bench/peers.sh > "$OUT/peers.txt"

/usr/bin/python3 bench/summarise.py "$OUT" | tee "$OUT/summary.md"
