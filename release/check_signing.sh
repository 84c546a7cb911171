#!/bin/bash
# Signs a release archive with tools/sign-release.sh and a throwaway self-signed
# code-signing certificate made here, then checks: every .dll and .exe of the signed
# archive verifies with osslsigncode against that certificate, the signed archive has
# the unsigned one's entries and its own SHA256SUMS-signed, the unsigned archive is
# unchanged, and a file with one byte changed fails verification.
#
#   check_signing.sh SIGN-RELEASE-SCRIPT ARCHIVE.zip
set -euo pipefail
sign=$1
archive=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Zephra test signing" \
    -addext "extendedKeyUsage=codeSigning" -addext "keyUsage=digitalSignature" \
    -keyout "$work/key.pem" -out "$work/cert.pem" 2>/dev/null
openssl pkcs12 -export -inkey "$work/key.pem" -in "$work/cert.pem" -out "$work/cert.p12" \
    -passout pass:throwaway
printf 'throwaway\n' >"$work/password"

# Signed beside a copy, so that the build's package directory keeps only its own files.
mkdir "$work/package"
cp "$archive" "$work/package/"
copy="$work/package/$(basename "$archive")"
before=$(sha256sum <"$copy")
ZEPHRA_SIGN_PKCS12="$work/cert.p12" ZEPHRA_SIGN_PASSWORD_FILE="$work/password" \
    bash "$sign" "$copy" >"$work/out"
signed=$(tail -n 1 "$work/out")
[ "$signed" = "$work/package/$(basename "$archive" .zip)-signed.zip" ] || fail "signed archive named $signed"
[ "$(sha256sum <"$copy")" = "$before" ] || fail "the unsigned archive changed"
(cd "$work/package" && sha256sum --quiet -c SHA256SUMS-signed) || fail "SHA256SUMS-signed does not match"

# Same entries, same order; the Windows files signed and verified, the rest unchanged.
/usr/bin/python3 - "$copy" "$signed" "$work/files" <<'PY' >"$work/list"
import sys, zipfile
unsigned, signed, out = zipfile.ZipFile(sys.argv[1]), zipfile.ZipFile(sys.argv[2]), sys.argv[3]
a, b = unsigned.infolist(), signed.infolist()
assert [e.filename for e in a] == [e.filename for e in b], "entries differ"
for old, new in zip(a, b):
    assert old.date_time == new.date_time and old.external_attr == new.external_attr, old.filename
    pe = old.filename.lower().endswith((".dll", ".exe"))
    assert (unsigned.read(old) != signed.read(new)) == pe, old.filename + (" not signed" if pe else " changed")
    if pe:
        signed.extract(new, out)
        print(new.filename)
PY
count=0
while read -r file; do
    osslsigncode verify -CAfile "$work/cert.pem" -in "$work/files/$file" >"$work/verify" 2>&1 ||
        { cat "$work/verify" >&2; fail "$file does not verify"; }
    grep -q "Signature verification: ok" "$work/verify" || { cat "$work/verify" >&2; fail "$file: no ok"; }
    count=$((count + 1))
done <"$work/list"
[ "$count" -gt 0 ] || fail "no Windows files in the archive"

# One byte changed in the middle of a signed file: the digest no longer matches.
first=$(head -n 1 "$work/list")
victim="$work/files/$first"
offset=$(($(stat -c %s "$victim") / 2))
byte=$(od -An -tu1 -j "$offset" -N1 "$victim" | tr -d ' ')
printf "$(printf '\\%03o' $(((byte + 1) % 256)))" | dd of="$victim" bs=1 seek="$offset" conv=notrunc 2>/dev/null
if osslsigncode verify -CAfile "$work/cert.pem" -in "$victim" >"$work/verify" 2>&1; then
    cat "$work/verify" >&2
    fail "$first still verifies with byte $offset changed"
fi
echo "signed and verified $count files; $first with one byte changed fails verification"
