#!/usr/bin/env bash
# Installs what the builds and the tests need, then runs every test:
#   1. Linux, warnings as errors;
#   2. Linux, AddressSanitizer + UndefinedBehaviorSanitizer;
#   3. lintian on the .deb;
#   4. the libFuzzer targets over their seed corpora, briefly;
#   5. the 32-bit Windows program, cross-built with mingw-w64, its tests under Wine (with
#      Pelorin2.msi installed, upgraded and removed in a fresh prefix).
set -euo pipefail
cd "$(dirname "$0")/.."

if [ "$(id -u)" = 0 ] && command -v apt-get >/dev/null; then
    export DEBIAN_FRONTEND=noninteractive
    dpkg --add-architecture i386
    apt-get update -qq
    apt-get install -y -qq --no-install-recommends \
        build-essential cmake pkg-config libsqlite3-dev libcrypt-dev googletest libgtest-dev \
        libgmock-dev desktop-file-utils libxml2-utils util-linux \
        clang libclang-rt-14-dev \
        binutils-mingw-w64-i686 gcc-mingw-w64-i686 g++-mingw-w64-i686 \
        g++-mingw-w64-i686-posix g++-mingw-w64-i686-win32 locales wine wine32 \
        wixl msitools lintian dpkg-dev pkexec zenity >/dev/null
fi

jobs=$(nproc)
# The presets of CMakePresets.json name each build folder and its settings.
for preset in build build-asan; do
    echo "== $preset"
    cmake --preset "$preset" >/dev/null
    cmake --build --preset "$preset" -j"$jobs"
    ctest --preset "$preset" -j"$jobs"
done

echo "== lintian"
# The one warning kept is explained in the README (Packages for administrators).
rm -rf build/deb && cpack --config build/CPackConfig.cmake -B build/deb >/dev/null
lintian --fail-on error,warning --suppress-tags desktop-command-not-in-package build/deb/*.deb

echo "== fuzz"
bash tools/fuzz.sh 20

echo "== build-win"
sh tests/win32/run_wine_tests.sh build-win

echo "== identity of the Windows program"
ctest --preset build -R '^Executable'
