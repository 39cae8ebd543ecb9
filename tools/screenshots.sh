#!/usr/bin/env bash
# Takes a picture of each of the launcher's message boxes as zenity shows them on a Linux
# desktop, under a virtual X server, and saves them as docs/box-*.png:
#   tools/screenshots.sh
# Needs root on Debian for the packages (Xvfb, zenity, a Japanese font, ImageMagick, xdotool).
set -euo pipefail
cd "$(dirname "$0")/.."
src=$(pwd)

bash tools/deps.sh screenshots

cmake --preset build-demo >/dev/null
cmake --build --preset build-demo -j"$(nproc)" >/dev/null
bin=$src/build-demo/bin

work=$(mktemp -d /tmp/pelorin2-shots.XXXXXX)
display=:77
Xvfb "$display" -screen 0 1024x600x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
trap 'kill $xvfb 2>/dev/null || true; rm -rf "$work"' EXIT
for _ in $(seq 100); do xdpyinfo -display "$display" >/dev/null 2>&1 && break; sleep 0.1; done

# A fresh sample installation in $root, with Access registered unless told otherwise.
install() { # [no-access]
    root=$work/$RANDOM
    prog=$root/Pelorin2
    mkdir -p "$prog" "$root/SYSTEM/UPDATE" "$root/LAN/UPDATE" "$root/xdg/pelorin2" "$root/run" \
        "$root/home"
    cp "$bin/Pelorin2" "$bin/Pelorin2.wgf" "$prog/"
    sqlite3 "$prog/main.mdb" "CREATE TABLE T00_製品情報 (InfoKey TEXT, InfoValue TEXT);"
    {
        echo "Windows Registry Editor Version 5.00"
        echo "[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet]"
        if [ "${1:-}" != no-access ]; then
            echo "[HKEY_CLASSES_ROOT\\Access.Application.10\\shell\\open\\command]"
            echo "@=\"\\\"$bin/MSACCESS.EXE\\\" \\\"%1\\\"\""
        fi
    } >"$root/xdg/pelorin2/registry.reg"
}

# Runs the launcher on the virtual display, photographs its box and dismisses it.
shoot() { # name args...
    local name=$1
    shift
    DISPLAY=$display XDG_CONFIG_DIRS=$root/xdg XDG_CONFIG_HOME=$root/home/.config \
        HOME=$root/home XDG_RUNTIME_DIR=$root/run LANG=C.UTF-8 \
        "$prog/Pelorin2" "$@" &
    local launcher=$! window=""
    for _ in $(seq 200); do
        window=$(DISPLAY=$display xdotool search --name "ペロリンⅡ" 2>/dev/null | head -1) || true
        [ -n "$window" ] && break
        sleep 0.1
    done
    if [ -z "$window" ]; then
        echo "no box for $name" >&2
        kill $launcher 2>/dev/null || true
        return 1
    fi
    sleep 1 # let the dialog finish drawing
    DISPLAY=$display import -window "$window" "docs/box-$name.png"
    pkill -P $launcher zenity # dismissed, as if OK were pressed
    wait $launcher || true
    echo "docs/box-$name.png"
}

mkdir -p docs
install
shoot not-found no-such.mdb
install
rm "$root/xdg/pelorin2/registry.reg"
shoot restricted-account main.mdb
install
echo old >"$root/SYSTEM/held.txt"
touch -d 2024-01-01 "$root/SYSTEM/held.txt"
echo new >"$root/SYSTEM/UPDATE/held.txt"
flock "$root/SYSTEM/held.txt" sleep 30 &
holder=$!
sleep 0.2
shoot update-failure main.mdb
kill $holder 2>/dev/null || true
install
shoot error-box '"main.mdb'
install no-access
shoot no-access main.mdb
