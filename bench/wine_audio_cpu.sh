#!/bin/bash
# CPU of the voice path per second of call audio: the native build beside the Windows
# builds under Wine, in one run (bench/audio_path_cpu.cpp). The path is compute only,
# so the figures compare the code each compiler made for its target, not Wine.
#
#   bench/wine_audio_cpu.sh [SECONDS] [BUILD...]
#   bench/wine_audio_cpu.sh 20 build/linux build/windows-x86 build/windows-x64
#
# With PROCESSING=off, echo cancellation, gain control and noise suppression are off
# (the codec, jitter buffer, converters and cipher remain).
# Defaults: 20 s of audio; build/linux, build/windows-x86 and build/windows-x64. Each
# BUILD is a configured build tree (a Windows one runs its program with its own Wine
# prefix); audio_path_cpu is built in it first. The builds take turns, ROUNDS times
# (default 3), and the lowest figure of each is printed: on a shared machine the
# lowest is the one least disturbed. Prints each build's CPU ms per second of audio
# and its ratio to the first build's.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-20}
shift || true
builds=("$@")
[ ${#builds[@]} -gt 0 ] || builds=(build/linux build/windows-x86 build/windows-x64)
rounds=${ROUNDS:-3}
options=()
[ "${PROCESSING:-on}" = off ] && options=(--no-processing)

declare -A best
runnable=()
for build in "${builds[@]}"; do
    [ -f "$build/CMakeCache.txt" ] || { echo "$build: not configured" >&2; continue; }
    nice -n 10 cmake --build "$build" --target audio_path_cpu >/dev/null
    if [ -f "$build/bench/audio_path_cpu.exe" ]; then
        loader=$(sed -n 's/^ZEPHRA_WINE_LOADER:FILEPATH=//p' "$build/CMakeCache.txt")
        if ! "$loader" --version >/dev/null 2>&1; then
            echo "$build: this machine cannot run $loader" >&2
            continue
        fi
    fi
    runnable+=("$build")
done

run_one() {
    local build=$1
    if [ -f "$build/bench/audio_path_cpu.exe" ]; then
        mkdir -p "$build/wine"
        (cd "$build/bench" && ../wine-run.sh audio_path_cpu.exe "$seconds" "${options[@]}")
    else
        "$build/bench/audio_path_cpu" "$seconds" "${options[@]}"
    fi 2>/dev/null | tr -d '\r' | sed -n 's/^cpu_ms_per_audio_s //p'
}

for _ in $(seq "$rounds"); do
    for build in "${runnable[@]}"; do
        figure=$(run_one "$build")
        [ -n "$figure" ] || { echo "$build: no figure" >&2; exit 1; }
        if [ -z "${best[$build]:-}" ] || awk -v a="$figure" -v b="${best[$build]}" 'BEGIN { exit !(a < b) }'; then
            best[$build]=$figure
        fi
    done
done

first=${runnable[0]}
printf '%-36s %22s %12s\n' build "CPU ms / audio second" "vs ${first##*/}"
for build in "${runnable[@]}"; do
    printf '%-36s %22s %11.2fx\n' "$build" "${best[$build]}" \
        "$(awk -v a="${best[$build]}" -v b="${best[$first]}" 'BEGIN { print a / b }')"
done
