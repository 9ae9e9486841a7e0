#!/bin/sh
# Runs the live 720p30 pipeline (test source, x264enc, mp4mux) for N
# seconds without and with oxrinext (pvc on the CPU) and prints the CPU
# time of each run, the element's own time per frame (its debug output)
# and the source-to-sink latency per frame (the GstLatency tracer).
# Usage: gst/measure_live.sh [BUILD_DIR] [SECONDS]   (build/default, 10)
set -eu
build=${1:-build/default}
seconds=${2:-10}
out=$(mktemp -d /tmp/oxrinext_live.XXXXXX)
export GST_PLUGIN_PATH="$(cd "$build" && pwd)/lib/gstreamer-1.0"
export GST_DEBUG_NO_COLOR=1 GST_TRACERS=latency
src="videotestsrc is-live=true num-buffers=$((seconds * 30)) ! video/x-raw,format=I420,width=1280,height=720,framerate=30/1"
sink="x264enc tune=zerolatency ! mp4mux ! filesink location=$out/live.mp4"

# Mean, median and 95th percentile of the numbers on standard input (ms).
stats() {
  sort -n | awk '{a[NR] = $1; s += $1}
    END {printf "%d frames, mean %.2f ms, median %.2f ms, p95 %.2f ms\n",
         NR, s / NR, a[int((NR + 1) / 2)], a[int(NR * 0.95 + 0.5)]}'
}
latency() {
  grep -o 'latency, src-element-id=[^;]*sink-element=(string)filesink0[^;]*' "$1" |
    sed 's/.*time=(guint64)\([0-9]*\).*/\1/' | awk '{print $1 / 1e6}' | stats
}

echo "machine: $(nproc) cores, $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //')"
echo "before:  $(uptime)"
for run in without with; do
  if [ $run = with ]; then
    element="oxrinext extension=pvc properties=pvc_parameter={\"Backend\":\"cpu\"} !"
  else
    element=""
  fi
  # shellcheck disable=SC2086
  GST_DEBUG=GST_TRACER:7,oxrinext:5 GST_DEBUG_FILE=$out/$run.log \
    /usr/bin/time -f "%e %U %S" -o "$out/$run.time" gst-launch-1.0 -q $src ! $element $sink
  read -r wall user sys < "$out/$run.time"
  echo "$run oxrinext: wall $wall s, CPU $user s user + $sys s sys = $(echo "$user $sys $wall" |
    awk '{printf "%.1f %% of one core", 100 * ($1 + $2) / $3}')"
  echo "  source-to-sink latency: $(latency "$out/$run.log")"
done
echo "  oxrinext per filtered frame: $(grep -o 'result 0, [0-9.]* ms' "$out/with.log" | awk '{print $3}' | stats)"
echo "after:   $(uptime)"
echo "logs and output: $out"
