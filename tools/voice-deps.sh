#!/bin/bash
# Builds the voice libraries' dependencies from Debian source packages, once per
# architecture, into a cache outside the build trees:
#   linux-x86_64         the audio processing module (Opus and SpeexDSP come from Debian's
#                        -dev packages natively)
#   i686-w64-mingw32     Opus (custom modes), SpeexDSP, the audio processing module,
#                        PortAudio (WASAPI and WMME) and libresample
#   x86_64-w64-mingw32   the same, for the 64-bit Windows test build
#
#   tools/voice-deps.sh ARCH...      build what is missing; prints each prefix last
#   tools/voice-deps.sh fetch        only download, check and unpack the sources
#
# Sources come with apt's source tools (the deb-src entry that install-deps.sh writes),
# are checked against the checksums of their .dsc, and only the needed subtrees are
# unpacked. The cache is $ZEPHRA_DEPS_DIR (default ~/.cache/zephra-deps); a prefix is
# named after a hash of the recipe in tools/voice-deps/, so a changed recipe builds
# anew beside the old one and every worktree finds the build that matches it.
# ZVD_JOBS sets the build's parallel jobs (default 2).
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
cache=${ZEPHRA_DEPS_DIR:-${HOME:-/root}/.cache/zephra-deps}
recipe="$here/tools/voice-deps"
mkdir -p "$cache/src" "$cache/tree"

say() { echo "voice-deps: $*" >&2; }

# name=version of each source package, and the upstream tarball used from it.
packages=(
    "opus=1.3.1-3 opus_1.3.1.orig.tar.gz"
    "speexdsp=1.2.1-1 speexdsp_1.2.1.orig.tar.gz"
    "firefox-esr=115.15.0esr-1~deb12u1 firefox-esr_115.15.0esr.orig.tar.xz"
    "portaudio19=19.6.0-1.2 portaudio19_19.6.0.orig.tar.gz"
    "libresample=0.1.3-6 libresample_0.1.3.orig.tar.gz"
)
webrtc_dirs="api audio common_audio modules rtc_base system_wrappers experiments
    third_party/abseil-cpp third_party/pffft third_party/rnnoise"

# The sha256 of FILE as its .dsc states it.
dsc_sha256() {
    local dsc=$1 file=$2
    awk -v f="$file" '/^Checksums-Sha256:/ {on=1; next} /^[^ ]/ {on=0} on && $3 == f {print $1}' "$dsc"
}

fetch_one() {
    local spec=$1 tarball=$2 name=${1%%=*} version=${1#*=}
    local dsc="$cache/src/${name}_${version#*:}.dsc"
    if [ ! -f "$dsc" ] || [ ! -f "$cache/src/$tarball" ]; then
        say "downloading source package $spec"
        # The whole source package comes down (firefox-esr also brings its language
        # packs); a missing Debian part of an old package is not needed here (the
        # registry answers 404 for libresample's .debian.tar.xz, while its .dsc and
        # upstream tarball arrive).
        (cd "$cache/src" && apt-get source --download-only -q "$spec" >&2) || true
    fi
    [ -f "$dsc" ] || { say "no $dsc: is the deb-src entry of install-deps.sh there, and apt-get update run?"; exit 1; }
    [ -f "$cache/src/$tarball" ] || { say "$tarball did not arrive"; exit 1; }
    local want have
    want=$(dsc_sha256 "$dsc" "$tarball")
    [ -n "$want" ] || { say "$dsc names no $tarball"; exit 1; }
    if [ ! -f "$cache/src/$tarball.ok" ] || [ "$(cat "$cache/src/$tarball.ok")" != "$want" ]; then
        have=$(sha256sum "$cache/src/$tarball" | cut -d' ' -f1)
        if [ "$have" != "$want" ]; then
            say "$tarball: sha256 $have, but its .dsc says $want"
            rm -f "$cache/src/$tarball"
            exit 1
        fi
        echo "$want" > "$cache/src/$tarball.ok"
    fi
}

unpack_one() {
    local tarball=$1 tree stamp
    tree="$cache/tree/${tarball%.orig.tar.*}"
    stamp="$tree.unpacked"
    # A tree is kept for as long as the tarball and the adaptations made to it are the same.
    local want
    want="$(cat "$cache/src/$tarball.ok") $(sha256sum "$recipe/patch_webrtc.py" | cut -c1-64)"
    [ -f "$stamp" ] && [ "$(cat "$stamp")" = "$want" ] && return 0
    say "unpacking $tarball"
    rm -rf "$tree" && mkdir -p "$tree"
    case "$tarball" in
    firefox-esr_*)
        local top=firefox-115.15.0/third_party/libwebrtc patterns=() d
        for d in $webrtc_dirs; do patterns+=("$top/$d/*"); done
        patterns+=("$top/*.gn" "$top/*.gni" "$top/LICENSE" "$top/PATENTS")
        xz -dc "$cache/src/$tarball" | tar -x -C "$tree" --strip-components=3 --wildcards "${patterns[@]}"
        python3 "$recipe/patch_webrtc.py" "$tree"
        ;;
    *)
        tar -xzf "$cache/src/$tarball" -C "$tree" --strip-components=1
        ;;
    esac
    echo "$want" >"$stamp"
}

fetch_all() {
    local entry
    (
        flock 9
        for entry in "${packages[@]}"; do
            # shellcheck disable=SC2086
            fetch_one $entry
            unpack_one "${entry#* }"
        done
    ) 9>"$cache/fetch.lock"
}

# The recipe's files that make ARCH's build; the native one has only the audio
# processing module. A Windows build also depends on its toolchain file's flags.
recipe_hash() {
    local skip=() toolchain=()
    case "$1" in
    linux-x86_64) skip=(! -name opus.cmake ! -name speexdsp.cmake
        ! -name 'portaudio*' ! -name resample.cmake) ;;
    i686-w64-mingw32) toolchain=("$here/cmake/mingw-common.cmake" "$here/cmake/mingw-i686.cmake") ;;
    x86_64-w64-mingw32) toolchain=("$here/cmake/mingw-common.cmake" "$here/cmake/mingw-x86_64.cmake") ;;
    esac
    {
        (cd "$recipe" && find . -type f ! -name '*.pyc' "${skip[@]}" | LC_ALL=C sort | xargs sha256sum)
        [ ${#toolchain[@]} -eq 0 ] || sha256sum "${toolchain[@]}" | cut -c1-64
    } | sha256sum | cut -c1-12
}

# Copies the files of directory FROM into INTO that differ from INTO's, and removes
# what FROM no longer has; unchanged files keep their time stamps, so that a build
# from INTO rebuilds only what changed, whichever worktree the recipe came from.
sync_tree() {
    local from=$1 into=$2 f
    mkdir -p "$into"
    (cd "$from" && find . -type f ! -name '*.pyc') | while read -r f; do
        if ! cmp -s "$from/$f" "$into/$f"; then
            mkdir -p "$(dirname "$into/$f")"
            cp "$from/$f" "$into/$f"
        fi
    done
    (cd "$into" && find . -type f) | while read -r f; do
        [ -f "$from/$f" ] || rm -f "$into/$f"
    done
}

# Copies the toolchain files into INTO; true when one of them changed.
sync_toolchain() {
    local into=$1 f changed=1
    mkdir -p "$into"
    for f in "$here"/cmake/mingw-*.cmake; do
        if ! cmp -s "$f" "$into/${f##*/}"; then
            cp "$f" "$into/"
            changed=0
        fi
    done
    return $changed
}

build_arch() {
    local arch=$1 hash prefix build source toolchain=()
    hash=$(recipe_hash "$arch")
    prefix="$cache/$arch-$hash"
    # One build directory an architecture, so that a changed recipe rebuilds only
    # what it changes. It is configured from a copy of the recipe in the cache: a
    # CMake build directory belongs to one source directory, and every worktree has
    # its own.
    build="$cache/build/$arch"
    source="$cache/recipe/$arch"
    case "$arch" in
    linux-x86_64) ;;
    i686-w64-mingw32) toolchain=(-DCMAKE_TOOLCHAIN_FILE="$source/toolchain/mingw-i686.cmake") ;;
    x86_64-w64-mingw32) toolchain=(-DCMAKE_TOOLCHAIN_FILE="$source/toolchain/mingw-x86_64.cmake") ;;
    *) say "unknown architecture $arch"; exit 2 ;;
    esac
    (
        flock 9
        if [ ! -f "$prefix/done" ]; then
            say "building for $arch into $prefix (log: $build.log)"
            local start=$SECONDS
            rm -rf "$prefix"
            sync_tree "$recipe" "$source/recipe"
            # A toolchain file's flags reach a build directory only when it is configured
            # for the first time (CMAKE_<LANG>_FLAGS_INIT); a changed one configures anew.
            if sync_toolchain "$source/toolchain"; then
                rm -f "$build/CMakeCache.txt"
            fi
            # A build directory made from a worktree's own recipe starts again.
            if [ -f "$build/CMakeCache.txt" ] &&
                ! grep -qx "CMAKE_HOME_DIRECTORY:INTERNAL=$source/recipe" "$build/CMakeCache.txt"; then
                rm -rf "$build"
            fi
            mkdir -p "$build"
            local rc=0
            {
                cmake -S "$source/recipe" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
                    "${toolchain[@]}" -DCMAKE_INSTALL_PREFIX="$prefix" \
                    -DZVD_TREES="$cache/tree" -DZVD_ARCH="$arch" &&
                    cmake --build "$build" --parallel "${ZVD_JOBS:-2}" &&
                    cmake --install "$build"
            } >"$build.log" 2>&1 || rc=$?
            if [ "$rc" -ne 0 ]; then
                tail -n 40 "$build.log" >&2
                say "build for $arch failed; the whole log is $build.log"
                exit 1
            fi
            touch "$prefix/done"
            say "built for $arch in $((SECONDS - start)) s"
        fi
    ) 9>"$cache/build-$arch.lock"
    echo "$prefix"
}

[ $# -gt 0 ] || { echo "usage: $0 fetch | ARCH..." >&2; exit 2; }
fetch_all
[ "$1" = fetch ] && exit 0
for arch in "$@"; do
    build_arch "$arch"
done
