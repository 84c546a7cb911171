#!/usr/bin/env python3
"""Calls made by qelcall.exe under Wine to the native qel-server on loopback.

1. through echo over UDP, 2. through echo forced onto TCP (--ignore-udp): what the
Windows program heard must be its own tone; 3. a conference of qelcall.exe (1100 Hz)
with the native qelcall (440 Hz): each must hear the other's tone far above its own.

Exits 77 (skipped) where Wine cannot run the program, 0 when every call passed.
"""
import argparse
import math
import os
import re
import struct
import subprocess
import sys
import wave

RATE = 48000


def write_tone(path, frequency, seconds, amplitude=0.3):
    frames = bytearray()
    for n in range(int(RATE * seconds)):
        frames += struct.pack('<h', int(amplitude * 32767 * math.sin(2 * math.pi * frequency * n / RATE)))
    with wave.open(path, 'wb') as w:
        w.setnchannels(1)
        w.setsampwidth(2)
        w.setframerate(RATE)
        w.writeframes(bytes(frames))


def read_samples(path):
    with wave.open(path, 'rb') as w:
        assert w.getframerate() == RATE and w.getnchannels() == 1 and w.getsampwidth() == 2, path
        data = w.readframes(w.getnframes())
    return [s / 32768.0 for s in struct.unpack('<%dh' % (len(data) // 2), data)]


def tone_power(samples, frequency):
    """Goertzel: power of `frequency` per sample."""
    coefficient = 2 * math.cos(2 * math.pi * frequency / RATE)
    previous = before = 0.0
    for s in samples:
        previous, before = s + coefficient * previous - before, previous
    power = previous * previous + before * before - coefficient * previous * before
    return power / (len(samples) * len(samples))


class Server:
    def __init__(self, path, *options):
        self.process = subprocess.Popen([path, *options], stdout=subprocess.PIPE,
                                        stderr=subprocess.DEVNULL, text=True)
        line = self.process.stdout.readline()
        found = re.search(r'listening tcp=(\d+) udp=(\d+)', line)
        if not found:
            self.stop()
            raise RuntimeError('qel-server did not start: %r' % line)
        self.tcp = int(found.group(1))

    def stop(self):
        self.process.terminate()
        self.process.wait(timeout=10)


def heard_after_start(path):
    samples = read_samples(path)
    return samples[RATE // 2:]  # past the start of the call and the jitter buffer's fill


def check(condition, message, failures):
    print(('ok    ' if condition else 'FAIL  ') + message)
    if not condition:
        failures.append(message)


def run(command, timeout=90):
    result = subprocess.run(command, stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True,
                            timeout=timeout)
    return result.returncode, result.stdout


def echo_call(args, work, failures, server_options, transport):
    server = Server(args.server, *server_options)
    try:
        mic = os.path.join(work, 'tone440.wav')
        heard = os.path.join(work, 'heard-%s.wav' % transport)
        rc, out = run([args.wine, args.qelcall_exe, '--server', '127.0.0.1:%d' % server.tcp,
                       '--in', mic, '--out', heard, '--seconds', '3'])
    finally:
        server.stop()
    if rc == 77:
        print(out)
        sys.exit(77)
    print(out)
    check(rc == 0, 'echo over %s: qelcall.exe ended the call cleanly (exit %d)' % (transport, rc), failures)
    check(re.search(r'transport:\s+%s' % transport, out) is not None,
          'echo over %s: the call went over %s' % (transport, transport), failures)
    if rc != 0 or not os.path.exists(heard):
        return
    samples = heard_after_start(heard)
    check(len(samples) > RATE * 2, 'echo over %s: %.1f s heard' % (transport, len(samples) / RATE), failures)
    # The noise suppressor takes a steady tone down by 20 to 30 dB as the call goes on,
    # by how much depends on the pace the loaded machine allows; silence or a wrong
    # signal is many orders of magnitude away either way.
    own, other = tone_power(samples, 440), tone_power(samples, 1100)
    check(own > 1e-5 and own > 100 * other,
          'echo over %s: its own 440 Hz tone came back (power %.2e, 1100 Hz %.2e)' % (transport, own, other),
          failures)


def conference(args, work, failures):
    server = Server(args.server)
    try:
        target = '127.0.0.1:%d' % server.tcp
        native_heard = os.path.join(work, 'conference-native.wav')
        windows_heard = os.path.join(work, 'conference-windows.wav')
        native = subprocess.Popen([args.qelcall, '--server', target, '--service', 'conference',
                                   '--in', os.path.join(work, 'tone440.wav'), '--out', native_heard,
                                   '--seconds', '5'],
                                  stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
        rc, out = run([args.wine, args.qelcall_exe, '--server', target, '--service', 'conference',
                       '--in', os.path.join(work, 'tone1100.wav'), '--out', windows_heard,
                       '--seconds', '4'])
        native_out, _ = native.communicate(timeout=60)
    finally:
        server.stop()
    print(out)
    print(native_out)
    check(rc == 0 and native.returncode == 0,
          'conference: both calls ended cleanly (qelcall.exe %d, qelcall %d)' % (rc, native.returncode), failures)
    if rc != 0 or native.returncode != 0:
        return
    windows = heard_after_start(windows_heard)
    linux = heard_after_start(native_heard)
    w440, w1100 = tone_power(windows, 440), tone_power(windows, 1100)
    l440, l1100 = tone_power(linux, 440), tone_power(linux, 1100)
    check(w440 > 1e-5 and w440 > 100 * w1100,
          'conference: qelcall.exe heard the native caller (440 Hz %.2e, its own 1100 Hz %.2e)' % (w440, w1100),
          failures)
    check(l1100 > 1e-5 and l1100 > 100 * l440,
          'conference: qelcall heard the Windows caller (1100 Hz %.2e, its own 440 Hz %.2e)' % (l1100, l440),
          failures)


def main():
    parser = argparse.ArgumentParser()
    for option in ('--wine', '--qelcall-exe', '--server', '--qelcall', '--work'):
        parser.add_argument(option, required=True)
    args = parser.parse_args()
    os.makedirs(args.work, exist_ok=True)
    write_tone(os.path.join(args.work, 'tone440.wav'), 440, 6)
    write_tone(os.path.join(args.work, 'tone1100.wav'), 1100, 6)
    failures = []
    echo_call(args, args.work, failures, [], 'UDP')
    echo_call(args, args.work, failures, ['--ignore-udp'], 'TCP')
    conference(args, args.work, failures)
    print('%d of the checks failed' % len(failures) if failures else 'all calls passed')
    return 1 if failures else 0


if __name__ == '__main__':
    sys.exit(main())
