#!/bin/bash
# The main job, for a person to watch: builds the native and Windows presets and
# shows what each stage holds, as the Java host would load it.
set -euo pipefail
cd "$(dirname "$0")/.."
./tools/install-deps.sh
for preset in linux windows-x86; do
    echo "=== building ${preset}"
    cmake --preset "$preset" | grep -E 'Left out|Deliverables' | sed 's/^-- /    /' || true
    cmake --build --preset "$preset" >/dev/null
    echo "=== build/${preset}/stage holds:"
    (cd "build/$preset/stage" && find . -type f | sort | sed 's/^/    /')
done
./tools/voice-demo.sh
