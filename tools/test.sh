#!/usr/bin/env bash
# Installs what the builds and the tests need, then runs every test:
#   1. Linux, warnings as errors;
#   2. Linux, AddressSanitizer + UndefinedBehaviorSanitizer;
#   3. lintian on the .deb;
#   4. the libFuzzer targets over their seed corpora, briefly;
#   5. the 32-bit Windows program, cross-built with mingw-w64, its tests under Wine (with
#      Pelorin2.msi installed, upgraded and removed in a fresh prefix), or those of its x86_64
#      twin under wine64 where this machine cannot start 32-bit programs;
#   6. the identity and signing checks of the shipped Windows programs.
set -euo pipefail
cd "$(dirname "$0")/.."

# Everything the steps below need, in one go.
bash tools/deps.sh test package fuzz win

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

echo "== identity and signing of the Windows program"
# The build preset hands build-win to these tests; they skipped above, before it was built.
ctest --preset build -R '^(Executable|Windows/ShippedProgram|DaoStandIn)|^p2_signing$'
