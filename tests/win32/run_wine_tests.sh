#!/bin/sh
# Builds the 32-bit Windows program and its tests with mingw-w64 and runs them under Wine, in
# a prefix set up as a Japanese Windows (locale ja_JP.UTF-8: ANSI code page 932), then runs
# the ports and the end-to-end tests once more with the ANSI code page UTF-8 (65001), which
# Wine gives for a locale without an ANSI code page of its own (hi_IN.UTF-8).
# Usage: tests/win32/run_wine_tests.sh [build folder]   (default: build-win)
set -e
source_dir=$(cd "$(dirname "$0")/../.." && pwd)
build_dir=${1:-$source_dir/build-win}
mkdir -p "$build_dir"
build_dir=$(cd "$build_dir" && pwd)
bash "$source_dir/tools/deps.sh" win

# Wine takes the ANSI code page from the Unix locale: a missing locale would silently give
# 1252. The tests assert the code page they expect (P2_EXPECTED_ACP) so that it fails loudly.
ensure_locale() { # ja_JP.UTF-8
    name=$(echo "$1" | sed 's/UTF-8$/utf8/')
    if ! locale -a 2>/dev/null | grep -qx "$name"; then
        localedef -i "${1%%.*}" -f UTF-8 "$1"
    fi
}
ensure_locale ja_JP.UTF-8
ensure_locale hi_IN.UTF-8

export WINEPREFIX="$build_dir/wineprefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
export WINEARCH=win32
unset DISPLAY WAYLAND_DISPLAY

# The tests need the posix thread model (GoogleTest); the launcher they start, and the one
# that ships, is built with the win32 model by the same build. The build-win preset holds
# the settings; the folder may be another.
cd "$source_dir"
cmake --preset build-win -B "$build_dir"
cmake --build "$build_dir" -j2

# Some machines cannot start 32-bit x86 programs at all (a virtual machine without 32-bit
# support: Wine's loader fails with "Exec format error"). There the Windows program is still
# built and read back by the identity test of the Linux build, but nothing here can run it:
# say so plainly and run no test, rather than fail every one or pass any. P2_REQUIRE_WINE=1
# makes this a failure, for machines that are meant to run them.
if [ ! -f "$WINEPREFIX/system.reg" ]; then
    LC_ALL=ja_JP.UTF-8 timeout 600 wineboot -i >/dev/null 2>&1 || true
    timeout 120 wineserver -w 2>/dev/null || true
fi
if [ ! -f "$WINEPREFIX/system.reg" ]; then
    why=$(/usr/lib/wine/wine --version 2>&1 >/dev/null | head -n 1)
    echo "run_wine_tests: Wine cannot start 32-bit Windows programs on this machine" \
        "(${why:-its prefix could not be made}): the Windows tests were NOT run" >&2
    wineserver -k 2>/dev/null || true
    [ "${P2_REQUIRE_WINE:-0}" = 1 ] && exit 1
    exit 0
fi

status=0
echo "== Windows tests, ANSI code page 932 (ja_JP.UTF-8)"
LC_ALL=ja_JP.UTF-8 P2_EXPECTED_ACP=932 ctest --preset build-win --test-dir "$build_dir" || status=$?
wineserver -k 2>/dev/null || true
wineserver -w 2>/dev/null || true
echo "== Windows ports and end to end, ANSI code page 65001 (hi_IN.UTF-8)"
LC_ALL=hi_IN.UTF-8 P2_EXPECTED_ACP=65001 ctest --preset build-win --test-dir "$build_dir" \
    -L '^p2_win32_(ports|e2e)_tests$' || status=$?
wineserver -k 2>/dev/null || true
exit $status
