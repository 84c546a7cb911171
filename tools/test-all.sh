#!/bin/bash
# The whole test suite: configures, builds and tests every preset, then prints one
# summary line. Exits non-zero when anything fails.
#   tools/test-all.sh                 all presets
#   tools/test-all.sh linux windows-x64   only these
set -uo pipefail
cd "$(dirname "$0")/.."

presets=("$@")
if [ ${#presets[@]} -eq 0 ]; then
    presets=(linux windows-x86 windows-x64 linux-asan linux-tsan linux-fuzz)
fi

./tools/install-deps.sh || exit 1

total_pass=0
total_fail=0
total_skip=0
failed_presets=()
for preset in "${presets[@]}"; do
    echo "=== ${preset}: configure and build"
    if ! cmake --preset "$preset" >"build-$preset.configure.log" 2>&1; then
        cat "build-$preset.configure.log"
        failed_presets+=("$preset (configure)")
        total_fail=$((total_fail + 1))
        continue
    fi
    grep -E 'Left out|SKIPPED|Deliverables' "build-$preset.configure.log" | sed 's/^-- /    /'
    rm -f "build-$preset.configure.log"
    if ! cmake --build --preset "$preset"; then
        failed_presets+=("$preset (build)")
        total_fail=$((total_fail + 1))
        continue
    fi
    echo "=== ${preset}: test"
    log="build/$preset/ctest.log"
    ctest --preset "$preset" 2>&1 | tee "$log"
    rc=${PIPESTATUS[0]}
    # "N% tests passed, F tests failed out of T" and the list of skipped tests.
    line=$(grep -E 'tests passed, [0-9]+ tests? failed out of [0-9]+' "$log" | tail -n1)
    if [ -n "$line" ]; then
        failed=$(echo "$line" | sed -E 's/.* ([0-9]+) tests? failed out of ([0-9]+).*/\1/')
        count=$(echo "$line" | sed -E 's/.* failed out of ([0-9]+).*/\1/')
        skipped=$(grep -cE '\(Skipped\)$' "$log")
        total_pass=$((total_pass + count - failed - skipped))
        total_fail=$((total_fail + failed))
        total_skip=$((total_skip + skipped))
    fi
    if [ "$rc" -ne 0 ]; then
        failed_presets+=("$preset")
        [ -z "$line" ] && total_fail=$((total_fail + 1))
    fi
done

echo
if [ ${#failed_presets[@]} -gt 0 ]; then
    echo "FAILED presets: ${failed_presets[*]}"
fi
echo "${total_pass} passed, ${total_fail} failed, ${total_skip} skipped"
[ ${#failed_presets[@]} -eq 0 ]
