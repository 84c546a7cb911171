#!/bin/sh
# sound-server.sh start|stop|run DIR [NAME] [--probe [CLIENT]]
# A real, clocked sound device on a machine without a sound card: JACK's dummy driver
# at 48 kHz with 512-frame periods, reached through ALSA's jack plugin. start writes
# DIR/.asoundrc (default PCM = the JACK ports behind a plug) and prints the variables
# a program needs to see it:  eval "$(tools/sound-server.sh start DIR [NAME])"
# NAME is the JACK server's name (default: JACK's "default"); a server of its own name
# is private: programs reach it only with the JACK_DEFAULT_SERVER that start prints, so
# test runs side by side neither share nor stop each other's server. run writes the
# configuration and becomes the server itself (for a caller that kills and reaps it).
# --probe: the default PCM is the ports of a JACK client CLIENT (default probe) instead
# of the sound card's: CLIENT:out is the microphone and CLIENT:in the speaker, so that a
# program such as bench/ear_probe hears a call from outside the engine. That client must
# be running before a stream opens: the plugin connects the ports at open time.
set -eu
cmd="$1"
dir="$(mkdir -p "$2" && cd "$2" && pwd)"
name="default"
probe=""
shift 2
if [ $# -gt 0 ] && [ "$1" != "--probe" ]; then
    name="$1"
    shift
fi
if [ $# -gt 0 ] && [ "$1" = "--probe" ]; then
    probe="${2:-probe}"
fi
export JACK_DEFAULT_SERVER="$name"

stop() {
    if [ -f "$dir/jackd.pid" ]; then
        pid="$(cat "$dir/jackd.pid")"
        kill "$pid" 2>/dev/null || true
        # Gone before the next start of the same name, which would find it still active.
        i=0
        while kill -0 "$pid" 2>/dev/null && [ $i -lt 50 ]; do
            sleep 0.1
            i=$((i + 1))
        done
        kill -9 "$pid" 2>/dev/null || true
        rm -f "$dir/jackd.pid"
    fi
}

configure() {
    if [ -n "$probe" ]; then
        cat >"$dir/.asoundrc" <<CONF
pcm.jackpcm {
    type jack
    playback_ports { 0 $probe:in }
    capture_ports { 0 $probe:out }
}
pcm.!default { type plug slave.pcm "jackpcm" }
CONF
        export JACK_NO_AUDIO_RESERVATION=1
        return
    fi
    cat >"$dir/.asoundrc" <<'CONF'
pcm.jackpcm {
    type jack
    playback_ports { 0 system:playback_1  1 system:playback_2 }
    capture_ports { 0 system:capture_1  1 system:capture_2 }
}
pcm.!default { type plug slave.pcm "jackpcm" }
CONF
    export JACK_NO_AUDIO_RESERVATION=1
}

# Starts jackd in the background and waits until it answers; false if it did not.
launch() {
    jackd --no-realtime -n "$name" -d dummy -r 48000 -p 512 -C 2 -P 2 >"$dir/jackd.log" 2>&1 &
    echo $! >"$dir/jackd.pid"
    i=0
    until jack_lsp >/dev/null 2>&1; do
        i=$((i + 1))
        if [ $i -gt 100 ] || ! kill -0 "$(cat "$dir/jackd.pid")" 2>/dev/null; then
            return 1
        fi
        sleep 0.1
    done
}

# A server killed with SIGKILL leaves its entry in JACK's shared registry of eight
# servers until a server of the same name starts again; entries of names never used
# again (other build trees' killed servers, other users') fill the registry ("Too many
# servers already active"), whatever else runs. The entries whose process is gone are
# freed, under the registry's lock; should that tool fail, with no JACK server running
# at all everything in the registry is stale and goes.
clear_stale_registry() {
    if /usr/bin/python3 "$(dirname "$0")/jack-registry.py" reclaim >&2; then
        return 0
    fi
    if pgrep -x jackd >/dev/null 2>&1 || pgrep -x jackdbus >/dev/null 2>&1; then
        return 1
    fi
    rm -rf /dev/shm/jack-shm-registry /dev/shm/jack_sem.* /dev/shm/jack_db-* /dev/shm/jack-[0-9]*
}

case "$cmd" in
start)
    stop
    configure
    if ! launch; then
        if grep -q "Too many servers" "$dir/jackd.log" && clear_stale_registry; then
            stop
            launch || true
        fi
        if ! jack_lsp >/dev/null 2>&1; then
            echo "jackd did not start:" >&2
            cat "$dir/jackd.log" >&2
            exit 1
        fi
    fi
    echo "export HOME='$dir' JACK_DEFAULT_SERVER='$name'"
    ;;
stop)
    stop
    ;;
run)
    configure
    # No second try here (the caller reaps the server), so a full registry is
    # relieved first.
    /usr/bin/python3 "$(dirname "$0")/jack-registry.py" reclaim >&2 || true
    exec jackd --no-realtime -n "$name" -d dummy -r 48000 -p 512 -C 2 -P 2 >"$dir/jackd.log" 2>&1
    ;;
*)
    echo "usage: sound-server.sh start|stop|run DIR [NAME] [--probe [CLIENT]]" >&2
    exit 2
    ;;
esac
