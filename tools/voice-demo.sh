#!/bin/bash
# The voice half of the main job: the reference Java host lists the sound devices and
# makes a real call through tallix, the session library and the test voice server, on
# the sound server's devices, and prints the call's events and log. The host's
# java.util.logging log of the call goes to build/demo/voice/engine.log, and its report
# to build/demo/java-call-report.html.
# Needs the linux preset built (tools/demo.sh builds it).
set -euo pipefail
cd "$(dirname "$0")/.."
root="$PWD"
build="$root/build/linux"
server="$build/tools/qel-server/qel-server"
if [ ! -x "$server" ]; then
    echo "=== voice call: skipped, $server is not built"
    exit 0
fi
work="$root/build/demo/voice"
mkdir -p "$work"
eval "$(tools/sound-server.sh start "$work/sound")"
server_pid=""
cleanup() {
    [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null || true
    "$root/tools/sound-server.sh" stop "$work/sound"
}
trap cleanup EXIT

"$server" >"$work/server.out" 2>"$work/server.log" &
server_pid=$!
for _ in $(seq 50); do
    grep -q listening "$work/server.out" 2>/dev/null && break
    sleep 0.1
done
port="$(sed -n 's/.*tcp=\([0-9]*\).*/\1/p' "$work/server.out")"
echo "=== voice call: reference Java host -> tallix -> qel -> qel-server (tcp port $port, service echo)"
# The host loads libtallix.so from the stage, and tallix loads native/libqel.so
# relative to the current directory, as the client's installation lays them out.
# The engine's records through a FileHandler in java.util.logging's plain text layout,
# every level.
cat >"$work/logging.properties" <<EOF
handlers=java.util.logging.FileHandler
java.util.logging.FileHandler.pattern=$work/engine.log
java.util.logging.FileHandler.formatter=java.util.logging.SimpleFormatter
java.util.logging.FileHandler.level=ALL
com.zephra.tallix.level=ALL
EOF
cd "$build/stage"
java -Djava.library.path=. -Djava.util.logging.config.file="$work/logging.properties" \
    -cp "$build/java/tallix_java.jar" com.zephra.tallix.host.ReferenceHost 127.0.0.1 "$port" echo 1234 3 \
    2>/dev/null | sed 's/^/    /'
cd "$root"
tools/call-report.py --log "$work/engine.log" -o build/demo/java-call-report.html | sed 's/^/    /'
echo "    the host's log: build/demo/voice/engine.log; its report: build/demo/java-call-report.html"
echo "=== what the server saw:"
sed 's/^/    /' "$work/server.log" | grep -v "^    $" | head -20
