#!/usr/bin/python3
"""How late the far end was heard, over a whole call, from the microphone and heard WAV
files of a qelcall call through the echo service.

Each 40-ms window of speech in the microphone file is looked for in the heard file (the
two start together); its lag is the delay at that moment. Windows that agree with both
neighbours, in whole 20-ms frames above the call's normal delay (the median from 3 to
15 s), make the steady delay. Printed: the normal delay; each stretch of extra delay
(how much, from when, for how long); each fall of the steady delay, with the loudest
20 ms of the microphone between the steady windows either side (where the audio the
fall skipped came from: speech, or a pause); and, with --stats, the underruns and
insertions of the call's last record.
"""

import argparse
import json
import sys
import wave

import numpy as np

EXAMPLES = """example (a 60-s call with a 100-ms stall every 20 s):
  build/linux/tools/qel-server/qel-server --stall 100 --stall-every 20000 &   # prints its port
  build/linux/stage/qelcall --server 127.0.0.1:PORT --no-aec --in speech.wav \\
      --out heard.wav --seconds 60 --stats call.jsonl
  bench/heard_delay.py speech.wav heard.wav --stats call.jsonl
"""


class DelayError(Exception):
    """A problem with the input, told to the user in one line."""


def read_wav(path):
    try:
        with wave.open(path) as w:
            if w.getsampwidth() != 2:
                raise DelayError(f"{path}: not 16-bit PCM")
            data = np.frombuffer(w.readframes(w.getnframes()), dtype=np.int16)
            data = data.reshape(-1, w.getnchannels())[:, 0].astype(np.float64) / 32768.0
            return data, w.getframerate()
    except (OSError, wave.Error, EOFError) as e:
        raise DelayError(f"{path}: {e}") from None


def window_delays(mic, heard, rate, max_ms):
    """(seconds, delay ms) of each speech window found in the heard file."""
    win, hop, max_lag = rate // 25, rate // 50, int(rate * max_ms / 1000)
    n = min(len(mic), len(heard))
    found = []
    for s in range(0, n - win - max_lag, hop):
        x = mic[s:s + win]
        ex = float(np.dot(x, x))
        if ex < win * 1e-4:  # quieter than -40 dBFS: a pause
            continue
        y = heard[s:s + win + max_lag]
        size = 1 << (len(y) + win).bit_length()
        corr = np.fft.irfft(np.fft.rfft(y, size) * np.conj(np.fft.rfft(x, size)), size)[:max_lag + 1]
        sums = np.concatenate(([0.0], np.cumsum(y * y)))
        energy = sums[win:win + max_lag + 1] - sums[:max_lag + 1]
        r = corr / np.sqrt(ex * np.maximum(energy, 1e-12))
        k = int(np.argmax(r))
        if r[k] > 0.8:
            found.append((s / rate, k * 1000.0 / rate))
    return found


def loudest_dbfs(mic, rate, start, end):
    frame = rate // 50
    levels = [np.sqrt(np.mean(mic[i:i + frame] ** 2)) for i in range(int(start * rate), max(int(start * rate) + 1, int(end * rate) - frame + 1), frame // 2)]
    return 20 * np.log10(max(levels) + 1e-9)


def main(argv):
    ap = argparse.ArgumentParser(prog="heard_delay", description=__doc__, epilog=EXAMPLES,
                                 formatter_class=argparse.RawDescriptionHelpFormatter)
    ap.add_argument("mic", help="what was said: qelcall's --in file")
    ap.add_argument("heard", help="what was heard: qelcall's --out file")
    ap.add_argument("--stats", help="qelcall's --stats file, for the underruns and insertions")
    ap.add_argument("--max-ms", type=float, default=800, help="longest delay looked for (default 800)")
    a = ap.parse_args(argv)
    try:
        mic, rate = read_wav(a.mic)
        heard, heard_rate = read_wav(a.heard)
        if heard_rate != rate:
            raise DelayError(f"the files' rates differ: {rate} and {heard_rate} Hz")
        found = window_delays(mic, heard, rate, a.max_ms)
        t = np.array([f[0] for f in found])
        d = np.array([f[1] for f in found])
        early = (t > 3) & (t < 15)
        if not early.any():
            raise DelayError("no speech was found in the heard file between 3 and 15 s")
        normal = float(np.median(d[early]))
        frames = np.round((d - normal) / 20.0).astype(int)
        steady = [i for i in range(1, len(frames) - 1) if frames[i - 1] == frames[i] == frames[i + 1]]
        st, sf = t[steady], frames[steady]
        print(f"normal delay {normal:.1f} ms ({len(found)} windows of speech found)")
        i = 0
        while i < len(sf):
            if sf[i] == 0:
                i += 1
                continue
            j = i
            while j < len(sf) and sf[j] != 0:
                j += 1
            back = f"back after {st[j] - st[i]:.1f} s" if j < len(sf) else "to the end"
            print(f"  {sf[i:j].max() * 20:+d} ms from {st[i]:.1f} s, {back}")
            i = j
        for k in range(1, len(sf)):
            if sf[k] < sf[k - 1]:
                level = loudest_dbfs(mic, rate, st[k - 1] + 0.04, st[k])
                print(f"  fell {(sf[k - 1] - sf[k]) * 20} ms between {st[k - 1]:.2f} and {st[k]:.2f} s;"
                      f" loudest 20 ms said there: {level:.0f} dBFS")
        if a.stats:
            try:
                records = [json.loads(line) for line in open(a.stats)]
            except (OSError, ValueError) as e:
                raise DelayError(f"{a.stats}: {e}") from None
            last = [r for r in records if r.get("type") != "end"][-1]
            print(f"underruns {last['underruns']}, insertions {last['insertions']} in {last['t']:.0f} s")
    except DelayError as e:
        print(f"heard_delay: {e}", file=sys.stderr)
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
