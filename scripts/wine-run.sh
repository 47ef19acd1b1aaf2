#!/bin/sh
# Runs a Windows program under wine for the windows-x64 build (CMAKE_CROSSCOMPILING_EMULATOR):
# quiet, with its own wine prefix (WINEPREFIX, else $HOME/.wine-kep), made on the first run
# (about half a minute; one maker at a time). Without a program it only makes the prefix.
# The program's standard streams and exit status are passed through.
: "${WINEPREFIX:=${HOME:-/tmp}/.wine-kep}"
export WINEPREFIX
export WINEDEBUG=-all
# No Mono or Gecko installer prompts, no menu entries.
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  mkdir -p "$WINEPREFIX"
  (
    flock 9
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
      wineboot -i >/dev/null 2>&1
      wineserver -w >/dev/null 2>&1
    fi
  ) 9>"$WINEPREFIX/.kep-lock"
fi
[ $# -eq 0 ] && exit 0
exec wine "$@"
