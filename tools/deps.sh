#!/usr/bin/env bash
# Installs the Debian packages that the named tasks need, so that every script of the
# repository installs from one list:
#   tools/deps.sh GROUP...
#     build             the Linux build
#     test              the Linux build with its tests (GoogleTest, desktop, MSI and signing
#                       checks)
#     package           the .deb (dpkg-shlibdeps, lintian), Pelorin2.msi (wixl, msitools) and
#                       signing (osslsigncode)
#     fuzz              the libFuzzer targets (clang)
#     win               the Windows cross builds (i686, x86_64 twin; signed when given a
#                       certificate), their tests under Wine
#     demo              tools/demo.sh (zenity too when a display is set)
#     bench             tools/bench.sh
#     screenshots       tools/screenshots.sh
#     wine-screenshots  tools/wine-screenshots.sh
# Acts only as root on a machine with apt-get, and only when a package is missing: then it
# updates the package lists once and installs what is missing, quietly. Anywhere else it
# installs nothing and names what is missing on standard error.
set -euo pipefail

usage() {
    sed -n '4,16p' "$0" >&2
    exit 2
}
[ $# -gt 0 ] || usage

build="build-essential cmake pkg-config libsqlite3-dev libcrypt-dev"
# The i686 toolchain builds the program that ships; the x86_64 one its test twin, for
# machines that cannot start 32-bit programs (wine64 runs it there).
cross="make binutils-mingw-w64-i686 gcc-mingw-w64-i686 g++-mingw-w64-i686
    g++-mingw-w64-i686-win32 g++-mingw-w64-i686-posix
    binutils-mingw-w64-x86-64 gcc-mingw-w64-x86-64-win32 gcc-mingw-w64-x86-64-posix
    g++-mingw-w64-x86-64-win32 g++-mingw-w64-x86-64-posix"
wine="wine wine32:i386 wine64"
shots="xvfb x11-utils imagemagick xdotool fonts-ipafont-gothic"

wanted=""
foreign=no
for group in "$@"; do
    case $group in
        build) wanted+=" $build" ;;
        test)
            wanted+=" $build googletest libgtest-dev libgmock-dev desktop-file-utils
                libxml2-utils util-linux wixl msitools dpkg-dev pkexec zenity osslsigncode openssl" ;;
        package) wanted+=" $build dpkg-dev lintian wixl msitools osslsigncode" ;;
        fuzz) wanted+=" clang libclang-rt-14-dev cmake make pkg-config libsqlite3-dev libcrypt-dev" ;;
        win)
            # GoogleTest from its sources (/usr/src/googletest) for the cross-built tests;
            # locales for the Japanese and UTF-8 Wine prefixes.
            wanted+=" cmake $cross googletest locales $wine wixl msitools osslsigncode openssl"
            foreign=yes ;;
        demo)
            wanted+=" $build sqlite3"
            # The real dialogs need zenity; without a display the boxes go to standard error.
            if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then wanted+=" zenity"; fi ;;
        bench) wanted+=" $build strace" ;;
        screenshots) wanted+=" $build sqlite3 zenity util-linux procps $shots" ;;
        wine-screenshots)
            wanted+=" cmake $cross $wine fonts-wine $shots"
            foreign=yes ;;
        *)
            echo "deps: unknown group '$group'" >&2
            usage ;;
    esac
done

command -v dpkg-query >/dev/null || exit 0
wanted=$(printf '%s\n' $wanted | sort -u)
# One question for all: the packages installed, native ones without their architecture.
native=$(dpkg --print-architecture)
# shellcheck disable=SC2086 # one word a package
installed=$({ dpkg-query -W -f='${binary:Package} ${Status}\n' $wanted 2>/dev/null || true; } |
    awk -v native=":$native" '$2 == "install" && $4 == "installed" { sub(native "$", "", $1); print $1 }')
missing=""
for package in $wanted; do
    if ! grep -qxF "$package" <<<"$installed"; then
        missing+=" $package"
    fi
done
[ -n "$missing" ] || exit 0

if [ "$(id -u)" != 0 ] || ! command -v apt-get >/dev/null; then
    echo "deps: missing packages (install them as root):$missing" >&2
    exit 0
fi
export DEBIAN_FRONTEND=noninteractive
if [ $foreign = yes ] && ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
fi
# Quiet unless it fails: then the whole of apt-get's answer.
log=$(mktemp)
trap 'rm -f "$log"' EXIT
# shellcheck disable=SC2086 # one word a package
if ! { apt-get update -qq && apt-get install -y -qq --no-install-recommends $missing; } \
    >"$log" 2>&1; then
    cat "$log" >&2
    echo "deps: could not install:$missing" >&2
    exit 1
fi
