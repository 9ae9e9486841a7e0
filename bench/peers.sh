#!/bin/sh
# Time per frame of FFmpeg's hqdn3d and nlmeans denoisers on the same
# 1280x720 frames that the JND benchmark filters, luma plane only (as the
# JND filter works on luma only), with FFmpeg's default threading.
#
#   bench/peers.sh [CLIP.y4m]     (default: the built-in 1280x720 clip)
#
# The frames are decoded once into a raw file, then each filter runs over
# it several times; the best wall time of a run without the filter
# (read + plane extraction) is subtracted from the best wall time with it.
# Output: one line per filter, "peer <name> <wall ms> ms/frame (CPU <ms>
# ms/frame)" on standard output, the CPU time summed over FFmpeg's threads; progress on standard error. Environment: EXTHOST (path of exthost,
# used to write the built-in clip), RUNS (default 3).
set -eu
cd "$(dirname "$0")/.."

EXTHOST=${EXTHOST:-build/default/bin/exthost}
RUNS=${RUNS:-3}
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

clip=${1:-}
if [ -z "$clip" ]; then
  if [ ! -x "$EXTHOST" ]; then
    echo "peers: $EXTHOST not found; build it first (tools/setup.sh) or set EXTHOST" >&2
    exit 1
  fi
  # The fisheye filter changes no pixel: this writes the built-in clip as is.
  "$EXTHOST" --ext fisheye --quiet -o "$tmp/clip.y4m" 2>/dev/null
  clip="$tmp/clip.y4m"
fi
[ -r "$clip" ] || { echo "peers: cannot read $clip" >&2; exit 1; }

size=$(ffprobe -v error -select_streams v:0 -show_entries stream=width,height -of csv=p=0:s=x "$clip")
ffmpeg -v error -y -i "$clip" -vf extractplanes=y -f rawvideo "$tmp/luma.raw"
frames=$(( $(stat -c %s "$tmp/luma.raw") / ( ${size%x*} * ${size#*x} ) ))
echo "peers: $frames frames of $size, luma only, $RUNS runs each" >&2

# Best wall time and best CPU time (user + system, all threads; seconds) of
# RUNS runs of one filter chain over the frames, as "rtime cpu".
best_times() {
  best_r=""
  best_c=""
  i=0
  while [ $i -lt "$RUNS" ]; do
    line=$(ffmpeg -hide_banner -nostats -benchmark -f rawvideo -pix_fmt gray -s "$size" \
          -i "$tmp/luma.raw" -vf "$1" -f null - 2>&1 | grep "bench: utime=")
    r=$(echo "$line" | sed -n 's/.*rtime=\([0-9.]*\)s.*/\1/p')
    c=$(echo "$line" | awk '{u = $2; s = $3; sub("utime=", "", u); sub("stime=", "", s); print u + s}')
    best_r=$(awk -v a="$r" -v b="$best_r" 'BEGIN{print (b == "" || a < b) ? a : b}')
    best_c=$(awk -v a="$c" -v b="$best_c" 'BEGIN{print (b == "" || a < b) ? a : b}')
    i=$((i + 1))
  done
  echo "$best_r $best_c"
}

base=$(best_times null)
echo "peers: read-only pass: wall and CPU seconds $base" >&2
for f in "hqdn3d" "hqdn3d=8:6:12:9" "nlmeans"; do
  echo "peers: timing $f" >&2
  t=$(best_times "$f")
  echo "$f $t $base $frames" |
    awk '{printf "peer %s %.3f ms/frame (CPU %.3f ms/frame)\n", $1, ($2 - $4) * 1000 / $6, ($3 - $5) * 1000 / $6}'
done
