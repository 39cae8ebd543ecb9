#!/usr/bin/env bash
# Photographs two of the Windows launcher's message boxes as Wine draws them, under a virtual
# X server, and saves them as docs/wine-box-not-found.png and docs/wine-box-error.png:
#   tools/wine-screenshots.sh [build folder]     (default: build-win-shots)
# The folder gets the cross build of Pelorin2.exe, a Wine prefix of its own and the sample
# installations. On a machine that cannot start 32-bit programs the program photographed is
# the x86_64 twin of the same sources (preset build-win64-shots, default folder of that name),
# whose boxes are the same. Needs root on Debian for the packages.
set -euo pipefail
cd "$(dirname "$0")/.."
src=$(pwd)
bash tools/deps.sh wine-screenshots
. tests/win32/wine_arch.sh
if can_start_32_bit; then
    preset=build-win-shots arch=win32
else
    preset=build-win64-shots arch=win64
fi
build=${1:-$src/$preset}
mkdir -p "$build"
build=$(cd "$build" && pwd)

# The preset's settings; the folder may be another.
cmake --preset $preset -B "$build" >/dev/null
cmake --build "$build" -j2 --target Pelorin2 >/dev/null

export WINEPREFIX=$build/wineprefix
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
wine_arch $arch
wine() { "$WINE" "$@"; }
# Wine follows the Unix locale; an English one is enough once the fonts below are set.
export LANG=C.UTF-8
unset WAYLAND_DISPLAY

fresh=no
if [ ! -f "$WINEPREFIX/system.reg" ]; then
    DISPLAY= wine wineboot -i >/dev/null 2>&1
    wineserver -w
    fresh=yes
fi
if [ $fresh = yes ] || ! grep -q '"MS UI Gothic"="IPAGothic"' "$WINEPREFIX/user.reg"; then
    # Wine's message font is its own Tahoma, which has no Japanese letters: Wine links it to
    # "MS UI Gothic" for them, a font that Linux lacks, so every Japanese letter came out as a
    # box. Replacing that name (and the dialog font names) with IPA Gothic gives the letters.
    for name in "MS UI Gothic" "MS Shell Dlg" "MS Shell Dlg 2"; do
        wine reg add 'HKCU\Software\Wine\Fonts\Replacements' /v "$name" /d IPAGothic /f \
            >/dev/null 2>&1
    done
    # Without a window manager, X draws no frame: Wine draws its own caption and border,
    # as on Windows, when its windows are not managed. (Its close button shows a plain "r":
    # the glyph of its Marlett symbol font is not drawn there. Nothing of the program's own.)
    wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
    wineserver -w
fi

# A virtual display of its own; -displayfd picks a free number.
Xvfb -displayfd 3 -screen 0 1024x600x24 -nolisten tcp 3>"$build/xvfb.display" >/dev/null 2>&1 &
xvfb=$!
trap 'wineserver -k 2>/dev/null || true; kill $xvfb 2>/dev/null || true' EXIT
for _ in $(seq 100); do [ -s "$build/xvfb.display" ] && break; sleep 0.1; done
export DISPLAY=:$(cat "$build/xvfb.display")

# A sample installation: the program folder beside SYSTEM and LAN with their update folders.
# Access is not registered: neither box gets that far.
install() { # name
    root=$build/shots/$1
    rm -rf "$root"
    mkdir -p "$root/Pelorin2" "$root/SYSTEM/UPDATE" "$root/LAN/UPDATE"
    cp "$build/bin/Pelorin2.exe" "$root/Pelorin2/"
}

# Starts the launcher with the argument text given verbatim, photographs its box and ends it.
# The text goes through a batch file, since wine's own command line quotes and escapes any
# argument with a double quote in it.
shoot() { # name argument-text
    local name=$1 exe
    exe=$(wine winepath -w "$root/Pelorin2/Pelorin2.exe" 2>/dev/null)
    printf '@"%s" %s\r\n' "$exe" "$2" >"$root/start.bat"
    wine cmd /c "$(wine winepath -w "$root/start.bat" 2>/dev/null)" >/dev/null 2>&1 &
    local window=""
    for _ in $(seq 600); do
        window=$(xdotool search --onlyvisible --name "ペロリンⅡ" 2>/dev/null | head -1) || true
        [ -n "$window" ] && break
        sleep 0.1
    done
    if [ -z "$window" ]; then
        echo "no box for $name" >&2
        wineserver -k
        return 1
    fi
    xdotool windowfocus "$window" 2>/dev/null || true # an active caption, as when just shown
    sleep 1                                             # let Wine finish drawing
    import -window "$window" "docs/wine-box-$name.png"
    # Dismissed by ending every process of this build's own prefix: the launcher and cmd.
    wineserver -k
    wineserver -w
    echo "docs/wine-box-$name.png"
}

mkdir -p docs
install not-found
shoot not-found no-such.mdb
install error
shoot error '"main.mdb'
