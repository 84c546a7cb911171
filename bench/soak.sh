#!/bin/bash
# soak.sh [qelcall MINUTES] [engine MINUTES] [--interval SECONDS] [--out DIR]
#
# Long impaired calls through the test voice server (10 % loss, 30 ms jitter, 5 %
# reordering), watched from outside: every interval (30 s) the resident memory, the open
# descriptors, the threads and the size of the call's log are sampled; at the end each
# run prints its first and last sample and the slope after the first minute (a straight
# line fitted through the samples from 60 s on). Goal: less than 1 MiB of growth after
# the first minute.
#
#   qelcall MINUTES  a call through stage/qelcall (default 30); its log is its --verbose
#                    output (events and the session library's log)
#   engine MINUTES   a call through the voice engine: the reference Java host on a
#                    private sound server (default 10); its log is the engine's log as
#                    the host drains it
# With neither, both run one after the other with their default lengths. Needs the
# linux preset built. Not part of the test suite: it takes as long as it says.
set -euo pipefail
cd "$(dirname "$0")/.."
root="$PWD"
build="$root/build/linux"
interval=30
out="$build/soak"
runs=()
while [ $# -gt 0 ]; do
    case "$1" in
    qelcall | engine)
        runs+=("$1:${2:?$1 needs MINUTES}")
        shift 2
        ;;
    --interval)
        interval="${2:?}"
        shift 2
        ;;
    --out)
        out="${2:?}"
        shift 2
        ;;
    *)
        sed -n '2,18p' "$0" | sed 's/^# \{0,1\}//' >&2
        exit 2
        ;;
    esac
done
[ ${#runs[@]} -gt 0 ] || runs=("qelcall:30" "engine:10")
mkdir -p "$out"
out="$(cd "$out" && pwd)"
impairment=(--loss 10 --jitter 30 --reorder 5 --seed 16)

pids=()
cleanup() {
    for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
    "$root/tools/sound-server.sh" stop "$out/sound" 2>/dev/null || true
}
trap cleanup EXIT

# start_server LOGFILE: starts qel-server with the impairment, sets $server_pid, $port.
start_server() {
    "$build/tools/qel-server/qel-server" "${impairment[@]}" >"$1.out" 2>"$1" &
    server_pid=$!
    pids+=("$server_pid")
    for _ in $(seq 100); do
        grep -q listening "$1.out" 2>/dev/null && break
        sleep 0.1
    done
    port="$(sed -n 's/.*tcp=\([0-9]*\).*/\1/p' "$1.out")"
    [ -n "$port" ] || { echo "qel-server did not start" >&2; exit 1; }
}

# sample PID LOG SECONDS TABLE: one line every interval until PID ends or SECONDS pass.
sample() {
    local pid=$1 log=$2 seconds=$3 table=$4 start now t
    start=$(date +%s)
    echo "seconds rss_kib fds threads log_bytes" >"$table"
    while kill -0 "$pid" 2>/dev/null; do
        now=$(date +%s)
        t=$((now - start))
        local rss fds threads size
        rss=$(awk '/^VmRSS:/ {print $2}' "/proc/$pid/status" 2>/dev/null || echo "")
        threads=$(awk '/^Threads:/ {print $2}' "/proc/$pid/status" 2>/dev/null || echo "")
        fds=$(ls "/proc/$pid/fd" 2>/dev/null | wc -l)
        size=$(stat -c %s "$log" 2>/dev/null || echo 0)
        [ -n "$rss" ] && echo "$t $rss $fds $threads $size" | tee -a "$table"
        [ "$t" -ge "$seconds" ] && break
        local rest=$((interval - ($(date +%s) - now)))
        sleep $((rest > 0 ? rest : 1))
    done
}

# summary NAME TABLE: first, last, and the slopes fitted from 60 s on.
summary() {
    awk -v name="$1" 'BEGIN { n = 0 } NR == 1 { next }
        { t[n] = $1; for (c = 2; c <= 5; c++) v[n, c] = $c; n++ }
        END {
            if (n == 0) { print name ": no samples"; exit }
            printf "%s: %d samples over %d s\n", name, n, t[n - 1]
            printf "  %-10s %12s %12s %14s %16s\n", "", "rss KiB", "fds", "threads", "log bytes"
            printf "  %-10s %12d %12d %14d %16d\n", "start", v[0, 2], v[0, 3], v[0, 4], v[0, 5]
            printf "  %-10s %12d %12d %14d %16d\n", "end", v[n - 1, 2], v[n - 1, 3], v[n - 1, 4], v[n - 1, 5]
            # least-squares slope per minute over the samples from 60 s on
            for (c = 2; c <= 5; c++) {
                st = sv = stt = stv = m = 0
                for (i = 0; i < n; i++) if (t[i] >= 60) {
                    st += t[i]; sv += v[i, c]; stt += t[i] * t[i]; stv += t[i] * v[i, c]; m++
                    if (!(c in first)) first[c] = v[i, c]
                }
                d = m * stt - st * st
                slope[c] = (m >= 2 && d != 0) ? 60 * (m * stv - st * sv) / d : 0
                grow[c] = (c in first) ? v[n - 1, c] - first[c] : 0
            }
            printf "  %-10s %12.1f %12.2f %14.2f %16.1f\n", "slope/min", slope[2], slope[3], slope[4], slope[5]
            printf "  %-10s %12d %12d %14d %16d\n", "after 1min", grow[2], grow[3], grow[4], grow[5]
            printf "  resident memory after the first minute: %+d KiB (goal: under 1024) -> %s\n",
                grow[2], grow[2] < 1024 ? "met" : "NOT met"
        }' "$2"
}

soak_qelcall() {
    local minutes=$1 dir="$out/qelcall"
    mkdir -p "$dir"
    start_server "$dir/server.log"
    # A spoken-like microphone: tone bursts with pauses; silence once it has played.
    sox -n -r 48000 -b 16 -c 1 "$dir/mic.wav" synth 20 sine 440 tremolo 2.5 100 vol 0.3
    echo "=== qelcall: $minutes min through echo on port $port (${impairment[*]})"
    "$build/stage/qelcall" --server "127.0.0.1:$port" --in "$dir/mic.wav" --out "$dir/heard.wav" \
        --seconds $((minutes * 60)) --verbose >"$dir/call.log" 2>&1 &
    local call=$!
    pids+=("$call")
    sample "$call" "$dir/call.log" $((minutes * 60 + 30)) "$dir/samples.txt"
    local status=0
    wait "$call" || status=$?
    kill "$server_pid" 2>/dev/null || true
    echo "qelcall exit status $status; $(grep -c 'E_QELEV_CONNECTED' "$dir/call.log") connection(s)," \
        "heard $(stat -c %s "$dir/heard.wav" 2>/dev/null || echo 0) bytes"
    sed -n '/^statistics:/,$p' "$dir/call.log"
    summary "qelcall $minutes min" "$dir/samples.txt" | tee "$dir/summary.txt"
}

soak_engine() {
    local minutes=$1 dir="$out/engine"
    mkdir -p "$dir"
    # A sound server of the soak's own JACK server name, so nothing else on the machine
    # shares or stops it (one fixed name: JACK's registry of servers is small).
    eval "$("$root/tools/sound-server.sh" start "$out/sound" zephra-soak)"
    start_server "$dir/server.log"
    echo "=== engine: $minutes min, reference Java host through echo on port $port (${impairment[*]})"
    # A fixed Java heap, touched in full at start: its growth up to the collector's limit
    # would otherwise hide what the engine itself does to the resident memory.
    # shellcheck disable=SC2086 # SOAK_JAVA_OPTS: more JVM options, word-split on purpose
    # The JVM's native memory tracking tells its own growth (code cache, metaspace,
    # compiler arenas) apart from the rest of the process.
    (cd "$build/stage" && exec java -Xms64m -Xmx64m -XX:+AlwaysPreTouch -XX:NativeMemoryTracking=summary \
        ${SOAK_JAVA_OPTS:-} \
        -Djava.library.path=. -Djava.util.logging.config.file=/dev/null \
        -cp "$build/java/tallix_java.jar" com.zephra.tallix.host.ReferenceHost \
        127.0.0.1 "$port" echo 1234 $((minutes * 60)) >"$dir/host.log" 2>"$dir/host.err") &
    local host=$!
    pids+=("$host")
    # Baseline after the first minute, difference 30 s before the end.
    (sleep 60 && jcmd "$host" VM.native_memory baseline >/dev/null 2>&1 &&
        sleep $((minutes * 60 - 90)) && jcmd "$host" VM.native_memory summary.diff >"$dir/jvm-native.txt" 2>&1) &
    pids+=("$!")
    sample "$host" "$dir/host.log" $((minutes * 60 + 60)) "$dir/samples.txt"
    local status=0
    wait "$host" || status=$?
    kill "$server_pid" 2>/dev/null || true
    "$root/tools/sound-server.sh" stop "$out/sound"
    echo "host exit status $status; events: $(grep '^event' "$dir/host.log" | tr '\n' ' ')"
    summary "engine $minutes min" "$dir/samples.txt" | tee "$dir/summary.txt"
    if [ -s "$dir/jvm-native.txt" ]; then
        echo "the JVM's own committed memory from minute 1 to 30 s before the end:" \
            "$(sed -n 's/^Total: reserved=[^,]*, committed=[0-9]*KB \(.*\)$/\1/p' "$dir/jvm-native.txt")" \
            | tee -a "$dir/summary.txt"
    fi
}

for run in "${runs[@]}"; do
    "soak_${run%%:*}" "${run#*:}"
done
