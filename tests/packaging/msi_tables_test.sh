#!/bin/sh
# Pelorin2.msi read back table by table (msiinfo), also where Wine cannot install it:
# identity against the launcher's version block, Japanese texts in code page 932, folders,
# shortcut, upgrade order and the refusal without TARGETDB.
# Usage: msi_tables_test.sh WORK_DIR RC_FILE BUILD_MSI_SCRIPT BUILD_MSI_COMMAND...
set -eu
work=$1
rc=$2
script=$3
shift 3

. "$(dirname "$0")/lib.sh"
rm -rf "$work"
mkdir -p "$work"
printf 'launcher\n' >"$work/Pelorin2.exe"
printf 'plan tool\n' >"$work/p2wg.exe"
printf 'workgroup\n' >"$work/Pelorin2.wgf"
# The version block, read here apart from the build's own reading.
version=$(sed -n 's/^FILEVERSION \([0-9]*\),\([0-9]*\),\([0-9]*\),\([0-9]*\).*/\1.\2.\3.\4/p' "$rc")
maker=$(sed -n 's/.*VALUE "CompanyName", "\([^"]*\)".*/\1/p' "$rc")
[ -n "$version" ] && [ -n "$maker" ] || fail "no identity in $rc"
msi=$work/Pelorin2.msi
"$@" -DWORK="$work/msi" -DOUTPUT="$msi" -DVERSION="$version" -DLAUNCHER="$work/Pelorin2.exe" \
    -DPLAN_TOOL="$work/p2wg.exe" -DWORKGROUP="$work/Pelorin2.wgf" -P "$script" >"$work/build.log" 2>&1 ||
    { cat "$work/build.log"; fail "building the package"; }

# Each expected row, tab-separated, must be in its table exactly.
row() {
    table=$1
    shift
    expected=$(printf '%s\t' "$@" | sed 's/\t$//')
    msiinfo export "$msi" "$table" | tr -d '\r' >"$work/$table.idt"
    grep -qxF -- "$expected" "$work/$table.idt" ||
        fail "$table lacks '$expected':$(printf '\n'; cat "$work/$table.idt")"
}
row _ForceCodepage 932 _ForceCodepage
row Property ProductName "ペロリンⅡ"
row Property Manufacturer "$maker"
row Property ProductVersion "$version"
row Property ProductLanguage 1041
row Property ALLUSERS 1
row Directory INSTALLROOT ProgramFilesFolder Pelorin2
row Directory PROGRAMFOLDER INSTALLROOT Pelorin2
row Directory SYSTEMFOLDER INSTALLROOT SYSTEM
row Directory SYSTEMUPDATE SYSTEMFOLDER UPDATE
row Directory LANFOLDER INSTALLROOT LAN
row Directory LANUPDATE LANFOLDER UPDATE
# The plan tool beside the launcher, in the one feature.
row Component PlanTool "{54883DA9-A071-4A63-931F-806399BB2C44}" PROGRAMFOLDER 0 "" p2wg.exe
row FeatureComponents Complete PlanTool
row Shortcut Pelorin2Shortcut ProgramMenuFolder "PELORIN2|ペロリンⅡ" StartMenuShortcut \
    "[#Pelorin2.exe]" '"[TARGETDB]"' "" "" Pelorin2.ico "" "" PROGRAMFOLDER "" "" "" ""
row LaunchCondition "Installed OR TARGETDB" \
    "起動するデータベースのファイル名を TARGETDB に指定してください（例: TARGETDB=sales.mdb）。"
# The new version goes in before the old one is removed.
msiinfo export "$msi" InstallExecuteSequence | tr -d '\r' |
    awk -F'\t' '$1 == "InstallExecute" { e = $3 } $1 == "RemoveExistingProducts" { r = $3 }
                END { exit !(e && r > e) }' || fail "the older version is removed too early"
msiinfo suminfo "$msi" | grep -qx "Template: Intel;1041" || fail "$(msiinfo suminfo "$msi")"
msiinfo suminfo "$msi" | grep -qxF "Author: $maker" || fail "summary's author"
echo "msi tables: as built"
