#!/usr/bin/env python3
"""Runs tallix_wine_test.exe under Wine against native qel-servers on loopback.

Starts three servers (echo; echo with UDP ignored, so calls fall back to TCP; one that
refuses every announce), passes their ports to the test program in its environment,
runs it with ALSA pointed at the sound server, then checks the servers' side of the
calls: the first one received the client's voice over UDP, the second over TCP.

Exits 77 (skipped) where Wine cannot run the program, else the test program's code,
or 1 when a server's side of a call is wrong.
"""
import argparse
import os
import re
import subprocess
import sys
import tempfile


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


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument('--wine', required=True)
    parser.add_argument('--test', required=True)
    parser.add_argument('--server', required=True)
    parser.add_argument('--sound-home', required=True)
    parser.add_argument('--jack-server', required=True)
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
    try:
        rc = subprocess.run([args.wine, args.test, '--gtest_color=no', *args.gtest_args], env=env,
                            timeout=360).returncode
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
