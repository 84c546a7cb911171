#!/bin/bash
# Fuzzing campaign: runs every fuzz target of the linux-fuzz preset for a budget of
# executions, grows the corpus kept in each target's own folder of the source tree
# (new inputs are merged there, only those that add coverage), and prints executions,
# edges and findings per target. CI only replays these corpora for a short time.
#
#   tools/fuzz-campaign.sh [--runs N] [--max-time SECONDS] [--no-merge] [target...]
#
# --runs        executions per target (default 10000000)
# --max-time    stop a target after this many seconds even if its budget is not spent
#               (default 0: no limit)
# --no-merge    leave the source corpora as they are
# Findings (crash-, leak-, timeout-, oom- files) land in
# build/linux-fuzz/fuzz-campaign/<target>/findings/; each is to be fixed and kept as a
# replay input in the target's corpus. Exits non-zero when anything was found.
set -uo pipefail
cd "$(dirname "$0")/.."

runs=10000000
max_time=0
merge=1
selected=()
while [ $# -gt 0 ]; do
    case "$1" in
        --runs) runs="$2"; shift 2 ;;
        --max-time) max_time="$2"; shift 2 ;;
        --no-merge) merge=0; shift ;;
        -h|--help) sed -n '2,16p' "$0"; exit 0 ;;
        -*) echo "unknown option $1" >&2; exit 2 ;;
        *) selected+=("$1"); shift ;;
    esac
done

# target name, corpus folder (in the source tree)
targets=(
    "field_parser_fuzz        session/fuzz/corpus"
    "receive_fuzz             session/fuzz/receive_corpus"
    "server_packet_fuzz       tools/qel-server/fuzz/corpus"
    "taskelle_request_fuzzer  taskbar/fuzz/corpus"
    "platform_utf_fuzz        platform/fuzz/corpus"
    "wav_reader_fuzz          tools/qelcall/fuzz/corpus"
    "vistrel_size_fuzz        windows/fuzz/corpus"
)

names=()
for entry in "${targets[@]}"; do
    read -r name corpus <<<"$entry"
    if [ ${#selected[@]} -eq 0 ] || [[ " ${selected[*]} " == *" $name "* ]]; then
        names+=("$name")
    fi
done
if [ ${#names[@]} -eq 0 ]; then
    echo "no such target: ${selected[*]}" >&2
    exit 2
fi

build=build/linux-fuzz
if [ ! -f "$build/build.ninja" ]; then
    cmake --preset linux-fuzz >/dev/null || exit 1
fi
cmake --build "$build" -j2 --target "${names[@]}" || exit 1

results=()
found_any=0
for entry in "${targets[@]}"; do
    read -r name corpus <<<"$entry"
    [[ " ${names[*]} " == *" $name "* ]] || continue
    work="$build/fuzz-campaign/$name"
    rm -rf "$work"
    mkdir -p "$work/new" "$work/findings" "$corpus"
    args=(-runs="$runs" -print_final_stats=1 -timeout=10 -artifact_prefix="$work/findings/")
    if [ "$max_time" -gt 0 ]; then
        args+=(-max_total_time="$max_time")
    fi
    echo "=== $name: up to $runs executions$([ "$max_time" -gt 0 ] && echo ", at most ${max_time} s")"
    start=$(date +%s)
    "$build/tests/$name" "${args[@]}" "$work/new" "$corpus" >"$work/log" 2>&1
    rc=$?
    seconds=$(( $(date +%s) - start ))
    execs=$(grep -oE 'stat::number_of_executed_units: [0-9]+' "$work/log" | tail -n1 | grep -oE '[0-9]+$')
    # A run that stopped on a finding prints no final stats; its last status line counts.
    [ -z "$execs" ] && execs=$(grep -oE '^#[0-9]+' "$work/log" | tail -n1 | tr -d '#')
    edges=$(grep -oE 'cov: [0-9]+' "$work/log" | tail -n1 | grep -oE '[0-9]+$')
    findings=$(find "$work/findings" -type f | wc -l)
    if [ "$rc" -ne 0 ] && [ "$findings" -eq 0 ]; then
        findings="rc=$rc"
    fi
    if [ "$findings" != 0 ]; then
        found_any=1
        grep -E '^==[0-9]+==|SUMMARY|deadly signal' "$work/log" | head -n5
    fi
    if [ "$merge" -eq 1 ]; then
        before=$(find "$corpus" -type f | wc -l)
        "$build/tests/$name" -merge=1 "$corpus" "$work/new" >"$work/merge.log" 2>&1
        after=$(find "$corpus" -type f | wc -l)
        added=$((after - before))
    else
        added=0
    fi
    results+=("$(printf '%-24s %12s %7s %9s %8s %6ss' "$name" "${execs:-?}" "${edges:-?}" "$findings" "+$added" "$seconds")")
done

echo
printf '%-24s %12s %7s %9s %8s %7s\n' target executions edges findings corpus time
for line in "${results[@]}"; do
    echo "$line"
done
exit $found_any
