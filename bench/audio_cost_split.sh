#!/bin/sh
# How much of the voice path's cost is our own code and how much the dependencies'
# own calls: runs one measured second of call (bench::CallSecond::second, bench/call_second.cpp) under
# callgrind, then adds up the inclusive instruction counts of every call that the
# pipeline makes into the processing module, the codec and the jitter buffer. What is
# left of its inclusive count is ours: the mix, the rate converters, the
# FIFOs, the cipher, the locks and the statistics.
#   audio_cost_split.sh <build>/bench/bench_audio
set -eu
bench=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
valgrind --tool=callgrind --callgrind-out-file="$work/cg.out" --toggle-collect='*CallSecond::second*' \
    "$bench" --benchmark_filter=BM_CallSecondThroughWholePath --benchmark_min_time=0.01 >"$work/log" 2>&1
callgrind_annotate --inclusive=yes --threshold=100 "$work/cg.out" >"$work/inclusive.txt"
awk '
    function count(s) { gsub(",", "", s); return s + 0 }
    / PROGRAM TOTALS/ { total = count($1) }
    /:webrtc::AudioProcessingImpl::(ProcessStream|AnalyzeReverseStream)\(webrtc::AudioFrame\*\) |:webrtc::AudioProcessingImpl::set_stream_delay_ms\(int\) |:opus_custom_(encode|decode) |:jitter_buffer_(get|put|tick|ctl) / {
        if ($0 ~ /=>/) next
        name = $0; sub(/^[^:]*:/, "", name); sub(/ \[.*$/, "", name)
        deps += count($1); printf "  %-70s %14d\n", name, count($1)
    }
    END {
        printf "  %-70s %14d\n", "dependencies in all", deps
        printf "  %-70s %14d\n", "one second of call (CallSecond::second)", total
        printf "own code: %.1f%% of the path (%d instructions)\n", 100.0 * (total - deps) / total, total - deps
    }' "$work/inclusive.txt"
