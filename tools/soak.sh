#!/usr/bin/env bash
# A longer soak of the update pass: kills the launcher at many more points, and races two
# launchers many more times, than the ordinary test run does.
#
# Usage: tools/soak.sh [KILLS [ROUNDS [SEED]]]
#   KILLS   launcher kills in the crash-safety test (default 2000)
#   ROUNDS  rounds of two launchers started together (default 500)
#   SEED    seed of the kill points (default: the time), printed so that a run can be repeated
# Builds build-soak (Release) when needed. TMPDIR chooses the file system of the sandbox
# installations (default /tmp). Prints each test's summary line; exits non-zero on a fault.
set -euo pipefail
cd "$(dirname "$0")/.."

bash tools/deps.sh test

kills=${1:-2000}
rounds=${2:-500}
seed=${3:-$(date +%s)}
dir=build-soak

log=$dir/soak-build.log
mkdir -p "$dir"
if ! { cmake --preset build-soak &&
       cmake --build --preset build-soak -j"$(nproc)"; } >"$log" 2>&1; then
    tail -n 30 "$log"
    exit 1
fi

echo "soak: $kills kills, $rounds concurrent rounds, seed $seed"
P2_SOAK_KILLS=$kills P2_SOAK_ROUNDS=$rounds P2_SOAK_SEED=$seed \
    "$dir/bin/p2_posix_stress_tests" --gtest_brief=1
