#!/bin/sh
# exthost.exe under Wine, end to end:
#   - the fisheye extension passes a clip through byte for byte, from a
#     file and through standard input and output (binary streams);
#   - the perceptual filter on OpenCL (--backend opencl) without any OpenCL
#     library (Wine's OpenCL bridge switched off) tries "OpenCL.dll", then
#     the System32 path, and passes every frame through unchanged with the
#     library-error status.
# usage: check_exthost_wine.sh RUNNER PREFIX BINDIR WORKDIR
set -u
run=$1
prefix=$2
bin=$3
work=$4
mkdir -p "$work"
failed=0
fail() {
  echo "FAIL: $*"
  failed=1
}
frames=6
clip=$work/clip.y4m

"$run" "$prefix" "$bin/exthost.exe" --ext fisheye --quiet --frames $frames -o "$clip" 2>"$work/gen.err" ||
  fail "exthost --ext fisheye (built-in clip) exited $?: $(cat "$work/gen.err")"
size=$(wc -c <"$clip" 2>/dev/null || echo 0)
# 6 frames of 1280x720 I420 plus headers.
[ "$size" -gt $((frames * 1382400)) ] || fail "generated clip has $size bytes"

"$run" "$prefix" "$bin/exthost.exe" --ext fisheye --quiet -i "$clip" -o "$work/fisheye.y4m" 2>/dev/null ||
  fail "exthost --ext fisheye -i clip exited $?"
cmp -s "$clip" "$work/fisheye.y4m" || fail "fisheye output differs from its input (files)"

"$run" "$prefix" "$bin/exthost.exe" --ext fisheye --quiet -i - -o - <"$clip" >"$work/piped.y4m" 2>/dev/null ||
  fail "exthost --ext fisheye -i - -o - exited $?"
cmp -s "$clip" "$work/piped.y4m" || fail "fisheye output differs from its input (standard streams)"

WINEDLLOVERRIDES="opencl=d" "$run" "$prefix" "$bin/exthost.exe" --ext pvc --backend opencl -i "$clip" \
  -o "$work/pvc.y4m" --log "$work/pvc.log" >"$work/pvc.out" 2>"$work/pvc.err"
rc=$?
[ $rc -eq 0 ] || fail "exthost --ext pvc exited $rc: $(cat "$work/pvc.err")"
cmp -s "$clip" "$work/pvc.y4m" || fail "pvc without OpenCL changed frames"
tr -d '\r' <"$work/pvc.out" | grep -E '^Load .* failed!$' >"$work/pvc.loads"
printf 'Load OpenCL.dll failed!\nLoad C:/Windows/System32/OpenCL.dll failed!\n' |
  cmp -s - "$work/pvc.loads" || fail "OpenCL library attempts: $(cat "$work/pvc.loads")"
tr -d '\r' <"$work/pvc.err" | grep -q "processed: *0 (result 0)" || fail "pvc processed frames"
tr -d '\r' <"$work/pvc.err" | grep -q "passed through: *$frames (result 1: $frames, result 2: 0)" ||
  fail "pvc did not pass all $frames frames with result 1"
errors=$(tr -d '\r' <"$work/pvc.log" | grep -c '^4 pvc: PVC library error, skip\.$')
# Frame 1 sets up (and fails); every later frame reports the library error.
[ "$errors" -eq $((frames - 1)) ] || fail "$errors library-error lines for $frames frames"

[ $failed -eq 0 ] && echo "exthost under Wine as expected"
exit $failed
