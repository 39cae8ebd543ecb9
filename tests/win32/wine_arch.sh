# Sourced by the scripts that run Windows programs: `wine_arch win32|win64` sets WINEARCH and
# WINE, the loader for that kind of prefix. Debian's `wine` script takes the 32-bit loader
# whenever wine32 is installed, even where the kernel cannot start it, so a 64-bit prefix is
# given the 64-bit loader by name; Wine starts child programs with WINELOADER.
wine_arch() {
    export WINEARCH="$1"
    if [ "$1" = win64 ]; then
        export WINELOADER=/usr/lib/wine/wine64
        WINE=$WINELOADER
    else
        unset WINELOADER
        # By its path: the scripts may name a function `wine` that calls $WINE.
        WINE=/usr/bin/wine
    fi
}

# Whether this machine starts 32-bit x86 programs: Wine's 32-bit loader answers its version.
# Some virtual machines lack 32-bit user mode, and the loader fails with "Exec format error".
can_start_32_bit() {
    /usr/lib/wine/wine --version >/dev/null 2>&1
}
