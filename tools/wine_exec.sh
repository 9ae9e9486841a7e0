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
  flock "$WINEPREFIX/.create.lock" sh -c \
    "[ -f '$WINEPREFIX/system.reg' ] || WINELOADER=$wine $wine wineboot -i >/dev/null 2>&1"
fi
export WINELOADER="${WINELOADER:-$wine}"
exec "$wine" "$@"
