#!/usr/bin/python3
"""Call reports, end to end: qelcall --stats on a clean call and on an impaired one
(qel-server --loss 10 --jitter 30, a microphone that clips), their reports and the
report of a real log of the reference Java host, each opened offline in headless
Chromium: no console message, every picture loaded, a screenshot taken; the clean
call's page without a single warning (its jitter buffer's start-up apart), the
impaired call's losses, jitter, clipping and poorer score in its figures and marked on
its page. Then the bad inputs, each refused in one line.
"""

import argparse
import json
import math
import os
import re
import shutil
import struct
import subprocess
import sys
import wave

failures = []


def check(condition, what):
    print(("ok    " if condition else "FAIL  ") + what)
    if not condition:
        failures.append(what)
    return condition


# Bursts of tone, each opened by a click that the latency timing follows; spaced
# irregularly, as the echo canceller could take a strictly periodic sound for its echo.
BURSTS = (0.1, 0.47, 0.95, 1.31, 1.82, 2.2)


def write_mic(path, seconds=2.5, rate=48000, amplitude=0.3):
    """The bursts; above 1.0 their tone is clipped flat at full scale, as an overdriven
    microphone gives it."""
    frames = bytearray()
    for i in range(int(seconds * rate)):
        t = i / rate
        value = 0.0
        for start in BURSTS:
            if start <= t < start + 0.25:
                value = 0.9 if t - start < 0.002 else amplitude * math.sin(2 * math.pi * 440 * (t - start))
        frames += struct.pack("<h", int(max(-1.0, min(1.0, value)) * 32767))
    with wave.open(path, "wb") as w:
        w.setnchannels(1)
        w.setsampwidth(2)
        w.setframerate(rate)
        w.writeframes(bytes(frames))


class Server:
    def __init__(self, path, args):
        self.process = subprocess.Popen([path] + args, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        line = self.process.stdout.readline()
        m = re.match(r"qel-server listening tcp=(\d+)", line)
        if not m:
            self.process.kill()
            raise SystemExit(f"qel-server did not start: {line!r}")
        self.port = int(m.group(1))

    def stop(self):
        self.process.terminate()
        self.process.wait(10)


class Call:
    """qelcall --stats through its own qel-server, running until finish()."""

    def __init__(self, args, server_args, name, mic, options=(), seconds="2.5"):
        self.name = name
        self.server = Server(args.server, server_args)
        self.stats = os.path.join(args.work, name + ".jsonl")
        self.heard = os.path.join(args.work, name + "-heard.wav")
        self.process = subprocess.Popen(
            [args.qelcall, "--qel", args.qel, "--server", f"127.0.0.1:{self.server.port}", "--in", mic,
             "--out", self.heard, "--seconds", seconds, "--stats", self.stats] + list(options),
            stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)

    def finish(self):
        output, _ = self.process.communicate(timeout=60)
        self.server.stop()
        if not check(self.process.returncode == 0, f"{self.name} call: qelcall exits 0"):
            print(output)
        with open(self.stats) as f:
            return self.stats, self.heard, [json.loads(line) for line in f]


def report(args, inputs, output):
    run = subprocess.run([args.report] + inputs + ["-o", output], stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                         text=True, timeout=120)
    check(run.returncode == 0 and run.stderr == "", f"report {os.path.basename(output)} written without complaint")
    if run.returncode != 0 or run.stderr:
        print(run.stderr)
    return output


def open_in_browser(args, page, expect_images):
    """The page offline in headless Chromium: console silent, every image loaded,
    screenshot taken. Returns the page as the browser holds it after loading."""
    shot = page[:-5] + ".png"
    if os.path.exists(shot):
        os.remove(shot)
    run = subprocess.run([args.chromium, "--headless=new", "--no-sandbox", "--disable-gpu",
                          "--user-data-dir=" + os.path.join(args.work, "chromium-profile"),
                          "--enable-logging=stderr", "--v=0", "--window-size=1100,2400",
                          "--screenshot=" + shot, "--dump-dom", "file://" + os.path.abspath(page)],
                         stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, timeout=120)
    name = os.path.basename(page)
    console = [line for line in run.stderr.splitlines() if "CONSOLE" in line]
    check(run.returncode == 0, f"{name}: chromium opened it")
    check(not console, f"{name}: no console message" + (f" (got {console[:2]})" if console else ""))
    m = re.search(r'data-images="(\d+) of (\d+)"', run.stdout)
    check(m is not None and m.group(1) == m.group(2) and int(m.group(2)) >= expect_images,
          f"{name}: every picture loaded ({m.group(0) if m else 'no note of the pictures'}, "
          f"at least {expect_images} expected)")
    check(os.path.exists(shot) and os.path.getsize(shot) > 20000, f"{name}: screenshot {os.path.basename(shot)}")
    return run.stdout


def summary_cell(dom, label):
    """The value cell of a summary row: (class, text)."""
    m = re.search(r'<td class="label">' + re.escape(label) + r'</td><td( class="([^"]*)")?>([^<]*)</td>', dom)
    return (m.group(2) or "", m.group(3)) if m else (None, None)


def refused(args, inputs, what, expect):
    run = subprocess.run([args.report] + inputs + ["-o", os.path.join(args.work, "refused.html")],
                         stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, timeout=60)
    lines = run.stderr.strip().splitlines()
    check(run.returncode == 1 and len(lines) == 1 and lines[0].startswith("call-report: ") and expect in lines[0]
          and "Traceback" not in run.stderr,
          f"{what}: refused in one line ({lines[:1]})")


def main():
    parser = argparse.ArgumentParser(description=__doc__)
    for name in ("qelcall", "qel", "probe", "server", "report", "log", "work"):
        parser.add_argument("--" + name, required=True)
    parser.add_argument("--chromium", default="chromium")
    args = parser.parse_args()
    if shutil.which(args.chromium) is None:
        print(f"{args.chromium} is not installed (tools/install-deps.sh installs it)")
        return 1
    os.makedirs(args.work, exist_ok=True)
    mic = os.path.join(args.work, "mic.wav")
    write_mic(mic)
    clipping_mic = os.path.join(args.work, "clipping-mic.wav")
    write_mic(clipping_mic, amplitude=1.5)

    # A clean call: every packet comes back, in order; its clicks are timed through the
    # stages of the path (the benchmarks' build of the library). And at the same time an impaired
    # call: its server drops a tenth of the voice it sends and delays the rest by up to
    # 30 ms, so packets go missing and overtake each other.
    clean = Call(args, [], "clean", mic, ["--latency", "--no-aec", "--qel", args.probe])
    impaired = Call(args, ["--loss", "10", "--jitter", "30", "--seed", "7"], "impaired", clipping_mic)
    stats, heard, records = clean.finish()
    end = records[-1]
    check(records[0]["type"] == "start" and end["type"] == "end" and
          sum(r["type"] == "second" for r in records) >= 2, "clean: start, one record a second, end")
    check(end["connected"] and end["transport"] == "udp" and end["failure"] is None, "clean: connected over UDP")
    check(end["voice_received"] > 80 and end["voice_lost"] == 0 and end["voice_late"] == 0,
          f"clean: {end['voice_received']} voice packets back, none lost or late")
    # Seconds in the call from start to end. Any second of the microphone holds 0.5 to
    # 0.65 s of bursts at 0.3 of full scale (-13.5 dBFS RMS) and their clicks: -16.4 to
    # -14.7 dBFS.
    loud = [b for a, b in zip(records, records[1:]) if a["state"] == b["state"] == "connected"]
    check(loud and all(r["capture_rms_dbfs"] is not None and -18 < r["capture_rms_dbfs"] < -13 for r in loud),
          "clean: microphone level of the bursts each second in the call " +
          str([r["capture_rms_dbfs"] for r in loud]))
    check(any(r["jb_depth"] is not None for r in records), "clean: jitter-buffer depth from the library's log")
    latency = end.get("latency") or {}
    clicks = latency.get("clicks", [])
    check(latency.get("stage_probe") and len(clicks) >= 3 and len(latency.get("stages", [])) == 8 and
          all(len(c) == 8 and min(c) >= 0 for c in clicks), f"clean: {len(clicks)} clicks timed in 8 stages")
    # (Taken from the first heard click that reaches half the loudest: the gain control
    # may still be raising the first ones, so this can be a later click's.)
    m2e = latency.get("mouth_to_ear_ms")
    check(m2e is not None and m2e > 20, f"clean: mouth to ear {m2e} ms")
    check(end["first_voice_t"] is not None and end["startup_concealed_frames"] <= end["concealed_frames"] and
          end["concealed_frames"] - end["startup_concealed_frames"] == 0,
          f"clean: every concealed frame in the start-up ({end['startup_concealed_frames']} of "
          f"{end['concealed_frames']})")
    jitters = [r["jitter_ms"] for r in records if r.get("jitter_ms") is not None]
    check(jitters and max(jitters) < 5, f"clean: interarrival jitter under 5 ms on loopback ({jitters})")
    check(end["call_mos"] is not None and end["call_mos"] > 4.3 and end["call_delay_ms"] == round(m2e, 1),
          f"clean: MOS {end['call_mos']} (R {end['call_r_factor']}) with mouth to ear {end['call_delay_ms']} ms")
    check(sum(r["capture_clipped"] + r["playback_clipped"] for r in records[1:]) == 0,
          "clean: no sample clipped, microphone or speaker")
    page = report(args, [stats, "--mic", mic, "--heard", heard], os.path.join(args.work, "clean-report.html"))
    dom = open_in_browser(args, page, expect_images=10)
    flagged = re.findall(r'<td class="label">([^<]*)</td><td class="loss">', dom)
    check(not flagged, f"clean: its page shows no warning at all ({flagged})")
    check('<section id="interarrival-jitter">' in dom and '<section id="quality">' in dom,
          "clean: its page draws the jitter and the quality")
    check('<section id="latency">' in dom and summary_cell(dom, "mouth to ear")[1] == f"{m2e:.1f} ms",
          "clean: its page draws the stages and gives mouth to ear")

    stats, heard, records = impaired.finish()
    end = records[-1]
    sent, received, lost, late = end["voice_sent"], end["voice_received"], end["voice_lost"], end["voice_late"]
    check(0.03 * sent <= lost <= 0.2 * sent, f"impaired: {lost} of {sent} voice packets lost (10% dropped)")
    check(late > 0, f"impaired: {late} packets late (jitter of 30 ms on 20 ms frames)")
    # Echo: what went out comes back, less the frames in flight at the hang-up, plus
    # the few silent frames the server sends before the caller's first voice.
    check(sent - 10 <= received + lost <= sent + 10,
          f"impaired: received {received} + lost {lost} account for the {sent} sent")
    check(end["concealed_frames"] - end["startup_concealed_frames"] > 0 and
          end["underruns"] - end["startup_underruns"] > 0,
          f"impaired: the jitter buffer ran dry after its start-up ({end['underruns']} underruns, "
          f"{end['concealed_frames']} concealed, of them {end['startup_concealed_frames']} in the start-up)")
    # Delays drawn evenly from 0 to 30 ms: RTP's mean deviation of transit times is 10 ms.
    jitter = end.get("jitter_ms")
    check(jitter is not None and 5 < jitter < 16, f"impaired: interarrival jitter {jitter} ms")
    check(end["call_r_factor"] is not None and end["call_r_factor"] < 80 and end["call_mos"] < 4.0,
          f"impaired: R {end['call_r_factor']}, MOS {end['call_mos']} with {end['call_loss_pct']}% lost")
    clipped_seconds = [r["t"] for r in records[1:] if r["capture_clipped"] > 0]
    check(len(clipped_seconds) >= 2, f"impaired: the microphone clipped in the seconds {clipped_seconds}")
    seconds = [r for r in records if r["type"] == "second"]
    check(all(a["voice_lost"] <= b["voice_lost"] + 3 for a, b in zip(seconds, seconds[1:])),
          "impaired: losses accumulate over the seconds")
    page = report(args, [stats, "--mic", clipping_mic, "--heard", heard],
                  os.path.join(args.work, "impaired-report.html"))
    dom = open_in_browser(args, page, expect_images=9)
    check(summary_cell(dom, "concealed frames after start-up")[0] == "loss" and
          summary_cell(dom, "estimated quality (E-model)")[0] == "loss" and
          summary_cell(dom, "samples clipped: microphone / speaker")[0] == "loss",
          "impaired: its page flags the concealed frames, the score and the clipping")
    cls, text = summary_cell(dom, "voice packets lost")
    check(cls == "loss" and text is not None and text.startswith(f"{lost} ("),
          f"impaired: its page marks the loss ({cls!r}, {text!r})")
    check(f'data-voice-lost="{lost}"' in dom and f'data-voice-late="{late}"' in dom,
          "impaired: the page carries the lost and late counts")
    check('<section id="packets">' in dom and '<section id="underruns">' in dom, "impaired: packets and underruns drawn")

    # The reference Java host's log of a real call (java.util.logging, SimpleFormatter).
    page = report(args, ["--log", args.log], os.path.join(args.work, "log-report.html"))
    dom = open_in_browser(args, page, expect_images=6)
    check(summary_cell(dom, "stream") == ("", "48000 Hz, 512-frame buffers"), "log: the stream's rate")
    check(summary_cell(dom, "stream latency") == ("", "in 10 ms, out 10 ms"), "log: the stream's latency")
    # The runs began before the first statistics line, their summaries came after it.
    check(summary_cell(dom, "jitter buffer at start-up (first second of voice): underruns / insertions, "
                            "concealed") == ("", "4 / 5, 9") and
          summary_cell(dom, "jitter buffer underruns / insertions after start-up") == ("", "0 / 0"),
          "log: folded underruns and insertions counted whole (1 + 3, 1 + 4), in the start-up")
    check(summary_cell(dom, "estimated quality (E-model)") == ("", "MOS 4.41, R 93.2 (0.0% lost, delay not known "
                                                                 "from a log)") and "no delay impairment" in dom,
          "log: the score from the statistics lines' loss, without a delay")

    # The same log with trouble after the start-up: an underrun a second into the call,
    # and a statistics line that came 1.25 s after the one before (50 packets where 62.5
    # were due: 20% lost).
    with open(args.log) as f:
        text = f.read()
    text = text.replace("FINE: 0006.340 QEL: 0006.577 jb=2",
                        "FINE: 0006.200 QEL: 0006.437 Network underrun\nFINE: 0006.340 QEL: 0006.577 jb=2")
    text = text.replace("QEL: 0007.577 jb=2", "QEL: 0007.827 jb=2")
    troubled = os.path.join(args.work, "troubled-engine.log")
    with open(troubled, "w") as f:
        f.write(text)
    page = report(args, ["--log", troubled], os.path.join(args.work, "troubled-log-report.html"))
    with open(page) as f:
        dom = f.read()
    check(summary_cell(dom, "jitter buffer underruns / insertions after start-up") == ("loss", "1 / 0"),
          "log: an underrun after the start-up is flagged")
    cls, text = summary_cell(dom, "estimated quality (E-model)")
    check(cls == "loss" and text is not None and "(11.1% lost" in text,
          f"log: the statistics lines' loss lowers the score ({cls!r}, {text!r})")

    # Bad input.
    empty = os.path.join(args.work, "empty.jsonl")
    open(empty, "w").close()
    refused(args, [empty], "an empty stats file", "is empty")
    with open(stats) as f:
        text = f.read()
    cut = os.path.join(args.work, "cut.jsonl")
    with open(cut, "w") as f:
        f.write(text[: text.rindex("\n", 0, len(text) - 1) + 40])
    refused(args, [cut], "a stats file cut inside a record", "truncated")
    with open(cut, "w") as f:
        f.write("".join(text.splitlines(True)[:-1]))
    refused(args, [cut], "a stats file without its end record", "truncated")
    refused(args, [stats, "--heard", os.path.join(args.work, "no-such.wav")], "a missing WAV", "no such file")
    no_call = os.path.join(args.work, "no-call.log")
    with open(args.log) as f:
        lines = f.read().splitlines(True)
    with open(no_call, "w") as f:
        f.write("".join(lines[:10]))  # the engine starting up, no call yet
    refused(args, ["--log", no_call], "a log with no call in it", "holds no call")
    refused(args, ["--log", mic], "a file that is no log at all", "holds no records")

    print(f"{len(failures)} failed" if failures else "all passed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
