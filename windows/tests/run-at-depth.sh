#!/bin/sh
# run-at-depth.sh DIR LOADER ARCH PROGRAM [ARGS...]: runs a cross-built test program
# under Wine with the prefix and display in DIR (started by wine-env.sh at a chosen
# depth), rather than the build's default ones.
set -eu
dir="$1"
loader="$2"
export WINEARCH="$3"
shift 3
export WINEPREFIX="$dir/prefix" WINELOADER="$loader" WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml,winedbg.exe=}"
DISPLAY="$(cat "$dir/display")"
export DISPLAY
exec "$loader" "$@"
