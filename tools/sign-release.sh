#!/bin/bash
# Signs the Windows files of a release archive with a team's own code-signing
# certificate (Authenticode, with osslsigncode), and writes a signed archive beside the
# unsigned one, which is left as it is:
#
#   tools/sign-release.sh [--timestamp URL] [--description TEXT] ARCHIVE.zip
#
#   ZEPHRA_SIGN_PKCS12          the certificate and its private key, a PKCS#12 file
#   ZEPHRA_SIGN_PASSWORD        its password, or
#   ZEPHRA_SIGN_PASSWORD_FILE   a file whose first line is the password
#
# For zephra-native-1.0.0-windows-x86.zip it writes zephra-native-1.0.0-windows-x86-signed.zip
# (the same entries in the same order, with the same times and modes; every .dll and
# .exe signed with a SHA-256 digest) and SHA256SUMS-signed (its hash, for
# `sha256sum -c SHA256SUMS-signed`). With --timestamp, an RFC 3161 time-stamp server
# (for example your certificate authority's) countersigns each signature, so that it
# stays valid after the certificate expires; that needs the network.
#
# Example, with a throwaway certificate:
#   openssl req -x509 -newkey rsa:2048 -nodes -subj "/CN=Test" -addext extendedKeyUsage=codeSigning \
#       -keyout key.pem -out cert.pem && openssl pkcs12 -export -inkey key.pem -in cert.pem -out cert.p12 -passout pass:secret
#   ZEPHRA_SIGN_PKCS12=cert.p12 ZEPHRA_SIGN_PASSWORD=secret tools/sign-release.sh build/windows-x86/package/zephra-native-1.0.0-windows-x86.zip
set -euo pipefail

usage() {
    sed -n '2,/^set -euo/p' "$0" | sed '$d; s/^# \{0,1\}//' >&2
    exit 2
}
fail() { echo "sign-release: $*" >&2; exit 1; }

timestamp=""
description="Zephra"
while [ $# -gt 0 ]; do
    case "$1" in
    --timestamp) [ $# -ge 2 ] || usage; timestamp=$2; shift 2 ;;
    --description) [ $# -ge 2 ] || usage; description=$2; shift 2 ;;
    -h | --help) usage ;;
    -*) usage ;;
    *) break ;;
    esac
done
[ $# -eq 1 ] || usage
archive=$1
[ -f "$archive" ] || fail "no archive $archive"
case "$archive" in *.zip) ;; *) fail "$archive: only the Windows archives (.zip) hold files to sign" ;; esac
command -v osslsigncode >/dev/null || fail "osslsigncode is not installed (Debian package osslsigncode)"
pkcs12=${ZEPHRA_SIGN_PKCS12:-}
[ -n "$pkcs12" ] || fail "set ZEPHRA_SIGN_PKCS12 to the PKCS#12 file of the certificate"
[ -f "$pkcs12" ] || fail "no PKCS#12 file $pkcs12"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# The password reaches osslsigncode through a file in this run's private directory
# (mktemp -d makes it readable by its owner only), never its command line, which any
# user of the machine can read.
if [ -n "${ZEPHRA_SIGN_PASSWORD_FILE:-}" ]; then
    [ -f "$ZEPHRA_SIGN_PASSWORD_FILE" ] || fail "no password file $ZEPHRA_SIGN_PASSWORD_FILE"
    head -n 1 "$ZEPHRA_SIGN_PASSWORD_FILE" >"$work/password"
elif [ -n "${ZEPHRA_SIGN_PASSWORD+set}" ]; then
    printf '%s\n' "$ZEPHRA_SIGN_PASSWORD" >"$work/password"
else
    fail "set ZEPHRA_SIGN_PASSWORD or ZEPHRA_SIGN_PASSWORD_FILE"
fi

dir=$(cd "$(dirname "$archive")" && pwd)
name=$(basename "$archive" .zip)
signed="$dir/$name-signed.zip"
mkdir "$work/files"

# The archive's Windows files, one a line, as the archive names them.
/usr/bin/python3 - "$archive" "$work/files" >"$work/list" <<'EOF'
import sys, zipfile
with zipfile.ZipFile(sys.argv[1]) as archive:
    for entry in archive.infolist():
        if entry.filename.lower().endswith((".dll", ".exe")):
            archive.extract(entry, sys.argv[2])
            print(entry.filename)
EOF
[ -s "$work/list" ] || fail "$archive holds no .dll or .exe"

ts_args=()
[ -z "$timestamp" ] || ts_args=(-ts "$timestamp")
while read -r file; do
    osslsigncode sign -pkcs12 "$pkcs12" -readpass "$work/password" -h sha256 -n "$description" \
        "${ts_args[@]}" -in "$work/files/$file" -out "$work/files/$file.signed" >"$work/log" 2>&1 ||
        { cat "$work/log" >&2; fail "signing $file failed"; }
    mv "$work/files/$file.signed" "$work/files/$file"
    echo "sign-release: signed $file" >&2
done <"$work/list"

# The signed archive: the unsigned one's entries, in order and with their times and
# modes, the signed files in place of the unsigned ones.
/usr/bin/python3 - "$archive" "$work/files" "$work/signed.zip" <<'EOF'
import os, sys, zipfile
source, files, target = sys.argv[1:]
with zipfile.ZipFile(source) as unsigned, zipfile.ZipFile(target, "w") as signed:
    for entry in unsigned.infolist():
        path = os.path.join(files, entry.filename)
        data = open(path, "rb").read() if entry.filename.lower().endswith((".dll", ".exe")) else unsigned.read(entry)
        signed.writestr(entry, data, compress_type=entry.compress_type)
EOF
mv "$work/signed.zip" "$signed"
(cd "$dir" && sha256sum "$(basename "$signed")" >SHA256SUMS-signed)
echo "$signed"
