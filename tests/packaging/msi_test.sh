#!/bin/sh
# Pelorin2.msi end to end under Wine, in a fresh prefix: a silent install into a chosen root,
# the Start-menu shortcut starting the installed launcher on a database of the program folder
# (the recording Access receives the command line), an upgrade in place, and a removal that
# leaves the user's files.
# Usage: msi_test.sh WINEARCH BIN_DIR SHIPPED_BIN_DIR WORK_DIR TEMPLATE_PREFIX VERSION
#                    NEWER_VERSION BUILD_MSI_SCRIPT BUILD_MSI_COMMAND...
# The packages under test hold the programs of SHIPPED_BIN_DIR, those that ship. BIN_DIR holds
# the test build's (the recording Access among them); where it is another folder (the x86_64
# twin's, on a machine that cannot start the shipped 32-bit launcher), the shortcut is tried
# on a package of its programs built from the same source, installed after the others.
# The prefix is a copy of TEMPLATE_PREFIX (the build's, which the package never enters) when
# that exists: a Wine prefix takes minutes to make.
set -eu
arch=$1
bin=$2
shipped=$3
work=$4
template=$5
version=$6
newer=$7
script=$8
shift 8

. "$(dirname "$0")/lib.sh"
. "$(dirname "$0")/../win32/wine_arch.sh"
rm -rf "$work"
mkdir -p "$work"
work=$(cd "$work" && pwd)

# Both packages from the one source; the workgroup file is a stand-in (Access is a recorder).
printf 'workgroup file of the test\r\n' >"$work/Pelorin2.wgf"
for name in "$version" "$newer" test; do
    v=$name launcher=$shipped
    if [ $name = test ]; then
        [ "$bin" != "$shipped" ] || continue
        v=$version launcher=$bin
    fi
    "$@" -DWORK="$work/msi-$name" -DOUTPUT="$work/Pelorin2-$name.msi" -DVERSION="$v" \
        -DLAUNCHER="$launcher/Pelorin2.exe" -DWORKGROUP="$work/Pelorin2.wgf" -P "$script"
done

wine_arch "$arch"
export WINEPREFIX="$work/prefix" WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml,winemenubuilder.exe=d"
unset DISPLAY WAYLAND_DISPLAY
trap 'wineserver -k 2>/dev/null || true' EXIT
if [ -f "$template/system.reg" ]; then
    WINEPREFIX="$template" wineserver -k 2>/dev/null || true
    cp -a "$template" "$WINEPREFIX"
else
    "$WINE" wineboot -i >/dev/null 2>&1 || fail "Wine does not start on this machine (wineboot)"
fi
wineserver -w
c=$WINEPREFIX/drive_c
root=$c/Apps/P2
program=$root/Pelorin2
wine() { "$WINE" "$@"; }
msiexec() { (cd "$work" && wine msiexec "$@" >/dev/null 2>&1); }
# The machine's software keys as regedit exports them (UTF-16), in UTF-8.
registry() {
    wine reg export 'HKLM\Software' "$work/software.reg" /y >/dev/null 2>&1 ||
        fail "reg export"
    iconv -f UTF-16 -t UTF-8 "$work/software.reg" | tr -d '\r'
}
# Products in Programs and Features, counted by name: this also shows that the Japanese texts
# reach Windows.
products() {
    registry | awk '/^\[/ { key = $0 }
                    key ~ /\\Uninstall\\/ && $0 == "\"DisplayName\"=\"ペロリンⅡ\"" { n++ }
                    END { print n + 0 }'
}

# Without a database for the shortcut the package refuses, and installs nothing.
if msiexec /i "Pelorin2-$version.msi" /qn; then fail "installed without TARGETDB"; fi
[ "$(products)" = 0 ] || fail "a refused install registered a product"

msiexec /i "Pelorin2-$version.msi" /qn 'INSTALLROOT=C:\Apps\P2\' TARGETDB=sales.mdb ||
    fail "install"
for f in "$program/Pelorin2.exe" "$program/Pelorin2.wgf"; do [ -f "$f" ] || fail "no $f"; done
for d in "$root/SYSTEM/UPDATE" "$root/LAN/UPDATE"; do [ -d "$d" ] || fail "no $d"; done
cmp -s "$shipped/Pelorin2.exe" "$program/Pelorin2.exe" || fail "installed Pelorin2.exe differs"
[ "$(products)" = 1 ] || fail "product name: $(registry | grep '"DisplayName"=')"
registry | grep -q "\"DisplayVersion\"=\"$version\"" || fail "version $version not registered"
# The Start-menu shortcut: where it is and what it names.
check_shortcut() {
    shortcut=$(find "$c" -name "ペロリンⅡ.lnk" | head -n 1)
    [ -n "$shortcut" ] || fail "no Start-menu shortcut"
    case "$shortcut" in */Start\ Menu/Programs/*) ;; *) fail "shortcut at $shortcut" ;; esac
    # Its target (in the link's ANSI path) and its argument (in its UTF-16 strings).
    strings -a "$shortcut" | grep -qxF 'C:\Apps\P2\Pelorin2\Pelorin2.exe' ||
        fail "shortcut target: $(strings -a "$shortcut")"
    strings -a -el "$shortcut" | grep -qxF '"sales.mdb"' || fail "shortcut argument"
    [ -z "$(find "$c" -iname 'P2Installation.lnk')" ] || fail "the package made a start-up shortcut"
}
# It starts the installed launcher on the user's database, which starts Access named by the
# registry (in the 32-bit view of the classes, where a 32-bit Access registers).
start_by_shortcut() {
    [ -f "$program/sales.mdb" ] || printf 'database\r\n' >"$program/sales.mdb"
    wine reg add 'HKLM\Software\Classes\Access.Application.10\shell\open\command' /ve /f \
        /reg:32 /d "\"$(wine winepath -w "$bin/MSACCESS.EXE")\" /NOSTARTUP \"%1\"" \
        >/dev/null 2>&1
    rm -f "$c/record.txt"
    if [ "$bin" = "$shipped" ]; then
        P2_RECORD_FILE='C:\record.txt' wine start /wait /unix "$shortcut" >/dev/null 2>&1 ||
            fail "the shortcut did not start"
    else
        # wine64 without 32-bit support cannot open a link through the shell ("failed to get
        # data object"): the link's own target and argument, as checked above, start it.
        P2_RECORD_FILE='C:\record.txt' wine 'C:\Apps\P2\Pelorin2\Pelorin2.exe' sales.mdb \
            >/dev/null 2>&1 || fail "the shortcut's target did not start"
    fi
    wait_for_file "$c/record.txt" || fail "Access was not started"
    expected=' /Runtime "C:\Apps\P2\Pelorin2\sales.mdb" /Wrkgrp "C:\Apps\P2\Pelorin2\Pelorin2.wgf" /User '
    grep -qF -- "$expected" "$c/record.txt" || fail "Access received: $(cat "$c/record.txt")"
}
check_shortcut
# The shipped launcher is started where this machine can; elsewhere on the test build's
# package, below.
printf 'database\r\n' >"$program/sales.mdb"
if [ "$bin" = "$shipped" ]; then start_by_shortcut; fi

# Files of the user's beside and inside the package's folders.
printf 'lock\r\n' >"$program/sales.ldb"
printf 'data\r\n' >"$root/SYSTEM/data.mdb"
printf 'delivery\r\n' >"$root/LAN/UPDATE/new.mdb"

# The newer version finds the installed root and database by itself and replaces the older.
msiexec /i "Pelorin2-$newer.msi" /qn || fail "upgrade"
[ "$(products)" = 1 ] || fail "$(products) products after the upgrade"
registry | grep -q "\"DisplayVersion\"=\"$newer\"" || fail "version $newer not registered"
[ -f "$program/Pelorin2.exe" ] || fail "the upgrade moved the program"
[ -f "$(find "$c" -name "ペロリンⅡ.lnk" | head -n 1)" ] || fail "the upgrade lost the shortcut"
registry | grep -q '"TargetDb"="sales.mdb"' || fail "the upgrade forgot TARGETDB"

msiexec /x "Pelorin2-$newer.msi" /qn || fail "uninstall"
for f in "$program/Pelorin2.exe" "$program/Pelorin2.wgf"; do [ ! -e "$f" ] || fail "left $f"; done
[ -z "$(find "$c" -name "ペロリンⅡ.lnk")" ] || fail "left the shortcut"
[ "$(products)" = 0 ] || fail "still registered"
! registry | grep -qix '\[HKEY_LOCAL_MACHINE\\Software\\Pelorin2\]' || fail "left its registry key"
for f in "$program/sales.mdb" "$program/sales.ldb" "$root/SYSTEM/data.mdb" \
         "$root/LAN/UPDATE/new.mdb"; do
    [ -f "$f" ] || fail "removed the user's $f"
done

if [ "$bin" != "$shipped" ]; then
    # The delivery left above would stop that start: this prefix has no database engine.
    rm -f "$root/LAN/UPDATE/new.mdb"
    msiexec /i Pelorin2-test.msi /qn 'INSTALLROOT=C:\Apps\P2\' TARGETDB=sales.mdb ||
        fail "install of the test build's package"
    check_shortcut
    start_by_shortcut
    msiexec /x Pelorin2-test.msi /qn || fail "uninstall of the test build's package"
fi
echo "msi: installed, started, upgraded, removed"
