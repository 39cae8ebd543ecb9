#!/bin/sh
# Runs one Windows test program under Wine:
#   wine_emulator.sh win32|win64 <prefix> <program.exe> [args]
# The prefix belongs to the build and is of the build's kind (32-bit for the i686 build, 64-bit
# for its x86_64 twin); it is made on first use. No display is used (a message box
# fails at once instead of waiting for a click), and Wine is told not to offer the Mono and
# Gecko installers.
set -e
. "$(dirname "$0")/wine_arch.sh"
wine_arch "$1"
prefix=$2
shift 2
export WINEPREFIX="$prefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
unset DISPLAY WAYLAND_DISPLAY
if [ ! -f "$prefix/system.reg" ]; then
    mkdir -p "$(dirname "$prefix")"
    (
        flock 9
        if [ ! -f "$prefix/system.reg" ]; then
            "$WINE" wineboot -i >/dev/null 2>&1
            wineserver -w
        fi
    ) 9>"$prefix.lock"
fi
# A server that outlives each program saves Wine's start-up for every test; it leaves after
# a minute without clients. Wine's own services are started here, detached from the test's
# output, which CTest would otherwise wait on until they end.
(
    flock 9
    # The lock must not be inherited by the server or the services, which outlive this script.
    if wineserver -p60 >/dev/null 2>&1 9>&-; then
        "$WINE" cmd.exe /c exit </dev/null >/dev/null 2>&1 9>&- || true
    fi
) 9>"$prefix.lock"
# A Windows program's children write Wine's debug output to the standard error they inherit
# from it: the end-to-end tests find their launcher's message boxes there (a relay trace of
# MessageBoxW). It goes to a file of its own, which the test reads by its Windows name, and
# is shown after a failed run.
trace=$(mktemp "${TMPDIR:-/tmp}/p2-wine-trace.XXXXXX")
P2_TRACE_FILE="Z:$(printf '%s' "$trace" | tr / '\\')"
export P2_TRACE_FILE
status=0
"$WINE" "$@" 2>"$trace" || status=$?
if [ $status -ne 0 ]; then
    grep -v -e ':Call ' -e ':Ret ' "$trace" >&2 || true
fi
rm -f "$trace"
exit $status
