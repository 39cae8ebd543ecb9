# Shared by the package tests (sourced).

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

# Waits, bounded (a minute), for a file that a detached program writes.
wait_for_file() {
    tries=0
    while [ ! -f "$1" ] && [ $tries -lt 600 ]; do
        sleep 0.1
        tries=$((tries + 1))
    done
    [ -f "$1" ]
}
