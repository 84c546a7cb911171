#!/bin/bash
# The main job, for a person to watch: builds the native and Windows presets, shows
# what the Java host would load, and runs the window helpers on a Wine desktop:
# two coloured windows are opened, listed and captured to build/demo/window.bmp.
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

# This machine's Wine runs 64-bit programs only: the window helpers are shown from
# the x86_64 build of the same sources.
wine_dir="$PWD/build/windows-x64/wine"
mkdir -p build/demo
sh cmake/wine-env.sh start "$wine_dir" /usr/lib/wine/wine64 win64 >/dev/null
trap 'sh cmake/wine-env.sh stop "$wine_dir" /usr/lib/wine/wine64 win64' EXIT
echo "=== Vistrel on a Wine desktop: window list, then a capture of one window"
build/windows-x64/wine-run.sh build/windows-x64/stage/winlist.exe --demo build/demo/window.bmp back
echo "    image written to build/demo/window.bmp"
./tools/voice-demo.sh
