#!/bin/bash
# Builds the release archives of one commit twice, in two different directories at two
# different times, and compares them byte for byte.
#
#   tools/check-reproducible.sh [--commit REV] [--pause SECONDS] [PRESET...]
#   tools/check-reproducible.sh windows-x86 windows-x64 linux
#
# Defaults: HEAD, a pause of 60 s between the builds, preset windows-x86. Each build is
# a fresh clone of the commit under $TMPDIR with its own build tree; only the shipped
# files are built, then packed with cpack. The voice dependencies come from the shared
# cache (tools/voice-deps.sh), as in every build. Prints the archives' hashes of both
# builds and "reproducible" or, for archives that differ, which files inside differ.
# Exit code 0 when every archive is identical. Takes two builds of the shipped files per
# preset (2 to 4 minutes each for windows-x86 on two busy cores), so it is not in CTest.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
commit=HEAD
pause=60
presets=()
while [ $# -gt 0 ]; do
    case "$1" in
    --commit) commit=$2; shift 2 ;;
    --pause) pause=$2; shift 2 ;;
    -h | --help) sed -n '2,15s/^# \{0,1\}//p' "$0"; exit 0 ;;
    -*) echo "check-reproducible: unknown option $1" >&2; exit 2 ;;
    *) presets+=("$1"); shift ;;
    esac
done
[ ${#presets[@]} -gt 0 ] || presets=(windows-x86)
commit=$(git -C "$root" rev-parse --verify "$commit^{commit}")

work=$(mktemp -d "${TMPDIR:-/tmp}/zephra-repro.XXXXXX")
trap 'rm -rf "$work"' EXIT
# Two places whose paths differ in length and depth, so that any build path left in a
# file shows.
places=("$work/one/zephra" "$work/second-place/deeper/native-layer")

deliverables() {
    case "$1" in
    windows-*) echo qel tallix Vistrel Taskelle Hushlet Elevix ;;
    *) echo qel tallix ;;
    esac
}

build_at() {
    local place=$1 preset
    mkdir -p "$(dirname "$place")"
    git clone --quiet --no-checkout "$root" "$place"
    git -C "$place" checkout --quiet --detach "$commit"
    for preset in "${presets[@]}"; do
        echo "== $place: $preset ($(date -u +%H:%M:%S))"
        (
            cd "$place"
            nice -n 10 cmake --preset "$preset" >"$place/configure-$preset.log" 2>&1
            # shellcheck disable=SC2046
            nice -n 10 cmake --build --preset "$preset" --target $(deliverables "$preset") \
                >"$place/build-$preset.log" 2>&1
            cpack --config "build/$preset/CPackConfig.cmake" >"$place/cpack-$preset.log" 2>&1
        ) || { echo "build at $place failed; logs in $place" >&2; trap - EXIT; exit 1; }
    done
}

build_at "${places[0]}"
echo "== waiting $pause s"
sleep "$pause"
build_at "${places[1]}"

status=0
for preset in "${presets[@]}"; do
    a="${places[0]}/build/$preset/package"
    b="${places[1]}/build/$preset/package"
    echo "== $preset"
    cat "$a/SHA256SUMS"
    if cmp -s "$a/SHA256SUMS" "$b/SHA256SUMS"; then
        echo "reproducible: both builds made these bytes"
        continue
    fi
    status=1
    echo "DIFFERENT: the second build made"
    cat "$b/SHA256SUMS"
    # Which files inside differ.
    for archive in "$a"/*.zip "$a"/*.tar.gz; do
        [ -f "$archive" ] || continue
        name=$(basename "$archive")
        cmp -s "$archive" "$b/$name" && continue
        mkdir -p "$work/x/a/$name" "$work/x/b/$name"
        (cd "$work/x/a/$name" && cmake -E tar xf "$archive")
        (cd "$work/x/b/$name" && cmake -E tar xf "$b/$name")
        diff -rq "$work/x/a/$name" "$work/x/b/$name" || true
    done
done
exit $status
