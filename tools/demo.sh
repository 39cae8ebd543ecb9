#!/usr/bin/env bash
# Installs what the build needs, builds the launcher, lays out a sample installation in a
# temporary folder and runs the launcher on it, showing what each start did.
set -euo pipefail
cd "$(dirname "$0")/.."
src=$(pwd)

bash tools/deps.sh demo

cmake --preset build-demo >/dev/null
cmake --build --preset build-demo -j"$(nproc)" >/dev/null
bin=$src/build-demo/bin

root=$(mktemp -d /tmp/pelorin2-demo.XXXXXX)
prog=$root/Pelorin2
mkdir -p "$prog" "$root/SYSTEM/UPDATE" "$root/LAN/UPDATE" "$root/xdg/pelorin2" \
    "$root/xdg/autostart" "$root/home/.config/autostart" "$root/run" "$root/Office"
cp "$bin/Pelorin2" "$bin/Pelorin2.wgf" "$prog/"
cp "$bin/MSACCESS.EXE" "$root/Office/"

# The stand-in registry: the administrator probe's key and Access 2002's open command.
cat >"$root/xdg/pelorin2/registry.reg" <<REG
Windows Registry Editor Version 5.00

[HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet]

[HKEY_CLASSES_ROOT\\Access.Application.10\\shell\\open\\command]
@="\\"$root/Office/MSACCESS.EXE\\" /NOSTARTUP \\"%1\\""
REG

database() { # path stamp [password]
    sqlite3 "$1" "CREATE TABLE T00_製品情報 (InfoKey TEXT, InfoValue TEXT);
                  INSERT INTO T00_製品情報 VALUES ('Version', '$2');"
    if [ $# -ge 3 ]; then
        sqlite3 "$1" "CREATE TABLE TZs_オプション設定 (id INTEGER PRIMARY KEY, pwd TEXT, note TEXT);
                      INSERT INTO TZs_オプション設定 (pwd, note) VALUES ('$3', 'stamp $2');"
    fi
}
stamp() { "$bin/p2wg" stamp "$1" --program-folder "$prog"; }
option_password() { sqlite3 "$1" "SELECT pwd || ' (' || note || ')' FROM TZs_オプション設定 LIMIT 1;"; }

database "$prog/main.mdb" AB100
touch "$root/xdg/autostart/P2Installation.lnk" "$root/home/.config/autostart/P2Installation.lnk"
# SYSTEM: a newer database, an older one and a newer plain file.
database "$root/SYSTEM/sales.mdb" AB104
database "$root/SYSTEM/UPDATE/sales.mdb" AB105
database "$root/SYSTEM/report.mdb" 12
database "$root/SYSTEM/UPDATE/report.mdb" 11
echo "help, first edition" >"$root/SYSTEM/help.txt"
touch -d '2024-01-01' "$root/SYSTEM/help.txt"
echo "help, second edition" >"$root/SYSTEM/UPDATE/help.txt"
echo "お知らせ、初版" >"$root/SYSTEM/UPDATE/お知らせ.txt"
# LAN: a newer settings database; the user's option password must survive it.
database "$root/LAN/maintenance.sys" 3 "users-own-password"
database "$root/LAN/UPDATE/maintenance.sys" 4 "shipped-default"

# Access is started detached, its output on /dev/null: the stand-in writes what it received
# into this record instead.
export XDG_CONFIG_DIRS=$root/xdg XDG_CONFIG_HOME=$root/home/.config HOME=$root/home \
    XDG_RUNTIME_DIR=$root/run P2_ACCESS_RECORD=$root/access-record.txt

show() {
    echo "  start-up shortcuts: $(cd "$root" && find xdg/autostart home/.config/autostart -type f | tr '\n' ' ')"
    for folder in SYSTEM LAN; do
        for f in "$root/$folder"/* "$root/$folder"/UPDATE/*; do
            [ -f "$f" ] || continue
            name=${f#"$root/"}
            case $f in
                *.mdb) echo "  $name: stamp $(stamp "$f")" ;;
                *.sys) echo "  $name: stamp $(stamp "$f"), option password $(option_password "$f")" ;;
                *) echo "  $name: $(cat "$f") ($(date -r "$f" +%F))" ;;
            esac
        done
    done
}

echo "Sample installation in $root"
echo
echo "== Before the start"
show
echo
echo "== What the next start will do with each delivery (p2wg plan; changes nothing)"
"$bin/p2wg" plan "$root"
echo
echo "== 1. Pelorin2 main.mdb"
"$prog/Pelorin2" main.mdb
sleep 1 # Access is started, not waited for: give its record a moment
# Account and password masked, as in every message of ours.
[ -f "$root/access-record.txt" ] &&
    echo "  Access started with: $(awk 'NR == 6 || NR == 8 { $0 = "********" } { printf "%s ", $0 }' \
        "$root/access-record.txt")"
echo
echo "== After the start"
show
echo
echo "== 2. Pelorin2 no-such.mdb: the target is not a file in the program folder"
"$prog/Pelorin2" no-such.mdb || true
echo
echo "Remove the sample installation with: rm -rf $root"
