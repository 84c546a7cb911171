#!/bin/sh
# Compares the dynamic symbols that a built library defines with the list of names it
# is meant to export: nothing missing, nothing extra (no C++ symbol may leak).
#   check_exports.sh <library> <names file>
set -eu
lib=$1
names=$2
expected=$(mktemp)
actual=$(mktemp)
trap 'rm -f "$expected" "$actual"' EXIT
grep -E '^[A-Za-z_][A-Za-z0-9_]*$' "$names" | sort -u >"$expected"
nm -D --defined-only "$lib" | awk '$2 ~ /^[TDBRVW]$/ { print $3 }' | sed 's/@.*//' | sort -u >"$actual"
if ! diff -u "$expected" "$actual"; then
    echo "exported names of $lib differ from $names (- missing, + unexpected)" >&2
    exit 1
fi
echo "$(wc -l <"$actual") names exported as listed"
