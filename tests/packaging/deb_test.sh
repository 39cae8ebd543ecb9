#!/bin/sh
# The .deb end to end: cpack builds it from this build, dpkg installs it into the machine, the
# installed launcher starts a recording Access on a database of the program folder, dpkg
# removes it, and nothing of the package is left but the user's database.
# Usage: deb_test.sh CPACK BUILD_DIR   (as root; exits 77, skipped, otherwise)
set -eu
cpack=$1
build=$2
root=/usr/lib/pelorin2
program=$root/Pelorin2

. "$(dirname "$0")/lib.sh"
if [ "$(id -u)" != 0 ]; then
    echo "installing a package needs root" >&2
    exit 77
fi
state() { dpkg-query -W -f='${db:Status-Status}' pelorin2 2>/dev/null || true; }
case "$(state)" in
    "" | not-installed) ;;
    *) echo "pelorin2 is on this machine ($(state)): not touched" >&2; exit 77 ;;
esac

work=$(mktemp -d)
trap 'dpkg -r pelorin2 >/dev/null 2>&1 || true; rm -f "$program/sales.mdb"; rmdir "$program" "$root" 2>/dev/null || true; rm -rf "$work"' EXIT
"$cpack" --config "$build/CPackConfig.cmake" -B "$work/out" >"$work/cpack.log" 2>&1 ||
    { cat "$work/cpack.log"; fail "cpack"; }
deb=$(ls "$work"/out/pelorin2_*.deb)

depends=$(dpkg-deb -f "$deb" Depends)
for needed in libsqlite3-0 libcrypt1 pkexec zenity; do
    case "$depends" in *"$needed"*) ;; *) fail "Depends lacks $needed: $depends" ;; esac
done

dpkg -i "$deb" >"$work/dpkg.log" 2>&1 || { cat "$work/dpkg.log"; fail "dpkg -i"; }
dpkg -L pelorin2 >"$work/files"
grep -qx "Exec=pkexec $program/Pelorin2 %f" /usr/share/applications/pelorin2.desktop ||
    fail "desktop entry: $(grep Exec= /usr/share/applications/pelorin2.desktop)"
grep -q "exec.path\">$program/Pelorin2<" /usr/share/polkit-1/actions/jp.example.pelorin2.policy ||
    fail "polkit action does not name the installed launcher"
for folder in "$root/SYSTEM/UPDATE" "$root/LAN/UPDATE"; do
    [ -d "$folder" ] || fail "no $folder"
done

# A sample installation: a database in the program folder, Access named by the registry.
mkdir -p "$work/xdg/pelorin2" "$work/home" "$work/run" "$work/access"
chmod 700 "$work/run"
printf 'sample\n' >"$program/sales.mdb"
cat >"$work/access/MSACCESS.EXE" <<EOS
#!/bin/sh
printf '%s\n' "\$@" >"$work/record.tmp" && mv "$work/record.tmp" "$work/record"
EOS
chmod 755 "$work/access/MSACCESS.EXE"
cat >"$work/xdg/pelorin2/registry.reg" <<EOS
Windows Registry Editor Version 5.00

[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet]

[HKEY_CLASSES_ROOT\\Access.Application.10\\shell\\open\\command]
@="\\"$work/access/MSACCESS.EXE\\" /NOSTARTUP \\"%1\\""
EOS
env -i PATH=/usr/bin:/bin HOME="$work/home" XDG_CONFIG_DIRS="$work/xdg" \
    XDG_CONFIG_HOME="$work/home/.config" XDG_RUNTIME_DIR="$work/run" \
    "$program/Pelorin2" sales.mdb 2>"$work/stderr" || fail "launcher exit status $?"
[ ! -s "$work/stderr" ] || fail "launcher said: $(cat "$work/stderr")"
# Access is started detached: wait (bounded) for its record.
wait_for_file "$work/record" || fail "Access was not started"
printf '/Runtime\n%s\n/Wrkgrp\n%s\n/User\n' "$program/sales.mdb" "$program/Pelorin2.wgf" >"$work/expected"
head -n 5 "$work/record" | cmp -s - "$work/expected" || fail "Access received: $(cat "$work/record")"

dpkg -r pelorin2 >"$work/dpkg.log" 2>&1 || { cat "$work/dpkg.log"; fail "dpkg -r"; }
case "$(state)" in "" | not-installed) ;; *) fail "dpkg still has pelorin2: $(state)" ;; esac
[ -f "$program/sales.mdb" ] || fail "the user's database went with the package"
while read -r path; do
    case "$path" in /usr/lib/pelorin2 | "$program" | /usr | /usr/lib | /usr/share* | /.) continue ;; esac
    [ ! -e "$path" ] || fail "left behind: $path"
done <"$work/files"
for path in /usr/share/applications/pelorin2.desktop /usr/share/polkit-1/actions/jp.example.pelorin2.policy /usr/share/doc/pelorin2; do
    [ ! -e "$path" ] || fail "left behind: $path"
done
echo "deb: installed, ran, removed"
