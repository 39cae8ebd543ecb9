#!/bin/sh
# Pelorin2.msi end to end under Wine, in a fresh prefix: a silent install into a chosen root,
# the Start-menu shortcut starting the installed launcher on a database of the program folder
# (the recording Access receives the command line), `p2wg.exe plan` on the installed layout,
# an upgrade in place, and a removal that leaves the user's files. The first package and its
# programs are signed (with a throwaway authority), the newer one is not: both install alike.
# The msiexec lines are those of the administrator's guide (docs/管理者ガイド.md): keep them
# alike.
# Usage: msi_test.sh WINEARCH BIN_DIR SHIPPED_BIN_DIR WORK_DIR TEMPLATE_PREFIX VERSION
#                    NEWER_VERSION SIGN_SCRIPT OSSLSIGNCODE BUILD_MSI_SCRIPT BUILD_MSI_COMMAND...
# The packages under test hold the programs of SHIPPED_BIN_DIR, those that ship. BIN_DIR holds
# the test build's (the recording Access among them); where it is another folder (the x86_64
# twin's, on a machine that cannot start the shipped 32-bit programs), the programs are started
# from a package of the test build's programs made from the same source, installed after the
# others.
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
sign_script=$8
osslsigncode=$9
script=${10}
shift 10

. "$(dirname "$0")/lib.sh"
. "$(dirname "$0")/../win32/wine_arch.sh"
rm -rf "$work"
mkdir -p "$work"
work=$(cd "$work" && pwd)

# The packages from the one source, each as Pelorin2.msi in a folder of its own; the
# workgroup file is a stand-in (Access is a recorder).
command -v "$osslsigncode" >/dev/null || fail "no osslsigncode (tools/deps.sh win)"
make_test_signer "$work"
sign() { sign_as_built "$1" "$sign_script" "$osslsigncode" "$work" "$2"; }
mkdir "$work/signed" "$work/$version" "$work/$newer" "$work/test"
cp "$shipped/Pelorin2.exe" "$shipped/p2wg.exe" "$work/signed/"
for f in Pelorin2.exe p2wg.exe; do sign "$1" "$work/signed/$f"; done
printf 'workgroup file of the test\r\n' >"$work/Pelorin2.wgf"
for name in "$version" "$newer" test; do
    v=$name programs=$shipped
    case $name in
        "$version") programs=$work/signed ;;
        test)
            [ "$bin" != "$shipped" ] || continue
            v=$version programs=$bin ;;
    esac
    "$@" -DWORK="$work/msi-$name" -DOUTPUT="$work/$name/Pelorin2.msi" -DVERSION="$v" \
        -DLAUNCHER="$programs/Pelorin2.exe" -DPLAN_TOOL="$programs/p2wg.exe" \
        -DWORKGROUP="$work/Pelorin2.wgf" -P "$script"
done
sign "$1" "$work/$version/Pelorin2.msi"
"$osslsigncode" verify -CAfile "$work/root.pem" -in "$work/$version/Pelorin2.msi" >/dev/null ||
    fail "the first package does not verify"

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
# Run in the folder of the package of that version.
msiexec() { (cd "$work/$package" && wine msiexec "$@" >/dev/null 2>&1); }
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
# The installed programs at work: the plan tool finds the installation beside it by itself
# (nothing delivered, nothing stops), and the shortcut starts the launcher on the user's
# database, which starts Access named by the registry (in the 32-bit view of the classes,
# where a 32-bit Access registers).
run_installed() {
    plan=$(wine 'C:\Apps\P2\Pelorin2\p2wg.exe' plan 2>&1) || fail "p2wg.exe plan: $plan"
    printf '%s\n' "$plan" | grep -qxF 'Plan for the next start of C:\Apps\P2\' || fail "plan: $plan"
    printf '%s\n' "$plan" |
        grep -qxF 'The start gets through SYSTEM and LAN: 0 replaced, 0 discarded.' ||
        fail "plan: $plan"

    printf 'database\r\n' >"$program/sales.mdb"
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

# Without a database for the shortcut the package refuses, and installs nothing.
package=$version
if msiexec /i Pelorin2.msi /qn; then fail "installed without TARGETDB"; fi
[ "$(products)" = 0 ] || fail "a refused install registered a product"

# (Quoted for this shell; the guide's line is as cmd.exe takes it.)
msiexec /i Pelorin2.msi /qn 'INSTALLROOT=C:\Apps\P2\' TARGETDB=sales.mdb || fail "install"
for f in Pelorin2.exe p2wg.exe Pelorin2.wgf; do [ -f "$program/$f" ] || fail "no $f"; done
for d in "$root/SYSTEM/UPDATE" "$root/LAN/UPDATE"; do [ -d "$d" ] || fail "no $d"; done
for f in Pelorin2.exe p2wg.exe; do
    cmp -s "$work/signed/$f" "$program/$f" || fail "installed $f is not the signed one"
done
[ "$(products)" = 1 ] || fail "product name: $(registry | grep '"DisplayName"=')"
registry | grep -q "\"DisplayVersion\"=\"$version\"" || fail "version $version not registered"
check_shortcut
# The shipped programs run where this machine starts them; elsewhere those of the test
# build's package, below.
if [ "$bin" = "$shipped" ]; then run_installed; fi
printf 'database\r\n' >"$program/sales.mdb"

# Files of the user's beside and inside the package's folders.
printf 'lock\r\n' >"$program/sales.ldb"
printf 'data\r\n' >"$root/SYSTEM/data.mdb"
printf 'delivery\r\n' >"$root/LAN/UPDATE/new.mdb"

# The newer version finds the installed root and database by itself and replaces the older.
package=$newer
msiexec /i Pelorin2.msi /qn || fail "upgrade"
[ "$(products)" = 1 ] || fail "$(products) products after the upgrade"
registry | grep -q "\"DisplayVersion\"=\"$newer\"" || fail "version $newer not registered"
for f in Pelorin2.exe p2wg.exe; do
    cmp -s "$shipped/$f" "$program/$f" || fail "the upgrade did not install its $f"
done
[ -f "$(find "$c" -name "ペロリンⅡ.lnk" | head -n 1)" ] || fail "the upgrade lost the shortcut"
registry | grep -q '"TargetDb"="sales.mdb"' || fail "the upgrade forgot TARGETDB"

msiexec /x Pelorin2.msi /qn || fail "uninstall"
for f in Pelorin2.exe p2wg.exe Pelorin2.wgf; do [ ! -e "$program/$f" ] || fail "left $f"; done
[ -z "$(find "$c" -name "ペロリンⅡ.lnk")" ] || fail "left the shortcut"
[ "$(products)" = 0 ] || fail "still registered"
! registry | grep -qix '\[HKEY_LOCAL_MACHINE\\Software\\Pelorin2\]' || fail "left its registry key"
for f in "$program/sales.mdb" "$program/sales.ldb" "$root/SYSTEM/data.mdb" \
         "$root/LAN/UPDATE/new.mdb"; do
    [ -f "$f" ] || fail "removed the user's $f"
done

if [ "$bin" != "$shipped" ]; then
    # The delivery left above would stop the plan and the start: this prefix has no engine.
    rm -f "$root/LAN/UPDATE/new.mdb"
    package=test
    msiexec /i Pelorin2.msi /qn 'INSTALLROOT=C:\Apps\P2\' TARGETDB=sales.mdb ||
        fail "install of the test build's package"
    check_shortcut
    run_installed
    msiexec /x Pelorin2.msi /qn || fail "uninstall of the test build's package"
fi
echo "msi: installed, started, upgraded, removed"
