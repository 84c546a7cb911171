#!/bin/sh
# ear_probe_loop_test.sh PROBE SOUND_SERVER DIR NAME: the probe, on a sound server of its
# own, measures a delay client of 1000 frames between its ports. Every burst must come
# back, each after exactly the delay plus the one period that a loop through another
# client costs in the JACK graph.
set -eu
probe="$1" sound="$2" dir="$3" name="$4"
eval "$(sh "$sound" start "$dir" "$name")"
trap 'sh "$sound" stop "$dir" "$name"' EXIT
out="$("$probe" loop --delay 1000 --seconds 4 --settle 0.2)"
echo "$out"
period="$(echo "$out" | sed -n 's/.*Hz, \([0-9]*\)-frame periods.*/\1/p')"
expected="$(awk -v p="$period" 'BEGIN { printf "%.1f", (1000 + p) * 1000 / 48000 }')"
echo "$out" | grep -q "median $expected ms, p90 $expected ms, max $expected ms, min $expected ms" || {
    echo "FAIL: expected every burst after $expected ms (1000 frames + one period of $period)"
    exit 1
}
echo "$out" | grep -qE "mouth-to-ear: ([0-9]+) of \1 bursts heard" || {
    echo "FAIL: bursts were lost"
    exit 1
}
