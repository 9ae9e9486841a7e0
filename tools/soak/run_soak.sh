#!/bin/sh
# The long soak of the perceptual filter: 20,000 frames on this machine's
# OpenCL device shown as a GPU, sizes and models changing every 300 frames,
# stops, starts and new filters in between.  Builds the soak driver in the
# given preset's folder first.
#
#   tools/soak/run_soak.sh [PRESET] [FRAMES]     (default: default 20000)
set -eu
cd "$(dirname "$0")/../.."
preset=${1:-default}
frames=${2:-20000}
cmake --build "build/$preset" --target soak -j 2 >/dev/null
exec "build/$preset/bin/soak" --frames "$frames" --segment 300 --persona nvidia
