#!/bin/sh
# Time per frame of FFmpeg's hqdn3d and nlmeans denoisers on the same
# 1280x720 4:2:0 frames that the JND benchmark filters: the filter's own
# cost, on one thread and on FFmpeg's default thread count.
#
#   bench/peers.sh [CLIP.y4m]     (default: the built-in 1280x720 clip)
#
# Method.  The clip is decoded once into a raw 4:2:0 file, outside every
# timed run.  Each timed run reads that file (looped so that a run lasts
# long enough for start-up and read costs to vanish in the difference),
# through `-vf FILTER` or `-vf null`, into the null muxer; FFmpeg's own
# -benchmark figures (wall time and user + system CPU time of all its
# threads, without process start-up) are taken.  Runs with and without the
# filter alternate, so both see the same load; the per-frame cost is the
# median over RUNS pairs of (with - without) / frames.
#
# The filters get the frames in their own format (yuv420p): both accept
# it, so FFmpeg inserts no conversion (checked before timing).  This
# FFmpeg's hqdn3d does not accept 8-bit grey: a luma-only plane handed to
# it is first converted to full-range 4:4:4 and all three full-size planes
# are filtered, three times the luma work plus a conversion.  The figures
# here are for all three planes of a 4:2:0 frame, as the filters treat
# such video; both do the same work per pixel in every plane, so the luma
# plane's share is 2/3 of the one-thread CPU time (printed as luma_share).
#
# Threads: threads:1 is `-filter_threads 1`; threads:N is FFmpeg's default
# (one per logical core, N of them).  hqdn3d splits a frame by plane (at
# most three jobs, the luma plane the longest), nlmeans by rows.
#
# Output, one line per filter and thread count on standard output:
#   peer NAME threads:T wall W ms/frame cpu C ms/frame luma_share L ms/frame frames F size WxH
# progress on standard error.  Environment: EXTHOST (path of exthost, used
# to write the built-in clip), RUNS (pairs per measurement, default 3),
# HQDN3D_FRAMES and NLMEANS_FRAMES (frames per timed run, defaults 600
# and 12; the clip is looped or cut to that count).
set -eu
cd "$(dirname "$0")/.."

EXTHOST=${EXTHOST:-build/default/bin/exthost}
RUNS=${RUNS:-3}
HQDN3D_FRAMES=${HQDN3D_FRAMES:-600}
NLMEANS_FRAMES=${NLMEANS_FRAMES:-12}
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
w=${size%x*}
h=${size#*x}
ffmpeg -nostdin -v error -y -i "$clip" -pix_fmt yuv420p -f rawvideo "$tmp/frames.yuv"
frame_bytes=$(( w * h + 2 * ((w + 1) / 2) * ((h + 1) / 2) ))
clip_frames=$(( $(stat -c %s "$tmp/frames.yuv") / frame_bytes ))
threads=$(nproc)
echo "peers: $clip_frames frames of $size yuv420p; $RUNS pairs per figure; default threads $threads" >&2

# ffmpeg arguments reading N frames of the raw file (looped as needed).
input_args() {
  loops=$(( ($1 + clip_frames - 1) / clip_frames - 1 ))
  echo "-stream_loop $loops -f rawvideo -pix_fmt yuv420p -s $size -i $tmp/frames.yuv -frames:v $1"
}

# One timed run: "wall cpu" in seconds from -benchmark.
# Arguments: frames, filter_threads (0 = default), filter chain.
timed() {
  # shellcheck disable=SC2046
  line=$(ffmpeg -nostdin -hide_banner -nostats -benchmark -filter_threads "$2" \
         $(input_args "$1") -vf "$3" -f null - 2>&1 | grep "bench: utime=")
  echo "$line" | awk '{u = $2; s = $3; r = $4; sub("utime=", "", u); sub("stime=", "", s);
                       sub("rtime=", "", r); printf "%s %s\n", r + 0, u + s}'
}

median() {
  sort -g | awk '{v[NR] = $1} END {print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2}'
}

# Fails when FFmpeg would insert a format conversion in front of the filter.
check_no_conversion() {
  # shellcheck disable=SC2046
  if ffmpeg -nostdin -hide_banner -v verbose $(input_args 2) -vf "$1" -f null - 2>&1 |
      grep -q "auto-inserting filter"; then
    echo "peers: FFmpeg converts the frames before $1; the time would not be the filter's own" >&2
    exit 1
  fi
}

# One thread, and FFmpeg's default where that is more than one.
thread_settings="1 0"
[ "$threads" -gt 1 ] || thread_settings=1

measure() {  # name, filter chain, frames
  check_no_conversion "$2"
  for t in $thread_settings; do
    : > "$tmp/wall"
    : > "$tmp/cpu"
    i=0
    while [ $i -lt "$RUNS" ]; do
      base=$(timed "$3" "$t" null)
      with=$(timed "$3" "$t" "$2")
      echo "$with $base $3" | awk '{printf "%.6f\n", ($1 - $3) * 1000 / $5}' >> "$tmp/wall"
      echo "$with $base $3" | awk '{printf "%.6f\n", ($2 - $4) * 1000 / $5}' >> "$tmp/cpu"
      i=$((i + 1))
    done
    tw=$(median < "$tmp/wall")
    tc=$(median < "$tmp/cpu")
    n=$t
    [ "$t" = 0 ] && n=$threads
    echo "peers: $1 threads:$n wall ms/frame $(tr '\n' ' ' < "$tmp/wall")cpu $(tr '\n' ' ' < "$tmp/cpu")" >&2
    awk -v name="$1" -v n="$n" -v tw="$tw" -v tc="$tc" -v f="$3" -v w="$w" -v h="$h" 'BEGIN {
      printf "peer %s threads:%d wall %.3f ms/frame cpu %.3f ms/frame luma_share %.3f ms/frame frames %d size %dx%d\n",
             name, n, tw, tc, tc * (w * h) / (w * h + 2 * int((w + 1) / 2) * int((h + 1) / 2)), f, w, h }'
  done
}

measure hqdn3d hqdn3d "$HQDN3D_FRAMES"
measure hqdn3d=8:6:12:9 hqdn3d=8:6:12:9 "$HQDN3D_FRAMES"
measure nlmeans nlmeans "$NLMEANS_FRAMES"
