#!/bin/sh
# Installs every Debian package the build, the tests and the demo need. Run as root on
# a fresh Debian 12 machine; a second run only checks. Used by the README's commands
# and by CI.
set -eu

# apt-get update fails while a mirror is between syncs ("File has unexpected size"):
# try again a few times before giving up; a list left stale by the last try is still
# usable when the packages it names are there.
apt_update() {
    for attempt in 1 2 3; do
        if apt-get update -q; then
            return 0
        fi
        echo "install-deps: apt-get update failed (attempt $attempt), retrying in $((attempt * 10)) s" >&2
        sleep $((attempt * 10))
    done
    echo "install-deps: apt-get update kept failing; going on with the lists apt has" >&2
}

packages="
    cmake ninja-build pkg-config g++ clang libclang-rt-14-dev
    libgtest-dev libgmock-dev googletest libbenchmark-dev
    libopus-dev libspeexdsp-dev portaudio19-dev libresample1-dev
    openjdk-17-jdk junit5
    jackd2 libjack-jackd2-dev libasound2-plugins alsa-utils
    g++-mingw-w64-i686 mingw-w64-i686-dev g++-mingw-w64-x86-64 mingw-w64-x86-64-dev
    binutils-mingw-w64-i686 binutils-mingw-w64-x86-64
    wine wine64 wine32:i386 xvfb xauth x11-utils
    espeak-ng sox python3 xz-utils dpkg-dev
    chromium python3-matplotlib python3-numpy python3-pil nlohmann-json3-dev
    osslsigncode openssl
"

# Source packages of the voice libraries (tools/voice-deps.sh) come through deb-src.
src_list=/etc/apt/sources.list.d/zephra-sources.sources
if [ ! -f "$src_list" ] && [ "$(id -u)" = 0 ]; then
    cat >"$src_list" <<'SRC'
Types: deb-src
URIs: http://deb.debian.org/debian
Suites: bookworm bookworm-updates
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg

Types: deb-src
URIs: http://deb.debian.org/debian-security
Suites: bookworm-security
Components: main
Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg
SRC
    apt_update
fi

missing=""
for p in $packages; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
        missing="$missing $p"
    fi
done
if [ -z "$missing" ]; then
    echo "install-deps: all packages present"
    exit 0
fi

if [ "$(id -u)" != 0 ]; then
    echo "install-deps: missing packages:$missing; run this script as root" >&2
    exit 1
fi
echo "install-deps: installing$missing"
# Wine's 32-bit half comes from the i386 architecture.
if ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
fi
export DEBIAN_FRONTEND=noninteractive
apt_update
# jackd2 asks whether to enable real-time priority; the answer is no.
echo "jackd2 jackd/tweak_rt_limits boolean false" | debconf-set-selections
if apt-get install -y -q $missing; then
    exit 0
fi
# Without the security suite's i386 list (a mirror between syncs), i386 packages are
# only at their release versions while their amd64 twins are newer, and multiarch
# needs both at one version: take the release's versions instead.
echo "install-deps: retrying with the release's package versions" >&2
if apt-get install -y -q -t bookworm $missing; then
    exit 0
fi
# Still no 32-bit Wine: install the rest. The windows-x86 tests then report themselves
# skipped, as on machines that cannot run 32-bit programs, and windows-x64 runs them.
rest=$(echo "$missing" | tr ' ' '\n' | grep -v ':i386$' | tr '\n' ' ')
echo "install-deps: 32-bit Wine cannot be installed now; installing the rest" >&2
apt-get install -y -q $rest
