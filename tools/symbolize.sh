#!/bin/bash
# Turns crash addresses of the shipped files into function, file and line, with the
# symbols archive of the same release.
#
#   tools/symbolize.sh SYMBOLS_ARCHIVE ADDRESS...
#   tools/symbolize.sh build/windows-x86/package/zephra-native-1.0.0-windows-x86-symbols.zip tallix.dll+0x1a2b3
#
# An ADDRESS is MODULE+0xOFFSET as crash reports and Windows Error Reporting write it:
# the offset from the module's load address (for a Windows file, its RVA). Text around
# it is ignored, so whole lines of a crash log can be passed. Prints, for each address,
#   MODULE+0xOFFSET: FUNCTION at FILE:LINE
# with one "(inlined by)" line for every inlined caller. Files are relative to the
# source tree. Needs the MinGW binutils for Windows files.
set -euo pipefail

usage() { sed -n '2,13s/^# \{0,1\}//p' "$0"; }
die() { echo "symbolize: $*" >&2; exit 1; }

case "${1:-}" in
-h | --help) usage; exit 0 ;;
"") usage >&2; exit 2 ;;
esac
archive=$1
shift
[ $# -gt 0 ] || die "no address given (e.g. tallix.dll+0x1a2b3)"
[ -f "$archive" ] || die "no symbols archive $archive"
archive=$(realpath "$archive")

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
(cd "$work" && cmake -E tar xf "$archive") || die "cannot unpack $archive"

# The addr2line that reads FILE, and the address its offsets count from.
tools_for() {
    local format
    format=$(objdump -f "$1" 2>/dev/null | sed -n 's/.*file format //p')
    [ -n "$format" ] || format=$(i686-w64-mingw32-objdump -f "$1" 2>/dev/null | sed -n 's/.*file format //p')
    case "$format" in
    pei-i386) addr2line=i686-w64-mingw32-addr2line objdump=i686-w64-mingw32-objdump ;;
    pei-x86-64) addr2line=x86_64-w64-mingw32-addr2line objdump=x86_64-w64-mingw32-objdump ;;
    elf*) addr2line=addr2line objdump=objdump ;;
    *) die "$1: unknown format '$format'" ;;
    esac
    base=0
    if [ "${format#pei}" != "$format" ]; then
        base=$("$objdump" -p "$1" | awk '$1 == "ImageBase" { print $2 }')
        [ -n "$base" ] || die "$1: no ImageBase"
        base=$((16#$base))
    fi
}

status=0
for line in "$@"; do
    found=$(grep -oE '[A-Za-z0-9_.-]+\+0x[0-9A-Fa-f]+' <<<"$line" || true)
    [ -n "$found" ] || { echo "symbolize: no MODULE+0xOFFSET in '$line'" >&2; status=1; continue; }
    while read -r item; do
        module=${item%%+*}
        offset=${item#*+}
        debug=$(cd "$work" && find . -type f -iname "$module.debug" | head -n 1)
        if [ -z "$debug" ]; then
            echo "$item: $module is not in $archive" >&2
            status=1
            continue
        fi
        tools_for "$work/$debug"
        address=$(printf '0x%x' $((base + offset)))
        # The build names the source tree /zephra (cmake/ZephraRelease.cmake).
        echo "$item: $("$addr2line" -f -C -i -p -e "$work/$debug" "$address" |
            sed -e 's| /zephra/| |' -e '2,$s/^/    /')"
    done <<<"$found"
done
exit $status
