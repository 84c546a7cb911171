#!/bin/bash
# Where a call's voice clips: speech at a set level into the microphone of a qelcall
# echo call (every processing stage on, as in a call), and what comes back, which is
# what a far end decodes: runs of two or more samples flat at full scale (within 8
# steps of it, as --stats counts clipped samples: the WAV of what was heard holds
# full scale as 32766), the samples at or near full scale, and the loudness of the
# returning speech. The echo canceller is off (--aec to keep it): the
# echo service's return is the caller's own voice, which it would take for echo.
#   bench/clip_probe.sh [--level DBFS] [--aec] [--keep DIR] [--qel LIB]
#   --level DBFS   RMS of the speech into the microphone (default -25)
#   --qel LIB      the session library (default the linux preset's)
set -euo pipefail
cd "$(dirname "$0")/.."
linux="$PWD/build/linux"
level=-25 aec=(--no-aec) keep="" qel="$linux/stage/native/libqel.so"
while [ $# -gt 0 ]; do
    case "$1" in
    --level) level="$2"; shift ;;
    --aec) aec=() ;;
    --keep) keep="$2"; shift ;;
    --qel) qel="$2"; shift ;;
    *) sed -n '2,/^set -eu/p' "$0" | sed '$d; s/^# \{0,1\}//'; exit 2 ;;
    esac
    shift
done
work="${keep:-$(mktemp -d /tmp/clip-probe.XXXXXX)}"
mkdir -p "$work"
server_pid=""
cleanup() {
    [ -z "$server_pid" ] || kill "$server_pid" 2>/dev/null || true
    [ -n "$keep" ] || rm -rf "$work"
}
trap cleanup EXIT

# Eighteen seconds of natural speech, two voices, set to the level by its RMS.
text="The quick brown fox jumps over the lazy dog while the voice server carries every word \
there and back again. A call is good when nobody notices it: no gaps, no echo, no delay."
espeak-ng -v en -s 150 -w "$work/a.wav" "$text"
espeak-ng -v en-us+f3 -s 160 -w "$work/b.wav" "$text"
sox "$work/a.wav" "$work/b.wav" -r 48000 -c 1 -b 16 "$work/raw.wav" gain -6
rms="$(sox "$work/raw.wav" -n stats 2>&1 | sed -n 's/^RMS lev dB *\(-[0-9.]*\).*/\1/p')"
sox "$work/raw.wav" "$work/speech.wav" gain "$(awk -v l="$level" -v r="$rms" 'BEGIN { print l - r }')"

"$linux/tools/qel-server/qel-server" >"$work/server.out" 2>"$work/server.log" &
server_pid=$!
for _ in $(seq 50); do
    grep -q listening "$work/server.out" 2>/dev/null && break
    sleep 0.1
done
port="$(sed -n 's/.*tcp=\([0-9]*\).*/\1/p' "$work/server.out")"
seconds="$(soxi -D "$work/speech.wav")"
"$linux/stage/qelcall" --qel "$qel" --server "127.0.0.1:$port" "${aec[@]}" --in "$work/speech.wav" \
    --out "$work/heard.wav" --seconds "$(awk -v s="$seconds" 'BEGIN { print s + 1 }')" \
    --stats "$work/stats.jsonl" >"$work/call.out"

/usr/bin/python3 - "$work" <<'PY'
import json, sys, wave
import numpy as np
work = sys.argv[1]

def samples(name):
    with wave.open(f"{work}/{name}") as w:
        return np.frombuffer(w.readframes(w.getnframes()), dtype="<i2").astype(np.int32)

def flat_runs(x):
    """Runs of two or more samples at full scale, and the longest."""
    at = np.abs(x) >= 32760
    runs, longest, n = 0, 0, 0
    for v in np.append(at, False):
        if v:
            n += 1
        else:
            if n >= 2:
                runs, longest = runs + 1, max(longest, n)
            n = 0
    return runs, longest

def speech_rms_db(x):
    """RMS of the 20-ms windows within 40 dB of the loudest: the speech, not its pauses."""
    f = x[: len(x) // 960 * 960].reshape(-1, 960).astype(float) / 32768
    p = (f ** 2).mean(axis=1)
    loud = p[p > p.max() * 1e-4]
    return 10 * np.log10(loud.mean())

mic, heard = samples("speech.wav"), samples("heard.wav")
records = [json.loads(l) for l in open(f"{work}/stats.jsonl")]
runs, longest = flat_runs(heard)
print(f"microphone: speech RMS {speech_rms_db(mic):.1f} dBFS (of its speech), {len(mic) / 48000:.1f} s; "
      f"flat full-scale runs {flat_runs(mic)[0]}")
print(f"heard (what the far end decodes): {runs} flat full-scale runs (longest {longest} samples), "
      f"{int(sum(r.get('playback_clipped', 0) for r in records[1:]))} samples at or near full scale; "
      f"speech RMS {speech_rms_db(heard):.2f} dBFS, peak {20 * np.log10(max(abs(heard).max(), 1) / 32768):.2f} dBFS")
PY
