#!/usr/bin/python3
"""Draws one voice call as a self-contained HTML page that opens offline.

From a qelcall --stats file (optionally with the call's microphone and heard WAV
files), or from the voice engine's log as the Java host writes it through
java.util.logging, the page shows the call's events in time, packets per second both
ways with the losses marked, the jitter buffer's depth, underruns and insertions (those
of the start-up, the first second of voice while the buffer fills, apart from the
rest: only the rest is flagged), the interarrival jitter, an estimated quality score,
the audio levels with the seconds that clipped, the latency stages when the call timed
them, and what was said and heard, aligned. Pictures are PNG files embedded in the page.

The score is the ITU-T G.107 E-model's rating R, reduced as G.113 and VoIP monitors
do to packet loss (effective equipment impairment) and one-way delay (delay
impairment), and the MOS derived from R (G.107 Annex B). The codec figures are those
of G.711 with packet-loss concealment, Ie = 0 and Bpl = 25.1 (G.113 Appendix I), as
Opus custom mode has no entry of its own; a stats file names the figures it used.
From a stats file: the loss of the voice packets by their sequence numbers, and the
mouth-to-ear time as the delay when the call measured it (qelcall --latency). From a
log: the loss the statistics lines show (fewer than 50 packets a second), and no
delay, which a log does not give.
"""

import argparse
import base64
import html
import io
import json
import math
import os
import re
import sys
import wave
from datetime import datetime

EXAMPLES = """examples:
  build/linux/stage/qelcall --server 127.0.0.1:PORT --in speech.wav --out heard.wav --stats call.jsonl
  tools/call-report.py call.jsonl --mic speech.wav --heard heard.wav -o call-report.html

  java -Djava.util.logging.config.file=logging.properties ... ReferenceHost ...  (a FileHandler
  with java.util.logging.SimpleFormatter writes engine.log)
  tools/call-report.py --log engine.log -o java-call-report.html
"""

PROG = "call-report"


class ReportError(Exception):
    """A problem with the input, told to the user in one line."""


# ---------------------------------------------------------------- inputs

def read_stats(path):
    """The records of a qelcall --stats file: start, seconds, end."""
    try:
        with open(path, encoding="utf-8") as f:
            text = f.read()
    except FileNotFoundError:
        raise ReportError(f"{path}: no such file")
    except (OSError, UnicodeDecodeError) as e:
        raise ReportError(f"{path}: cannot read it ({e})")
    lines = text.splitlines()
    if not text.strip():
        raise ReportError(f"{path} is empty: it holds no records of a call")
    records = []
    for number, line in enumerate(lines, 1):
        if not line.strip():
            continue
        try:
            record = json.loads(line)
        except json.JSONDecodeError:
            whole = number == len(lines) and not text.endswith("\n")
            raise ReportError(f"{path} line {number} is not a whole JSON record"
                              + (" (the file is truncated)" if whole else
                                 " (not a qelcall --stats file?)"))
        if not isinstance(record, dict) or record.get("type") not in ("start", "second", "end"):
            raise ReportError(f"{path} line {number} is not a qelcall --stats record")
        records.append(record)
    if records[0]["type"] != "start":
        raise ReportError(f"{path} does not begin with the call's start record (truncated at the front?)")
    if records[-1]["type"] != "end":
        raise ReportError(f"{path} ends without the call's end record: the file is truncated "
                          "(was qelcall stopped before the call ended?)")
    for key in ("t", "packets_sent", "voice_received", "voice_lost"):
        for number, record in enumerate(records, 1):
            if key not in record:
                raise ReportError(f"{path} record {number} has no field {key!r}: not a qelcall --stats file")
    return records


def read_wav(path, what):
    """Mono float samples and their rate; 16-bit PCM, any channel count."""
    import numpy as np
    if not os.path.exists(path):
        raise ReportError(f"{what} {path}: no such file")
    try:
        with wave.open(path, "rb") as w:
            if w.getsampwidth() != 2:
                raise ReportError(f"{what} {path}: {8 * w.getsampwidth()}-bit samples; "
                                  "only 16-bit PCM is read")
            rate, channels = w.getframerate(), w.getnchannels()
            data = w.readframes(w.getnframes())
    except (wave.Error, EOFError, OSError) as e:
        raise ReportError(f"{what} {path}: not a readable WAV file ({e})")
    samples = np.frombuffer(data[: len(data) // (2 * channels) * 2 * channels], dtype="<i2")
    samples = samples.reshape(-1, channels).mean(axis=1) / 32768.0
    return samples, rate


LEVEL_NAMES = ("SEVERE", "WARNING", "INFO", "CONFIG", "FINE", "FINER", "FINEST")
RECORD_LINE = re.compile(r"^(%s): (.*)$" % "|".join(LEVEL_NAMES))
STAMP = re.compile(r"^(\d{4,})\.(\d{3}) (.*)$")


def read_engine_log(path):
    """The engine's entries of a java.util.logging log (SimpleFormatter's layout: a
    line of date and source, then LEVEL: message). Each entry: engine time in seconds,
    level, message, and for the session library's entries its own time."""
    try:
        with open(path, encoding="utf-8", errors="replace") as f:
            lines = f.read().splitlines()
    except FileNotFoundError:
        raise ReportError(f"{path}: no such file")
    except OSError as e:
        raise ReportError(f"{path}: cannot read it ({e})")
    entries, wall = [], None
    for line in lines:
        m = RECORD_LINE.match(line)
        if not m:
            if line and not line.startswith((" ", "\t")):
                wall = wall or line.split(" com.", 1)[0].strip()
            continue
        level, message = m.groups()
        s = STAMP.match(message)
        if not s:
            continue  # the host's own records: no engine time stamp
        t = int(s.group(1)) + int(s.group(2)) / 1000.0
        text, qel_t = s.group(3), None
        if text.startswith("QEL: "):
            text = text[5:]
            q = STAMP.match(text)
            if q:
                qel_t = int(q.group(1)) + int(q.group(2)) / 1000.0
                text = q.group(3)
        entries.append({"t": t, "level": level, "text": text, "qel_t": qel_t, "qel": qel_t is not None})
    if not entries:
        raise ReportError(f"{path} holds no records of the voice engine (expected a java.util.logging log "
                          "written with SimpleFormatter, messages like 'INFO: 0004.360 Connected to QEL server')")
    return entries, wall


# ---------------------------------------------------------------- the call, as series

class Call:
    """What the page draws, from either input."""

    def __init__(self):
        self.title = ""
        self.facts = []          # (label, value, flag) rows of the summary table; flag "loss" marks trouble
        self.events = []         # (t, name, kind) kind: ok, warn, bad
        self.states = []         # (t0, t1, state)
        self.end = 0.0
        self.packets = None      # dict t, sent, received (per second), lost, late (per interval)
        self.packets_note = ""
        self.jb = None           # (t, depth)
        self.jitter = None       # dict t, underruns, insertions, startup_underruns, startup_insertions
        self.startup = None      # (t0, t1): the first second of voice, while the jitter buffer fills
        self.interarrival = None  # (t, jitter ms)
        self.quality = None      # dict t, mos, r, call_mos, call_r, note
        self.clipped = None      # dict t, capture, playback (samples per interval)
        self.jitter_note = ""
        self.levels = None       # dict t, capture_rms, capture_peak, playback_rms, playback_peak
        self.loads = None        # dict t, network, audio, cpu
        self.latency = None      # the end record's latency object
        self.audio = []          # (label, samples, rate, start t)
        self.lost_total = 0
        self.late_total = 0
        self.notes = []

    @property
    def xmax(self):
        """The right end of every time axis."""
        return self.end + 0.5


def startup_facts(under, ins, concealed, startup_under, startup_ins, startup_concealed):
    """Summary rows of the jitter buffer: the start-up apart, only the rest flagged."""
    after_under, after_ins = under - startup_under, ins - startup_ins
    after_concealed = concealed - startup_concealed
    return [
        ("jitter buffer at start-up (first second of voice): underruns / insertions, concealed",
         f"{startup_under} / {startup_ins}, {startup_concealed}", ""),
        ("jitter buffer underruns / insertions after start-up", f"{after_under} / {after_ins}",
         "loss" if after_under + after_ins else ""),
        ("concealed frames after start-up", str(after_concealed), "loss" if after_concealed else ""),
    ]


# The E-model as qelcall --stats computes it (its --help), for a log, which has no
# stats file to carry the figures: G.711 with packet-loss concealment (G.113
# Appendix I), random loss, no delay impairment (a log gives no delay).
EMODEL = {"default_r": 93.2, "ie": 0.0, "bpl": 25.1, "burst_r": 1.0,
          "codec_figures": "G.711 with packet-loss concealment, ITU-T G.113 Appendix I (Opus custom mode has no "
                           "entry of its own)"}


def r_factor(loss_pct):
    ppl = min(max(loss_pct, 0.0), 100.0)
    ie = EMODEL["ie"]
    return EMODEL["default_r"] - (ie + (95.0 - ie) * ppl / (ppl / EMODEL["burst_r"] + EMODEL["bpl"]))


def mos(r):
    """G.107 Annex B."""
    if r <= 0:
        return 1.0
    if r >= 100:
        return 4.5
    return 1.0 + 0.035 * r + r * (r - 60.0) * (100.0 - r) * 7e-6


# Below R 70 (MOS 3.6) many users are dissatisfied (G.109's classes of R).
POOR_R = 70.0


def quality_fact(r, mos, loss_pct, delay):
    return ("estimated quality (E-model)", f"MOS {mos:.2f}, R {r:.1f} ({loss_pct:.1f}% lost, {delay})",
            "loss" if r < POOR_R else "")


def emodel_text(emodel):
    if not emodel:
        return ""
    return (f"Codec figures: Ie = {emodel.get('ie')}, Bpl = {emodel.get('bpl')}, BurstR = {emodel.get('burst_r')} "
            f"({emodel.get('codec_figures', '')}); R = {emodel.get('default_r')} with no impairment.")


def call_from_stats(records, mic, heard):
    start, end = records[0], records[-1]
    call = Call()
    when = start.get("utc", "")
    call.title = f"Call to {start.get('service', '?')} at {start.get('server', '?')}" + (f", {when}" if when else "")
    call.end = end["t"]
    for r in records:
        for e in r.get("events", []):
            name = e.get("event", "?")
            kind = "bad" if name == "error" else "ok"
            call.events.append((e.get("t", r["t"]), name, kind))
    # States between records: a record tells the state at its time.
    previous_t, previous_state = 0.0, start.get("state", "connecting")
    for r in records[1:]:
        call.states.append((previous_t, r["t"], previous_state))
        previous_t, previous_state = r["t"], r.get("state", previous_state)
    if end.get("failure"):
        call.events.append((end["t"], "failed: " + str(end["failure"]), "bad"))

    # Counters are running totals: each interval's share is the difference to the
    # record before (the start record holds the zeros).
    t = [r["t"] for r in records[1:]]
    spans = [max(b["t"] - a["t"], 1e-3) for a, b in zip(records, records[1:])]

    def step(key):
        values = [r.get(key, 0) or 0 for r in records]
        return [b - a for a, b in zip(values, values[1:])]

    def per_second(key):
        return [d / s for d, s in zip(step(key), spans)]

    lost, late = step("voice_lost"), step("voice_late")
    call.packets = {"t": t, "sent": per_second("voice_sent"), "received": per_second("voice_received"),
                    "lost": lost, "late": late}
    call.lost_total, call.late_total = end.get("voice_lost", 0), end.get("voice_late", 0)
    call.jb = ([r["t"] for r in records if r.get("jb_depth") is not None],
               [r["jb_depth"] for r in records if r.get("jb_depth") is not None])
    call.jitter = {"t": t, "underruns": step("underruns"), "insertions": step("insertions"),
                   "startup_underruns": step("startup_underruns"), "startup_insertions": step("startup_insertions")}
    first_voice = next((r["first_voice_t"] for r in records if r.get("first_voice_t") is not None), None)
    if first_voice is not None:
        call.startup = (first_voice, first_voice + 1.0)
    call.jitter_note = ("The start-up (shaded): the first second after the first voice packet, while the jitter "
                        "buffer fills; what happens in it is how every call begins and is not flagged.")
    jit = [(r["t"], r["jitter_ms"]) for r in records if r.get("jitter_ms") is not None]
    if jit:
        call.interarrival = ([a for a, _ in jit], [b for _, b in jit])
    scored = [(r["t"], r["mos"], r["r_factor"]) for r in records[1:] if r.get("mos") is not None]
    emodel = start.get("emodel") or {}
    if scored or end.get("call_mos") is not None:
        delay = end.get("call_delay_ms")
        call.quality = {
            "t": [a for a, _, _ in scored], "mos": [b for _, b, _ in scored], "r": [c for _, _, c in scored],
            "call_mos": end.get("call_mos"), "call_r": end.get("call_r_factor"),
            "note": ("Each second from its voice packets lost of those expected, with no delay impairment (no "
                     "delay is known each second); the call's score from its whole loss"
                     + (f" and its mouth-to-ear time, {delay:.1f} ms, as the one-way delay." if delay is not None
                        else " with no delay impairment (the call did not time mouth to ear: qelcall --latency).")
                     + " " + emodel_text(emodel))}
    if any(k in r for r in records[1:] for k in ("capture_clipped", "playback_clipped")):
        call.clipped = {"t": t, "capture": [r.get("capture_clipped") or 0 for r in records[1:]],
                        "playback": [r.get("playback_clipped") or 0 for r in records[1:]]}
    call.levels = {"t": t}
    for key in ("capture_rms_dbfs", "capture_peak_dbfs", "playback_rms_dbfs", "playback_peak_dbfs"):
        call.levels[key] = [r.get(key) if r.get(key) is not None else math.nan for r in records[1:]]
    call.loads = {"cpu": [r.get("cpu_pct", math.nan) for r in records[1:]], "t_cpu": t,
                  "network": [r.get("network_load_pct", math.nan) for r in records[1:]],
                  "audio": [r.get("audio_load_pct", math.nan) for r in records[1:]]}
    call.latency = end.get("latency")

    received, lost = end.get("voice_received", 0), end.get("voice_lost", 0)
    expected = received + lost
    loss_pct = 100.0 * lost / expected if expected else 0.0
    connected_t = next((e[0] for e in call.events if e[1] == "connected"), None)
    call.facts = [
        ("service", f"{start.get('service')} at {start.get('server')}", ""),
        ("session library", str(start.get("library", "?")), ""),
        ("result", "ended as asked" if not end.get("failure") else "failed: " + str(end["failure"]),
         "" if not end.get("failure") else "loss"),
        ("transport", (end.get("transport") or "none").upper(), ""),
        ("connected after", f"{end['connect_ms']} ms" if end.get("connect_ms") is not None else "never",
         "" if end.get("connected") else "loss"),
        ("call audio", f"{end.get('audio_seconds', 0):.2f} s at {start.get('device_rate')} Hz, "
                       f"{start.get('device_frames')}-frame buffers", ""),
        ("voice packets sent", str(end.get("voice_sent", 0)), ""),
        ("voice packets received", str(received), ""),
        ("voice packets lost", f"{lost} ({loss_pct:.1f}%)", "loss" if lost else ""),
        ("voice packets late", str(end.get("voice_late", 0)), "loss" if end.get("voice_late") else ""),
        ("lost on the way up (server's reports)", str(end.get("server_lost", 0)),
         "loss" if end.get("server_lost") else ""),
    ] + startup_facts(end.get("underruns", 0), end.get("insertions", 0), end.get("concealed_frames", 0),
                      end.get("startup_underruns", 0), end.get("startup_insertions", 0),
                      end.get("startup_concealed_frames", 0)) + [
        ("microphone / heard RMS", f"{end.get('mic_rms_dbfs', math.nan):.1f} / "
                                   f"{end.get('heard_rms_dbfs', math.nan):.1f} dBFS", ""),
        ("process CPU", f"{end.get('cpu_ms', 0):.0f} ms", ""),
    ]
    if call.interarrival:
        call.facts.append(("interarrival jitter (RFC 3550)", f"{call.interarrival[1][-1]:.1f} ms at the end, "
                           f"at most {max(call.interarrival[1]):.1f} ms", ""))
    if end.get("call_mos") is not None:
        delay = end.get("call_delay_ms")
        call.facts.append(quality_fact(end["call_r_factor"], end["call_mos"], end.get("call_loss_pct") or 0.0,
                                       f"{delay:.0f} ms delay" if delay is not None else "delay not known"))
    if call.clipped:
        mic_clipped, speaker_clipped = sum(call.clipped["capture"]), sum(call.clipped["playback"])
        call.facts.append(("samples clipped: microphone / speaker", f"{mic_clipped} / {speaker_clipped}",
                           "loss" if mic_clipped + speaker_clipped else ""))
    lat = call.latency
    if lat:
        m2e = lat.get("mouth_to_ear_ms")
        call.facts.append(("mouth to ear", f"{m2e:.1f} ms" if m2e is not None else "no click found", ""))
    audio_t = connected_t if connected_t is not None else 0.0
    for label, path in (("microphone", mic), ("heard", heard)):
        if path:
            samples, rate = read_wav(path, "--mic" if label == "microphone" else "--heard")
            call.audio.append((f"{label} ({os.path.basename(path)})", samples, rate, audio_t))
    if not mic and not heard:
        call.notes.append("No WAV files given (--mic, --heard): the page has no waveforms.")
    return call


QEL_STATS = re.compile(r"jb=(-?\d+), rx=(\d+) tx=(\d+) @\s*([\d.]+)Hz, nl=\s*([\d.]+)% al=\s*([\d.]+)% tl=\s*([\d.]+)%")
REPEATED = re.compile(r"Repeated (\d+) times: (.*)$")
SERVER_LOSS = re.compile(r"Server 5 sec network report: (\d+) packets lost")
SAMPLE_RATE = re.compile(r"Audio (?:Setup|Sample Rate Changed) - Sample Rate: (\d+), Frame Samples: (\d+)")
LATENCY = re.compile(r"Audio latency - in: (\d+)ms out: (\d+)ms")

LOG_EVENTS = [
    ("Start audio request", "audio requested", "ok"),
    ("Audio latency", "audio stream open", "ok"),
    ("Announced, got token", "announced", "ok"),
    ("Finished net detection, UDP=1", "transport UDP", "ok"),
    ("Finished net detection, UDP=0", "transport TCP", "warn"),
    ("Connected to QEL server", "connected", "ok"),
    ("About to disconnect QEL Client", "hang up", "ok"),
    ("Disconnected from QEL server", "disconnected", "ok"),
    ("Shutting down call thread", "call thread ended", "ok"),
    ("Received QEL error", "session error", "bad"),
    ("UDP send error limit reached", "UDP send limit", "bad"),
    ("TCP Network error", "TCP error", "bad"),
    ("Audio Sample Rate Changed", "device rate changed", "warn"),
]
CALL_MARKS = ("Audio Setup - Sample Rate", "Connected to QEL server", "Start audio request")


def call_from_log(entries, wall, path):
    if not any(e["text"].startswith(CALL_MARKS) for e in entries):
        raise ReportError(f"{path} holds no call: no 'Start audio request', 'Audio Setup' or "
                          "'Connected to QEL server' line of the engine")
    call = Call()
    begin = next(e["t"] for e in entries if e["text"].startswith(CALL_MARKS))
    # The call's entries: from its start to the end of its call thread (or the log's end).
    finish = next((e["t"] for e in entries if e["t"] >= begin and e["text"].startswith("Shutting down call thread")),
                  entries[-1]["t"])
    entries = [e for e in entries if begin - 0.001 <= e["t"] <= finish + 0.001]
    call.title = "Call in the voice engine's log" + (f" of {wall}" if wall else "")
    call.end = finish - begin + 0.2

    def rel(e):
        return e["t"] - begin

    rate = frames = lat_in = lat_out = None
    stats_rows, underruns, insertions, server_loss = [], [], [], []
    errors = 0
    # The start-up, the first second of voice: the library writes its first statistics
    # line at the 50th voice packet received, a second after the first; a log without
    # one gives a second from the library's "Connected".
    mark = next((e for e in entries if e["qel"] and QEL_STATS.match(e["text"])), None)
    startup_end = startup_rel = None
    if mark is not None:
        startup_end, startup_rel = mark["qel_t"], rel(mark)
    else:
        mark = next((e for e in entries if e["qel"] and e["text"] == "Connected"), None)
        if mark is not None:
            startup_end, startup_rel = mark["qel_t"] + 1.0, rel(mark) + 1.0
    run_in_startup = {}  # a folded run counts where its first line fell
    for e in entries:
        text = e["text"]
        for prefix, name, kind in LOG_EVENTS:
            if text.startswith(prefix):
                call.events.append((rel(e), name, kind))
        if e["level"] == "SEVERE" and not e["qel"] and not any(text.startswith(p) for p, _, _ in LOG_EVENTS):
            call.events.append((rel(e), text[:40], "bad"))
            errors += 1
        m = SAMPLE_RATE.search(text)
        if m:
            rate, frames = int(m.group(1)), int(m.group(2))
        m = LATENCY.search(text)
        if m:
            lat_in, lat_out = int(m.group(1)), int(m.group(2))
        if not e["qel"]:
            continue
        m = QEL_STATS.match(text)
        if m:
            stats_rows.append((rel(e), e["qel_t"]) + tuple(float(g) for g in m.groups()))
            continue
        count, what = 1, text
        m = REPEATED.match(text)
        if m:
            count, what = int(m.group(1)) - 1, m.group(2)  # the first was logged on its own line
            in_startup = run_in_startup.get(what, False)
        else:
            in_startup = startup_end is not None and e["qel_t"] <= startup_end
            run_in_startup[what] = in_startup
        if what == "Network underrun":
            underruns.append((rel(e), count, in_startup))
        elif what == "Jitter buffer packet inserted":
            insertions.append((rel(e), count, in_startup))
        m = SERVER_LOSS.match(text)
        if m:
            server_loss.append((rel(e), int(m.group(1))))

    # Statistics lines: packets each way over the time since the previous line, by the
    # library's own clock.
    t, rx, tx, depth, nl, al = [], [], [], [], [], []
    # The counts of the first line run from the connection (the library's "Connected").
    previous_qel = next((e["qel_t"] for e in entries if e["qel"] and e["text"] == "Connected"), None)
    for row in stats_rows:
        at, qel_t, jb, rx_count, tx_count, tx_hz, n_load, a_load, _ = row
        span = (qel_t - previous_qel) if previous_qel is not None else None
        previous_qel = qel_t
        t.append(at)
        depth.append(jb)
        rx.append(rx_count / span if span and span > 0 else math.nan)
        tx.append(tx_count / span if span and span > 0 else tx_hz)
        nl.append(n_load)
        al.append(a_load)
    call.jb = (t, depth) if t else None
    # Downward loss as the statistics lines show it: each line counts 50 packets, which
    # take a second when none is lost; the first line's span includes the connection,
    # so the score starts at the second line.
    scored_t, scored_mos, scored_r, got, expected = [], [], [], 0.0, 0.0
    for previous, row in zip(stats_rows, stats_rows[1:]):
        span = row[1] - previous[1]
        if span <= 0:
            continue
        want = max(span * 50.0, row[3])
        r = r_factor(100.0 * (1.0 - row[3] / want))
        scored_t.append(row[0])
        scored_r.append(r)
        scored_mos.append(mos(r))
        got += row[3]
        expected += want
    call_loss = 100.0 * (1.0 - got / expected) if expected else None
    if call_loss is not None:
        call_r = r_factor(call_loss)
        call.quality = {"t": scored_t, "mos": scored_mos, "r": scored_r, "call_mos": mos(call_r), "call_r": call_r,
                        "note": "From the statistics lines' loss (each line counts 50 received packets, a second's "
                                "worth: a longer span between lines is packets that did not come). A log gives no "
                                "delay: there is no delay impairment in this score, which is therefore an upper "
                                "bound. " + emodel_text(EMODEL)}
    if t:
        call.packets = {"t": t, "sent": tx, "received": rx, "lost": None, "late": None,
                        "server_loss": server_loss}
        call.packets_note = ("From the session library's statistics lines (one every 50 received packets): "
                             "packets received and sent per second since the line before.")
        call.loads = {"t_cpu": t, "cpu": None, "network": nl, "audio": al}
    else:
        call.notes.append("The log has no statistics lines of the session library (they are logged at level 4, "
                          "FINE): no packet rates, jitter-buffer depth or loads.")
    bins = max(1, int(math.ceil(call.end)))
    per_second = {"t": [i + 1.0 for i in range(bins)]}
    for key in ("underruns", "insertions", "startup_underruns", "startup_insertions"):
        per_second[key] = [0] * bins
    for key, rows in (("underruns", underruns), ("insertions", insertions)):
        for at, count, in_startup in rows:
            per_second[key][min(bins - 1, max(0, int(at)))] += count
            if in_startup:
                per_second["startup_" + key][min(bins - 1, max(0, int(at)))] += count
    call.jitter = per_second
    if startup_rel is not None:
        call.startup = (max(0.0, startup_rel - 1.0), startup_rel)
    call.jitter_note = ("The log folds a run of these into one line a second: the run's count lands at the time "
                        "of its summary line, and counts in the start-up (shaded: the first second of voice, up "
                        "to the library's first statistics line) when the run began there. What happens in the "
                        "start-up is how every call begins, while the jitter buffer fills, and is not flagged.")
    # The states between the events that change them.
    marks = {name: at for at, name, _ in sorted(call.events, reverse=True)}
    connected = marks.get("connected")
    hang_up = marks.get("hang up", marks.get("disconnected"))
    if connected is not None:
        call.states.append((0.0, connected, "connecting"))
        call.states.append((connected, hang_up if hang_up is not None else call.end, "connected"))
        if hang_up is not None:
            call.states.append((hang_up, marks.get("call thread ended", call.end), "hanging up"))
    total_under = sum(c for _, c, _ in underruns)
    total_ins = sum(c for _, c, _ in insertions)
    startup_under = sum(c for _, c, s in underruns if s)
    startup_ins = sum(c for _, c, s in insertions if s)
    total_server_loss = sum(c for _, c in server_loss)
    call.lost_total = total_server_loss
    call.facts = [
        ("log", os.path.basename(path), ""),
        ("engine time of the call", f"{begin:.3f} s to {finish:.3f} s after the engine's first log entry", ""),
        ("stream", f"{rate} Hz, {frames}-frame buffers" if rate else "not in the log", ""),
        ("stream latency", f"in {lat_in} ms, out {lat_out} ms" if lat_in is not None else "not in the log", ""),
        ("transport", next((n.split()[-1] for _, n, _ in call.events if n.startswith("transport")), "not in the log"),
         ""),
        ("connected", "yes" if any(n == "connected" for _, n, _ in call.events) else "no",
         "" if any(n == "connected" for _, n, _ in call.events) else "loss"),
        ("statistics lines", str(len(stats_rows)), ""),
        ("voice packets received / sent (statistics lines)",
         f"{sum(r[3] for r in stats_rows):.0f} / {sum(r[4] for r in stats_rows):.0f}", ""),
        ("lost on the way up (server's reports)", str(total_server_loss), "loss" if total_server_loss else ""),
    ] + startup_facts(total_under, total_ins, total_under + total_ins, startup_under, startup_ins,
                      startup_under + startup_ins) + [
        ("severe engine messages", str(errors), "loss" if errors else ""),
    ]
    if call.quality:
        call.facts.append(quality_fact(call.quality["call_r"], call.quality["call_mos"], call_loss,
                                       "delay not known from a log"))
    call.notes.append("A log holds no audio: levels, latency stages and waveforms come from qelcall --stats "
                      "with its WAV files.")
    return call


# ---------------------------------------------------------------- pictures

def figure(height=2.6):
    import matplotlib.pyplot as plt
    fig, ax = plt.subplots(figsize=(10, height), dpi=96)
    ax.grid(True, alpha=0.3)
    return fig, ax


def png(fig):
    import matplotlib.pyplot as plt
    buffer = io.BytesIO()
    fig.tight_layout()
    # The same plot width on every picture, so that their time axes line up down the page.
    fig.subplots_adjust(left=0.08, right=0.97)
    fig.savefig(buffer, format="png")
    plt.close(fig)
    return base64.b64encode(buffer.getvalue()).decode("ascii")


def bar_slots(ends):
    """For intervals ending at `ends` (the first starting at 0): two bars side by side
    within each interval, their centres and their width."""
    starts = [0.0] + list(ends[:-1])
    widths = [0.4 * (b - a) for a, b in zip(starts, ends)]
    centres = [(a + b) / 2 for a, b in zip(starts, ends)]
    return [c - w / 2 for c, w in zip(centres, widths)], [c + w / 2 for c, w in zip(centres, widths)], widths


KIND_COLOURS = {"ok": "#2b7a2b", "warn": "#c77700", "bad": "#c0392b"}
STATE_COLOURS = {"connecting": "#f3e6b3", "connected": "#cfe8cf", "hanging up": "#e3d7ef",
                 "disconnected": "#dddddd", "ended": "#dddddd", "failed": "#f4c7c3"}


def timeline_png(call):
    fig, ax = figure(1.9 + 0.12 * len(call.events))
    for t0, t1, state in call.states:
        ax.axvspan(t0, t1, color=STATE_COLOURS.get(state, "#eeeeee"), lw=0)
    seen = set()
    for t0, t1, state in call.states:
        if state not in seen:
            seen.add(state)
            ax.plot([], [], lw=8, color=STATE_COLOURS.get(state, "#eeeeee"), label=state)
    for i, (t, name, kind) in enumerate(sorted(call.events)):
        y = 1 + i
        ax.plot([t], [y], "o", color=KIND_COLOURS[kind])
        late = t > 0.6 * call.xmax  # labels of the later events to the left of their mark
        ax.annotate(f"{name}  ({t:.3f} s)", (t, y), xytext=(-6 if late else 6, -4), textcoords="offset points",
                    fontsize=8, ha="right" if late else "left")
    ax.set_ylim(0, len(call.events) + 2.5)
    ax.set_yticks([])
    ax.set_xlim(0, call.xmax)
    ax.set_xlabel("seconds")
    if seen:
        ax.legend(loc="upper center", fontsize=8, ncol=len(seen))
    ax.set_title("Events of the call")
    return png(fig)


def packets_png(call):
    import matplotlib.pyplot as plt
    p = call.packets
    losses = p.get("lost") is not None
    fig, axes = plt.subplots(2 if losses else 1, 1, figsize=(10, 4.2 if losses else 2.8), dpi=96, sharex=True,
                             gridspec_kw={"height_ratios": [3, 1.6]} if losses else None)
    ax = axes[0] if losses else axes
    ax.plot(p["t"], p["sent"], "-o", ms=3, label="voice sent / s", color="#1f77b4")
    ax.plot(p["t"], p["received"], "--o", ms=3, label="voice received / s", color="#2ca02c")
    top = max([v for v in p["sent"] + p["received"] if not math.isnan(v)] + [60])
    for at, n in p.get("server_loss", []):
        ax.axvline(at, color="#d62728", ls="--", lw=1)
        ax.annotate(f"server: {n} lost in 5 s", (at, top * 0.9), fontsize=8, color="#d62728", ha="right")
    ax.set_ylim(bottom=0, top=top * 1.15)
    ax.set_ylabel("packets / s")
    ax.grid(True, alpha=0.3)
    ax.legend(loc="lower right", fontsize=8, ncol=2)
    ax.set_title("Voice packets per second, both ways" + (", losses marked" if losses or p.get("server_loss") else ""))
    if losses:
        bars = axes[1]
        left, right, width = bar_slots(p["t"])
        bars.bar(left, p["lost"], width=width, color="#d62728", label=f"lost (total {call.lost_total})")
        bars.bar(right, p["late"], width=width, color="#ff9f1c", label=f"late (total {call.late_total})")
        starts = [0.0] + list(p["t"][:-1])
        for x, a, b, n in zip(left, starts, p["t"], p["lost"]):
            if n > 0:
                bars.annotate(str(n), (x, n), xytext=(0, 2), textcoords="offset points",
                              ha="center", fontsize=7, color="#d62728")
                ax.axvspan(a, b, color="#d62728", alpha=0.06, lw=0)
        bars.set_ylim(0, max(p["lost"] + p["late"] + [3]) * 1.3)
        bars.set_ylabel("packets")
        bars.grid(True, alpha=0.3)
        bars.legend(loc="upper right", fontsize=8, ncol=2)
        ax = bars
    ax.set_xlim(0, call.xmax)
    ax.set_xlabel("seconds")
    return png(fig)


def jb_png(call):
    t, depth = call.jb
    fig, ax = figure(2.4)
    ax.step(t, depth, where="post", color="#6a3d9a")
    ax.plot(t, depth, "o", ms=3, color="#6a3d9a")
    ax.set_ylim(bottom=0, top=max(depth + [4]) + 1)
    ax.set_xlim(0, call.xmax)
    ax.set_xlabel("seconds")
    ax.set_ylabel("packets held")
    ax.set_title("Jitter buffer depth (at each statistics line of the session library)")
    return png(fig)


def shade_startup(ax, call, label=True):
    if call.startup:
        ax.axvspan(call.startup[0], call.startup[1], color="#999999", alpha=0.15, lw=0,
                   label="start-up" if label else None)


def jitter_png(call):
    j = call.jitter
    fig, ax = figure(2.4)
    shade_startup(ax, call)
    left, right, width = bar_slots(j["t"])
    s_under = j.get("startup_underruns") or [0] * len(j["t"])
    s_ins = j.get("startup_insertions") or [0] * len(j["t"])
    after_under = [a - b for a, b in zip(j["underruns"], s_under)]
    after_ins = [a - b for a, b in zip(j["insertions"], s_ins)]
    # The start-up's share grey under the rest's colour: only the colour is trouble.
    ax.bar(left, s_under, width=width, color="#bbbbbb", label=f"at start-up (total {sum(s_under)} / {sum(s_ins)})")
    ax.bar(right, s_ins, width=width, color="#bbbbbb")
    ax.bar(left, after_under, bottom=s_under, width=width, color="#e31a1c",
           label=f"underruns after start-up (total {sum(after_under)})")
    ax.bar(right, after_ins, bottom=s_ins, width=width, color="#1f78b4",
           label=f"insertions after start-up (total {sum(after_ins)})")
    ax.set_xlim(0, call.xmax)
    ax.set_ylim(bottom=0, top=max(j["underruns"] + j["insertions"] + [3]) * 1.2)
    ax.set_xlabel("seconds")
    ax.set_ylabel("per interval")
    ax.legend(fontsize=8)
    ax.set_title("Jitter buffer underruns and insertions (each conceals one frame)")
    return png(fig)


def interarrival_png(call):
    t, jitter = call.interarrival
    fig, ax = figure(2.4)
    shade_startup(ax, call)
    ax.plot(t, jitter, "-o", ms=3, color="#8c564b", label="interarrival jitter")
    ax.set_ylim(bottom=0, top=max(jitter + [5.0]) * 1.2)
    ax.set_xlim(0, call.xmax)
    ax.set_xlabel("seconds")
    ax.set_ylabel("ms")
    ax.legend(fontsize=8, loc="upper right")
    ax.set_title("Interarrival jitter of the voice packets received (RFC 3550), at each record")
    return png(fig)


def quality_png(call):
    q = call.quality
    fig, ax = figure(2.6)
    # G.109's classes of R, by the MOS at their edges.
    for low, high, colour in ((4.34, 4.5, "#cfe8cf"), (4.03, 4.34, "#e3f1d4"), (3.60, 4.03, "#f6f0c8"),
                              (3.10, 3.60, "#f8dfc0"), (1.0, 3.10, "#f4c7c3")):
        ax.axhspan(low, high, color=colour, lw=0)
    if q["t"]:
        ax.plot(q["t"], q["mos"], "-o", ms=3, color="#333333", label="MOS of each interval")
    if q.get("call_mos") is not None:
        ax.axhline(q["call_mos"], color="#1f77b4", ls="--", lw=1.2,
                   label=f"the call: MOS {q['call_mos']:.2f} (R {q['call_r']:.1f})")
    ax.set_ylim(1, 4.6)
    ax.set_xlim(0, call.xmax)
    ax.set_xlabel("seconds")
    ax.set_ylabel("MOS (estimated)")
    ax.legend(fontsize=8, loc="lower left")
    ax.set_title("Estimated quality: E-model (ITU-T G.107) MOS")
    return png(fig)


def levels_png(call):
    lv = call.levels
    fig, ax = figure(2.8)
    ax.plot(lv["t"], lv["capture_rms_dbfs"], "-o", ms=3, color="#1f77b4", label="microphone RMS")
    ax.plot(lv["t"], lv["capture_peak_dbfs"], ":", color="#1f77b4", label="microphone peak")
    ax.plot(lv["t"], lv["playback_rms_dbfs"], "-o", ms=3, color="#ff7f0e", label="speaker RMS")
    ax.plot(lv["t"], lv["playback_peak_dbfs"], ":", color="#ff7f0e", label="speaker peak")
    clipped = call.clipped
    if clipped:
        # Seconds with samples at full scale: a band above 0 dBFS, one row each side,
        # with the interval's count.
        starts = [0.0] + list(clipped["t"][:-1])
        for key, (low, high), colour, name in (("capture", (1.5, 8.5), "#9ecae1", "microphone clipped"),
                                               ("playback", (9.5, 16.5), "#fc9272", "speaker clipped")):
            first = True
            for a, b, n in zip(starts, clipped["t"], clipped[key]):
                if n > 0:
                    ax.fill_between([a, b], low, high, color=colour, lw=0, label=name if first else None)
                    ax.annotate(str(n), ((a + b) / 2, (low + high) / 2), fontsize=7, ha="center", va="center")
                    first = False
    ax.set_ylim(-125, 18 if clipped and any(clipped["capture"] + clipped["playback"]) else 5)
    ax.set_xlim(0, call.xmax)
    ax.set_xlabel("seconds")
    ax.set_ylabel("dBFS")
    ax.legend(fontsize=8, ncol=6, loc="lower center")
    ax.set_title("Levels of each second (-120 dBFS: silence)")
    return png(fig)


def loads_png(call):
    lo = call.loads
    fig, ax = figure(2.4)
    if lo.get("cpu") is not None:
        ax.plot(lo["t_cpu"], lo["cpu"], "-o", ms=3, color="#444444", label="process CPU, % of a core")
    ax.plot(lo["t_cpu"], lo["network"], "-", color="#17becf", label="network load %")
    ax.plot(lo["t_cpu"], lo["audio"], "-", color="#bcbd22", label="audio load %")
    ax.set_xlim(0, call.xmax)
    ax.set_ylim(bottom=0)
    ax.set_xlabel("seconds")
    ax.legend(fontsize=8)
    ax.set_title("Loads (the session library's statistics line)" if lo.get("cpu") is None else "CPU and loads")
    return png(fig)


def latency_png(latency):
    import numpy as np
    stages, clicks = latency.get("stages"), latency.get("clicks")
    if not stages or not clicks:
        return None
    rows = np.array(clicks, dtype=float)
    fig, ax = figure(1.8 + 0.22 * (len(rows) + 1))
    colours = ["#8dd3c7", "#ffffb3", "#bebada", "#fb8072", "#80b1d3", "#fdb462", "#b3de69", "#fccde5"]
    labels = ["median"] + [f"click {i + 1}" for i in range(len(rows))]
    data = np.vstack([np.array(latency.get("median_ms", np.median(rows, axis=0)), dtype=float), rows])
    left = np.zeros(len(data))
    for s, name in enumerate(stages):
        ax.barh(labels, data[:, s], left=left, color=colours[s % len(colours)], label=name)
        left += data[:, s]
    ax.invert_yaxis()
    ax.set_xlabel("milliseconds")
    ax.legend(fontsize=7, ncol=8, loc="upper center", bbox_to_anchor=(0.5, -0.22 - 0.5 / (len(rows) + 2)))
    ax.set_title("Mouth to ear by stage")
    return png(fig)


def audio_png(call):
    import matplotlib.pyplot as plt
    import numpy as np
    n = len(call.audio)
    fig, axes = plt.subplots(2 * n, 1, figsize=(10, 2.2 * 2 * n), dpi=96, sharex=True)
    end = max([call.end] + [start + len(s) / rate for _, s, rate, start in call.audio])
    for i, (label, samples, rate, start) in enumerate(call.audio):
        wave_ax, spec_ax = axes[2 * i], axes[2 * i + 1]
        # Envelope: the extremes of each column of samples.
        step = max(1, len(samples) // 2000)
        usable = len(samples) // step * step
        if usable:
            cols = samples[:usable].reshape(-1, step)
            x = start + (np.arange(len(cols)) * step) / rate
            wave_ax.fill_between(x, cols.min(axis=1), cols.max(axis=1), color="#1f77b4", lw=0)
        wave_ax.set_ylim(-1, 1)
        wave_ax.set_ylabel("amplitude")
        wave_ax.set_title(f"{label}: waveform")
        wave_ax.grid(True, alpha=0.3)
        if len(samples) >= 512:
            # Noise far below the colour scale, so that digital silence draws as the
            # quietest colour rather than as holes of minus infinity.
            floor = np.random.default_rng(1).normal(0, 1e-9, len(samples))
            with np.errstate(divide="ignore"):
                spec_ax.specgram(samples + floor, NFFT=512, Fs=rate, noverlap=256, xextent=(start, start + len(samples) / rate),
                                 cmap="magma", vmin=-140, vmax=-20)
        spec_ax.set_ylim(0, min(rate / 2, 8000))
        spec_ax.set_ylabel("Hz")
        spec_ax.set_title(f"{label}: spectrogram")
    axes[-1].set_xlim(0, max(end, call.xmax))
    axes[-1].set_xlabel("seconds (the call's clock: audio from the connection on)")
    return png(fig)


# ---------------------------------------------------------------- the page

STYLE = """
body { font-family: sans-serif; margin: 1.5em auto; max-width: 1000px; color: #222; }
h1 { font-size: 1.4em; } h2 { font-size: 1.1em; margin-top: 1.6em; border-bottom: 1px solid #ccc; }
table { border-collapse: collapse; } td { padding: 2px 12px 2px 0; vertical-align: top; }
td.label { color: #555; } td.loss { color: #b00020; font-weight: bold; }
td.loss::after { content: " \\26A0"; }
img { max-width: 100%; display: block; } p.note { color: #555; font-style: italic; }
"""

# Notes on the root element whether every picture arrived, for anyone (or any test)
# checking that the page opened whole.
CHECK_SCRIPT = """
window.addEventListener('load', function () {
  var images = document.images, loaded = 0;
  for (var i = 0; i < images.length; i++) {
    if (images[i].complete && images[i].naturalWidth > 0) loaded++;
  }
  document.documentElement.setAttribute('data-images', loaded + ' of ' + images.length);
});
"""


def page(call, source):
    parts = []

    def section(key, title, image, note=""):
        if image is None:
            return
        parts.append(f'<section id="{key}"><h2>{html.escape(title)}</h2>'
                     + (f'<p class="note">{html.escape(note)}</p>' if note else "")
                     + f'<img alt="{html.escape(title)}" src="data:image/png;base64,{image}"></section>')

    section("timeline", "Time line", timeline_png(call))
    if call.packets:
        section("packets", "Packets", packets_png(call), call.packets_note)
    if call.jb and call.jb[0]:
        section("jitter-buffer", "Jitter buffer", jb_png(call))
    if call.jitter:
        section("underruns", "Underruns and insertions", jitter_png(call), call.jitter_note)
    if call.interarrival:
        section("interarrival-jitter", "Interarrival jitter", interarrival_png(call),
                "RTP's jitter (RFC 3550 6.4.1): the mean deviation of the packets' transit times, smoothed over "
                "16 packets, from their sequence numbers 20 ms apart and their arrival times.")
    if call.quality:
        section("quality", "Estimated quality", quality_png(call), call.quality["note"])
    if call.levels:
        section("levels", "Levels", levels_png(call),
                "Seconds with samples at or near full scale are marked along the top, with their count: the "
                "microphone as it came, before any processing, and the speaker." if call.clipped else "")
    if call.loads:
        section("loads", "Loads", loads_png(call))
    if call.latency:
        lat = call.latency
        if lat.get("stage_probe"):
            section("latency", "Latency stages", latency_png(lat),
                    f"Each click's time in each stage, and the median of each stage over the "
                    f"{len(lat.get('clicks', []))} clicks (the median of their totals: "
                    f"{lat.get('median_total_ms', 0):.1f} ms).")
        else:
            call.notes.append("The call timed mouth to ear but not its stages (the session library had no stage "
                              "probe).")
    if call.audio:
        section("audio", "What was said and heard", audio_png(call))

    rows = "".join(f'<tr><td class="label">{html.escape(label)}</td>'
                   f'<td{" class=" + chr(34) + flag + chr(34) if flag else ""}>{html.escape(value)}</td></tr>'
                   for label, value, flag in call.facts)
    notes = "".join(f'<p class="note">{html.escape(n)}</p>' for n in call.notes)
    generated = datetime.now().strftime("%Y-%m-%d %H:%M")
    return f"""<!DOCTYPE html>
<html lang="en" data-voice-lost="{call.lost_total}" data-voice-late="{call.late_total}">
<head>
<meta charset="utf-8">
<meta http-equiv="Content-Security-Policy"
      content="default-src 'none'; img-src data:; style-src 'unsafe-inline'; script-src 'unsafe-inline'">
<title>{html.escape(call.title)}</title>
<style>{STYLE}</style>
</head>
<body>
<h1>{html.escape(call.title)}</h1>
<table id="summary">{rows}</table>
{notes}
{''.join(parts)}
<p class="note">From {html.escape(source)}, drawn by tools/call-report.py on {generated}.</p>
<script>{CHECK_SCRIPT}</script>
</body>
</html>
"""


def main(argv):
    parser = argparse.ArgumentParser(
        prog=PROG, description=__doc__, epilog=EXAMPLES, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("stats", nargs="?", metavar="STATS.jsonl", help="a qelcall --stats file")
    parser.add_argument("--mic", metavar="MIC.wav", help="the call's microphone (qelcall --in)")
    parser.add_argument("--heard", metavar="HEARD.wav", help="what the call heard (qelcall --out)")
    parser.add_argument("--log", metavar="ENGINE.log", help="the voice engine's java.util.logging log instead")
    parser.add_argument("-o", "--output", metavar="REPORT.html", required=True, help="the page to write")
    args = parser.parse_args(argv)
    if (args.stats is None) == (args.log is None):
        parser.error("give either STATS.jsonl or --log ENGINE.log")
    if args.log and (args.mic or args.heard):
        parser.error("--mic and --heard go with a stats file, not with --log")

    if args.stats:
        records = read_stats(args.stats)
        call = call_from_stats(records, args.mic, args.heard)
        source = os.path.basename(args.stats)
    else:
        entries, wall = read_engine_log(args.log)
        call = call_from_log(entries, wall, args.log)
        source = os.path.basename(args.log)
    import matplotlib
    matplotlib.use("Agg")  # pictures to files only: no display needed
    text = page(call, source)
    try:
        with open(args.output, "w", encoding="utf-8") as f:
            f.write(text)
    except OSError as e:
        raise ReportError(f"cannot write {args.output}: {e.strerror}")
    print(f"{PROG}: wrote {args.output} ({len(text) // 1024} KiB)")
    return 0


if __name__ == "__main__":
    try:
        sys.exit(main(sys.argv[1:]))
    except ReportError as e:
        print(f"{PROG}: {e}", file=sys.stderr)
        sys.exit(1)
    except KeyboardInterrupt:
        sys.exit(130)
    except Exception as e:  # a fault of this script: still one line, with what it was
        print(f"{PROG}: internal error: {type(e).__name__}: {e}", file=sys.stderr)
        sys.exit(3)
