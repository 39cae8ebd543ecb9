#!/bin/sh
# Builds the 32-bit Windows program and its tests with mingw-w64 and runs them under Wine.
# Usage: tests/win32/run_wine_tests.sh [build folder]   (default: build-win)
set -e
source_dir=$(cd "$(dirname "$0")/../.." && pwd)
build_dir=${1:-$source_dir/build-win}
mkdir -p "$build_dir"
build_dir=$(cd "$build_dir" && pwd)

export WINEPREFIX="$build_dir/wineprefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
export WINEARCH=win32
unset DISPLAY WAYLAND_DISPLAY

if [ ! -f "$WINEPREFIX/system.reg" ]; then
    wineboot -i >/dev/null 2>&1
    wineserver -w
fi

cmake -S "$source_dir" -B "$build_dir" \
    -DCMAKE_TOOLCHAIN_FILE="$source_dir/cmake/toolchain-mingw-i686.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DP2_WERROR=ON
cmake --build "$build_dir" -j2
status=0
ctest --test-dir "$build_dir" --output-on-failure || status=$?
wineserver -k 2>/dev/null || true
exit $status
