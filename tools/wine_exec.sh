#!/bin/sh
# Runs a program of the Windows cross build under Wine, in the Wine prefix
# given as the first argument (created on first use):
#   tools/wine_exec.sh PREFIX_DIR program.exe [arguments]
# ctest and test discovery call it as the cross-compiling emulator.
set -eu
prefix=$1
shift
export WINEPREFIX="${WINEPREFIX:-$prefix}"
export WINEDEBUG="${WINEDEBUG:--all}"
wine=/usr/lib/wine/wine64
[ -x "$wine" ] || wine=wine
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  mkdir -p "$WINEPREFIX"
  # One creation even when several tests start at once.
  flock -o "$WINEPREFIX/.create.lock" sh -c \
    "[ -f '$WINEPREFIX/system.reg' ] || WINELOADER=$wine $wine wineboot -i >/dev/null 2>&1"
fi
export WINELOADER="${WINELOADER:-$wine}"
# One Wine server for the whole run, lingering a minute after the last
# program (a program that connects while a server shuts down fails with
# "wine client error ... Connection reset by peer").  Whoever starts it
# also starts Wine's own background processes, with no standard streams of
# ours: they live as long as the server, and a test's output pipe held by
# them would keep ctest waiting.
server=/usr/lib/wine/wineserver64
[ -x "$server" ] || server=wineserver
flock -o "$WINEPREFIX/.server.lock" sh -c \
  "if '$server' -p60 >/dev/null 2>&1 </dev/null; then '$wine' wineboot >/dev/null 2>&1 </dev/null || true; fi"
exec "$wine" "$@"
