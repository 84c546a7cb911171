#!/bin/bash
# Feeds tools/symbolize.sh a crash address inside a real function of a shipped file and
# checks that it names that function and the source line that defines it.
#
#   check_symbolize.sh SYMBOLIZE SYMBOLS_ARCHIVE FILE NM OBJDUMP FUNCTION SOURCE_ROOT SOURCE
#
# FILE is the full (unstripped) build of the shipped file: its symbol table gives the
# function's address, independently of the symbols archive. SOURCE is the function's
# file relative to SOURCE_ROOT; the expected line is the one there that defines it.
set -euo pipefail
symbolize=$1 archive=$2 file=$3 nm=$4 objdump=$5 function=$6 root=$7 source=$8

fail() { echo "FAIL: $*" >&2; exit 1; }

# The function's address in the file's own symbol table (COFF names of 32-bit Windows
# carry a leading underscore).
address=$("$nm" "$file" | awk -v f="$function" '($3 == f || $3 == "_" f) && ($2 == "T" || $2 == "t") { print $1; exit }')
[ -n "$address" ] || fail "$function not in the symbol table of $file"
base=$("$objdump" -p "$file" | awk '$1 == "ImageBase" { print $2 }')
base=$((16#${base:-0}))
# Two bytes into the function, as a return address inside it would be.
offset=$(printf '0x%x' $((16#$address - base + 2)))
module=$(basename "$file")
line=$(grep -n -E "[^A-Za-z0-9_]$function *\(" "$root/$source" | head -n 1 | cut -d: -f1)
[ -n "$line" ] || fail "no definition of $function in $source"

out=$("$symbolize" "$archive" "crash at $module+$offset in thread 7")
echo "$out"
first=$(head -n 1 <<<"$out")
[ "$first" = "$module+$offset: $function at $source:$line" ] ||
    fail "expected '$module+$offset: $function at $source:$line'"
echo "PASS: $module+$offset is $function at $source:$line"
