#!/usr/bin/env bash
# Installs what the build and the tests need, builds the launcher, and runs every test:
# a warnings-as-errors build and an AddressSanitizer + UndefinedBehaviorSanitizer build.
set -euo pipefail
cd "$(dirname "$0")/.."

if [ "$(id -u)" = 0 ] && command -v apt-get >/dev/null; then
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    apt-get install -y -qq --no-install-recommends \
        build-essential cmake pkg-config libsqlite3-dev libcrypt-dev googletest libgtest-dev \
        libgmock-dev binutils-mingw-w64-i686 gcc-mingw-w64-i686 desktop-file-utils \
        libxml2-utils >/dev/null
fi

jobs=$(nproc)
for config in "build -DP2_WERROR=ON -DCMAKE_BUILD_TYPE=Debug" \
              "build-asan -DP2_WERROR=ON -DP2_SANITIZE=ON -DCMAKE_BUILD_TYPE=Debug"; do
    set -- $config
    dir=$1
    shift
    echo "== $dir"
    cmake -S . -B "$dir" "$@" >/dev/null
    cmake --build "$dir" -j"$jobs"
    ASAN_OPTIONS=detect_leaks=1 ctest --test-dir "$dir" -j"$jobs" --output-on-failure --timeout 300
done

# Hostile input: every libFuzzer target over its seed corpus, briefly.
bash tools/fuzz.sh 20
