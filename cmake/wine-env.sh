#!/bin/sh
# wine-env.sh start|stop DIR LOADER ARCH [DEPTH]
# start: an Xvfb display on a free number (its name written to DIR/display) and a
#        32-bit Wine prefix in DIR/prefix, created on first use.
# stop:  ends the prefix's wineserver and the display.
set -eu
cmd="$1"
dir="$2"
loader="$3"
export WINEARCH="$4"
depth="${5:-24}"
mkdir -p "$dir"
export WINEPREFIX="$dir/prefix" WINELOADER="$loader" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml,winedbg.exe="

stop() {
    wineserver -k 2>/dev/null || true
    if [ -f "$dir/xvfb.pid" ]; then
        kill "$(cat "$dir/xvfb.pid")" 2>/dev/null || true
        rm -f "$dir/xvfb.pid"
    fi
    rm -f "$dir/display"
}

case "$cmd" in
start)
    stop
    # -displayfd makes Xvfb choose a free display number and print it when ready.
    rm -f "$dir/displayno"
    Xvfb -displayfd 3 -screen 0 "1024x768x$depth" -nolisten tcp 3>"$dir/displayno" \
        >"$dir/xvfb.log" 2>&1 &
    echo $! >"$dir/xvfb.pid"
    i=0
    while [ ! -s "$dir/displayno" ]; do
        i=$((i + 1))
        if [ $i -gt 100 ]; then
            echo "Xvfb did not start:" >&2
            cat "$dir/xvfb.log" >&2
            exit 1
        fi
        sleep 0.1
    done
    echo ":$(head -n1 "$dir/displayno" | tr -d '[:space:]')" >"$dir/display"
    DISPLAY="$(cat "$dir/display")"
    export DISPLAY
    echo "display $DISPLAY, depth $depth, prefix $WINEPREFIX"
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
        echo "creating the Wine prefix (first run only)"
    fi
    "$loader" wineboot -i >/dev/null 2>&1
    # Keep one wineserver alive across tests so each test does not pay its start-up.
    wineserver -p 600 || true
    ;;
stop)
    stop
    ;;
*)
    echo "usage: wine-env.sh start|stop DIR LOADER ARCH [DEPTH]" >&2
    exit 2
    ;;
esac
