#!/usr/bin/env bash
# Builds the benchmarks (build-bench, Release, -DP2_BENCH=ON) and runs them all, printing the
# table that docs/performance.md reports.
#
#   tools/bench.sh            the full set: 1,000, 10,000 and 100,000 plain files, 200
#                             databases, system calls per file, 1,000 / 10,000 / 100,000 files
#                             end to end (about 25 minutes)
#   tools/bench.sh --quick    fewer runs and at most 10,000 files (about 3 minutes)
#
# The deliveries are made in $TMPDIR (/tmp when unset); the update passes also run on tmpfs
# (/dev/shm) when it exists, where the disk takes no part and the launcher's own work shows.
# Each measured run starts a fresh process; deliveries are made and written back to disk
# before each run, outside the measured time. System calls are counted with strace over whole
# starts of the launcher. Benchmarks are no part of the tests.
set -euo pipefail
cd "$(dirname "$0")/.."

quick=0
case "${1:-}" in
    --quick) quick=1 ;;
    "") ;;
    *) sed -n '2,12p' "$0" >&2; exit 2 ;;
esac

bash tools/deps.sh bench

cmake --preset build-bench >/dev/null
cmake --build --preset build-bench -j2 >/dev/null
bench=$(pwd)/build-bench/bin/p2bench

tmp=${TMPDIR:-/tmp}
# Plain-file rows as "files:runs".
if [ $quick = 1 ]; then
    starts=11 runs=3 sizes="1000:3 10000:3" scale="1000 10000" scale_runs=1
else
    starts=21 runs=7 sizes="1000:7 10000:7 100000:3" scale="1000 10000 100000" scale_runs=3
fi

echo "## Machine"
echo
echo "- nproc: $(nproc); CPU: $(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -1)"
echo "- memory: $(awk '/MemTotal/ {printf "%.1f GiB", $2 / 1048576}' /proc/meminfo);" \
    "load average at the start: $(cut -d' ' -f1-3 /proc/loadavg)"
echo "- temporary folder $tmp: $(findmnt -n -o FSTYPE,OPTIONS -T "$tmp" 2>/dev/null || stat -f -c %T "$tmp")"
echo "- SQLite $(pkg-config --modversion sqlite3), $(c++ --version | head -1)"
echo
echo "| Benchmark | Measured (median) | Floor (median) | Ratio / overhead | Goal | Result |"
echo "| --- | --- | --- | --- | --- | --- |"

TMPDIR=$tmp "$bench" start $starts 2>/dev/null
filesystems=$tmp
if [ -d /dev/shm ] && [ "$(stat -f -c %T /dev/shm)" = tmpfs ]; then
    filesystems="$tmp /dev/shm"
fi
for fs in $filesystems; do
    label=$(findmnt -n -o FSTYPE -T "$fs" 2>/dev/null | head -1)
    for size in $sizes; do
        for kind in newer mix; do
            TMPDIR=$fs "$bench" plain "${size%:*}" $kind "${size#*:}" 2>/dev/null |
                sed "s#| (b) #| (b, $label) #"
        done
    done
    TMPDIR=$fs "$bench" db 200 $runs 2>/dev/null | sed "s#| (c) #| (c, $label) #"
done
for n in $scale; do
    TMPDIR=$tmp "$bench" scale "$n" $scale_runs 2>/dev/null
done
# Empty files as in (b), and files long enough to be read for the database header.
for bytes in 0 4096; do
    for kind in newer mix; do
        TMPDIR=$tmp "$bench" calls 1000 $kind $bytes 2>/dev/null
    done
done
