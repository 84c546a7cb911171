#!/usr/bin/env python3
"""Runs tallix_wine_test.exe under Wine against native qel-servers on loopback.

Starts three servers (echo; echo with UDP ignored, so calls fall back to TCP; one that
refuses every announce), passes their ports to the test program in its environment,
runs it with ALSA pointed at the sound server, then checks the servers' side of the
calls: the first one received the client's voice over UDP, the second over TCP.

With --lose-sound-server SCRIPT it also plays the sound server's part in the test that
loses it in a call: when the program prints "DRIVER kill" the JACK server is killed
(SIGKILL, as a crash would end it), on "DRIVER start" it is started again with SCRIPT
under the same name, and each is answered on the program's standard input. A server
killed and not started again is started again on the way out, for the tests after.

Exits 77 (skipped) where Wine cannot run the program, else the test program's code,
or 1 when a server's side of a call is wrong.
"""
import argparse
import os
import re
import signal
import subprocess
import sys
import tempfile
import threading


class Server:
    def __init__(self, path, log_path, *options):
        self.log_path = log_path
        self.log = open(log_path, 'w')
        self.process = subprocess.Popen([path, '--verbose', *options], stdout=subprocess.PIPE,
                                        stderr=self.log, text=True)
        line = self.process.stdout.readline()
        found = re.search(r'listening tcp=(\d+) udp=(\d+)', line)
        if not found:
            self.stop()
            raise RuntimeError('qel-server %s did not start: %r' % (' '.join(options), line))
        self.tcp = found.group(1)

    def stop(self):
        self.process.terminate()
        self.process.wait(timeout=10)
        self.log.close()
        with open(self.log_path) as f:
            return f.read()


def voice_via(log, transport):
    """Voice packets the server received over `transport` (it logs each one)."""
    return len(re.findall(r'voice seq=\d+ len=\d+ via ' + transport, log))


class SoundServer:
    """The test run's JACK server, killed and started again on the test's request."""

    def __init__(self, script, home, name):
        self.script, self.home, self.name = script, home, name
        self.killed = False

    def kill(self):
        with open(os.path.join(self.home, 'jackd.pid')) as f:
            os.kill(int(f.read().strip()), signal.SIGKILL)
        self.killed = True
        return 'killed'

    def start(self):
        rc = subprocess.run(['sh', self.script, 'start', self.home, self.name],
                            stdout=subprocess.DEVNULL).returncode
        self.killed = rc != 0
        return 'started' if rc == 0 else 'failed'


def run_driven(command, env, sound, timeout):
    """Runs the test program, answering its DRIVER requests; returns its exit code."""
    process = subprocess.Popen(command, env=env, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                               text=True, bufsize=1)
    timer = threading.Timer(timeout, process.kill)
    timer.start()
    try:
        for line in process.stdout:
            sys.stdout.write(line)
            sys.stdout.flush()
            request = line.strip()
            if request == 'DRIVER kill':
                answer = sound.kill()
            elif request == 'DRIVER start':
                answer = sound.start()
            else:
                continue
            print('wine_engine.py: sound server %s' % answer, flush=True)
            process.stdin.write(answer + '\n')
            process.stdin.flush()
        return process.wait()
    finally:
        timer.cancel()
        if sound.killed:
            sound.start()


def main():
    parser = argparse.ArgumentParser(
        description='Runs tallix_wine_test.exe under Wine against native qel-servers.',
        epilog='example: wine_engine.py --wine build/windows-x64/wine-run.sh '
               '--test build/windows-x64/tests/tallix_wine_test.exe '
               '--server build/host-tools/tools/qel-server/qel-server '
               '--sound-home DIR --jack-server NAME -- --gtest_filter=*Call*')
    parser.add_argument('--wine', required=True)
    parser.add_argument('--test', required=True)
    parser.add_argument('--server', required=True)
    parser.add_argument('--sound-home', required=True)
    parser.add_argument('--jack-server', required=True)
    parser.add_argument('--lose-sound-server', metavar='SCRIPT',
                        help='kill and restart the sound server when the test asks (sound-server.sh)')
    parser.add_argument('gtest_args', nargs='*')
    args = parser.parse_args()

    work = tempfile.mkdtemp(prefix='tallix-wine-')
    servers = {
        'TALLIX_SERVER_PORT': Server(args.server, os.path.join(work, 'udp.log')),
        'TALLIX_TCP_ONLY_SERVER_PORT': Server(args.server, os.path.join(work, 'tcp.log'), '--ignore-udp'),
        'TALLIX_REFUSING_SERVER_PORT': Server(args.server, os.path.join(work, 'refusing.log'),
                                              '--refuse-announce', 'status'),
    }
    env = dict(os.environ)
    env.update({name: server.tcp for name, server in servers.items()})
    # Wine's ALSA driver reaches the sound server through ALSA's default device.
    env['HOME'] = args.sound_home
    env['JACK_DEFAULT_SERVER'] = args.jack_server
    command = [args.wine, args.test, '--gtest_color=no', *args.gtest_args]
    try:
        if args.lose_sound_server:
            env['TALLIX_SOUND_SERVER_DRIVER'] = '1'
            sound = SoundServer(args.lose_sound_server, args.sound_home, args.jack_server)
            rc = run_driven(command, env, sound, 360)
        else:
            rc = subprocess.run(command, env=env, timeout=360).returncode
    finally:
        logs = {name: server.stop() for name, server in servers.items()}
    if rc == 77:
        return 77

    failures = []
    udp_log = logs['TALLIX_SERVER_PORT']
    tcp_log = logs['TALLIX_TCP_ONLY_SERVER_PORT']
    filtered = '--gtest_filter' in ' '.join(args.gtest_args)
    if not filtered:
        udp_voice = voice_via(udp_log, 'udp')
        tcp_voice = voice_via(tcp_log, 'tcp')
        print('server side: %d voice packets over UDP in the UDP call, %d over TCP in the TCP call'
              % (udp_voice, tcp_voice))
        if udp_voice < 75:
            failures.append('the UDP call brought the server %d voice packets over UDP' % udp_voice)
        if voice_via(udp_log, 'tcp') != 0:
            failures.append('the UDP call sent voice over TCP')
        if tcp_voice < 75:
            failures.append('the TCP call brought the server %d voice packets over TCP' % tcp_voice)
    for failure in failures:
        print('FAIL  ' + failure)
    if failures:
        for name, log in logs.items():
            print('--- %s server log (last lines)' % name)
            print('\n'.join(log.splitlines()[-20:]))
        return 1
    return rc


if __name__ == '__main__':
    sys.exit(main())
