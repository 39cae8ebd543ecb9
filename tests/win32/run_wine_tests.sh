#!/bin/sh
# Builds the Windows program and its tests with mingw-w64 and runs them under Wine, in a prefix
# set up as a Japanese Windows (locale ja_JP.UTF-8: ANSI code page 932), then runs the ports and
# the end-to-end tests once more with the ANSI code page UTF-8 (65001), which Wine gives for a
# locale without an ANSI code page of its own (hi_IN.UTF-8).
#
# The 32-bit build (build-win) is always built: it holds the program that ships, which the
# Linux build's identity tests read. Its tests run where this machine starts 32-bit programs.
# Where it cannot (a virtual machine without 32-bit user mode), the same sources are built for
# x86_64 (build-win64, the twin) and its tests run under wine64 in a 64-bit prefix.
# P2_WINDOWS_TESTS=i686 or =twin chooses instead of the machine. Running no test is a failure.
# Usage: tests/win32/run_wine_tests.sh [build folder of the 32-bit build]   (default: build-win)
set -e
source_dir=$(cd "$(dirname "$0")/../.." && pwd)
build_dir=${1:-$source_dir/build-win}
mkdir -p "$build_dir"
build_dir=$(cd "$build_dir" && pwd)
bash "$source_dir/tools/deps.sh" win
. "$source_dir/tests/win32/wine_arch.sh"

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

choice=${P2_WINDOWS_TESTS:-}
if [ -z "$choice" ]; then
    if can_start_32_bit; then choice=i686; else choice=twin; fi
fi
case $choice in
    i686)
        preset=build-win
        test_dir=$build_dir
        arch=win32
        what="i686 build under Wine (the program that ships)" ;;
    twin)
        preset=build-win64
        test_dir=${build_dir}64
        arch=win64
        what="x86_64 twin under wine64"
        can_start_32_bit || what="$what (this machine cannot start 32-bit programs)" ;;
    *)
        echo "run_wine_tests: P2_WINDOWS_TESTS must be i686 or twin" >&2
        exit 2 ;;
esac

# The tests need the posix thread model (GoogleTest); the launcher and p2wg.exe that they
# start, and that ship, are built with the win32 model by the same build. The presets hold
# the settings; the folders may be others.
cd "$source_dir"
cmake --preset build-win -B "$build_dir" >/dev/null
cmake --build "$build_dir" -j2
if [ $preset != build-win ]; then
    cmake --preset $preset -B "$test_dir" -DP2_SHIPPED_WINDOWS_BUILD_DIR="$build_dir" >/dev/null
    cmake --build "$test_dir" -j2
fi

export WINEPREFIX="$test_dir/wineprefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
wine_arch $arch
unset DISPLAY WAYLAND_DISPLAY

if [ ! -f "$WINEPREFIX/system.reg" ]; then
    LC_ALL=ja_JP.UTF-8 timeout 600 "$WINE" wineboot -i >/dev/null 2>&1 || true
    timeout 120 wineserver -w 2>/dev/null || true
fi
if [ ! -f "$WINEPREFIX/system.reg" ]; then
    why=$("$WINE" --version 2>&1 >/dev/null | head -n 1)
    echo "run_wine_tests: Wine could not make a $WINEARCH prefix" \
        "(${why:-wineboot failed}): no Windows test ran" >&2
    exit 1
fi

echo "Windows tests: $what"
status=0
echo "== Windows tests, ANSI code page 932 (ja_JP.UTF-8)"
LC_ALL=ja_JP.UTF-8 P2_EXPECTED_ACP=932 ctest --preset $preset --test-dir "$test_dir" || status=$?
wineserver -k 2>/dev/null || true
wineserver -w 2>/dev/null || true
echo "== Windows ports and end to end, ANSI code page 65001 (hi_IN.UTF-8)"
LC_ALL=hi_IN.UTF-8 P2_EXPECTED_ACP=65001 ctest --preset $preset --test-dir "$test_dir" \
    -L '^p2_win32_(ports|e2e)_tests$' || status=$?
wineserver -k 2>/dev/null || true
exit $status
