#!/bin/bash
# A call through the engine heard from outside it: bench/ear_probe (a JACK client) is the
# microphone and the speaker of the sound server, the engine makes a call through the
# test voice server, and the probe measures in the server's own frames.
#
#   bench/ear_probe.sh [options] latency|holes|echo
#     latency   mouth-to-ear of irregular bursts in an echo call
#     holes     stretches of digital silence inside returning speech, echo call
#     echo      a conference with a far end (the native qelcall playing speech): the probe
#               puts the engine's speaker back into its microphone 5 ms later at -6 dB;
#               the far end's recording says how much of its own voice came back
#   --wine            the engine is tallix.dll under 32-bit Wine (build/windows-x86, or
#                     --preset windows-x64) driven by its tallix_call.exe; else
#                     libtallix.so through the reference Java host (build/linux)
#   --preset NAME     the Windows build (default windows-x86)
#   --loss PCT        the voice server loses PCT % of the voice packets (qel-server --loss)
#   --seconds N       the probe's recording (default 20)
#   --near            echo: a near-end talker too (double talk); the far end then reports
#                     the level at which it heard the near end
#   --near-alone      as --near, with the far end silent: the same level without double
#                     talk (the difference of the two is the near end's loss in double talk)
#   --no-aec          echo, Wine only: the engine's echo canceller off
#   --echo-delay-ms MS echo: the speaker-to-microphone delay (default 5)
#   --speech-level DB the speech said into the microphone at this RMS in dBFS (default:
#                     its peaks at -3 dBFS)
#   --keep DIR        keep the run's files (WAVs, logs) in DIR
# Needs the linux preset built (ear_probe, qel-server, qelcall, libtallix.so, the Java
# host), and for --wine the Windows preset (tallix_call). Engine settings: its defaults,
# i.e. 512-frame device buffers and every processing flag on.
set -euo pipefail
cd "$(dirname "$0")/.."
root="$PWD"
linux="$root/build/linux"
wine=0 preset=windows-x86 loss=0 seconds=20 near=0 no_aec=0 keep="" echo_delay=5 far_silent=0 speech_level=""
while [ $# -gt 0 ]; do
    case "$1" in
    --wine) wine=1 ;;
    --preset) preset="$2"; shift ;;
    --loss) loss="$2"; shift ;;
    --seconds) seconds="$2"; shift ;;
    --near) near=1 ;;
    --near-alone) near=1 far_silent=1 ;;
    --no-aec) no_aec=1 ;;
    --echo-delay-ms) echo_delay="$2"; shift ;;
    --speech-level) speech_level="$2"; shift ;;
    --keep) keep="$2"; shift ;;
    latency|holes|echo) measure="$1" ;;
    *) sed -n '2,/^set -eu/p' "$0" | sed '$d; s/^# \{0,1\}//'; exit 2 ;;
    esac
    shift
done
[ -n "${measure:-}" ] || { echo "ear_probe.sh: which measurement? (latency, holes, echo)" >&2; exit 2; }
probe="$linux/bench/ear_probe"
server="$linux/tools/qel-server/qel-server"
for f in "$probe" "$server" "$linux/stage/qelcall"; do
    [ -x "$f" ] || { echo "ear_probe.sh: $f is not built (cmake --build --preset linux)" >&2; exit 1; }
done
work="${keep:-$(mktemp -d /tmp/ear-probe.XXXXXX)}"
# A JACK server of this run alone: two runs at once must not share the probe.
jack_name="zephra-ear-probe-$$"
mkdir -p "$work"
pids=()
wine_env=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    if [ ${#wine_env[@]} -gt 0 ]; then sh cmake/wine-env.sh stop "${wine_env[@]}" || true; fi
    tools/sound-server.sh stop "$work/sound" "$jack_name" || true
    [ -n "$keep" ] || rm -rf "$work"
}
trap cleanup EXIT

# Speech at the server's rate: espeak-ng's voice, resampled.
speech() {  # speech OUT VOICE TEXT [RMS dBFS]
    espeak-ng -v "$2" -s 150 -w "$work/espeak.wav" "$3"
    sox "$work/espeak.wav" -r 48000 -c 1 -b 16 "$1" norm -3
    if [ -n "${4:-}" ]; then
        local rms
        rms="$(sox "$1" -n stats 2>&1 | sed -n 's/^RMS lev dB *\(-[0-9.]*\).*/\1/p')"
        sox "$1" "$work/level.wav" gain "$(awk -v l="$4" -v r="$rms" 'BEGIN { print l - r }')"
        mv "$work/level.wav" "$1"
    fi
}
text="The quick brown fox jumps over the lazy dog while the voice server carries every word \
there and back again. A call is good when nobody notices it: no gaps, no echo, no delay."

eval "$(tools/sound-server.sh start "$work/sound" "$jack_name" --probe)"
"$server" ${loss:+--loss "$loss"} --seed 7 >"$work/server.out" 2>"$work/server.log" &
pids+=($!)
for _ in $(seq 50); do
    grep -q listening "$work/server.out" 2>/dev/null && break
    sleep 0.1
done
port="$(sed -n 's/.*tcp=\([0-9]*\).*/\1/p' "$work/server.out")"
[ -n "$port" ] || { echo "ear_probe.sh: qel-server did not start" >&2; exit 1; }

settle=3
service=echo
probe_args=(--seconds "$seconds" --settle "$settle")
case "$measure" in
holes)
    speech "$work/speech.wav" en "$text" "$speech_level"
    probe_args+=(--speech "$work/speech.wav")
    ;;
echo)
    service=conference
    probe_args+=(--echo-delay-ms "$echo_delay")
    if [ "$near" = 1 ]; then
        speech "$work/near.wav" en-us+f3 "$text" "$speech_level"
        probe_args+=(--speech "$work/near.wav")
    fi
    ;;
esac
"$probe" "$measure" "${probe_args[@]}" --save "$work" >"$work/probe.out" 2>&1 &
probe_pid=$!
pids+=($probe_pid)
for _ in $(seq 100); do
    grep -q '^ready' "$work/probe.out" 2>/dev/null && break
    sleep 0.1
done
grep -q '^ready' "$work/probe.out" || { cat "$work/probe.out" >&2; exit 1; }

# The call lasts the probe's wait for the stream, its settling and its recording.
call_seconds=$((seconds + settle + 6))
far_pid=""
if [ "$measure" = echo ]; then
    # The far end: speech into the conference from the native call tool, recording what
    # it hears back, until the probe has done.
    for _ in 1 2 3 4 5 6; do text="$text $text"; done
    speech "$work/far.wav" en "$text"
    far_start="$(date +%s.%N)"
    far_in=(--in "$work/far.wav")
    [ "$far_silent" = 1 ] && far_in=()
    "$linux/stage/qelcall" --server "127.0.0.1:$port" --service conference --pin 1234 \
        "${far_in[@]}" --out "$work/far-heard.wav" --seconds $((call_seconds + 60)) \
        >"$work/far.out" 2>&1 &
    far_pid=$!
    pids+=($far_pid)
fi

if [ "$wine" = 1 ]; then
    build="$root/build/$preset"
    [ -f "$build/tests/tallix_call.exe" ] || {
        echo "ear_probe.sh: $build/tests/tallix_call.exe is not built" >&2
        exit 1
    }
    if [ "$preset" = windows-x64 ]; then loader=/usr/lib/wine/wine64 arch=win64; else loader=/usr/lib/wine/wine arch=win32; fi
    wine_env=("$build/wine" "$loader" "$arch")
    sh cmake/wine-env.sh start "${wine_env[@]}" >/dev/null
    flags=()
    [ "$no_aec" = 1 ] && flags+=(--no-aec)
    (cd "$build/tests" && ../wine-run.sh tallix_call.exe "$port" "$service" 1234 "$call_seconds" \
        "${flags[@]}") >"$work/engine.out" 2>&1 &
else
    [ "$no_aec" = 1 ] && echo "ear_probe.sh: --no-aec is for --wine only; the Java host keeps its defaults" >&2
    (cd "$linux/stage" && java -Djava.library.path=. -Djava.util.logging.config.file=/dev/null \
        -cp "$linux/java/tallix_java.jar" com.zephra.tallix.host.ReferenceHost 127.0.0.1 "$port" \
        "$service" 1234 "$call_seconds") >"$work/engine.out" 2>&1 &
fi
engine_pid=$!
wait "$probe_pid" || true
# The far end stops with the probe, while the engine is still in the call.
if [ -n "$far_pid" ]; then
    kill -INT "$far_pid" 2>/dev/null || true
    wait "$far_pid" || true
fi
wait "$engine_pid" || true
grep -E "Audio latency|Audio setup|event|Using audio devices" "$work/engine.out" | tr -d '\r' | sed 's/^/  engine: /' | head -8
grep -vE '^(ready|connected|recording from)' "$work/probe.out"
if [ "$measure" = echo ]; then
    # The same stretch of the call in the far end's recording as in the probe's, past
    # the first 5 s (the canceller's start): how much of the echo at the engine's
    # microphone reached the far end.
    at_mic="$(sed -n 's/.*echo at the microphone \(-\{0,1\}[0-9.inf]*\) dBFS.*/\1/p' "$work/probe.out")"
    from="$(sed -n 's/^recording from \([0-9.]*\).*/\1/p' "$work/probe.out")"
    skip="$(awk -v r="$from" -v f="$far_start" 'BEGIN { printf "%.3f", r - f + 5 }')"
    level="$("$probe" level "$work/far-heard.wav" --skip "$skip" --length $((seconds - 5)))"
    back="$(echo "$level" | sed -n 's/level: \(-\{0,1\}[0-9.inf]*\) dBFS.*/\1/p')"
    back_median="$(echo "$level" | sed -n 's/.*median \(-\{0,1\}[0-9.inf]*\) dBFS.*/\1/p')"
    back_p90="$(echo "$level" | sed -n 's/.*p90 \(-\{0,1\}[0-9.inf]*\) dBFS.*/\1/p')"
    if [ "$near" = 1 ]; then
        echo "far end heard the near end at $back dBFS (its seconds' median $back_median dBFS)"
        exit 0
    fi
    awk -v m="$at_mic" -v b="$back" -v s="$back_median" -v w="$back_p90" 'BEGIN {
        printf "echo reduction: %.1f dB (echo at the microphone %s dBFS, back at the far end %s dBFS);", m - b, m, b
        printf " of the median second %.1f dB, of the loudest tenth %.1f dB\n", m - s, m - w }'
fi
