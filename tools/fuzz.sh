#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, AddressSanitizer, UndefinedBehaviorSanitizer) in
# build-fuzz and runs each one over its seed corpus for the given number of seconds:
#   tools/fuzz.sh        30 s per target
#   tools/fuzz.sh 20     the quick run of the test command
#   tools/fuzz.sh 600    a long run
# Exits non-zero on any crash, failed property, leak or hang (an input that runs 5 s). The
# seeds in fuzz/corpus stay untouched: the inputs a run finds go to a temporary copy, and
# the failing inputs to build-fuzz/artifacts/<target>/.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-30}
if ! [[ $seconds =~ ^[1-9][0-9]*$ ]]; then
    echo "usage: $0 [seconds per target]" >&2
    exit 2
fi

bash tools/deps.sh fuzz

build=build-fuzz
jobs=$(nproc)
cmake --preset build-fuzz >/dev/null
cmake --build --preset build-fuzz -j"$jobs"

# Target and the longest input worth trying for it.
targets=(
    "target_name 4096"
    "lock_file_name 4096"
    "stamp_number 256"
    "split_command_line 4096"
    "registry_parse 16384"
    "registry_file 8192"
)

work=$(mktemp -d "${TMPDIR:-/tmp}/p2fuzz.XXXXXX")
trap 'rm -rf "$work"' EXIT
artifacts="$PWD/$build/artifacts"

run_target() {
    local name=$1 maxlen=$2
    local dir="$work/$name"
    mkdir -p "$dir/corpus" "$dir/artifacts" "$dir/tmp"
    cp fuzz/corpus/"$name"/* "$dir/corpus/"
    local status=0
    TMPDIR="$dir/tmp" ASAN_OPTIONS=detect_leaks=1 \
        UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
        "$build/bin/${name}_fuzzer" -max_total_time="$seconds" -max_len="$maxlen" -timeout=5 \
        -rss_limit_mb=2048 -artifact_prefix="$dir/artifacts/" -print_final_stats=1 \
        "$dir/corpus" >"$dir/log" 2>&1 || status=$?
    if [ "$status" != 0 ] || [ -n "$(ls -A "$dir/artifacts")" ]; then
        echo "FAILED $name (exit $status)"
        tail -n 40 "$dir/log"
        mkdir -p "$artifacts/$name"
        cp "$dir/artifacts/"* "$artifacts/$name/" 2>/dev/null || true
        echo "inputs kept in $artifacts/$name; replay one with: $build/bin/${name}_fuzzer FILE"
        return 1
    fi
    echo "ok $name: $(grep -E '^stat::number_of_executed_units' "$dir/log" | awk '{print $2}')" \
        "runs in ${seconds}s, corpus $(ls "$dir/corpus" | wc -l) inputs"
}

# As many targets at once as there are cores; each one's result lands in a file.
for entry in "${targets[@]}"; do
    set -- $entry
    (run_target "$1" "$2" >"$work/$1.result" 2>&1; echo $? >"$work/$1.status") &
    while [ "$(jobs -rp | wc -l)" -ge "$jobs" ]; do
        wait -n || true
    done
done
wait

passed=0
failed=0
for entry in "${targets[@]}"; do
    set -- $entry
    cat "$work/$1.result"
    if [ "$(cat "$work/$1.status" 2>/dev/null)" = 0 ]; then
        passed=$((passed + 1))
    else
        failed=$((failed + 1))
    fi
done
echo "fuzz: $passed passed, $failed failed"
[ "$failed" = 0 ]
