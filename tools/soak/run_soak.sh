#!/bin/sh
# The long soak of the perceptual filter: 20,000 frames on this machine's
# OpenCL device shown as a GPU (or on the filter's CPU backend, 1 and 2
# threads), sizes and models changing every 300 frames, stops, starts and
# new filters in between.  Builds the soak driver in the given preset's
# folder first.
#
#   tools/soak/run_soak.sh [PRESET] [FRAMES] [BACKEND]   (default: default 20000 opencl)
set -eu
cd "$(dirname "$0")/../.."
preset=${1:-default}
frames=${2:-20000}
backend=${3:-opencl}
cmake --build "build/$preset" --target soak -j 2 >/dev/null
exec "build/$preset/bin/soak" --backend "$backend" --frames "$frames" --segment 300 --persona nvidia
