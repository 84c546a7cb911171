#!/bin/bash
# CPU of a call: the native qelcall beside the Windows qelcall.exe under Wine, the same
# echo call through the same qel-server in one run, one after the other.
#
#   bench/wine_call_cpu.sh [SECONDS]      (default 20 s of call each)
#
# Needs the linux preset and at least one Windows preset built. For each build it
# prints qelcall's own process CPU (all its threads) per second of call audio, and for
# Wine also the wineserver's CPU over the same call, which a Windows process costs on
# top of its own.
set -euo pipefail
cd "$(dirname "$0")/.."
root="$PWD"
seconds="${1:-20}"
work="$root/build/bench-wine-call"
mkdir -p "$work"
server="$root/build/linux/tools/qel-server/qel-server"
[ -x "$server" ] || { echo "build the linux preset first ($server missing)" >&2; exit 1; }

sox -n -r 48000 -c 1 -b 16 "$work/tone.wav" synth "$((seconds + 2))" sine 440 vol 0.3

"$server" >"$work/server.out" 2>"$work/server.log" &
server_pid=$!
wine_stop=()
cleanup() {
    kill "$server_pid" 2>/dev/null || true
    if [ ${#wine_stop[@]} -gt 0 ]; then "${wine_stop[@]}" || true; fi
}
trap cleanup EXIT
for _ in $(seq 50); do
    grep -q listening "$work/server.out" 2>/dev/null && break
    sleep 0.1
done
port="$(sed -n 's/.*tcp=\([0-9]*\).*/\1/p' "$work/server.out")"
[ -n "$port" ] || { echo "qel-server did not start" >&2; exit 1; }

# Prints the "process CPU" figure of one qelcall run.
cpu_line() {
    tr -d '\r' | sed -n 's/^  process CPU: *//p'
}

# User and system CPU, in milliseconds, of the wineserver that serves the prefix $1
# (other Wine prefixes on the machine have their own).
wineserver_ms() {
    local total=0 pid
    for pid in $(pgrep '^wineserver' || true); do
        { tr '\0' '\n' <"/proc/$pid/environ"; } 2>/dev/null | grep -qx "WINEPREFIX=$1" || continue
        { read -r -a f <"/proc/$pid/stat"; } 2>/dev/null || continue
        total=$((total + f[13] + f[14]))
    done
    echo $((total * 1000 / $(getconf CLK_TCK)))
}

printf '%-26s %s\n' "build" "qelcall process CPU"
native="$("$root/build/linux/stage/qelcall" --server "127.0.0.1:$port" --service echo \
    --in "$work/tone.wav" --out "$work/heard-linux.wav" --seconds "$seconds" | cpu_line)"
printf '%-26s %s\n' "linux (native)" "$native"

for arch in x86 x64; do
    build="$root/build/windows-$arch"
    [ -f "$build/stage/qelcall.exe" ] || { printf '%-26s %s\n' "windows-$arch" "not built"; continue; }
    if [ "$arch" = x86 ]; then loader=/usr/lib/wine/wine wine_arch=win32; else loader=/usr/lib/wine/wine64 wine_arch=win64; fi
    if ! "$loader" --version >/dev/null 2>&1; then
        printf '%-26s %s\n' "windows-$arch under Wine" "this machine cannot run it"
        continue
    fi
    sh cmake/wine-env.sh start "$build/wine" "$loader" "$wine_arch" >/dev/null
    wine_stop=(sh cmake/wine-env.sh stop "$build/wine" "$loader" "$wine_arch")
    # A first short call brings the prefix and wineserver up, so that only the call
    # itself is measured.
    (cd "$build/stage" && ../wine-run.sh qelcall.exe --server "127.0.0.1:$port" --service echo \
        --in "$work/tone.wav" --out "$work/warm.wav" --seconds 1 >/dev/null)
    before="$(wineserver_ms "$build/wine/prefix")"
    figure="$(cd "$build/stage" && ../wine-run.sh qelcall.exe --server "127.0.0.1:$port" --service echo \
        --in "$work/tone.wav" --out "$work/heard-$arch.wav" --seconds "$seconds" | cpu_line)"
    after="$(wineserver_ms "$build/wine/prefix")"
    printf '%-26s %s; wineserver %d ms more\n' "windows-$arch under Wine" "$figure" $((after - before))
    "${wine_stop[@]}"
    wine_stop=()
done
