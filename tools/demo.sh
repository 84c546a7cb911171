#!/bin/bash
# The main job, for a person to watch: builds the native and Windows presets, shows
# what the Java host would load, and runs the window helpers on a Wine desktop:
# two coloured windows are opened, listed and captured to build/demo/window.bmp (and
# window.png beside it); the Windows voice engine makes a short call under Wine; then a
# call through the test voice server's echo service, heard audio in build/demo/heard.wav
# and its report with pictures in build/demo/call-report.html; the reference Java host's
# call is drawn from its log in build/demo/java-call-report.html.
set -euo pipefail
cd "$(dirname "$0")/.."
./tools/install-deps.sh
for preset in linux windows-x86 windows-x64; do
    echo "=== building ${preset}"
    cmake --preset "$preset" | grep -E 'Left out|Deliverables' | sed 's/^-- /    /' || true
    cmake --build --preset "$preset" >/dev/null
done
echo "=== build/windows-x86/stage (the shipped 32-bit Windows files) holds:"
(cd build/windows-x86/stage && find . -maxdepth 2 -type f \( -name '*.dll' -o -name '*.exe' \) | sort | sed 's/^/    /')
echo "=== build/linux/stage holds:"
(cd build/linux/stage && find . -type f -name '*.so' | sort | sed 's/^/    /')

# The shipped files are 32-bit; where this machine cannot run 32-bit programs the
# Windows parts are shown from the x86_64 build of the same sources.
if /usr/lib/wine/wine --version >/dev/null 2>&1; then
    win_build=build/windows-x86 win_loader=/usr/lib/wine/wine win_arch=win32
else
    win_build=build/windows-x64 win_loader=/usr/lib/wine/wine64 win_arch=win64
    echo "=== this machine runs no 32-bit programs: Windows parts from the x86_64 build"
fi
wine_dir="$PWD/$win_build/wine"
mkdir -p build/demo
sh cmake/wine-env.sh start "$wine_dir" "$win_loader" "$win_arch" >/dev/null
server_pid=""
cleanup() {
    [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null || true
    sh cmake/wine-env.sh stop "$wine_dir" "$win_loader" "$win_arch"
}
trap cleanup EXIT
echo "=== Vistrel on a Wine desktop: window list, then a capture of one window"
"$win_build/wine-run.sh" "$win_build/stage/winlist.exe" --demo build/demo/window.bmp back
/usr/bin/python3 -c 'import sys; from PIL import Image; Image.open(sys.argv[1]).save(sys.argv[2])' \
    build/demo/window.bmp build/demo/window.png
echo "    image written to build/demo/window.bmp and build/demo/window.png"

# The Windows voice engine: tallix.dll under Wine, driven through the JNI double as the
# Java host drives it, lists Wine's WASAPI devices on the sound server and makes a short
# call through a native qel-server's echo service, voice both ways over UDP.
echo "=== tallix.dll under Wine: devices and a short call"
wine_sound="$PWD/build/demo/wine-sound"
sh tools/sound-server.sh start "$wine_sound" zephra-demo-wine >/dev/null
python3 engine/tests/windows/wine_engine.py --wine "$win_build/wine-run.sh" \
    --test "$win_build/tests/tallix_wine_test.exe" \
    --server build/host-tools/tools/qel-server/qel-server \
    --sound-home "$wine_sound" --jack-server zephra-demo-wine \
    -- --gtest_filter='*ListsWasapi*:*UdpCall*' 2>/dev/null |
    grep -E '^\[ +(OK|FAILED) +\]|PASSED|FAILED' | sed 's/^/    /' || true
sh tools/sound-server.sh stop "$wine_sound" zephra-demo-wine

# A real call through the test voice server's echo service: a sentence spoken by
# espeak-ng (resampled to the 48 kHz device clock) is the microphone, and what comes
# back is written to build/demo/heard.wav.
echo "=== a call through qel-server's echo service"
espeak-ng -w build/demo/speech-raw.wav \
    "Hello. This is a test call through the echo service of the Q E L test server."
sox build/demo/speech-raw.wav -r 48000 -c 1 -b 16 build/demo/speech.wav
server_log=build/demo/qel-server.log
build/linux/tools/qel-server/qel-server >build/demo/qel-server.out 2>"$server_log" &
server_pid=$!
port=""
for _ in $(seq 50); do
    port=$(sed -n 's/^qel-server listening tcp=\([0-9]*\) .*/\1/p' build/demo/qel-server.out)
    [ -n "$port" ] && break
    sleep 0.1
done
[ -n "$port" ] || { echo "qel-server did not start; see $server_log"; exit 1; }
echo "    qel-server listening on 127.0.0.1:${port}"
build/linux/stage/qelcall --server "127.0.0.1:${port}" --service echo --name demo \
    --in build/demo/speech.wav --out build/demo/heard.wav --seconds 6 \
    --stats build/demo/call-stats.jsonl | sed 's/^/    /'
echo "    received audio written to build/demo/heard.wav (server log: $server_log)"
tools/call-report.py build/demo/call-stats.jsonl --mic build/demo/speech.wav --heard build/demo/heard.wav \
    -o build/demo/call-report.html | sed 's/^/    /'
echo "    the call's report (figures each second, pictures): build/demo/call-report.html"

# The same call made by the Windows build: qelcall.exe under Wine loads native\qel.dll
# beside it, as the engine does, and talks to the same server over loopback.
echo "=== the same call from Windows: $win_build/stage/qelcall.exe under Wine"
root="$PWD"
(cd "$win_build/stage" && ../wine-run.sh qelcall.exe --server "127.0.0.1:${port}" --service echo \
    --name demo-windows --in "$root/build/demo/speech.wav" --out "$root/build/demo/heard-windows.wav" \
    --seconds 6) | tr -d '\r' | sed 's/^/    /'
echo "    received audio written to build/demo/heard-windows.wav"
kill -INT "$server_pid"
wait "$server_pid" || true
server_pid=""

# The same kind of call made by the Java host through tallix on the sound server.
./tools/voice-demo.sh

# The release: CPack packs each build's stripped files, their symbols and SHA256SUMS.
for preset in linux windows-x64 windows-x86; do
    cpack --config "build/$preset/CPackConfig.cmake" >"build/$preset/cpack.log" 2>&1 ||
        { echo "cpack failed for $preset; see build/$preset/cpack.log"; exit 1; }
done
echo "=== release archives (SHA256SUMS beside each pair; tools/symbolize.sh reads crash addresses with the symbols archive)"
for preset in linux windows-x64 windows-x86; do
    sed "s|  |  build/$preset/package/|; s/^/    /" "build/$preset/package/SHA256SUMS"
done
release=$(ls build/windows-x86/package/zephra-native-*-windows-x86.zip)
echo "=== the Windows release to hand over: $release"
